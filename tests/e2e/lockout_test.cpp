// Whatever happens while it runs, havoc must never lock the user out of
// their desktop, nor leave their screen where others can read it.
//
// Signals at random moments in every loop: whatever the signal and whenever
// it lands, havoc ends by that signal (never by an abort), gives the desktop
// back (no full-screen window, keyboard and pointer free), leaves no shared
// memory behind and says nothing on stderr; while it runs, its frame's
// shared memory is readable by no other user. Each run waits for the
// palette's one-second fade, so the runs are spread over several private X
// servers at once.
//
// Started with its standard streams closed, it plays as ever. Its emergency
// key takes the same way out as TERM. A lost X server ends it at once.
#include "e2e/desktop.h"
#include "e2e/expected_palette.h"
#include "e2e/runs.h"

#include <gtest/gtest.h>

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

#include <algorithm>
#include <atomic>
#include <csignal>
#include <cstdio>
#include <map>
#include <mutex>
#include <random>
#include <sys/wait.h>
#include <thread>
#include <tuple>

namespace {

const int W = 640, H = 480;
const double START_SECONDS = 30, EXIT_SECONDS = 20;

// The tools in the order of their icons on the palette, from slot 0.
enum Loop { PALETTE, BAT, SABER, LASER, LADY };
const char *const LOOP_NAMES[] = {"palette", "bat", "lightsaber", "laser", "lady"};

// How long after the loop is known to run the signal is sent, at most: the
// palette's span covers its fade and the first moments it takes clicks.
const double PALETTE_SPAN_SECONDS = 1.3, TOOL_SPAN_SECONDS = 0.6;

struct SignalRun {
    int signal;
    Loop loop;
    int depth;
};

// What went wrong in one run, if anything; empty when all was well.
using Faults = std::vector<std::string>;

// Where the palette lies on the test's screen.
const PaletteLayout &palette()
{
    static const PaletteLayout layout = palette_layout({0, 0, W, H});
    return layout;
}

// The middle of the end icon, where no tool draws while the pointer is in
// the bottom-left corner: the palette shows there, the bare picture once a
// tool has taken over. Raw pixels: they are compared only with themselves.
std::vector<unsigned long> end_icon_pixels(XServer &x)
{
    const int SIDE = 32;
    XImage *image = XGetImage(x.display, DefaultRootWindow(x.display), palette().slot_x(palette().end_slot()) - SIDE / 2,
                              palette().slot_y() - SIDE / 2, SIDE, SIDE, AllPlanes, ZPixmap);
    std::vector<unsigned long> pixels;
    for (int y = 0; y < SIDE; ++y)
        for (int px = 0; px < SIDE; ++px)
            pixels.push_back(XGetPixel(image, px, y));
    XDestroyImage(image);
    return pixels;
}

// One private X server showing a known desktop, on which runs follow each
// other.
struct Lane {
    explicit Lane(int depth) : x(W, H, depth)
    {
        set_root_picture(x);
        desktop_end_icon = end_icon_pixels(x);
    }
    XServer x;
    std::vector<unsigned long> desktop_end_icon;
};

bool end_icon_shows_desktop(Lane &lane)
{
    return end_icon_pixels(lane.x) == lane.desktop_end_icon;
}

// Clicks the tool's icon until the palette gives way to the tool: clicks
// during the fade-in count for nothing.
bool take_tool(Lane &lane, Loop loop)
{
    if (!wait_until([&] { return !end_icon_shows_desktop(lane); }, START_SECONDS))
        return false;
    return wait_until([&] {
        click(lane.x, palette().slot_x(loop - BAT), palette().slot_y());
        move_pointer(lane.x, 10, H - 10);
        return end_icon_shows_desktop(lane);
    }, START_SECONDS);
}

Faults one_run(Lane &lane, const SignalRun &run, double delay_fraction)
{
    Faults faults;
    Havoc havoc(&lane.x);
    if (!wait_until([&] { return fullscreen_window_mapped(lane.x); }, START_SECONDS))
        return {"no full-screen window: " + havoc.stderr_text()};
    double span = PALETTE_SPAN_SECONDS;
    bool pressed = false;
    if (run.loop != PALETTE) {
        if (!take_tool(lane, run.loop))
            return {"could not take the tool"};
        faults = frame_memory_faults(havoc);
        // The tools at work: the bat swings, the blade burns, the laser fires.
        if (run.loop != LADY) {
            press_button(lane.x);
            pressed = true;
        }
        span = TOOL_SPAN_SECONDS;
    }
    // The random moment itself, not a wait for something to happen.
    std::this_thread::sleep_for(std::chrono::duration<double>(span * delay_fraction));
    havoc.signal(run.signal);
    bool ended = havoc.wait_exit(EXIT_SECONDS);
    if (pressed)
        release_button(lane.x);
    if (!ended)
        return {"still running " + std::to_string((int)EXIT_SECONDS) + " s after the signal"};
    if (WIFSIGNALED(havoc.status) && WTERMSIG(havoc.status) == SIGABRT)
        faults.push_back("aborted");
    else if (!WIFSIGNALED(havoc.status) || WTERMSIG(havoc.status) != run.signal)
        faults.push_back("ended with status " + std::to_string(havoc.status));
    if (fullscreen_window_mapped(lane.x))
        faults.push_back("full-screen window left mapped");
    if (!can_grab_input(lane.x))
        faults.push_back("keyboard or pointer still grabbed");
    if (!wait_until([&] { return !shared_memory_left(havoc); }, EXIT_SECONDS))
        faults.push_back("shared memory left behind");
    std::string said = havoc.stderr_text();
    if (!said.empty())
        faults.push_back("said: " + said);
    return faults;
}

std::vector<SignalRun> runs(const std::vector<int> &signals, int depth, int times)
{
    std::vector<SignalRun> all;
    for (int i = 0; i < times; ++i)
        for (int signal : signals)
            for (Loop loop : {PALETTE, BAT, SABER, LASER, LADY})
                all.push_back({signal, loop, depth});
    return all;
}

struct Tally {
    int runs = 0, aborted = 0, hung = 0, leaked = 0, failed = 0;
};

bool has(const Faults &faults, const std::string &start)
{
    return std::any_of(faults.begin(), faults.end(), [&](const std::string &f) { return f.rfind(start, 0) == 0; });
}

// Runs every run on a lane of its depth, prints a tally per depth, loop and
// signal, and fails with each faulty run's faults.
void run_all(const std::vector<SignalRun> &all, const std::vector<int> &lane_depths)
{
    std::mutex lock;
    std::map<std::tuple<int, int, int>, Tally> tallies;
    std::vector<std::string> failures;
    std::map<int, std::vector<SignalRun>> queues;
    for (const SignalRun &run : all)
        queues[run.depth].push_back(run);
    std::map<int, std::atomic<size_t>> next;
    for (int depth : lane_depths)
        next[depth] = 0;
    std::vector<std::thread> lanes;
    for (size_t n = 0; n < lane_depths.size(); ++n)
        lanes.emplace_back([&, n] {
            int depth = lane_depths[n];
            Lane lane(depth);
            std::mt19937 random(1000 + (unsigned)n);
            std::uniform_real_distribution<double> moment(0, 1);
            for (size_t i; (i = next[depth].fetch_add(1)) < queues[depth].size();) {
                const SignalRun &run = queues[depth][i];
                Faults faults = one_run(lane, run, moment(random));
                std::lock_guard<std::mutex> hold(lock);
                Tally &t = tallies[{run.depth, run.loop, run.signal}];
                ++t.runs;
                if (faults.empty())
                    continue;
                ++t.failed;
                t.aborted += has(faults, "aborted");
                t.hung += has(faults, "still running");
                t.leaked += has(faults, "shared memory left");
                std::string what = std::string(sigabbrev_np(run.signal)) + " in the " + LOOP_NAMES[run.loop] +
                                   " at " + std::to_string(run.depth) + " bits:";
                for (const std::string &f : faults)
                    what += " " + f + ";";
                failures.push_back(what);
            }
        });
    for (std::thread &t : lanes)
        t.join();
    std::printf("%5s  %-10s  %-6s %5s %8s %5s %7s %7s\n", "depth", "loop", "signal", "runs", "aborted", "hung",
                "leaked", "failed");
    for (const auto &[key, t] : tallies) {
        auto [depth, loop, signal] = key;
        std::printf("%5d  %-10s  %-6s %5d %8d %5d %7d %7d\n", depth, LOOP_NAMES[loop], sigabbrev_np(signal),
                    t.runs, t.aborted, t.hung, t.leaked, t.failed);
    }
    for (const std::string &f : failures)
        ADD_FAILURE() << f;
}

// Each stop signal this many times in each loop.
const int TIMES_AT_24 = 20, TIMES_AT_16 = 4;

TEST(Signals, EverySignalInEveryLoopEndsHavocByThatSignalWithTheDesktopGivenBack)
{
    const std::vector<int> stops = {SIGINT, SIGTERM, SIGQUIT};
    std::vector<SignalRun> all = runs(stops, 24, TIMES_AT_24);
    for (const SignalRun &run : runs(stops, 16, TIMES_AT_16))
        all.push_back(run);
    // Signals havoc does not catch, and HUP, which it does.
    for (const SignalRun &run : runs({SIGKILL, SIGHUP, SIGUSR1}, 24, 1))
        all.push_back(run);
    run_all(all, {24, 24, 24, 24, 24, 16});
}

TEST(ClosedStreams, HavocPlaysAndQuitsAsEverWithoutThem)
{
    Lane lane(24);
    for (const char *closing : {"2>&-", "<&- >&- 2>&-"}) {
        SCOPED_TRACE(closing);
        Havoc havoc(&lane.x, true, GOOD_DATA_FILE, {"/bin/sh", "-c", std::string("exec \"$0\" ") + closing});
        ASSERT_TRUE(wait_until([&] { return fullscreen_window_mapped(lane.x); }, START_SECONDS));
        ASSERT_TRUE(take_tool(lane, BAT)) << "the palette does not answer";
        click(lane.x, W / 2, H / 2);
        tap_key(lane.x, XK_Escape);
        ASSERT_TRUE(wait_until([&] { return !end_icon_shows_desktop(lane); }, START_SECONDS))
            << "Escape in the bat did not bring the palette back";
        ASSERT_TRUE(quit_with_escape(lane.x, havoc));
        ASSERT_TRUE(WIFEXITED(havoc.status)) << "ended by signal " << WTERMSIG(havoc.status);
        EXPECT_EQ(WEXITSTATUS(havoc.status), 0);
    }
}

TEST(IgnoredAtStart, AnInterruptHavocWasStartedToIgnoreStaysIgnored)
{
    Lane lane(24);
    Havoc havoc(&lane.x, true, GOOD_DATA_FILE, {"/bin/sh", "-c", "trap '' INT; exec \"$0\""});
    ASSERT_TRUE(wait_until([&] { return fullscreen_window_mapped(lane.x); }, START_SECONDS));
    havoc.signal(SIGINT);
    ASSERT_TRUE(quit_with_escape(lane.x, havoc));
    ASSERT_TRUE(WIFEXITED(havoc.status)) << "ended by signal " << WTERMSIG(havoc.status);
    EXPECT_EQ(WEXITSTATUS(havoc.status), 0);
}

// Checks that havoc ended by TERM and gave everything back.
void expect_ended_cleanly_by_term(Lane &lane, Havoc &havoc)
{
    ASSERT_TRUE(havoc.wait_exit(EXIT_SECONDS));
    ASSERT_TRUE(WIFSIGNALED(havoc.status)) << "exit status " << WEXITSTATUS(havoc.status);
    EXPECT_EQ(WTERMSIG(havoc.status), SIGTERM);
    EXPECT_FALSE(fullscreen_window_mapped(lane.x));
    EXPECT_TRUE(can_grab_input(lane.x));
    EXPECT_TRUE(wait_until([&] { return !shared_memory_left(havoc); }, EXIT_SECONDS));
    EXPECT_EQ(havoc.stderr_text(), "");
}

TEST(EmergencyKey, CtrlAltEndLeavesLikeTerm)
{
    Lane lane(24);
    Havoc havoc(&lane.x);
    ASSERT_TRUE(wait_until([&] { return fullscreen_window_mapped(lane.x); }, START_SECONDS));
    ASSERT_TRUE(take_tool(lane, LASER));
    press_button(lane.x);
    Display *d = lane.x.display;
    const KeySym chord[] = {XK_Control_L, XK_Alt_L, XK_End};
    for (KeySym k : chord)
        XTestFakeKeyEvent(d, XKeysymToKeycode(d, k), True, 0);
    XFlush(d);
    bool ended = havoc.wait_exit(EXIT_SECONDS);
    for (KeySym k : chord)
        XTestFakeKeyEvent(d, XKeysymToKeycode(d, k), False, 0);
    release_button(lane.x);
    ASSERT_TRUE(ended) << "the emergency key did nothing";
    expect_ended_cleanly_by_term(lane, havoc);
}

TEST(LostServer, HavocSaysSoAndEndsAtOnce)
{
    Lane lane(24);
    Havoc havoc(&lane.x);
    ASSERT_TRUE(wait_until([&] { return fullscreen_window_mapped(lane.x); }, START_SECONDS));
    ASSERT_TRUE(take_tool(lane, SABER));
    kill(lane.x.pid, SIGKILL);
    waitpid(lane.x.pid, nullptr, 0);
    // The test's own connection went with the server: closing it would only
    // report the loss again.
    lane.x.pid = -1;
    lane.x.display = nullptr;
    ASSERT_TRUE(havoc.wait_exit(EXIT_SECONDS)) << "still running without its X server";
    ASSERT_TRUE(WIFEXITED(havoc.status)) << "ended by signal " << WTERMSIG(havoc.status);
    EXPECT_EQ(WEXITSTATUS(havoc.status), 1);
    EXPECT_EQ(havoc.stderr_text(), "havoc: lost the connection to the X server\n");
    EXPECT_FALSE(shared_memory_left(havoc));
}

}  // namespace
