// The bat, tool 0: hangs at the pointer, a click swings it, and the end of
// every swing cracks the glass where the pointer is.
#pragma once

// The bat's frame loop; returns when the user leaves the tool, with
// current_tool holding what comes next.
void run_bat();

// A swing's frames of bat_image, 0, 1, 2, 1, 3, 4, ended by -1, and the
// index of the one shown. The index lives for the whole run: the bat sets it
// back to 0 at rest, and leaving the tool keeps it.
extern const int bat_sequence[];
extern int bat_step;
