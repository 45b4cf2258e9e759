// The shared scene state and the rules every loop follows.
#include "scene.h"

#include "platform/platform.h"

#include <cstdlib>

BITMAP *desktop_bmp = nullptr;
BITMAP *back_buffer = nullptr;
std::atomic<int32_t> tick_count{0};
int current_tool = NO_TOOL;
int step_deadline = 0;

std::atomic<int> stop_signal{0};

void (*frame_hook)() = nullptr;

std::vector<ScreenArea> monitors;
int desktop_pointer_x = 0, desktop_pointer_y = 0;

// Sounds started here play once.
static const int ONCE = 0;

void tick_handler()
{
    tick_count.fetch_add(1);
}
END_OF_FUNCTION(tick_handler)

// How far (x, y) lies outside an area, as the larger of the two overshoots.
static int distance_outside(const ScreenArea &a, int x, int y)
{
    int dx = x < a.x ? a.x - x : x >= a.x + a.w ? x - (a.x + a.w - 1) : 0;
    int dy = y < a.y ? a.y - y : y >= a.y + a.h ? y - (a.y + a.h - 1) : 0;
    return dx > dy ? dx : dy;
}

ScreenArea monitor_at(int x, int y)
{
    if (monitors.empty())
        return {0, 0, SCREEN_W, SCREEN_H};
    const ScreenArea *nearest = &monitors[0];
    for (const ScreenArea &m : monitors)
        if (distance_outside(m, x, y) < distance_outside(*nearest, x, y))
            nearest = &m;
    return *nearest;
}

int tool_from_keys()
{
    static const int digit_keys[TOOL_COUNT] = {KEY_1, KEY_2, KEY_3, KEY_4};
    for (int tool = 0; tool < TOOL_COUNT; ++tool)
        if (key[digit_keys[tool]])
            return tool;
    return NO_TOOL;
}

int pan_at(int x)
{
    return PAN_SPAN * x / back_buffer->w + PAN_LEFT;
}

int mouse_pan()
{
    return pan_at(mouse_x);
}

int play_at_mouse(SAMPLE *sound)
{
    return play_sample(sound, FULL_VOLUME, mouse_pan(), OWN_PITCH, ONCE);
}

int rand_range(int lo, int hi)
{
    return std::rand() % (hi - lo + 1) + lo;
}

bool escape_or_stop()
{
    pump_input();
    return key[KEY_ESC] || stop_signal.load();
}

void copy_background()
{
    blit(desktop_bmp, back_buffer, 0, 0, 0, 0, SCREEN_W, SCREEN_H);
    // Input that came while the picture was copied still makes this frame.
    pump_input();
}

void begin_frame()
{
    copy_background();
    if (mouse_needs_poll())
        poll_mouse();
}

void show_frame()
{
    show_area(0, 0, SCREEN_W, SCREEN_H);
}

void show_area(int x, int y, int w, int h)
{
    blit(back_buffer, screen, x, y, x, y, w, h);
    present_frame();
    if (frame_hook)
        frame_hook();
}

bool switch_tool_by_key()
{
    int chosen = tool_from_keys();
    if (chosen < 0 || chosen == current_tool)
        return false;
    current_tool = chosen;
    return true;
}

StepResult take_step(const int *sequence, int *step, int period)
{
    int now = tick_count.load();
    if (now <= step_deadline)
        return STEP_NOT_DUE;
    if (sequence[*step + 1] == -1)
        return STEP_AT_END;
    ++*step;
    step_deadline = now + period;
    return STEP_TAKEN;
}
