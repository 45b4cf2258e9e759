// The lady, driven frame by frame. Where she is lives only inside the tool,
// so the tests find her through her bite: after each frame the picture is
// wiped white, and the next frame's black disc gives her corner. Her headings
// come from presses at points that put her on exact strides along an edge.
#include "frame/harness.h"

#include "tools/lady.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <optional>

namespace {

// A frame this many ticks after the one before always takes exactly one
// step: the deadline is never more than 5 ticks ahead.
const int STEP_TICKS = 6;
const int BITE_RADIUS = 13;
const int MOUTH = 13;        // the bite's centre, right of and below her corner
const int AWAY_X = 900, AWAY_Y = 700;   // the pointer, out of her way
const int WIPED = 0xffffff;

// Presses at these points from the corner give exact strides of 4 pixels.
const int ALONG_TOP_X = 1000, ALONG_TOP_Y = 0;
const int DOWN_LEFT_EDGE_X = 0, DOWN_LEFT_EDGE_Y = 400;

// Seed 23 gives (526, 414) as the first random point: near the middle, so
// from every edge she needs more than one stride to get back in.
const unsigned MIDDLE_SEED = 23;
// Seed 429080 gives (0, 0): her own corner at entry.
const unsigned CORNER_SEED = 429080;

struct Point {
    int x, y;
    bool operator==(const Point &o) const { return x == o.x && y == o.y; }
};

std::ostream &operator<<(std::ostream &out, const Point &p)
{
    return out << "(" << p.x << ", " << p.y << ")";
}

// A visit as a person plays it. The first frame comes at tick 0, before any
// step is due, so a press there aims her from the corner; each later frame
// comes STEP_TICKS after the one before, so frame k shows her after step k.
struct Walk {
    Script script;

