// The real binary on the Wayland desktops people have: headless sway, GNOME
// and KDE Plasma with XWayland and each desktop's own portal, a native window
// holding the keyboard before launch (tests/wayland/with_DESKTOP.sh sets each
// up; wayland_desktop.h says how each is asked and driven). The picture must come
// from the portal, the screen must show nothing but the desktop until the
// palette opens, input given through the compositor must reach havoc, and
// nothing may be left on disk or grabbed.
//   wayland_tests HAVOC_BINARY HAVOC_DAT, inside tests/wayland/with_DESKTOP.sh
#include "e2e/desktop.h"
#include "e2e/expected_palette.h"
#include "e2e/runs.h"
#include "shell/art_geometry.h"
#include "wayland/wayland_desktop.h"

#include <gtest/gtest.h>

#include <X11/Xlib.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <cstring>
#include <functional>
#include <fstream>
#include <map>
#include <mutex>
#include <poll.h>
#include <random>
#include <set>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char **environ;

namespace {

namespace fs = std::filesystem;

std::string havoc_binary, data_file, fake_portal_script;
const double START_SECONDS = 30, STEP_SECONDS = 20;
const int AT_X = 1400, AT_Y = 800;  // where the bat strikes, well away from the palette
const int CRACK_RADIUS = CRACK_CENTRE;   // the crack's reach from where it struck
const int CRACK_PIXELS = 200;       // changed pixels within that reach that make a crack
// The bat hangs from the pointer by its grip, reaching this far right of it.
const int BAT_REACH_RIGHT = BAT_FRAME_W - BAT_GRIP_X;
const Rect CRACK_RIGHT_OF_BAT{AT_X + BAT_REACH_RIGHT + 1, AT_Y - CRACK_RADIUS, CRACK_RADIUS - BAT_REACH_RIGHT,
                              2 * CRACK_RADIUS};

Picture compositor_capture(Rect area = {0, 0, 0, 0}) { return this_desktop().capture(area); }
bool terminal_has_keyboard() { return this_desktop().native_window_has_keyboard(); }
bool havoc_full_screen_with_keyboard() { return this_desktop().havoc_full_screen_with_keyboard(); }
bool any_x_window() { return this_desktop().any_x_window(); }
std::string x_windows() { return this_desktop().x_windows(); }
bool type_key_until(const std::string &key, const std::function<bool()> &done)
{
    return this_desktop().type_key_until(key, done);
}
void pointer_to(XServer &x, int px, int py) { this_desktop().move_pointer(x, px, py); }
void button_down(XServer &x) { this_desktop().press_button(x, true); }
void button_up(XServer &x) { this_desktop().press_button(x, false); }

// The desktop as the user leaves it: what two captures in a row agree on,
// once the windows have drawn themselves.
Picture settled_capture()
{
    Picture last, now;
    EXPECT_TRUE(wait_until([&] {
        last = now;
        now = compositor_capture();
        return now.rgb == last.rgb;
    }, STEP_SECONDS));
    return now;
}

// Every file under HOME, and every file of ours directly in /tmp, where a
// portal may put its picture.
std::set<std::string> files_left()
{
    std::set<std::string> files;
    std::error_code error;
    // The desktop's own programs keep their caches (a sound played by the
    // shell, say) under HOME/.cache; havoc keeps nothing anywhere.
    const std::string caches = std::string(std::getenv("HOME")) + "/.cache";
    for (fs::recursive_directory_iterator i(std::getenv("HOME"), error), end; !error && i != end;
         i.increment(error))
        if (i->path().string().rfind(caches, 0) != 0)
            files.insert(i->path());
    for (fs::directory_iterator i("/tmp", error), end; !error && i != end; i.increment(error)) {
        struct stat st;
        // Not the lock files of X servers this user runs elsewhere.
        if (i->path().filename().string()[0] != '.' && lstat(i->path().c_str(), &st) == 0 &&
            st.st_uid == getuid() && S_ISREG(st.st_mode))
            files.insert(i->path());
    }
    return files;
}

// Every file of ours written, from now on, in /tmp, HOME or the runtime
// folder, where a portal may put its picture: noted the moment it appears,
// so a file deleted a moment later counts too.
struct FileWatch {
    FileWatch()
    {
        fd = inotify_init1(IN_NONBLOCK);
        for (const std::string &folder : {std::string("/tmp"), std::string(std::getenv("HOME")),
                                          std::string(std::getenv("XDG_RUNTIME_DIR"))})
            folders[inotify_add_watch(fd, folder.c_str(), IN_CREATE | IN_MOVED_TO)] = folder;
        reader = std::thread([this] {
            alignas(inotify_event) char buffer[4096];
            while (!done) {
                ssize_t n = read(fd, buffer, sizeof buffer);
                if (n <= 0) {
                    std::this_thread::sleep_for(std::chrono::milliseconds(1));
                    continue;
                }
                for (char *p = buffer; p < buffer + n;) {
                    auto *event = (inotify_event *)p;
                    std::string path = folders[event->wd] + "/" + (event->len ? event->name : "");
                    struct stat st;
                    if (lstat(path.c_str(), &st) == 0 && st.st_uid == getuid() && S_ISREG(st.st_mode)) {
                        std::lock_guard<std::mutex> hold(lock);
                        written.insert(path);
                    }
                    p += sizeof(inotify_event) + event->len;
                }
            }
        });
    }
    ~FileWatch()
    {
        done = true;
        reader.join();
        close(fd);
    }
    std::set<std::string> files()
    {
        std::lock_guard<std::mutex> hold(lock);
        return written;
    }
    int fd;
    std::map<int, std::string> folders;
    std::mutex lock;
    std::set<std::string> written;
    std::atomic<bool> done{false};
    std::thread reader;
};

// A run of havoc from a scratch folder outside HOME holding havoc.dat, with
// this session's environment, `extra_env` added and `wrapper` in front.
struct Launch : Process {
    explicit Launch(const std::vector<std::string> &extra_env = {}, const std::vector<std::string> &wrapper = {})
    {
        std::string scratch = scratch_folder("wayland-run");
        fs::copy_file(data_file, scratch + "/havoc.dat");
        auto name = [](const std::string &variable) { return variable.substr(0, variable.find('=')); };
        std::set<std::string> replaced;
        for (const std::string &variable : extra_env)
            replaced.insert(name(variable));
        std::vector<std::string> env = extra_env;
        for (char **e = environ; *e; ++e)
            if (!replaced.count(name(*e)))
                env.push_back(*e);
        std::vector<std::string> args = wrapper;
        args.push_back(havoc_binary);
        start(args, env, scratch, scratch + "/stderr.txt");
    }
};

// A session on the desktop as the user left it.
struct Desktop {
    XServer x{std::getenv("DISPLAY")};  // XWayland, whose XTEST moves the pointer
    // Where a portal that draws the pointer into its picture draws it.
    Rect drawn_pointer = place_pointer_for_portal();
    Picture picture = settled_capture();
    Picture with_palette = expected_palette(picture, data_file);
    PaletteLayout palette = palette_layout({0, 0, picture.w, picture.h}, data_file);
    Rect strip = palette.strip;

