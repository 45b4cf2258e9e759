// The Windows build under Wine: havoc.exe from the folder that goes into
// havoc-windows.zip, on a private X server with a known desktop picture, used
// as a person would through real X input. It must photograph the desktop
// through GDI, show nothing but the desktop until the palette fades in, on
// the monitor that holds the pointer, show every tool at work, sound the
// glass and the shots through DirectSound on their side of the screen, keep
// the damage, leave on Escape or Alt+F4 with exit code 0 and the desktop and
// the pointer as they were, do all that on two monitors and at 150 % display
// scaling, and without havoc.dat say so in a box and fail.
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

// The packed folder as build-windows.sh leaves it for the zip.
const std::string WINDOWS_FOLDER = HAVOC_WINDOWS_DIR;

// A run of havoc.exe under Wine, in a fresh working directory holding a copy
// of the packed folder (less havoc.dat when told), with a private HOME whose
// sound goes to a file.
struct WineHavoc : Process {
    explicit WineHavoc(XServer *x, bool with_data = true)
    {
        home = scratch_folder("wine-home");
        std::string workdir = scratch_folder("wine-cwd");
        std::string copy = "cp " + WINDOWS_FOLDER + "/havoc.exe " + (with_data ? WINDOWS_FOLDER + "/havoc.dat " : "") + workdir;
        EXPECT_EQ(std::system(copy.c_str()), 0);
        write_sound_home(home);
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
            if (want >= 0 && x < p.w && y < p.h && p.at(x, y) != want)
                return false;
        }
    return true;
}

// A person at a desktop under Wine: its X server, the desktop as it was
// before havoc started, havoc, and the monitor the palette opens on. The
// library reads the system's pointer over its window, so the test's pointer
// is havoc's.
class WineDesktop : public testing::Test {
protected:
    std::unique_ptr<XServer> x;
    Picture desktop;
    std::unique_ptr<WineHavoc> havoc;
    Rect home;
    Picture palette;
    PaletteLayout place;
    int strip_pixels = 0;

    // Starts havoc on the desktop that `x` shows; its palette opens on `home`.
    void launch(const Rect &home_monitor)
    {
        home = home_monitor;
        havoc.reset(new WineHavoc(x.get()));
        palette = expected_palette(desktop, WINDOWS_FOLDER + "/havoc.dat", x->depth, home);
        place = palette_layout(home, WINDOWS_FOLDER + "/havoc.dat");
        strip_pixels = palette_pixels_missing(desktop, strip());
    }

    Rect whole() const { return {0, 0, x->w, x->h}; }
    Rect strip() const { return place.strip; }
    // Where the person rests the pointer on the palette, clear of the strip.
    int rest_x() const { return home.x + home.w - 124; }
    int rest_y() const { return home.y + home.h - 68; }

    void move_to(int px, int py) { move_pointer(*x, px, py); }

    // A click that starts something the tool then finishes by itself.
    void click_at(int px, int py)
    {
        move_to(px, py);
        set_button(*x, true);
        std::this_thread::sleep_for(HOLD);
        set_button(*x, false);
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
        Picture now = screenshot(*x);
        return palette_pixels_missing(now, strip()) == 0 && arrow_at(now, px, py);
    }

    // Waits for the palette with the pointer put at rest beside it, and seen
    // there: once the library reads the mouse, it draws its arrow where the
    // pointer is.
    bool palette_shown()
    {
        return wait_until([&] {
            move_to(rest_x(), rest_y());
            return wait_until([&] { return palette_with_pointer_at(rest_x(), rest_y()); }, SHORT_SECONDS / 4);
        }, START_SECONDS);
    }

    // A complete click on a tool's icon: the button held until the icon
    // shows pressed, and let go until the palette has gone.
    void take_tool(int slot)
    {
        ASSERT_TRUE(palette_shown()) << "no palette to take tool " << slot << " from; "
                                     << kept_as_file(screenshot(*x), "palette") << "\n" << havoc->stderr_text();
        move_to(place.slot_x(slot), place.slot_y());
        Rect icon = place.icon(slot);
        ASSERT_TRUE(hold_button_until(*x, [&] { return palette_pixels_missing(screenshot(*x), icon) > PLATE_PIXELS; },
                                      SHORT_SECONDS))
            << "icon " << slot << " never showed pressed; " << kept_as_file(screenshot(*x), "press");
        ASSERT_TRUE(wait_until([&] { return palette_pixels_missing(screenshot(*x), strip()) > strip_pixels / 2; },
                               SHORT_SECONDS))
            << "the palette stayed after a click on icon " << slot << "; " << kept_as_file(screenshot(*x), "release");
    }

