// The motor symbol's stored angle and triangle, apart from any window.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "ui/MotorIconGeometry.h"

namespace ui {
namespace {

TEST(MotorIconGeometry, AngleIsRoundedHalvesToEvenAndBroughtIntoRange) {
    struct Case {
        float in;
        float out;
    };
    const Case cases[] = {
        {0.0f, 0.0f},     {360.0f, 360.0f}, {-6.0f, 354.0f}, {366.0f, 6.0f},
        {-60.0f, 300.0f}, {720.0f, 360.0f}, {-360.0f, 0.0f}, {-366.0f, 354.0f},
        {2.5f, 2.0f},     {3.5f, 4.0f},     {-0.5f, 0.0f},   {359.5f, 360.0f},
        {360.5f, 360.0f}, {361.5f, 2.0f},   {1e9f, 280.0f},  {-1e9f, 80.0f},
    };
    for (const Case& c : cases)
        EXPECT_EQ(NormaliseIconAngle(c.in), c.out) << "input " << c.in;
}

TEST(MotorIconGeometry, NonFiniteAngleGivesZero) {
    EXPECT_EQ(NormaliseIconAngle(std::numeric_limits<float>::quiet_NaN()), 0.0f);
    EXPECT_EQ(NormaliseIconAngle(std::numeric_limits<float>::infinity()), 0.0f);
    EXPECT_EQ(NormaliseIconAngle(-std::numeric_limits<float>::infinity()), 0.0f);
}

TEST(MotorIconGeometry, TriangleAtZeroPointsStraightUp) {
    const auto points = IconTriangle(0.0f, 23);
    EXPECT_EQ(points[0], (IconPoint{21, 17}));
    EXPECT_EQ(points[1], (IconPoint{11, 1}));
    EXPECT_EQ(points[2], (IconPoint{2, 17}));
}

TEST(MotorIconGeometry, TriangleTurnsWithTheAngle) {
    // A whole turn and the two other thirds of a turn give the same corners, in rotated order.
    const auto zero = IconTriangle(0.0f, 23);
    EXPECT_EQ(IconTriangle(360.0f, 23), zero);
    const auto third = IconTriangle(120.0f, 23);
    EXPECT_EQ(third[0], zero[1]);
    EXPECT_EQ(third[1], zero[2]);
    EXPECT_EQ(third[2], zero[0]);
    // A larger angle turns counter-clockwise on screen: at 90 degrees the corner that pointed
    // up points to the left (x small, y at the centre).
    const auto quarter = IconTriangle(90.0f, 23);
    EXPECT_EQ(quarter[1], (IconPoint{1, 11}));
    // Every corner stays inside the 23 x 23 symbol at every step of a turn.
    for (int step = 0; step < 60; ++step) {
        for (const IconPoint& p : IconTriangle(static_cast<float>(step * 6), 23)) {
            EXPECT_GE(p.X, 0);
            EXPECT_LE(p.X, 22);
            EXPECT_GE(p.Y, 0);
            EXPECT_LE(p.Y, 22);
        }
    }
}

}  // namespace
}  // namespace ui