    // On a desktop whose portal draws the pointer, the pointer is put where
    // the test knows it before the desktop settles under it (XWayland is told
    // where it is only once an X window shows): on the background near the
    // right edge, where no window shows a tooltip, away from the palette and
    // from where the bat strikes.
    Rect place_pointer_for_portal()
    {
        const int FROM_RIGHT_EDGE = 100;
        Rect drawn = this_desktop().portal_pointer;
        if (drawn.w == 0)
            return drawn;
        int px = x.w - FROM_RIGHT_EDGE, py = x.h / 2;
        this_desktop().place_pointer(px, py);
        return {px + drawn.x, py + drawn.y, drawn.w, drawn.h};
    }

    // Where the pointer shows: havoc's arrow, and the one the portal drew.
    std::vector<Rect> pointer_areas() { return {pointer_box(x), drawn_pointer}; }

    // Pixels outside the palette strip, the pointer and the desktop's clock
    // that differ from the desktop as it was.
    int changed_outside_palette(const Picture &now)
    {
        std::vector<Rect> except = pointer_areas();
        except.push_back(strip);
        except.push_back(this_desktop().clock);
        return differing(now, picture, {0, 0, picture.w, picture.h}, except);
    }

    // The palette faded in, its icons fully opaque: it takes clicks and keys.
    bool palette_shown() { return differing(compositor_capture(), with_palette, strip, pointer_areas()) == 0; }
    // Pixels of `area` that differ from the desktop as it was, leaving out the pointer.
    int changed(Rect area) { return differing(compositor_capture(), picture, area, pointer_areas()); }
};

// Whether every pixel of `area` outside `except` that differs from
// `before` is lighter now in every channel, or as light.
bool only_lighter(const Picture &now, const Picture &before, Rect area, const std::vector<Rect> &except)
{
    for (int y = area.y; y < area.y + area.h; ++y)
        for (int x = area.x; x < area.x + area.w; ++x) {
            if (std::any_of(except.begin(), except.end(), [&](const Rect &r) { return r.contains(x, y); }))
                continue;
            int a = now.at(x, y), b = before.at(x, y);
            for (int shift : {16, 8, 0})
                if ((a >> shift & 0xff) < (b >> shift & 0xff))
                    return false;
        }
    return true;
}

// Watches XWayland for the first window of havoc's, by its event rather than
// by asking again and again: until then nothing of havoc's can be on screen,
// and pictures of the screen taken meanwhile would only compete with the one
// the desktop's portal is taking.
struct FirstWindowWatch {
    explicit FirstWindowWatch(XServer &x) : x(x)
    {
        XSelectInput(x.display, DefaultRootWindow(x.display), SubstructureNotifyMask);
        XSync(x.display, False);
    }
    ~FirstWindowWatch()
    {
        XSelectInput(x.display, DefaultRootWindow(x.display), NoEventMask);
        XSync(x.display, True);
    }
    bool wait(double seconds)
    {
        auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
        for (;;) {
            while (XPending(x.display)) {
                XEvent event;
                XNextEvent(x.display, &event);
                if (event.type == CreateNotify)
                    return true;
            }
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
            pollfd connection = {ConnectionNumber(x.display), POLLIN, 0};
            if (left.count() <= 0 || poll(&connection, 1, (int)left.count()) == 0)
                return false;
        }
    }
    XServer &x;
};

// Captures the full-width band of rows that holds the palette strip, one
// compositor frame after another, from now until the strip alone has
// changed (the fade has begun). The band crosses the terminal and the
// background too, so a black, shifted or half-drawn screen shows in it.
Sampling sample_band_until_fade(Desktop &desktop, int *portal_flashes, int *lightened)
{
    const Rect band{0, desktop.strip.y, desktop.picture.w, desktop.strip.h};
    const Rect whole_band{0, 0, band.w, band.h}, strip{desktop.strip.x, 0, desktop.strip.w, band.h};
    Picture before;
    before.w = band.w;
    before.h = band.h;
    before.rgb.assign(desktop.picture.rgb.begin() + (size_t)band.y * band.w,
                      desktop.picture.rgb.begin() + (size_t)(band.y + band.h) * band.w);
    return sample_until_fade([&](bool &strip_changed) {
        Picture now = compositor_capture(band);
        if (now.rgb.empty())
            return -1;
        std::vector<Rect> pointer = desktop.pointer_areas();
        for (Rect &r : pointer)
            r.y -= band.y;
        int in_strip = differing(now, before, strip, pointer);
        strip_changed = in_strip > 0;
        int off = differing(now, before, whole_band, pointer) - in_strip;
        // The desktop's own flash as its portal takes the picture, before
        // havoc has a window at all, is none of havoc's doing.
        if (off > 0 && this_desktop().portal_flashes && !any_x_window()) {
            ++*portal_flashes;
            return 0;
        }
        // The window that had the keyboard redrawn as one without it (its
        // shadow lifted, its frame greyed) as havoc's takes it, before
        // havoc's is on screen: the desktop's own doing too, only lighter.
        if (off > 0 && this_desktop().focus_lightens_windows && only_lighter(now, before, whole_band, pointer)) {
            ++*lightened;
            strip_changed = false;
            return 0;
        }
        return off;
    }, START_SECONDS);
}

TEST(WaylandDesktop, LooksUntouchedUntilThePaletteKeysThroughTheCompositorAndNothingLeftBehind)
{
    ASSERT_TRUE(terminal_has_keyboard()) << "the native window should have the keyboard before launch";
    Desktop desktop;
    std::set<std::string> files_before = files_left();

    FileWatch watch;
    FirstWindowWatch first_window(desktop.x);
    Launch havoc;
    ASSERT_TRUE(first_window.wait(START_SECONDS)) << "havoc showed no window: " << havoc.stderr_text();
    double window_ms =
        std::chrono::duration<double, std::milli>(std::chrono::system_clock::now() - havoc.started).count();
    // From then until the palette fades in the screen is the desktop: no
    // black window, no picture drawn late.
    int portal_flashes = 0, lightened = 0;
    Sampling s = sample_band_until_fade(desktop, &portal_flashes, &lightened);
    EXPECT_EQ(s.off, 0) << s.off << " of " << s.samples << " samples differ from the desktop (at most " << s.worst
                        << " pixels) between " << s.first_off_ms << " and " << s.last_off_ms << " ms";
    ASSERT_GE(s.fade_ms, 0) << "the palette never began to fade in: " << x_windows() << havoc.stderr_text();
    std::printf("window %.0f ms after launch, then %d samples, %d off the desktop, %d of the portal's flash, %d of "
                "the focus leaving a window, one every %.0f ms, fade from %.0f ms after launch\n",
                window_ms, s.samples, s.off, portal_flashes, lightened, s.fade_ms / s.samples, window_ms + s.fade_ms);
    RecordProperty("launch_to_palette_fade_ms", (int)(window_ms + s.fade_ms));
    ASSERT_TRUE(wait_until(havoc_full_screen_with_keyboard, STEP_SECONDS))
        << "havoc's window should be full screen with the keyboard: " << x_windows() << havoc.stderr_text();
    int changed = desktop.changed_outside_palette(compositor_capture());
    EXPECT_EQ(changed, 0) << changed << " pixels outside the palette differ from the compositor's own picture";
    // sway hands the picture over through a pipe: no file at all.
    std::set<std::string> written = watch.files();
    if (std::string(this_desktop().name) == "sway") {
        EXPECT_TRUE(written.empty()) << written.size() << " files written during start-up, " << *written.begin();
    }
    EXPECT_EQ(files_left(), files_before);

    ASSERT_TRUE(wait_until([&] { return desktop.palette_shown(); }, START_SECONDS));
    // The bat's icon clicked, the button held until the icon shows it down
    // and the pointer kept there until the palette is gone, so a busy
    // machine cannot lose the click. The bat then hangs at the pointer; the
    // strip right of it is the desktop again.
    int bat_icon_x = desktop.palette.slot_x(0);
    Rect right_of_bat{bat_icon_x + BAT_REACH_RIGHT + 1, desktop.strip.y,
                      desktop.strip.x + desktop.strip.w - bat_icon_x - BAT_REACH_RIGHT - 1, desktop.strip.h};
    pointer_to(desktop.x, bat_icon_x, desktop.palette.slot_y());
    button_down(desktop.x);
    EXPECT_TRUE(wait_until([&] { return !desktop.palette_shown(); }, STEP_SECONDS)) << "the bat's icon never went down";
    button_up(desktop.x);
    ASSERT_TRUE(wait_until([&] { return desktop.changed(right_of_bat) == 0; }, STEP_SECONDS))
        << "the bat's click should close the palette";
    pointer_to(desktop.x, AT_X, AT_Y);
    // The button held until the glass breaks; the crack shows right of the bat.
    button_down(desktop.x);
    EXPECT_TRUE(wait_until([&] { return desktop.changed(CRACK_RIGHT_OF_BAT) > CRACK_PIXELS / 4; }, STEP_SECONDS))
        << "no crack where the bat struck";
    button_up(desktop.x);
    // Escape taken once the palette begins to fade in, where the strip showed
    // the desktop: a busy machine may take long to finish the fade, and a
    // second Escape would quit.
    ASSERT_TRUE(type_key_until("Escape", [&] { return desktop.changed(desktop.strip) > 0; }))
        << "Escape typed through the compositor should bring back the palette";
    ASSERT_TRUE(wait_until([&] { return desktop.palette_shown(); }, START_SECONDS)) << "the palette never came back";
    EXPECT_GT(desktop.changed(around(AT_X, AT_Y, CRACK_RADIUS)), CRACK_PIXELS) << "the crack stays";

    ASSERT_TRUE(type_key_until("Escape", [&] { return !havoc.running(); })) << "Escape on the palette should quit";
    ASSERT_TRUE(WIFEXITED(havoc.status));
    EXPECT_EQ(WEXITSTATUS(havoc.status), 0) << havoc.stderr_text();
    EXPECT_TRUE(wait_until(terminal_has_keyboard, STEP_SECONDS)) << "the keyboard should go back to the terminal";
    EXPECT_EQ(files_left(), files_before);
}

// havoc cannot move the desktop's pointer on Wayland: its own arrow starts
// where that pointer is, not mid-screen, so a first click lands where the
// person sees the pointer.
TEST(WaylandDesktop, TheArrowStartsWhereThePointerIs)
{
    if (std::string(this_desktop().name) != "sway")
        GTEST_SKIP() << "only sway's XWayland is told where the pointer is before an X window shows";
    Desktop desktop;
    const int PX = 500, PY = 300;  // away from mid-screen and the palette
    ::move_pointer(desktop.x, PX, PY);
    Launch havoc;
    ASSERT_TRUE(wait_until([&] { return desktop.palette_shown(); }, START_SECONDS)) << havoc.stderr_text();
    Picture now = compositor_capture();
    EXPECT_GT(differing(now, desktop.picture, arrow_box(PX, PY)), 0) << "no arrow where the pointer is";
    Rect middle = arrow_box(desktop.picture.w / 2, desktop.picture.h / 2);
    EXPECT_EQ(differing(now, desktop.picture, middle, desktop.strip), 0) << "an arrow mid-screen";
    EXPECT_TRUE(type_key_until("Escape", [&] { return !havoc.running(); }));
}

// On a scaled output the portal's picture has the output's own pixels, more
// than the X screen has; havoc must show all of it, not its top-left part.
TEST(WaylandDesktop, OnAScaledOutputThePictureIsFittedWhole)
{
    const int SCALE = 2;
    if (!this_desktop().scale_output(SCALE))
        GTEST_SKIP() << "outputs are scaled here on sway only";
    Picture before = settled_capture();  // the terminal redrawn at the new scale
    Launch havoc;
    ASSERT_TRUE(wait_until(havoc_full_screen_with_keyboard, START_SECONDS)) << x_windows() << havoc.stderr_text();
    XServer x(std::getenv("DISPLAY"));
    ASSERT_EQ(x.w * SCALE, before.w) << "the X screen should have the output's size over the scale";
    Rect strip = palette_layout({0, 0, x.w, x.h}, data_file).strip, pointer = pointer_box(x);
    Rect left{0, 0, strip.x * SCALE, before.h}, right{(strip.x + strip.w) * SCALE, 0, before.w, before.h};
    Rect scaled_pointer{pointer.x * SCALE, pointer.y * SCALE, pointer.w * SCALE, pointer.h * SCALE};
    // Scaled down by havoc and up again by the compositor, the picture loses
    // its finest detail; a picture not fitted differs almost everywhere.
    const int TOLERANCE = 32;
    int area = (left.w + before.w - right.x) * before.h, changed = -1;
    EXPECT_TRUE(wait_until([&] {
        Picture now = compositor_capture();
        changed = differing(now, before, left, scaled_pointer, TOLERANCE) +
                  differing(now, before, right, scaled_pointer, TOLERANCE);
        return changed < area / 8;
    }, START_SECONDS)) << changed << " of " << area << " pixels beside the palette differ";

    EXPECT_TRUE(type_key_until("Escape", [&] { return !havoc.running(); }));
    EXPECT_TRUE(wait_until(terminal_has_keyboard, STEP_SECONDS));
    EXPECT_TRUE(this_desktop().scale_output(1));
}

// Ways the desktop's picture cannot be had: one line saying what to do, a
// failed exit, and the desktop as it was.
struct NoPicture {
    const char *name;
    std::vector<std::string> extra_env;
    bool on_a_bare_bus;  // a session bus of its own, on which nothing can be started
    const char *says;
};

// A compositor havoc cannot reach sends it to the portal.
const char *const NO_COMPOSITOR = "WAYLAND_DISPLAY=no-compositor-here";

const NoPicture NO_PICTURE[] = {
    {"PortalMissing", {NO_COMPOSITOR}, true, "no desktop portal takes screenshots here"},
    {"NoSessionBus", {NO_COMPOSITOR, "DBUS_SESSION_BUS_ADDRESS=unix:path=/nonexistent"}, false,
     "there is no session bus"},
    // The compositor offers its screen copy, but the program that takes it is not there.
    {"GrimMissing", {"PATH=/nonexistent"}, false, "install grim"},
};

// The configuration of a session bus on which nothing can be started.
std::string bare_bus_config()
{
    std::string config = std::string(std::getenv("XDG_RUNTIME_DIR")) + "/bare-bus.conf";
    std::ofstream(config) << "<busconfig><type>session</type><listen>unix:tmpdir=/tmp</listen>"
                             "<policy context=\"default\"><allow send_destination=\"*\" eavesdrop=\"true\"/>"
                             "<allow eavesdrop=\"true\"/><allow own=\"*\"/></policy></busconfig>\n";
    return config;
}

std::vector<std::string> on_a_bare_bus()
{
    return {"dbus-run-session", "--config-file=" + bare_bus_config(), "--"};
}

class WithoutPortal : public testing::TestWithParam<NoPicture> {};

TEST_P(WithoutPortal, SaysSoInOneLineFailsAndLeavesTheDesktopAlone)
{
    if (std::string(GetParam().name) == "GrimMissing" && std::string(this_desktop().name) != "sway")
        GTEST_SKIP() << "only sway copies its screen for grim";
    Launch havoc(GetParam().extra_env, GetParam().on_a_bare_bus ? on_a_bare_bus() : std::vector<std::string>{});
    ASSERT_TRUE(havoc.wait_exit(START_SECONDS));
    ASSERT_TRUE(WIFEXITED(havoc.status)) << "ended by signal " << WTERMSIG(havoc.status);
    EXPECT_NE(WEXITSTATUS(havoc.status), 0);
    std::string text = havoc.stderr_text();
    EXPECT_EQ(text.rfind("havoc: cannot photograph the Wayland desktop: ", 0), 0u) << text;
    EXPECT_NE(text.find(GetParam().says), std::string::npos) << text;
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 1) << text;
    EXPECT_FALSE(any_x_window());
    EXPECT_TRUE(terminal_has_keyboard());
    XServer x(std::getenv("DISPLAY"));
    EXPECT_TRUE(can_grab_input(x));
}

