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

// Green discs, makecol(0, SPARK_GREEN, 0).
static const int SPARK_RADIUS = 2;
static const int SPARK_GREEN = 156;
// A spark starts SPARK_NEAR to SPARK_FAR pixels from the pointer on each
// axis and flies as many pixels a frame; a new one that would stand still on
// an axis gets one second, smaller try, which may give 0 again.
static const int SPARK_NEAR = -10, SPARK_FAR = 9;
static const int SPARK_RETRY_MIN = -5, SPARK_RETRY_MAX = 4;

// What one stay in the tool remembers; dropped when run_saber returns.
struct SaberStay {
    bool blade_on = false;        // the left button is down in this frame
    int last_x = NO_POINT;        // previous burn point
    int last_y = NO_POINT;
    int hum_voice = NO_VOICE;     // voice of the last hum started
    SparkPool sparks;
};

// Cell 0 is the saber switched off, 1 to 3 the blade igniting, 4 the blade
// fully out.
void draw_saber_frame(BITMAP *dest, int x, int y, int frame)
{
    draw_rle_sprite(dest, saber_cells[frame], x, y);
}

void stamp_saber_hole(BITMAP *, int x, int y, int)
{
    draw_sprite(desktop_bmp, saber_hole_image, x - SABER_HOLE_CENTRE_X, y - SABER_HOLE_CENTRE_Y);
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
    do_line(back_buffer, stay->last_x, stay->last_y, x, y, 0, stamp_saber_hole);
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

// Button up: the blade is out, one spark dies, and a hum that has ended is
// forgotten so that the next press starts a new one.
static void put_out(SaberStay *stay)
{
    saber_step = 0;
    let_one_die(&stay->sparks);
    if (stay->hum_voice != NO_VOICE && voice_get_position(stay->hum_voice) < 0)
        stay->hum_voice = NO_VOICE;
}

// While the blade is on, a spark that left the screen comes back from the
// pointer, always moving on both axes.
static void send_spark_again(Spark *s)
{
    s->x = mouse_x + rand_range(SPARK_NEAR, SPARK_FAR);
    s->y = mouse_y + rand_range(SPARK_NEAR, SPARK_FAR);
    s->vx = rand_range(SPARK_NEAR, SPARK_FAR);
    s->vy = rand_range(SPARK_NEAR, SPARK_FAR);
    if (s->vx == 0)
        s->vx = 1;
    if (s->vy == 0)
        s->vy = 1;
}

// One new spark near the pointer while there is room; it is first drawn in
// the next frame.
static void spray_spark(SaberStay *stay)
{
    Spark *s = add_spark(&stay->sparks);
    if (!s)
        return;
    s->x = mouse_x + rand_range(SPARK_NEAR, SPARK_FAR);
    s->y = mouse_y + rand_range(SPARK_NEAR, SPARK_FAR);
    s->vx = rand_range(SPARK_NEAR, SPARK_FAR);
    s->vy = rand_range(SPARK_NEAR, SPARK_FAR);
    if (s->vx == 0)
        s->vx = rand_range(SPARK_RETRY_MIN, SPARK_RETRY_MAX);
    if (s->vy == 0)
        s->vy = rand_range(SPARK_RETRY_MIN, SPARK_RETRY_MAX);
}

void run_saber()
{
    SaberStay stay;
    for (;;) {
        // Escape: back to the palette; the screen keeps the last frame.
        if (escape_or_stop()) { current_tool = NO_TOOL; return; }
        begin_frame();                        // fresh copy of the picture, mouse polled
        // The left button holds the blade on; a press starts the hum unless
        // one is still sounding. Released, the trail is broken off.
        stay.blade_on = mouse_b & LEFT_BUTTON;
        if (stay.blade_on) {
            if (stay.hum_voice == NO_VOICE)
                start_hum(&stay);
        } else {
            stay.last_x = stay.last_y = NO_POINT;
        }
        // The blade ignites and burns while held, and goes out at once on release.
        if (stay.blade_on)
            ignite_or_burn(&stay);
        else
            put_out(&stay);
        // Sparks fly and fall; a held blade sends back those that left the
        // screen and sprays one more, up to MAX_SPARKS. Released, they fly on.
        move_and_draw_sparks(&stay.sparks, SPARK_RADIUS, makecol(0, SPARK_GREEN, 0),
                             stay.blade_on ? send_spark_again : nullptr);
        if (stay.blade_on)
            spray_spark(&stay);
        // The saber over everything, the blade's tip on the pointer.
        draw_saber_frame(back_buffer, mouse_x - SABER_TIP_X, mouse_y - SABER_TIP_Y,
                         saber_sequence[saber_step]);
        show_frame();
        if (switch_tool_by_key()) return;
    }
}
