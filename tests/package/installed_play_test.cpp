// The game as a player gets it from the .deb: the package unpacked into a
// private root (never installed on this machine) and its launcher started
// from a folder that has nothing to do with havoc.
#include "e2e/desktop.h"
#include "e2e/expected_palette.h"
#include "e2e/runs.h"
#include "e2e/sound.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <sys/wait.h>

namespace {

const int W = 800, H = 600;
const double START_SECONDS = 30;

TEST(InstalledPackage, LauncherStartedElsewhereShowsThePaletteAndEscapeQuitsWithZero)
{
    // The unpacked package, a private HOME and the unrelated working folder,
    // all removed with havoc at the end.
    Process havoc;
    std::string root = havoc.scratch_folder("root"), home = havoc.scratch_folder("home");
    std::string elsewhere = havoc.scratch_folder("elsewhere");
    ASSERT_EQ(std::system(("dpkg-deb -x " + std::string(HAVOC_PACKAGE) + " " + root).c_str()), 0);
    write_sound_home(home);
    XServer x(W, H, 24);
    Picture desktop = set_root_picture(x);

    havoc.start({root + "/usr/games/havoc"}, {"HOME=" + home, "DISPLAY=" + x.name, "PATH=/usr/bin:/bin"},
                elsewhere, home + "/stderr.txt");

    // The palette fades in over the strip while the desktop above it stays
    // as it was (a blank full-screen window would change both).
    Rect strip = palette_layout({0, 0, W, H}).strip;
    auto palette_shown = [&] {
        Picture now = screenshot(x);
        return differing(now, desktop, {0, 0, W, strip.y}) == 0 &&
               differing(now, desktop, strip) > strip.w * strip.h / 2;
    };
    EXPECT_TRUE(wait_until([&] { return palette_shown() || !havoc.running(); }, START_SECONDS));
    ASSERT_TRUE(havoc.running()) << havoc.stderr_text();
    EXPECT_TRUE(palette_shown());

    ASSERT_TRUE(quit_with_escape(x, havoc));
    ASSERT_TRUE(WIFEXITED(havoc.status));
    EXPECT_EQ(WEXITSTATUS(havoc.status), 0) << havoc.stderr_text();
    EXPECT_EQ(std::system(("rmdir " + elsewhere).c_str()), 0) << "havoc left files in its working directory";
}

}  // namespace
