// The figures shared by the tool pictures and the palette's icons.
#include "figures.h"

#include <algorithm>
#include <cmath>

namespace {

float smooth(float e0, float e1, float x)
{
    float t = clamp01((x - e0) / (e1 - e0));
    return t * t * (3 - 2 * t);
}

// A figure's own frame: u along its main axis, v across it, in its units.
struct Frame {
    float ox, oy, c, s, su, sv;
};

Frame frame_at(float ox, float oy, float angle, float scale, float along = 1, float across = 1)
{
    return {ox, oy, std::cos(angle), std::sin(angle), scale * along, scale * across};
}

Point to_local(const Frame &f, float x, float y)
{
    float dx = x - f.ox, dy = y - f.oy;
    return {(dx * f.c + dy * f.s) / f.su, (-dx * f.s + dy * f.c) / f.sv};
}

// A shape given in the figure's own units, placed on screen.
Shape placed(const Frame &f, Shape local)
{
    float k = std::min(f.su, f.sv);
    return [=](float x, float y) {
        Point p = to_local(f, x, y);
        return local(p.x, p.y) * k;
    };
}

// Every figure is lit from the upper left and in front: the direction
// towards the light, x right, y down, z out of the screen.
const float LIGHT_X = -0.45f, LIGHT_Y = -0.65f, LIGHT_Z = 0.61f;

// Diffuse light on a surface whose normal is (nx, ny, nz); sets the
// highlight, sharpened by `shine`, seen from straight in front.
float light_on(float nx, float ny, float nz, float shine, float *highlight)
{
    float diffuse = std::max(0.0f, nx * LIGHT_X + ny * LIGHT_Y + nz * LIGHT_Z);
    float hx = LIGHT_X, hy = LIGHT_Y, hz = LIGHT_Z + 1;
    float hl = std::sqrt(hx * hx + hy * hy + hz * hz);
    float specular = std::max(0.0f, (nx * hx + ny * hy + nz * hz) / hl);
    *highlight = std::pow(specular, shine);
    return diffuse;
}

// Light on a cylinder whose axis lies along the frame's u; n runs from -1 to
// 1 across it.
float cylinder_light(const Frame &f, float n, float *highlight)
{
    n = std::max(-1.0f, std::min(1.0f, n));
    float nz = std::sqrt(1 - n * n);
    return light_on(-f.s * n, f.c * n, nz, 24.0f, highlight);
}

// The outline of a round body lying along u from u0 to u1, its radius at u
// given by `radius`, in half-unit steps.
Shape profile_shape(float (*radius)(float), float u0, float u1)
{
    std::vector<Point> top, bottom;
    for (float u = u0; u <= u1 + 0.01f; u += 0.5f) {
        top.push_back({u, -radius(u)});
        bottom.push_back({u, radius(u)});
    }
    std::vector<Point> points(top);
    points.insert(points.end(), bottom.rbegin(), bottom.rend());
    return polygon(points);
}

// Radius of the bat at u (its units: the grip at 0, knob end at -12).
const float BAT_KNOB_END = -12, BAT_END = 101;

float bat_radius(float u)
{
    if (u < -9.5f) {
        float t = (u - BAT_KNOB_END) / 2.5f;
        return 4.5f + 2.2f * std::sqrt(clamp01(t * (2 - t)));
    }
    if (u < -7)
        return 3.3f + 3.4f * smooth(-7, -9.5f, u);
    float r = 3.3f + 0.5f * (u + 7) / 42 + 5.4f * smooth(32, 84, u);
    const float cap = 6;
    if (u > BAT_END - cap) {
        float t = (u - (BAT_END - cap)) / cap;
        r *= std::sqrt(clamp01(1 - t * t));
    }
    return r;
}

// Hilt of the lightsaber: radius at u, the emitter's mouth at 0 and the
// pommel's end at SABER_HILT_END.
const float SABER_HILT_END = -62;

float hilt_radius(float u)
{
    if (u > -10)
        return 7 + 2 * (u + 10) / 10;         // emitter shroud, flaring
    if (u > -14)
        return 5.8f;                          // neck
    if (u > -31)
        return 7;                             // switch section
    if (u > -52)
        return 6.4f;                          // grip
    float t = (u - SABER_HILT_END) / 10;      // pommel, rounded off
    return 7.4f * std::sqrt(clamp01(t * (2.2f - t) / 1.2f));
}

// Brushed steel in cylinder light.
Rgb steel(const Frame &f, float n, float brightness)
{
    float highlight;
    float light = cylinder_light(f, n, &highlight);
    Rgb base = mix(rgb(70, 74, 84), rgb(214, 218, 226), light);
    return mix(shade(base, brightness), rgb(255, 255, 255), 0.8f * highlight);
}

// Light on a ball: (nx, ny) the surface normal's screen part.
float ball_light(float nx, float ny, float *highlight)
{
    float n2 = nx * nx + ny * ny;
    float nz = n2 < 1 ? std::sqrt(1 - n2) : 0;
    return light_on(nx, ny, nz, 30.0f, highlight);
}

} // namespace

