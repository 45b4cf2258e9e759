#include "e2e/desktop.h"

#include "e2e/runs.h"

// gtest before the X headers, whose macros (None, Bool, ...) it would trip over.
#include <gtest/gtest.h>

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <csignal>
#include <fcntl.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

// Long enough for a loop that polls the input state to see a press.
static const auto HOLD = std::chrono::milliseconds(80);
static const double SERVER_START_SECONDS = 30;

XServer::XServer(int w_, int h_, int depth_)
    : XServer({"Xvfb", "-screen", "0", std::to_string(w_) + "x" + std::to_string(h_) + "x" + std::to_string(depth_)},
              w_, h_, depth_)
{
}

XServer::XServer(const std::vector<std::string> &command, int w_, int h_, int depth_) : w(w_), h(h_), depth(depth_)
{
    int fds[2];
    if (pipe(fds) != 0)
        std::abort();
    std::vector<std::string> args = command;
    for (const char *more : {"-displayfd", "", "-nolisten", "tcp", "-noreset"})
        args.push_back(more);
    args[command.size() + 1] = std::to_string(fds[1]);
    pid_t parent = getpid();
    pid = fork();
    if (pid == 0) {
        die_with(parent);
        close(fds[0]);
        int null = open("/dev/null", O_WRONLY);
        dup2(null, 1);
        dup2(null, 2);
        std::vector<char *> argv;
        for (std::string &a : args)
            argv.push_back(&a[0]);
        argv.push_back(nullptr);
        execvp(argv[0], argv.data());
        _exit(127);
    }
    close(fds[1]);
    char buf[32] = {};
    FILE *in = fdopen(fds[0], "r");
    if (!in || !std::fgets(buf, sizeof buf, in)) {
        ADD_FAILURE() << command[0] << " did not start";
        return;
    }
    std::fclose(in);
    name = ":" + std::to_string(std::atoi(buf));
    wait_until([&] { return (display = XOpenDisplay(name.c_str())) != nullptr; }, SERVER_START_SECONDS);
    EXPECT_NE(display, nullptr) << "cannot connect to " << name;
}

XServer::XServer(const std::string &display_name) : name(display_name)
{
    display = XOpenDisplay(name.c_str());
    EXPECT_NE(display, nullptr) << "cannot connect to " << name;
    w = display ? DisplayWidth(display, DefaultScreen(display)) : 0;
    h = display ? DisplayHeight(display, DefaultScreen(display)) : 0;
    depth = display ? DefaultDepth(display, DefaultScreen(display)) : 0;
}

XServer::~XServer()
{
    if (display)
        XCloseDisplay(display);
    if (pid > 0) {
        kill(pid, SIGTERM);
        waitpid(pid, nullptr, 0);
    }
}

// Room for two monitors side by side; the outputs are laid out with xrandr
// once the server runs.
static const char XORG_DUMMY[] = R"(
Section "ServerFlags"
    Option "AutoAddDevices" "false"
    Option "DontVTSwitch" "true"
EndSection
Section "Module"
    Disable "glx"
EndSection
Section "Device"
    Identifier "card"
    Driver "dummy"
    VideoRam 65536
EndSection
Section "Monitor"
    Identifier "monitor"
    HorizSync 5.0 - 1000.0
    VertRefresh 5.0 - 200.0
EndSection
Section "Screen"
    Identifier "screen"
    Device "card"
    Monitor "monitor"
    DefaultDepth 24
    SubSection "Display"
        Depth 24
        Virtual 4096 2160
    EndSubSection
EndSection
)";

