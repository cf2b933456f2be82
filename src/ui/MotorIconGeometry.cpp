#include "ui/MotorIconGeometry.h"

#include <cmath>

#include "motion/RoundHalfEven.h"

namespace ui {

float NormaliseIconAngle(float value) {
    if (!std::isfinite(value)) return 0.0f;
    double angle = motion::RoundHalfEven(value);
    // The same result as taking off (or adding) one turn at a time, without a loop that a huge
    // value would keep going for ever.
    if (angle > 360.0) {
        angle = std::fmod(angle, 360.0);
        if (angle == 0.0) angle = 360.0;
    } else if (angle < 0.0) {
        angle = std::fmod(angle, 360.0);
        if (angle < 0.0) angle += 360.0;
    }
    return static_cast<float>(angle);
}

std::array<IconPoint, 3> IconTriangle(float angle, int width) {
    constexpr float kPi = 3.14159265358979f;
    const float r = static_cast<float>(width) / 2.0f - 0.66f;
    const float c = r + 0.5f;
    std::array<IconPoint, 3> points{};
    const float corners[3] = {60.0f, 180.0f, 300.0f};
    for (int i = 0; i < 3; ++i) {
        const float theta = (angle + corners[i]) * kPi / 180.0f;
        points[i] = {static_cast<int>(std::lround(std::sin(theta) * r + c)),
                     static_cast<int>(std::lround(std::cos(theta) * r + c))};
    }
    return points;
}

}  // namespace ui
