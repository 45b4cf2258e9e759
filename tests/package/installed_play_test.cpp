// The game as a player gets it from the .deb: the package unpacked into a
// private root (never installed on this machine) and its launcher started
// from a folder that has nothing to do with havoc.
#include "e2e.h"

#include <gtest/gtest.h>

#include <X11/keysym.h>

#include <csignal>
#include <cstdlib>
#include <sys/wait.h>

namespace {

const int W = 800, H = 600;
const double START_SECONDS = 30, EXIT_SECONDS = 20;

// The unpacked package, a private HOME and the unrelated working folder,
// all removed at the end, with havoc itself if it is still running.
struct Scratch {
    std::string root = make_temp_dir("root"), home = make_temp_dir("home"), elsewhere = make_temp_dir("elsewhere");
    int pid = -1;
    ~Scratch()
    {
        if (pid > 0) {
            kill(pid, SIGKILL);
            waitpid(pid, nullptr, 0);
        }
        std::system(("rm -rf " + root + " " + home + " " + elsewhere).c_str());
    }
};

TEST(InstalledPackage, LauncherStartedElsewhereShowsThePaletteAndEscapeQuitsWithZero)
{
    Scratch s;
    ASSERT_EQ(std::system(("dpkg-deb -x " + std::string(HAVOC_PACKAGE) + " " + s.root).c_str()), 0);
    ASSERT_EQ(std::system((std::string(TEST_SCRIPTS_DIR) + "/write_sound_home.sh " + s.home).c_str()), 0);
    XServer x(W, H, 24);
    Picture desktop = set_root_picture(x);

    const std::string log = s.home + "/stderr.txt";
    s.pid = spawn({s.root + "/usr/games/havoc"}, {"HOME=" + s.home, "DISPLAY=" + x.name, "PATH=/usr/bin:/bin"},
                  s.elsewhere, log);
    int status = 0;
    auto running = [&] {
        if (s.pid > 0 && waitpid(s.pid, &status, WNOHANG) == s.pid)
            s.pid = -1;
        return s.pid > 0;
    };

    // The palette fades in over the strip while the desktop above it stays
    // as it was (a blank full-screen window would change both).
    Rect strip = palette_strip(W, H);
    auto palette_shown = [&] {
        Picture now = screenshot(x);
        int strip_changed = 0, above_changed = 0;
        for (int y = 0; y < strip.y + strip.h; ++y)
            for (int px = 0; px < W; ++px) {
                bool changed = now.at(px, y) != desktop.at(px, y);
                if (y < strip.y)
                    above_changed += changed;
                else if (strip.contains(px, y))
                    strip_changed += changed;
            }
        return above_changed == 0 && strip_changed > strip.w * strip.h / 2;
    };
    EXPECT_TRUE(wait_until([&] { return palette_shown() || !running(); }, START_SECONDS));
    ASSERT_TRUE(running()) << read_file(log);
    EXPECT_TRUE(palette_shown());

    // Escape on the palette quits once its fade-in is over; keep pressing.
    ASSERT_TRUE(wait_until([&] {
        tap_key(x, XK_Escape);
        return !running();
    }, EXIT_SECONDS));
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << read_file(log);
    EXPECT_EQ(std::system(("rmdir " + s.elsewhere).c_str()), 0) << "havoc left files in its working directory";
}

}  // namespace
