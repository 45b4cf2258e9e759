// The photograph of the user's desktop, taken in two halves around the
// library's start.
#pragma once

// Before the library starts: photographs the whole root window on a
// connection of its own and keeps the picture. Stops the program with a
// message when there is no display or the root window cannot be read.
void capture_desktop();

// Once the graphics mode and desktop_bmp exist: converts the kept picture
// into desktop_bmp at the screen's depth, shows it, and drops the picture.
void finish_desktop_capture();
