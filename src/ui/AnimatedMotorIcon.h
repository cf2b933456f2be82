// TAnimatedMotorIcon: the motor symbol of a panel, a small custom-painted control: a grey disc
// with a triangle in the tooltip colour whose corner shows how far the motor has turned (6
// degrees a step, a full turn in 60 steps). Painted through an off-screen bitmap, so turning it
// many times a second does not flicker.
//
// The control object belongs to its window: it is deleted when the window is destroyed (with
// its panel, on the main window's destruction). Window thread only.
#pragma once

#include <windows.h>

#include <array>

#include "ui/MotorIconGeometry.h"
#include "ui/WindowClass.h"

namespace ui {

class TAnimatedMotorIcon final : public WindowBase {
  public:
    static constexpr const char* kClassName = "TAnimatedMotorIcon";
    static constexpr int kLeft = 100, kTop = 4, kSize = 23;

    static bool Register(HINSTANCE instance);
    // Creates the symbol in parent at left 100, top 4, 23 x 23, at angle 0. Null on failure.
    static TAnimatedMotorIcon* Create(HWND parent, int id);

    // Rounds and brings the angle into range (NormaliseIconAngle), recomputes the triangle and
    // asks for a repaint.
    void SetAngle(float degrees);
    float Angle() const { return angle_; }
    const std::array<IconPoint, 3>& Points() const { return points_; }

  private:
    TAnimatedMotorIcon() = default;
    void OnPaint(HDC dc) override;
    LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) override;
    void Paint(HDC dc, const RECT& client);

    float angle_ = 0.0f;
    std::array<IconPoint, 3> points_{};
};

}  // namespace ui