INSTANTIATE_TEST_SUITE_P(Wayland, WithoutPortal, testing::ValuesIn(NO_PICTURE),
                         [](const testing::TestParamInfo<NoPicture> &info) { return std::string(info.param.name); });

// A private session bus with a portal of the test's own (fake_portal.py),
// answering every screenshot request as `mode` says, and a folder for the
// pictures it names. havoc is sent to it by a compositor it cannot reach.
// The portal here is the test's own: one desktop is enough.
bool fake_portal_here()
{
    return std::string(this_desktop().name) == "sway" && !fake_portal_script.empty();
}

struct FakePortal {
    FakePortal(const std::string &mode, const std::string &uri = "") : folder(make_temp_dir("fake-portal"))
    {
        FILE *bus = popen(("dbus-daemon --config-file=" + bare_bus_config() +
                           " --fork --print-address=1 --print-pid=1 2>/dev/null").c_str(), "r");
        char line[512] = {};
        if (bus && std::fgets(line, sizeof line, bus))
            address = std::string(line, std::strcspn(line, "\n"));
        if (bus && std::fgets(line, sizeof line, bus))
            bus_pid = std::atoi(line);
        if (bus)
            pclose(bus);
        EXPECT_FALSE(address.empty()) << "no private bus";
        std::vector<std::string> env = {"DBUS_SESSION_BUS_ADDRESS=" + address, "PATH=/usr/bin:/bin"};
        portal_pid = spawn({"/usr/bin/python3", fake_portal_script, folder, mode, uri}, env, "", folder + "/log");
        EXPECT_TRUE(wait_until([&] { return fs::exists(folder + "/ready"); }, STEP_SECONDS))
            << "the fake portal did not start: " << read_file(folder + "/log");
    }
    ~FakePortal()
    {
        for (int pid : {portal_pid, bus_pid})
            if (pid > 0)
                kill(pid, SIGTERM);
        waitpid(portal_pid, nullptr, 0);
        std::error_code ignored;
        fs::remove_all(folder, ignored);
    }
    std::vector<std::string> havoc_env() const { return {"DBUS_SESSION_BUS_ADDRESS=" + address, NO_COMPOSITOR}; }
    bool asked() const { return fs::exists(folder + "/asked"); }

