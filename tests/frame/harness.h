// Frame-level driving of havoc's real loops.
//
// The test process starts the library with a real full-screen mode and the
// real sound driver. Its keyboard and mouse are scripted drivers, installed
// through the library's own driver lists in place of the X ones, so keys go
// down and the pointer moves as the script says, and the library moves the
// pointer too (position_mouse). No timer is installed: tick_count is a plain
// variable that a script sets before every frame. Frames are counted at each
// show step through frame_hook.
#pragma once

#include "palette/palette.h"
#include "shell/assets.h"
#include "shell/scene.h"

#include <functional>
#include <initializer_list>
#include <string>
#include <vector>

// What the person does before one frame runs.
struct Input {
    int ticks;                 // tick_count during the frame
    int x, y;                  // where the hand puts the pointer
    int buttons;               // mouse_b (LEFT_BUTTON: left button down)
    std::vector<int> keys;     // scancodes held down, e.g. {KEY_ESC}
};
using Script = std::vector<Input>;

// `hold(n, from)`: n frames of the same input with ticks counting up by one
// from `from.ticks`.
Script hold(int frames, Input from);
// Concatenation of scripts.
Script operator+(Script a, const Script &b);

// Runs `loop` with script[0] applied before its first frame and script[i]
// applied right after the show step of frame i - 1. The mouse driver moves
// the pointer only when a row names another place than the row before, as
// a hand at rest sends no motion: a pointer the library moved stays where it
// put it until the hand moves. A row stays in force until the next show step: a row with Escape that makes a loop return
// without showing is also what the next loop's first frame sees. `after_show(i)` is
// called after frame i's show step, before the next input is applied, so it
// sees exactly what frame i produced. Once the script is used up Escape is
// held and ticks go on counting, so every loop ends. Returns the number of
// frames shown.
int drive(const std::function<void()> &loop, const Script &script,
          const std::function<void(int frame)> &after_show = {});

// Puts the pointer at (x, y) with `buttons` down, through the mouse driver.
void point_at(int x, int y, int buttons = 0);

// Holds exactly these keys down, through the keyboard driver.
void hold_keys(const std::vector<int> &keys);

// A fresh scene: desktop_bmp holds the test picture, back_buffer and the
// screen are cleared, no keys, pointer at the centre with no button, tick 0,
// step_deadline 0, every step index 0, current_tool none, every voice
// stopped. rand is reseeded with 1, as at program start.
void reset_scene();

// The test picture: smooth colour gradients, so any change shows.
int test_picture_rgb(int x, int y);

// Pixel of a bitmap as 0xRRGGBB through getr/getg/getb (any depth).
int rgb_at(BITMAP *bmp, int x, int y);

// A new bitmap with the same pixels; the caller destroys it.
BITMAP *copy_of(BITMAP *bmp);

// A rectangle of pixels; EVERYWHERE is the whole of any bitmap.
struct Area {
    int x, y, w, h;
};
const Area EVERYWHERE = {0, 0, 1 << 20, 1 << 20};

// Calls seen(x, y, got, want) with the 0xRRGGBB colours of every pixel of
// `area` (clipped to both bitmaps) in which two bitmaps of one depth differ.
void each_difference(BITMAP *got, BITMAP *want, Area area,
                     const std::function<void(int x, int y, int got, int want)> &seen);

// How many pixels of `area` differ.
int differing_pixels(BITMAP *got, BITMAP *want, Area area = EVERYWHERE);

// The first few pixels of `area` that differ, as "(x,y) got/want", and how
// many do; empty when none do.
std::string differences(BITMAP *got, BITMAP *want, Area area = EVERYWHERE);

// The voices now playing `sound`, with their pans.
struct Voice {
    int voice;
    int pan;
};
std::vector<Voice> voices_playing(SAMPLE *sound);

// Ends every voice of `sound` as if it had played to its end.
void finish_voices(SAMPLE *sound);

// The palette's strip on the whole test screen, for the loaded icons.
PaletteGeometry palette_on_screen();
// The centre of a slot's icon there.
int palette_slot_x(int slot);
int palette_slot_y();

// A palette visit that ends in a complete click on `slot`: one fade pass,
// then (at PALETTE_FADE_TICKS, fade over) the pointer on the icon, press,
// release.
// The palette returns on the release without showing it, so the release
// row is also what the chosen tool's first frame sees.
Script palette_click(int slot);

// Starts the library the way havoc does, with the scripted keyboard and
// mouse and without a timer: the desktop's size and depth, desktop_bmp and
// back_buffer, the mouse, sound and the real data file. False, having said
// why on stderr, if any of it fails; no sound device is a failure only when
// `sound_required`.
bool start_scene(bool sound_required);
// Undoes start_scene.
void end_scene();

// Whether `voice` is set to loop until stopped. The library keeps this only
// in its physical voice, so it is read there.
bool voice_loops(int voice);
