// Starts the library the way havoc does and runs the frame-level tests.
#include "frame/harness.h"

#include <gtest/gtest.h>

#include <cstdio>

int main(int argc, char **argv)
{
    testing::InitGoogleTest(&argc, argv);
    if (!start_scene(true))
        return 2;
    std::printf("frame tests on a %dx%d screen at %d bits per pixel\n", SCREEN_W, SCREEN_H,
                bitmap_color_depth(screen));
    int result = RUN_ALL_TESTS();
    end_scene();
    return result;
}
