// Latency from the hand to the screen, timed from outside the process on a
// private Xvfb, as a person would feel it: the pointer is moved with XTEST
// between two spots, and the time runs until the screen changes at the new
// spot. First the floor of this machine, a plain X client that paints a box
// at the pointer on each motion event; then the real havoc binary, on the
// palette and with each tool. Then a button press until the bat's first swing
// frame shows, and Escape until the palette's clean picture replaces the bat.
//   havoc_latency_bench WIDTHxHEIGHTxDEPTH [moves] [havoc binary]
#include "e2e/desktop.h"
#include "e2e/expected_palette.h"
#include "e2e/runs.h"
#include "e2e/sound.h"
#include "shell/art_geometry.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XShm.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/ipc.h>
#include <sys/shm.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

static const int DEFAULT_MOVES = 40;
static const int PRESSES = 20;
static const int ESCAPES = 10;
// A change not seen within this long counts as missed.
static const double GIVE_UP_MS = 1000;
// Between two measurements: long enough for the last one's frames to be
// out, and varied, so the moves land at every phase of the loops' frames
// and of the library's 10 ms input thread.
static const int REST_MS = 30;
static const int REST_SPREAD_MS = 17;
// The library moves its own pointer relative to the X pointer for a few
// hundred ms after it was placed, then puts the X pointer where its own is;
// before that, motion does not land where XTEST puts it.
static const auto POINTER_SETTLES = milliseconds(600);
// The palette's fade takes a second.
static const auto FADE_OVER = milliseconds(1300);
static const auto TOOL_SETTLES = milliseconds(300);
// A swing runs six steps of 50 ms and strikes; the bat then rests a frame.
static const auto SWING_OVER = milliseconds(600);
// Around the pointer: where the floor's box, the palette's arrow and every
// tool's image near its hot spot are drawn.
static const int NEAR_POINTER = 12;

static double ms_since(Clock::time_point from)
{
    return std::chrono::duration<double, std::milli>(Clock::now() - from).count();
}

static void rest(int i)
{
    std::this_thread::sleep_for(milliseconds(REST_MS + (i * 7) % REST_SPREAD_MS));
}

// A shared-memory view of one rectangle of the root window, cheap to take
// again and again while a change is awaited.
struct Watch {
    Display *display = nullptr;
    XImage *image = nullptr;
    XShmSegmentInfo segment = {};
    Rect area = {};
    std::vector<char> before;

    Watch(Display *d, int w, int h) : display(d)
    {
        int screen = DefaultScreen(d);
        image = XShmCreateImage(d, DefaultVisual(d, screen), DefaultDepth(d, screen), ZPixmap, nullptr,
                                &segment, w, h);
        segment.shmid = shmget(IPC_PRIVATE, (size_t)image->bytes_per_line * h, IPC_CREAT | 0600);
        segment.shmaddr = image->data = (char *)shmat(segment.shmid, nullptr, 0);
        segment.readOnly = False;
        XShmAttach(d, &segment);
        XSync(d, False);
        shmctl(segment.shmid, IPC_RMID, nullptr);
    }

    size_t bytes() const { return (size_t)image->bytes_per_line * area.h; }

    // Takes what `at` shows now as the picture to compare with; `at` must
    // fit the image the watch was made for.
    void look_at(Rect at)
    {
        area = at;
        take();
        before.assign(image->data, image->data + bytes());
    }

    void take() { XShmGetImage(display, DefaultRootWindow(display), image, area.x, area.y, AllPlanes); }

    bool changed()
    {
        take();
        return std::memcmp(image->data, before.data(), bytes()) != 0;
    }
};

// Does `act`, then looks at the watched rectangle until it changes: the ms
// from just before the act, or -1 when nothing changed in time.
template <typename Act>
static double time_until_change(Watch &watch, Rect area, Act act)
{
    watch.look_at(area);
    Clock::time_point start = Clock::now();
    act();
    while (ms_since(start) < GIVE_UP_MS)
        if (watch.changed())
            return ms_since(start);
    return -1;
}

