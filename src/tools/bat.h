// The bat, tool 0: hangs at the pointer, a click swings it, and the end of
// every swing cracks the glass where the pointer is.
#pragma once

#include <allegro.h>

// The bat's frame loop; returns when the user leaves the tool, with
// current_tool holding what comes next.
void run_bat();

// Bat frame `frame` of bat_image with its top-left corner at (x, y) on
// dest; mask-coloured pixels are skipped.
void draw_bat_frame(BITMAP *dest, int x, int y, int frame);
