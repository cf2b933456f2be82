// The geometry of the motor symbol, apart from any window: the stored angle and the three
// corners of the triangle that the symbol draws inside its disc. Portable, so it is tested
// natively as well as under Wine.
//
// Promises: the stored angle is a whole number of degrees in [0, 360] (360 itself stays 360, as
// subtracting whole turns while the angle exceeds 360 leaves it); any finite input, however
// large, is brought into range at once; a value that is not a number, or infinite, gives 0.
#pragma once

#include <array>

namespace ui {

struct IconPoint {
    int X;
    int Y;
    bool operator==(const IconPoint&) const = default;
};

// Rounds value to the nearest whole degree (halves to even), then removes whole turns while it
// exceeds 360 and adds them while it is below 0: 360 -> 360, -6 -> 354, 366 -> 6, 720 -> 360.
float NormaliseIconAngle(float value);

// The triangle's corners for a symbol of the given width at angle degrees (already
// normalised): for k = 60, 180, 300, theta = (angle + k) degrees, point = (round(sin theta * r +
// c), round(cos theta * r + c)) with r = width / 2 - 0.66 and c = r + 0.5. Width 23 at angle 0
// gives (21, 17), (11, 1), (2, 17): one corner straight up. A larger angle turns the triangle
// counter-clockwise on screen.
std::array<IconPoint, 3> IconTriangle(float angle, int width);

}  // namespace ui
