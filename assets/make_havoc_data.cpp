// make_havoc_data: draws every picture and synthesises every sound of havoc
// into one folder, ready for the dat tool to pack into havoc.dat.
//   make_havoc_data OUTPUT_DIR
#include "pictures.h"
#include "sounds.h"

#include <allegro.h>

#include <cerrno>
#include <cstdio>
#include <string>

int main(int argc, char **argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_havoc_data OUTPUT_DIR\n");
        return 2;
    }
    // No display: memory bitmaps, drawing and save_tga work without one.
    if (install_allegro(SYSTEM_NONE, &errno, atexit) != 0) {
        std::fprintf(stderr, "make_havoc_data: cannot start the library\n");
        return 1;
    }
    set_color_depth(32);
    const std::string dir = argv[1];
    bool ok = draw_pictures(dir) && make_sounds(dir);
    return ok ? 0 : 1;
}
END_OF_MAIN()
