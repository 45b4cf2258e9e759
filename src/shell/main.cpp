// havoc: photographs the desktop, goes full screen at the desktop's own size
// and depth showing the photograph, and lets the user wreck it with the
// tools of the palette. Nothing is written back to the desktop or to disk.
#include "platform/platform.h"
#include "shell/assets.h"
#include "shell/fatal.h"
#include "shell/outer_loop.h"
#include "shell/scene.h"

#include <cstdio>

static BITMAP *screen_sized_bitmap(const char *what, int w, int h)
{
    BITMAP *bmp = create_bitmap(w, h);
    if (!bmp)
        fatal("not enough memory for the %s (%dx%d)", what, w, h);
    return bmp;
}

// A stop signal during start-up: the rest of it is skipped, and havoc ends
// through its normal shutdown like any loop would.
static bool stopped()
{
    return stop_signal.load() != 0;
}

// True when everything is up; false when a stop signal cut start-up short.
static bool start_up()
{
    // The photograph comes first, while the desktop is still as the user left it.
    capture_desktop();
    if (allegro_init() != 0)
        fatal("cannot start the game library: %s", allegro_error);
    catch_stop_signals();
    if (stopped())
        return false;

    int w = 0, h = 0;
    screen_size(&w, &h);
    int depth = desktop_color_depth();
    set_color_depth(depth);
    int driver = dress_screen_window();
    if (set_gfx_mode(driver, w, h, 0, 0) != 0)
        fatal("cannot switch to a %dx%d full-screen mode at %d bits: %s", w, h, depth, allegro_error);
    keep_frame_private();
    if (stopped())
        return false;

    desktop_bmp = screen_sized_bitmap("desktop picture", w, h);
    finish_desktop_capture();
    if (stopped())
        return false;
    back_buffer = screen_sized_bitmap("frame buffer", w, h);

    if (install_keyboard() != 0)
        fatal("cannot use the keyboard: %s", allegro_error);
    if (install_mouse() < 0)
        fatal("cannot use the mouse: %s", allegro_error);
    // The library starts its pointer mid-screen; the desktop says where.
    int pointer_x = 0, pointer_y = 0;
    pointer_start(&pointer_x, &pointer_y);
    position_mouse(pointer_x, pointer_y);
    if (install_timer() != 0)
        fatal("cannot start the timer: %s", allegro_error);
    // Without a sound device the library keeps its silent driver and the toy
    // simply plays without sound; autodetection picks that driver itself.
    if (install_sound(DIGI_AUTODETECT, MIDI_NONE, nullptr) != 0)
        std::fprintf(stderr, "havoc: no sound device (%s): playing silently\n", allegro_error);
    else if (digi_driver->id == DIGI_NONE)
        std::fprintf(stderr, "havoc: no sound device: playing silently\n");
    LOCK_VARIABLE(tick_count);
    LOCK_FUNCTION(tick_handler);
    if (install_int(tick_handler, TICK_MS) != 0)
        fatal("cannot start the %d ms tick: %s", TICK_MS, allegro_error);
    if (stopped())
        return false;

    load_assets();
    return true;
}

static void shut_down()
{
    destroy_bitmap(desktop_bmp);
    destroy_bitmap(back_buffer);
    release_assets();
    hide_screen_window();
    // The library lets go of the screen first: until its input thread stops
    // it may still move the pointer.
    allegro_exit();
    restore_pointer();
}

int main()
{
    prepare_process();
    // A data file that cannot be read stops havoc before the screen is touched.
    check_data_file();
    if (start_up())
        run_outer_loop();
    shut_down();
    if (int signal_number = stop_signal.load())
        end_by_stop_signal(signal_number);
    return 0;
}
END_OF_MAIN()
