// Start-up of the real havoc binary, watched from outside the process on a
// private Xvfb: the time from launch until the full-screen window shows the
// desktop picture, and until the palette's fade first changes the strip,
// next to the time `xwd -root` takes to photograph the same desktop.
//   havoc_startup_bench WIDTHxHEIGHTxDEPTH [runs]
#include "e2e/desktop.h"
#include "e2e/expected_palette.h"
#include "e2e/runs.h"
#include "e2e/sound.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XShm.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <sys/ipc.h>
#include <sys/shm.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

using Clock = std::chrono::steady_clock;

static const int DEFAULT_RUNS = 5;
static const double STAGE_TIMEOUT_SECONDS = 30;
// Between two looks at the screen; the watcher must not take a core from
// the havoc it watches.
static const auto POLL_PAUSE = std::chrono::milliseconds(2);

static double ms_since(Clock::time_point from)
{
    return std::chrono::duration<double, std::milli>(Clock::now() - from).count();
}

// A shared-memory photograph of a rectangle of the root window, cheap
// enough to take again and again while havoc starts.
struct RootCapture {
    Rect area;
    XImage *image = nullptr;
    XShmSegmentInfo segment = {};
};

static bool open_capture(XServer &x, const Rect &area, RootCapture *c)
{
    c->area = area;
    Display *d = x.display;
    if (!XShmQueryExtension(d))
        return false;
    int screen = DefaultScreen(d);
    c->image = XShmCreateImage(d, DefaultVisual(d, screen), DefaultDepth(d, screen), ZPixmap,
                               nullptr, &c->segment, area.w, area.h);
    if (!c->image)
        return false;
    c->segment.shmid = shmget(IPC_PRIVATE, (size_t)c->image->bytes_per_line * c->image->height,
                              IPC_CREAT | 0600);
    c->segment.shmaddr = c->image->data = (char *)shmat(c->segment.shmid, nullptr, 0);
    c->segment.readOnly = False;
    XShmAttach(d, &c->segment);
    XSync(d, False);
    // Marked for removal now, so it goes with the process whatever happens.
    shmctl(c->segment.shmid, IPC_RMID, nullptr);
    return true;
}

static void capture(XServer &x, RootCapture *c)
{
    XShmGetImage(x.display, DefaultRootWindow(x.display), c->image, c->area.x, c->area.y, AllPlanes);
}

// Whether `shot` agrees with the same rectangle of `desktop` in every
// colour bit.
static bool same_as_desktop(const RootCapture &shot, const RootCapture &desktop)
{
    const XImage *a = shot.image, *b = desktop.image;
    unsigned long colour_bits = a->red_mask | a->green_mask | a->blue_mask;
    for (int y = 0; y < shot.area.h; ++y) {
        const char *row_a = a->data + (size_t)y * a->bytes_per_line;
        const char *row_b = b->data + (size_t)(y + shot.area.y) * b->bytes_per_line;
        for (int px = 0; px < shot.area.w; ++px) {
            int bx = px + shot.area.x;
            unsigned long pa, pb;
            if (a->bits_per_pixel == 16) {
                pa = ((const uint16_t *)row_a)[px];
                pb = ((const uint16_t *)row_b)[bx];
            } else {
                pa = ((const uint32_t *)row_a)[px];
                pb = ((const uint32_t *)row_b)[bx];
            }
            if ((pa ^ pb) & colour_bits)
                return false;
        }
    }
    return true;
}

struct StartUp {
    double picture_ms = -1;   // launch to the desktop picture on the full-screen window
    double fade_ms = -1;      // launch to the first change in the palette's strip
};

