// Rounding to the nearest whole number, halves to the even neighbour (62.5 -> 62, 63.5 -> 64),
// independent of the floating-point environment's rounding mode.
#pragma once

#include <cmath>

namespace motion {

inline double RoundHalfEven(double value) {
    const double down = std::floor(value);
    const double fraction = value - down;
    if (fraction > 0.5) return down + 1.0;
    if (fraction < 0.5) return down;
    return std::fmod(down, 2.0) == 0.0 ? down : down + 1.0;
}

}  // namespace motion