    // Waits until `area` differs from the desktop in more than `pixels`
    // pixels and has stopped changing: damage in the picture, not sparks
    // flying over it.
    bool damage_settles(Rect area, int pixels, double seconds = SHORT_SECONDS)
    {
        Picture previous;
        return wait_until([&] {
            Picture now = screenshot(*x);
            bool settled = !previous.rgb.empty() && differing(now, previous, area) == 0;
            previous = now;
            return settled && differing(now, desktop, area) > pixels;
        }, seconds);
    }

    // Escape, until the strip starts to fade in. Each tap ends well before
    // the fade does: the faded-in palette takes Escape as a request to quit.
    void back_to_palette()
    {
        Picture in_tool = screenshot(*x);
        ASSERT_TRUE(tap_key_until(*x, XK_Escape, [&] {
            return differing(screenshot(*x), in_tool, strip()) > FADE_STARTED;
        }, SHORT_SECONDS)) << "Escape did not leave the tool; " << kept_as_file(screenshot(*x), "escape");
        ASSERT_TRUE(palette_shown()) << "Escape did not bring the palette back; "
                                     << kept_as_file(screenshot(*x), "palette") << "\n" << havoc->stderr_text();
    }

    // Escape on the palette: havoc ends with exit code 0, and the screen
    // shows the desktop as it was.
    void quit_from_palette()
    {
        ASSERT_TRUE(tap_key_until(*x, XK_Escape, [&] { return havoc->wait_exit(0); }, SHORT_SECONDS))
            << "Escape on the palette did not quit; " << kept_as_file(screenshot(*x), "quit");
        ended_with_the_desktop_back();
    }

    void ended_with_the_desktop_back()
    {
        ASSERT_TRUE(WIFEXITED(havoc->status));
        EXPECT_EQ(WEXITSTATUS(havoc->status), 0) << havoc->stderr_text();
        EXPECT_TRUE(wait_until([&] { return differing(screenshot(*x), desktop, whole()) == 0; }, SHORT_SECONDS))
            << "the desktop is not back as it was; " << kept_as_file(screenshot(*x), "after");
    }
};

// On one Xvfb screen of W x H at a desktop's depth.
class UnderWine : public WineDesktop, public testing::WithParamInterface<int> {
protected:
    void SetUp() override
    {
        x.reset(new XServer(W, H, GetParam()));
        desktop = set_root_picture(*x);
        launch(whole());
    }
};

TEST_P(UnderWine, EveryToolDamagesThePictureAndEscapeLeavesTheDesktopAsItWas)
{
    ASSERT_TRUE(palette_shown()) << "no palette with the pointer where it was moved; "
                                 << kept_as_file(screenshot(*x), "palette") << "\n" << havoc->stderr_text();
    EXPECT_EQ(differing(screenshot(*x), palette, whole(), arrow_box(rest_x(), rest_y())), 0)
        << "but for the arrow, the screen is the palette over the unchanged desktop";

    // The bat: a click, and at the end of the swing the glass cracks under
    // the pointer. The bat hangs left of and below its grip, so the crack
    // shows right of it before the bat is moved away. The glass breaks on
    // the left of the screen, and sounds from there.
    const int CRACK_X = 200, CRACK_Y = 550, BAT_RIGHT = BAT_FRAME_W - BAT_GRIP_X, CRACK_RADIUS = CRACK_CENTRE;
    const std::string sound = havoc->sound_file();
    take_tool(0);
    double swung = sound_seconds(sound);
    click_at(CRACK_X, CRACK_Y);
    EXPECT_TRUE(damage_settles({CRACK_X + BAT_RIGHT, CRACK_Y - CRACK_RADIUS, CRACK_RADIUS - BAT_RIGHT,
                                2 * CRACK_RADIUS}, 30))
        << "no crack beside the bat";
    move_to(W - 10, 10);
    EXPECT_TRUE(wait_until([&] { return differing(screenshot(*x), desktop, around(CRACK_X, CRACK_Y, 20)) > 200; },
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
    set_button(*x, true);
    std::this_thread::sleep_for(HOLD);
    for (int px = TRAIL_FROM + TRAIL_STEP; px <= TRAIL_TO; px += TRAIL_STEP)
        move_to(px, TRAIL_Y);
    set_button(*x, false);
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
    EXPECT_TRUE(wait_until([&] { return gaps(screenshot(*x)) == 0; }, SHORT_SECONDS))
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
    }, SHORT_SECONDS)) << "no hole beside the gun; " << kept_as_file(screenshot(*x), "laser");
    move_to(10, H - 10);
    EXPECT_TRUE(wait_until([&] { return differing(screenshot(*x), desktop, HOLE) > 100; },
                           SHORT_SECONDS))
        << "no hole where the laser fired";
    EXPECT_TRUE(wait_until([&] { return loudness(sound, fired, 1e9).right > AUDIBLE; }, SHORT_SECONDS))
        << "no shot sound";
    Stereo shot = loudness(sound, fired, 1e9);
    EXPECT_GT(shot.right, 1.5 * shot.left) << "a shot on the right sounds from the right";
    back_to_palette();

    // The lady: left alone, she eats a black path. (The strip, shown in the
    // picture before her, is left out.)
    Picture before_lady = screenshot(*x);
    take_tool(3);
    EXPECT_TRUE(wait_until([&] {
        Picture now = screenshot(*x);
        int eaten = 0;
        for (int y = 0; y < H; ++y)
            for (int px = 0; px < W; ++px)
                if (now.at(px, y) == 0 && before_lady.at(px, y) != 0 && !strip().contains(px, y))
                    ++eaten;
        return eaten > 3000;
    }, SHORT_SECONDS)) << "no black path after the lady";
    back_to_palette();

    // Under the palette every tool's damage stays.
    Picture under_palette = screenshot(*x);
    EXPECT_GT(differing(under_palette, desktop, around(CRACK_X, CRACK_Y, 20)), 200) << "the crack stays";
    EXPECT_EQ(gaps(under_palette), 0) << "the trail stays";
    EXPECT_GT(differing(under_palette, desktop, HOLE), 100) << "the hole stays";

    quit_from_palette();
}

