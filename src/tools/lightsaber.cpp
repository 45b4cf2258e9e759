// The lightsaber's frame loop. The saber picture follows the pointer; while
// the left button is held the blade ignites in four quick steps and then
// burns an unbroken trail of holes into the picture along the pointer's
// path, green sparks spray from the pointer and fall, and a hum plays,
// re-panned as the pointer moves. Releasing puts the blade out at once and
// lets the sparks die away; the hum always plays to its end.
#include "tools/lightsaber.h"

#include "shell/assets.h"
#include "shell/scene.h"

#include <cstdlib>

// The cell pixel that sits on the pointer; the trail is burned through it.
static const int SABER_HOT_X = 168;
static const int SABER_HOT_Y = 172;
// Ignition steps come at most every SABER_PERIOD + 1 ticks.
static const int SABER_PERIOD = 1;
// The step that lights cell 1: it only marks where the trail begins.
static const int FIRST_LIT_STEP = 1;

// The burn mark is stamped with its centre on the trail.
static const int HOLE_CENTRE_X = 14;
static const int HOLE_CENTRE_Y = 12;

static const int LEFT_BUTTON = 1;
// last_x / last_y when no burn point is held.
static const int NO_POINT = -1;

// The hum: full volume, the sample's own pitch, played once per start.
static const int NO_VOICE = -1;
static const int HUM_VOLUME = 255;
static const int HUM_PITCH = 1000;
static const int HUM_ONCE = 0;
// Sideways moves of up to this many pixels since the last burn point leave
// the hum alone; any vertical move counts.
static const int HUM_SIDEWAYS_SLACK = 5;

// Sparks. The pool has room for 100, but at most MAX_SPARKS are ever live.
static const int SPARK_ROOM = 100;
static const int MAX_SPARKS = 50;
static const int SPARK_RADIUS = 2;
static const int SPARK_GREEN = 156;   // makecol(0, SPARK_GREEN, 0)
static const int SPARK_FALL = 1;      // added to the downward speed each frame
// Positions and speeds are spread over -10 to +9 pixels by r(20) - 10; a
// new spark's second try at a speed is r(10) - 5.
static const int SPARK_SPREAD = 20;
static const int SPARK_NUDGE = 10;

// What one stay in the tool remembers; dropped when run_saber returns.
struct SaberStay {
    bool blade_on = false;        // the left button is down in this frame
    int last_x = NO_POINT;        // previous burn point
    int last_y = NO_POINT;
    int hum_voice = NO_VOICE;     // voice of the last hum started
    int spark_count = 0;          // sparks 0 to spark_count - 1 are live
    int spark_x[SPARK_ROOM];      // positions, screen pixels
    int spark_y[SPARK_ROOM];
    int spark_vx[SPARK_ROOM];     // speeds, pixels per frame
    int spark_vy[SPARK_ROOM];
};

// Cell 0 is the saber switched off, 1 to 3 the blade igniting, 4 the blade
// fully out.
void draw_saber_frame(BITMAP *dest, int x, int y, int frame)
{
    draw_rle_sprite(dest, saber_cells[frame], x, y);
}

void stamp_saber_hole(BITMAP *, int x, int y, int)
{
    draw_rle_sprite(desktop_bmp, saber_hole_sprite, x - HOLE_CENTRE_X, y - HOLE_CENTRE_Y);
}

static void start_hum(SaberStay *stay)
{
    stay->hum_voice = play_sample(lightsaber_sound, HUM_VOLUME, mouse_pan(), HUM_PITCH, HUM_ONCE);
}

// Marks along a line overlap almost wholly: of a run of marks each a step
// (dx, dy) on from the one before, the mark after them leaves only a thin
// trailing edge to see. So the line walk gathers such runs and draws each in
// one piece from saber_trail_runs, and the line's last mark whole: the very
// pixels of a whole mark on every point in turn, for a fraction of the
// drawing. The walk hands over one point at a time, so this is its state.
static int run_x, run_y;          // the run's first mark
static int run_dx, run_dy;        // the step between its marks
static int run_marks;             // how many it has; 0 for no run
static bool have_newest;
static int newest_x, newest_y;    // the latest point, its mark not yet drawn

static void draw_run()
{
    if (run_marks == 0)
        return;
    int span = run_marks - 1;
    draw_rle_sprite(desktop_bmp, saber_trail_runs[run_dy + 1][run_dx + 1][span],
                    run_x - HOLE_CENTRE_X - (run_dx < 0 ? span : 0),
                    run_y - HOLE_CENTRE_Y - (run_dy < 0 ? span : 0));
    run_marks = 0;
}

