// The Windows build under Wine: havoc.exe from the folder that goes into
// havoc-windows.zip, on a private Xvfb with a known desktop picture, used as
// a person would through real X input. It must photograph the desktop
// through GDI, show the palette and every tool at work, sound the glass and
// the shots through DirectSound on their side of the screen, keep the damage,
// leave with exit code 0 and the desktop as it was, and without havoc.dat
// say so in a box and fail.
#include "e2e/desktop.h"
#include "e2e/expected_palette.h"
#include "e2e/runs.h"
#include "e2e/sound.h"
#include "shell/art_geometry.h"

// gtest before the X headers, whose macros (None, Bool, ...) it would trip over.
#include <gtest/gtest.h>

#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

#include <csignal>
#include <cstdlib>
#include <fstream>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

const int W = 1024, H = 768;
const double START_SECONDS = 60, SHORT_SECONDS = 20;

bool run(const std::vector<std::string> &args, const std::vector<std::string> &env)
{
    int pid = spawn(args, env, "", "/dev/null");
    int status = 0;
    return waitpid(pid, &status, 0) == pid && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// One Wine prefix for the whole run, in a temporary folder: made once (the
// slow part), with Wine's Direct3D drawing through plain GDI, which keeps
// the full-screen loop at hundreds of frames a second on a virtual X server.
// At the end every Wine process of it is ended and the folder removed.
class WinePrefix : public testing::Environment {
public:
    static std::string path;

    // What every Wine command of the tests runs with: no debugging chatter,
    // and no offer to install Wine's .NET and HTML engines.
    static std::vector<std::string> env(const std::string &home)
    {
        return {"WINEPREFIX=" + path, "WINEDEBUG=-all", "WINEDLLOVERRIDES=mscoree,mshtml=",
                "PATH=/usr/bin:/bin", "HOME=" + home};
    }
    static std::vector<std::string> env() { return env(path); }

    void SetUp() override
    {
        path = make_temp_dir("wine");
        ASSERT_TRUE(run({"wineboot", "--init"}, env())) << "wineboot failed";
        ASSERT_TRUE(run({"wine", "reg", "add", "HKCU\\Software\\Wine\\Direct3D", "/v", "renderer",
                         "/d", "gdi", "/f"}, env()));
        ASSERT_TRUE(run({"wineserver", "--wait"}, env()));
    }

    void TearDown() override
    {
        run({"wineserver", "--kill"}, env());
        run({"wineserver", "--wait"}, env());
        std::system(("rm -rf " + path).c_str());
    }
};
std::string WinePrefix::path;

// The library under Wine reads a press and its release that come between
// two frames as no press at all, and a loaded machine may run havoc at a few
// frames a second: so a press is held until what it does is seen, or for
// HOLD where that cannot be seen at once. A key is never held much longer:
// from 660 ms on the X server repeats it.
const auto HOLD = std::chrono::milliseconds(300);

void set_button(XServer &x, bool down)
{
    XTestFakeButtonEvent(x.display, 1, down, 0);
    XFlush(x.display);
}

void set_key(XServer &x, unsigned long keysym, bool down)
{
    XTestFakeKeyEvent(x.display, XKeysymToKeycode(x.display, keysym), down, 0);
    XFlush(x.display);
}

bool hold_button_until(XServer &x, const std::function<bool()> &done, double seconds)
{
    set_button(x, true);
    bool seen = wait_until(done, seconds);
    set_button(x, false);
    return seen;
}

// Taps the key, and again while `done` does not follow within a few
// seconds: a tap a loaded machine misses changes nothing on the screen.
bool tap_key_until(XServer &x, unsigned long keysym, const std::function<bool()> &done, double seconds)
{
    const double TAP_SEEN_SECONDS = 5;
    return wait_until([&] {
        set_key(x, keysym, true);
        std::this_thread::sleep_for(HOLD);
        set_key(x, keysym, false);
        return wait_until(done, TAP_SEEN_SECONDS);
    }, seconds);
}

// The library reads its configuration from beside the .exe. Without
// acceleration the mouse moves two relative units per pixel, so a test can
// aim exactly.
const char TEST_CONFIG[] = "[mouse]\nmouse_accel_factor = 0\n";
const int MOTION_PER_PIXEL = 2;

// The packed folder as build-windows.sh leaves it for the zip.
const std::string WINDOWS_FOLDER = HAVOC_WINDOWS_DIR;

// A run of havoc.exe under Wine, in a fresh working directory holding a copy
// of the packed folder (less havoc.dat when told) and the test's
// allegro.cfg, with a private HOME whose sound goes to a file.
struct WineHavoc : Process {
    explicit WineHavoc(XServer *x, bool with_data = true)
    {
        home = scratch_folder("wine-home");
        std::string workdir = scratch_folder("wine-cwd");
        std::string copy = "cp " + WINDOWS_FOLDER + "/havoc.exe " + (with_data ? WINDOWS_FOLDER + "/havoc.dat " : "") + workdir;
        EXPECT_EQ(std::system(copy.c_str()), 0);
        write_sound_home(home);
        std::ofstream(workdir + "/allegro.cfg") << TEST_CONFIG;
        std::vector<std::string> env = WinePrefix::env(home);
        env.push_back("DISPLAY=" + x->name);
        start({"wine", "havoc.exe"}, env, workdir, home + "/stderr.txt");
    }

    ~WineHavoc()
    {
        end();
        // Wine's own processes of this run go before their X server does.
        run({"wineserver", "--kill"}, WinePrefix::env());
    }

    std::string sound_file() const { return home + "/sound.wav"; }

    std::string home;
};

const Rect WHOLE_SCREEN{0, 0, W, H};

// A pressed icon is covered by a dark plate of about 55 x 54 pixels; the
// fade has visibly started once this many pixels of the strip changed.
const int PLATE_PIXELS = 2000;
const int FADE_STARTED = 1000;

// For a failure's message: the screen as it was, kept as a picture file.
std::string kept_as_file(const Picture &p, const std::string &what)
{
    std::string path = make_temp_dir("wine-failure") + "/" + what + ".ppm";
    std::ofstream out(path, std::ios::binary);
    out << "P6\n" << p.w << " " << p.h << "\n255\n";
    for (int c : p.rgb) {
        char pixel[3] = {(char)(c >> 16), (char)(c >> 8), (char)c};
        out.write(pixel, 3);
    }
    return "the screen is kept in " + path;
}

// The library's own arrow, which the palette draws at the pointer: X black,
// . white, the rest transparent.
const char *const ARROW[] = {
    "XX",
    "X.X",
    "X..X",
    "X...X",
    "X....X",
    "X.....X",
    "X......X",
    "X.......X",
    "X........X",
    "X.....XXX",
    "X..X..X",
    "X.X X..X",
    " X  X..X",
    "     X..X",
    "     X..X",
    "      XX",
};

bool arrow_at(const Picture &p, int px, int py)
{
    for (int row = 0; row < (int)(sizeof ARROW / sizeof *ARROW); ++row)
        for (int col = 0; ARROW[row][col]; ++col) {
            int want = ARROW[row][col] == 'X' ? 0x000000 : ARROW[row][col] == '.' ? 0xffffff : -1;
            int x = px + col, y = py + row;
            if (want >= 0 && x < W && y < H && p.at(x, y) != want)
                return false;
        }
    return true;
}

// Where the person rests the pointer on the palette, clear of the strip.
const int REST_X = 900, REST_Y = 700;

class UnderWine : public testing::TestWithParam<int> {
protected:
    int depth = GetParam();
    XServer x{W, H, depth};
    Picture desktop = set_root_picture(x);
    WineHavoc havoc{&x};
    Picture palette = expected_palette(desktop, WINDOWS_FOLDER + "/havoc.dat", depth);
    PaletteLayout place = palette_layout(WHOLE_SCREEN, WINDOWS_FOLDER + "/havoc.dat");
    int strip_pixels = palette_pixels_missing(desktop, place.strip);

    // Where the library's pointer is, as far as the test has moved it.
    int pointer_x = 0, pointer_y = 0;

    // Relative motion from where the pointer is to (px, py).
    void move_to(int px, int py)
    {
        move_pointer_by(x, MOTION_PER_PIXEL * (px - pointer_x), MOTION_PER_PIXEL * (py - pointer_y));
        pointer_x = px;
        pointer_y = py;
    }

    // A click that starts something the tool then finishes by itself.
    void click_at(int px, int py)
    {
        move_to(px, py);
        set_button(x, true);
        std::this_thread::sleep_for(HOLD);
        set_button(x, false);
        std::this_thread::sleep_for(HOLD);
    }

    // Pixels of `area` where the palette's icons and end pieces (not their
    // transparent parts, where the damaged picture shows through) show
    // other than fully faded in.
    int palette_pixels_missing(const Picture &now, Rect area)
    {
        int n = 0;
        for (int y = area.y; y < area.y + area.h; ++y)
            for (int px = area.x; px < area.x + area.w; ++px)
                if (palette.at(px, y) != desktop.at(px, y) && now.at(px, y) != palette.at(px, y))
                    ++n;
        return n;
    }

    bool palette_with_pointer_at(int px, int py)
    {
        Picture now = screenshot(x);
        return palette_pixels_missing(now, place.strip) == 0 && arrow_at(now, px, py);
    }

    // Waits for the palette and puts the pointer at rest beside it, seen
    // there. The library adds up all the motion it reads at once before it
    // stops the pointer at an edge, and reads none before it has the mouse,
    // so the way there goes by the top-left corner, each step seen before
    // the next: from then on the pointer is where the test moved it.
    bool palette_shown()
    {
        return wait_until([&] {
            move_pointer_by(x, -MOTION_PER_PIXEL * W, -MOTION_PER_PIXEL * H);
            if (!wait_until([&] { return palette_with_pointer_at(0, 0); }, SHORT_SECONDS / 4))
                return false;
            pointer_x = pointer_y = 0;
            move_to(REST_X, REST_Y);
            return wait_until([&] { return palette_with_pointer_at(REST_X, REST_Y); }, SHORT_SECONDS / 4);
        }, START_SECONDS);
    }

    // A complete click on a tool's icon: the button held until the icon
    // shows pressed, and let go until the palette has gone.
    void take_tool(int slot)
    {
        ASSERT_TRUE(palette_shown()) << "no palette to take tool " << slot << " from; "
                                     << kept_as_file(screenshot(x), "palette") << "\n" << havoc.stderr_text();
        move_to(place.slot_x(slot), place.slot_y());
        Rect icon = place.icon(slot);
        ASSERT_TRUE(hold_button_until(x, [&] { return palette_pixels_missing(screenshot(x), icon) > PLATE_PIXELS; },
                                      SHORT_SECONDS))
            << "icon " << slot << " never showed pressed; " << kept_as_file(screenshot(x), "press");
        ASSERT_TRUE(wait_until([&] { return palette_pixels_missing(screenshot(x), place.strip) > strip_pixels / 2; },
                               SHORT_SECONDS))
            << "the palette stayed after a click on icon " << slot << "; " << kept_as_file(screenshot(x), "release");
    }

    // Waits until `area` differs from the desktop in more than `pixels`
    // pixels and has stopped changing: damage in the picture, not sparks
    // flying over it.
    bool damage_settles(Rect area, int pixels, double seconds = SHORT_SECONDS)
    {
        Picture previous;
        return wait_until([&] {
            Picture now = screenshot(x);
            bool settled = !previous.rgb.empty() && differing(now, previous, area) == 0;
            previous = now;
            return settled && differing(now, desktop, area) > pixels;
        }, seconds);
    }

    // Escape, until the strip starts to fade in. Each tap ends well before
    // the fade does: the faded-in palette takes Escape as a request to quit.
    void back_to_palette()
    {
        Picture in_tool = screenshot(x);
        ASSERT_TRUE(tap_key_until(x, XK_Escape, [&] {
            return differing(screenshot(x), in_tool, place.strip) > FADE_STARTED;
        }, SHORT_SECONDS)) << "Escape did not leave the tool; " << kept_as_file(screenshot(x), "escape");
        ASSERT_TRUE(palette_shown()) << "Escape did not bring the palette back; "
                                     << kept_as_file(screenshot(x), "palette") << "\n" << havoc.stderr_text();
    }
};

TEST_P(UnderWine, EveryToolDamagesThePictureAndEscapeLeavesTheDesktopAsItWas)
{
    ASSERT_TRUE(palette_shown()) << "no palette with the pointer where it was moved; "
                                 << kept_as_file(screenshot(x), "palette") << "\n" << havoc.stderr_text();
    EXPECT_EQ(differing(screenshot(x), palette, WHOLE_SCREEN, arrow_box(REST_X, REST_Y)), 0)
        << "but for the arrow, the screen is the palette over the unchanged desktop";

    // The bat: a click, and at the end of the swing the glass cracks under
    // the pointer. The bat hangs left of and below its grip, so the crack
    // shows right of it before the bat is moved away. The glass breaks on
    // the left of the screen, and sounds from there.
    const int CRACK_X = 200, CRACK_Y = 550, BAT_RIGHT = BAT_FRAME_W - BAT_GRIP_X, CRACK_RADIUS = CRACK_CENTRE;
    const std::string sound = havoc.sound_file();
    take_tool(0);
    double swung = sound_seconds(sound);
    click_at(CRACK_X, CRACK_Y);
    EXPECT_TRUE(damage_settles({CRACK_X + BAT_RIGHT, CRACK_Y - CRACK_RADIUS, CRACK_RADIUS - BAT_RIGHT,
                                2 * CRACK_RADIUS}, 30))
        << "no crack beside the bat";
    move_to(W - 10, 10);
    EXPECT_TRUE(wait_until([&] { return differing(screenshot(x), desktop, around(CRACK_X, CRACK_Y, 20)) > 200; },
                           SHORT_SECONDS))
        << "no crack where the bat struck";
    EXPECT_TRUE(wait_until([&] { return loudness(sound, swung, 1e9).left > AUDIBLE; }, SHORT_SECONDS))
        << "no glass sound";
    Stereo glass = loudness(sound, swung, 1e9);
    EXPECT_GT(glass.left, 1.5 * glass.right) << "a crack on the left sounds from the left";
    back_to_palette();

    // The lightsaber: a drag with the button held burns an unbroken line.
    const int TRAIL_Y = 650, TRAIL_FROM = 100, TRAIL_TO = 600, TRAIL_STEP = 20;
    take_tool(1);
    move_to(TRAIL_FROM, TRAIL_Y);
    set_button(x, true);
    std::this_thread::sleep_for(HOLD);
    for (int px = TRAIL_FROM + TRAIL_STEP; px <= TRAIL_TO; px += TRAIL_STEP)
        move_to(px, TRAIL_Y);
    set_button(x, false);
    std::this_thread::sleep_for(HOLD);
    move_to(W - 10, 10);
    // The blade ignites over the first steps; from there on no gap. (The
    // burn marks are black at their middle, like the desktop's black
    // squares, so a gap shows only where the desktop has colour.)
    const int BURNT_FROM = TRAIL_FROM + 150, BURNT_TO = TRAIL_TO - 20;
    auto gaps = [&](const Picture &now) {
        int n = 0;
        for (int px = BURNT_FROM; px <= BURNT_TO; ++px)
            if (desktop.at(px, TRAIL_Y) != 0 && now.at(px, TRAIL_Y) == desktop.at(px, TRAIL_Y))
                ++n;
        return n;
    };
    EXPECT_TRUE(wait_until([&] { return gaps(screenshot(x)) == 0; }, SHORT_SECONDS))
        << "the lightsaber's trail has a gap";
    back_to_palette();

    // The laser: a click, and once the gun has run through its frames a hole
    // burns at the pointer. The gun hangs right of and below the pointer,
    // and the shot jolts the pointer a few pixels right and down, so the
    // hole's left part shows beside the gun. Fired right of the middle, the
    // shot sounds from the right.
    const int HOLE_X = 750, HOLE_Y = 150, HOLE_RADIUS = LASER_HOLE_SIZE / 2, JOLT_MAX = 6;
    // Where the hole's middle lands, wherever the jolt takes it.
    const Rect HOLE = around(HOLE_X + JOLT_MAX / 2, HOLE_Y + JOLT_MAX / 2, HOLE_RADIUS / 2 + JOLT_MAX);
    take_tool(2);
    // A click a loaded machine misses is clicked again.
    const double SHOT_SECONDS = 5;
    double fired = 0;
    EXPECT_TRUE(wait_until([&] {
        fired = sound_seconds(sound);
        click_at(HOLE_X, HOLE_Y);
        return damage_settles({HOLE_X - HOLE_RADIUS, HOLE_Y - HOLE_RADIUS, HOLE_RADIUS, 2 * HOLE_RADIUS + 1}, 15,
                              SHOT_SECONDS);
    }, SHORT_SECONDS)) << "no hole beside the gun; " << kept_as_file(screenshot(x), "laser");
    move_to(10, H - 10);
    EXPECT_TRUE(wait_until([&] { return differing(screenshot(x), desktop, HOLE) > 100; },
                           SHORT_SECONDS))
        << "no hole where the laser fired";
    EXPECT_TRUE(wait_until([&] { return loudness(sound, fired, 1e9).right > AUDIBLE; }, SHORT_SECONDS))
        << "no shot sound";
    Stereo shot = loudness(sound, fired, 1e9);
    EXPECT_GT(shot.right, 1.5 * shot.left) << "a shot on the right sounds from the right";
    back_to_palette();

    // The lady: left alone, she eats a black path. (The strip, shown in the
    // picture before her, is left out.)
    Picture before_lady = screenshot(x);
    take_tool(3);
    EXPECT_TRUE(wait_until([&] {
        Picture now = screenshot(x);
        int eaten = 0;
        for (int y = 0; y < H; ++y)
            for (int px = 0; px < W; ++px)
                if (now.at(px, y) == 0 && before_lady.at(px, y) != 0 && !place.strip.contains(px, y))
                    ++eaten;
        return eaten > 3000;
    }, SHORT_SECONDS)) << "no black path after the lady";
    back_to_palette();

    // Under the palette every tool's damage stays.
    Picture under_palette = screenshot(x);
    EXPECT_GT(differing(under_palette, desktop, around(CRACK_X, CRACK_Y, 20)), 200) << "the crack stays";
    EXPECT_EQ(gaps(under_palette), 0) << "the trail stays";
    EXPECT_GT(differing(under_palette, desktop, HOLE), 100) << "the hole stays";

    ASSERT_TRUE(tap_key_until(x, XK_Escape, [&] { return havoc.wait_exit(0); }, SHORT_SECONDS))
        << "Escape on the palette did not quit";
    ASSERT_TRUE(WIFEXITED(havoc.status));
    EXPECT_EQ(WEXITSTATUS(havoc.status), 0) << havoc.stderr_text();
    EXPECT_TRUE(wait_until([&] { return differing(screenshot(x), desktop, WHOLE_SCREEN) == 0; }, SHORT_SECONDS))
        << "the desktop is not back as it was";
}

INSTANTIATE_TEST_SUITE_P(Desktop, UnderWine, testing::Values(24, 16));

// The library's message box: a window titled "havoc" smaller than the screen.
bool message_box_shown(XServer &x)
{
    for (const WindowSeen &w : viewable_windows(x))
        if (w.name == "havoc" && w.w < x.w && w.h < x.h)
            return true;
    return false;
}

TEST(UnderWineWithoutData, ItSaysSoInABoxAndOnStderrAndFails)
{
    XServer x(W, H, 24);
    Picture desktop = set_root_picture(x);
    WineHavoc havoc(&x, /*with_data=*/false);
    ASSERT_TRUE(wait_until([&] { return message_box_shown(x); }, START_SECONDS))
        << "no message box: " << havoc.stderr_text();
    EXPECT_FALSE(havoc.wait_exit(1)) << "the box waits for the person";
    ASSERT_TRUE(tap_key_until(x, XK_Return, [&] { return havoc.wait_exit(0); }, SHORT_SECONDS))
        << "the box did not close on Return";
    ASSERT_TRUE(WIFEXITED(havoc.status));
    EXPECT_NE(WEXITSTATUS(havoc.status), 0);
    std::string text = havoc.stderr_text();
    EXPECT_NE(text.find("havoc: cannot open havoc.dat"), std::string::npos) << text;
    EXPECT_TRUE(wait_until([&] { return differing(screenshot(x), desktop, WHOLE_SCREEN) == 0; }, SHORT_SECONDS))
        << "the desktop is not back as it was";
}

}  // namespace

int main(int argc, char **argv)
{
    testing::InitGoogleTest(&argc, argv);
    testing::AddGlobalTestEnvironment(new WinePrefix);
    return RUN_ALL_TESTS();
}
