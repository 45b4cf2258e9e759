// Every picture of havoc.dat.
#include "figures.h"
#include "paint.h"
#include "pictures.h"

#include "shell/art_geometry.h"

#include <allegro.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

namespace {

float radians(float degrees)
{
    return degrees * PI_F / 180;
}

// The bat: five frames held at the pointer, which sits on the grip.

struct BatPose {
    float angle;         // degrees, clockwise from +x
    float along, across; // foreshortening as it comes at the glass
    float swept_from;    // start of the speed lines' arc, or the angle itself
};

const BatPose BAT_POSES[BAT_FRAMES] = {
    {150, 1.00f, 1.00f, 150}, // rest, hanging at the hand
    {172, 1.00f, 1.00f, 172}, // back-swing
    {190, 1.00f, 1.00f, 190}, // further back
    {136, 0.94f, 1.06f, 186}, // forward
    {113, 0.80f, 1.16f, 150}, // impact, coming at the glass
};

// Speed lines: arcs about the grip on the side the bat came from.
void draw_speed_lines(Canvas &c, float gx, float gy, float from, float to)
{
    Canvas lines = new_canvas(c.w, c.h);
    const float radii[] = {58, 74, 90};
    for (int i = 0; i < 3; ++i) {
        float r = radii[i];
        float a0 = radians(to + 10), a1 = radians(from - 4 * i);
        Shape arc = [=](float x, float y) {
            float a = std::atan2(y - gy, x - gx);
            if (a < 0)
                a += 2 * PI_F;
            float mid = (a0 + a1) / 2, half = (a1 - a0) / 2;
            float off = std::fabs(a - mid) - half;
            float across = std::fabs(std::hypot(x - gx, y - gy) - r) - 1.1f;
            return std::max(across, off * r);
        };
        fill(lines, arc, rgb(250, 250, 255));
    }
    outline(lines, 1, rgb(70, 70, 90));
    paste(c, lines, 0, 0);
}

Canvas bat_strip()
{
    Canvas strip = new_canvas(BAT_FRAME_W * BAT_FRAMES, BAT_FRAME_H);
    for (int i = 0; i < BAT_FRAMES; ++i) {
        const BatPose &pose = BAT_POSES[i];
        Canvas frame = new_canvas(BAT_FRAME_W, BAT_FRAME_H);
        if (pose.swept_from != pose.angle)
            draw_speed_lines(frame, BAT_GRIP_X, BAT_GRIP_Y, pose.swept_from, pose.angle);
        Canvas bat = new_canvas(BAT_FRAME_W, BAT_FRAME_H);
        draw_bat(bat, BAT_GRIP_X, BAT_GRIP_Y, radians(pose.angle), 1, pose.along, pose.across);
        paste(frame, bat, 0, 0);
        paste(strip, frame, i * BAT_FRAME_W, 0);
    }
    return strip;
}


// The crack: a star of broken glass around the point of impact, every crack
// a dark line with a light edge beside it, so it reads on any picture.
// The middle of the centre pixel (a pixel's centre is half a pixel in).
const float CRACK_MIDDLE = CRACK_CENTRE + 0.5f;

struct Segment {
    Point a, b;
    float width;
};

Shape segments_shape(const std::vector<Segment> &segments, float dx, float dy)
{
    return [segments, dx, dy](float x, float y) {
        float best = 1e9f;
        for (const Segment &s : segments) {
            float d = capsule(s.a.x + dx, s.a.y + dy, s.b.x + dx, s.b.y + dy, s.width / 2)(x, y);
            best = std::min(best, d);
        }
        return best;
    };
}

// A jagged line from a to b in steps of about `step` pixels.
void jagged(std::vector<Segment> &out, Random &rng, Point a, Point b, float step, float jitter,
            float w0, float w1)
{
    float len = std::hypot(b.x - a.x, b.y - a.y);
    int n = std::max(1, (int)(len / step));
    float nx = -(b.y - a.y) / len, ny = (b.x - a.x) / len;
    Point prev = a;
    for (int i = 1; i <= n; ++i) {
        float t = (float)i / n;
        float off = i == n ? 0 : next_range(rng, -jitter, jitter);
        Point p = {a.x + (b.x - a.x) * t + nx * off, a.y + (b.y - a.y) * t + ny * off};
        out.push_back({prev, p, w0 + (w1 - w0) * t});
        prev = p;
    }
}

Canvas crack_picture()
{
    Random rng{20240611};
    const float c = CRACK_MIDDLE;
    const int RAYS = 12;
    std::vector<Segment> cracks;
    float ray_angle[RAYS], ray_length[RAYS];
    for (int i = 0; i < RAYS; ++i) {
        ray_angle[i] = (i + next_range(rng, -0.3f, 0.3f)) * 2 * PI_F / RAYS;
        ray_length[i] = next_range(rng, 42, 59);
        Point end = {c + std::cos(ray_angle[i]) * ray_length[i], c + std::sin(ray_angle[i]) * ray_length[i]};
        jagged(cracks, rng, {c, c}, end, 11, 1.0f, 2.0f, 1.1f);
        // A branch splitting off part way out.
        if (next_unit(rng) < 0.7f) {
            float at = next_range(rng, 0.35f, 0.7f) * ray_length[i];
            float turn_by = next_range(rng, 0.3f, 0.6f) * (next_unit(rng) < 0.5f ? -1 : 1);
            float len = next_range(rng, 10, 20);
            Point from = {c + std::cos(ray_angle[i]) * at, c + std::sin(ray_angle[i]) * at};
            float a = ray_angle[i] + turn_by;
            jagged(cracks, rng, from, {from.x + std::cos(a) * len, from.y + std::sin(a) * len}, 8, 0.7f, 1.2f, 1.1f);
        }
    }
    // Rings: broken arcs joining neighbouring rays.
    const float rings[] = {8, 18, 30, 45};
    const float ring_chance[] = {1.0f, 0.85f, 0.6f, 0.35f};
    for (int r = 0; r < 4; ++r)
        for (int i = 0; i < RAYS; ++i) {
            int j = (i + 1) % RAYS;
            if (next_unit(rng) > ring_chance[r])
                continue;
            float ri = rings[r] * next_range(rng, 0.85f, 1.15f), rj = rings[r] * next_range(rng, 0.85f, 1.15f);
            if (ri > ray_length[i] || rj > ray_length[j])
                continue;
            float aj = ray_angle[j] + (j == 0 ? 2 * PI_F : 0);
            Point a = {c + std::cos(ray_angle[i]) * ri, c + std::sin(ray_angle[i]) * ri};
            Point b = {c + std::cos(aj) * rj, c + std::sin(aj) * rj};
            // Glass breaks in chords, so a ring is a bent straight line.
            float am = (ray_angle[i] + aj) / 2, rm = (ri + rj) / 2 * next_range(rng, 0.95f, 1.08f);
            Point m = {c + std::cos(am) * rm, c + std::sin(am) * rm};
            cracks.push_back({a, m, 1.2f});
            cracks.push_back({m, b, 1.2f});
        }
    // Splinters round the point of impact.
    for (int i = 0; i < 14; ++i) {
        float a = next_range(rng, 0, 2 * PI_F), r0 = next_range(rng, 1, 5), len = next_range(rng, 3, 7);
        float b = a + next_range(rng, -1.2f, 1.2f);
        Point p = {c + std::cos(a) * r0, c + std::sin(a) * r0};
        cracks.push_back({p, {p.x + std::cos(b) * len, p.y + std::sin(b) * len}, 1.1f});
    }

    Canvas crack = new_canvas(CRACK_SIZE, CRACK_SIZE);
    fill(crack, segments_shape(cracks, -0.9f, -0.9f), rgb(246, 250, 255));
    fill(crack, segments_shape(cracks, 0, 0), [](float x, float y) {
        float r = std::hypot(x - CRACK_MIDDLE, y - CRACK_MIDDLE);
        return mix(rgb(20, 24, 32), rgb(70, 78, 92), std::min(1.0f, r / 60));
    });
    // The crushed spot where the glass was struck.
    fill(crack, circle(c, c, 2.5f), rgb(236, 242, 250));
    return crack;
}

// The lightsaber: five cells with the blade's tip on the pointer.
const float SABER_ANGLE = 45;   // degrees: the hilt up and to the left

Canvas saber_strip()
{
    const float blade_out[SABER_CELLS] = {0, 0.22f, 0.5f, 0.8f, 1};
    const float glow_of[SABER_CELLS] = {0, 0.4f, 0.6f, 0.8f, 1};
    Canvas strip = new_canvas(SABER_CELL_W * SABER_CELLS, SABER_CELL_H);
    for (int i = 0; i < SABER_CELLS; ++i) {
        Canvas cell = new_canvas(SABER_CELL_W, SABER_CELL_H);
        draw_saber(cell, SABER_TIP_X, SABER_TIP_Y, radians(SABER_ANGLE), 1, blade_out[i], glow_of[i]);
        paste(strip, cell, i * SABER_CELL_W, 0);
    }
    return strip;
}

// The saber's burn mark: charred centre, a glowing ring, a sooty rim. Along
// a trail each stamp covers the last, so the trail shows only the rims, an
// even scorched band, and only the newest mark, under the blade's tip, glows.
const float SABER_HOLE_X = SABER_HOLE_CENTRE_X + 0.5f, SABER_HOLE_Y = SABER_HOLE_CENTRE_Y + 0.5f;

Canvas saber_hole_picture()
{
    Canvas hole = new_canvas(SABER_HOLE_W, SABER_HOLE_H);
    const float rx = 12.5f, ry = 10.5f;
    Shape ragged = [=](float x, float y) {
        float a = std::atan2(y - SABER_HOLE_Y, x - SABER_HOLE_X);
        float wobble = 1 + 0.1f * noise(std::cos(a) * 2 + 5, std::sin(a) * 2 + 5, 31);
        return ellipse(SABER_HOLE_X, SABER_HOLE_Y, rx * wobble, ry * wobble)(x, y);
    };
    fill(hole, ragged, [=](float x, float y) {
        float t = std::hypot((x - SABER_HOLE_X) / rx, (y - SABER_HOLE_Y) / ry);
        float grit = noise(x * 0.9f, y * 0.9f, 32);
        Rgb soot = mix(rgb(26, 20, 18), rgb(44, 32, 26), 0.5f + 0.5f * grit);
        Rgb ember = mix(rgb(255, 214, 100), rgb(226, 64, 8), clamp01((t - 0.38f) / 0.3f));
        Rgb char_black = mix(rgb(10, 6, 5), rgb(54, 16, 6), clamp01(0.5f + grit));
        if (t < 0.34f)
            return char_black;
        if (t < 0.44f)
            return mix(char_black, ember, (t - 0.34f) / 0.1f);
        if (t < 0.64f)
            return ember;
        if (t < 0.76f)
            return mix(ember, soot, (t - 0.64f) / 0.12f);
        return soot;
    });
    return hole;
}

// The laser gun: four frames hanging right of and below the pointer, which
// sits on the muzzle at the frame's top-left corner.
const float LASER_MUZZLE = 5;   // muzzle's distance in from the corner
const float LASER_ANGLE = 41;   // degrees: from the muzzle back along the gun

struct LaserPose {
    float recoil, heat, flash;
};
const LaserPose LASER_POSES[LASER_FRAMES] = {
    {0, 0.1f, 0},       // idle
    {6, 1.0f, 1.0f},    // the shot: full flash, kicked back
    {4, 0.75f, 0.6f},   // flash fading
    {1.5f, 0.4f, 0.25f} // settling, the cell still warm
};

// A star of light at the muzzle.
void draw_flash(Canvas &c, float x, float y, float size)
{
    Canvas flash = new_canvas(c.w, c.h);
    const int RAYS = 8;
    std::vector<Point> star;
    for (int i = 0; i < RAYS * 2; ++i) {
        float a = i * PI_F / RAYS + 0.2f;
        float r = (i % 2 ? 0.35f : (i % 4 ? 0.75f : 1.0f)) * size;
        star.push_back({x + std::cos(a) * r, y + std::sin(a) * r});
    }
    fill(flash, polygon(star), [=](float px, float py) {
        float t = clamp01(std::hypot(px - x, py - y) / size);
        if (t < 0.3f)
            return mix(rgb(255, 255, 255), rgb(255, 220, 200), t / 0.3f);
        return mix(rgb(255, 160, 120), rgb(230, 20, 20), (t - 0.3f) / 0.7f);
    });
    outline(flash, 1, rgb(120, 0, 0));
    paste(c, flash, 0, 0);
}

Canvas laser_strip()
{
    Canvas strip = new_canvas(LASER_FRAME_W * LASER_FRAMES, LASER_FRAME_H);
    for (int i = 0; i < LASER_FRAMES; ++i) {
        const LaserPose &pose = LASER_POSES[i];
        Canvas frame = new_canvas(LASER_FRAME_W, LASER_FRAME_H);
        draw_ray_gun(frame, LASER_MUZZLE, LASER_MUZZLE, radians(LASER_ANGLE), 1.15f, pose.recoil, pose.heat);
        if (pose.flash > 0)
            draw_flash(frame, LASER_MUZZLE + 2, LASER_MUZZLE + 2, 8 + 22 * pose.flash);
        paste(strip, frame, i * LASER_FRAME_W, 0);
    }
    return strip;
}

// The laser's hole: a burnt-through splash, lopsided so that its turn shows.
const float LASER_HOLE_C = LASER_HOLE_CENTRE + 0.5f;

Canvas laser_hole_picture()
{
    Random rng{7331};
    const int SPIKES = 9;
    float spike_angle[SPIKES], spike_length[SPIKES], spike_width[SPIKES];
    for (int i = 0; i < SPIKES; ++i) {
        spike_angle[i] = (i + next_range(rng, -0.35f, 0.35f)) * 2 * PI_F / SPIKES;
        spike_length[i] = next_range(rng, 8.5f, 13.5f);
        spike_width[i] = next_range(rng, 0.18f, 0.32f);
    }
    // The longest spike and its neighbour lean one way, so no turn looks alike.
    spike_length[0] = 13.8f;
    spike_length[1] = 12.5f;
    spike_length[5] = 7.5f;
    // Soot thrown out in spikes round a lopsided splash.
    Shape splash = [=](float x, float y) {
        float a = std::atan2(y - LASER_HOLE_C, x - LASER_HOLE_C);
        float r = std::hypot(x - LASER_HOLE_C, y - LASER_HOLE_C);
        float reach = 6.5f + 1.5f * std::cos(a - 0.5f) + 0.8f * noise(std::cos(a) * 2.5f + 9, std::sin(a) * 2.5f + 9, 41);
        for (int i = 0; i < SPIKES; ++i) {
            float da = std::fabs(std::remainder(a - spike_angle[i], 2 * PI_F));
            float spike = spike_length[i] * (1 - da / spike_width[i]);
            reach = std::max(reach, spike);
        }
        return r - reach;
    };
    Canvas hole = new_canvas(LASER_HOLE_SIZE, LASER_HOLE_SIZE);
    fill(hole, splash, [=](float x, float y) {
        float r = std::hypot(x - LASER_HOLE_C, y - LASER_HOLE_C);
        float grit = noise(x * 0.8f, y * 0.8f, 42);
        return mix(mix(rgb(36, 30, 30), rgb(70, 58, 52), 0.5f + 0.5f * grit), rgb(96, 80, 70), clamp01((r - 7) / 6));
    });
    Shape melt = [=](float x, float y) {
        float a = std::atan2(y - LASER_HOLE_C, x - LASER_HOLE_C);
        float r = std::hypot(x - LASER_HOLE_C, y - LASER_HOLE_C);
        return r - (5.4f + 1.2f * std::cos(a - 0.5f) + 0.8f * noise(std::cos(a) * 2 + 3, std::sin(a) * 2 + 3, 43));
    };
    fill(hole, melt, [=](float x, float y) {
        float t = clamp01(-melt(x, y) / 2.4f);
        return mix(rgb(230, 60, 20), rgb(255, 230, 150), t);
    });
    fill(hole, [=](float x, float y) { return melt(x, y) + 2.3f; }, rgb(6, 4, 4));
    return hole;
}

// The lady: jaws shut, half open, open; facing +x, over the black disc
// she has just eaten.
const float LADY_CENTRE = 13.5f, LADY_RADIUS = 12.5f;

Canvas lady_strip()
{
    const float jaws[LADY_FRAMES] = {0, 0.5f, 1};
    Canvas strip = new_canvas(LADY_FRAME * LADY_FRAMES, LADY_FRAME);
    for (int i = 0; i < LADY_FRAMES; ++i) {
        Canvas frame = new_canvas(LADY_FRAME, LADY_FRAME);
        draw_lady(frame, LADY_CENTRE, LADY_CENTRE, LADY_RADIUS, jaws[i]);
        paste(strip, frame, i * LADY_FRAME, 0);
    }
    return strip;
}

// The pointer of the lady tool: an arrow with its tip on (0, 0).
Canvas pointer_picture()
{
    Canvas pointer = new_canvas(13, 21);
    std::vector<Point> arrow = {{0, 0}, {0, 18}, {4.3f, 14.2f}, {7.4f, 20.4f}, {10.2f, 19.1f},
                                {7.2f, 13.0f}, {12.6f, 12.6f}};
    fill(pointer, polygon(arrow), rgb(10, 10, 16));
    Shape inside = grow(polygon(arrow), -1.25f);
    fill(pointer, inside, [](float x, float y) {
        return mix(rgb(255, 255, 255), rgb(196, 206, 226), std::min(1.0f, (x + y) / 24));
    });
    // The tip pixel itself is solid, so the hot spot is never transparent.
    pointer.alpha[0] = 1;
    pointer.colour[0] = rgb(10, 10, 16);
    return pointer;
}

// The palette: a strip of metal with a recessed well in every icon; the cap
// rounds off its left end and, mirrored, its right.
const int WELL_LEFT = 4, WELL_TOP = 5, WELL_RIGHT = 59, WELL_BOTTOM = 58;

Rgb bar_colour(float y)
{
    float t = y / PALETTE_ICON_SIZE;
    if (y < 1.5f)
        return rgb(196, 204, 222);
    if (y < 3)
        return rgb(132, 142, 166);
    if (y > PALETTE_ICON_SIZE - 1.5f)
        return rgb(14, 16, 24);
    if (y > PALETTE_ICON_SIZE - 3)
        return rgb(34, 38, 52);
    return mix(rgb(92, 100, 124), rgb(50, 56, 74), t);
}

Canvas icon_tile()
{
    Canvas tile = new_canvas(PALETTE_ICON_SIZE, PALETTE_ICON_SIZE);
    fill(tile, box(32, 32, 40, 40), [](float, float y) { return bar_colour(y); });
    // Screw heads between the wells.
    for (float x : {1.5f, PALETTE_ICON_SIZE - 1.5f})
        for (float y : {8.0f, 56.0f})
            fill(tile, circle(x, y, 1.2f), rgb(40, 44, 58));
    float cx = (WELL_LEFT + WELL_RIGHT + 1) / 2.0f, cy = (WELL_TOP + WELL_BOTTOM + 1) / 2.0f;
    float hw = (WELL_RIGHT + 1 - WELL_LEFT) / 2.0f, hh = (WELL_BOTTOM + 1 - WELL_TOP) / 2.0f;
    // Lit lower right edge, shadowed upper left: the well is sunk in.
    fill(tile, box(cx + 0.7f, cy + 0.7f, hw, hh, 5), rgb(170, 180, 204));
    fill(tile, box(cx - 0.7f, cy - 0.7f, hw, hh, 5), rgb(16, 18, 28));
    fill(tile, box(cx, cy, hw - 1.2f, hh - 1.2f, 4), [=](float x, float y) {
        float glow = std::hypot(x - cx, y - cy - 6) / 40;
        return mix(rgb(52, 74, 122), rgb(18, 24, 46), std::min(1.0f, glow));
    });
    return tile;
}

// Puts a figure drawn on its own transparent canvas into the icon.
Canvas icon_with(const std::function<void(Canvas &)> &figure)
{
    Canvas icon = icon_tile();
    Canvas art = new_canvas(PALETTE_ICON_SIZE, PALETTE_ICON_SIZE);
    figure(art);
    paste(icon, art, 0, 0);
    return icon;
}

// On the icon's solid well the blade's halo can be a true blend.
Canvas saber_icon()
{
    Canvas icon = icon_tile();
    const float tip_x = 51, tip_y = 13, angle = radians(-45), scale = 0.22f;
    float reach = 142 * scale;
    Point emitter = {tip_x - std::cos(angle) * reach, tip_y - std::sin(angle) * reach};
    glow(icon, capsule(emitter.x, emitter.y, tip_x, tip_y, 1.5f), rgb(60, 255, 80), 7, 0.55f);
    Canvas art = new_canvas(PALETTE_ICON_SIZE, PALETTE_ICON_SIZE);
    draw_saber(art, tip_x, tip_y, angle, scale, 1, 0);
    paste(icon, art, 0, 0);
    return icon;
}

Canvas quit_figure_icon()
{
    return icon_with([](Canvas &art) {
        const float cx = 32, cy = 33;
        // The power sign: a broken ring and a bar through its gap.
        Shape ring = subtract(subtract(circle(cx, cy, 15), circle(cx, cy, 10.5f)),
                              polygon({{cx, cy}, {cx - 13, cy - 24}, {cx + 13, cy - 24}}));
        Shape sign = unite(ring, capsule(cx, cy - 19, cx, cy - 4, 2.6f));
        fill(art, sign, [=](float, float y) {
            return mix(rgb(255, 150, 130), rgb(210, 24, 24), std::min(1.0f, (y - 12) / 34));
        });
        outline(art, 1.3f, rgb(60, 0, 0));
    });
}

Canvas cap_picture()
{
    Canvas cap = new_canvas(PALETTE_CAP_W, PALETTE_ICON_SIZE);
    // Rounded at the left, square where it meets the first icon.
    Shape end = unite(box(PALETTE_CAP_W / 2.0f + 4, 32, PALETTE_CAP_W / 2.0f, 32, 10),
                      box(PALETTE_CAP_W - 2, 32, 2.5f, 32));
    fill(cap, end, [](float, float y) { return bar_colour(y); });
    fill(cap, circle(8.5f, 32, 3), rgb(170, 178, 198));
    fill(cap, circle(8.5f, 32, 2.2f), rgb(70, 76, 96));
    fill(cap, capsule(7, 33.5f, 10, 30.5f, 0.6f), rgb(180, 188, 206));
    return cap;
}

} // namespace

