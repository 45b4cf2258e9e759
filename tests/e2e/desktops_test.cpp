// The real binary on desktops as people have them: a window manager and a
// panel, with and without a compositor, on Xvfb and on Xorg, whose dummy
// video driver has the VidMode extension and several outputs like a real
// graphics card. From launch to the palette's fade nothing may differ from
// the desktop; the picture covers the whole root however the monitors lie;
// the palette opens on the monitor the user was using; every monitor's
// corners stay in reach; and quitting leaves the desktop and the pointer as
// they were.
#include "e2e/desktop.h"
#include "e2e/expected_palette.h"
#include "e2e/runs.h"

#include <gtest/gtest.h>

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <csignal>
#include <fstream>
#include <memory>
#include <sys/wait.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

const double START_SECONDS = 30, EXIT_SECONDS = 20, SETTLE_SECONDS = 30;
const auto STILL = std::chrono::seconds(1);
const int ARROW = 16;                 // the library's arrow pointer, a 16 x 16 sprite
const unsigned long ARROW_TIP = 0;    // its top-left pixel is black

// Xorg in Xinerama mode: two X screens, a dummy card each, side by side and
// of different sizes. RandR is off in this mode; only Xinerama tells where
// the monitors are.
const char XORG_XINERAMA[] = R"(
Section "ServerFlags"
    Option "AutoAddDevices" "false"
    Option "DontVTSwitch" "true"
    Option "Xinerama" "on"
EndSection
Section "Module"
    Disable "glx"
EndSection
Section "Device"
    Identifier "left card"
    Driver "dummy"
    VideoRam 16384
EndSection
Section "Device"
    Identifier "right card"
    Driver "dummy"
    VideoRam 16384
EndSection
Section "Monitor"
    Identifier "monitor"
    HorizSync 5.0 - 1000.0
    VertRefresh 5.0 - 200.0
EndSection
Section "Screen"
    Identifier "left"
    Device "left card"
    Monitor "monitor"
    DefaultDepth 24
    SubSection "Display"
        Depth 24
        Virtual 1024 768
    EndSubSection
EndSection
Section "Screen"
    Identifier "right"
    Device "right card"
    Monitor "monitor"
    DefaultDepth 24
    SubSection "Display"
        Depth 24
        Virtual 800 600
    EndSubSection
EndSection
Section "ServerLayout"
    Identifier "side by side"
    Screen 0 "left"
    Screen 1 "right" RightOf "left"
EndSection
)";

// A panel along the bottom of every monitor, without a clock (it would
// change the desktop while the test looks at it).
const char TINT2_CONFIG[] = R"(
rounded = 0
border_width = 0
background_color = #203040 100
panel_items = LTS
panel_monitor = all
panel_position = bottom center horizontal
panel_size = 100% 32
panel_background_id = 1
)";

enum Server { XVFB, XORG_OUTPUTS, XORG_SCREENS };

struct DesktopCase {
    const char *what;
    Server server;
    int w, h;
    std::vector<Rect> monitors;
    bool compositor;
    int pointer_x, pointer_y;   // where the user leaves the pointer
    int home_monitor;           // the monitor that holds it
};

std::ostream &operator<<(std::ostream &out, const DesktopCase &c)
{
    return out << c.what;
}

std::string write_file(const std::string &dir, const std::string &name, const char *text)
{
    std::string path = dir + "/" + name;
    std::ofstream(path) << text;
    return path;
}

// Colour everywhere, none of it black (the arrow's tip is), with detail at
// the pixel scale, so that a shifted, stale or black pixel shows.
unsigned long wallpaper_rgb(int x, int y, int w, int h)
{
    int r = 32 + x * 191 / w, g = 32 + y * 191 / h, b = 64 + ((x ^ y) & 63) * 3;
    return (unsigned long)(r << 16 | g << 8 | b);
}

// The wallpaper as a desktop sets it: the root window's background, named
// in the root's properties for compositors and panels to find. The pixmap
// lives as long as the test's connection.
void set_wallpaper(XServer &x)
{
    Display *d = x.display;
    Window root = DefaultRootWindow(d);
    int screen = DefaultScreen(d);
    ASSERT_EQ(DefaultDepth(d, screen), 24);
    XImage *image = XCreateImage(d, DefaultVisual(d, screen), 24, ZPixmap, 0, nullptr, x.w, x.h, 32, 0);
    image->data = (char *)std::malloc((size_t)image->bytes_per_line * x.h);
    for (int y = 0; y < x.h; ++y)
        for (int px = 0; px < x.w; ++px)
            XPutPixel(image, px, y, wallpaper_rgb(px, y, x.w, x.h));
    Pixmap picture = XCreatePixmap(d, root, x.w, x.h, 24);
    XPutImage(d, picture, DefaultGC(d, screen), image, 0, 0, 0, 0, x.w, x.h);
    XDestroyImage(image);
    XSetWindowBackgroundPixmap(d, root, picture);
    XClearWindow(d, root);
    for (const char *name : {"_XROOTPMAP_ID", "ESETROOT_PMAP_ID"})
        XChangeProperty(d, root, XInternAtom(d, name, False), XA_PIXMAP, 32, PropModeReplace,
                        (unsigned char *)&picture, 1);
    XSync(d, False);
}

