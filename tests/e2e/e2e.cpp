#include "e2e.h"

// gtest before the X headers, whose macros (None, Bool, ...) it would trip over.
#include <gtest/gtest.h>

#include <allegro.h>

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <grp.h>
#include <spawn.h>
#include <sstream>
#include <sys/shm.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char **environ;

// Long enough for a loop that polls the input state to see a press.
static const auto HOLD = std::chrono::milliseconds(80);
static const double SERVER_START_SECONDS = 30;

const std::string GOOD_DATA_FILE = std::string(HAVOC_DATA_DIR) + "/havoc.dat";

std::string read_file(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

std::string make_temp_dir(const char *what)
{
    std::string pattern = std::string("/tmp/havoc-") + what + ".XXXXXX";
    std::vector<char> buf(pattern.begin(), pattern.end());
    buf.push_back('\0');
    if (!mkdtemp(buf.data()))
        std::abort();
    return buf.data();
}

int spawn(const std::vector<std::string> &args, const std::vector<std::string> &env,
          const std::string &cwd, const std::string &out_path)
{
    pid_t pid = fork();
    if (pid == 0) {
        if (!cwd.empty() && chdir(cwd.c_str()) != 0)
            _exit(127);
        if (!out_path.empty()) {
            int out = open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
            dup2(out, 2);
            int null = open("/dev/null", O_WRONLY);
            dup2(null, 1);
        }
        // INT and QUIT as a terminal would deliver them, whatever we inherited.
        signal(SIGINT, SIG_DFL);
        signal(SIGQUIT, SIG_DFL);
        sigset_t none;
        sigemptyset(&none);
        sigprocmask(SIG_SETMASK, &none, nullptr);
        std::vector<char *> argv, envp;
        for (const std::string &a : args)
            argv.push_back(const_cast<char *>(a.c_str()));
        argv.push_back(nullptr);
        for (const std::string &e : env)
            envp.push_back(const_cast<char *>(e.c_str()));
        envp.push_back(nullptr);
        execvpe(argv[0], argv.data(), envp.data());
        _exit(127);
    }
    return pid;
}

bool wait_until(const std::function<bool()> &condition, double seconds)
{
    auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    for (;;) {
        if (condition())
            return true;
        if (std::chrono::steady_clock::now() > end)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

Sampling sample_until_fade(const std::function<int(bool &strip_changed)> &sample, double seconds)
{
    Sampling s;
    auto start = std::chrono::steady_clock::now();
    for (;;) {
        double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
        if (ms > seconds * 1000)
            return s;
        bool strip_changed = false;
        int off = sample(strip_changed);
        if (off < 0)
            return s;
        ++s.samples;
        if (off) {
            ++s.off;
            s.worst = std::max(s.worst, off);
            if (s.first_off_ms < 0)
                s.first_off_ms = ms;
            s.last_off_ms = ms;
        } else if (strip_changed) {
            s.fade_ms = ms;
            return s;
        }
    }
}

Sampling sample_rows_until_fade(XServer &x, const Picture &desktop, const std::vector<int> &rows, const Rect &strip,
                                const std::vector<Rect> &monitors, double seconds)
{
    Window root = DefaultRootWindow(x.display);
    auto on_a_monitor = [&](int px, int py) {
        return std::any_of(monitors.begin(), monitors.end(), [&](const Rect &m) { return m.contains(px, py); });
    };
    return sample_until_fade([&](bool &strip_changed) {
        int off = 0;
        for (int row : rows) {
            XImage *image = XGetImage(x.display, root, 0, row, x.w, 1, AllPlanes, ZPixmap);
            if (!image)
                return -1;
            for (int px = 0; px < x.w; ++px) {
                if ((int)(XGetPixel(image, px, 0) & 0xffffff) == desktop.at(px, row) || !on_a_monitor(px, row))
                    continue;
                if (strip.contains(px, row))
                    strip_changed = true;
                else
                    ++off;
            }
            XDestroyImage(image);
        }
        return off;
    }, seconds);
}

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
    pid = fork();
    if (pid == 0) {
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

Havoc::Havoc(XServer *x_, bool with_display, const std::string &data_file,
             const std::vector<std::string> &launcher)
    : x(x_)
{
    home = make_temp_dir("home");
    workdir = make_temp_dir("cwd");
    stderr_path = home + "/stderr.txt";
    std::string setup = std::string(TEST_SCRIPTS_DIR) + "/write_sound_home.sh " + home;
    EXPECT_EQ(std::system(setup.c_str()), 0);
    if (!data_file.empty()) {
        std::string copy = "cp " + data_file + " " + workdir + "/havoc.dat";
        EXPECT_EQ(std::system(copy.c_str()), 0);
    }
    std::vector<std::string> env = {"HOME=" + home, "PATH=/usr/bin:/bin"};
    if (with_display)
        env.push_back("DISPLAY=" + x->name);
    for (const char *keep : {"ASAN_OPTIONS", "UBSAN_OPTIONS"})
        if (const char *v = std::getenv(keep))
            env.push_back(std::string(keep) + "=" + v);
    std::vector<std::string> command = launcher;
    command.push_back(HAVOC_BINARY);
    started = std::chrono::system_clock::now();
    pid = spawn(command, env, workdir, stderr_path);
}

Havoc::~Havoc()
{
    if (!exited && pid > 0) {
        kill(pid, SIGKILL);
        waitpid(pid, &status, 0);
    }
    std::system(("rm -rf " + home + " " + workdir).c_str());
}

bool Havoc::running()
{
    if (exited)
        return false;
    if (waitpid(pid, &status, WNOHANG) == pid)
        exited = true;
    return !exited;
}

bool Havoc::wait_exit(double seconds)
{
    return wait_until([&] { return !running(); }, seconds);
}

void Havoc::signal(int sig)
{
    kill(pid, sig);
}

std::string Havoc::stderr_text() const
{
    return read_file(stderr_path);
}

std::vector<std::string> Havoc::working_dir_files() const
{
    std::vector<std::string> names;
    if (DIR *dir = opendir(workdir.c_str())) {
        while (dirent *e = readdir(dir))
            if (std::strcmp(e->d_name, ".") && std::strcmp(e->d_name, ".."))
                names.push_back(e->d_name);
        closedir(dir);
    }
    return names;
}

static const int ICON = 64, CAP = 16, ICONS = 5;

int slot_x(int screen_w, int slot)
{
    return (screen_w - ICONS * ICON) / 2 + slot * ICON + ICON / 2;
}

int slot_y(int screen_h)
{
    return (screen_h - ICON) / 2 - ICON + ICON / 2;
}

Rect palette_strip(int screen_w, int screen_h)
{
    return palette_strip_on({0, 0, screen_w, screen_h});
}

Rect palette_strip_on(const Rect &m)
{
    return {m.x + (m.w - ICONS * ICON) / 2 - CAP, m.y + (m.h - ICON) / 2 - ICON, ICONS * ICON + 2 * CAP, ICON};
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

// A pixel of the library at `bits` bits as a screenshot reads it. A 16-bit
// screenshot widens each channel by truncating, where the library's own
// tables round.
static int as_screenshot_reads(int bits, int c)
{
    if (bits == 16)
        return getr16(c) / 8 * 255 / 31 << 16 | getg16(c) / 4 * 255 / 63 << 8 | getb16(c) / 8 * 255 / 31;
    return getr32(c) << 16 | getg32(c) << 8 | getb32(c);
}

Picture expected_palette(const Picture &desktop, const std::string &data_file, int depth, const Rect &monitor)
{
    static bool started = install_allegro(SYSTEM_NONE, &errno, atexit) == 0;
    EXPECT_TRUE(started);
    // A 24-bit X screen has 32 bits a pixel, and so has havoc's screen there.
    int bits = depth == 24 ? 32 : depth;
    set_color_depth(bits);
    // As havoc loads its pictures: converted to the screen's depth, the mask
    // colour kept transparent.
    set_color_conversion(COLORCONV_TOTAL | COLORCONV_KEEP_TRANS);
    std::string dat = data_file + "#";
    BITMAP *picture = create_bitmap_ex(bits, desktop.w, desktop.h);
    for (int y = 0; y < desktop.h; ++y)
        for (int x = 0; x < desktop.w; ++x) {
            int c = desktop.at(x, y);
            putpixel(picture, x, y, makecol_depth(bits, c >> 16 & 0xff, c >> 8 & 0xff, c & 0xff));
        }
    Rect strip = monitor.w ? palette_strip_on(monitor) : palette_strip(desktop.w, desktop.h);
    const char *pieces[] = {"cap.tga", "icon00.tga", "icon01.tga", "icon02.tga", "icon03.tga", "iconend.tga"};
    BITMAP *piece[1 + ICONS];
    for (int i = 0; i < 1 + ICONS; ++i)
        piece[i] = load_bitmap((dat + pieces[i]).c_str(), nullptr);
    if (std::find(piece, piece + 1 + ICONS, nullptr) != piece + 1 + ICONS) {
        // The caller's comparison then fails too, instead of the test crashing.
        ADD_FAILURE() << "cannot read the palette's pictures from " << data_file;
        for (BITMAP *b : piece)
            if (b)
                destroy_bitmap(b);
        destroy_bitmap(picture);
        return desktop;
    }
    draw_sprite(picture, piece[0], strip.x, strip.y);
    for (int i = 0; i < ICONS; ++i)
        draw_sprite(picture, piece[1 + i], strip.x + CAP + i * ICON, strip.y);
    draw_sprite_h_flip(picture, piece[0], strip.x + CAP + ICONS * ICON, strip.y);
    for (BITMAP *b : piece)
        destroy_bitmap(b);
    Picture p;
    p.w = desktop.w;
    p.h = desktop.h;
    for (int y = 0; y < p.h; ++y)
        for (int x = 0; x < p.w; ++x)
            p.rgb.push_back(as_screenshot_reads(bits, getpixel(picture, x, y)));
    destroy_bitmap(picture);
    return p;
}

Rect around(int x, int y, int r)
{
    return {x - r, y - r, 2 * r + 1, 2 * r + 1};
}

int differing(const Picture &a, const Picture &b, Rect area, Rect except, int tolerance)
{
    auto far_apart = [&](int p, int q) {
        for (int shift : {16, 8, 0})
            if (std::abs((p >> shift & 0xff) - (q >> shift & 0xff)) > tolerance)
                return true;
        return false;
    };
    int n = 0;
    for (int y = std::max(0, area.y); y < std::min(a.h, area.y + area.h); ++y)
        for (int x = std::max(0, area.x); x < std::min(a.w, area.x + area.w); ++x)
            if (!except.contains(x, y) && far_apart(a.at(x, y), b.at(x, y)))
                ++n;
    return n;
}

Sound read_sound(const std::string &path)
{
    Sound s;
    std::ifstream in(path, std::ios::binary);
    std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    // Walk the RIFF chunks: the file is still being written, so sizes in
    // the header may be stale; the data runs to the end of the file.
    size_t pos = 12;
    int channels = 2;
    while (pos + 8 <= bytes.size()) {
        std::string id(&bytes[pos], 4);
        uint32_t size;
        std::memcpy(&size, &bytes[pos + 4], 4);
        if (id == "fmt ") {
            uint16_t ch;
            uint32_t rate;
            std::memcpy(&ch, &bytes[pos + 10], 2);
            std::memcpy(&rate, &bytes[pos + 12], 4);
            channels = ch;
            s.rate = (int)rate;
        } else if (id == "data") {
            size_t frames = (bytes.size() - pos - 8) / (2 * channels);
            const char *data = &bytes[pos + 8];
            for (size_t i = 0; i < frames; ++i) {
                short l, r;
                std::memcpy(&l, data + i * 2 * channels, 2);
                std::memcpy(&r, data + i * 2 * channels + (channels > 1 ? 2 : 0), 2);
                s.left.push_back(l);
                s.right.push_back(r);
            }
            break;
        }
        pos += 8 + size;
    }
    return s;
}

double rms(const std::vector<short> &channel, int rate, double from, double to)
{
    size_t a = (size_t)std::max(0.0, from * rate), b = std::min(channel.size(), (size_t)(to * rate));
    if (b <= a)
        return 0;
    double sum = 0;
    for (size_t i = a; i < b; ++i)
        sum += (double)channel[i] * channel[i];
    return std::sqrt(sum / (double)(b - a));
}

double sound_seconds(const std::string &path)
{
    Sound sound = read_sound(path);
    return sound.rate ? (double)sound.left.size() / sound.rate : 0;
}

Stereo loudness(const std::string &path, double from, double to)
{
    Sound sound = read_sound(path);
    return {rms(sound.left, sound.rate, from, to), rms(sound.right, sound.rate, from, to)};
}

// The System V shared memory segments a run of havoc created, as the
// kernel lists them, with their mode bits: permissions, and SHM_DEST once
// marked for removal. Segments that other runs leaked stay listed with the
// number of the process that made them, which a later process may be given
// again; those were last changed before this run started.
struct Segment {
    int id;
    int mode;
};
static std::vector<Segment> segments_of(const Havoc &havoc)
{
    long start_second = std::chrono::duration_cast<std::chrono::seconds>(havoc.started.time_since_epoch()).count();
    std::vector<Segment> found;
    std::ifstream list("/proc/sysvipc/shm");
    std::string header;
    std::getline(list, header);
    for (std::string line; std::getline(list, line);) {
        std::istringstream fields(line);
        long key, size, last_attach, last_detach, last_change;
        int id, creator, last_user, attached, uid, gid, creator_uid, creator_gid;
        std::string mode;
        if (fields >> key >> id >> mode >> size >> creator >> last_user >> attached >> uid >> gid >>
                creator_uid >> creator_gid >> last_attach >> last_detach >> last_change &&
            creator == havoc.pid && last_change >= start_second)
            found.push_back({id, (int)std::stol(mode, nullptr, 8)});
    }
    return found;
}

static bool readable_by_user(int id, int uid)
{
    const int ATTACHED = 0, REFUSED = 1, NOT_THAT_USER = 2;
    pid_t child = fork();
    if (child == 0) {
        if (setgroups(0, nullptr) != 0 || setgid(uid) != 0 || setuid(uid) != 0)
            _exit(NOT_THAT_USER);
        _exit(shmat(id, nullptr, SHM_RDONLY) == (void *)-1 ? REFUSED : ATTACHED);
    }
    int status = 0;
    waitpid(child, &status, 0);
    EXPECT_NE(WEXITSTATUS(status), NOT_THAT_USER) << "cannot become user " << uid;
    return WIFEXITED(status) && WEXITSTATUS(status) == ATTACHED;
}

std::vector<std::string> frame_memory_faults(const Havoc &havoc)
{
    const int NOBODY = 65534, OWNER_ONLY = 0600, PERMISSIONS = 0777;
    std::vector<std::string> faults;
    std::vector<Segment> segments = segments_of(havoc);
    if (segments.empty())
        faults.push_back("no shared memory for the frame");
    for (const Segment &s : segments) {
        if ((s.mode & PERMISSIONS) != OWNER_ONLY) {
            char mode[16];
            std::snprintf(mode, sizeof mode, "%03o", s.mode & PERMISSIONS);
            faults.push_back(std::string("shared memory of mode ") + mode);
        }
        if (!(s.mode & SHM_DEST))
            faults.push_back("shared memory not marked for removal");
        if (geteuid() == 0 && readable_by_user(s.id, NOBODY))
            faults.push_back("shared memory readable by nobody");
    }
    return faults;
}

bool shared_memory_left(const Havoc &havoc)
{
    return !segments_of(havoc).empty();
}