// One start of havoc over the desktop photographed in `desktop`, watched
// through `whole` (the screen) and `strip` (the palette's rectangle); ends
// it once the fade has been seen.
static StartUp time_one_start(XServer &x, const std::string &home, RootCapture *whole,
                              RootCapture *strip, const RootCapture &desktop)
{
    StartUp s;
    std::vector<std::string> env = {"HOME=" + home, "DISPLAY=" + x.name, "PATH=/usr/bin:/bin"};
    Clock::time_point start = Clock::now();
    pid_t pid = spawn({HAVOC_BINARY}, env, HAVOC_DATA_DIR, "/dev/null");
    auto in_time = [&] { return ms_since(start) < STAGE_TIMEOUT_SECONDS * 1000; };

    // The window first comes up empty; the picture follows.
    for (; in_time(); std::this_thread::sleep_for(POLL_PAUSE)) {
        if (!fullscreen_window_mapped(x))
            continue;
        capture(x, whole);
        if (same_as_desktop(*whole, desktop)) {
            s.picture_ms = ms_since(start);
            break;
        }
    }
    // Only the strip is watched from here on, which keeps each look short.
    for (; s.picture_ms >= 0 && in_time(); std::this_thread::sleep_for(POLL_PAUSE)) {
        capture(x, strip);
        if (!same_as_desktop(*strip, desktop)) {
            s.fade_ms = ms_since(start);
            break;
        }
    }
    kill(pid, SIGTERM);
    waitpid(pid, nullptr, 0);
    // The next start begins from the bare desktop again.
    wait_until([&] { return !fullscreen_window_mapped(x); }, STAGE_TIMEOUT_SECONDS);
    return s;
}

static double time_xwd(XServer &x)
{
    std::vector<std::string> env = {"DISPLAY=" + x.name, "PATH=/usr/bin:/bin"};
    Clock::time_point start = Clock::now();
    pid_t pid = spawn({"xwd", "-root", "-silent", "-out", "/dev/null"}, env, "/", "/dev/null");
    int status = 0;
    waitpid(pid, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return -1;
    return ms_since(start);
}

static double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

static void print_row(const char *what, const std::vector<double> &ms)
{
    if (std::find_if(ms.begin(), ms.end(), [](double m) { return m < 0; }) != ms.end()) {
        std::printf("%-52s   not seen within %.0f s\n", what, STAGE_TIMEOUT_SECONDS);
        return;
    }
    std::printf("%-52s %7.0f ms  (%.0f to %.0f)\n", what, median(ms),
                *std::min_element(ms.begin(), ms.end()), *std::max_element(ms.begin(), ms.end()));
}

int main(int argc, char **argv)
{
    int w = 0, h = 0, depth = 0;
    if (argc < 2 || std::sscanf(argv[1], "%dx%dx%d", &w, &h, &depth) != 3) {
        std::fprintf(stderr, "usage: %s WIDTHxHEIGHTxDEPTH [runs]\n", argv[0]);
        return 2;
    }
    int runs = argc > 2 ? std::atoi(argv[2]) : DEFAULT_RUNS;

    XServer x(w, h, depth);
    if (!x.display)
        return 2;
    set_root_picture(x);
    Rect screen_area = {0, 0, w, h};
    RootCapture desktop, whole, strip;
    if (!open_capture(x, screen_area, &desktop) || !open_capture(x, screen_area, &whole) ||
        !open_capture(x, palette_layout(screen_area).strip, &strip)) {
        std::fprintf(stderr, "the X server at %s has no shared-memory images\n", x.name.c_str());
        return 2;
    }
    capture(x, &desktop);

    // A private HOME whose sound goes to a null device, as in the tests.
    char home[] = "/tmp/havoc-bench-home.XXXXXX";
    if (!mkdtemp(home))
        return 2;
    write_sound_home(home);

    std::vector<double> picture, fade, xwd;
    for (int run = 0; run < runs; ++run) {
        StartUp s = time_one_start(x, home, &whole, &strip, desktop);
        picture.push_back(s.picture_ms);
        fade.push_back(s.fade_ms);
        xwd.push_back(time_xwd(x));
    }
    std::system((std::string("rm -rf ") + home).c_str());

    std::printf("havoc start-up on a %dx%dx%d Xvfb: median of %d runs, (fastest to slowest)\n", w, h,
                depth, runs);
    print_row("launch to the desktop picture, full screen", picture);
    print_row("launch to the palette's fade starting", fade);
    print_row("xwd -root photographing the same desktop", xwd);
    if (*std::min_element(picture.begin(), picture.end()) >= 0 && *std::min_element(xwd.begin(), xwd.end()) > 0)
        std::printf("%-52s %7.2f\n", "desktop picture over xwd -root (medians)", median(picture) / median(xwd));
    return 0;
}