static Rect clipped(Rect r, int w, int h)
{
    int x0 = std::max(r.x, 0), y0 = std::max(r.y, 0);
    int x1 = std::min(r.x + r.w, w), y1 = std::min(r.y + r.h, h);
    return {x0, y0, x1 - x0, y1 - y0};
}

static void fake_motion(Display *d, int x, int y)
{
    XTestFakeMotionEvent(d, -1, x, y, 0);
    XFlush(d);
}

// Where each client draws what follows the pointer, with the pointer at
// (px, py): the floor's box, the palette's arrow, the lady's pointer, and
// each tool's picture placed by its hot spot.
using DrawnAt = Rect (*)(int px, int py);
static Rect near_pointer(int px, int py) { return around(px, py, NEAR_POINTER); }
static Rect bat_at(int px, int py) { return {px - BAT_GRIP_X, py - BAT_GRIP_Y, BAT_FRAME_W, BAT_FRAME_H}; }
static Rect saber_at(int px, int py) { return {px - SABER_TIP_X, py - SABER_TIP_Y, SABER_CELL_W, SABER_CELL_H}; }
static Rect laser_at(int px, int py) { return {px, py, LASER_FRAME_W, LASER_FRAME_H}; }
static const int WATCH_W = SABER_CELL_W, WATCH_H = SABER_CELL_H;

// The pointer to and fro between two spots in the lower half of the screen,
// clear of the palette and far enough apart that the pictures at the two
// never overlap; what is drawn at the spot it arrives at is watched. The
// first move of all only puts it at its start.
static std::vector<double> pointer_moves(XServer &x, Watch &watch, int moves, DrawnAt drawn_at)
{
    int spot_x[2] = {x.w / 4, x.w * 3 / 4};
    int y = x.h * 3 / 4;
    fake_motion(x.display, spot_x[0], y);
    std::this_thread::sleep_for(POINTER_SETTLES);
    std::vector<double> ms;
    for (int i = 0; i < moves; ++i) {
        int to = spot_x[(i + 1) % 2];
        Rect area = clipped(drawn_at(to, y), x.w, x.h);
        ms.push_back(time_until_change(watch, area, [&] { fake_motion(x.display, to, y); }));
        rest(i);
    }
    return ms;
}

// The floor: a client with nothing else to do, that moves a white box to
// the pointer on every motion event, over a black window on the whole
// screen. Runs in a child process with a connection of its own.
static pid_t start_box_painter(XServer &x)
{
    pid_t pid = fork();
    if (pid != 0)
        return pid;
    Display *d = XOpenDisplay(x.name.c_str());
    if (!d)
        _exit(1);
    int screen = DefaultScreen(d);
    XSetWindowAttributes attributes = {};
    attributes.override_redirect = True;
    attributes.background_pixel = BlackPixel(d, screen);
    attributes.event_mask = PointerMotionMask | ExposureMask;
    Window w = XCreateWindow(d, DefaultRootWindow(d), 0, 0, x.w, x.h, 0, CopyFromParent, InputOutput,
                             CopyFromParent, CWOverrideRedirect | CWBackPixel | CWEventMask, &attributes);
    GC gc = XCreateGC(d, w, 0, nullptr);
    XSetForeground(d, gc, WhitePixel(d, screen));
    XMapWindow(d, w);
    int box = 2 * NEAR_POINTER, last_x = -box, last_y = -box;
    for (;;) {
        XEvent e;
        XNextEvent(d, &e);
        if (e.type != MotionNotify)
            continue;
        XClearArea(d, w, last_x - box / 2, last_y - box / 2, box, box, False);
        last_x = e.xmotion.x;
        last_y = e.xmotion.y;
        XFillRectangle(d, w, gc, last_x - box / 2, last_y - box / 2, box, box);
        XFlush(d);
    }
}