    static Walk pressing_at(int x, int y)
    {
        Walk w;
        w.script.push_back({0, x, y, 1, {}});
        return w;
    }
    static Walk untouched()
    {
        Walk w;
        w.script.push_back({0, AWAY_X, AWAY_Y, 0, {}});
        return w;
    }
    Walk &steps(int n, int x = AWAY_X, int y = AWAY_Y, int buttons = 0)
    {
        for (int i = 0; i < n; ++i)
            script.push_back({script.back().ticks + STEP_TICKS, x, y, buttons, {}});
        return *this;
    }
    // One step, then a press at (x, y) in the same frame.
    Walk &press(int x, int y) { return steps(1, x, y, 1); }
};

// What the test sees after one frame.
struct Seen {
    int shown;                    // the frame of her strip: lady_sequence[lady_step]
    int random_aims;              // random points she drew during the frame
    std::optional<Point> corner;  // from this frame's bite, if any of it is on the screen
    std::vector<Voice> munching;
    bool munching_loops;          // the first voice of the munching, if any
};

// Where the one black disc in the picture is, as her corner. A disc clipped
// at the left or top still has its right and bottom rims.
std::optional<Point> bite_corner()
{
    int left = SCREEN_W, right = -1, top = SCREEN_H, bottom = -1;
    for (int y = 0; y < SCREEN_H; ++y)
        for (int x = 0; x < SCREEN_W; ++x)
            if (rgb_at(desktop_bmp, x, y) == 0) {
                left = std::min(left, x);
                right = std::max(right, x);
                top = std::min(top, y);
                bottom = std::max(bottom, y);
            }
    if (right < 0)
        return std::nullopt;
    int cx = left > 0 ? left + BITE_RADIUS : right - BITE_RADIUS;
    int cy = top > 0 ? top + BITE_RADIUS : bottom - BITE_RADIUS;
    return Point{cx - MOUTH, cy - MOUTH};
}

void wipe_picture()
{
    clear_to_color(desktop_bmp, makecol(255, 255, 255));
}

// How many numbers were drawn from rand since it was last seeded with
// `seed`; seeds it again, so every random point is the seed's first.
int draws_since_seeding(unsigned seed)
{
    const int LONGEST = 16;
    int next = std::rand();
    std::srand(seed);
    int drawn = -1;
    for (int n = 0; n < LONGEST && drawn < 0; ++n)
        if (std::rand() == next)
            drawn = n;
    std::srand(seed);
    EXPECT_GE(drawn, 0) << "rand drawn more than " << LONGEST << " times in a frame";
    return drawn;
}

// Runs one visit of the lady on a fresh scene with rand seeded by `seed`.
// With `find_bites` the picture starts white and is wiped after every frame,
// so each frame's bite is the only one.
std::vector<Seen> watch(const Walk &walk, unsigned seed, bool find_bites)
{
    reset_scene();
    current_tool = TOOL_LADY;
    if (find_bites)
        wipe_picture();
    std::srand(seed);
    std::vector<Seen> seen;
    drive(run_lady, walk.script, [&](int) {
        std::vector<Voice> munching = voices_playing(mampf_sound);
        Seen s{lady_sequence[lady_step], draws_since_seeding(seed) / 2, std::nullopt, munching,
               !munching.empty() && voice_loops(munching[0].voice)};
        if (find_bites) {
            s.corner = bite_corner();
            wipe_picture();
        }
        seen.push_back(s);
    });
    return seen;
}

// The random point a seed's first two draws give, x first.
Point first_random_point(unsigned seed)
{
    std::srand(seed);
    int x = std::rand() % SCREEN_W;
    int y = std::rand() % SCREEN_H;
    return {x, y};
}

TEST(Lady, StartsInTheCornerMunchingAndStridesFourPixelsTowardARandomPoint)
{
    ASSERT_EQ(SCREEN_W, 1024);
    ASSERT_EQ(SCREEN_H, 768);
    Point aim = first_random_point(1);
    std::vector<Seen> seen = watch(Walk::untouched().steps(1), 1, true);
    ASSERT_EQ(seen.size(), 2u);

    EXPECT_EQ(seen[0].corner, (Point{0, 0}));
    EXPECT_EQ(seen[0].random_aims, 1);
    ASSERT_EQ(seen[0].munching.size(), 1u);
    EXPECT_EQ(seen[0].munching[0].pan, 3);
    EXPECT_TRUE(seen[0].munching_loops);

    double length = std::hypot(aim.x, aim.y);
    Point stride{(int)std::floor(4 * aim.x / length), (int)std::floor(4 * aim.y / length)};
    EXPECT_EQ(seen[1].corner, stride) << "aimed at " << aim;
    EXPECT_EQ(seen[1].random_aims, 0);
}

TEST(Lady, ShowsFrames121AboutSixTicksApartAndFrameZeroForOnePassStridingAtEachStep)
{
    // One frame per tick from tick 1.
    Walk walk;
    walk.script = hold(44, Input{1, AWAY_X, AWAY_Y, 0, {}});
    std::vector<Seen> seen = watch(walk, 1, true);
    ASSERT_EQ(seen.size(), 44u);

    std::vector<std::pair<int, int>> runs;  // (frame of her strip, passes shown)
    for (const Seen &s : seen)
        if (!runs.empty() && runs.back().first == s.shown)
            ++runs.back().second;
        else
            runs.push_back({s.shown, 1});
    const std::vector<std::pair<int, int>> expected = {
        {1, 6}, {2, 6}, {1, 6}, {0, 1}, {1, 6}, {2, 6}, {1, 6}, {0, 1}, {1, 6}};
    EXPECT_EQ(runs, expected);

    // She strides in exactly the passes that step, the one back to frame 0 included.
    int shown_before = 0;
    Point corner_before{0, 0};
    for (size_t i = 0; i < seen.size(); ++i) {
        ASSERT_TRUE(seen[i].corner) << "frame " << i;
        EXPECT_EQ(!(*seen[i].corner == corner_before), seen[i].shown != shown_before) << "frame " << i;
        shown_before = seen[i].shown;
        corner_before = *seen[i].corner;
    }
}

struct HeadingCase {
    const char *heading;
    int press_x, press_y;
    float stride_x, stride_y;
    int angle;
};

TEST(Lady, IsDrawnTurnedToHerHeadingOnHerStepsFrameWithThePointerOverHer)
{
    const int BOX = 48;
    const int POINTER_X = 10, POINTER_Y = 12;   // over her
    const int STEPS = 4;
    const int frame_after_step[STEPS + 1] = {0, 1, 2, 1, 0};
    const float DIAGONAL = 4 / std::sqrt(2.0f);
    const HeadingCase cases[] = {
        {"along +x", ALONG_TOP_X, ALONG_TOP_Y, 4, 0, 0},
        {"along +y", DOWN_LEFT_EDGE_X, DOWN_LEFT_EDGE_Y, 0, 4, 64},
        {"diagonal", 400, 400, DIAGONAL, DIAGONAL, 32},
    };
    BITMAP *expected = create_bitmap(BOX, BOX);
    for (const HeadingCase &c : cases) {
        reset_scene();
        wipe_picture();
        current_tool = TOOL_LADY;
        // The button stays down while the pointer moves onto her: no new aim.
        Walk walk = Walk::pressing_at(c.press_x, c.press_y).steps(STEPS, POINTER_X, POINTER_Y, 1);
        drive(run_lady, walk.script, [&](int step) {
            wipe_picture();
            if (step == 0)
                return;
            clear_to_color(expected, makecol(255, 255, 255));
            rotate_sprite(expected, lady_frames[frame_after_step[step]], (int)(c.stride_x * step),
                          (int)(c.stride_y * step), itofix(c.angle));
            draw_sprite(expected, pointer_image, POINTER_X, POINTER_Y);
            EXPECT_EQ(differences(back_buffer, expected, {0, 0, BOX, BOX}), "")
                << c.heading << " after step " << step;
        });
    }
    destroy_bitmap(expected);
}

struct EdgeCase {
    const char *edge;
    Walk walk;
    std::vector<int> frames_with_random_aims;
};

TEST(Lady, TurnsAtTheLeftAndTopOnCrossingAndAtTheRightAndBottomOnceOutOfSight)
{
    // Frame 0 is the aim at entry. Outside, every stride brings a new random
    // heading, so from each edge she takes two before she is back in.
    const EdgeCase cases[] = {
        // x = 4k: 1024 at step 256 is still on the edge, 1028 is beyond.
        {"right", Walk::pressing_at(ALONG_TOP_X, ALONG_TOP_Y).steps(300), {0, 257, 258}},
        // y = 4k: 768 at step 192 is still on the edge.
        {"bottom", Walk::pressing_at(DOWN_LEFT_EDGE_X, DOWN_LEFT_EDGE_Y).steps(230), {0, 193, 194}},
        // Back from 44 at step 11: 0 at step 22 is on the edge, -4 beyond.
        {"left", Walk::pressing_at(ALONG_TOP_X, ALONG_TOP_Y).steps(10).press(0, 0).steps(30),
         {0, 23, 24}},
        {"top", Walk::pressing_at(DOWN_LEFT_EDGE_X, DOWN_LEFT_EDGE_Y).steps(10).press(0, 0).steps(30),
         {0, 23, 24}},
    };
    for (const EdgeCase &c : cases) {
        std::vector<Seen> seen = watch(c.walk, MIDDLE_SEED, false);
        std::vector<int> aimed;
        for (size_t i = 0; i < seen.size(); ++i) {
            EXPECT_LE(seen[i].random_aims, 1) << c.edge << " frame " << i;
            if (seen[i].random_aims > 0)
                aimed.push_back(i);
        }
        EXPECT_EQ(aimed, c.frames_with_random_aims) << c.edge;
    }
}

TEST(Lady, AClickInTheFrameOfAnEdgeTurnWins)
{
    // She goes back along the top and crosses the left edge at step 23; a
    // press in that frame sends her along the top again instead of toward
    // the random point.
    Walk walk = Walk::pressing_at(ALONG_TOP_X, ALONG_TOP_Y).steps(10).press(0, 0).steps(11);
    walk.press(96, 0).steps(10);
    std::vector<Seen> seen = watch(walk, MIDDLE_SEED, true);
    ASSERT_EQ(seen.size(), 34u);
    EXPECT_EQ(seen[23].random_aims, 1);
    EXPECT_EQ(seen[23].corner, (Point{-4, 0}));
    EXPECT_EQ(seen[33].corner, (Point{36, 0}));
}

TEST(Lady, APressAimsHerOnceAndOnlyANewPressAimsAgain)
{
    // Down the left edge with the button held while the pointer wanders off,
    // released, then pressed level with her: along y = 48 from there.
    Walk walk = Walk::pressing_at(DOWN_LEFT_EDGE_X, DOWN_LEFT_EDGE_Y).steps(10, 800, 100, 1);
    walk.steps(1).press(400, 48).steps(8);
    std::vector<Seen> seen = watch(walk, MIDDLE_SEED, true);
    ASSERT_EQ(seen.size(), 21u);
    EXPECT_EQ(seen[10].corner, (Point{0, 40}));
    EXPECT_EQ(seen[12].corner, (Point{0, 48}));
    EXPECT_EQ(seen[20].corner, (Point{32, 48}));
}

struct StandStillCase {
    const char *what;
    unsigned seed;
    Walk walk;
    Point corner_at_end;
};

TEST(Lady, AimingAtHerOwnCornerKeepsHerWalking)
{
    // With no line to follow she keeps her heading; at entry that is along the top.
    const StandStillCase cases[] = {
        {"random point on the corner at entry", CORNER_SEED, Walk::untouched().steps(5), {20, 0}},
        {"press on her corner", MIDDLE_SEED,
         Walk::pressing_at(ALONG_TOP_X, ALONG_TOP_Y).steps(10).press(44, 0).steps(5), {64, 0}},
    };
    ASSERT_EQ(first_random_point(CORNER_SEED), (Point{0, 0}));
    for (const StandStillCase &c : cases) {
        std::vector<Seen> seen = watch(c.walk, c.seed, true);
        ASSERT_FALSE(seen.empty()) << c.what;
        EXPECT_EQ(seen.back().corner, c.corner_at_end) << c.what;
    }
}

struct TrailPoint {
    int x, y;
    bool eaten;
};

TEST(Lady, LeavesATrailOfDiscsThatStaysAfterSheLeaves)
{
    // Along the top for 20 steps: bites centred at (13 + 4k, 13), k = 0 to 20.
    reset_scene();
    current_tool = TOOL_LADY;
    drive(run_lady, Walk::pressing_at(ALONG_TOP_X, ALONG_TOP_Y).steps(20).script);
    const TrailPoint points[] = {
        {0, 13, true},    {13, 0, true},    {13, 26, true},  {13, 27, false},
        {53, 26, true},   {53, 27, false},  {93, 26, true},  {106, 13, true},
        {107, 13, false}, {60, 40, false},
    };
    for (const TrailPoint &p : points)
        EXPECT_EQ(rgb_at(desktop_bmp, p.x, p.y) == 0, p.eaten) << "(" << p.x << ", " << p.y << ")";
}

TEST(Lady, PanIsHerCornerAcrossTheScreenKeptWithinTheLibrarysScale)
{
    ASSERT_EQ(SCREEN_W, 1024);
    const std::pair<float, int> cases[] = {
        {-20.0f, 0}, {-12.9f, 1}, {-0.5f, 3},  {0.0f, 3},      {511.9f, 127},
        {512.0f, 128}, {1023.9f, 252}, {1024.0f, 253}, {1100.0f, 255}, {5000.0f, 255},
    };
    for (const auto &c : cases)
        EXPECT_EQ(lady_pan(c.first), c.second) << "x " << c.first;
}

TEST(Lady, MunchingFollowsHerAcrossTheScreen)
{
    std::vector<Seen> seen =
        watch(Walk::pressing_at(ALONG_TOP_X, ALONG_TOP_Y).steps(260), MIDDLE_SEED, false);
    const std::pair<int, int> pan_at_frame[] = {{0, 3}, {1, 3}, {128, 128}, {255, 252}, {256, 253}};
    for (const auto &c : pan_at_frame) {
        const Seen &s = seen.at(c.first);
        ASSERT_EQ(s.munching.size(), 1u) << "frame " << c.first;
        EXPECT_EQ(s.munching[0].pan, c.second) << "frame " << c.first;
        EXPECT_TRUE(s.munching_loops) << "frame " << c.first;
    }
}

struct LeaveCase {
    int key;
    int frames_shown;
    int tool_after;
};

TEST(Lady, EscapeAndNumberKeysStopTheMunchingAtOnce)
{
    // Three frames, then the key held for three more. Her own key 4 changes
    // nothing: she goes on until the script's closing Escape.
    const LeaveCase cases[] = {
        {KEY_ESC, 3, NO_TOOL}, {KEY_1, 3, TOOL_BAT}, {KEY_2, 3, TOOL_SABER},
        {KEY_3, 3, TOOL_LASER}, {KEY_4, 6, NO_TOOL},
    };
    for (const LeaveCase &c : cases) {
        reset_scene();
        current_tool = TOOL_LADY;
        Script script = hold(3, Input{1, AWAY_X, AWAY_Y, 0, {}}) + hold(3, Input{4, AWAY_X, AWAY_Y, 0, {c.key}});
        size_t least_munching = 1;
        int shown = drive(run_lady, script, [&](int) {
            least_munching = std::min(least_munching, voices_playing(mampf_sound).size());
        });
        EXPECT_EQ(shown, c.frames_shown) << "key " << c.key;
        EXPECT_EQ(current_tool, c.tool_after) << "key " << c.key;
        EXPECT_EQ(least_munching, 1u) << "key " << c.key;
        EXPECT_TRUE(voices_playing(mampf_sound).empty()) << "key " << c.key;
    }
}

TEST(Lady, ComingBackPutsHerInTheCornerMunchingAgainOnTheSameStep)
{
    reset_scene();
    current_tool = TOOL_LADY;
    drive(run_lady, Walk::pressing_at(ALONG_TOP_X, ALONG_TOP_Y).steps(22).script);
    int step_left = lady_step;
    ASSERT_NE(step_left, 0);

    wipe_picture();
    std::optional<Point> corner;
    std::vector<Voice> munching;
    int step_seen = -1;
    drive(run_lady, {{tick_count.load(), AWAY_X, AWAY_Y, 0, {}}}, [&](int frame) {
        if (frame != 0)
            return;
        corner = bite_corner();
        munching = voices_playing(mampf_sound);
        step_seen = lady_step;
    });
    EXPECT_EQ(corner, (Point{0, 0}));
    ASSERT_EQ(munching.size(), 1u);
    EXPECT_EQ(munching[0].pan, 3);
    EXPECT_EQ(step_seen, step_left);
}

}  // namespace
