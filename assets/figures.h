// The figures that appear both as tools and, smaller, on the palette's icons.
// Each is drawn in its own coordinates and placed by a hold point, a
// direction (radians, clockwise on screen from +x) and a scale.
#pragma once

#include "paint.h"

// A wooden baseball bat held at (grip_x, grip_y), its barrel pointing along
// `angle`. `along` and `across` stretch it for the swing's foreshortening.
void draw_bat(Canvas &c, float grip_x, float grip_y, float angle, float scale,
              float along = 1, float across = 1);

// A lightsaber whose blade ends at (tip_x, tip_y) when fully lit, pointing
// along `angle` from the hilt. `blade` is how far the blade is out (0 to 1),
// `glow` the strength of its halo.
void draw_saber(Canvas &c, float tip_x, float tip_y, float angle, float scale,
                float blade, float glow);

// A ray gun whose muzzle is at (muzzle_x, muzzle_y), pointing along `angle`.
// `recoil` pushes it back in pixels, `heat` (0 to 1) lights its cells.
void draw_ray_gun(Canvas &c, float muzzle_x, float muzzle_y, float angle, float scale,
                  float recoil, float heat);

// The lady, a ladybird seen from above, round about `radius` and centred on
// (cx, cy), her head along `angle`. `jaws` opens her jaws from 0 (shut) to
// 1 (wide).
void draw_lady(Canvas &c, float cx, float cy, float radius, float jaws, float angle = 0);