void draw_saber(Canvas &c, float tip_x, float tip_y, float angle, float scale,
                float blade, float glow_strength)
{
    const float BLADE_LENGTH = 142, HILT_SCALE = 1.25f;
    float ox = tip_x - std::cos(angle) * BLADE_LENGTH * scale;
    float oy = tip_y - std::sin(angle) * BLADE_LENGTH * scale;
    Frame f = frame_at(ox, oy, angle, scale);

    if (blade > 0) {
        float end = 3 + (BLADE_LENGTH - 3 - 5) * blade;
        Canvas beam = new_canvas(c.w, c.h);
        Shape core = placed(f, capsule(3, 0, end, 0, 1.2f));
        Shape edge = placed(f, capsule(3, 0, end, 0, 7));
        if (glow_strength > 0) {
            // The halo is scattered single pixels, thinning outwards: a
            // glow that needs no blending with whatever lies behind.
            static const int BAYER[4][4] = {{0, 8, 2, 10}, {12, 4, 14, 6}, {3, 11, 1, 9}, {15, 7, 13, 5}};
            const float reach = 9 * glow_strength * scale;
            for (int y = 0; y < c.h; ++y)
                for (int x = 0; x < c.w; ++x) {
                    float d = edge(x + 0.5f, y + 0.5f);
                    if (d <= 0 || d >= reach)
                        continue;
                    float t = 1 - d / reach;
                    if (t * t * 16 > BAYER[y & 3][x & 3] + 0.5f)
                        beam.colour[y * c.w + x] = mix(rgb(20, 190, 40), rgb(120, 255, 120), t),
                        beam.alpha[y * c.w + x] = 1;
                }
        }
        fill(beam, edge, [=](float x, float y) {
            float d = core(x, y) / scale;   // 0 at the core's edge
            float t = clamp01(d / 5.8f);
            if (t < 0.35f)
                return mix(rgb(250, 255, 250), rgb(150, 255, 150), t / 0.35f);
            return mix(rgb(150, 255, 150), rgb(30, 210, 50), (t - 0.35f) / 0.65f);
        });
        paste(c, beam, 0, 0);
    }

    f = frame_at(ox, oy, angle, scale * HILT_SCALE);
    Canvas hilt = new_canvas(c.w, c.h);
    static const Shape body = profile_shape(hilt_radius, SABER_HILT_END, 0);
    fill(hilt, placed(f, body), [=](float x, float y) {
        Point p = to_local(f, x, y);
        float n = p.y / std::max(hilt_radius(p.x), 0.5f);
        if (p.x > -52 && p.x < -31) {
            // Rubber grip rings.
            float ring = std::fmod(-p.x, 3.5f);
            float highlight;
            float light = cylinder_light(f, n, &highlight);
            Rgb rubber = ring < 1.0f ? rgb(62, 62, 68) : rgb(28, 28, 32);
            return mix(shade(rubber, 0.5f + 0.8f * light), rgb(200, 200, 210), 0.3f * highlight);
        }
        float brightness = 1;
        if (p.x > -14 && p.x < -10)
            brightness = 0.6f;
        if (std::fabs(p.x + 31) < 0.8f || std::fabs(p.x + 14) < 0.6f || std::fabs(p.x + 57) < 0.6f)
            brightness = 0.45f;
        return steel(f, n, brightness);
    });
    // The switch: a black slot and a red button on the side facing the light.
    fill(hilt, placed(f, box(-22, -6.2f, 6, 1.4f, 1)), rgb(20, 20, 24));
    fill(hilt, placed(f, ellipse(-20, -6.0f, 2.4f, 1.6f)), [=](float x, float y) {
        Point p = to_local(f, x, y);
        return mix(rgb(255, 120, 100), rgb(170, 20, 20), clamp01((p.y + 7.5f) / 3));
    });
    // The emitter's dark mouth.
    fill(hilt, placed(f, box(-0.6f, 0, 0.8f, 5.5f)), rgb(34, 34, 40));
    outline(hilt, 1.1f * std::max(0.7f, scale), rgb(18, 18, 24));
    paste(c, hilt, 0, 0);
}