INSTANTIATE_TEST_SUITE_P(Desktop, UnderWine, testing::Values(24, 16));

// Two monitors side by side on Xorg's dummy card, the second smaller, the
// user's pointer on it: Windows' virtual screen of 3200 x 1080 with a
// corner that no monitor shows.
class TwoMonitorsUnderWine : public WineDesktop {
protected:
    const std::vector<Rect> MONITORS = {{0, 0, 1920, 1080}, {1920, 0, 1280, 1024}};
    const int SCREEN_W = 3200, SCREEN_H = 1080;
    const int POINTER_X = 2500, POINTER_Y = 500;
    std::string dir = make_temp_dir("wine-monitors");

    void SetUp() override
    {
        x = xorg_with_monitors(dir, MONITORS, SCREEN_W, SCREEN_H);
        ASSERT_NE(x->display, nullptr);
        desktop = set_root_picture(*x);
        move_pointer(*x, POINTER_X, POINTER_Y);
    }

    void TearDown() override
    {
        havoc.reset();
        x.reset();
        std::system(("rm -rf " + dir).c_str());
    }

    // Pixels that some monitor shows, outside `except`, that differ.
    int differing_on_monitors(const Picture &a, const Picture &b, Rect except = {0, 0, 0, 0})
    {
        int n = 0;
        for (const Rect &m : MONITORS)
            n += differing(a, b, m, except);
        return n;
    }
};

