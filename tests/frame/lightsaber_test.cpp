// The lightsaber, frame by frame: the blade's ignition and the trail it
// burns, the hum that follows the pointer, and the spray of sparks.
#include "frame/harness.h"

#include "shell/art_geometry.h"
#include "tools/lightsaber.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <functional>

namespace {

const int MAX_SPARKS = 50;
const int NONE = -1;

Input held(int ticks, int x, int y)
{
    return {ticks, x, y, 1, {}};
}

Input released(int ticks, int x, int y)
{
    return {ticks, x, y, 0, {}};
}

// A press held still from tick 1 until the blade is fully out and burning
// in every frame (the step to cell 4 comes at tick 7, the next due at 9).
Script ignited_at(int x, int y)
{
    return hold(9, held(1, x, y));
}

int expected_pan(int x)
{
    return 250 * x / SCREEN_W + 3;
}

// back_buffer draws through a copy of its drawing table whose circlefill
// also writes down what it was asked to draw: the sparks live inside
// run_saber, so their discs are how the test sees them.
struct Disc {
    int x, y, radius, colour;
};
GFX_VTABLE *plain_table;
GFX_VTABLE recording_table;
std::vector<Disc> discs_drawn;

void record_disc(BITMAP *bmp, int x, int y, int radius, int colour)
{
    discs_drawn.push_back({x, y, radius, colour});
    plain_table->circlefill(bmp, x, y, radius, colour);
}

int rgb_of(int colour)
{
    return (getr(colour) << 16) | (getg(colour) << 8) | getb(colour);
}

// A straight piece of trail; from_x NONE for none.
struct Segment {
    int from_x, from_y, to_x, to_y;
};
const Segment NOTHING = {NONE, NONE, NONE, NONE};

void stamp_expected_hole(BITMAP *picture, int x, int y, int)
{
    draw_sprite(picture, saber_hole_image, x - SABER_HOLE_CENTRE_X, y - SABER_HOLE_CENTRE_Y);
}

class Saber : public testing::Test {
protected:
    void SetUp() override
    {
        reset_scene();
        current_tool = TOOL_SABER;
        desktop_before = create_bitmap(SCREEN_W, SCREEN_H);
        expected = create_bitmap(SCREEN_W, SCREEN_H);
        plain_table = back_buffer->vtable;
        recording_table = *plain_table;
        recording_table.circlefill = record_disc;
        back_buffer->vtable = &recording_table;
    }

    void TearDown() override
    {
        back_buffer->vtable = plain_table;
        destroy_bitmap(expected);
        destroy_bitmap(desktop_before);
    }

    // A fresh scene between the cases of one test.
    void restart()
    {
        reset_scene();
        current_tool = TOOL_SABER;
    }

    // Runs the tool; look(frame) sees each frame right after its show step,
    // with discs_drawn holding that frame's discs and desktop_before the
    // picture as that frame copied it.
    int run(const Script &script, const std::function<void(int)> &look = {})
    {
        blit(desktop_bmp, desktop_before, 0, 0, 0, 0, SCREEN_W, SCREEN_H);
        discs_drawn.clear();
        return drive(run_saber, script, [&](int frame) {
            if (look)
                look(frame);
            blit(desktop_bmp, desktop_before, 0, 0, 0, 0, SCREEN_W, SCREEN_H);
            discs_drawn.clear();
        });
    }

    // The saber cell that the frame just shown has over the pointer (x, y):
    // the cell whose picture, drawn over the frame's background and sparks
    // with its hot spot on (x, y), is exactly what back_buffer holds there.
    int cell_shown(int x, int y)
    {
        int left = x - SABER_TIP_X, top = y - SABER_TIP_Y;
        for (int cell = 0; cell < SABER_CELLS; ++cell) {
            blit(desktop_before, expected, 0, 0, 0, 0, SCREEN_W, SCREEN_H);
            for (const Disc &d : discs_drawn)
                circlefill(expected, d.x, d.y, d.radius, d.colour);
            masked_blit(saber_image, expected, cell * SABER_CELL_W, 0, left, top, SABER_CELL_W,
                        SABER_CELL_H);
            if (differing_pixels(expected, back_buffer, {left, top, SABER_CELL_W, SABER_CELL_H}) == 0)
                return cell;
        }
        return NONE;
    }