    std::string folder, address;
    int bus_pid = -1, portal_pid = -1;
};

// What the portal names, made in its folder at `name`.
enum Made { NOTHING, PICTURE, FIFO, FOLDER };

void make(Made what, const std::string &path)
{
    if (what == PICTURE)
        // with_sway.sh's desktop background: a big picture, slow to decode.
        fs::copy_file(std::string(std::getenv("HOME")) + "/desktop.png", path, fs::copy_options::overwrite_existing);
    else if (what == FIFO)
        EXPECT_EQ(mkfifo(path.c_str(), 0600), 0);
    else if (what == FOLDER)
        fs::create_directory(path);
}

struct PortalAnswer {
    const char *name;
    const char *mode;
    const char *uri_host;  // the host part of the file:// URI
    Made made;
    const char *says;
};

const PortalAnswer PORTAL_ANSWERS[] = {
    {"NeverAnswers", "silent", "", NOTHING, "the desktop portal did not answer within"},
    {"AnswersWithAnError", "error", "", NOTHING, "the desktop portal answered with an error (the screen is locked)"},
    {"NamesAFifo", "uri", "", FIFO, "is a named pipe, not a file"},
    {"NamesAFolder", "uri", "", FOLDER, "is a folder, not a file"},
    {"NamesAFileOfAnotherHost", "uri", "elsewhere.example", PICTURE, "is not a file on this computer"},
};

