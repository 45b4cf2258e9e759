// The snapshot's Wayland half, for snapshot.cpp alone. In a Wayland session
// havoc is a client of XWayland, whose root window shows nothing and whose
// override-redirect windows never get the keyboard, so there the desktop is
// photographed through the desktop portal and the screen is a window the
// compositor itself makes full screen.
#pragma once

#include <cstdint>
#include <vector>

// True when the desktop is a Wayland session.
bool wayland_session();

// Asks the desktop portal for a picture of the whole desktop without any
// dialog of its own (the desktop may ask the user once for permission),
// keeps it as w x h 0xRRGGBB pixels, the X screen's size, and deletes the
// file the portal wrote. Stops the program with a message when there is no
// portal or no picture.
void take_portal_screenshot(int w, int h, std::vector<uint32_t> *rgb);

// After the library starts, before the graphics mode is set: marks the
// library's managed window full screen, so the compositor shows it over
// everything and gives it the keyboard as soon as it is mapped.
void mark_window_full_screen();

// Once the window is mapped: asks the compositor to keep it full screen, the
// way a mapped window asks. A compositor that was still busy when the window
// was marked has overwritten the mark when it mapped the window.
void ask_compositor_for_full_screen();
