// The state every loop of havoc shares, and the few rules they all follow:
// the frame skeleton, the animation stepping rule, the number-key switch and
// the stereo pan taken from the mouse.
#pragma once

#include <allegro.h>
#include <atomic>
#include <cstdint>
#include <vector>

// Tool indices as they appear in current_tool and as the palette returns them.
enum {
    NO_TOOL = -1,
    TOOL_BAT = 0,
    TOOL_SABER = 1,
    TOOL_LASER = 2,
    TOOL_LADY = 3,
    TOOL_COUNT = 4,
};

// The bit of mouse_b that is the left button, the only one any loop reads.
const int LEFT_BUTTON = 1;

// Every sound but the lady's munching plays at full volume and the sample's
// own pitch.
const int FULL_VOLUME = 255;
const int OWN_PITCH = 1000;

// The library pans from 0 (full left) to 255 (full right); a position across
// the screen pans over PAN_SPAN of that, from PAN_LEFT at the left edge.
const int PAN_SPAN = 250;
const int PAN_LEFT = 3;

// The desktop photograph being destroyed (screen size and depth). Tools draw
// lasting damage into it; nothing ever restores it. Created by the shell.
extern BITMAP *desktop_bmp;

// Composition buffer (screen size): each frame starts as a copy of
// desktop_bmp, gets the overlays, and is copied whole to the screen.
extern BITMAP *back_buffer;

// The time base of every animation: one tick every TICK_MS milliseconds.
const int TICK_MS = 10;

// Ticks so far. tick_handler adds 1 on the library's timer thread; the
// palette stores 0 when it opens. Atomic so the reset is never lost.
extern std::atomic<int32_t> tick_count;

// -1 none, 0 bat, 1 lightsaber, 2 laser, 3 lady. Set by the outer loop from
// the palette, and by a tool loop just before it returns.
extern int current_tool;

// The active tool takes its next animation step only once tick_count is
// strictly above this. Shared by all tools; the outer loop sets it to 0 each
// time the palette hands over a tool, a number-key switch keeps it.
extern int step_deadline;

// A rectangle of the screen, in screen pixels.
struct ScreenArea {
    int x, y, w, h;
};

// The desktop's monitors as areas of the screen. Written once by the desktop
// snapshot before the library starts; empty where the platform cannot tell,
// and the whole screen then counts as one monitor.
extern std::vector<ScreenArea> monitors;

// Where the user left the pointer before havoc started, in screen pixels.
// Written by the desktop snapshot. Start-up puts the library's pointer in
// the middle of the monitor that holds it.
extern int desktop_pointer_x, desktop_pointer_y;

// The monitor that holds screen point (x, y); where none does (a corner of
// the screen that no monitor shows), the nearest; without monitors, the
// whole screen.
ScreenArea monitor_at(int x, int y);

// The stop signal that has arrived (INT, TERM, QUIT or HUP), 0 while none
// has. Written only by the platform's signal handler, on whatever thread the
// signal lands; every loop, the palette's fade included, leaves as soon as it
// sees it, so havoc ends through its normal shutdown.
extern std::atomic<int> stop_signal;

// Test seam: called right after every show step (show_frame or show_area).
// Null in the shipped program.
extern void (*frame_hook)();

// Timer callback, every TICK_MS: one more tick.
void tick_handler();

// Digit keys 1 to 4 of the main keyboard, in that order, give tools 0 to 3;
// -1 when none is down. Reports key state, so a held key counts every call.
int tool_from_keys();

// The pan of a sound at x across the screen: 250 * x / width of back_buffer
// + 3, from 3 at the left edge to at most 252 at the right.
int pan_at(int x);

// pan_at the pointer.
int mouse_pan();

// Starts a sample once at full volume, its own pitch, panned by the mouse;
// the voice, or -1 when none was free.
int play_at_mouse(SAMPLE *sound);

// A fresh draw of rand from lo to hi, both included: rand() % (hi - lo + 1)
// + lo. rand is never seeded, so every run draws the same series.
int rand_range(int lo, int hi);

// Frame skeleton, step 1, the first thing every pass does, in every loop:
// whatever the hand did before the pass began is taken into mouse_x,
// mouse_y, mouse_b and key[] (the platform hands it to the library now, not
// when the library's own thread comes round to it), so this very test and
// the rest of the pass read it. Then: Escape is down, or a stop signal has
// come, and the loop must leave.
bool escape_or_stop();

// Frame skeleton, step 2: a fresh copy of the picture into back_buffer.
// Input that came while it was copied is taken in as in step 1, so the
// tool's work reads the hand as late as it can.
void copy_background();

// Step 2 and 3 together: the copy, then a mouse poll where the driver needs one.
void begin_frame();

// Step 5: back_buffer onto the screen, whole, and on to the display at once.
void show_frame();

// Step 5 for a part of the screen: that rectangle of back_buffer onto the
// same place of the screen (the palette's fade-in).
void show_area(int x, int y, int w, int h);

// Step 6: a number key of another tool makes it current. True when the loop
// must return.
bool switch_tool_by_key();

// The animation stepping rule, for the tool whose table and index are given.
// Each tool keeps its own table of frame numbers of its strip, ended by -1,
// and its own index into it, which lives for the whole run.
enum StepResult {
    STEP_NOT_DUE,   // tick_count is not yet above step_deadline
    STEP_TAKEN,     // index advanced, deadline moved period ticks ahead
    STEP_AT_END,    // the table stands on its last frame; deadline untouched
};
StepResult take_step(const int *sequence, int *step, int period);