class PortalReplies : public testing::TestWithParam<PortalAnswer> {};

// havoc says what the portal did in one line and fails at once, and
// deletes nothing it was not sure is the picture it asked for.
TEST_P(PortalReplies, SaidTruthfullyAndNothingButThePictureIsDeleted)
{
    if (!fake_portal_here())
        GTEST_SKIP() << "the portal here is the test's own: one desktop is enough";
    const PortalAnswer &answer = GetParam();
    std::string dummy = make_temp_dir("portal-answer");
    std::string path = dummy + "/picture";
    FakePortal portal(answer.mode, "file://" + std::string(answer.uri_host) + path);
    make(answer.made, path);
    // The D-Bus call's own limit is 25 s: a silent portal takes that long.
    const double SILENT_PORTAL_SECONDS = 40;
    Launch havoc(portal.havoc_env());
    ASSERT_TRUE(havoc.wait_exit(SILENT_PORTAL_SECONDS)) << "still running: " << havoc.stderr_text();
    ASSERT_TRUE(WIFEXITED(havoc.status)) << "ended by signal " << WTERMSIG(havoc.status);
    EXPECT_EQ(WEXITSTATUS(havoc.status), 1);
    std::string text = havoc.stderr_text();
    EXPECT_NE(text.find(answer.says), std::string::npos) << text;
    EXPECT_EQ(text.find("no desktop portal"), std::string::npos) << text;
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 1) << text;
    if (answer.made != NOTHING) {
        EXPECT_TRUE(fs::exists(fs::symlink_status(path))) << "havoc deleted what the portal named";
    }
    EXPECT_FALSE(any_x_window());
    std::error_code ignored;
    fs::remove_all(dummy, ignored);
}

