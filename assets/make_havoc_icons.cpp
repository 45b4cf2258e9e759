// make_havoc_icons: draws havoc's application icon, a cracked screen with the
// bat that broke it, at every size the desktop's menus ask for, and writes
// each as a PNG with a real alpha channel through the library's PNG addon.
//   make_havoc_icons OUTPUT_DIR SIZE...   writes OUTPUT_DIR/havoc-SIZE.png
#include "figures.h"
#include "kit.h"
#include "paint.h"

#include <allegro.h>
#include <loadpng.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

const float FULL_TURN = 2 * PI_F;   // radians

// The icon is designed on a square of DESIGN units and drawn at each size
// with the units scaled to pixels, so every size is sharp, not resampled.
const float DESIGN = 256;
const float SCREEN_CX = 128, SCREEN_CY = 128, SCREEN_HALF_W = 118, SCREEN_HALF_H = 104;
const float BEZEL = 12, SCREEN_CORNER = 22;
const float IMPACT_X = 158, IMPACT_Y = 100;
const float BAT_GRIP_X = 34, BAT_GRIP_Y = 226, BAT_SCALE = 1.45f;
const int CRACK_RAYS = 10, CRACK_BENDS = 3;
const float CRACK_RING_CHANCE = 0.5f;
const uint32_t CRACK_SEED = 9117;

struct Crack {
    Point a, b;
};

// Rays of broken glass from the point of impact, each a bent line, and
// a broken ring of straight chords between neighbouring rays.
std::vector<Crack> crack_lines()
{
    Random rng{CRACK_SEED};
    std::vector<Crack> lines;
    std::vector<Point> first_bends;
    for (int i = 0; i < CRACK_RAYS; ++i) {
        float angle = (i + next_range(rng, -0.25f, 0.25f)) * FULL_TURN / CRACK_RAYS;
        float length = next_range(rng, 70, 130);
        Point from = {IMPACT_X, IMPACT_Y};
        for (int j = 1; j <= CRACK_BENDS; ++j) {
            float r = length * j / CRACK_BENDS, a = angle + next_range(rng, -0.15f, 0.15f);
            Point to = {IMPACT_X + std::cos(a) * r, IMPACT_Y + std::sin(a) * r};
            lines.push_back({from, to});
            if (j == 1)
                first_bends.push_back(to);
            from = to;
        }
    }
    for (int i = 0; i < CRACK_RAYS; ++i)
        if (next_unit(rng) < CRACK_RING_CHANCE)
            lines.push_back({first_bends[i], first_bends[(i + 1) % CRACK_RAYS]});
    return lines;
}

// The crack lines scaled by k to pixels, `width` wide, moved down and right
// by `shift` pixels.
Shape crack_shape(const std::vector<Crack> &lines, float k, float width, float shift)
{
    return [=](float x, float y) {
        float best = 1e9f;
        for (const Crack &c : lines)
            best = std::min(best, capsule(c.a.x * k + shift, c.a.y * k + shift, c.b.x * k + shift,
                                          c.b.y * k + shift, width / 2)(x, y));
        return best;
    };
}

Canvas draw_icon(int size)
{
    const float k = size / DESIGN;
    Canvas icon = new_canvas(size, size);

    // The monitor's dark frame and, inside it, the desktop's blue glass.
    fill(icon, box(SCREEN_CX * k, SCREEN_CY * k, SCREEN_HALF_W * k, SCREEN_HALF_H * k, SCREEN_CORNER * k),
         rgb(36, 40, 52));
    const float glass_w = (SCREEN_HALF_W - BEZEL) * k, glass_h = (SCREEN_HALF_H - BEZEL) * k;
    fill(icon, box(SCREEN_CX * k, SCREEN_CY * k, glass_w, glass_h, (SCREEN_CORNER - BEZEL / 2) * k),
         [=](float x, float y) {
             float t = std::min(1.0f, std::hypot(x - 0.3f * size, y - 0.2f * size) / (0.9f * size));
             return mix(rgb(96, 170, 236), rgb(44, 62, 150), t);
         });

    // The crack, kept to the glass: a light line with a dark edge beside it,
    // so it reads at every size.
    const Shape glass = box(SCREEN_CX * k, SCREEN_CY * k, glass_w, glass_h);
    const std::vector<Crack> lines = crack_lines();
    const float width = std::max(1.0f, 4 * k);
    fill(icon, intersect(glass, crack_shape(lines, k, width, std::max(0.8f, 1.5f * k))), rgb(16, 22, 48));
    fill(icon, intersect(glass, crack_shape(lines, k, width, 0)), rgb(236, 244, 255));
    fill(icon, circle(IMPACT_X * k, IMPACT_Y * k, std::max(1.0f, 8 * k)), rgb(250, 252, 255));

    // The bat that did it, its end on the point of impact.
    Canvas bat = new_canvas(size, size);
    float angle = std::atan2(IMPACT_Y - BAT_GRIP_Y, IMPACT_X - BAT_GRIP_X);
    draw_bat(bat, BAT_GRIP_X * k, BAT_GRIP_Y * k, angle, BAT_SCALE * k);
    paste(icon, bat, 0, 0);
    return icon;
}

bool save_icon(const std::string &path, const Canvas &c)
{
    BITMAP *bmp = to_alpha_bitmap(c);
    if (!bmp)
        return false;
    bool ok = save_png(path.c_str(), bmp, nullptr) == 0;
    destroy_bitmap(bmp);
    return ok;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc < 3) {
        std::fprintf(stderr, "usage: make_havoc_icons OUTPUT_DIR SIZE...\n");
        return 2;
    }
    // No display: memory bitmaps and save_png work without one.
    if (install_allegro(SYSTEM_NONE, &errno, atexit) != 0) {
        std::fprintf(stderr, "make_havoc_icons: cannot start the library\n");
        return 1;
    }
    for (int i = 2; i < argc; ++i) {
        int size = std::atoi(argv[i]);
        std::string path = std::string(argv[1]) + "/havoc-" + std::to_string(size) + ".png";
        if (size <= 0 || !save_icon(path, draw_icon(size))) {
            std::fprintf(stderr, "make_havoc_icons: cannot write %s\n", path.c_str());
            return 1;
        }
    }
    return 0;
}
END_OF_MAIN()
