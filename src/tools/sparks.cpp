// The spark pool shared by the lightsaber and the laser.
#include "tools/sparks.h"

#include "shell/scene.h"

// Added to every spark's downward speed each frame.
static const int SPARK_FALL = 1;

// A speed of 0 drawn again comes from this range.
static const int STILL_RETRY_MIN = -5, STILL_RETRY_MAX = 4;

static bool off_screen(const Spark &s)
{
    return s.x < 0 || s.x > SCREEN_W || s.y < 0 || s.y > SCREEN_H;
}

static void unstick(int *speed, StillSpeed still)
{
    if (*speed != 0)
        return;
    *speed = still == NUDGED_TO_ONE ? 1 : rand_range(STILL_RETRY_MIN, STILL_RETRY_MAX);
}

// The order of the draws fixes where every spark of the run goes.
static void send_out(Spark *s, const SprayRule &rule)
{
    s->x = mouse_x + rand_range(rule.near, rule.far);
    s->y = mouse_y + rand_range(rule.near, rule.far);
    s->vx = rand_range(rule.vx_min, rule.vx_max);
    s->vy = rand_range(rule.vy_min, rule.vy_max);
    unstick(&s->vx, rule.still);
    unstick(&s->vy, rule.still);
}

void move_and_draw_sparks(SparkPool *pool, int radius, int colour, const SprayRule *send_again)
{
    for (int i = 0; i < pool->count; ++i) {
        Spark &s = pool->sparks[i];
        circlefill(back_buffer, s.x, s.y, radius, colour);
        s.x += s.vx;
        s.y += s.vy;
        s.vy += SPARK_FALL;
        if (send_again && off_screen(s))
            send_out(&s, *send_again);
    }
}

void spray_sparks(SparkPool *pool, const SprayRule &rule, int count)
{
    for (int made = 0; made < count && pool->count < MAX_SPARKS; ++made)
        send_out(&pool->sparks[pool->count++], rule);
}

void let_one_die(SparkPool *pool)
{
    if (pool->count > 0)
        --pool->count;
}
