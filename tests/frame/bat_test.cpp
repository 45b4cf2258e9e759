// The bat, driven frame by frame: the swing's timing, the strike's sound and
// crack, and leaving the tool.
#include "frame/harness.h"

#include "shell/art_geometry.h"
#include "tools/bat.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>

namespace {

// The crack is centred on the pointer and, turned, reaches at most this far
// from it.
const int CRACK_REACH = 90;

// Where the timing cases hold the pointer: off centre, so a pan of 128
// would be wrong.
const int AT_X = 300;
const int AT_Y = 400;

// Which bat frame `shown` holds at the pointer (mx, my), drawn over
// `picture`: the whole neighbourhood of the pointer, the crack's reach
// included, must be exactly that picture with that frame on it. -1 when no
// frame fits.
int bat_frame_in(BITMAP *shown, BITMAP *picture, int mx, int my)
{
    int left = std::max(0, mx - BAT_GRIP_X), right = std::min(shown->w, mx + CRACK_REACH);
    int top = std::max(0, my - CRACK_REACH), bottom = std::min(shown->h, my + CRACK_REACH);
    BITMAP *expected = create_bitmap(right - left, bottom - top);
    int found = -1;
    for (int frame = 0; frame < BAT_FRAMES && found < 0; ++frame) {
        blit(picture, expected, left, top, 0, 0, expected->w, expected->h);
        masked_blit(bat_image, expected, frame * BAT_FRAME_W, 0, mx - BAT_GRIP_X - left,
                    my - BAT_GRIP_Y - top, BAT_FRAME_W, BAT_FRAME_H);
        bool same = true;
        for (int y = 0; y < expected->h && same; ++y)
            for (int x = 0; x < expected->w && same; ++x)
                same = rgb_at(expected, x, y) == rgb_at(shown, left + x, top + y);
        if (same)
            found = frame;
    }
    destroy_bitmap(expected);
    return found;
}

struct Point {
    int x, y;
};

// The pristine picture with a crack stamped at each point in turn, turned by
// the run's first angles as an unseeded rand gives them.
BITMAP *picture_with_cracks(BITMAP *pristine, const std::vector<Point> &at)
{
    BITMAP *picture = copy_of(pristine);
    std::srand(1);
    for (const Point &p : at)
        rotate_sprite(picture, crack_image, p.x - CRACK_CENTRE, p.y - CRACK_CENTRE,
                      itofix(std::rand() % 255));
    return picture;
}

// What a person sees, frame by frame, written down only when it changes:
// "tick:frame" when the bat shows another frame (? when the screen is not the
// picture of the frame's start with one bat frame on it), "tick:crash" for
// every glass sound started in a frame.
struct Timeline {
    std::string text;
    BITMAP *picture_at_start;
    int last_frame = -2;

    explicit Timeline(BITMAP *start) : picture_at_start(copy_of(start)) {}
    ~Timeline() { destroy_bitmap(picture_at_start); }

    void observe()
    {
        std::string tick = std::to_string(tick_count.load());
        int frame = bat_frame_in(back_buffer, picture_at_start, mouse_x, mouse_y);
        if (frame != last_frame)
            add(tick + ":" + (frame < 0 ? "?" : std::to_string(frame)));
        last_frame = frame;
        for (size_t i = 0; i < voices_playing(glass_sound).size(); ++i)
            add(tick + ":crash");
        finish_voices(glass_sound);
        blit(desktop_bmp, picture_at_start, 0, 0, 0, 0, SCREEN_W, SCREEN_H);
    }

    void add(const std::string &event) { text += (text.empty() ? "" : " ") + event; }
};

// `frames` frames at the pointer's spot, from tick `from`, with the button
// up or down.
Script frames_at(int from, int frames, int buttons)
{
    return hold(frames, Input{from, AT_X, AT_Y, buttons, {}});
}

Script three_frames_per_tick(const Script &script)
{
    Script slow;
    for (const Input &row : script)
        slow.insert(slow.end(), 3, row);
    return slow;
}

class Bat : public testing::Test {
protected:
    BITMAP *pristine = nullptr;

    void SetUp() override
    {
        fresh();
        pristine = copy_of(desktop_bmp);
    }
    void TearDown() override { destroy_bitmap(pristine); }

