// The data generator's drawing kit.
#include "paint.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

Rgb rgb(int r, int g, int b)
{
    return {r / 255.0f, g / 255.0f, b / 255.0f};
}

Rgb mix(Rgb a, Rgb b, float t)
{
    return {a.r + (b.r - a.r) * t, a.g + (b.g - a.g) * t, a.b + (b.b - a.b) * t};
}

Rgb shade(Rgb c, float k)
{
    return {c.r * k, c.g * k, c.b * k};
}

Canvas new_canvas(int w, int h)
{
    return Canvas{w, h, std::vector<Rgb>(w * h, Rgb{0, 0, 0}), std::vector<float>(w * h, 0.0f)};
}

// Source-over of colour `src` with coverage `a` onto pixel i.
static void blend(Canvas &c, int i, Rgb src, float a)
{
    if (a <= 0)
        return;
    float da = c.alpha[i];
    float out = a + da * (1 - a);
    Rgb d = c.colour[i];
    float kd = da * (1 - a);
    c.colour[i] = {(src.r * a + d.r * kd) / out, (src.g * a + d.g * kd) / out,
                   (src.b * a + d.b * kd) / out};
    c.alpha[i] = out;
}

void fill(Canvas &c, const Shape &shape, const Shader &shader, float opacity)
{
    for (int y = 0; y < c.h; ++y)
        for (int x = 0; x < c.w; ++x) {
            float px = x + 0.5f, py = y + 0.5f;
            float cover = clamp01(0.5f - shape(px, py)) * opacity;
            if (cover > 0)
                blend(c, y * c.w + x, shader(px, py), cover);
        }
}

void fill(Canvas &c, const Shape &shape, Rgb colour, float opacity)
{
    fill(c, shape, [colour](float, float) { return colour; }, opacity);
}

void glow(Canvas &c, const Shape &shape, Rgb colour, float radius, float strength)
{
    for (int y = 0; y < c.h; ++y)
        for (int x = 0; x < c.w; ++x) {
            float d = shape(x + 0.5f, y + 0.5f);
            float t = clamp01(1 - d / radius);
            blend(c, y * c.w + x, colour, strength * t * t);
        }
}

void outline(Canvas &c, float width, Rgb colour)
{
    const int reach = (int)std::ceil(width) + 1;
    std::vector<float> band(c.w * c.h, 0.0f);
    for (int y = 0; y < c.h; ++y)
        for (int x = 0; x < c.w; ++x) {
            if (c.alpha[y * c.w + x] >= 1)
                continue;
            float nearest = 1e9f;
            for (int dy = -reach; dy <= reach; ++dy)
                for (int dx = -reach; dx <= reach; ++dx) {
                    int sx = x + dx, sy = y + dy;
                    if (sx < 0 || sy < 0 || sx >= c.w || sy >= c.h)
                        continue;
                    if (c.alpha[sy * c.w + sx] >= 0.5f)
                        nearest = std::min(nearest, std::sqrt(float(dx * dx + dy * dy)));
                }
            band[y * c.w + x] = clamp01(width + 0.5f - nearest);
        }
    // Behind: the band is the bottom layer, the old paint goes over it.
    for (int i = 0; i < c.w * c.h; ++i) {
        if (band[i] <= 0)
            continue;
        Rgb top = c.colour[i];
        float top_a = c.alpha[i];
        c.colour[i] = colour;
        c.alpha[i] = band[i];
        blend(c, i, top, top_a);
    }
}

void paste(Canvas &dst, const Canvas &src, int x, int y)
{
    for (int sy = 0; sy < src.h; ++sy)
        for (int sx = 0; sx < src.w; ++sx) {
            int dx = x + sx, dy = y + sy;
            if (dx < 0 || dy < 0 || dx >= dst.w || dy >= dst.h)
                continue;
            blend(dst, dy * dst.w + dx, src.colour[sy * src.w + sx], src.alpha[sy * src.w + sx]);
        }
}

Shape circle(float cx, float cy, float r)
{
    return [=](float x, float y) { return std::hypot(x - cx, y - cy) - r; };
}

Shape ellipse(float cx, float cy, float rx, float ry)
{
    return [=](float x, float y) {
        float px = (x - cx) / rx, py = (y - cy) / ry;
        float k0 = std::hypot(px, py);
        float k1 = std::hypot(px / rx, py / ry);
        if (k1 == 0)
            return -std::min(rx, ry);
        return k0 * (k0 - 1) / k1;
    };
}

Shape capsule(float x0, float y0, float x1, float y1, float r)
{
    return [=](float x, float y) {
        float ex = x1 - x0, ey = y1 - y0;
        float wx = x - x0, wy = y - y0;
        float len2 = ex * ex + ey * ey;
        float t = len2 > 0 ? clamp01((wx * ex + wy * ey) / len2) : 0;
        return std::hypot(wx - ex * t, wy - ey * t) - r;
    };
}

