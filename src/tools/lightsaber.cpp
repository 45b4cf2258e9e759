// The lightsaber's frame loop. The saber picture follows the pointer; while
// the left button is held the blade ignites in four quick steps and then
// burns an unbroken trail of holes into the picture along the pointer's
// path, green sparks spray from the pointer and fall, and a hum plays,
// re-panned as the pointer moves. Releasing puts the blade out at once and
// lets the sparks die away; the hum always plays to its end.
#include "tools/lightsaber.h"

#include "shell/art_geometry.h"
#include "shell/assets.h"
#include "shell/scene.h"
#include "tools/sparks.h"

#include <cstdlib>

const int saber_sequence[] = {0, 1, 2, 3, 4, -1};
int saber_step = 0;

// Ignition steps come at most every SABER_PERIOD + 1 ticks.
static const int SABER_PERIOD = 1;
// The step that lights cell 1: it only marks where the trail begins.
static const int FIRST_LIT_STEP = 1;

// last_x / last_y when no burn point is held.
static const int NO_POINT = -1;

static const int NO_VOICE = -1;
// Sideways moves of up to this many pixels since the last burn point leave
// the hum alone; any vertical move counts.
static const int HUM_SIDEWAYS_SLACK = 5;

// Green discs, makecol(0, SPARK_GREEN, 0), one more a frame while the blade
// is on.
static const int SPARK_RADIUS = 2;
static const int SPARK_GREEN = 156;
static const int NEW_SPARKS_PER_FRAME = 1;

// A spark starts within 10 pixels of the pointer and flies as many pixels a
// frame on each axis. A new one that would stand still on an axis gets one
// second, smaller try, which may give 0 again; one sent out again always
// moves.
//                                      near far   vx        vy        a speed of 0
static const SprayRule NEW_SPARK =     {-10, 9,   -10, 9,   -10, 9,   DRAWN_AGAIN};
static const SprayRule SPARK_AGAIN =   {-10, 9,   -10, 9,   -10, 9,   NUDGED_TO_ONE};

// What one stay in the tool remembers; dropped when run_saber returns.
struct SaberStay {
    int last_x = NO_POINT;        // previous burn point
    int last_y = NO_POINT;
    int hum_voice = NO_VOICE;     // voice of the last hum started
    SparkPool sparks;
};

// Cell 0 is the saber switched off, 1 to 3 the blade igniting, 4 the blade
// fully out.
static void draw_saber_frame(BITMAP *dest, int x, int y, int frame)
{
    draw_rle_sprite(dest, saber_cells[frame], x, y);
}

// The line walk's callback: one burn mark centred on (x, y).
static void stamp_saber_hole(BITMAP *picture, int x, int y, int)
{
    draw_sprite(picture, saber_hole_image, x - SABER_HOLE_CENTRE_X, y - SABER_HOLE_CENTRE_Y);
}

static void start_hum(SaberStay *stay)
{
    stay->hum_voice = play_at_mouse(lightsaber_sound);
}

// A whole mark on every pixel of the line from the previous burn point to
// (x, y), both ends included, so the trail has no gaps however fast the
// pointer moves. The marks show from the next frame, as this one's copy is
// taken.
static void burn_segment(SaberStay *stay, int x, int y)
{
    // Entered with the button down and the blade already lit: the trail
    // starts under the pointer.
    if (stay->last_x == NO_POINT) {
        stay->last_x = x;
        stay->last_y = y;
    }
    do_line(desktop_bmp, stay->last_x, stay->last_y, x, y, 0, stamp_saber_hole);
}

// Blade fully out: a pointer that moved since the previous burn point
// restarts a hum that has ended, or pulls the sounding one to its new pan.
static void follow_with_hum(SaberStay *stay, int x, int y)
{
    bool moved = std::abs(x - stay->last_x) > HUM_SIDEWAYS_SLACK || y != stay->last_y;
    if (!moved)
        return;
    int position = stay->hum_voice == NO_VOICE ? -1 : voice_get_position(stay->hum_voice);
    if (position < 0) {
        start_hum(stay);
        return;
    }
    voice_set_pan(stay->hum_voice, mouse_pan());
    voice_set_position(stay->hum_voice, position);
}

// Button held: the blade takes an ignition step when one is due, burning
// from the second step on; once fully out it burns in every frame.
static void ignite_or_burn(SaberStay *stay)
{
    StepResult step = take_step(saber_sequence, &saber_step, SABER_PERIOD);
    if (step == STEP_NOT_DUE)
        return;
    // One reading of the pointer ends this segment and starts the next, so
    // a move in the middle of the frame cannot open a gap in the trail.
    int x = mouse_x, y = mouse_y;
    if (step == STEP_AT_END) {
        burn_segment(stay, x, y);
        follow_with_hum(stay, x, y);
    } else if (saber_step > FIRST_LIT_STEP) {
        burn_segment(stay, x, y);
    }
    stay->last_x = x;
    stay->last_y = y;
}

// Button up: the trail breaks off, the blade is out, one spark dies, and a
// hum that has ended is forgotten so that the next press starts a new one.
static void put_out(SaberStay *stay)
{
    stay->last_x = stay->last_y = NO_POINT;
    saber_step = 0;
    let_one_die(&stay->sparks);
    if (stay->hum_voice != NO_VOICE && voice_get_position(stay->hum_voice) < 0)
        stay->hum_voice = NO_VOICE;
}

// The live sparks fly and fall; `send_again` brings back those that left
// the screen.
static void move_sparks(SaberStay *stay, const SprayRule *send_again)
{
    move_and_draw_sparks(&stay->sparks, SPARK_RADIUS, makecol(0, SPARK_GREEN, 0), send_again);
}

void run_saber()
{
    SaberStay stay;
    for (;;) {
        // Escape: back to the palette; the screen keeps the last frame.
        if (escape_or_stop()) { current_tool = NO_TOOL; return; }
        begin_frame();                        // fresh copy of the picture, mouse polled
        if (mouse_b & LEFT_BUTTON) {
            // Held: the hum starts unless one is still sounding, and the
            // blade ignites, then burns. Sparks that left the screen come
            // back from the pointer, and one more sprays, up to MAX_SPARKS.
            if (stay.hum_voice == NO_VOICE)
                start_hum(&stay);
            ignite_or_burn(&stay);
            move_sparks(&stay, &SPARK_AGAIN);
            spray_sparks(&stay.sparks, NEW_SPARK, NEW_SPARKS_PER_FRAME);
        } else {
            // Released: the blade goes out at once and the sparks fly on.
            put_out(&stay);
            move_sparks(&stay, nullptr);
        }
        // The saber over everything, the blade's tip on the pointer.
        draw_saber_frame(back_buffer, mouse_x - SABER_TIP_X, mouse_y - SABER_TIP_Y,
                         saber_sequence[saber_step]);
        show_frame();
        if (switch_tool_by_key()) return;
    }
}
