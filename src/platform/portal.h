// The desktop portal, for the X11 platform file alone. In a Wayland session
// havoc is a client of XWayland, whose root window shows nothing, so there
// the compositor's picture of the desktop comes through the portal.
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