TEST_F(TwoMonitorsUnderWine, CoversBothFromTheFirstFrameOpensWhereThePointerWasAndGivesBothBack)
{
    const Rect &right = MONITORS[1];
    launch(right);
    // From launch to the fade, rows along the top, through the strip, along
    // the middle and along the bottom of each monitor show the desktop.
    const std::vector<int> rows = {0, strip().y + place.icon_h / 2, SCREEN_H / 2, right.h - 1, SCREEN_H - 1};
    Sampling s = sample_rows_until_fade(*x, desktop, rows, strip(), MONITORS, START_SECONDS);
    EXPECT_EQ(s.off, 0) << s.off << " of " << s.samples << " samples differ from the desktop (at most " << s.worst
                        << " pixels) between " << s.first_off_ms << " and " << s.last_off_ms << " ms";
    ASSERT_GE(s.fade_ms, 0) << "the palette never began to fade in on the right monitor; "
                            << kept_as_file(screenshot(*x), "fade") << "\n" << havoc->stderr_text();
    std::printf("two monitors under Wine: %d samples, %d off the desktop, fade from %.0f ms\n", s.samples, s.off,
                s.fade_ms);

    // Faded in: the palette on the right monitor, over a desktop unchanged
    // on both but for havoc's arrow, which starts mid-monitor.
    const int ARROW_X = right.x + right.w / 2, ARROW_Y = right.y + right.h / 2;
    EXPECT_TRUE(wait_until([&] {
        return differing_on_monitors(screenshot(*x), palette, arrow_box(ARROW_X, ARROW_Y)) == 0;
    }, SHORT_SECONDS)) << "the first frames are not the palette over the desktop on both monitors; "
                       << kept_as_file(screenshot(*x), "palette");

    // The bat's crack on the right monitor, and only there. The palette
    // comes back on the monitor the pointer is on, so it stays on this one.
    // The crack comes where the pointer is at the end of the swing, so the
    // pointer stays until it shows right of the bat.
    const int CRACK_X = 2900, CRACK_Y = 800, AWAY_X = 3100, AWAY_Y = 100;
    const int BAT_RIGHT = BAT_FRAME_W - BAT_GRIP_X, CRACK_RADIUS = CRACK_CENTRE;
    take_tool(0);
    click_at(CRACK_X, CRACK_Y);
    EXPECT_TRUE(damage_settles({CRACK_X + BAT_RIGHT, CRACK_Y - CRACK_RADIUS, CRACK_RADIUS - BAT_RIGHT,
                                2 * CRACK_RADIUS}, 30))
        << "no crack beside the bat; " << kept_as_file(screenshot(*x), "swing");
    move_to(AWAY_X, AWAY_Y);
    EXPECT_TRUE(wait_until([&] { return differing(screenshot(*x), desktop, around(CRACK_X, CRACK_Y, 20)) > 200; },
                           SHORT_SECONDS))
        << "no crack where the bat struck on the right monitor; " << kept_as_file(screenshot(*x), "crack");
    EXPECT_EQ(differing(screenshot(*x), desktop, MONITORS[0]), 0)
        << "the left monitor changed; " << kept_as_file(screenshot(*x), "left");
    back_to_palette();
    quit_from_palette();

    int px, py;
    pointer_position(*x, &px, &py);
    EXPECT_EQ(px, POINTER_X) << "the pointer is not back where the user left it";
    EXPECT_EQ(py, POINTER_Y);
}

// Display scaling at 150 %: a desktop of 144 dots an inch. Wine scales no
// coordinates for programs that do not declare themselves aware of it, as
// Windows does, so this shows only that the declared awareness changes
// nothing here: the picture stays pixel for pixel.
class ScaledUnderWine : public WineDesktop {
protected:
    static void set_dots_per_inch(const char *value)
    {
        ASSERT_TRUE(run({"wine", "reg", "add", "HKCU\\Control Panel\\Desktop", "/v", "LogPixels", "/t", "REG_DWORD",
                         "/d", value, "/f"}, WinePrefix::env()));
        ASSERT_TRUE(run({"wineserver", "--kill"}, WinePrefix::env()));
    }

    void SetUp() override
    {
        set_dots_per_inch("144");
        x.reset(new XServer(W, H, 24));
        desktop = set_root_picture(*x);
        launch(whole());
    }

    void TearDown() override
    {
        havoc.reset();
        set_dots_per_inch("96");
    }
};

TEST_F(ScaledUnderWine, ThePaletteOpensOverTheUnchangedDesktopAndEscapeQuits)
{
    ASSERT_TRUE(palette_shown()) << "no palette at 144 dots an inch; " << kept_as_file(screenshot(*x), "palette")
                                 << "\n" << havoc->stderr_text();
    EXPECT_EQ(differing(screenshot(*x), palette, whole(), arrow_box(rest_x(), rest_y())), 0)
        << "but for the arrow, the screen is the palette over the unchanged desktop";
    quit_from_palette();
}

// Windows' way to close a window, with a tool in hand: it ends havoc as
// Escape does.
class ClosedUnderWine : public WineDesktop {
protected:
    void SetUp() override
    {
        x.reset(new XServer(W, H, 24));
        desktop = set_root_picture(*x);
        launch(whole());
    }
};

TEST_F(ClosedUnderWine, AltF4WithAToolInHandQuitsAndGivesTheDesktopBack)
{
    take_tool(3);
    set_key(*x, XK_Alt_L, true);
    bool ended = tap_key_until(*x, XK_F4, [&] { return havoc->wait_exit(0); }, SHORT_SECONDS);
    set_key(*x, XK_Alt_L, false);
    ASSERT_TRUE(ended) << "Alt+F4 did not end havoc; " << kept_as_file(screenshot(*x), "close");
    ended_with_the_desktop_back();
}

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
    EXPECT_TRUE(wait_until([&] { return differing(screenshot(x), desktop, {0, 0, W, H}) == 0; }, SHORT_SECONDS))
        << "the desktop is not back as it was";
}

}  // namespace

int main(int argc, char **argv)
{
    testing::InitGoogleTest(&argc, argv);
    testing::AddGlobalTestEnvironment(new WinePrefix);
    return RUN_ALL_TESTS();
}