INSTANTIATE_TEST_SUITE_P(Wayland, PortalReplies, testing::ValuesIn(PORTAL_ANSWERS),
                         [](const testing::TestParamInfo<PortalAnswer> &info) { return std::string(info.param.name); });

// The portal's picture, when one is used, is gone from the disk whatever
// ends havoc while it is read: here an interrupt at random moments from the
// portal's answer through the picture's decoding.
TEST(PortalFile, GoneAfterAnInterruptAtAnyMomentOfItsReading)
{
    if (!fake_portal_here())
        GTEST_SKIP() << "the portal here is the test's own: one desktop is enough";
    const int RUNS = 8;
    const double LATEST_SECONDS = 0.3;
    std::string dummy = make_temp_dir("portal-file");
    std::string path = dummy + "/picture.png";
    FakePortal portal("uri", "file://" + path);
    std::mt19937 random(26);
    std::uniform_real_distribution<double> moment(0, LATEST_SECONDS);
    int left = 0, other_ending = 0;
    for (int run = 0; run < RUNS; ++run) {
        make(PICTURE, path);
        fs::remove(portal.folder + "/asked");
        Launch havoc(portal.havoc_env());
        ASSERT_TRUE(wait_until([&] { return portal.asked() || !havoc.running(); }, START_SECONDS));
        // The random moment itself, not a wait for something to happen.
        std::this_thread::sleep_for(std::chrono::duration<double>(moment(random)));
        kill(havoc.pid, SIGINT);
        ASSERT_TRUE(havoc.wait_exit(STEP_SECONDS)) << "still running after the interrupt";
        left += fs::exists(path);
        other_ending += !(WIFSIGNALED(havoc.status) && WTERMSIG(havoc.status) == SIGINT);
        EXPECT_EQ(havoc.stderr_text(), "");
    }
    std::printf("picture left on disk after %d of %d interrupts\n", left, RUNS);
    EXPECT_EQ(left, 0) << "the picture stayed on disk after " << left << " of " << RUNS << " interrupts";
    EXPECT_EQ(other_ending, 0) << other_ending << " runs did not end by the interrupt";
    std::error_code ignored;
    fs::remove_all(dummy, ignored);
}