unsigned long pixel_at(XServer &x, int px, int py)
{
    XImage *image = XGetImage(x.display, DefaultRootWindow(x.display), px, py, 1, 1, AllPlanes, ZPixmap);
    unsigned long pixel = XGetPixel(image, 0, 0);
    XDestroyImage(image);
    return pixel & 0xffffff;
}

bool same(const Picture &a, const Picture &b)
{
    return a.w == b.w && a.h == b.h && a.rgb == b.rgb;
}

// Where havoc's own pointer starts: the middle of the user's monitor.
Rect arrow_on(const Rect &m)
{
    return {m.x + m.w / 2, m.y + m.h / 2, ARROW, ARROW};
}

// A desktop session on its own server: the wallpaper, a window manager, a
// panel, a window, maybe a compositor, and the pointer where the case says.
class OnADesktop : public testing::TestWithParam<DesktopCase> {
protected:
    void SetUp() override
    {
        const DesktopCase &c = GetParam();
        dir = make_temp_dir("desktop");
        if (c.server == XVFB) {
            x.reset(new XServer(c.w, c.h, 24));
        } else if (c.server == XORG_OUTPUTS) {
            x = xorg_with_monitors(dir, c.monitors, c.w, c.h);
        } else {
            std::string config = write_file(dir, "xorg.conf", XORG_XINERAMA);
            x.reset(new XServer({"Xorg", "-config", config, "-logfile", dir + "/xorg.log"}, c.w, c.h, 24));
        }
        ASSERT_NE(x->display, nullptr);
        XWindowAttributes root;
        XGetWindowAttributes(x->display, DefaultRootWindow(x->display), &root);
        ASSERT_EQ(root.width, c.w);
        ASSERT_EQ(root.height, c.h);

        set_wallpaper(*x);
        start({"openbox", "--sm-disable"});
        start({"tint2", "-c", write_file(dir, "tint2rc", TINT2_CONFIG)});
        if (c.compositor)
            start({"picom", "--config", "/dev/null", "--backend", "xrender"});
        start({"xlogo", "-geometry", "400x300+200+150"});
        move_pointer(*x, c.pointer_x, c.pointer_y);
        ASSERT_TRUE(settled()) << "the desktop kept changing";
    }

    void TearDown() override
    {
        for (int pid : helpers) {
            kill(pid, SIGTERM);
            waitpid(pid, nullptr, 0);
        }
        x.reset();
        std::system(("rm -rf " + dir).c_str());
    }

    void start(const std::vector<std::string> &command)
    {
        helpers.push_back(spawn(command, {"DISPLAY=" + x->name, "HOME=" + dir, "PATH=/usr/bin:/bin"}, dir,
                                dir + "/" + command[0] + ".log"));
    }

    // Everything drawn and still: the window manager has framed the window,
    // the panel is up and the screen has not changed for a while (a
    // compositor may paint a newly mapped window some time later).
    bool settled()
    {
        Picture last;
        Clock::time_point since = Clock::now();
        return wait_until([&] {
            Picture now = screenshot(*x);
            if (!same(now, last) || !window_framed() || !panel_up()) {
                last = now;
                since = Clock::now();
                return false;
            }
            return Clock::now() - since > STILL;
        }, SETTLE_SECONDS);
    }

    bool window_framed() { return viewable_with_class(DefaultRootWindow(x->display), "XLogo", 2); }
    bool panel_up() { return viewable_with_class(DefaultRootWindow(x->display), "Tint2", 2); }

    // Some viewable window of class `name` among the children of `parent`,
    // or further down, `depth` levels at most (a window manager puts its
    // frames between the root and the windows).
    bool viewable_with_class(Window parent, const char *name, int depth)
    {
        Window root, above, *children = nullptr;
        unsigned int n = 0;
        XQueryTree(x->display, parent, &root, &above, &children, &n);
        bool found = false;
        for (unsigned int i = 0; i < n && !found; ++i)
            found = has_class(children[i], name) || (depth > 1 && viewable_with_class(children[i], name, depth - 1));
        if (children)
            XFree(children);
        return found;
    }

