// The tool palette: where the strip sits, which clicks choose what, how it
// looks, its fade-in above 8 bits, and its prompt start at 8 bits.
#include "frame/harness.h"

#include "palette/palette.h"

#include <gtest/gtest.h>

#include <string>

namespace {

const int FADE_OVER = PALETTE_FADE_TICKS;   // ticks: the fade has ended
const int LEFT = 1;                         // mouse_b with the left button down

struct GeometryCase {
    const char *what;
    ScreenArea monitor;
    int icon_w, icon_h, cap_w;
    int icons_left, palette_top, palette_left, palette_width, palette_height;
};

TEST(PaletteGeometry, CentresTheStripOnTheMonitorOneIconHeightAboveItsMiddle)
{
    const GeometryCase cases[] = {
        {"1024x768, 64x64 icons, 16 wide caps", {0, 0, 1024, 768}, 64, 64, 16, 352, 288, 336, 352, 64},
        {"odd halves truncate", {0, 0, 1024, 768}, 33, 31, 7, 429, 337, 422, 179, 31},
        {"strip wider than the screen truncates toward zero", {0, 0, 101, 41}, 64, 64, 16, -109, -75, -125, 352, 64},
        {"right one of two 1920x1080 monitors", {1920, 0, 1920, 1080}, 64, 64, 16, 2720, 444, 2704, 352, 64},
        {"1280x1024 right of a 1920x1080", {1920, 0, 1280, 1024}, 64, 64, 16, 2400, 416, 2384, 352, 64},
        {"monitor below another", {0, 1080, 1920, 1080}, 64, 64, 16, 800, 1524, 784, 352, 64},
    };
    for (const GeometryCase &c : cases) {
        PaletteGeometry g = palette_geometry(c.monitor, c.icon_w, c.icon_h, c.cap_w);
        EXPECT_EQ(g.icons_left, c.icons_left) << c.what;
        EXPECT_EQ(g.palette_top, c.palette_top) << c.what;
        EXPECT_EQ(g.palette_left, c.palette_left) << c.what;
        EXPECT_EQ(g.palette_width, c.palette_width) << c.what;
        EXPECT_EQ(g.palette_height, c.palette_height) << c.what;
    }
}

// What a palette visit returned, and how many frames it showed first.
struct Visit {
    int chosen;
    int frames;
};

Visit visit(const Script &script, const std::function<void(int)> &after_show = {})
{
    int chosen = 99;
    int frames = drive([&] { chosen = run_palette(); }, script, after_show);
    return {chosen, frames};
}

// The fade's pass (an ordinary frame at 8 bits), the pointer arriving at
// `down`, the press there, a drag to `up` with the button held, the release.
Script press_and_release(int down_x, int down_y, int up_x, int up_y)
{
    return {
        {0, down_x, down_y, 0, {}},
        {FADE_OVER, down_x, down_y, 0, {}},
        {FADE_OVER, down_x, down_y, LEFT, {}},
        {FADE_OVER, up_x, up_y, LEFT, {}},
        {FADE_OVER, up_x, up_y, 0, {}},
    };
}

struct ClickCase {
    std::string what;
    Script script;
    int chosen;
    bool returns_on_last_row;  // else the palette showed every row and Escape ended it
};

TEST(PaletteClicks, ChooseOnlyWhenPressAndReleaseFallOnTheSameSlotInsideTheStrip)
{
    reset_scene();
    const PaletteGeometry g = palette_on_screen();
    const int mid_y = g.palette_top + g.icon_h / 2;
    const int reach = g.icons_left + g.palette_width;
    auto slot_x = [&](int slot) { return g.icons_left + slot * g.icon_w + g.icon_w / 2; };
    auto click = [&](int x, int y) { return press_and_release(x, y, x, y); };

    std::vector<ClickCase> cases;
    for (int tool = TOOL_BAT; tool <= TOOL_LADY; ++tool)
        cases.push_back({"tool icon " + std::to_string(tool), click(slot_x(tool), mid_y), tool, true});
    cases.push_back({"end icon", click(slot_x(END_ICON), mid_y), NO_TOOL, true});
    cases.push_back({"right of the end icon, last column of the reach", click(reach - 1, mid_y), NO_TOOL, true});
    cases.push_back({"first column past the reach", click(reach, mid_y), NO_TOOL, false});
    cases.push_back({"column x = icons_left", click(g.icons_left, mid_y), NO_TOOL, false});
    cases.push_back({"column right of it", click(g.icons_left + 1, mid_y), TOOL_BAT, true});
    cases.push_back({"row y = palette_top", click(slot_x(2), g.palette_top), NO_TOOL, false});
    cases.push_back({"row below it", click(slot_x(2), g.palette_top + 1), TOOL_LASER, true});
    cases.push_back({"row y = palette_top + height", click(slot_x(2), g.palette_top + g.palette_height), NO_TOOL, false});
    cases.push_back({"row above it", click(slot_x(2), g.palette_top + g.palette_height - 1), TOOL_LASER, true});
    cases.push_back({"press on the lightsaber, release on the laser",
                     press_and_release(slot_x(1), mid_y, slot_x(2), mid_y), NO_TOOL, false});
    cases.push_back({"press outside the strip, release on the laser",
                     press_and_release(100, 100, slot_x(2), mid_y), NO_TOOL, false});
    cases.push_back({"press on the laser, wander off the strip and back, release",
                     press_and_release(slot_x(2), mid_y, 100, 100) +
                         Script{{FADE_OVER, slot_x(2), mid_y, LEFT, {}}, {FADE_OVER, slot_x(2), mid_y, 0, {}}},
                     TOOL_LASER, true});
    cases.push_back({"number keys 1 to 4 over the icons",
                     Script{{0, slot_x(0), mid_y, 0, {}}} + hold(2, {FADE_OVER, slot_x(0), mid_y, 0, {KEY_1}}) +
                         hold(2, {FADE_OVER, slot_x(1), mid_y, 0, {KEY_2}}) +
                         hold(2, {FADE_OVER, slot_x(2), mid_y, 0, {KEY_3}}) +
                         hold(2, {FADE_OVER, slot_x(3), mid_y, 0, {KEY_4}}),
                     NO_TOOL, false});
    cases.push_back({"Escape", Script{{0, 500, 500, 0, {}}, {FADE_OVER, 500, 500, 0, {KEY_ESC}}}, NO_TOOL, true});
    cases.push_back({"Escape with the button down on an icon",
                     Script{{0, slot_x(1), mid_y, 0, {}}, {FADE_OVER, slot_x(1), mid_y, LEFT, {}},
                            {FADE_OVER, slot_x(1), mid_y, LEFT, {KEY_ESC}}},
                     NO_TOOL, true});

    for (const ClickCase &c : cases) {
        reset_scene();
        Visit v = visit(c.script);
        EXPECT_EQ(v.chosen, c.chosen) << c.what;
        EXPECT_EQ(v.frames, (int)c.script.size() - (c.returns_on_last_row ? 1 : 0)) << c.what;
    }
}

int rgb_of(int colour)
{
    return (getr(colour) << 16) | (getg(colour) << 8) | getb(colour);
}

using Drawer = void (*)(BITMAP *, BITMAP *, int, int);

// The clean picture with the strip drawn over it by `draw`, laid out from
// the cap, icon and screen sizes by hand.
BITMAP *picture_with_strip(Drawer draw, const PaletteGeometry &g = palette_on_screen())
{
    BITMAP *bmp = create_bitmap(SCREEN_W, SCREEN_H);
    blit(desktop_bmp, bmp, 0, 0, 0, 0, SCREEN_W, SCREEN_H);
    draw(bmp, palette_cap, g.palette_left, g.palette_top);
    for (int i = 0; i < PALETTE_ICONS; ++i)
        draw(bmp, palette_icons[i], g.icons_left + i * g.icon_w, g.palette_top);
    draw(bmp, palette_cap_mirrored, g.icons_left + PALETTE_ICONS * g.icon_w, g.palette_top);
    return bmp;
}

void expect_screen_is_solid_strip_with_pointer_at(int x, int y, const std::string &when,
                                                  const PaletteGeometry &g = palette_on_screen())
{
    BITMAP *expected = picture_with_strip(draw_sprite, g);
    draw_sprite(expected, mouse_sprite, x, y);
    EXPECT_EQ(differences(screen, expected), "") << when;
    destroy_bitmap(expected);
}

TEST(PaletteLook, FrameIsTheSolidStripOverThePictureWithThePointerOnTop)
{
    if (bitmap_color_depth(screen) == 8)
        GTEST_SKIP() << "the 8-bit palette is checked by PaletteEightBit";
    reset_scene();
    const PaletteGeometry g = palette_on_screen();
    const int x = g.icons_left + 2 * g.icon_w + 10, y = g.palette_top + 20;
    visit({{0, x, y, 0, {}}, {FADE_OVER, x, y, 0, {}}}, [&](int frame) {
        if (frame == 1)
            expect_screen_is_solid_strip_with_pointer_at(x, y, "first frame after the fade");
    });
}

TEST(PaletteLook, PressedIconIsCoveredDarkBlueUntilTheRelease)
{
    reset_scene();
    const PaletteGeometry g = palette_on_screen();
    // The pointer sits in a slot's bottom-right corner, clear of every plate.
    auto corner_x = [&](int slot) { return g.icons_left + (slot + 1) * g.icon_w - 3; };
    const int corner_y = g.palette_top + g.icon_h - 3;
    const Script script = {
        {0, corner_x(1), corner_y, 0, {}},
        {FADE_OVER, corner_x(1), corner_y, 0, {}},     // 1: nothing pressed yet
        {FADE_OVER, corner_x(1), corner_y, LEFT, {}},  // 2: press on the lightsaber
        {FADE_OVER, corner_x(2), corner_y, LEFT, {}},  // 3: dragged onto the laser
        {FADE_OVER, corner_x(2), corner_y, 0, {}},     // 4: released there: nothing chosen
    };
    const int plate_in_frame[] = {NO_TOOL, NO_TOOL, TOOL_SABER, TOOL_SABER, NO_TOOL};
    const int dark_blue = rgb_of(makecol(0, 0, 64));
    BITMAP *plain = create_bitmap(SCREEN_W, SCREEN_H);

    Visit v = visit(script, [&](int frame) {
        if (frame == 1)
            blit(screen, plain, 0, 0, 0, 0, SCREEN_W, SCREEN_H);
        if (frame < 1)
            return;
        for (int slot = 0; slot < PALETTE_ICONS; ++slot) {
            // The plate runs from (x + 3, top + 4) to (x + w - 6, top + h - 6),
            // both included; the ring around it is always the icon itself.
            int left = g.icons_left + slot * g.icon_w + 3, top = g.palette_top + 4;
            int right = g.icons_left + (slot + 1) * g.icon_w - 6, bottom = g.palette_top + g.icon_h - 6;
            bool covered = true;
            for (int y = top; y <= bottom; ++y)
                for (int x = left; x <= right; ++x)
                    covered = covered && rgb_at(screen, x, y) == dark_blue;
            EXPECT_EQ(covered, slot == plate_in_frame[frame]) << "frame " << frame << " slot " << slot;
            if (slot != plate_in_frame[frame]) {
                EXPECT_EQ(differences(screen, plain, {left, top, right - left + 1, bottom - top + 1}), "")
                    << "frame " << frame << " slot " << slot;
            }
            EXPECT_EQ(differences(screen, plain, {left - 1, top - 1, right - left + 3, 1}), "") << "above the plate";
            EXPECT_EQ(differences(screen, plain, {left - 1, bottom + 1, right - left + 3, 1}), "") << "below";
            EXPECT_EQ(differences(screen, plain, {left - 1, top, 1, bottom - top + 1}), "") << "left of it";
            EXPECT_EQ(differences(screen, plain, {right + 1, top, 1, bottom - top + 1}), "") << "right of it";
        }
    });
    EXPECT_EQ(v.chosen, NO_TOOL);
    EXPECT_EQ(v.frames, (int)script.size());
    destroy_bitmap(plain);
}

// On a desktop of several monitors the strip opens on the one that holds
// the pointer, and its icons answer there.
struct MonitorCase {
    const char *what;
    int x, y;       // the pointer when the palette opens
    int monitor;    // index into the monitors below
};

TEST(PaletteMonitors, StripOpensOnTheMonitorHoldingThePointerAndItsIconsAnswerThere)
{
    // A 512 x 600 monitor beside a 512 x 768 one; no monitor shows the
    // bottom left corner of the screen.
    const std::vector<ScreenArea> two = {{0, 0, 512, 600}, {512, 0, 512, 768}};
    const MonitorCase cases[] = {
        {"pointer on the left monitor", 100, 500, 0},
        {"pointer on the right monitor", 900, 10, 1},
        {"pointer below the left monitor, nearer the right one", 500, 700, 1},
        {"pointer below the left monitor, nearer to it", 10, 640, 0},
    };
    for (const MonitorCase &c : cases) {
        reset_scene();
        monitors = two;
        const PaletteGeometry g =
            palette_geometry(two[c.monitor], palette_icons[0]->w, palette_icons[0]->h, palette_cap->w);
        const int laser_x = g.icons_left + 2 * g.icon_w + g.icon_w / 2, mid_y = g.palette_top + g.icon_h / 2;
        const Script script = {
            {0, c.x, c.y, 0, {}},
            {FADE_OVER, c.x, c.y, 0, {}},
            {FADE_OVER, laser_x, mid_y, LEFT, {}},
            {FADE_OVER, laser_x, mid_y, 0, {}},
        };
        Visit v = visit(script, [&](int frame) {
            if (frame == 1 && bitmap_color_depth(screen) > 8)
                expect_screen_is_solid_strip_with_pointer_at(c.x, c.y, c.what, g);
        });
        monitors.clear();
        EXPECT_EQ(v.chosen, TOOL_LASER) << c.what;
    }
}

// Above 8 bits the strip fades in over the first second.
class PaletteFade : public testing::Test {
protected:
    void SetUp() override
    {
        if (bitmap_color_depth(screen) == 8)
            GTEST_SKIP() << "no fade at 8 bits";
        reset_scene();
    }
};

TEST_F(PaletteFade, StripBlendsInAtTwoAndAHalfAlphaPerTickIgnoringPointerAndEscape)
{
    const PaletteGeometry g = palette_on_screen();
    const int x = g.icons_left + g.icon_w + 10, y = g.palette_top + 10;   // on the lightsaber
    // The tool left the ticks running: the palette starts them again from 0.
    const Script script = {
        {500, x, y, LEFT, {KEY_ESC}},
        {41, x, y, LEFT, {KEY_ESC}},
        {99, x, y, LEFT, {KEY_ESC}},
        {FADE_OVER, x, y, 0, {KEY_ESC}},
    };
    const int alpha_in_frame[] = {0, 102, 247};
    Visit v = visit(script, [&](int frame) {
        set_trans_blender(0, 0, 0, alpha_in_frame[frame]);
        BITMAP *expected = picture_with_strip(draw_trans_sprite);
        EXPECT_EQ(differences(screen, expected, {g.palette_left, g.palette_top, g.palette_width, g.palette_height}), "")
            << "alpha " << alpha_in_frame[frame];
        destroy_bitmap(expected);
    });
    EXPECT_EQ(v.chosen, NO_TOOL);
    EXPECT_EQ(v.frames, 3);
}

TEST_F(PaletteFade, ClearsTheToolsFrameOnceAndLeavesTheScreenOutsideTheStripAlone)
{
    const PaletteGeometry g = palette_on_screen();
    const int tools_last_frame = makecol(200, 30, 30), mark = makecol(255, 255, 255);
    clear_to_color(screen, tools_last_frame);
    BITMAP *clean = create_bitmap(SCREEN_W, SCREEN_H);
    blit(desktop_bmp, clean, 0, 0, 0, 0, SCREEN_W, SCREEN_H);
    const Script script = hold(3, {0, 100, 100, 0, {}}) + Script{{FADE_OVER, 100, 100, 0, {KEY_ESC}}};

    visit(script, [&](int frame) {
        const int below_strip = g.palette_top + g.palette_height;
        if (frame == 0) {
            EXPECT_EQ(differences(screen, clean, {0, 0, SCREEN_W, g.palette_top}), "") << "above the strip";
            EXPECT_EQ(differences(screen, clean, {0, below_strip, SCREEN_W, SCREEN_H - below_strip}), "")
                << "below the strip";
            EXPECT_EQ(differences(screen, clean, {0, g.palette_top, g.palette_left, g.palette_height}), "")
                << "left of the strip";
            const int right_of_strip = g.palette_left + g.palette_width;
            EXPECT_EQ(differences(screen, clean, {right_of_strip, g.palette_top, SCREEN_W - right_of_strip,
                                  g.palette_height}), "")
                << "right of the strip";
            // Anything drawn here now must survive the rest of the fade.
            rectfill(screen, 0, 0, 9, 9, mark);
            rectfill(screen, SCREEN_W - 10, SCREEN_H - 10, SCREEN_W - 1, SCREEN_H - 1, mark);
        } else {
            EXPECT_EQ(rgb_at(screen, 0, 0), rgb_of(mark)) << "frame " << frame;
            EXPECT_EQ(rgb_at(screen, SCREEN_W - 1, SCREEN_H - 1), rgb_of(mark)) << "frame " << frame;
        }
    });
    destroy_bitmap(clean);
}

TEST_F(PaletteFade, AClickHeldThroughTheFadeDoesNotCountAndEscapeActsRightAfterIt)
{
    const PaletteGeometry g = palette_on_screen();
    const int x = g.icons_left + g.icon_w / 2, y = g.palette_top + g.icon_h / 2;   // on the bat
    const Script through_fade = {{0, x, y, LEFT, {KEY_ESC}}, {50, x, y, LEFT, {KEY_ESC}}};
    const ClickCase cases[] = {
        {"Escape still held", through_fade + Script{{FADE_OVER, x, y, LEFT, {KEY_ESC}}}, NO_TOOL, true},
        {"button let go over the bat", through_fade + Script{{FADE_OVER, x, y, 0, {}}}, NO_TOOL, false},
    };
    for (const ClickCase &c : cases) {
        reset_scene();
        Visit v = visit(c.script);
        EXPECT_EQ(v.chosen, c.chosen) << c.what;
        EXPECT_EQ(v.frames, (int)c.script.size() - (c.returns_on_last_row ? 1 : 0)) << c.what;
    }
}

// At 8 bits there is no fade; these run only on an 8-bit screen (a ctest
// entry of their own).
class PaletteEightBit : public testing::Test {
protected:
    void SetUp() override
    {
        if (bitmap_color_depth(screen) != 8)
            GTEST_SKIP() << "needs an 8-bit screen";
        reset_scene();
    }
};

TEST_F(PaletteEightBit, EscapeHeldFromTheToolQuitsAtOnceLeavingTheScreenAsItWas)
{
    const int tools_last_frame = makecol(200, 30, 30);
    clear_to_color(screen, tools_last_frame);
    Visit v = visit({{0, 500, 500, 0, {KEY_ESC}}});
    EXPECT_EQ(v.chosen, NO_TOOL);
    EXPECT_EQ(v.frames, 0);
    for (int y = 0; y < SCREEN_H; y += 97)
        for (int x = 0; x < SCREEN_W; x += 89)
            ASSERT_EQ(rgb_at(screen, x, y), rgb_of(tools_last_frame)) << x << "," << y;
}

TEST_F(PaletteEightBit, FirstFrameShowsTheSolidStripAndTheFirstClickCounts)
{
    const PaletteGeometry g = palette_on_screen();
    const int x = g.icons_left + 2 * g.icon_w + 20, y = g.palette_top + 30;   // on the laser
    Visit v = visit({{0, x, y, 0, {}}, {0, x, y, LEFT, {}}, {0, x, y, 0, {}}}, [&](int frame) {
        if (frame == 0)
            expect_screen_is_solid_strip_with_pointer_at(x, y, "first frame");
    });
    EXPECT_EQ(v.chosen, TOOL_LASER);
    EXPECT_EQ(v.frames, 2);
}

TEST_F(PaletteEightBit, RoundedCornersOfTheStripShowThePictureThrough)
{
    const PaletteGeometry g = palette_on_screen();
    const int right = g.palette_left + g.palette_width - 1, bottom = g.palette_top + g.palette_height - 1;
    const int corners[][2] = {{g.palette_left, g.palette_top}, {right, g.palette_top},
                              {g.palette_left, bottom}, {right, bottom}};
    visit({{0, 0, 0, 0, {}}}, [&](int frame) {
        if (frame != 0)
            return;
        for (const auto &c : corners)
            EXPECT_EQ(rgb_at(screen, c[0], c[1]), rgb_at(desktop_bmp, c[0], c[1])) << c[0] << "," << c[1];
    });
}

}  // namespace
