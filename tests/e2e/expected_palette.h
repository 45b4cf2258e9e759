// End-to-end support, the expected palette: where havoc puts its strip of
// icons, as the program itself works it out from its data file's pictures;
// how the strip must look once faded in; and a watch over a launch until
// the strip begins to fade in.
#pragma once

#include "e2e/desktop.h"
#include "e2e/runs.h"

#include <functional>
#include <string>

// Where havoc puts its palette on a monitor: the program's own
// palette_geometry() given the sizes of the data file's icons and end piece.
struct PaletteLayout {
    Rect strip;          // both end pieces included
    int icons_left, icon_w, icon_h;
    int icons;           // the tools' icons, then the end icon, which quits

    // The middle of a slot's icon, and the icon.
    int slot_x(int slot) const { return icons_left + slot * icon_w + icon_w / 2; }
    int slot_y() const { return strip.y + icon_h / 2; }
    Rect icon(int slot) const { return {icons_left + slot * icon_w, strip.y, icon_w, icon_h}; }
    int end_slot() const { return icons - 1; }
};
PaletteLayout palette_layout(const Rect &monitor, const std::string &data_file = GOOD_DATA_FILE);

// The palette as it must look once faded in over `desktop` on a screen of
// `depth` bits, on `monitor` (the whole screen when it is empty): the data
// file's own icons and caps drawn masked over the picture by the library at
// the screen's depth, the way havoc draws them, in the colours a screenshot
// reads.
Picture expected_palette(const Picture &desktop, const std::string &data_file = GOOD_DATA_FILE, int depth = 24,
                         const Rect &monitor = {0, 0, 0, 0});

// What a screen sampler saw from launch until the palette began to fade in.
struct Sampling {
    int samples = 0;
    int off = 0;             // samples with some pixel outside the strip off the desktop
    int worst = 0;           // the most such pixels in one sample
    double first_off_ms = -1, last_off_ms = -1;   // from the start of sampling
    double fade_ms = -1;     // the strip changed while all else showed the desktop
};
// Takes one sample after another, for at most `seconds`, until one shows
// the palette's strip changed and nothing else. `sample` returns how many
// pixels outside the strip differ from the desktop, and sets
// `strip_changed`; or a negative number when it could take no sample, which
// ends the sampling.
Sampling sample_until_fade(const std::function<int(bool &strip_changed)> &sample, double seconds);

// Reads full-width rows of the root as fast as the server answers, for at
// most `seconds`, until only the strip differs from `desktop`: the fade has
// begun. Pixels no monitor shows are left out.
Sampling sample_rows_until_fade(XServer &x, const Picture &desktop, const std::vector<int> &rows, const Rect &strip,
                                const std::vector<Rect> &monitors, double seconds);
