// The shared scene state and the rules every loop follows.
#include "scene.h"

#include "platform/platform.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

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

// Whether row y of back_buffer, from x on for w pixels, differs from what
// the screen holds there.
static bool row_changed(int y, int x, int w)
{
    int bytes_per_pixel = (bitmap_color_depth(screen) + 7) / 8;
    const void *shown = reinterpret_cast<const void *>(bmp_read_line(screen, y) + x * bytes_per_pixel);
    const void *drawn = reinterpret_cast<const void *>(bmp_read_line(back_buffer, y) + x * bytes_per_pixel);
    bool changed = std::memcmp(shown, drawn, (size_t)w * bytes_per_pixel) != 0;
    bmp_unwrite_line(screen);
    bmp_unwrite_line(back_buffer);
    return changed;
}

// Only the band from the first to the last row that changed since the last
// show goes to the screen. Most passes move a pointer-sized image: the
// display then takes in a few rows instead of the whole picture, and the
// frame is on it sooner. Rows are compared only from each end inwards, so a
// pass that changed rows far apart costs no more than copying them all.
void show_area(int x, int y, int w, int h)
{
    // Rows are read here, so the area is kept on the screen first, as blit
    // keeps it.
    int left = std::max(x, 0), right = std::min(x + w, SCREEN_W);
    int top = std::max(y, 0), bottom = std::min(y + h, SCREEN_H);
    if (left >= right)
        top = bottom;
    x = left;
    w = right - left;
    while (top < bottom && !row_changed(top, x, w))
        ++top;
    while (bottom > top && !row_changed(bottom - 1, x, w))
        --bottom;
    if (top < bottom)
        blit(back_buffer, screen, x, top, x, top, w, bottom - top);
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
