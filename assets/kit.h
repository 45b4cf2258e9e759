// What every part of the data generator shares: half a turn, a clamp to
// 0..1, and random numbers that are the same on every run.
#pragma once

#include <cstdint>

// Half a turn; the pictures are drawn in float, the sounds made in double.
const double PI = 3.14159265358979;
const float PI_F = (float)PI;

inline float clamp01(float v)
{
    return v < 0 ? 0 : v > 1 ? 1 : v;
}

// Fixed-seed random numbers (xorshift32): small, and the same everywhere.
struct Random {
    uint32_t state;
};
uint32_t next_u32(Random &r);
float next_unit(Random &r);                   // 0 <= v < 1
float next_range(Random &r, float lo, float hi);