    bool has_class(Window w, const char *name)
    {
        XWindowAttributes a;
        XClassHint hint = {nullptr, nullptr};
        if (!XGetWindowAttributes(x->display, w, &a) || a.map_state != IsViewable ||
            !XGetClassHint(x->display, w, &hint))
            return false;
        bool match = std::string(hint.res_class) == name;
        XFree(hint.res_name);
        XFree(hint.res_class);
        return match;
    }

    std::string dir;
    std::unique_ptr<XServer> x;
    std::vector<int> helpers;
};

// Pixels shown on some monitor, inside `area` but outside every rectangle
// of `except`, that differ between two pictures of the root. The monitors
// of every case lie side by side, none over another.
int changed(const DesktopCase &c, const Picture &a, const Picture &b, const Rect &area,
            const std::vector<Rect> &except = {})
{
    int count = 0;
    for (const Rect &m : c.monitors) {
        int left = std::max(area.x, m.x), top = std::max(area.y, m.y);
        int right = std::min(area.x + area.w, m.x + m.w), bottom = std::min(area.y + area.h, m.y + m.h);
        count += differing(a, b, {left, top, right - left, bottom - top}, except);
    }
    return count;
}

// The full-screen window's WM_CLASS as "name/class" and its title.
std::string window_name(XServer &x)
{
    Display *d = x.display;
    Window root = DefaultRootWindow(d), parent, *children = nullptr;
    unsigned int n = 0;
    XQueryTree(d, root, &root, &parent, &children, &n);
    std::string found;
    for (unsigned int i = 0; i < n; ++i) {
        XWindowAttributes a;
        XClassHint hint = {nullptr, nullptr};
        char *title = nullptr;
        if (XGetWindowAttributes(d, children[i], &a) && a.map_state == IsViewable && a.width == x.w &&
            a.height == x.h && XGetClassHint(d, children[i], &hint)) {
            XFetchName(d, children[i], &title);
            found = std::string(hint.res_name) + "/" + hint.res_class + " \"" + (title ? title : "") + "\"";
            XFree(hint.res_name);
            XFree(hint.res_class);
            if (title)
                XFree(title);
        }
    }
    if (children)
        XFree(children);
    return found;
}

TEST_P(OnADesktop, LooksUntouchedUntilThePaletteOpensOnTheUsersMonitorAndLeavesNoTrace)
{
    const DesktopCase &c = GetParam();
    const Rect home = c.monitors[c.home_monitor];
    const Rect strip = palette_layout(home).strip, arrow = arrow_on(home);
    Picture desktop = screenshot(*x);
    // The top row, one through the window, one through the strip, one along
    // the middle of the root and one through the panel.
    const std::vector<int> rows = {0, 300, strip.y + strip.h / 2, c.h / 2, c.h - 8};

    Havoc havoc(x.get());
    Sampling s = sample_rows_until_fade(*x, desktop, rows, strip, c.monitors, START_SECONDS);
    EXPECT_EQ(s.off, 0) << s.off << " of " << s.samples << " samples differ from the desktop (at most " << s.worst
                        << " pixels) between " << s.first_off_ms << " and " << s.last_off_ms << " ms";
    ASSERT_GE(s.fade_ms, 0) << "the palette never began to fade in\n" << havoc.stderr_text();
    std::printf("%s: %d samples, %d off the desktop, fade from %.0f ms\n", c.what, s.samples, s.off, s.fade_ms);
    EXPECT_EQ(window_name(*x), "havoc/Havoc \"havoc\"");

    // The fade over, the strip and havoc's arrow are all that differ, and
    // they lie on the user's monitor.
    const Rect root = {0, 0, c.w, c.h};
    int elsewhere = -1, in_strip = 0;
    EXPECT_TRUE(wait_until([&] {
        Picture now = screenshot(*x);
        elsewhere = changed(c, now, desktop, root, {strip, arrow});
        in_strip = changed(c, now, desktop, strip);
        return elsewhere == 0 && in_strip > strip.w * strip.h / 2;
    }, START_SECONDS)) << elsewhere << " pixels changed outside the strip, " << in_strip << " inside";

    // havoc's arrow follows the pointer into every corner of every monitor.
    for (const Rect &m : c.monitors)
        for (int cx : {m.x, m.x + m.w - 1})
            for (int cy : {m.y, m.y + m.h - 1}) {
                ASSERT_NE(pixel_at(*x, cx, cy), ARROW_TIP) << "the wallpaper hides the arrow at " << cx << "," << cy;
                // Pushed into the corner until havoc draws its arrow there, as a
                // hand would: the library may still be bringing the pointer to
                // where it last placed its own.
                EXPECT_TRUE(wait_until([&] {
                    move_pointer(*x, cx, cy);
                    return pixel_at(*x, cx, cy) == ARROW_TIP;
                }, START_SECONDS)) << "no arrow at " << cx << "," << cy;
            }

    ASSERT_TRUE(quit_with_escape(*x, havoc)) << havoc.stderr_text();
    EXPECT_TRUE(WIFEXITED(havoc.status) && WEXITSTATUS(havoc.status) == 0) << havoc.stderr_text();
    EXPECT_TRUE(wait_until([&] { return changed(c, screenshot(*x), desktop, root) == 0; }, EXIT_SECONDS))
        << "the desktop did not come back as it was";
    int px, py;
    pointer_position(*x, &px, &py);
    EXPECT_EQ(px, c.pointer_x);
    EXPECT_EQ(py, c.pointer_y);
    EXPECT_TRUE(can_grab_input(*x));
}

