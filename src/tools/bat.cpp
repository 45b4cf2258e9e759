// The bat: a click swings it through its frames, and at the end of the swing
// the glass breaks with a sound and a crack, turned at random, lands in the
// picture under the pointer for good.
#include "tools/bat.h"

#include "shell/art_geometry.h"
#include "shell/assets.h"
#include "shell/scene.h"

#include <cstdlib>

const int bat_sequence[] = {0, 1, 2, 1, 3, 4, -1};
int bat_step = 0;

// Ticks each frame of a swing stays up (a step comes every BAT_PERIOD + 1).
static const int BAT_PERIOD = 5;

// Crack angles run 0 to CRACK_ANGLES - 1 of the library's 256-unit turn.
static const int CRACK_ANGLES = 255;

enum SwingState {
    IDLE,       // at rest, waiting for the button
    SWINGING,   // walking bat_sequence
    STRUCK,     // the glass broke in the previous frame
};

// Bat frame `frame` with its top-left corner at (x, y) on dest; mask-coloured
// pixels are skipped.
static void draw_bat_frame(BITMAP *dest, int x, int y, int frame)
{
    draw_rle_sprite(dest, bat_frames[frame], x, y);
}

// The end of a swing: the glass sounds, then the crack goes into the picture
// itself. This frame's copy of the picture is already taken, so the crack
// shows from the next frame on.
static void strike()
{
    play_at_mouse(glass_sound);
    // rotate_sprite places the unturned crack by its top-left corner.
    fixed angle = itofix(std::rand() % CRACK_ANGLES);
    rotate_sprite(desktop_bmp, crack_image, mouse_x - CRACK_CENTRE, mouse_y - CRACK_CENTRE, angle);
}

void run_bat()
{
    int swing_state = IDLE;
    for (;;) {
        // Escape comes before any drawing, so the screen keeps the last frame.
        if (escape_or_stop()) { current_tool = NO_TOOL; return; }
        begin_frame();                       // fresh copy of the picture, mouse polled

        // The button is looked at only at rest: a swing, once started, runs
        // to its strike whatever the button does.
        if ((mouse_b & LEFT_BUTTON) && swing_state == IDLE)
            swing_state = SWINGING;

        if (swing_state == SWINGING) {
            // One step per BAT_PERIOD ticks; the step after the last frame strikes.
            if (take_step(bat_sequence, &bat_step, BAT_PERIOD) == STEP_AT_END) {
                strike();
                swing_state = STRUCK;
            }
        } else {
            // At rest, and for exactly one frame after every strike, so a held
            // button swings again only after the rest frame has shown.
            bat_step = 0;
            swing_state = IDLE;
        }

        // The bat, held by its grip at the pointer.
        draw_bat_frame(back_buffer, mouse_x - BAT_GRIP_X, mouse_y - BAT_GRIP_Y, bat_sequence[bat_step]);
        show_frame();
        if (switch_tool_by_key()) return;   // another tool's number key
    }
}
