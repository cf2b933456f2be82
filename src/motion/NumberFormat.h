// Decimal text of a double, for every place where a number becomes text (preview labels and
// axes, project files, program lists, dialog fields). It cannot fail and gives printable ASCII
// only, independent of the process locale: fixed point with the given decimals while the
// magnitude stays below a bound, the exponent form beyond it ("1.500e+62"), and "nan", "inf",
// "-inf" for those values.
#pragma once

#include <limits>
#include <string>

namespace motion {

// Magnitudes from here on read better as 1.000e+15 than as a run of sixteen digits.
inline constexpr double kFixedBelow = 1e15;
// Fixed point for every finite value, however long (the project file's "%f").
inline constexpr double kAlwaysFixed = std::numeric_limits<double>::infinity();

// Appends value with decimals digits after the point (0 to 17; others are clamped), in fixed
// point while |value| < fixedBelow, in exponent form with as many decimals otherwise.
void AppendNumber(std::string& out, double value, int decimals, double fixedBelow = kFixedBelow);
std::string FormatNumber(double value, int decimals, double fixedBelow = kFixedBelow);

}  // namespace motion