    // The scene as the palette hands over the bat; the picture is always the
    // same, so pristine stays valid.
    void fresh()
    {
        reset_scene();
        current_tool = TOOL_BAT;
    }
};

struct TimingCase {
    const char *what;
    int step_before;       // bat_step kept from an earlier visit
    int deadline_before;   // step_deadline left by the tool before
    Script script;
    const char *seen;
};

TEST_F(Bat, SwingStepsEverySixTicksStrikesAfterFrameFourAndRestsOneFrame)
{
    // A rest of three frames at ticks 7 to 9, then the person's action from tick 10.
    const Script rest = frames_at(7, 3, 0);
    const TimingCase cases[] = {
        {"a click released within the first step", 0, 0,
         rest + frames_at(10, 1, 1) + frames_at(11, 40, 0),
         "7:0 10:1 16:2 22:1 28:3 34:4 40:crash 41:0"},
        {"a click, frames faster than ticks", 0, 0,
         three_frames_per_tick(rest + frames_at(10, 1, 1) + frames_at(11, 40, 0)),
         "7:0 10:1 16:2 22:1 28:3 34:4 40:crash 40:0"},
        {"clicks during the swing change nothing", 0, 0,
         rest + frames_at(10, 1, 1) + frames_at(11, 9, 0) + frames_at(20, 1, 1) +
             frames_at(21, 14, 0) + frames_at(35, 1, 1) + frames_at(36, 10, 0),
         "7:0 10:1 16:2 22:1 28:3 34:4 40:crash 41:0"},
        {"the button held: one rest frame between swings", 0, 0,
         rest + frames_at(10, 70, 1),
         "7:0 10:1 16:2 22:1 28:3 34:4 40:crash 41:0 42:1 48:2 54:1 60:3 66:4 72:crash 73:0 "
         "74:1"},
        {"a deadline left ahead by another tool: no step until ticks pass it", 0, 12,
         rest + frames_at(10, 1, 1) + frames_at(11, 40, 0),
         "7:0 13:1 19:2 25:1 31:3 37:4 43:crash 44:0"},
        {"entered mid-swing with the button down: the swing resumes", 3, 0,
         frames_at(10, 1, 1) + frames_at(11, 20, 0),
         "10:3 16:4 22:crash 23:0"},
        {"entered mid-swing with the button up: the bat rests", 3, 0,
         frames_at(10, 20, 0),
         "10:0"},
    };
    for (const TimingCase &c : cases) {
        SCOPED_TRACE(c.what);
        fresh();
        bat_step = c.step_before;
        step_deadline = c.deadline_before;
        Timeline seen(desktop_bmp);
        drive(run_bat, c.script, [&](int) { seen.observe(); });
        EXPECT_EQ(seen.text, c.seen);
    }
}

TEST_F(Bat, CrackShowsFromTheFrameAfterTheStrikeAndTheGlassPansWithThePointer)
{
    int strike_frame = -1;
    drive(run_bat, frames_at(10, 1, 1) + frames_at(11, 35, 0), [&](int frame) {
        if (strike_frame < 0 && !voices_playing(glass_sound).empty()) {
            strike_frame = frame;
            const std::vector<Voice> glass = voices_playing(glass_sound);
            ASSERT_EQ(glass.size(), 1u);
            EXPECT_EQ(glass[0].pan, 250 * AT_X / 1024 + 3);
            EXPECT_EQ(bat_frame_in(back_buffer, pristine, mouse_x, mouse_y), 4)
                << "the strike's own frame shows the picture without the crack";
        } else if (strike_frame >= 0 && frame == strike_frame + 1) {
            EXPECT_EQ(bat_frame_in(back_buffer, desktop_bmp, mouse_x, mouse_y), 0);
            EXPECT_EQ(bat_frame_in(back_buffer, pristine, mouse_x, mouse_y), -1)
                << "the next frame shows the crack";
        }
    });
    EXPECT_EQ(strike_frame, 30);

    BITMAP *expected = picture_with_cracks(pristine, {{AT_X, AT_Y}});
    EXPECT_EQ(differing_pixels(desktop_bmp, expected), 0);
    EXPECT_GT(differing_pixels(expected, pristine), 0) << "the crack must be visible";
    destroy_bitmap(expected);
}

TEST_F(Bat, HeldButtonCracksOncePerSwingWherePointerIsAtEachStrike)
{
    // The pointer wanders every frame and is at the next of these spots in
    // each strike's frame: the left and right edges among them, for the pan.
    const std::vector<Point> spots = {
        {512, 384}, {0, 300},   {1023, 500}, {100, 100}, {900, 650}, {300, 700},
        {700, 80},  {20, 740},  {1000, 20},  {450, 200}, {600, 600}, {150, 500},
        {850, 300}, {380, 520}, {60, 60},    {960, 380},
    };
    const int first_strike_tick = 40, swing_ticks = 32;
    Script script = frames_at(7, 3, 0);
    for (int tick = 10; tick <= first_strike_tick + swing_ticks * ((int)spots.size() - 1); ++tick) {
        int swing = (tick - first_strike_tick) / swing_ticks;
        bool strikes = tick >= first_strike_tick && (tick - first_strike_tick) % swing_ticks == 0;
        Point at = strikes ? spots[swing] : Point{tick * 37 % 1024, tick * 23 % 768};
        script.push_back({tick, at.x, at.y, 1, {}});
    }

    std::vector<int> strike_ticks, pans;
    drive(run_bat, script, [&](int) {
        for (const Voice &v : voices_playing(glass_sound)) {
            strike_ticks.push_back(tick_count.load());
            pans.push_back(v.pan);
        }
        finish_voices(glass_sound);
    });

    std::vector<int> expected_ticks, expected_pans;
    for (size_t i = 0; i < spots.size(); ++i) {
        expected_ticks.push_back(first_strike_tick + swing_ticks * (int)i);
        expected_pans.push_back(250 * spots[i].x / 1024 + 3);
    }
    EXPECT_EQ(strike_ticks, expected_ticks);
    EXPECT_EQ(pans, expected_pans);
    EXPECT_EQ(pans[1], 3);
    EXPECT_EQ(pans[2], 252);

    // Every crack at its spot, turned by the unseeded series rand() % 255: one
    // of 255 angles, 0 to 254.
    BITMAP *expected = picture_with_cracks(pristine, spots);
    EXPECT_EQ(differing_pixels(desktop_bmp, expected), 0);
    destroy_bitmap(expected);
}

struct LeaveCase {
    const char *what;
    int key;            // held from script row `from` on
    int from;
    int tool_after;
    int frames_shown;
    bool cracked;
    int step_after;
};

TEST_F(Bat, EscapeLeavesBeforeDrawingAndNumberKeysAfterShowingWithoutCrackingMidSwing)
{
    // A click in frame 0 at tick 1: frame 18 takes step 4, frame 30 strikes.
    // A key in row r is pressed just after frame r - 1 shows: a number key is
    // then seen at the end of frame r - 1, Escape at the start of frame r.
    const LeaveCase cases[] = {
        {"Escape held on entry: nothing drawn", KEY_ESC, 0, NO_TOOL, 0, false, 0},
        {"key 2 held on entry: the first frame still runs", KEY_2, 0, TOOL_SABER, 1, false, 1},
        {"Escape mid-swing", KEY_ESC, 20, NO_TOOL, 20, false, 4},
        {"key 2 mid-swing", KEY_2, 20, TOOL_SABER, 20, false, 4},
        {"key 3 mid-swing", KEY_3, 20, TOOL_LASER, 20, false, 4},
        {"key 4 mid-swing", KEY_4, 20, TOOL_LADY, 20, false, 4},
        {"Escape just before the strike", KEY_ESC, 30, NO_TOOL, 30, false, 5},
        {"key 2 just after the strike", KEY_2, 31, TOOL_SABER, 31, true, 5},
        // Only the Escape after the script's last row ends this one.
        {"key 1 held through the swing", KEY_1, 10, NO_TOOL, 41, true, 0},
    };
    for (const LeaveCase &c : cases) {
        SCOPED_TRACE(c.what);
        fresh();
        Script script = hold(41, Input{1, AT_X, AT_Y, 0, {}});
        script[0].buttons = 1;
        for (int frame = c.from; frame < (int)script.size(); ++frame)
            script[frame].keys = {c.key};

        EXPECT_EQ(drive(run_bat, script), c.frames_shown);
        EXPECT_EQ(current_tool, c.tool_after);
        EXPECT_EQ(bat_step, c.step_after);
        EXPECT_EQ(voices_playing(glass_sound).size(), c.cracked ? 1u : 0u);
        BITMAP *expected = picture_with_cracks(pristine, c.cracked ? std::vector<Point>{{AT_X, AT_Y}}
                                                                   : std::vector<Point>{});
        EXPECT_EQ(differing_pixels(desktop_bmp, expected), 0);
        destroy_bitmap(expected);
    }
}

}  // namespace
