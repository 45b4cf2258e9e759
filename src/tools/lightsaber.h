// The lightsaber, tool 1: follows the pointer; held down, the blade ignites,
// burns a trail of holes along the pointer's path, sprays green sparks and
// hums, panned by the pointer.
#pragma once

#include <allegro.h>

// The lightsaber's frame loop; returns when the user leaves the tool, with
// current_tool holding what comes next.
void run_saber();

// Saber cell `frame` of saber_image with its top-left corner at (x, y) on
// dest; mask-coloured pixels are skipped.
void draw_saber_frame(BITMAP *dest, int x, int y, int frame);

// Line-walk callback: one burn mark centred on (x, y), always into
// desktop_bmp whatever bitmap the walk hands over; d is unused.
void stamp_saber_hole(BITMAP *bmp, int x, int y, int d);
