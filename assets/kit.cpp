// The data generator's random numbers.
#include "kit.h"

uint32_t next_u32(Random &r)
{
    uint32_t x = r.state;
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    return r.state = x;
}

float next_unit(Random &r)
{
    return (next_u32(r) >> 8) / 16777216.0f;
}

float next_range(Random &r, float lo, float hi)
{
    return lo + (hi - lo) * next_unit(r);
}