bool draw_pictures(const std::string &dir)
{
    bool ok = true;
    ok &= save_picture(dir, "bat.tga", bat_strip());
    ok &= save_picture(dir, "crack.tga", crack_picture());
    ok &= save_picture(dir, "saber.tga", saber_strip());
    ok &= save_picture(dir, "saberhole.tga", saber_hole_picture());
    ok &= save_picture(dir, "laser.tga", laser_strip());
    ok &= save_picture(dir, "laserhole.tga", laser_hole_picture());
    ok &= save_picture(dir, "lady.tga", lady_strip());
    ok &= save_picture(dir, "pointer.tga", pointer_picture());
    ok &= save_picture(dir, "icon00.tga", icon_with([](Canvas &art) {
        draw_bat(art, 15, 50, radians(-45), 0.5f);
    }));
    ok &= save_picture(dir, "icon01.tga", saber_icon());
    ok &= save_picture(dir, "icon02.tga", icon_with([](Canvas &art) {
        draw_ray_gun(art, 9, 25, 0, 0.33f, 0, 0.8f);
    }));
    ok &= save_picture(dir, "icon03.tga", icon_with([](Canvas &art) {
        draw_lady(art, 30.5f, 33.5f, 19.5f, 0.6f, radians(-40));
    }));
    ok &= save_picture(dir, "iconend.tga", quit_figure_icon());
    ok &= save_picture(dir, "cap.tga", cap_picture());
    return ok;
}
