// Sparks: the glowing bits the lightsaber and the laser spray from the
// pointer. A pool lives for one stay in a tool. Every spark flies straight on
// at its own speed, falls a little faster every frame, and is drawn into
// back_buffer only. The tools differ only in how a spark is born and how one
// that left the screen is sent out again.
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

// A tool's rule for sending a spark that left the screen out again.
using SendAgain = void (*)(Spark *spark);

// Each live spark in turn is drawn as a disc where it is, moves, and is
// pulled down one pixel a frame more. One that is now off the screen (beyond
// the lines x = SCREEN_W and y = SCREEN_H, not on them) goes to send_again at
// once; with none given, it flies on and its disc is clipped.
void move_and_draw_sparks(SparkPool *pool, int radius, int colour, SendAgain send_again);

// The next slot of the pool, now live; null once MAX_SPARKS are.
Spark *add_spark(SparkPool *pool);

// The live spark with the highest index dies.
void let_one_die(SparkPool *pool);
