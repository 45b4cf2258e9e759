// The laser, frame by frame: the gun's frames, a shot's steps and its hole,
// repeated and cut-short shots, the spark spray, and leaving or switching.
#include "frame/harness.h"

#include "shell/art_geometry.h"
#include "tools/laser.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>

namespace {

const int LEFT = 1;            // mouse_b with the left button down

// The bounding box of the pixels that differ.
struct Box {
    int left = 1 << 30, top = 1 << 30, right = -1, bottom = -1;
    bool empty() const { return right < 0; }
};

Box changed_box(BITMAP *now, BITMAP *before)
{
    Box box;
    each_difference(now, before, EVERYWHERE, [&](int x, int y, int, int) {
        box.left = std::min(box.left, x);
        box.right = std::max(box.right, x);
        box.top = std::min(box.top, y);
        box.bottom = std::max(box.bottom, y);
    });
    return box;
}

TEST(LaserGun, DrawsTheChosenSheetFrameMaskedWithItsTopLeftCornerAtThePosition)
{
    const int X = 21, Y = 13;
    BITMAP *dest = create_bitmap(LASER_FRAME_W + 2 * X, LASER_FRAME_H + 2 * Y);
    int mask = bitmap_mask_color(laser_image);
    for (int frame = 0; frame < LASER_FRAMES; ++frame) {
        clear_to_color(dest, makecol(0, 90, 200));
        int background = rgb_at(dest, 0, 0);
        draw_laser_frame(dest, X, Y, frame);
        int opaque = 0, wrong = 0;
        for (int y = 0; y < dest->h; ++y)
            for (int x = 0; x < dest->w; ++x) {
                int sx = frame * LASER_FRAME_W + x - X, sy = y - Y;
                bool on_gun = x >= X && x < X + LASER_FRAME_W && y >= Y && y < Y + LASER_FRAME_H &&
                              getpixel(laser_image, sx, sy) != mask;
                opaque += on_gun;
                wrong += rgb_at(dest, x, y) != (on_gun ? rgb_at(laser_image, sx, sy) : background);
            }
        EXPECT_GT(opaque, 0) << "frame " << frame << " of the sheet is empty";
        EXPECT_EQ(wrong, 0) << "frame " << frame;
    }
    destroy_bitmap(dest);
}

// One frame per character: 'X' the left button down, '.' up. tick_count
// counts from 1, one a frame, and the pointer walks right `stride` pixels a
// frame from (START_X, START_Y).
const int START_X = 100, START_Y = 300;

Script presses(const std::string &buttons, int stride)
{
    Script script;
    for (int i = 0; i < (int)buttons.size(); ++i)
        script.push_back({1 + i, START_X + stride * i, START_Y, buttons[i] == 'X' ? LEFT : 0, {}});
    return script;
}

// What each frame of a laser visit did: the step it showed, the shot sounds
// it started and the pan of the last, the pointer it used, and where the
// picture changed.
struct FrameLog {
    int step;
    int sounds, pan;
    int x, y;
    Box damage;
};

std::vector<FrameLog> run_and_log(const Script &script)
{
    std::vector<FrameLog> log;
    BITMAP *before = copy_of(desktop_bmp);
    drive(run_laser, script, [&](int) {
        // The sound driver mixes in real time, so a shot sound ends by
        // itself after a while: count each as it starts, then end it.
        std::vector<Voice> started = voices_playing(laser_sound);
        finish_voices(laser_sound);
        log.push_back({laser_step, (int)started.size(), started.empty() ? -1 : started.back().pan,
                       mouse_x, mouse_y, changed_box(desktop_bmp, before)});
        blit(desktop_bmp, before, 0, 0, 0, 0, SCREEN_W, SCREEN_H);
    });
    destroy_bitmap(before);
    return log;
}

TEST(LaserShot, ClickAndReleaseStepsEverySixTicksAndBurnsOneHoleAtTheLastPointer)
{
    reset_scene();
    current_tool = TOOL_LASER;
    // Pressed at tick 1, up from the next frame on, the pointer moving on.
    const int STRIDE = 30;
    std::vector<FrameLog> log = run_and_log(presses("X" + std::string(24, '.'), STRIDE));
    ASSERT_EQ(log.size(), 25u);

    // Frame 1 at once (tick 1 is past the deadline 0), then 2 and 3 six
    // ticks apart; frame 3 is still shown as the hole burns at tick 19.
    const int HOLE_FRAME = 18;
    for (int f = 0; f < (int)log.size(); ++f) {
        int want = f < 6 ? 1 : f < 12 ? 2 : f <= HOLE_FRAME ? 3 : 0;
        EXPECT_EQ(log[f].step, want) << "frame " << f;
        EXPECT_EQ(log[f].sounds, f == 0 ? 1 : 0) << "frame " << f;
        EXPECT_EQ(log[f].damage.empty(), f != HOLE_FRAME) << "frame " << f;
    }
    EXPECT_EQ(log[0].pan, 250 * log[0].x / SCREEN_W + 3);

    // The hole lies within its turned size of the pointer of its frame,
    // not of the press or the frames either side.
    const int REACH = 21;   // half the diagonal of the 28 x 28 hole, and a pixel
    const FrameLog &at = log[HOLE_FRAME];
    EXPECT_GE(at.damage.left, at.x - REACH);
    EXPECT_LE(at.damage.right, at.x + REACH);
    EXPECT_GE(at.damage.top, at.y - REACH);
    EXPECT_LE(at.damage.bottom, at.y + REACH);
}

struct ShotCase {
    const char *what;
    std::string buttons;
    std::vector<int> sound_frames, hole_frames;
};

TEST(LaserShot, EachPressSoundsButOnlyAFinishedShotBurnsAndAHeldButtonRefires)
{
    const ShotCase cases[] = {
        {"a second press during a shot", "X..X" + std::string(20, '.'), {0, 3}, {18}},
        // The frame after a hole re-arms the trigger; the one after that fires.
        {"a button held down", std::string(45, 'X'), {0, 20, 40}, {18, 38}},
        {"a press in the frame that burns the hole", "X" + std::string(17, '.') + "X..", {0, 18}, {18}},
    };
    for (const ShotCase &c : cases) {
        reset_scene();
        current_tool = TOOL_LASER;
        std::vector<FrameLog> log = run_and_log(presses(c.buttons, 3));
        std::vector<int> sounds, holes;
        for (int f = 0; f < (int)log.size(); ++f) {
            if (log[f].sounds > 0)
                sounds.push_back(f);
            if (!log[f].damage.empty())
                holes.push_back(f);
        }
        EXPECT_EQ(sounds, c.sound_frames) << c.what;
        EXPECT_EQ(holes, c.hole_frames) << c.what;
    }
}

TEST(LaserShot, EscapeDropsAShotWithoutAHoleAndTheNextStayCarriesOnFromItsStep)
{
    reset_scene();
    current_tool = TOOL_LASER;
    // Held through frame 1 and into frame 2, then Escape.
    Script visit = hold(7, {1, 400, 300, LEFT, {}}) + Script{{8, 400, 300, LEFT, {KEY_ESC}}};
    BITMAP *picture = copy_of(desktop_bmp);
    EXPECT_EQ(drive(run_laser, visit), 7);
    EXPECT_EQ(current_tool, NO_TOOL);
    EXPECT_EQ(laser_step, 2);
    EXPECT_EQ(differences(desktop_bmp, picture), "") << "a dropped shot burns nothing";
    destroy_bitmap(picture);
    finish_voices(laser_sound);

    // Back with the button still down: the first frame fires from step 2,
    // step 3 comes once tick 13 passes the deadline 12, the hole at tick 19.
    current_tool = TOOL_LASER;
    std::vector<FrameLog> log = run_and_log(hold(12, {8, 400, 300, LEFT, {}}));
    ASSERT_EQ(log.size(), 12u);
    EXPECT_EQ(log[0].sounds, 1);
    for (int f = 0; f < (int)log.size(); ++f) {
        EXPECT_EQ(log[f].step, f < 5 ? 2 : 3) << "frame " << f;
        EXPECT_EQ(log[f].damage.empty(), f != 11) << "frame " << f;
    }
}

// The rand series the loop draws from after rand is seeded (with 1 by
// reset_scene), kept by index so a test can follow the loop's draws without
// drawing from rand itself.
struct RandSeries {
    std::vector<int> values;
    size_t next = 0;
    explicit RandSeries(unsigned seed = 1, int length = 100000)
    {
        std::srand(seed);
        for (int i = 0; i < length; ++i)
            values.push_back(std::rand());
    }
    int r(int n) { return values.at(next++) % n; }
};

// Where the sparks should be, by the pool's rules, from the same series.
struct Spark {
    int x, y, vx, vy;
};

struct SparkModel {
    RandSeries series;
    std::vector<Spark> live;

