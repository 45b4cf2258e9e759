// The tool palette: a strip of five icons between two end pieces, over the
// damaged picture. Returns the chosen tool 0 to 3, or -1 to quit.
#pragma once

#include "shell/scene.h"

int run_palette();

// Above 8 bits the strip fades in over this many ticks (one second) from the
// palette's opening; clicks and Escape wait until it is over.
const int PALETTE_FADE_TICKS = 100;

// Where the strip sits on a screen, all in screen pixels. Every icon is taken
// to have the size of the first one.
struct PaletteGeometry {
    int icon_w, icon_h;   // size of one icon: the click slots and the highlight
    int icons_left;       // left edge of the first icon
    int palette_top;      // top edge of the icons and both end pieces
    int palette_left;     // left edge of the left end piece
    int palette_width;    // the whole strip, both end pieces included
    int palette_height;
};

// The strip centred across a monitor and raised one icon height above its
// middle, for icons of icon_w x icon_h and end pieces cap_w wide. Divisions
// truncate toward zero.
PaletteGeometry palette_geometry(const ScreenArea &monitor, int icon_w, int icon_h, int cap_w);
