// A stop signal (INT, TERM, QUIT or HUP) ends every loop at its next Escape
// check, the palette's fade included, and the outer loop with it, so havoc
// leaves through its normal shutdown. The tests set stop_signal as the
// platform's handler does.
#include "frame/harness.h"

#include "palette/palette.h"
#include "shell/outer_loop.h"
#include "tools/bat.h"
#include "tools/lady.h"
#include "tools/laser.h"
#include "tools/lightsaber.h"

#include <gtest/gtest.h>

#include <csignal>

namespace {

const int FADE_OVER = PALETTE_FADE_TICKS;

struct StopCase {
    const char *what;
    std::function<void()> loop;
    Script script;            // long enough that only the stop can end it early
    int stop_after_frame;
};

TEST(StopSignal, EveryLoopLeavesAtItsNextEscapeCheck)
{
    auto palette = [] { current_tool = run_palette(); };
    // Ticks stand still during the fade, as the harness's show steps come
    // faster than the timer.
    const StopCase cases[] = {
        {"palette fading in", palette, hold(20, {10, 500, 300, 0, {}}), 4},
        {"palette faded in", palette, hold(20, {FADE_OVER, 500, 300, 0, {}}), 4},
        {"bat swinging", run_bat, hold(20, {200, 500, 300, LEFT_BUTTON, {}}), 4},
        {"lightsaber burning", run_saber, hold(20, {200, 500, 300, LEFT_BUTTON, {}}), 4},
        {"laser firing", run_laser, hold(20, {200, 500, 300, LEFT_BUTTON, {}}), 4},
        {"lady walking", run_lady, hold(20, {200, 500, 300, 0, {}}), 4},
        {"a tool reached from the palette, and the palette after it", run_outer_loop,
         palette_click(TOOL_LASER) + hold(20, {200, 500, 300, LEFT_BUTTON, {}}), 6},
    };
    for (const StopCase &c : cases) {
        reset_scene();
        current_tool = TOOL_LADY;  // anything but "none": the loop must say where it went
        int shown = drive(c.loop, c.script, [&](int frame) {
            if (frame == c.stop_after_frame)
                stop_signal.store(SIGTERM);
        });
        stop_signal.store(0);
        EXPECT_EQ(shown, c.stop_after_frame + 1) << c.what;
        EXPECT_EQ(current_tool, NO_TOOL) << c.what;
        EXPECT_TRUE(voices_playing(mampf_sound).empty()) << c.what << ": the munching goes on";
    }
    reset_scene();
}

}  // namespace
