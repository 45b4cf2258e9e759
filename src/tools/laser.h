// The laser tool: a gun that follows the pointer and burns holes where it
// is fired.
#pragma once

#include <allegro.h>

// Runs the laser's frame loop until Escape (current_tool becomes -1) or the
// number key of another tool (current_tool becomes that tool).
void run_laser();

// Draws gun frame `frame` (0 to 3) of laser_image into `dest`, masked, with
// its top-left corner at (x, y).
void draw_laser_frame(BITMAP *dest, int x, int y, int frame);