    // Pixels in which the frame just shown left desktop_bmp otherwise than
    // with one burn mark centred on every point of `burned`.
    int burn_mismatches(const Segment &burned)
    {
        blit(desktop_before, expected, 0, 0, 0, 0, SCREEN_W, SCREEN_H);
        if (burned.from_x != NONE)
            do_line(expected, burned.from_x, burned.from_y, burned.to_x, burned.to_y, 0,
                    stamp_expected_hole);
        return differing_pixels(expected, desktop_bmp);
    }

    // Runs the tool with rand seeded by `seed`: where the first spark is
    // drawn in each frame from `from` on.
    std::vector<Disc> spark_path(unsigned seed, const Script &script, int from)
    {
        restart();
        std::srand(seed);
        std::vector<Disc> path;
        run(script, [&](int frame) {
            if (frame >= from && !discs_drawn.empty())
                path.push_back(discs_drawn[0]);
        });
        return path;
    }

    BITMAP *desktop_before = nullptr;
    BITMAP *expected = nullptr;
};

TEST_F(Saber, IgnitesThroughFourCellsTwoTicksApartAndBurnsFromTheSecondStep)
{
    struct Row {
        int ticks, x, y, cell;
        Segment burned;
    };
    const Row rows[] = {
        // The first step lights cell 1 and only marks where the trail begins.
        {1, 100, 300, 1, NOTHING},
        // Between steps the pointer strays below; no step, so no trail there.
        {2, 130, 600, 1, NOTHING},
        {3, 160, 300, 2, {100, 300, 160, 300}},
        {4, 190, 600, 2, NOTHING},
        {5, 220, 300, 3, {160, 300, 220, 300}},
        {6, 250, 600, 3, NOTHING},
        {7, 280, 300, 4, {220, 300, 280, 300}},
        {8, 310, 600, 4, NOTHING},
        // Fully out, from 2 ticks after the last step on: every frame burns.
        {9, 340, 300, 4, {280, 300, 340, 300}},
        {10, 400, 300, 4, {340, 300, 400, 300}},
        {10, 400, 450, 4, {400, 300, 400, 450}},
    };
    Script script;
    for (const Row &r : rows)
        script.push_back(held(r.ticks, r.x, r.y));
    int shown = run(script, [&](int frame) {
        const Row &r = rows[frame];
        EXPECT_EQ(cell_shown(r.x, r.y), r.cell) << "frame " << frame;
        EXPECT_EQ(burn_mismatches(r.burned), 0) << "frame " << frame;
    });
    EXPECT_EQ(shown, (int)script.size());
}

TEST_F(Saber, ReleasedBladeShowsCellZeroAndBurnsNothing)
{
    Script script = ignited_at(500, 400) + hold(3, released(10, 520, 420));
    run(script, [&](int frame) {
        if (frame < 9)
            return;
        EXPECT_EQ(cell_shown(520, 420), 0) << "frame " << frame;
        EXPECT_EQ(burn_mismatches(NOTHING), 0) << "frame " << frame;
    });
}

TEST_F(Saber, AFastSweepLeavesAnUnbrokenTrail)
{
    struct Sweep {
        const char *what;
        int from_x, from_y, to_x, to_y;
    };
    const Sweep sweeps[] = {
        {"300 to the right", 200, 400, 500, 400},
        {"300 to the left", 700, 300, 400, 300},
        {"300 down", 500, 100, 500, 400},
        {"300 across and 200 up", 300, 600, 600, 400},
        {"steeply up and left", 600, 650, 500, 350},
    };
    // On a white picture, as no burn mark has white in it: a white pixel
    // on the pointer's path is a gap, at every depth.
    for (const Sweep &s : sweeps) {
        restart();
        const int WHITE = 0xFFFFFF;
        clear_to_color(desktop_bmp, makecol(255, 255, 255));
        run(ignited_at(s.from_x, s.from_y) + Script{held(10, s.to_x, s.to_y)});
        int dx = s.to_x - s.from_x, dy = s.to_y - s.from_y;
        int n = std::max(std::abs(dx), std::abs(dy));
        int gaps = 0;
        for (int t = 0; t <= n; ++t) {
            int x = s.from_x + (int)std::lround((double)dx * t / n);
            int y = s.from_y + (int)std::lround((double)dy * t / n);
            gaps += rgb_at(desktop_bmp, x, y) == WHITE;
        }
        EXPECT_EQ(gaps, 0) << s.what;
    }
}

TEST_F(Saber, ASweepInAnyDirectionBurnsExactlyAWholeMarkOnEveryPointInTurn)
{
    struct Sweep {
        const char *what;
        Segment line;
    };
    const Sweep sweeps[] = {
        {"left", {600, 400, 300, 400}},
        {"up", {500, 600, 500, 300}},
        {"down and right", {300, 300, 500, 500}},
        {"down and left", {600, 300, 400, 500}},
        {"up and right", {300, 500, 500, 300}},
        {"up and left", {600, 500, 400, 300}},
        {"shallow, right and a little down", {200, 400, 700, 430}},
        {"steep, down and a little left", {500, 200, 470, 600}},
        {"a few steps, no run long", {400, 400, 407, 403}},
        {"up the left edge, marks cut off", {2, 300, 0, 5}},
        {"along the bottom row, marks cut off", {1020, 767, 700, 767}},
    };
    for (const Sweep &s : sweeps) {
        restart();
        const Segment &l = s.line;
        // Frame 9 is the sweep, from where the blade was lit.
        run(ignited_at(l.from_x, l.from_y) + Script{held(10, l.to_x, l.to_y)}, [&](int frame) {
            if (frame == 9) {
                EXPECT_EQ(burn_mismatches(l), 0) << s.what;
            }
        });
    }
}

TEST_F(Saber, EnteredWithTheButtonDownAndTheBladeLeftOutItBurnsAtOnceFromThePointer)
{
    struct Row {
        int ticks, x, y;
        Segment burned;
    };
    struct Case {
        const char *what;
        int deadline;  // step_deadline as the stay begins
        std::vector<Row> rows;
    };
    const Case cases[] = {
        {"deadline passed",
         8,
         {{20, 600, 500, {600, 500, 600, 500}}, {21, 700, 500, {600, 500, 700, 500}}}},
        {"deadline left ahead by another tool",
         25,
         {{24, 600, 500, NOTHING},
          {25, 650, 500, NOTHING},
          {26, 700, 500, {700, 500, 700, 500}},
          {27, 750, 520, {700, 500, 750, 520}}}},
    };
    for (const Case &c : cases) {
        restart();
        // A stay left by Escape with the button still down keeps the blade out.
        run(ignited_at(200, 200) + Script{{10, 200, 200, 1, {KEY_ESC}}});
        ASSERT_EQ(saber_step, 4) << c.what;
        step_deadline = c.deadline;
        current_tool = TOOL_SABER;
        Script script;
        for (const Row &r : c.rows)
            script.push_back(held(r.ticks, r.x, r.y));
        run(script, [&](int frame) {
            const Row &r = c.rows[frame];
            EXPECT_EQ(cell_shown(r.x, r.y), 4) << c.what << ", frame " << frame;
            EXPECT_EQ(burn_mismatches(r.burned), 0) << c.what << ", frame " << frame;
        });
    }
}

TEST_F(Saber, LeavesOnEscapeAtTheTopOfAFrameOrAnotherToolsKeyAtItsEnd)
{
    struct Case {
        const char *what;
        Script script;
        int frames_shown;
        int next_tool;
    };
    const Case cases[] = {
        {"Escape already held: nothing runs", {{1, 500, 400, 1, {KEY_ESC}}}, 0, NO_TOOL},
        {"key 2 is this tool", hold(3, {1, 500, 400, 1, {KEY_2}}), 3, NO_TOOL},
        {"key 3 switches after the frame", {held(1, 500, 400), {2, 500, 400, 1, {KEY_3}}}, 1,
         TOOL_LASER},
        {"Escape and key 1 down together at a frame's end: key 1 wins",
         {held(1, 500, 400), {2, 500, 400, 1, {KEY_ESC, KEY_1}}}, 1, TOOL_BAT},
    };
    for (const Case &c : cases) {
        restart();
        EXPECT_EQ(run(c.script), c.frames_shown) << c.what;
        EXPECT_EQ(current_tool, c.next_tool) << c.what;
    }
    restart();
    run({{1, 500, 400, 1, {KEY_ESC}}});
    EXPECT_TRUE(voices_playing(lightsaber_sound).empty()) << "no hum from a frame that never ran";
}

// Hum

TEST_F(Saber, HumStartsWithThePressAtTheMousePanAndIsNeverJoinedByASecond)
{
    // Sweep while held, release, and press again while the hum still sounds.
    Script script;
    for (int i = 0; i < 15; ++i)
        script.push_back(held(1 + i, 100 + 40 * i, 300 + (i % 2) * 20));
    script = script + hold(3, released(16, 700, 300));
    for (int i = 0; i < 12; ++i)
        script.push_back(held(19 + i, 700 - 30 * i, 500 - 10 * i));
    int first_voice = NONE;
    run(script, [&](int frame) {
        std::vector<Voice> hums = voices_playing(lightsaber_sound);
        ASSERT_EQ(hums.size(), 1u) << "frame " << frame;
        if (frame == 0) {
            first_voice = hums[0].voice;
            EXPECT_EQ(hums[0].pan, expected_pan(100));
            EXPECT_EQ(voice_get_volume(first_voice), 255);
        }
        EXPECT_EQ(hums[0].voice, first_voice) << "frame " << frame;
    });
}

TEST_F(Saber, AnEndedHumIsForgottenOnlyByAFrameWithTheButtonUp)
{
    const int X = 500, Y = 400;
    struct Case {
        const char *what;
        Script script;       // ends with the blade out and the pointer still
        int ends_after;      // the hum plays to its end after this frame
        size_t hums_while_still;
    };
    Script out_and_released = ignited_at(X, Y) + hold(2, released(10, X, Y));
    Script pressed_again = hold(12, held(12, X, Y));
    const Case cases[] = {
        {"ended while released: the next press starts one at once",
         out_and_released + pressed_again, 9, 1},
        {"ended while held: silent until the pointer moves", ignited_at(X, Y) + hold(10, held(10, X, Y)),
         10, 0},
        {"ended in the last released frame: the press still holds it, silent",
         out_and_released + pressed_again, 10, 0},
    };
    for (const Case &c : cases) {
        restart();
        Script script = c.script + Script{held(30, X, Y)};
        size_t last = script.size() - 1;
        run(script + Script{held(31, X + 50, Y)}, [&](int frame) {
            if (frame == c.ends_after)
                finish_voices(lightsaber_sound);
            if ((size_t)frame == last) {
                EXPECT_EQ(voices_playing(lightsaber_sound).size(), c.hums_while_still) << c.what;
            }
        });
        std::vector<Voice> hums = voices_playing(lightsaber_sound);
        ASSERT_EQ(hums.size(), 1u) << c.what << ": after the move";
        EXPECT_EQ(hums[0].pan, expected_pan(X + 50)) << c.what;
    }
}

TEST_F(Saber, HumFollowsThePointerOnlyWhenItMovedSinceTheLastBurnPoint)
{
    const int X = 500, Y = 400;
    const int SET_ASIDE_PAN = 40;
    const int PLAYED = lightsaber_sound->len / 4;  // how far the hum has played
    struct Case {
        const char *what;
        std::vector<std::pair<int, int>> steps;  // pointer moves, one a frame
        bool moved;
    };
    const Case cases[] = {
        {"still", {{0, 0}}, false},
        {"5 right", {{5, 0}}, false},
        {"5 left", {{-5, 0}}, false},
        {"5 right in each of 4 frames", {{5, 0}, {5, 0}, {5, 0}, {5, 0}}, false},
        {"6 right", {{6, 0}}, true},
        {"6 left", {{-6, 0}}, true},
        {"1 down", {{0, 1}}, true},
        {"1 up", {{0, -1}}, true},
        {"3 right and 1 down", {{3, 1}}, true},
    };
    for (const Case &c : cases)
        for (bool sounding : {true, false}) {
            restart();
            Script script = ignited_at(X, Y);
            int x = X, y = Y;
            for (auto step : c.steps) {
                x += step.first;
                y += step.second;
                script.push_back(held(10 + (int)script.size(), x, y));
            }
            run(script, [&](int frame) {
                if (frame != 8)
                    return;
                // Before the moves the hum is heard part way through at a
                // pan set aside, or it ends.
                if (sounding)
                    for (const Voice &v : voices_playing(lightsaber_sound)) {
                        voice_set_pan(v.voice, SET_ASIDE_PAN);
                        voice_set_position(v.voice, PLAYED);
                    }
                else
                    finish_voices(lightsaber_sound);
            });
            std::vector<Voice> hums = voices_playing(lightsaber_sound);
            std::string what = std::string(c.what) + (sounding ? ", sounding" : ", ended");
            ASSERT_EQ(hums.size(), sounding || c.moved ? 1u : 0u) << what;
            if (!hums.empty()) {
                EXPECT_EQ(hums[0].pan, c.moved ? expected_pan(x) : SET_ASIDE_PAN) << what;
            }
            // The mixer plays on in the background, so it may be a little further.
            if (sounding) {
                EXPECT_GE(voice_get_position(hums[0].voice), PLAYED) << what << ": goes on where it was";
            }
        }
}

// Sparks

TEST_F(Saber, SparkPoolGrowsOneAFrameToFiftyAndShrinksOneAFrameAfterRelease)
{
    const int HELD = 70, RELEASED = 60;
    Script script;
    for (int i = 0; i < HELD; ++i)
        script.push_back(held(1 + i, 200 + 8 * i, 300 + (i % 5) * 10));
    script = script + hold(RELEASED, released(1 + HELD, 760, 300));
    std::vector<std::vector<Disc>> frames;
    run(script, [&](int) { frames.push_back(discs_drawn); });
    ASSERT_EQ(frames.size(), script.size());
    for (int f = 0; f < HELD + RELEASED; ++f) {
        // A new spark is first drawn in the frame after the one that adds it.
        size_t live = f < HELD ? std::min(f, MAX_SPARKS) : std::max(MAX_SPARKS - 1 - (f - HELD), 0);
        EXPECT_EQ(frames[f].size(), live) << "frame " << f;
        for (const Disc &d : frames[f]) {
            EXPECT_EQ(d.radius, 2);
            EXPECT_EQ(rgb_of(d.colour), rgb_of(makecol(0, 156, 0)));
            // While held, a spark that left the screen was sent back.
            if (f < HELD) {
                EXPECT_TRUE(d.x >= 0 && d.x <= SCREEN_W && d.y >= 0 && d.y <= SCREEN_H)
                    << "frame " << f << " at " << d.x << ", " << d.y;
            }
        }
    }
    // Released, the remaining sparks keep their courses, falling faster by a
    // pixel a frame each frame: none is sent back, even off the screen.
    for (int f = HELD + 2; f < HELD + RELEASED; ++f)
        for (size_t i = 0; i < frames[f].size(); ++i) {
            const Disc &a = frames[f - 2][i], &b = frames[f - 1][i], &c = frames[f][i];
            EXPECT_EQ(c.x - b.x, b.x - a.x) << "frame " << f << ", spark " << i;
            EXPECT_EQ(c.y - b.y, b.y - a.y + 1) << "frame " << f << ", spark " << i;
        }
}

// How r(20) - 10 and r(10) - 5 read a raw rand draw.
int r20(int draw)
{
    return draw % 20 - 10;
}

int r10(int draw)
{
    return draw % 10 - 5;
}

const int DRAWS = 8;
using Draws = int[DRAWS];
using Fits = std::function<bool(const int *d)>;

// The first seed whose rand series begins with draws that fit; they are
// left in d.
unsigned seed_where(const Fits &fits, Draws d)
{
    for (unsigned seed = 1;; ++seed) {
        std::srand(seed);
        for (int i = 0; i < DRAWS; ++i)
            d[i] = std::rand();
        if (fits(d))
            return seed;
    }
}

TEST_F(Saber, NewSparkDrawsPlaceThenSpeedAndRetriesAStillSpeedOnce)
{
    const int X = 500, Y = 300;
    struct Case {
        const char *what;
        bool (*fits)(const int *d);
        int (*vx)(const int *d);
        int (*vy)(const int *d);
    };
    const Case cases[] = {
        {"moving on both axes",
         [](const int *d) { return r20(d[2]) != 0 && r20(d[3]) != 0; },
         [](const int *d) { return r20(d[2]); }, [](const int *d) { return r20(d[3]); }},
        {"still across: a second, smaller try",
         [](const int *d) { return r20(d[2]) == 0 && r20(d[3]) != 0 && r10(d[4]) != 0; },
         [](const int *d) { return r10(d[4]); }, [](const int *d) { return r20(d[3]); }},
        {"still down: a second, smaller try",
         [](const int *d) { return r20(d[2]) != 0 && r20(d[3]) == 0 && r10(d[4]) != 0; },
         [](const int *d) { return r20(d[2]); }, [](const int *d) { return r10(d[4]); }},
        {"still on both: across is tried again first",
         [](const int *d) {
             return r20(d[2]) == 0 && r20(d[3]) == 0 && r10(d[4]) != 0 && r10(d[5]) != 0 &&
                    r10(d[4]) != r10(d[5]);
         },
         [](const int *d) { return r10(d[4]); }, [](const int *d) { return r10(d[5]); }},
        {"the second try may give 0 again",
         [](const int *d) { return r20(d[2]) == 0 && r20(d[3]) != 0 && r10(d[4]) == 0; },
         [](const int *) { return 0; }, [](const int *d) { return r20(d[3]); }},
    };
    for (const Case &c : cases) {
        Draws d;
        unsigned seed = seed_where(c.fits, d);
        std::vector<Disc> first_spark = spark_path(seed, hold(4, held(1, X, Y)), 1);
        ASSERT_EQ(first_spark.size(), 3u) << c.what;
        int x = X + r20(d[0]), y = Y + r20(d[1]), vx = c.vx(d), vy = c.vy(d);
        const int path[3][2] = {{x, y}, {x + vx, y + vy}, {x + 2 * vx, y + 2 * vy + 1}};
        for (int i = 0; i < 3; ++i) {
            EXPECT_EQ(first_spark[i].x, path[i][0]) << c.what << ", seed " << seed << ", frame " << i + 1;
            EXPECT_EQ(first_spark[i].y, path[i][1]) << c.what << ", seed " << seed << ", frame " << i + 1;
        }
    }
}

TEST_F(Saber, ASparkOffTheScreenIsSentBackFromThePointerAndNeverStandsStill)
{
    // The first spark starts by the left edge and leaves the screen in its
    // first move, in the frame where the pointer has gone to (600, 300).
    const int X = 3, Y = 400, BACK_X = 600, BACK_Y = 300;
    struct Case {
        const char *what;
        bool (*fits)(const int *d);
    };
    const Case cases[] = {
        {"moving", [](const int *d) { return r20(d[6]) != 0 && r20(d[7]) != 0; }},
        {"still across becomes 1", [](const int *d) { return r20(d[6]) == 0 && r20(d[7]) != 0; }},
        {"still down becomes 1", [](const int *d) { return r20(d[6]) != 0 && r20(d[7]) == 0; }},
    };
    for (const Case &c : cases) {
        Draws d;
        unsigned seed = seed_where(
            [&](const int *e) {
                bool leaves = X + r20(e[0]) + r20(e[2]) < 0 && r20(e[3]) != 0;
                return leaves && c.fits(e);
            },
            d);
        Script script = {held(1, X, Y), held(2, BACK_X, BACK_Y), held(3, BACK_X, BACK_Y),
                         held(4, BACK_X, BACK_Y)};
        std::vector<Disc> path = spark_path(seed, script, 2);
        int x = BACK_X + r20(d[4]), y = BACK_Y + r20(d[5]);
        int vx = r20(d[6]) == 0 ? 1 : r20(d[6]);
        int vy = r20(d[7]) == 0 ? 1 : r20(d[7]);
        ASSERT_EQ(path.size(), 2u) << c.what;
        EXPECT_EQ(path[0].x, x) << c.what << ", seed " << seed;
        EXPECT_EQ(path[0].y, y) << c.what << ", seed " << seed;
        EXPECT_EQ(path[1].x, x + vx) << c.what << ", seed " << seed;
        EXPECT_EQ(path[1].y, y + vy) << c.what << ", seed " << seed;
    }
}

TEST_F(Saber, ASparkExactlyOnTheRightOrBottomEdgeLineIsNotSentBack)
{
    // The first spark's first move puts it exactly on x = SCREEN_W (or
    // y = SCREEN_H); its second, with the pointer gone to (300, 200), takes
    // it beyond.
    const int ELSEWHERE_X = 300, ELSEWHERE_Y = 200;
    struct Case {
        const char *what;
        bool across;
    };
    const Case cases[] = {{"x = SCREEN_W", true}, {"y = SCREEN_H", false}};
    for (const Case &c : cases) {
        Draws d;
        // The offset and speed along the tested axis, and the other speed.
        int along = c.across ? 0 : 1;
        unsigned seed = seed_where(
            [&](const int *e) {
                int reach = r20(e[along]) + r20(e[2 + along]);
                return r20(e[2 + along]) > 0 && reach >= 1 && r20(e[3 - along]) != 0;
            },
            d);
        int reach = r20(d[along]) + r20(d[2 + along]);
        int x = c.across ? SCREEN_W - reach : 500;
        int y = c.across ? 400 : SCREEN_H - reach;
        Script script = {held(1, x, y), held(2, x, y), held(3, ELSEWHERE_X, ELSEWHERE_Y),
                         held(4, ELSEWHERE_X, ELSEWHERE_Y)};
        std::vector<Disc> path = spark_path(seed, script, 1);
        ASSERT_EQ(path.size(), 3u) << c.what;
        EXPECT_EQ(c.across ? path[1].x : path[1].y, c.across ? SCREEN_W : SCREEN_H)
            << c.what << ": kept on the line, seed " << seed;
        EXPECT_LE(std::abs(path[2].x - ELSEWHERE_X), 10) << c.what << ": sent back once beyond";
        EXPECT_LE(std::abs(path[2].y - ELSEWHERE_Y), 10) << c.what << ": sent back once beyond";
    }
}

}  // namespace