    // One frame's dying, motion and spray; returns the sparks as drawn.
    std::vector<Spark> frame(bool held, bool dying, int mx, int my)
    {
        if (dying && !live.empty())
            live.pop_back();
        std::vector<Spark> drawn = live;
        for (Spark &s : live) {
            s.x += s.vx;
            s.y += s.vy;
            s.vy += 1;
            if (held && (s.x < 0 || s.x > SCREEN_W || s.y < 0 || s.y > SCREEN_H)) {
                s.x = mx + series.r(20) - 10;
                s.y = my + series.r(20) - 10;
                s.vx = series.r(40) - 10;
                s.vy = series.r(20) - 20;
                if (s.vx == 0)
                    s.vx = 1;
            }
        }
        for (int made = 0; held && made < 10 && live.size() < 50; ++made) {
            Spark s;
            s.x = mx + series.r(40) - 10;
            s.y = my + series.r(40) - 10;
            s.vx = series.r(20) - 10;
            s.vy = series.r(20) - 10;
            if (s.vx == 0)
                s.vx = series.r(10) - 5;
            if (s.vy == 0)
                s.vy = series.r(10) - 5;
            live.push_back(s);
        }
        return drawn;
    }
};

// A run of frames with one input, tick_count standing still, and what the
// sparks see in them.
enum FirstFrame { PLAIN, FIRES, BURNS };   // FIRES: the jolt's two draws; BURNS: the hole's angle
struct Stretch {
    int frames;
    Input in;
    FirstFrame first;
    bool held;    // the trigger is held as the sparks move and spray
    bool dying;   // no shot in flight: one spark dies a frame
};

struct SparkCase {
    const char *what;
    std::vector<Stretch> stretches;
};

const bool HELD = true, LOOSE = false, DYING = true, FLYING = false;

// The shot started at tick 1 stands on frame 1 until ticks move on; then
// frames 2 and 3 and the hole at tick 19.
std::vector<Stretch> finish_shot(Input in, bool held)
{
    Input at7 = in, at13 = in, at19 = in;
    at7.ticks = 7;
    at13.ticks = 13;
    at19.ticks = 19;
    return {{1, at7, PLAIN, held, FLYING}, {1, at13, PLAIN, held, FLYING}, {1, at19, BURNS, held, FLYING}};
}

std::vector<Stretch> operator+(std::vector<Stretch> a, const std::vector<Stretch> &b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

TEST(LaserSparks, SprayFallAndAreSentOutAgainOnlyWhileTheTriggerIsHeld)
{
    const Input CENTRE_DOWN{1, 512, 384, LEFT, {}}, CENTRE_UP{1, 512, 384, 0, {}};
    const Input CORNER_DOWN{1, 1000, 15, LEFT, {}}, LOW_LEFT_DOWN{1, 60, 700, LEFT, {}};
    const Input AFTER_DOWN{19, 512, 384, LEFT, {}}, AFTER_UP{19, 512, 384, 0, {}};
    const SparkCase cases[] = {
        {"a click and an immediate release: ten sparks, none sent out again",
         std::vector<Stretch>{{1, CENTRE_DOWN, FIRES, HELD, FLYING}, {60, CENTRE_UP, PLAIN, LOOSE, FLYING}} +
             finish_shot(CENTRE_UP, LOOSE) + std::vector<Stretch>{{12, AFTER_UP, PLAIN, LOOSE, DYING}}},
        {"held: the pool fills to 50 at ten a frame, leavers come back from the pointer",
         std::vector<Stretch>{{70, CENTRE_DOWN, FIRES, HELD, FLYING}, {20, CENTRE_UP, PLAIN, LOOSE, FLYING}} +
             finish_shot(CENTRE_UP, LOOSE) + std::vector<Stretch>{{55, AFTER_UP, PLAIN, LOOSE, DYING}}},
        {"held by an edge, then moved: sparks are sent out again from the new place",
         std::vector<Stretch>{{25, CORNER_DOWN, FIRES, HELD, FLYING}, {25, LOW_LEFT_DOWN, PLAIN, HELD, FLYING}}},
        {"held through a hole: its angle is drawn first, the next frame re-arms, the one after fires",
         std::vector<Stretch>{{8, CENTRE_DOWN, FIRES, HELD, FLYING}} + finish_shot(CENTRE_DOWN, HELD) +
             std::vector<Stretch>{{1, AFTER_DOWN, PLAIN, LOOSE, DYING}, {8, AFTER_DOWN, FIRES, HELD, FLYING}}},
    };
    BITMAP *before = create_bitmap(SCREEN_W, SCREEN_H);
    BITMAP *want = create_bitmap(SCREEN_W, SCREEN_H);
    int red = makecol(200, 16, 10);
    for (const SparkCase &c : cases) {
        Script script;
        std::vector<const Stretch *> stretch_of;
        std::vector<bool> first_of;
        for (const Stretch &s : c.stretches)
            for (int i = 0; i < s.frames; ++i) {
                script.push_back(s.in);
                stretch_of.push_back(&s);
                first_of.push_back(i == 0);
            }
        SparkModel model;
        reset_scene();
        current_tool = TOOL_LASER;
        blit(desktop_bmp, before, 0, 0, 0, 0, SCREEN_W, SCREEN_H);
        int wrong_frames = 0;
        drive(run_laser, script, [&](int f) {
            const Stretch &s = *stretch_of[f];
            int angle = -1;
            if (first_of[f] && s.first == FIRES)
                model.series.next += 2;
            if (first_of[f] && s.first == BURNS)
                angle = model.series.r(255);
            // The pointer as the frame used it, after any jolt.
            std::vector<Spark> drawn = model.frame(s.held, s.dying, mouse_x, mouse_y);

            blit(before, want, 0, 0, 0, 0, SCREEN_W, SCREEN_H);
            for (const Spark &p : drawn)
                circlefill(want, p.x, p.y, 1, red);
            draw_laser_frame(want, mouse_x, mouse_y, laser_sequence[laser_step]);
            std::string differ = differences(back_buffer, want);
            if (!differ.empty() && wrong_frames++ < 3)
                ADD_FAILURE() << c.what << ": frame " << f << " unlike " << drawn.size()
                              << " sparks and the gun: " << differ;

            // The hole lands after this frame's copy, turned by the angle drawn.
            blit(before, want, 0, 0, 0, 0, SCREEN_W, SCREEN_H);
            if (angle >= 0)
                rotate_sprite(want, laser_hole_image, mouse_x - LASER_HOLE_CENTRE, mouse_y - LASER_HOLE_CENTRE,
                              itofix(angle));
            differ = differences(desktop_bmp, want);
            if (!differ.empty() && wrong_frames++ < 3)
                ADD_FAILURE() << c.what << ": frame " << f << " picture: " << differ;
            blit(desktop_bmp, before, 0, 0, 0, 0, SCREEN_W, SCREEN_H);
        });
    }
    destroy_bitmap(want);
    destroy_bitmap(before);
}

struct JoltCase {
    const char *what;
    int down, right;
};

// The first seed whose first two draws, taken as r(7), are `down` and `right`.
unsigned seed_for_jolt(int down, int right)
{
    for (unsigned seed = 1;; ++seed) {
        RandSeries series(seed, 2);
        if (series.r(7) == down && series.r(7) == right)
            return seed;
    }
}

TEST(LaserJolt, AShotKnocksThePointerDownThenRightAndSoundsAndBurnsWhereItLands)
{
    // One pixel right of X the pan is one more; the hand rests after the click.
    const int X = 409, Y = 300;
    const int HOLE_FRAME = 18;
    const JoltCase cases[] = {
        {"no jolt", 0, 0},
        {"down only", 4, 0},
        {"right only", 0, 3},
        {"down 1 and right 5: the vertical jolt is drawn first", 1, 5},
        {"down 5 and right 1", 5, 1},
        {"as far as it goes", 6, 6},
    };
    for (const JoltCase &c : cases) {
        unsigned seed = seed_for_jolt(c.down, c.right);
        SparkModel model;
        model.series = RandSeries(seed);
        model.series.next = 2;
        const int jx = X + c.right, jy = Y + c.down;

        reset_scene();
        current_tool = TOOL_LASER;
        std::srand(seed);
        BITMAP *before = copy_of(desktop_bmp);
        Script script = hold(HOLE_FRAME + 2, {1, X, Y, 0, {}});
        script[0].buttons = LEFT;
        drive(run_laser, script, [&](int f) {
            EXPECT_EQ(mouse_x, jx) << c.what << ", frame " << f;
            EXPECT_EQ(mouse_y, jy) << c.what << ", frame " << f;
            if (f == 0) {
                std::vector<Voice> shot = voices_playing(laser_sound);
                ASSERT_EQ(shot.size(), 1u) << c.what;
                EXPECT_EQ(shot[0].pan, 250 * jx / 1024 + 3) << c.what << ": panned after the jolt";
                // The press frame sprays ten sparks from the jolted pointer.
                model.frame(true, false, jx, jy);
            }
            if (f == HOLE_FRAME) {
                BITMAP *want = copy_of(before);
                rotate_sprite(want, laser_hole_image, jx - LASER_HOLE_CENTRE, jy - LASER_HOLE_CENTRE,
                              itofix(model.series.r(255)));
                EXPECT_EQ(differences(desktop_bmp, want), "") << c.what << ": the hole at the jolted pointer";
                destroy_bitmap(want);
            }
        });
        destroy_bitmap(before);
        finish_voices(laser_sound);
    }
}

struct KeyCase {
    const char *what;
    std::vector<int> keys;
    int tool_after;
    int frames_shown;
};

TEST(LaserKeys, OtherToolsKeysSwitchAtTheEndOfAFrameAndTheirOwnIsIgnored)
{
    const KeyCase cases[] = {
        {"key 1", {KEY_1}, TOOL_BAT, 1},
        {"key 2", {KEY_2}, TOOL_SABER, 1},
        {"key 4", {KEY_4}, TOOL_LADY, 1},
        {"key 3 is the laser's own", {KEY_3}, NO_TOOL, 3},
        {"Escape", {KEY_ESC}, NO_TOOL, 1},
        {"key 4 and Escape together", {KEY_ESC, KEY_4}, TOOL_LADY, 1},
    };
    for (const KeyCase &c : cases) {
        reset_scene();
        current_tool = TOOL_LASER;
        // The keys go down after the first frame's show, before its key test.
        Input idle{1, 500, 300, 0, {}}, pressed{1, 500, 300, 0, c.keys};
        int shown = drive(run_laser, {idle, pressed, pressed});
        EXPECT_EQ(current_tool, c.tool_after) << c.what;
        EXPECT_EQ(shown, c.frames_shown) << c.what;
    }
}

}  // namespace