Shape tapered(float x0, float y0, float r0, float x1, float y1, float r1)
{
    return [=](float x, float y) {
        float px = x - x0, py = y - y0;
        float bx = x1 - x0, by = y1 - y0;
        float h = bx * bx + by * by;
        float qx = std::fabs((px * by - py * bx) / h);
        float qy = (px * bx + py * by) / h;
        float b = r0 - r1;
        float cx = std::sqrt(std::max(h - b * b, 0.0f)), cy = b;
        float k = cx * qy - cy * qx;
        float m = cx * qx + cy * qy;
        float n = qx * qx + qy * qy;
        if (k < 0)
            return std::sqrt(h * n) - r0;
        if (k > cx)
            return std::sqrt(h * (n + 1 - 2 * qy)) - r1;
        return m - r0;
    };
}

Shape box(float cx, float cy, float half_w, float half_h, float corner)
{
    return [=](float x, float y) {
        float qx = std::fabs(x - cx) - half_w + corner;
        float qy = std::fabs(y - cy) - half_h + corner;
        float out = std::hypot(std::max(qx, 0.0f), std::max(qy, 0.0f));
        return out + std::min(std::max(qx, qy), 0.0f) - corner;
    };
}

Shape polygon(std::vector<Point> v)
{
    return [v](float x, float y) {
        float d = (x - v[0].x) * (x - v[0].x) + (y - v[0].y) * (y - v[0].y);
        float s = 1;
        for (size_t i = 0, j = v.size() - 1; i < v.size(); j = i, ++i) {
            float ex = v[j].x - v[i].x, ey = v[j].y - v[i].y;
            float wx = x - v[i].x, wy = y - v[i].y;
            float t = clamp01((wx * ex + wy * ey) / (ex * ex + ey * ey));
            float bx = wx - ex * t, by = wy - ey * t;
            d = std::min(d, bx * bx + by * by);
            bool c1 = y >= v[i].y, c2 = y < v[j].y, c3 = ex * wy > ey * wx;
            if ((c1 && c2 && c3) || (!c1 && !c2 && !c3))
                s = -s;
        }
        return s * std::sqrt(d);
    };
}

Shape unite(Shape a, Shape b)
{
    return [=](float x, float y) { return std::min(a(x, y), b(x, y)); };
}

Shape intersect(Shape a, Shape b)
{
    return [=](float x, float y) { return std::max(a(x, y), b(x, y)); };
}

Shape subtract(Shape a, Shape b)
{
    return [=](float x, float y) { return std::max(a(x, y), -b(x, y)); };
}

Shape grow(Shape a, float by)
{
    return [=](float x, float y) { return a(x, y) - by; };
}

static float lattice(int x, int y, uint32_t seed)
{
    uint32_t h = seed * 0x9E3779B1u ^ (uint32_t)x * 0x85EBCA77u ^ (uint32_t)y * 0xC2B2AE3Du;
    h ^= h >> 15;
    h *= 0x2C1B3C6Du;
    h ^= h >> 12;
    return (h & 0xFFFF) / 32767.5f - 1;
}

float noise(float x, float y, uint32_t seed)
{
    int ix = (int)std::floor(x), iy = (int)std::floor(y);
    float fx = x - ix, fy = y - iy;
    fx = fx * fx * (3 - 2 * fx);
    fy = fy * fy * (3 - 2 * fy);
    float top = lattice(ix, iy, seed) + (lattice(ix + 1, iy, seed) - lattice(ix, iy, seed)) * fx;
    float bottom = lattice(ix, iy + 1, seed) + (lattice(ix + 1, iy + 1, seed) - lattice(ix, iy + 1, seed)) * fx;
    return top + (bottom - top) * fy;
}

static int channel(float v)
{
    return (int)std::lround(clamp01(v) * 255);
}

BITMAP *to_bitmap(const Canvas &c)
{
    BITMAP *bmp = create_bitmap_ex(24, c.w, c.h);
    const int mask = makecol24(255, 0, 255);
    for (int y = 0; y < c.h; ++y)
        for (int x = 0; x < c.w; ++x) {
            int i = y * c.w + x;
            if (c.alpha[i] < 0.5f) {
                putpixel(bmp, x, y, mask);
                continue;
            }
            int r = channel(c.colour[i].r), g = channel(c.colour[i].g), b = channel(c.colour[i].b);
            // An opaque pixel must never pass for the mask or sit near it.
            if (r > 200 && b > 200 && g < 70)
                g = 70;
            putpixel(bmp, x, y, makecol24(r, g, b));
        }
    return bmp;
}

BITMAP *to_alpha_bitmap(const Canvas &c)
{
    BITMAP *bmp = create_bitmap_ex(32, c.w, c.h);
    if (!bmp)
        return nullptr;
    for (int y = 0; y < c.h; ++y)
        for (int x = 0; x < c.w; ++x) {
            int i = y * c.w + x;
            putpixel(bmp, x, y, makeacol32(channel(c.colour[i].r), channel(c.colour[i].g),
                                           channel(c.colour[i].b), channel(c.alpha[i])));
        }
    return bmp;
}

bool save_picture(const std::string &dir, const char *name, const Canvas &c)
{
    std::string path = dir + "/" + name;
    BITMAP *bmp = to_bitmap(c);
    bool ok = save_tga(path.c_str(), bmp, nullptr) == 0;
    destroy_bitmap(bmp);
    if (!ok)
        std::fprintf(stderr, "make_havoc_data: cannot write %s\n", path.c_str());
    return ok;
}