std::unique_ptr<XServer> xorg_with_monitors(const std::string &dir, const std::vector<Rect> &monitors, int w, int h)
{
    std::string config = dir + "/xorg.conf";
    std::ofstream(config) << XORG_DUMMY;
    std::unique_ptr<XServer> x(new XServer({"Xorg", "-config", config, "-logfile", dir + "/xorg.log"}, w, h, 24));
    if (!x->display)
        return x;
    auto xrandr = [&](const std::string &arguments) {
        return std::system(("DISPLAY=" + x->name + " xrandr " + arguments + " >/dev/null 2>&1").c_str());
    };
    std::string layout;
    for (size_t i = 0; i < monitors.size(); ++i) {
        std::string output = "DUMMY" + std::to_string(i);
        std::string mode = std::to_string(monitors[i].w) + "x" + std::to_string(monitors[i].h);
        // Only the first output is connected from the start.
        if (i > 0) {
            EXPECT_EQ(xrandr("--addmode " + output + " " + mode), 0);
        }
        layout += " --output " + output + " --mode " + mode + " --pos " + std::to_string(monitors[i].x) + "x" +
                  std::to_string(monitors[i].y);
    }
    EXPECT_EQ(xrandr(layout), 0);
    // The server's quick answer on its outputs, which Wine asks for, lacks
    // those just laid out until some client has asked the long way once.
    EXPECT_EQ(xrandr("--query"), 0);
    return x;
}

Picture screenshot(XServer &x)
{
    Display *d = x.display;
    Window root = DefaultRootWindow(d);
    XWindowAttributes attrs;
    XGetWindowAttributes(d, root, &attrs);
    XImage *image = XGetImage(d, root, 0, 0, attrs.width, attrs.height, AllPlanes, ZPixmap);
    Picture p;
    p.w = attrs.width;
    p.h = attrs.height;
    p.rgb.resize((size_t)p.w * p.h);
    Visual *v = attrs.visual;
    std::vector<XColor> colors;
    if (v->c_class != TrueColor) {
        colors.resize(256);
        for (int i = 0; i < 256; ++i)
            colors[i].pixel = (unsigned long)i;
        // What the screen shows is what the installed colormap makes of the
        // pixels, which need not be the root window's own colormap.
        int installed = 0;
        Colormap *maps = XListInstalledColormaps(d, root, &installed);
        XQueryColors(d, installed > 0 ? maps[0] : attrs.colormap, colors.data(), 256);
        if (maps)
            XFree(maps);
    }
    auto widen = [](unsigned long pixel, unsigned long mask) {
        int shift = __builtin_ctzl(mask);
        return (int)(((pixel & mask) >> shift) * 255 / (mask >> shift));
    };
    for (int y = 0; y < p.h; ++y)
        for (int px = 0; px < p.w; ++px) {
            unsigned long pixel = XGetPixel(image, px, y);
            int rgb;
            if (v->c_class == TrueColor)
                rgb = widen(pixel, v->red_mask) << 16 | widen(pixel, v->green_mask) << 8 | widen(pixel, v->blue_mask);
            else
                rgb = (colors[pixel].red >> 8) << 16 | (colors[pixel].green >> 8) << 8 | (colors[pixel].blue >> 8);
            p.rgb[(size_t)y * p.w + px] = rgb;
        }
    XDestroyImage(image);
    return p;
}

Picture set_root_picture(XServer &x, const std::string &file)
{
    std::string picture = file;
    std::string dir;
    if (picture.empty()) {
        // Colour everywhere and detail at every scale, so a misplaced,
        // miscoloured or stale pixel shows.
        dir = make_temp_dir("root");
        picture = dir + "/root.png";
        std::string size = std::to_string(x.w) + "x" + std::to_string(x.h);
        std::string make = "/usr/bin/convert -seed 7 -size " + size + " plasma:red-blue \\( -size " + size +
               " pattern:checkerboard -normalize \\) -compose multiply -composite " + picture;
        EXPECT_EQ(std::system(make.c_str()), 0);
    }
    std::string show = "DISPLAY=" + x.name + " display -window root " + picture + " >/dev/null 2>&1";
    (void)std::system(show.c_str());
    XSync(x.display, False);
    if (!dir.empty())
        std::system(("rm -rf " + dir).c_str());
    return screenshot(x);
}

void move_pointer(XServer &x, int px, int py)
{
    XTestFakeMotionEvent(x.display, -1, px, py, 0);
    XFlush(x.display);
    std::this_thread::sleep_for(HOLD);
}

void move_pointer_by(XServer &x, int dx, int dy)
{
    XTestFakeRelativeMotionEvent(x.display, dx, dy, 0);
    XFlush(x.display);
    std::this_thread::sleep_for(HOLD);
}

