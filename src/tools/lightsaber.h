// The lightsaber, tool 1: follows the pointer; held down, the blade ignites,
// burns a trail of holes along the pointer's path, sprays green sparks and
// hums, panned by the pointer.
#pragma once

// The lightsaber's frame loop; returns when the user leaves the tool, with
// current_tool holding what comes next.
void run_saber();

// The blade's cells of saber_image, 0 (off), 1 to 3 (igniting), 4 (fully
// out), ended by -1, and the index of the one shown. The index lives for the
// whole run: the lightsaber sets it back to 0 while the button is up, and
// leaving the tool keeps it.
extern const int saber_sequence[];
extern int saber_step;
