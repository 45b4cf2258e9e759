// The laser: a gun hangs from the pointer. A press fires a shot that jolts
// the pointer, plays the shot sound, runs the gun through its firing frames
// and, when they are used up, burns a turned hole into the picture at the
// pointer. While the button is held during a shot, red sparks spray from the
// pointer and fall.
#include "tools/laser.h"

#include "shell/art_geometry.h"
#include "shell/assets.h"
#include "shell/scene.h"
#include "tools/sparks.h"

const int laser_sequence[] = {0, 1, 2, 3, -1};
int laser_step = 0;

void draw_laser_frame(BITMAP *dest, int x, int y, int frame)
{
    draw_rle_sprite(dest, laser_frames[frame], x, y);
}

// What one stay in the tool keeps. It is dropped when run_laser returns, so
// a shot cut short by leaving the tool never makes its hole.
struct LaserStay {
    bool shot_active = false;    // a shot is in flight
    bool trigger_held = false;   // the button is down and its press has been used
    SparkPool sparks;
};

// A shot knocks the pointer 0 to JOLT_MAX pixels right and down.
static const int JOLT_MAX = 6;

static void fire(LaserStay *stay)
{
    // The vertical jolt is drawn first, then the horizontal one.
    int down = rand_range(0, JOLT_MAX);
    int right = rand_range(0, JOLT_MAX);
    position_mouse(mouse_x + right, mouse_y + down);
    // Panned from where the jolt left the pointer.
    play_at_mouse(laser_sound);
    // laser_step is left alone: a shot fired on entry carries on from the
    // step a previous stay left.
    stay->shot_active = true;
}

// One shot per press: the button has to come up before it fires again.
static void pull_trigger(LaserStay *stay)
{
    if (!(mouse_b & LEFT_BUTTON)) {
        stay->trigger_held = false;
        return;
    }
    if (stay->trigger_held)
        return;
    fire(stay);
    stay->trigger_held = true;
}

// The hole is turned about its centre, which lands on the pointer, by 0 to
// HOLE_MAX_ANGLE units of the library's 256-unit turn.
static const int HOLE_MAX_ANGLE = 254;

static void burn_hole()
{
    rotate_sprite(desktop_bmp, laser_hole_image, mouse_x - LASER_HOLE_CENTRE, mouse_y - LASER_HOLE_CENTRE,
                  itofix(rand_range(0, HOLE_MAX_ANGLE)));
}

// One firing step every LASER_PERIOD ticks.
static const int LASER_PERIOD = 5;

static void advance_shot(LaserStay *stay)
{
    if (!stay->shot_active) {
        // Between shots the gun rests, a held button is re-armed so it fires
        // again next frame, and the sparks die out one a frame.
        laser_step = 0;
        stay->trigger_held = false;
        let_one_die(&stay->sparks);
        return;
    }
    if (take_step(laser_sequence, &laser_step, LASER_PERIOD) == STEP_AT_END) {
        // This frame's copy of the picture is already taken: the hole shows
        // from the next frame on, and the gun shows frame 3 once more.
        burn_hole();
        stay->shot_active = false;
    }
}

// Small red discs, up to NEW_SPARKS_PER_FRAME more a frame while the
// trigger is held.
static const int SPARK_RADIUS = 1;
static const int SPARK_RED = 200, SPARK_GREEN = 16, SPARK_BLUE = 10;
static const int NEW_SPARKS_PER_FRAME = 10;

// A new spark starts in a 40 x 40 square from 10 pixels above and left of
// the pointer, moving either way on each axis. One sent out again starts
// closer and flies mostly to the right, always upwards.
//                                      near far   vx        vy        a speed of 0
static const SprayRule NEW_SPARK =     {-10, 29,  -10, 9,   -10, 9,   DRAWN_AGAIN};
static const SprayRule SPARK_AGAIN =   {-10, 9,   -10, 29,  -20, -1,  NUDGED_TO_ONE};

void run_laser()
{
    LaserStay stay;
    for (;;) {
        if (escape_or_stop()) { current_tool = NO_TOOL; return; }
        begin_frame();               // fresh copy of the picture, mouse polled
        pull_trigger(&stay);         // a press jolts the pointer and fires
        advance_shot(&stay);         // firing frames every LASER_PERIOD ticks, then the hole
        // Live sparks fly and fall, sent out again while the trigger is held;
        // then new ones from the pointer, shown from the next frame.
        move_and_draw_sparks(&stay.sparks, SPARK_RADIUS, makecol(SPARK_RED, SPARK_GREEN, SPARK_BLUE),
                             stay.trigger_held ? &SPARK_AGAIN : nullptr);
        if (stay.trigger_held)
            spray_sparks(&stay.sparks, NEW_SPARK, NEW_SPARKS_PER_FRAME);
        // The gun is the pointer: over everything, hanging right of and below it.
        draw_laser_frame(back_buffer, mouse_x, mouse_y, laser_sequence[laser_step]);
        show_frame();
        if (switch_tool_by_key()) return;
    }
}
