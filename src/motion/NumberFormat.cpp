#include "motion/NumberFormat.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <system_error>

namespace motion {

void AppendNumber(std::string& out, double value, int decimals, double fixedBelow) {
    decimals = std::clamp(decimals, 0, 17);
    if (std::isnan(value)) {
        out += "nan";
        return;
    }
    if (std::isinf(value)) {
        out += value < 0 ? "-inf" : "inf";
        return;
    }
    // The longest fixed-point double has 309 integer digits; with sign, point and 17 decimals
    // it stays below 330 characters, and an exponent form is far shorter.
    char text[400];
    const std::chars_format format =
        std::fabs(value) < fixedBelow ? std::chars_format::fixed : std::chars_format::scientific;
    std::to_chars_result result = std::to_chars(text, text + sizeof text, value, format, decimals);
    if (result.ec != std::errc())  // cannot happen with this buffer; never append garbage
        result = std::to_chars(text, text + sizeof text, value, std::chars_format::scientific, 3);
    if (result.ec != std::errc()) {
        out += '?';
        return;
    }
    out.append(text, result.ptr);
}

std::string FormatNumber(double value, int decimals, double fixedBelow) {
    std::string text;
    AppendNumber(text, value, decimals, fixedBelow);
    return text;
}

}  // namespace motion
