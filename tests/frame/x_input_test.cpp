// Input from the X server reaches the very next pass. Here the library reads
// its own X keyboard and mouse drivers instead of the scripted ones, and a
// connection of the test's own moves the pointer, presses the button and
// keys through XTEST. Between two frames the hand acts, the X server is
// waited on until the library's connection holds what it sent, and the
// library's background thread is held still: nothing but the pass itself
// can take that input in, whatever the timing.
#include "frame/harness.h"

#include "palette/palette.h"
#include "shell/art_geometry.h"
#include "tools/bat.h"
#include "tools/lady.h"
#include "tools/laser.h"
#include "tools/lightsaber.h"

// gtest first: X's headers define None and Bool as macros.
#include <gtest/gtest.h>

#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>
#include <allegro/internal/aintern.h>
#include <allegro/platform/aintunix.h>
#include <xalleg.h>

#include <chrono>
#include <functional>
#include <memory>
#include <thread>
#include <poll.h>

namespace {

// Where the pointer rests before the hand moves, and where it moves to:
// below the palette, far enough apart that no picture drawn at one reaches
// the other.
const int REST_X = 200, REST_Y = 600;
const int MOVED_X = 750, MOVED_Y = 600;

// The X server answers at once; this only keeps a broken run from hanging.
const int DELIVERY_TIMEOUT_MS = 10000;
const double SETTLE_SECONDS = 10;

_DRIVER_INFO *x_keyboards() { return _xwin_keyboard_driver_list; }
_DRIVER_INFO *x_mice() { return _xwin_mouse_driver_list; }

// Polls `condition` until it holds, while the library's own thread works.
bool eventually(const std::function<bool()> &condition)
{
    for (int i = 0; i < SETTLE_SECONDS * 200; ++i) {   // 5 ms apart
        if (condition())
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return condition();
}

// The library is still moving its pointer from where position_mouse put
// it, not yet following the X pointer.
bool library_placed_pointer()
{
    XLOCK();
    bool placed = _xwin.mouse_warped != 0;
    XUNLOCK();
    return placed;
}

// The library's background thread, which otherwise hands X input over
// every 10 ms, waits while this lives.
struct BackgroundHeld {
    BackgroundHeld() { _unix_bg_man->disable_interrupts(); }
    ~BackgroundHeld() { _unix_bg_man->enable_interrupts(); }
};

class XInput : public ::testing::Test {
protected:
    static Display *hand;

    static void SetUpTestSuite()
    {
        hand = XOpenDisplay(nullptr);
        ASSERT_NE(hand, nullptr);
        use_drivers(x_keyboards, x_mice);
        ASSERT_TRUE(eventually([] { return !library_placed_pointer(); }));
    }

    static void TearDownTestSuite()
    {
        use_drivers(scripted_keyboard_drivers_of_harness, scripted_mice_of_harness);
        XCloseDisplay(hand);
    }

    static _DRIVER_INFO *(*scripted_keyboard_drivers_of_harness)();
    static _DRIVER_INFO *(*scripted_mice_of_harness)();

    static void use_drivers(_DRIVER_INFO *(*keyboards)(), _DRIVER_INFO *(*mice)())
    {
        remove_keyboard();
        remove_mouse();
        if (!scripted_keyboard_drivers_of_harness) {
            scripted_keyboard_drivers_of_harness = system_driver->keyboard_drivers;
            scripted_mice_of_harness = system_driver->mouse_drivers;
        }
        system_driver->keyboard_drivers = keyboards;
        system_driver->mouse_drivers = mice;
        ASSERT_EQ(install_keyboard(), 0);
        ASSERT_GE(install_mouse(), 0);
    }

    void SetUp() override
    {
        reset_scene();
        // The library follows the X pointer to the resting place.
        move(REST_X + 1, REST_Y + 1);
        move(REST_X, REST_Y);
        XSync(hand, False);
        ASSERT_TRUE(eventually([] { return mouse_x == REST_X && mouse_y == REST_Y; }));
    }

    // Whatever the hand still holds comes up, and the library hears it
    // before the next case.
    void TearDown() override
    {
        XTestFakeButtonEvent(hand, 1, False, 0);
        for (KeySym k : {XK_Escape, XK_2})
            XTestFakeKeyEvent(hand, XKeysymToKeycode(hand, k), False, 0);
        move(REST_X + 2, REST_Y + 2);
        XSync(hand, False);
        EXPECT_TRUE(eventually([] { return mouse_x == REST_X + 2 && mouse_b == 0; }));
    }

    static void move(int x, int y) { XTestFakeMotionEvent(hand, -1, x, y, 0); }
    static void press_button() { XTestFakeButtonEvent(hand, 1, True, 0); }
    static void press_key(KeySym k) { XTestFakeKeyEvent(hand, XKeysymToKeycode(hand, k), True, 0); }

    // The X server has done what the hand did and sent it on: the test's own
    // round trip, then the library's connection has something to read.
    static void wait_until_delivered()
    {
        XSync(hand, False);
        pollfd library = {ConnectionNumber(_xwin.display), POLLIN, 0};
        ASSERT_EQ(poll(&library, 1, DELIVERY_TIMEOUT_MS), 1) << "the X server sent the library nothing";
    }
};

Display *XInput::hand;
_DRIVER_INFO *(*XInput::scripted_keyboard_drivers_of_harness)();
_DRIVER_INFO *(*XInput::scripted_mice_of_harness)();

// Where a loop draws what follows the pointer, with the pointer at (x, y).
using DrawnAt = Area (*)(int x, int y);
Area near_pointer(int x, int y) { return {x - 2, y - 2, 12, 12}; }
Area bat_at(int x, int y) { return {x - BAT_GRIP_X, y - BAT_GRIP_Y, BAT_FRAME_W, BAT_FRAME_H}; }
Area saber_at(int x, int y) { return {x - SABER_TIP_X, y - SABER_TIP_Y, SABER_CELL_W, SABER_CELL_H}; }
Area laser_at(int x, int y) { return {x, y, LASER_FRAME_W, LASER_FRAME_H}; }

struct Loop {
    const char *name;
    std::function<void()> run;
    DrawnAt drawn_at;
};

// The palette's first pass fades the strip in (above 8 bits) and reads no
// input; the hand acts after it, and the pass after that is interactive.
const Loop LOOPS[] = {
    {"palette", [] { run_palette(); }, near_pointer},
    {"bat", run_bat, bat_at},
    {"lightsaber", run_saber, saber_at},
    {"laser", run_laser, laser_at},
    {"lady", run_lady, near_pointer},
};

// Two passes with the pointer at rest, the palette's fade over by the
// second; the hand acts between them.
Script two_passes()
{
    return Script{{0, REST_X, REST_Y, 0, {}}} + hold(2, {100, REST_X, REST_Y, 0, {}});
}

TEST_F(XInput, pointer_moved_before_a_pass_is_drawn_by_that_pass)
{
    for (const Loop &loop : LOOPS) {
        SCOPED_TRACE(loop.name);
        reset_scene();
        int drawn_at_moved = -1, drawn_at_rest = -1, seen_x = -1, seen_y = -1;
        {
            BackgroundHeld held;
            drive(loop.run, two_passes(), [&](int frame) {
                if (frame == 0) {
                    move(MOVED_X, MOVED_Y);
                    wait_until_delivered();
                } else if (frame == 1) {
                    seen_x = mouse_x;
                    seen_y = mouse_y;
                    drawn_at_moved = differing_pixels(screen, desktop_bmp, loop.drawn_at(MOVED_X, MOVED_Y));
                    drawn_at_rest = differing_pixels(screen, desktop_bmp, loop.drawn_at(REST_X, REST_Y));
                }
            });
        }
        EXPECT_EQ(seen_x, MOVED_X);
        EXPECT_EQ(seen_y, MOVED_Y);
        EXPECT_GT(drawn_at_moved, 0) << "nothing drawn where the pointer went";
        EXPECT_EQ(drawn_at_rest, 0) << "still drawn where the pointer was";
        // Back to rest for the next loop.
        move(REST_X, REST_Y);
        XSync(hand, False);
        ASSERT_TRUE(eventually([] { return mouse_x == REST_X && mouse_y == REST_Y; }));
    }
}

TEST_F(XInput, press_before_a_pass_shows_the_bats_first_swing_frame_in_that_pass)
{
    BITMAP *expected = copy_of(desktop_bmp);
    masked_blit(bat_image, expected, bat_sequence[1] * BAT_FRAME_W, 0, REST_X - BAT_GRIP_X,
                REST_Y - BAT_GRIP_Y, BAT_FRAME_W, BAT_FRAME_H);
    std::string shown;
    {
        BackgroundHeld held;
        drive(run_bat, two_passes(), [&](int frame) {
            if (frame == 0) {
                press_button();
                wait_until_delivered();
            } else if (frame == 1) {
                shown = differences(screen, expected, bat_at(REST_X, REST_Y));
            }
        });
    }
    destroy_bitmap(expected);
    EXPECT_EQ(shown, "");
}

// Where the X server has the pointer.
void x_pointer(Display *d, int *x, int *y)
{
    Window root, child;
    int wx, wy;
    unsigned int buttons;
    XQueryPointer(d, DefaultRootWindow(d), &root, &child, x, y, &wx, &wy, &buttons);
}

// A shot's jolt moves the library's pointer away from the X pointer. With the
// input taken in every pass, the library still follows the hand from there by
// its motion until its quiet spell is over, then brings the X pointer to its
// own; from then on the hand moves it to where the X server has it.
TEST_F(XInput, after_the_lasers_jolt_the_x_pointer_is_brought_to_the_librarys)
{
    // Passes keep coming while the library's thread counts out its spell;
    // each waits a little until the two pointers agree.
    const int SPELL_FRAMES = 3000;
    const auto PACE = std::chrono::milliseconds(1);
    reset_scene();
    bool apart = false, together = false;
    // The press is taken in by the pass that fires, not by the library's
    // thread between the script's rows.
    std::unique_ptr<BackgroundHeld> held;
    drive(run_laser, Script{{0, REST_X, REST_Y, 0, {}}} + hold(SPELL_FRAMES, {100, REST_X, REST_Y, 0, {}}),
          [&](int frame) {
              if (frame == 0) {
                  held.reset(new BackgroundHeld);
                  press_button();
                  wait_until_delivered();
              } else if (frame == 1) {
                  held.reset();
                  XTestFakeButtonEvent(hand, 1, False, 0);
              }
              if (together)
                  return;
              int x, y;
              x_pointer(hand, &x, &y);
              if (x != mouse_x || y != mouse_y) {
                  apart = true;
              } else if (apart && !library_placed_pointer()) {
                  // Done: Escape ends the laser in the next pass.
                  together = true;
                  held.reset(new BackgroundHeld);
                  press_key(XK_Escape);
                  wait_until_delivered();
                  return;
              }
              std::this_thread::sleep_for(PACE);
          });
    held.reset();
    EXPECT_TRUE(apart) << "the shot did not jolt the pointer";
    EXPECT_TRUE(together) << "the X pointer never came to the library's";
    move(MOVED_X, MOVED_Y);
    XSync(hand, False);
    EXPECT_TRUE(eventually([] { return mouse_x == MOVED_X && mouse_y == MOVED_Y; }));
}

// A key pressed between two passes: Escape ends every loop before the
// second pass draws anything; a digit is there for the bat's number-key step.
TEST_F(XInput, key_pressed_before_a_pass_is_seen_by_that_pass)
{
    for (const Loop &loop : LOOPS) {
        SCOPED_TRACE(loop.name);
        reset_scene();
        int shown;
        {
            BackgroundHeld held;
            shown = drive(loop.run, two_passes(), [&](int frame) {
                if (frame == 0) {
                    press_key(XK_Escape);
                    wait_until_delivered();
                }
            });
        }
        EXPECT_EQ(shown, 1) << "the pass after Escape was drawn";
        XTestFakeKeyEvent(hand, XKeysymToKeycode(hand, XK_Escape), False, 0);
        XSync(hand, False);
        ASSERT_TRUE(eventually([] { return !key[KEY_ESC]; }));
    }

    reset_scene();
    current_tool = TOOL_BAT;
    int chosen = NO_TOOL;
    {
        BackgroundHeld held;
        drive(run_bat, two_passes(), [&](int frame) {
            if (frame == 0) {
                press_key(XK_2);
                wait_until_delivered();
            } else if (frame == 1) {
                chosen = tool_from_keys();
            }
        });
    }
    EXPECT_EQ(chosen, TOOL_SABER);
}

}  // namespace