void press_button(XServer &x)
{
    XTestFakeButtonEvent(x.display, 1, True, 0);
    XFlush(x.display);
    std::this_thread::sleep_for(HOLD);
}

void release_button(XServer &x)
{
    XTestFakeButtonEvent(x.display, 1, False, 0);
    XFlush(x.display);
    std::this_thread::sleep_for(HOLD);
}

void click(XServer &x, int px, int py)
{
    move_pointer(x, px, py);
    press_button(x);
    release_button(x);
}

void tap_key(XServer &x, unsigned long keysym)
{
    KeyCode code = XKeysymToKeycode(x.display, keysym);
    XTestFakeKeyEvent(x.display, code, True, 0);
    XFlush(x.display);
    std::this_thread::sleep_for(HOLD);
    XTestFakeKeyEvent(x.display, code, False, 0);
    XFlush(x.display);
    std::this_thread::sleep_for(HOLD);
}

void pointer_position(XServer &x, int *px, int *py)
{
    Window root_back, child;
    int wx, wy;
    unsigned int mask;
    XQueryPointer(x.display, DefaultRootWindow(x.display), &root_back, &child, px, py, &wx, &wy, &mask);
}

std::vector<WindowSeen> viewable_windows(XServer &x)
{
    Window root = DefaultRootWindow(x.display), parent, *children = nullptr;
    unsigned int n = 0;
    XQueryTree(x.display, root, &root, &parent, &children, &n);
    std::vector<WindowSeen> seen;
    for (unsigned int i = 0; i < n; ++i) {
        XWindowAttributes a;
        if (!XGetWindowAttributes(x.display, children[i], &a) || a.map_state != IsViewable)
            continue;
        char *name = nullptr;
        XFetchName(x.display, children[i], &name);
        seen.push_back({a.width, a.height, name ? name : ""});
        if (name)
            XFree(name);
    }
    if (children)
        XFree(children);
    return seen;
}

bool fullscreen_window_mapped(XServer &x)
{
    for (const WindowSeen &w : viewable_windows(x))
        if (w.w == x.w && w.h == x.h)
            return true;
    return false;
}

bool can_grab_input(XServer &x)
{
    Window root = DefaultRootWindow(x.display);
    int keyboard = XGrabKeyboard(x.display, root, False, GrabModeAsync, GrabModeAsync, CurrentTime);
    int pointer = XGrabPointer(x.display, root, False, ButtonPressMask, GrabModeAsync, GrabModeAsync,
                               None, None, CurrentTime);
    XUngrabKeyboard(x.display, CurrentTime);
    XUngrabPointer(x.display, CurrentTime);
    XSync(x.display, False);
    return keyboard == GrabSuccess && pointer == GrabSuccess;
}

Rect arrow_box(int x, int y)
{
    return {x - 2, y - 2, 24, 32};
}

Rect pointer_box(XServer &x)
{
    int px, py;
    pointer_position(x, &px, &py);
    return arrow_box(px, py);
}

Rect around(int x, int y, int r)
{
    return {x - r, y - r, 2 * r + 1, 2 * r + 1};
}

int differing(const Picture &a, const Picture &b, Rect area, Rect except, int tolerance)
{
    return differing(a, b, area, std::vector<Rect>{except}, tolerance);
}

int differing(const Picture &a, const Picture &b, Rect area, const std::vector<Rect> &except, int tolerance)
{
    auto far_apart = [&](int p, int q) {
        for (int shift : {16, 8, 0})
            if (std::abs((p >> shift & 0xff) - (q >> shift & 0xff)) > tolerance)
                return true;
        return false;
    };
    auto left_out = [&](int x, int y) {
        return std::any_of(except.begin(), except.end(), [&](const Rect &r) { return r.contains(x, y); });
    };
    int n = 0;
    for (int y = std::max(0, area.y); y < std::min(a.h, area.y + area.h); ++y)
        for (int x = std::max(0, area.x); x < std::min(a.w, area.x + area.w); ++x)
            if (far_apart(a.at(x, y), b.at(x, y)) && !left_out(x, y))
                ++n;
    return n;
}