// The step to (x, y) decides which run the previous point's mark joins.
static void gather_trail_point(BITMAP *, int x, int y, int)
{
    if (have_newest) {
        int dx = x - newest_x, dy = y - newest_y;
        if (run_marks > 0 && (dx != run_dx || dy != run_dy || run_marks == SABER_TRAIL_RUN))
            draw_run();
        if (run_marks == 0) {
            run_x = newest_x;
            run_y = newest_y;
            run_dx = dx;
            run_dy = dy;
        }
        ++run_marks;
    }
    have_newest = true;
    newest_x = x;
    newest_y = y;
}

// A mark on every pixel of the line from the previous burn point to (x, y),
// both ends included, so the trail has no gaps however fast the pointer
// moves. The marks show from the next frame, as this one's copy is taken.
static void burn_segment(SaberStay *stay, int x, int y)
{
    // Entered with the button down and the blade already lit: the trail
    // starts under the pointer.
    if (stay->last_x == NO_POINT) {
        stay->last_x = x;
        stay->last_y = y;
    }
    have_newest = false;
    do_line(back_buffer, stay->last_x, stay->last_y, x, y, 0, gather_trail_point);
    draw_run();
    stamp_saber_hole(back_buffer, newest_x, newest_y, 0);
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
    if (stay->spark_count > 0)
        --stay->spark_count;
    if (stay->hum_voice != NO_VOICE && voice_get_position(stay->hum_voice) < 0)
        stay->hum_voice = NO_VOICE;
}

static int random_below(int n)
{
    return std::rand() % n;
}

static int spread()
{
    return random_below(SPARK_SPREAD) - SPARK_SPREAD / 2;
}

// The lines x = SCREEN_W and y = SCREEN_H still count as on the screen.
static bool off_screen(int x, int y)
{
    return x < 0 || x > SCREEN_W || y < 0 || y > SCREEN_H;
}

// A spark that left the screen is sent out again from the pointer, always
// moving on both axes.
static void respray(SaberStay *stay, int i)
{
    stay->spark_x[i] = mouse_x + spread();
    stay->spark_y[i] = mouse_y + spread();
    stay->spark_vx[i] = spread();
    stay->spark_vy[i] = spread();
    if (stay->spark_vx[i] == 0)
        stay->spark_vx[i] = 1;
    if (stay->spark_vy[i] == 0)
        stay->spark_vy[i] = 1;
}

// Each live spark is drawn where it is, then flies and falls. While the
// blade is on, one that left the screen is resprayed; after release it
// flies on, clipped, until the pool has shrunk past it.
static void move_sparks(SaberStay *stay)
{
    int green = makecol(0, SPARK_GREEN, 0);
    for (int i = 0; i < stay->spark_count; ++i) {
        circlefill(back_buffer, stay->spark_x[i], stay->spark_y[i], SPARK_RADIUS, green);
        stay->spark_x[i] += stay->spark_vx[i];
        stay->spark_y[i] += stay->spark_vy[i];
        stay->spark_vy[i] += SPARK_FALL;
        if (stay->blade_on && off_screen(stay->spark_x[i], stay->spark_y[i]))
            respray(stay, i);
    }
}

// A new spark near the pointer; it is first drawn in the next frame. A
// still speed gets one smaller second try, which may give 0 again.
static void add_spark(SaberStay *stay)
{
    int i = stay->spark_count++;
    stay->spark_x[i] = mouse_x + spread();
    stay->spark_y[i] = mouse_y + spread();
    stay->spark_vx[i] = spread();
    stay->spark_vy[i] = spread();
    if (stay->spark_vx[i] == 0)
        stay->spark_vx[i] = random_below(SPARK_NUDGE) - SPARK_NUDGE / 2;
    if (stay->spark_vy[i] == 0)
        stay->spark_vy[i] = random_below(SPARK_NUDGE) - SPARK_NUDGE / 2;
}

void run_saber()
{
    SaberStay stay;
    for (;;) {
        // Escape: back to the palette; the screen keeps the last frame.
        if (key[KEY_ESC]) { current_tool = NO_TOOL; return; }
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
        // Sparks fly and fall; a held blade sprays one more, up to MAX_SPARKS.
        move_sparks(&stay);
        if (stay.blade_on && stay.spark_count < MAX_SPARKS)
            add_spark(&stay);
        // The saber over everything, its hot spot on the pointer.
        draw_saber_frame(back_buffer, mouse_x - SABER_HOT_X, mouse_y - SABER_HOT_Y,
                         saber_sequence[saber_step]);
        show_frame();
        if (switch_tool_by_key()) return;
    }
}
