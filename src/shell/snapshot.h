// The photograph of the user's desktop, taken in two halves around the
// library's start.
#pragma once

// Before the library starts: photographs the whole root window on a
// connection of its own and keeps the picture; in a Wayland session, whose
// X root shows nothing, asks the desktop portal for the picture instead.
// Stops the program with a message when there is no display or no picture.
void capture_desktop();

// Once the graphics mode and desktop_bmp exist: converts the kept picture
// into desktop_bmp at the screen's depth, shows it, and drops the picture.
// In a Wayland session it first asks the compositor once more to keep the
// window full screen.
void finish_desktop_capture();

// After the library starts, before the graphics mode is set: the library's
// graphics driver whose screen covers the whole desktop and gets the
// keyboard. On an X desktop that is the full-screen driver; in a Wayland
// session it is a window the compositor makes full screen and focuses.
int full_screen_driver();