// Ctrl+C while the portal is asked (while the desktop asks the user for
// permission, say) ends havoc at once, by that signal.
TEST(PortalWait, AnInterruptEndsHavocAtOnce)
{
    if (!fake_portal_here())
        GTEST_SKIP() << "the portal here is the test's own: one desktop is enough";
    FakePortal portal("silent");
    Launch havoc(portal.havoc_env());
    ASSERT_TRUE(wait_until([&] { return portal.asked() || !havoc.running(); }, START_SECONDS));
    kill(havoc.pid, SIGINT);
    // Well within the bus's own 25 s limit on the call.
    const double AT_ONCE_SECONDS = 5;
    ASSERT_TRUE(havoc.wait_exit(AT_ONCE_SECONDS)) << "still waiting for the portal";
    EXPECT_TRUE(WIFSIGNALED(havoc.status) && WTERMSIG(havoc.status) == SIGINT) << "status " << havoc.status;
    EXPECT_EQ(havoc.stderr_text(), "");
}

// A picture from the portal plays, and is off the disk by the time the
// window is up.
TEST(PortalFile, ReadThenGoneBeforeTheWindowShows)
{
    if (!fake_portal_here())
        GTEST_SKIP() << "the portal here is the test's own: one desktop is enough";
    std::string dummy = make_temp_dir("portal-file");
    std::string path = dummy + "/picture.png";
    FakePortal portal("uri", "file://" + path);
    make(PICTURE, path);
    Launch havoc(portal.havoc_env());
    ASSERT_TRUE(wait_until(havoc_full_screen_with_keyboard, START_SECONDS)) << x_windows() << havoc.stderr_text();
    EXPECT_FALSE(fs::exists(path));
    EXPECT_TRUE(type_key_until("Escape", [&] { return !havoc.running(); }));
    EXPECT_TRUE(WIFEXITED(havoc.status) && WEXITSTATUS(havoc.status) == 0) << havoc.stderr_text();
    std::error_code ignored;
    fs::remove_all(dummy, ignored);
}
// A portal that fails by itself is asked again, a few times; a refusal that
// took a person's time is never asked twice; each way out says what
// happened. The portal is the test's own (fake_portal.cpp), answering as
// its script says, on a bus of its own.
struct PortalScript {
    const char *name;
    const char *answers;  // fake_portal.cpp's script
    bool pictures_folder; // whether the user's home has one, where some portals save
    bool starts;
    int requests;
    const char *says;
    const char *never_says;
};