static void stop(pid_t pid)
{
    kill(pid, SIGTERM);
    waitpid(pid, nullptr, 0);
}

static void press(XServer &x, bool down)
{
    XTestFakeButtonEvent(x.display, 1, down, 0);
    XFlush(x.display);
}

static void fake_key(XServer &x, unsigned long keysym, bool down)
{
    XTestFakeKeyEvent(x.display, XKeysymToKeycode(x.display, keysym), down, 0);
    XFlush(x.display);
}

// From the palette into the tool of `slot`, the pointer left on its icon.
static void take_tool(XServer &x, int slot)
{
    PaletteLayout palette = palette_layout({0, 0, x.w, x.h});
    fake_motion(x.display, palette.slot_x(slot), palette.slot_y());
    std::this_thread::sleep_for(milliseconds(100));
    press(x, true);
    std::this_thread::sleep_for(milliseconds(100));
    press(x, false);
    std::this_thread::sleep_for(TOOL_SETTLES);
}

static void back_to_palette(XServer &x)
{
    fake_key(x, XK_Escape, true);
    std::this_thread::sleep_for(milliseconds(100));
    fake_key(x, XK_Escape, false);
    std::this_thread::sleep_for(FADE_OVER);
}

// Presses of the button with the bat at rest: until its first swing frame shows.
static std::vector<double> bat_presses(XServer &x, Watch &watch, int presses)
{
    int px = x.w / 2, py = x.h * 3 / 4;
    fake_motion(x.display, px, py);
    std::this_thread::sleep_for(TOOL_SETTLES);
    std::vector<double> ms;
    for (int i = 0; i < presses; ++i) {
        ms.push_back(time_until_change(watch, clipped(bat_at(px, py), x.w, x.h), [&] { press(x, true); }));
        std::this_thread::sleep_for(milliseconds(50));
        press(x, false);
        std::this_thread::sleep_for(SWING_OVER);
        rest(i);
    }
    return ms;
}

// Escape with the bat at rest: until the palette's clean picture takes its
// place. Each time the bat is taken again from the palette.
static std::vector<double> escapes_from_bat(XServer &x, Watch &watch, int escapes)
{
    int px = x.w / 2, py = x.h * 3 / 4;
    std::vector<double> ms;
    for (int i = 0; i < escapes; ++i) {
        take_tool(x, 0);
        fake_motion(x.display, px, py);
        std::this_thread::sleep_for(TOOL_SETTLES);
        ms.push_back(time_until_change(watch, clipped(bat_at(px, py), x.w, x.h),
                                       [&] { fake_key(x, XK_Escape, true); }));
        std::this_thread::sleep_for(milliseconds(50));
        fake_key(x, XK_Escape, false);
        std::this_thread::sleep_for(FADE_OVER);
    }
    return ms;
}

static double percentile(std::vector<double> v, double p)
{
    std::sort(v.begin(), v.end());
    double at = p * (v.size() - 1);
    size_t below = (size_t)at;
    if (below + 1 >= v.size())
        return v.back();
    return v[below] + (at - below) * (v[below + 1] - v[below]);
}

static void print_row(const char *what, const std::vector<double> &all)
{
    std::vector<double> seen;
    for (double ms : all)
        if (ms >= 0)
            seen.push_back(ms);
    int missed = (int)(all.size() - seen.size());
    if (seen.empty()) {
        std::printf("%-44s   never seen (%d tries)\n", what, missed);
        return;
    }
    std::printf("%-44s %7.2f %7.2f %7.2f %7.2f %5zu", what, percentile(seen, 0.5), percentile(seen, 0.9),
                *std::min_element(seen.begin(), seen.end()), *std::max_element(seen.begin(), seen.end()), all.size());
    if (missed)
        std::printf("  (%d not seen within %.0f ms)", missed, GIVE_UP_MS);
    std::printf("\n");
}

