// The lady: a little creature that walks across the picture on her own and
// eats a trail into it, with her munching following her across the stereo
// field.
#pragma once

// Tool 3. Runs until Escape or a number key; the munching stops on the way out.
void run_lady();

// Her walking frames of lady_frames, 0, 1, 2, 1, ended by -1, and the index
// of the one shown. The index lives for the whole run; leaving the tool
// keeps it.
extern const int lady_sequence[];
extern int lady_step;

// The munching's pan for her corner at x: pan_at((int)x), clamped to the
// library's 0 to 255.
int lady_pan(float x);
