// Sparks: the glowing bits the lightsaber and the laser spray from the
// pointer. A pool lives for one stay in a tool. Every spark flies straight on
// at its own speed, falls a little faster every frame, and is drawn into
// back_buffer only. The tools differ only in their spray rules: how a spark
// is born, and how one that left the screen is sent out again.
#pragma once

// Room for SPARK_ROOM sparks, of which no more than MAX_SPARKS are ever live.
const int SPARK_ROOM = 100;
const int MAX_SPARKS = 50;

struct Spark {
    int x, y;     // screen pixels
    int vx, vy;   // pixels a frame, y down
};

struct SparkPool {
    int count = 0;             // sparks 0 to count - 1 are live
    Spark sparks[SPARK_ROOM];
};

// What a first speed of 0 on an axis becomes.
enum StillSpeed {
    NUDGED_TO_ONE,   // 1: the spark always moves on that axis
    DRAWN_AGAIN,     // one more draw from -5 to 4, which may give 0 again
};

// Where a spark starts and how fast it flies, as fresh rand_range draws in
// this order: x and y, each near to far pixels from the pointer; the speed
// across, vx_min to vx_max; the speed down, vy_min to vy_max; then, for vx
// and after it vy, a speed of 0 becomes what `still` says.
struct SprayRule {
    int near, far;
    int vx_min, vx_max;
    int vy_min, vy_max;
    StillSpeed still;
};

// Each live spark in turn is drawn as a disc where it is, moves, and is
// pulled down one pixel a frame more. One that is now off the screen (beyond
// the lines x = SCREEN_W and y = SCREEN_H, not on them) is sent out again
// from the pointer at once by `send_again`; with none given, it flies on and
// its disc is clipped.
void move_and_draw_sparks(SparkPool *pool, int radius, int colour, const SprayRule *send_again);

// Up to `count` new sparks from the pointer by `rule`, one after another,
// while fewer than MAX_SPARKS are live. They are first drawn in the next frame.
void spray_sparks(SparkPool *pool, const SprayRule &rule, int count);

// The live spark with the highest index dies.
void let_one_die(SparkPool *pool);