void draw_bat(Canvas &c, float grip_x, float grip_y, float angle, float scale,
              float along, float across)
{
    Frame f = frame_at(grip_x, grip_y, angle, scale, along, across);
    static const Shape local = profile_shape(bat_radius, BAT_KNOB_END, BAT_END);
    const Rgb wood_light = rgb(226, 176, 112), wood_dark = rgb(168, 108, 52);
    const Rgb tape = rgb(38, 36, 44), tape_edge = rgb(96, 92, 104);
    const Rgb label = rgb(92, 40, 18);
    fill(c, placed(f, local), [=](float x, float y) {
        Point p = to_local(f, x, y);
        float r = std::max(bat_radius(p.x), 0.5f);
        float n = p.y / r;
        float highlight;
        float light = cylinder_light(f, n, &highlight);
        // Ash grain: long streaks along the bat.
        float grain = noise(p.x * 0.06f, n * 3.0f, 7) * 0.6f + noise(p.x * 0.2f, n * 9.0f, 8) * 0.4f;
        Rgb base = mix(wood_dark, wood_light, 0.55f + 0.35f * grain);
        bool on_tape = p.x > -7.5f && p.x < 30;
        if (on_tape) {
            // Grip tape wound round the handle in overlapping turns.
            float turn = std::fmod(p.x + 40 + n * 2.5f, 4.2f);
            base = turn < 0.8f ? tape_edge : tape;
        }
        // A burnt-in maker's oval on the barrel.
        float lu = (p.x - 68) / 9, lv = (n + 0.1f) / 0.42f;
        float ring = std::fabs(std::sqrt(lu * lu + lv * lv) - 1);
        if (ring < 0.16f || (std::fabs(lv) < 0.12f && std::fabs(lu) < 0.6f))
            base = mix(base, label, 0.8f);
        Rgb lit = shade(base, 0.38f + 0.8f * light);
        float gloss = on_tape ? 0.15f : 0.55f;
        return mix(lit, rgb(255, 246, 228), gloss * highlight);
    });
    outline(c, 1.2f * std::max(0.7f, scale), rgb(52, 30, 14));
}

