// Starts the library the way havoc does and runs the frame-level tests.
#include "harness.h"

#include <gtest/gtest.h>

int main(int argc, char **argv)
{
    testing::InitGoogleTest(&argc, argv);
    if (!start_scene(true))
        return 2;
    int result = RUN_ALL_TESTS();
    end_scene();
    return result;
}