const Rect HD = {0, 0, 1920, 1080};

INSTANTIATE_TEST_SUITE_P(
    Desktops, OnADesktop,
    testing::Values(
        DesktopCase{"Xvfb, window manager and panel", XVFB, 1920, 1080, {HD}, false, 700, 500, 0},
        DesktopCase{"Xvfb, window manager, panel and compositor", XVFB, 1920, 1080, {HD}, true, 700, 500, 0},
        DesktopCase{"Xorg, one output", XORG_OUTPUTS, 1920, 1080, {HD}, false, 700, 500, 0},
        DesktopCase{"Xorg, 1920 + 1920 outputs, pointer on the right",
                    XORG_OUTPUTS, 3840, 1080, {HD, {1920, 0, 1920, 1080}}, false, 2500, 300, 1},
        DesktopCase{"Xorg, 1920 + 1280 outputs, pointer on the smaller",
                    XORG_OUTPUTS, 3200, 1080, {HD, {1920, 0, 1280, 1024}}, false, 2300, 700, 1},
        DesktopCase{"Xorg, Xinerama screens 1024 + 800, pointer on the left",
                    XORG_SCREENS, 1824, 768, {{0, 0, 1024, 768}, {1024, 0, 800, 600}}, false, 300, 200, 0}),
    [](const testing::TestParamInfo<DesktopCase> &info) { return "Case" + std::to_string(info.index); });

// An X server that does not trust a client will not show it the desktop:
// the copy havoc takes inside the server says nothing of that, so havoc
// must find out by itself and say so.
// An X authority file whose one cookie serves every display.
std::string write_cookie(const std::string &dir)
{
    const std::string name = "MIT-MAGIC-COOKIE-1";
    std::string bytes = {'\xff', '\xff', 0, 0, 0, 0, 0, (char)name.size()};
    bytes += name;
    bytes += {0, 16};
    for (int i = 0; i < 16; ++i)
        bytes += (char)(std::rand() & 0xff);
    std::string path = dir + "/cookie";
    std::ofstream(path, std::ios::binary) << bytes;
    return path;
}

TEST(UnreadableDesktop, StopsWithOneLineWhenTheXServerWillNotShowTheDesktop)
{
    std::string dir = make_temp_dir("desktop");
    std::string trusted = write_cookie(dir), untrusted = dir + "/untrusted";
    const char *was = std::getenv("XAUTHORITY");
    std::string saved = was ? was : "";
    setenv("XAUTHORITY", trusted.c_str(), 1);
    {
        XServer x({"Xvfb", "-auth", trusted, "-screen", "0", "640x480x24"}, 640, 480, 24);
        ASSERT_NE(x.display, nullptr);
        ASSERT_EQ(std::system(("xauth -q -f " + untrusted + " generate " + x.name +
                               " . untrusted timeout 0 2>/dev/null").c_str()),
                  0);
        Havoc havoc(&x, true, GOOD_DATA_FILE, {"env", "XAUTHORITY=" + untrusted});
        ASSERT_TRUE(havoc.wait_exit(EXIT_SECONDS));
        std::string text = havoc.stderr_text();
        EXPECT_TRUE(WIFEXITED(havoc.status) && WEXITSTATUS(havoc.status) == 1) << text;
        EXPECT_EQ(text.find("havoc: cannot read the desktop's picture from the X server (BadAccess"), 0u) << text;
        EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 1) << text;
        EXPECT_FALSE(fullscreen_window_mapped(x));
    }
    if (was)
        setenv("XAUTHORITY", saved.c_str(), 1);
    else
        unsetenv("XAUTHORITY");
    std::system(("rm -rf " + dir).c_str());
}

}  // namespace
