// The compositor's own screen copy, for the X11 platform file alone. sway
// and the other wlroots compositors hand a picture of their outputs to any
// client that asks; grim asks, and writes the picture to a pipe, so it
// never touches the disk.
#pragma once

#include <cstdint>
#include <vector>

// True when the Wayland compositor can be reached and offers its screen
// copy to clients.
bool compositor_copies_screen();

// The whole desktop through grim, kept as w x h 0xRRGGBB pixels, the X
// screen's size. Stops the program with a message when grim is missing or
// gives no picture.
void take_compositor_screenshot(int w, int h, std::vector<uint32_t> *rgb);
