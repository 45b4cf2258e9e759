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

// A shot's gun frames of laser_image, 0, 1, 2, 3, ended by -1, and the index
// of the one shown. The index lives for the whole run: the laser sets it back
// to 0 between shots, and leaving the tool keeps it.
extern const int laser_sequence[];
extern int laser_step;
