// The data generator's drawing kit: float RGBA canvases painted with shapes
// given as signed distance functions, so every edge inside a picture is
// smooth; the outline of a picture against its transparent surround is cut
// hard when it becomes a masked bitmap, so no edge pixel is ever a blend with
// the mask colour.
#pragma once

#include "kit.h"

#include <allegro.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// Colour with channels 0..1.
struct Rgb {
    float r, g, b;
};
Rgb rgb(int r, int g, int b);
Rgb mix(Rgb a, Rgb b, float t);     // a at t = 0, b at t = 1
Rgb shade(Rgb c, float k);          // every channel times k

// Straight (not premultiplied) colour and coverage per pixel; pixel (x, y)
// is the unit square whose centre is (x + 0.5, y + 0.5).
struct Canvas {
    int w, h;
    std::vector<Rgb> colour;
    std::vector<float> alpha;
};
Canvas new_canvas(int w, int h);          // fully transparent

// Signed distance in pixels from a point to a shape's edge, negative inside.
using Shape = std::function<float(float x, float y)>;
// Colour of a shape at a point.
using Shader = std::function<Rgb(float x, float y)>;

// Paints a shape over what is there, its edge smoothed over one pixel.
void fill(Canvas &c, const Shape &shape, const Shader &shader, float opacity = 1);
void fill(Canvas &c, const Shape &shape, Rgb colour, float opacity = 1);
// Paints a soft halo that fades out over `radius` pixels outside the shape.
void glow(Canvas &c, const Shape &shape, Rgb colour, float radius, float strength);
// Puts a band of `width` pixels around everything painted so far, behind it.
void outline(Canvas &c, float width, Rgb colour);
// Copies src over dst with its top-left corner at (x, y).
void paste(Canvas &dst, const Canvas &src, int x, int y);

Shape circle(float cx, float cy, float r);
Shape ellipse(float cx, float cy, float rx, float ry);
Shape capsule(float x0, float y0, float x1, float y1, float r);
// A capsule whose radius goes from r0 at the first end to r1 at the second.
Shape tapered(float x0, float y0, float r0, float x1, float y1, float r1);
Shape box(float cx, float cy, float half_w, float half_h, float corner = 0);
struct Point {
    float x, y;
};
Shape polygon(std::vector<Point> points);
Shape unite(Shape a, Shape b);
Shape intersect(Shape a, Shape b);
Shape subtract(Shape a, Shape b);
Shape grow(Shape a, float by);

// Smooth value noise in -1..1 with features about one unit apart.
float noise(float x, float y, uint32_t seed);

// The canvas as a masked 24-bit bitmap: coverage of one half or more is
// opaque, the rest is the mask colour (255, 0, 255).
BITMAP *to_bitmap(const Canvas &c);

// The canvas as a 32-bit bitmap that keeps its coverage as alpha, for a
// picture with soft edges such as the application icon. Null without memory.
BITMAP *to_alpha_bitmap(const Canvas &c);

// Writes the canvas as dir/name (an uncompressed 24-bit TGA); false on error.
bool save_picture(const std::string &dir, const char *name, const Canvas &c);