void draw_ray_gun(Canvas &c, float muzzle_x, float muzzle_y, float angle, float scale,
                  float recoil, float heat)
{
    Frame f = frame_at(muzzle_x + std::cos(angle) * recoil, muzzle_y + std::sin(angle) * recoil,
                       angle, scale);
    Canvas gun = new_canvas(c.w, c.h);
    const Rgb red_dark = rgb(120, 14, 18), red = rgb(214, 32, 36);

    // Grip and trigger guard first: the body overlaps their tops.
    Shape grip = grow(polygon({{100, 8}, {122, 8}, {133, 52}, {130, 56}, {112, 56}, {107, 51}}), 1.5f);
    fill(gun, placed(f, grip), [=](float x, float y) {
        Point p = to_local(f, x, y);
        // Finger grooves on the front edge, a lighter stripe down the back.
        float groove = 0.5f + 0.5f * std::cos((p.y - 20) * 0.55f);
        float front = clamp01((p.x - 100 - (p.y - 8) * 0.22f) / 6);
        Rgb base = mix(rgb(34, 30, 34), rgb(60, 54, 58), groove * (1 - front) * 0.8f);
        float side = clamp01((p.x - 104 - (p.y - 8) * 0.22f) / 22);
        return shade(base, 0.75f + 0.5f * (1 - side));
    });
    Shape guard = subtract(box(92, 22, 12, 12, 6), box(93, 20, 8.5f, 9, 4));
    fill(gun, placed(f, intersect(guard, box(92, 26, 14, 12))), rgb(60, 64, 74));
    fill(gun, placed(f, polygon({{90, 10}, {95, 10}, {92, 24}, {89, 23}})), rgb(150, 150, 160));

    // Barrel with its cooling fins, and the cone of the emitter.
    Shape barrel = tapered(2, 0, 3.4f, 60, 0, 5.2f);
    fill(gun, placed(f, barrel), [=](float x, float y) {
        Point p = to_local(f, x, y);
        return steel(f, p.y / 5, 1);
    });
    const float fins[] = {15, 24, 33};
    for (float u : fins)
        fill(gun, placed(f, box(u, 0, 2.4f, 7.5f, 2.2f)), [=](float x, float y) {
            Point p = to_local(f, x, y);
            return steel(f, p.y / 7.5f, 0.85f);
        });
    // A red collar behind the emitter cone.
    fill(gun, placed(f, box(7, 0, 1.6f, 5.2f, 1.2f)), [=](float x, float y) {
        Point p = to_local(f, x, y);
        return mix(rgb(240, 70, 60), red_dark, clamp01((p.y + 5) / 10));
    });
    // The lens at the muzzle, glowing when hot.
    fill(gun, placed(f, ellipse(2.2f, 0, 1.8f, 3.2f)), mix(red_dark, rgb(255, 200, 190), heat));

    // Body: a fat rounded hull with a red fin on top.
    Shape fin = polygon({{70, -8}, {112, -8}, {126, -20}, {100, -18}});
    fill(gun, placed(f, fin), [=](float x, float y) {
        Point p = to_local(f, x, y);
        return mix(red, red_dark, clamp01((p.y + 20) / 12));
    });
    Shape hull = unite(ellipse(92, 0, 40, 12.5f), box(118, 0, 14, 10, 7));
    fill(gun, placed(f, hull), [=](float x, float y) {
        Point p = to_local(f, x, y);
        Rgb base = steel(f, p.y / 12.5f, 1);
        // A red band round the hull behind the window.
        if (p.x > 112 && p.x < 118)
            base = mix(red, red_dark, clamp01((p.y + 10) / 20));
        return base;
    });
    // The energy cell behind its window.
    Shape window = box(88, -1, 17, 4.2f, 4);
    fill(gun, placed(f, grow(window, 1.2f)), rgb(40, 40, 48));
    fill(gun, placed(f, window), [=](float x, float y) {
        Point p = to_local(f, x, y);
        float core = 1 - clamp01(std::fabs(p.y + 1) / 4.2f);
        float pulse = 0.5f + 0.5f * std::sin(p.x * 0.9f);
        Rgb cold = mix(rgb(70, 8, 12), rgb(150, 30, 30), core);
        Rgb hot = mix(rgb(255, 70, 40), rgb(255, 236, 220), core * (0.6f + 0.4f * pulse));
        return mix(cold, hot, heat);
    });
    // Rivets along the hull.
    for (float u : {64.0f, 120.0f, 127.0f})
        fill(gun, placed(f, circle(u, 6.5f, 1.4f)), rgb(40, 40, 46));
    // The rear dish.
    fill(gun, placed(f, ellipse(133, 0, 3, 9)), [=](float x, float y) {
        Point p = to_local(f, x, y);
        return steel(f, p.y / 9, 0.7f);
    });
    outline(gun, 1.1f * std::max(0.7f, scale), rgb(16, 16, 22));
    paste(c, gun, 0, 0);
}

