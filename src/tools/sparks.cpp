// The spark pool shared by the lightsaber and the laser.
#include "tools/sparks.h"

#include "shell/scene.h"

// Added to every spark's downward speed each frame.
static const int SPARK_FALL = 1;

static bool off_screen(const Spark &s)
{
    return s.x < 0 || s.x > SCREEN_W || s.y < 0 || s.y > SCREEN_H;
}

void move_and_draw_sparks(SparkPool *pool, int radius, int colour, SendAgain send_again)
{
    for (int i = 0; i < pool->count; ++i) {
        Spark &s = pool->sparks[i];
        circlefill(back_buffer, s.x, s.y, radius, colour);
        s.x += s.vx;
        s.y += s.vy;
        s.vy += SPARK_FALL;
        if (send_again && off_screen(s))
            send_again(&s);
    }
}

Spark *add_spark(SparkPool *pool)
{
    if (pool->count >= MAX_SPARKS)
        return nullptr;
    return &pool->sparks[pool->count++];
}

void let_one_die(SparkPool *pool)
{
    if (pool->count > 0)
        --pool->count;
}
