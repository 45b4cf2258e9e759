// The real binary on a real (virtual) desktop: it must show the desktop
// unchanged, leave cleanly, and explain itself when it cannot start.
#include "e2e/desktop.h"
#include "e2e/expected_palette.h"
#include "e2e/runs.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <sys/wait.h>

namespace {

const int W = 800, H = 600;
const double START_SECONDS = 30, EXIT_SECONDS = 20;

// Pixels outside the palette strip and the pointer that differ from the
// desktop picture by more than `tolerance` in some channel.
int changed_pixels(XServer &x, const Picture &desktop, int tolerance)
{
    Picture now = screenshot(x);
    Rect strip = palette_layout({0, 0, W, H}).strip;
    return differing(now, desktop, {0, 0, W, H}, {strip, pointer_box(x)}, tolerance);
}

class AtDepth : public testing::TestWithParam<int> {};

TEST_P(AtDepth, ShowsTheDesktopUnchangedAndLeavesCleanlyOnEscape)
{
    int depth = GetParam();
    // 8-bit colours pass through the library's 6-bit palette.
    int tolerance = depth == 8 ? 4 : 0;
    XServer x(W, H, depth);
    Picture desktop = set_root_picture(x);
    Havoc havoc(&x);
    ASSERT_TRUE(wait_until([&] { return fullscreen_window_mapped(x); }, START_SECONDS)) << havoc.stderr_text();
    int changed = -1;
    EXPECT_TRUE(wait_until([&] { return (changed = changed_pixels(x, desktop, tolerance)) == 0; }, START_SECONDS))
        << changed << " pixels differ from the desktop at depth " << depth;
    // The server still shows frames through the memory no one else can read.
    EXPECT_EQ(frame_memory_faults(havoc), std::vector<std::string>{});

    ASSERT_TRUE(quit_with_escape(x, havoc)) << havoc.stderr_text();
    ASSERT_TRUE(WIFEXITED(havoc.status));
    EXPECT_EQ(WEXITSTATUS(havoc.status), 0) << havoc.stderr_text();
    EXPECT_FALSE(fullscreen_window_mapped(x));
    EXPECT_TRUE(can_grab_input(x));
    EXPECT_EQ(havoc.working_dir_files(), std::vector<std::string>{"havoc.dat"});
    EXPECT_TRUE(wait_until([&] { return !shared_memory_left(havoc); }, EXIT_SECONDS));
}

INSTANTIATE_TEST_SUITE_P(Desktop, AtDepth, testing::Values(24, 16, 15, 8));

class OnSignal : public testing::TestWithParam<int> {};

TEST_P(OnSignal, DisplayIsRestoredInputReleasedAndPointerPutBack)
{
    const int LEFT_AT_X = 123, LEFT_AT_Y = 45;
    XServer x(W, H, 24);
    Picture desktop = set_root_picture(x);
    move_pointer(x, LEFT_AT_X, LEFT_AT_Y);
    Havoc havoc(&x);
    ASSERT_TRUE(wait_until([&] { return fullscreen_window_mapped(x); }, START_SECONDS)) << havoc.stderr_text();
    ASSERT_TRUE(wait_until([&] { return changed_pixels(x, desktop, 0) == 0; }, START_SECONDS));
    // The desktop shows from the first frame; havoc takes the input once its
    // own picture is up.
    EXPECT_TRUE(wait_until([&] { return !can_grab_input(x); }, START_SECONDS))
        << "havoc should hold keyboard and pointer while it runs";
    int px, py;
    EXPECT_TRUE(wait_until([&] {
        pointer_position(x, &px, &py);
        return px == W / 2 && py == H / 2;
    }, START_SECONDS)) << "havoc never took the pointer to the middle of the screen";

    havoc.signal(GetParam());
    ASSERT_TRUE(havoc.wait_exit(EXIT_SECONDS));
    EXPECT_FALSE(fullscreen_window_mapped(x));
    EXPECT_TRUE(can_grab_input(x));
    pointer_position(x, &px, &py);
    EXPECT_EQ(px, LEFT_AT_X);
    EXPECT_EQ(py, LEFT_AT_Y);
}

INSTANTIATE_TEST_SUITE_P(Shell, OnSignal, testing::Values(SIGTERM, SIGINT, SIGQUIT));

TEST(Shell, WithoutADisplayItSaysSoInOneLineAndFails)
{
    XServer x(W, H, 24);
    Havoc havoc(&x, /*with_display=*/false);
    ASSERT_TRUE(havoc.wait_exit(EXIT_SECONDS));
    ASSERT_TRUE(WIFEXITED(havoc.status)) << "ended by signal " << WTERMSIG(havoc.status);
    EXPECT_NE(WEXITSTATUS(havoc.status), 0);
    std::string text = havoc.stderr_text();
    EXPECT_NE(text.find("havoc: cannot open display"), std::string::npos) << text;
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 1) << text;
}

TEST(Shell, WithoutASoundDeviceItSaysSoInOneLineAndPlaysSilently)
{
    XServer x(W, H, 24);
    // An empty configuration: the sound library finds no device at all.
    Havoc havoc(&x, true, GOOD_DATA_FILE, {"env", "ALSA_CONFIG_PATH=/dev/null"});
    ASSERT_TRUE(wait_until([&] { return fullscreen_window_mapped(x); }, START_SECONDS)) << havoc.stderr_text();
    ASSERT_TRUE(quit_with_escape(x, havoc));
    ASSERT_TRUE(WIFEXITED(havoc.status));
    EXPECT_EQ(WEXITSTATUS(havoc.status), 0);
    EXPECT_EQ(havoc.stderr_text(), "havoc: no sound device: playing silently\n");
}

}  // namespace
