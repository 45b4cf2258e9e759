// The rules every loop shares, and the outer loop's hand-over between the
// palette and the tools.
#include "frame/harness.h"

#include "shell/outer_loop.h"
#include "tools/lady.h"

#include <gtest/gtest.h>

namespace {

struct KeysCase {
    std::vector<int> held;
    int tool;
};

TEST(NumberKeys, LowestDigitWinsAndOnlyMainKeyboardDigitsCount)
{
    const KeysCase cases[] = {
        {{}, NO_TOOL},
        {{KEY_1}, TOOL_BAT},
        {{KEY_2}, TOOL_SABER},
        {{KEY_3}, TOOL_LASER},
        {{KEY_4}, TOOL_LADY},
        {{KEY_4, KEY_2}, TOOL_SABER},
        {{KEY_1, KEY_3}, TOOL_BAT},
        {{KEY_5}, NO_TOOL},
        {{KEY_1_PAD, KEY_2_PAD, KEY_3_PAD, KEY_4_PAD}, NO_TOOL},
        {{KEY_ESC, KEY_A}, NO_TOOL},
    };
    for (const KeysCase &c : cases) {
        reset_scene();
        hold_keys(c.held);
        EXPECT_EQ(tool_from_keys(), c.tool) << "first held key " << (c.held.empty() ? 0 : c.held[0]);
    }
    reset_scene();
}

TEST(MousePan, RunsFromThreeAtTheLeftToAtMost252AtTheRight)
{
    ASSERT_EQ(back_buffer->w, 1024);
    const int cases[][2] = {{0, 3}, {1, 3}, {5, 4}, {512, 128}, {1023, 252}};
    for (const auto &c : cases) {
        point_at(c[0], 300);
        EXPECT_EQ(mouse_pan(), c[1]) << "mouse_x " << c[0];
    }
}

struct MonitorAtCase {
    const char *what;
    std::vector<ScreenArea> monitors;
    int x, y;
    int left, top, w, h;
};

TEST(MonitorAt, TheMonitorHoldingThePointElseTheNearestElseTheWholeScreen)
{
    ASSERT_EQ(SCREEN_W, 1024);
    ASSERT_EQ(SCREEN_H, 768);
    const std::vector<ScreenArea> side_by_side = {{0, 0, 640, 480}, {640, 0, 384, 768}};
    const std::vector<ScreenArea> mirrored = {{0, 0, 1024, 768}, {0, 0, 800, 600}};
    const MonitorAtCase cases[] = {
        {"no monitors known", {}, 700, 700, 0, 0, 1024, 768},
        {"on the first", side_by_side, 639, 479, 0, 0, 640, 480},
        {"first column of the second", side_by_side, 640, 0, 640, 0, 384, 768},
        {"below the first, nearer the second", side_by_side, 600, 767, 640, 0, 384, 768},
        {"below the first, nearer to it", side_by_side, 10, 500, 0, 0, 640, 480},
        {"on two mirrored monitors: the first listed", mirrored, 10, 10, 0, 0, 1024, 768},
    };
    for (const MonitorAtCase &c : cases) {
        monitors = c.monitors;
        ScreenArea m = monitor_at(c.x, c.y);
        EXPECT_EQ(m.x, c.left) << c.what;
        EXPECT_EQ(m.y, c.top) << c.what;
        EXPECT_EQ(m.w, c.w) << c.what;
        EXPECT_EQ(m.h, c.h) << c.what;
    }
    monitors.clear();
}

TEST(Stepping, StepsOnlyOnceTicksPassTheDeadlineAndStopsOnTheLastFrame)
{
    reset_scene();
    int step = 0;
    step_deadline = 10;
    tick_count.store(10);
    EXPECT_EQ(take_step(lady_sequence, &step, 5), STEP_NOT_DUE);
    EXPECT_EQ(step, 0);
    tick_count.store(11);
    EXPECT_EQ(take_step(lady_sequence, &step, 5), STEP_TAKEN);
    EXPECT_EQ(step, 1);
    EXPECT_EQ(step_deadline, 16);
    tick_count.store(16);
    EXPECT_EQ(take_step(lady_sequence, &step, 5), STEP_NOT_DUE);
    step = 3;  // lady_sequence[4] is the end
    tick_count.store(17);
    EXPECT_EQ(take_step(lady_sequence, &step, 5), STEP_AT_END);
    EXPECT_EQ(step, 3);
    EXPECT_EQ(step_deadline, 16);
}

// The outer loop, driven through the real palette and tools. Until a test
// needs their own behaviour, only the keys and Escape matter here.
struct SwitchCase {
    const char *what;
    Script script;
    size_t on_sounds, off_sounds;
};

}  // namespace