int main(int argc, char **argv)
{
    int w = 0, h = 0, depth = 0;
    if (argc < 2 || std::sscanf(argv[1], "%dx%dx%d", &w, &h, &depth) != 3) {
        std::fprintf(stderr, "usage: %s WIDTHxHEIGHTxDEPTH [moves] [havoc binary]\n", argv[0]);
        return 2;
    }
    int moves = argc > 2 ? std::atoi(argv[2]) : DEFAULT_MOVES;
    std::string binary = argc > 3 ? argv[3] : HAVOC_BINARY;

    XServer x(w, h, depth);
    if (!x.display)
        return 2;
    if (!XShmQueryExtension(x.display)) {
        std::fprintf(stderr, "the X server at %s has no shared-memory images\n", x.name.c_str());
        return 2;
    }
    set_root_picture(x);
    Watch watch(x.display, WATCH_W, WATCH_H);

    pid_t painter = start_box_painter(x);
    wait_until([&] { return fullscreen_window_mapped(x); }, 10);
    std::vector<double> floor_ms = pointer_moves(x, watch, moves, near_pointer);
    stop(painter);
    wait_until([&] { return !fullscreen_window_mapped(x); }, 10);

    // A private HOME whose sound goes to a null device, as in the tests.
    char home[] = "/tmp/havoc-bench-home.XXXXXX";
    if (!mkdtemp(home))
        return 2;
    write_sound_home(home);
    std::vector<std::string> env = {"HOME=" + std::string(home), "DISPLAY=" + x.name, "PATH=/usr/bin:/bin"};
    std::string havoc_stderr = std::string(home) + "/stderr.txt";
    pid_t havoc = spawn({binary}, env, HAVOC_DATA_DIR, havoc_stderr);
    wait_until([&] { return fullscreen_window_mapped(x); }, 30);
    std::this_thread::sleep_for(FADE_OVER);

    struct ToolRow {
        const char *name;
        DrawnAt drawn_at;
    };
    static const ToolRow TOOLS[] = {{"pointer: havoc, the bat", bat_at},
                                    {"pointer: havoc, the lightsaber", saber_at},
                                    {"pointer: havoc, the laser", laser_at},
                                    {"pointer: havoc, the lady", near_pointer}};
    std::vector<double> palette_ms = pointer_moves(x, watch, moves, near_pointer);
    std::vector<std::vector<double>> tool_ms;
    for (int slot = 0; slot < 4; ++slot) {
        take_tool(x, slot);
        tool_ms.push_back(pointer_moves(x, watch, moves, TOOLS[slot].drawn_at));
        back_to_palette(x);
    }
    take_tool(x, 0);
    std::vector<double> press_ms = bat_presses(x, watch, PRESSES);
    back_to_palette(x);
    std::vector<double> escape_ms = escapes_from_bat(x, watch, ESCAPES);

    // A havoc that ended early leaves rows never seen; its own words say why.
    int status = 0;
    bool ended_early = waitpid(havoc, &status, WNOHANG) == havoc;
    if (!ended_early)
        stop(havoc);
    std::string said = read_file(havoc_stderr);
    std::system((std::string("rm -rf ") + home).c_str());
    if (ended_early)
        std::printf("havoc ended before the measurements did (status %d): %s\n", status, said.c_str());

    std::printf("hand to screen on a %dx%dx%d Xvfb, in ms, timed from outside\n", w, h, depth);
    std::printf("%-44s %7s %7s %7s %7s %5s\n", "", "median", "p90", "min", "max", "tries");
    print_row("pointer: plain X client painting a box", floor_ms);
    print_row("pointer: havoc, the palette", palette_ms);
    for (int slot = 0; slot < 4; ++slot)
        print_row(TOOLS[slot].name, tool_ms[slot]);
    print_row("button press: the bat's first swing frame", press_ms);
    print_row("Escape: the bat gives way to the palette", escape_ms);
    return 0;
}
