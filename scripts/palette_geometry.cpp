// palette_geometry: where havoc puts its palette on a W x H screen of one
// monitor, as shell assignments, for scripts that click its icons.
//   palette_geometry W H
#include "palette/palette.h"
#include "shell/art_geometry.h"

#include <cstdio>
#include <cstdlib>

int main(int argc, char **argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: palette_geometry WIDTH HEIGHT\n");
        return 2;
    }
    ScreenArea screen_area = {0, 0, std::atoi(argv[1]), std::atoi(argv[2])};
    PaletteGeometry g = palette_geometry(screen_area, PALETTE_ICON_SIZE, PALETTE_ICON_SIZE, PALETTE_CAP_W);
    std::printf("icon_w=%d icon_h=%d icons_left=%d palette_top=%d palette_left=%d palette_width=%d "
                "palette_height=%d\n",
                g.icon_w, g.icon_h, g.icons_left, g.palette_top, g.palette_left, g.palette_width,
                g.palette_height);
    return 0;
}
END_OF_MAIN()