namespace {

Script frames(int n, int ticks, int x, std::vector<int> keys = {})
{
    return hold(n, Input{ticks, x, 300, 0, keys});
}

TEST(OuterLoop, LightsaberSwitchSoundsDependOnHowItWasReached)
{
    const int LEFT = 100, RIGHT = 900;
    const SwitchCase cases[] = {
        {"palette, saber, Escape",
         palette_click(TOOL_SABER) + frames(3, 200, LEFT) + frames(1, 200, LEFT, {KEY_ESC}), 0, 0},
        {"palette, saber, key 3, Escape",
         palette_click(TOOL_SABER) + frames(3, 200, LEFT) + frames(3, 200, LEFT, {KEY_3}), 0, 0},
        {"bat, key 2, Escape",
         palette_click(TOOL_BAT) + frames(3, 200, LEFT) + frames(3, 200, LEFT, {KEY_2}) +
             frames(3, 200, RIGHT) + frames(1, 200, RIGHT, {KEY_ESC}), 1, 1},
        {"bat, key 2, key 3, Escape",
         palette_click(TOOL_BAT) + frames(3, 200, LEFT) + frames(3, 200, LEFT, {KEY_2}) +
             frames(3, 200, RIGHT) + frames(3, 200, RIGHT, {KEY_3}), 1, 1},
    };
    for (const SwitchCase &c : cases) {
        reset_scene();
        drive(run_outer_loop, c.script);
        std::vector<Voice> on = voices_playing(saber_on_sound), off = voices_playing(saber_off_sound);
        EXPECT_EQ(on.size(), c.on_sounds) << c.what;
        EXPECT_EQ(off.size(), c.off_sounds) << c.what;
        // Each plays at the mouse of its moment: on while at the left, off at the right.
        if (!on.empty()) {
            EXPECT_EQ(on[0].pan, 250 * LEFT / 1024 + 3) << c.what;
        }
        if (!off.empty()) {
            EXPECT_EQ(off[0].pan, 250 * RIGHT / 1024 + 3) << c.what;
        }
    }
}

TEST(OuterLoop, StepDeadlineIsClearedByThePaletteButKeptAcrossANumberKey)
{
    reset_scene();
    const int LEFT_BY_LASER = 55;
    Script script = palette_click(TOOL_LASER) + frames(2, 20, 500) +
                    frames(2, 20, 500, {KEY_4}) + frames(2, 20, 500);
    const int first_laser_frame = 3, first_lady_frame = 7;
    int seen_in_laser = -1, seen_in_lady = -1;
    step_deadline = 999;
    drive(run_outer_loop, script, [&](int frame) {
        if (frame == first_laser_frame) {
            seen_in_laser = step_deadline;
            step_deadline = LEFT_BY_LASER;  // as if the laser had just stepped
        }
        if (frame == first_lady_frame)
            seen_in_lady = step_deadline;
    });
    EXPECT_EQ(seen_in_laser, 0);
    EXPECT_EQ(seen_in_lady, LEFT_BY_LASER);
}

}  // namespace