const char *const NO_FOLDER_ADVICE = "which does not exist: create that folder";

const PortalScript PORTAL_SCRIPTS[] = {
    {"FailsByItselfThenGivesThePicture", "1:50,1:50,0:50", true, true, 3, "", ""},
    {"APersonRefuses", "2:1500", false, false, 1, "if you refused applications the right to take screenshots",
     NO_FOLDER_ADVICE},
    {"ARefusalKeptAnswersAtOnce", "2:10", true, false, 10, "gave no picture 10 times in a row (Screenshot failed)",
     NO_FOLDER_ADVICE},
    {"KeepsFailingByItself", "1:10", true, false, 10,
     "failed to take a picture 10 times in a row (Screenshot canceled): its log may say why", NO_FOLDER_ADVICE},
    {"KeepsFailingWithoutAPicturesFolder", "1:10", false, false, 10,
     "Pictures, which does not exist: create that folder", "its log"},
};

class PortalAnswers : public testing::TestWithParam<PortalScript> {};

TEST_P(PortalAnswers, AskedAgainOnlyWhenNoPersonAnswered)
{
    if (std::string(this_desktop().name) != "sway")
        GTEST_SKIP() << "the portal here is the test's own: one desktop is enough";
    std::string count_file = std::string(std::getenv("XDG_RUNTIME_DIR")) + "/portal-requests";
    std::remove(count_file.c_str());
    std::vector<std::string> wrapper = on_a_bare_bus();
    char self[4096] = {};
    ASSERT_GT(readlink("/proc/self/exe", self, sizeof self - 1), 0);
    wrapper.insert(wrapper.end(), {self, "--fake-portal", GetParam().answers, count_file});
    // A home of its own, with or without a pictures folder.
    std::string home = make_temp_dir("portal-home");
    if (GetParam().pictures_folder)
        fs::create_directory(home + "/Pictures");
    // A compositor havoc cannot reach sends it to the portal.
    Launch havoc({NO_COMPOSITOR, "HOME=" + home}, wrapper);
    if (GetParam().starts) {
        EXPECT_TRUE(wait_until(havoc_full_screen_with_keyboard, START_SECONDS)) << havoc.stderr_text();
        EXPECT_TRUE(type_key_until("Escape", [&] { return !havoc.running(); }));
    }
    ASSERT_TRUE(havoc.wait_exit(START_SECONDS * 2));
    ASSERT_TRUE(WIFEXITED(havoc.status));
    std::string text = havoc.stderr_text();
    EXPECT_EQ(WEXITSTATUS(havoc.status), GetParam().starts ? 0 : 1) << text;
    EXPECT_EQ(std::atoi(read_file(count_file).c_str()), GetParam().requests);
    if (!GetParam().starts) {
        EXPECT_EQ(text.rfind("havoc: cannot photograph the Wayland desktop: ", 0), 0u) << text;
        EXPECT_NE(text.find(GetParam().says), std::string::npos) << text;
        EXPECT_EQ(text.find(GetParam().never_says), std::string::npos) << text;
    }
    std::error_code ignored;
    fs::remove_all(home, ignored);
}

INSTANTIATE_TEST_SUITE_P(Wayland, PortalAnswers, testing::ValuesIn(PORTAL_SCRIPTS),
                         [](const testing::TestParamInfo<PortalScript> &info) { return std::string(info.param.name); });

}  // namespace

int run_fake_portal(int argc, char **argv);

int main(int argc, char **argv)
{
    if (argc > 1 && std::string(argv[1]) == "--fake-portal")
        return run_fake_portal(argc, argv);
    testing::InitGoogleTest(&argc, argv);
    if (argc != 3 && argc != 4) {
        std::fprintf(stderr, "usage: wayland_tests HAVOC_BINARY HAVOC_DAT [FAKE_PORTAL_PY], inside "
                             "tests/wayland/with_DESKTOP.sh\n");
        return 2;
    }
    havoc_binary = argv[1];
    data_file = argv[2];
    if (argc == 4)
        fake_portal_script = argv[3];
    return RUN_ALL_TESTS();
}
