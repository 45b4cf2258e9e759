// Starts the library the way havoc does, minus the input drivers and the
// timer, loads the real data file, and runs the frame-level tests.
#include "harness.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <unistd.h>

int main(int argc, char **argv)
{
    testing::InitGoogleTest(&argc, argv);
    if (allegro_init() != 0) {
        std::fprintf(stderr, "cannot start the library\n");
        return 2;
    }
    int w = 0, h = 0;
    get_desktop_resolution(&w, &h);
    set_color_depth(desktop_color_depth());
    if (set_gfx_mode(GFX_AUTODETECT_FULLSCREEN, w, h, 0, 0) != 0) {
        std::fprintf(stderr, "no graphics mode: %s\n", allegro_error);
        return 2;
    }
    desktop_bmp = create_bitmap(w, h);
    back_buffer = create_bitmap(w, h);
    if (install_sound(DIGI_AUTODETECT, MIDI_NONE, nullptr) != 0 || !digi_driver || digi_driver->id == DIGI_NONE) {
        std::fprintf(stderr, "no sound driver (voices cannot be observed): %s\n", allegro_error);
        return 2;
    }
    if (chdir(HAVOC_DATA_DIR) != 0) {
        std::perror(HAVOC_DATA_DIR);
        return 2;
    }
    load_assets();
    install_test_pointer();
    int result = RUN_ALL_TESTS();
    // A key a script left down would be released by the library's X input
    // thread as the window closes, through a keyboard driver never installed.
    std::memset(const_cast<char *>(key), 0, KEY_MAX);
    release_assets();
    destroy_bitmap(back_buffer);
    destroy_bitmap(desktop_bmp);
    return result;
}
