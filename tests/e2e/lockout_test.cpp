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
// Started with its standard streams closed, or with stderr a pipe nobody
// reads, it plays as ever. Its emergency key takes the same way out as
// TERM. A lost X server ends it at once.
//
// From the first moment: another user watching the system's shared memory
// never attaches the frame's; a stop signal at any step of start-up, held
// there by a debugger, never aborts it; a crash or another ending signal
// gives the desktop back with the pointer and leaves no core; another
// program's grab of 400 ms only delays it.
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
#include <fcntl.h>
#include <grp.h>
#include <map>
#include <mutex>
#include <random>
#include <set>
#include <sys/shm.h>
#include <sys/wait.h>
#include <thread>
#include <tuple>
#include <unistd.h>

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

namespace {

// Another local user, `nobody`, watching the system's list of shared memory
// as fast as it can and attaching every segment it may, the moment it
// appears: what it attached, by the creator of each segment.
struct Watcher {
    Watcher()
    {
        if (pipe(report) != 0)
            std::abort();
        pid = fork();
        if (pid == 0) {
            close(report[0]);
            const int NOBODY = 65534;
            if (setgroups(0, nullptr) != 0 || setgid(NOBODY) != 0 || setuid(NOBODY) != 0)
                _exit(1);
            std::set<int> attached;
            for (;;) {
                struct shm_info info;
                int last = shmctl(0, SHM_INFO, (struct shmid_ds *)&info);
                for (int index = 0; index <= last; ++index) {
                    struct shmid_ds segment;
                    int id = shmctl(index, SHM_STAT, &segment);
                    if (id < 0 || attached.count(id))
                        continue;
                    void *at = shmat(id, nullptr, SHM_RDONLY);
                    if (at == (void *)-1)
                        continue;
                    attached.insert(id);
                    shmdt(at);
                    int creator = segment.shm_cpid;
                    if (write(report[1], &creator, sizeof creator) != sizeof creator)
                        _exit(1);
                }
            }
        }
        close(report[1]);
    }
    ~Watcher()
    {
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
        close(report[0]);
    }
    // The creators of the segments it attached so far.
    std::vector<int> creators()
    {
        std::vector<int> found;
        int creator;
        fcntl(report[0], F_SETFL, O_NONBLOCK);
        while (read(report[0], &creator, sizeof creator) == sizeof creator)
            found.push_back(creator);
        return found;
    }
    int pid = -1;
    int report[2];
};

TEST(FrameMemory, NoOtherUserAttachesItAtAnyMomentOfAHundredLaunches)
{
    if (geteuid() != 0)
        GTEST_SKIP() << "only root can watch as another user";
    const int LAUNCHES = 100, LANES = 2;
    Watcher watcher;
    std::mutex lock;
    std::set<int> launched;
    std::vector<std::string> failures;
    std::atomic<int> next{0};
    std::vector<std::thread> lanes;
    for (int n = 0; n < LANES; ++n)
        lanes.emplace_back([&] {
            Lane lane(24);
            while (next.fetch_add(1) < LAUNCHES) {
                Havoc havoc(&lane.x);
                {
                    std::lock_guard<std::mutex> hold(lock);
                    launched.insert(havoc.pid);
                }
                // Once the window is up the frame's memory exists and the
                // server has attached it: the whole gap has passed.
                bool up = wait_until([&] { return fullscreen_window_mapped(lane.x); }, START_SECONDS);
                havoc.signal(SIGTERM);
                bool ended = havoc.wait_exit(EXIT_SECONDS);
                std::lock_guard<std::mutex> hold(lock);
                if (!up || !ended)
                    failures.push_back(std::string(up ? "did not end: " : "no window: ") + havoc.stderr_text());
            }
        });
    for (std::thread &t : lanes)
        t.join();
    std::vector<int> creators = watcher.creators();
    int attached = (int)std::count_if(creators.begin(), creators.end(), [&](int c) { return launched.count(c); });
    std::printf("nobody attached the frame's memory of %d of %d launches\n", attached, LAUNCHES);
    EXPECT_EQ(attached, 0) << "another user attached the frame of " << attached << " launches of " << LAUNCHES;
    for (const std::string &f : failures)
        ADD_FAILURE() << f;
}

// Signals havoc does not ask for, from a crash or from another program:
// each gives the desktop back, pointer included, ends havoc by that signal,
// and leaves no core file, which would hold the picture, even where core
// files are allowed.
const int ENDING_SIGNALS[] = {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT, SIGUSR1, SIGALRM, SIGPIPE};

TEST(OtherSignals, EachGivesTheDesktopBackWithThePointerAndLeavesNoCore)
{
    const int USER_X = 100, USER_Y = 80, HAVOC_X = W - 60, HAVOC_Y = 60;
    Lane lane(24);
    for (int sig : ENDING_SIGNALS) {
        SCOPED_TRACE(sigabbrev_np(sig));
        move_pointer(lane.x, USER_X, USER_Y);
        Havoc havoc(&lane.x, true, GOOD_DATA_FILE, {"/bin/sh", "-c", "ulimit -c unlimited && exec \"$0\""});
        ASSERT_TRUE(wait_until([&] { return !end_icon_shows_desktop(lane); }, START_SECONDS))
            << "no palette: " << havoc.stderr_text();
        // The pointer at work elsewhere, as the user left it in havoc.
        move_pointer(lane.x, HAVOC_X, HAVOC_Y);
        havoc.signal(sig);
        ASSERT_TRUE(havoc.wait_exit(EXIT_SECONDS));
        EXPECT_TRUE(WIFSIGNALED(havoc.status) && WTERMSIG(havoc.status) == sig) << "status " << havoc.status;
        EXPECT_FALSE(WCOREDUMP(havoc.status)) << "a core was dumped";
        for (const std::string &name : havoc.working_dir_files())
            EXPECT_EQ(name.rfind("core", 0), std::string::npos) << name << " left in the working folder";
        EXPECT_FALSE(fullscreen_window_mapped(lane.x));
        EXPECT_TRUE(can_grab_input(lane.x));
        int px, py;
        EXPECT_TRUE(wait_until([&] {
            pointer_position(lane.x, &px, &py);
            return px == USER_X && py == USER_Y;
        }, EXIT_SECONDS)) << "the pointer stayed at " << px << "," << py;
        EXPECT_EQ(havoc.stderr_text(), "");
    }
}

// With stderr a pipe nobody reads any more, havoc's note about the sound
// is lost, and havoc plays on.
TEST(ClosedStreams, AStderrPipeWithNoReaderDoesNotEndHavoc)
{
    Lane lane(24);
    Havoc havoc(&lane.x, true, GOOD_DATA_FILE,
                {"/usr/bin/python3", "-c",
                 "import os, signal, sys\n"
                 "signal.signal(signal.SIGPIPE, signal.SIG_DFL)\n"
                 "reader, writer = os.pipe()\n"
                 "os.close(reader)\n"
                 "os.dup2(writer, 2)\n"
                 "os.environ['HOME'] = '/nonexistent'\n"
                 "os.execv(sys.argv[1], sys.argv[1:])\n"});
    ASSERT_TRUE(wait_until([&] { return !end_icon_shows_desktop(lane) || !havoc.running(); }, START_SECONDS));
    ASSERT_TRUE(havoc.running()) << "ended with status " << havoc.status;
    ASSERT_TRUE(quit_with_escape(lane.x, havoc));
    ASSERT_TRUE(WIFEXITED(havoc.status)) << "ended by signal " << WTERMSIG(havoc.status);
    EXPECT_EQ(WEXITSTATUS(havoc.status), 0);
}

// Another program holding the keyboard or the pointer for a moment, as a
// launcher does while the key that started havoc is still down.
struct OtherGrab {
    const char *what;
    bool keyboard;
};
const OtherGrab OTHER_GRABS[] = {{"keyboard", true}, {"pointer", false}};

TEST(OtherGrab, HeldFor400MsAfterTheWindowAppearsHavocWaitsAndPlays)
{
    const auto HELD = std::chrono::milliseconds(400);
    Lane lane(24);
    for (const OtherGrab &grab : OTHER_GRABS) {
        SCOPED_TRACE(grab.what);
        Display *other = XOpenDisplay(lane.x.name.c_str());
        ASSERT_NE(other, nullptr);
        Window root = DefaultRootWindow(other);
        int grabbed = grab.keyboard ? XGrabKeyboard(other, root, False, GrabModeAsync, GrabModeAsync, CurrentTime)
                                    : XGrabPointer(other, root, False, ButtonPressMask, GrabModeAsync,
                                                   GrabModeAsync, None, None, CurrentTime);
        ASSERT_EQ(grabbed, GrabSuccess);
        XSync(other, False);
        Havoc havoc(&lane.x);
        bool up = wait_until([&] { return fullscreen_window_mapped(lane.x); }, START_SECONDS);
        // The other program's moment itself, not a wait for something.
        std::this_thread::sleep_for(HELD);
        XCloseDisplay(other);
        ASSERT_TRUE(up) << havoc.stderr_text();
        ASSERT_TRUE(wait_until([&] { return !end_icon_shows_desktop(lane) || !havoc.running(); }, START_SECONDS));
        ASSERT_TRUE(havoc.running()) << havoc.stderr_text();
        ASSERT_TRUE(quit_with_escape(lane.x, havoc));
        EXPECT_TRUE(WIFEXITED(havoc.status) && WEXITSTATUS(havoc.status) == 0) << "status " << havoc.status;
        EXPECT_EQ(havoc.stderr_text(), "");
    }
}

// A stop signal landing at each step of start-up, held there by a debugger:
// havoc ends by that signal, never by an abort, with the desktop given back
// and nothing said.
struct StartUpStep {
    const char *function;  // where the debugger holds havoc
    int hit;               // at its n-th call
    const char *step;
};
const StartUpStep START_UP_STEPS[] = {
    {"XGetImage", 1, "photographing the desktop"},
    {"_install_allegro_version_check", 1, "starting the library"},
    {"XOpenDisplay", 2, "the library connecting to the server"},
    {"_unix_unlock_mutex", 1, "the library holding its X lock"},
    {"set_gfx_mode", 1, "setting the mode"},
    {"XShmAttach", 1, "sharing the frame's memory"},
    {"XGetImage", 2, "reading the picture back"},
    {"XMapWindow", 1, "the library making its window"},
    {"install_keyboard", 1, "taking the keyboard"},
    {"install_sound", 1, "starting the sound"},
    {"install_int", 1, "starting the tick"},
};
const int START_UP_SIGNALS[] = {SIGINT, SIGTERM, SIGQUIT, SIGHUP};

// One run under the debugger: what went wrong, if anything.
Faults signal_at_step(Lane &lane, const StartUpStep &at, int sig)
{
    // The debugger holds havoc at the step, sends the signal, lets it go
    // on, and writes how it ended.
    std::vector<std::string> gdb = {
        "gdb", "-nx", "-batch", "-ex", "set disable-randomization off", "-ex", "set startup-with-shell off",
        "-ex", "handle SIGINT SIGTERM SIGQUIT SIGHUP SIGPIPE SIGABRT nostop noprint pass",
        "-ex", "set breakpoint pending on", "-ex", std::string("break ") + at.function,
        "-ex", "ignore 1 " + std::to_string(at.hit - 1), "-ex", "run", "-ex", "delete",
        "-ex", "python import os; pid = gdb.selected_inferior().pid; pid and os.kill(pid, " + std::to_string(sig) + ")",
        "-ex", "continue",
        "-ex", "python open('ended', 'w').write('%s %s' % (gdb.convenience_variable('_exitsignal'), "
               "gdb.convenience_variable('_exitcode')))",
        "--args"};
    Havoc havoc(&lane.x, true, GOOD_DATA_FILE, gdb);
    if (!havoc.wait_exit(START_SECONDS)) {
        std::system(("pkill -KILL -P " + std::to_string(havoc.pid)).c_str());
        return {std::string("still running: never reached ") + at.function};
    }
    Faults faults;
    std::string how = read_file(havoc.workdir + "/ended");
    if (how != std::to_string(sig) + " None")
        faults.push_back("ended by signal and exit code: " + how);
    if (fullscreen_window_mapped(lane.x))
        faults.push_back("full-screen window left mapped");
    if (!can_grab_input(lane.x))
        faults.push_back("keyboard or pointer still grabbed");
    // The debugger's own notes may be there too.
    std::string said = havoc.stderr_text();
    if (said.find("havoc:") != std::string::npos || said.find("Shutting down") != std::string::npos)
        faults.push_back("said: " + said);
    return faults;
}

TEST(StartUpSignals, AStopSignalAtAnyStepEndsHavocByItWithoutAnAbort)
{
    if (std::system("command -v gdb >/dev/null") != 0)
        GTEST_SKIP() << "no gdb";
    std::vector<std::pair<const StartUpStep *, int>> all;
    for (const StartUpStep &at : START_UP_STEPS)
        for (int sig : START_UP_SIGNALS)
            all.push_back({&at, sig});
    const int LANES = 2;
    std::mutex lock;
    std::atomic<size_t> next{0};
    int aborted = 0;
    std::vector<std::thread> lanes;
    for (int n = 0; n < LANES; ++n)
        lanes.emplace_back([&] {
            Lane lane(24);
            for (size_t i; (i = next.fetch_add(1)) < all.size();) {
                auto [at, sig] = all[i];
                Faults faults = signal_at_step(lane, *at, sig);
                std::lock_guard<std::mutex> hold(lock);
                aborted += has(faults, "ended by signal and exit code: 6 ");
                for (const std::string &f : faults)
                    ADD_FAILURE() << sigabbrev_np(sig) << " while " << at->step << ": " << f;
            }
        });
    for (std::thread &t : lanes)
        t.join();
    std::printf("%d of %zu signals at start-up steps aborted havoc\n", aborted, all.size());
}

}  // namespace