void draw_lady(Canvas &c, float cx, float cy, float radius, float jaws, float angle)
{
    // She is laid out 12.5 units round about her centre, head along +u.
    Frame f = frame_at(cx, cy, angle, radius / 12.5f);
    Canvas lady = new_canvas(c.w, c.h);

    // Light on a dome in her own units, turned to the screen so that it
    // falls from the upper left whatever her heading.
    auto dome = [=](float x, float y, float du, float ru, float rv, float *highlight) {
        Point p = to_local(f, x, y);
        float nu = (p.x - du) / ru, nv = p.y / rv;
        return ball_light(nu * f.c - nv * f.s, nu * f.s + nv * f.c, highlight);
    };
    auto gloss_black = [=](float du, float ru, float rv) {
        return [=](float x, float y) {
            float highlight;
            float light = dome(x, y, du, ru, rv, &highlight);
            Rgb base = mix(rgb(10, 10, 14), rgb(66, 66, 78), light * light);
            return mix(base, rgb(236, 236, 246), std::min(1.0f, highlight * highlight));
        };
    };

    // The jaws, under the front of her head: two hooks whose points curl
    // in to meet when shut and swing apart as she bites.
    const float swing = 0.95f * jaws;   // radians each side of +u
    for (float side : {-1.0f, 1.0f}) {
        Point base = {10.4f, side * 1.5f};
        float a = side * swing;
        Point bend = {base.x + std::cos(a) * 2.3f, base.y + std::sin(a) * 2.3f};
        float tip_a = a - side * 0.95f;
        Point tip = {bend.x + std::cos(tip_a) * 1.4f, bend.y + std::sin(tip_a) * 1.4f};
        Shape hook = unite(tapered(base.x, base.y, 1.15f, bend.x, bend.y, 0.8f),
                           tapered(bend.x, bend.y, 0.8f, tip.x, tip.y, 0.4f));
        fill(lady, placed(f, hook), [=](float x, float y) {
            Point p = to_local(f, x, y);
            float t = clamp01((p.x - base.x) / 3.5f);
            return mix(rgb(214, 138, 58), rgb(132, 70, 26), t);
        });
    }

    // The shell: two glossy red wing cases meeting down her back.
    const float su = -2.0f, ru = 10.2f, rv = 11.3f;
    Shape shell = ellipse(su, 0, ru, rv);
    fill(lady, placed(f, shell), [=](float x, float y) {
        float highlight;
        float light = dome(x, y, su, ru, rv, &highlight);
        Rgb base = mix(rgb(110, 6, 8), rgb(234, 36, 26), 0.2f + 0.9f * light);
        // A tight shine: lacquer, not plastic.
        return mix(base, rgb(255, 240, 232), std::min(1.0f, 1.2f * highlight * highlight));
    });
    // Her spots: one shared where the cases meet, three on each case, kept
    // clear of the shine.
    struct Spot {
        float u, v, r;
    };
    const Spot spots[] = {{3.0f, 0, 1.9f},     {0.6f, 7.4f, 2.0f},   {0.6f, -7.4f, 2.0f},
                          {-6.0f, 7.0f, 2.3f}, {-6.0f, -7.0f, 2.3f}, {-9.2f, 3.2f, 1.8f},
                          {-9.2f, -3.2f, 1.8f}};
    for (const Spot &s : spots)
        fill(lady, placed(f, intersect(circle(s.u, s.v, s.r), grow(shell, -0.7f))), gloss_black(su, ru, rv));
    // The seam between the cases, from behind her neck to her tail.
    fill(lady, placed(f, intersect(capsule(4, 0, -13, 0, 0.42f), shell)), rgb(44, 4, 6));

    // The shield behind her head, pale at its front corners, then the head
    // with its two white eyes.
    fill(lady, placed(f, ellipse(5.6f, 0, 4.0f, 7.2f)), gloss_black(5.6f, 4.0f, 7.2f));
    for (float side : {-1.0f, 1.0f})
        fill(lady, placed(f, ellipse(6.9f, side * 4.9f, 1.3f, 1.5f)), rgb(236, 232, 214));
    fill(lady, placed(f, ellipse(9.2f, 0, 2.5f, 3.5f)), gloss_black(9.2f, 2.5f, 3.5f));
    for (float side : {-1.0f, 1.0f})
        fill(lady, placed(f, circle(10.1f, side * 2.2f, 0.85f)), rgb(250, 250, 250));

    outline(lady, std::max(1.0f, 0.8f * f.su), rgb(18, 8, 8));

    // Legs and feelers: fine black strokes from under her, past the outline,
    // wide enough to stay whole when she is turned.
    Canvas limbs = new_canvas(c.w, c.h);
    const Rgb ink = rgb(12, 10, 12);
    const float ink_r = std::max(0.6f, 0.5f * f.su) / f.su;
    struct Leg {
        Point hip, knee, foot;
    };
    const Leg legs[] = {{{5.5f, 6}, {7.5f, 11.6f}, {10.0f, 12.8f}},
                        {{1, 8}, {0.5f, 12.3f}, {1.6f, 13.3f}},
                        {{-4, 8}, {-6.5f, 12.0f}, {-8.6f, 12.9f}}};
    for (const Leg &l : legs)
        for (float side : {-1.0f, 1.0f}) {
            fill(limbs, placed(f, capsule(l.hip.x, side * l.hip.y, l.knee.x, side * l.knee.y, ink_r)), ink);
            fill(limbs, placed(f, capsule(l.knee.x, side * l.knee.y, l.foot.x, side * l.foot.y, ink_r)), ink);
        }
    for (float side : {-1.0f, 1.0f}) {
        Point root = {9.6f, side * 2.6f}, end = {11.6f, side * 5.8f};
        fill(limbs, placed(f, capsule(root.x, root.y, end.x, end.y, ink_r)), ink);
        fill(limbs, placed(f, circle(end.x, end.y, 0.75f)), ink);
    }
    paste(limbs, lady, 0, 0);
    paste(c, limbs, 0, 0);
}
