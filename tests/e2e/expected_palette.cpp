#include "e2e/expected_palette.h"

#include <gtest/gtest.h>

// The program's own layout of the strip, and the library that draws it.
#include "palette/palette.h"

#include <allegro.h>

#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <map>
#include <mutex>

// The palette's pictures in the data file: the left end piece (the right
// one is its mirror), and the icons from left to right, the tools' and the
// end icon.
static const char CAP[] = "cap.tga";
static const char *const ICONS[] = {"icon00.tga", "icon01.tga", "icon02.tga", "icon03.tga", "iconend.tga"};
static const int ICON_COUNT = sizeof ICONS / sizeof *ICONS;

// The library, started once with no platform: only to load and draw bitmaps.
static bool library_started()
{
    static bool started = install_allegro(SYSTEM_NONE, &errno, atexit) == 0;
    EXPECT_TRUE(started);
    return started;
}

// Loads one of the palette's pictures from a data file.
static BITMAP *palette_piece(const std::string &data_file, const char *name)
{
    return load_bitmap((data_file + "#" + name).c_str(), nullptr);
}

struct PieceSizes {
    int icon_w, icon_h, cap_w;
};

// The sizes havoc lays its palette out by: the first icon's and the end
// piece's, read once for each data file (the suites that start several X
// servers at once ask from several threads).
static PieceSizes piece_sizes(const std::string &data_file)
{
    static std::mutex lock;
    static std::map<std::string, PieceSizes> known;
    std::lock_guard<std::mutex> hold(lock);
    auto found = known.find(data_file);
    if (found != known.end())
        return found->second;
    PieceSizes sizes{0, 0, 0};
    BITMAP *icon = library_started() ? palette_piece(data_file, ICONS[0]) : nullptr;
    BITMAP *cap = library_started() ? palette_piece(data_file, CAP) : nullptr;
    if (icon && cap)
        sizes = {icon->w, icon->h, cap->w};
    else
        ADD_FAILURE() << "cannot read the palette's pictures from " << data_file;
    for (BITMAP *b : {icon, cap})
        if (b)
            destroy_bitmap(b);
    return known[data_file] = sizes;
}

PaletteLayout palette_layout(const Rect &monitor, const std::string &data_file)
{
    PieceSizes sizes = piece_sizes(data_file);
    PaletteGeometry g = palette_geometry({monitor.x, monitor.y, monitor.w, monitor.h}, sizes.icon_w,
                                         sizes.icon_h, sizes.cap_w);
    return {{g.palette_left, g.palette_top, g.palette_width, g.palette_height}, g.icons_left, g.icon_w, g.icon_h,
            ICON_COUNT};
}

// A pixel of the library at `bits` bits as a screenshot reads it. A 16-bit
// screenshot widens each channel by truncating, where the library's own
// tables round.
static int as_screenshot_reads(int bits, int c)
{
    if (bits == 16)
        return getr16(c) / 8 * 255 / 31 << 16 | getg16(c) / 4 * 255 / 63 << 8 | getb16(c) / 8 * 255 / 31;
    return getr32(c) << 16 | getg32(c) << 8 | getb32(c);
}

Picture expected_palette(const Picture &desktop, const std::string &data_file, int depth, const Rect &monitor)
{
    library_started();
    // A 24-bit X screen has 32 bits a pixel, and so has havoc's screen there.
    int bits = depth == 24 ? 32 : depth;
    set_color_depth(bits);
    // As havoc loads its pictures: converted to the screen's depth, the mask
    // colour kept transparent.
    set_color_conversion(COLORCONV_TOTAL | COLORCONV_KEEP_TRANS);
    BITMAP *picture = create_bitmap_ex(bits, desktop.w, desktop.h);
    for (int y = 0; y < desktop.h; ++y)
        for (int x = 0; x < desktop.w; ++x) {
            int c = desktop.at(x, y);
            putpixel(picture, x, y, makecol_depth(bits, c >> 16 & 0xff, c >> 8 & 0xff, c & 0xff));
        }
    PaletteLayout at = palette_layout(monitor.w ? monitor : Rect{0, 0, desktop.w, desktop.h}, data_file);
    BITMAP *cap = palette_piece(data_file, CAP);
    BITMAP *icon[ICON_COUNT];
    for (int i = 0; i < ICON_COUNT; ++i)
        icon[i] = palette_piece(data_file, ICONS[i]);
    bool all_there = cap && std::find(icon, icon + ICON_COUNT, nullptr) == icon + ICON_COUNT;
    if (all_there) {
        draw_sprite(picture, cap, at.strip.x, at.strip.y);
        for (int i = 0; i < ICON_COUNT; ++i)
            draw_sprite(picture, icon[i], at.icon(i).x, at.strip.y);
        draw_sprite_h_flip(picture, cap, at.icon(ICON_COUNT).x, at.strip.y);
    } else {
        // The caller's comparison then fails too, instead of the test crashing.
        ADD_FAILURE() << "cannot read the palette's pictures from " << data_file;
    }
    for (BITMAP *b : icon)
        if (b)
            destroy_bitmap(b);
    if (cap)
        destroy_bitmap(cap);
    Picture p;
    p.w = desktop.w;
    p.h = desktop.h;
    for (int y = 0; y < p.h; ++y)
        for (int x = 0; x < p.w; ++x)
            p.rgb.push_back(all_there ? as_screenshot_reads(bits, getpixel(picture, x, y)) : desktop.at(x, y));
    destroy_bitmap(picture);
    return p;
}

Sampling sample_until_fade(const std::function<int(bool &strip_changed)> &sample, double seconds)
{
    Sampling s;
    auto start = std::chrono::steady_clock::now();
    for (;;) {
        double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
        if (ms > seconds * 1000)
            return s;
        bool strip_changed = false;
        int off = sample(strip_changed);
        if (off < 0)
            return s;
        ++s.samples;
        if (off) {
            ++s.off;
            s.worst = std::max(s.worst, off);
            if (s.first_off_ms < 0)
                s.first_off_ms = ms;
            s.last_off_ms = ms;
        } else if (strip_changed) {
            s.fade_ms = ms;
            return s;
        }
    }
}

Sampling sample_rows_until_fade(XServer &x, const Picture &desktop, const std::vector<int> &rows, const Rect &strip,
                                const std::vector<Rect> &monitors, double seconds)
{
    Window root = DefaultRootWindow(x.display);
    auto on_a_monitor = [&](int px, int py) {
        return std::any_of(monitors.begin(), monitors.end(), [&](const Rect &m) { return m.contains(px, py); });
    };
    return sample_until_fade([&](bool &strip_changed) {
        int off = 0;
        for (int row : rows) {
            XImage *image = XGetImage(x.display, root, 0, row, x.w, 1, AllPlanes, ZPixmap);
            if (!image)
                return -1;
            for (int px = 0; px < x.w; ++px) {
                if ((int)(XGetPixel(image, px, 0) & 0xffffff) == desktop.at(px, row) || !on_a_monitor(px, row))
                    continue;
                if (strip.contains(px, row))
                    strip_changed = true;
                else
                    ++off;
            }
            XDestroyImage(image);
        }
        return off;
    }, seconds);
}
