// What q417-sim.exe shows and checks before it serves, as portable pieces: the speed of each
// virtual motor measured from the steps played, the live view's lines, and which pipe names the
// kit can serve on.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "sim/common/MotorTable.h"
#include "sim/common/SimulatorNames.h"
#include "sim/common/SpeedMeter.h"

namespace sim {
namespace {

constexpr int kLeft = 1;
constexpr int kRight = 2;

// Steps of one motor every periodUs from startUs on; returns the time of the last one.
uint64_t PlaySteps(SpeedMeter& meter, int motor, uint64_t startUs, uint64_t periodUs, int steps,
                   int direction) {
    uint64_t t = startUs;
    for (int i = 0; i < steps; ++i) {
        t = startUs + static_cast<uint64_t>(i) * periodUs;
        meter.Step(motor, t, direction);
    }
    return t;
}

// Steady rates, from the fastest the module can play (one step per 128 us tick) to one step a
// second, in both directions: measured within 0.1 % just after a step and half a period later.
TEST(SimulatorToolSpeedMeter, SteadyRatesAreMeasuredWithTheirDirection) {
    struct Case {
        uint64_t periodUs;
        int direction;
        double expected;
    };
    const Case cases[] = {
        {128, kRight, 7812.5}, {128 * 31, kRight, 1e6 / (128 * 31)},
        {4000, kLeft, -250.0}, {100000, kRight, 10.0},
        {400000, kLeft, -2.5}, {1000000, kRight, 1.0},
    };
    for (const Case& c : cases) {
        SpeedMeter meter;
        const int steps = static_cast<int>(3000000 / c.periodUs) + 3;  // about 3 s of steps
        const uint64_t last = PlaySteps(meter, 3, 1000, c.periodUs, steps, c.direction);
        for (const uint64_t later : {uint64_t{0}, c.periodUs / 2}) {
            const double measured = meter.StepsPerSecond(3, last + later);
            EXPECT_NEAR(measured, c.expected, std::abs(c.expected) * 1e-3)
                << "period " << c.periodUs << " us, " << later << " us after the last step";
        }
        for (int other : {1, 2, 4})
            EXPECT_EQ(meter.StepsPerSecond(other, last), 0.0) << "motor " << other;
    }
}

// A motor that stops shows 0 once its next step is overdue by half a period; until then it shows
// its rate. Fewer than two steps ever give no rate at all.
TEST(SimulatorToolSpeedMeter, StopsShowAsZeroAndSingleStepsHaveNoRate) {
    SpeedMeter meter;
    const uint64_t last = PlaySteps(meter, 1, 0, 10000, 100, kRight);  // 100 Hz for a second
    EXPECT_NEAR(meter.StepsPerSecond(1, last + 14000), 100.0, 0.1);
    EXPECT_EQ(meter.StepsPerSecond(1, last + 16000), 0.0);
    EXPECT_EQ(meter.StepsPerSecond(1, last + 2000000), 0.0);

    SpeedMeter single;
    single.Step(2, 5000, kLeft);
    EXPECT_EQ(single.StepsPerSecond(2, 5000), 0.0);
    EXPECT_EQ(single.StepsPerSecond(2, 6000), 0.0);
}

// The rate follows a change within the half-second window: after half a second at the new rate
// nothing of the old one is left; the sign follows the last step's direction.
TEST(SimulatorToolSpeedMeter, FollowsAChangeOfRateAndDirection) {
    SpeedMeter meter;
    uint64_t last = PlaySteps(meter, 4, 0, 10000, 200, kRight);  // 100 Hz for 2 s
    last = PlaySteps(meter, 4, last + 2500, 2500, 201, kLeft);   // then 400 Hz left for 0.5 s
    EXPECT_NEAR(meter.StepsPerSecond(4, last), -400.0, 0.5);

    // Between both: a rate in between, never outside the two.
    SpeedMeter mixed;
    last = PlaySteps(mixed, 4, 0, 10000, 200, kRight);
    last = PlaySteps(mixed, 4, last + 2500, 2500, 40, kRight);  // 0.1 s at 400 Hz
    const double between = mixed.StepsPerSecond(4, last);
    EXPECT_GT(between, 100.0);
    EXPECT_LT(between, 400.0);
}

TEST(SimulatorToolSpeedMeter, ClearForgetsEveryMotorAndWrongMotorsAreIgnored) {
    SpeedMeter meter;
    uint64_t last = 0;
    for (int m = 1; m <= 4; ++m)
        last = PlaySteps(meter, m, 0, 1000, 50, kRight);
    meter.Step(0, last, kRight);
    meter.Step(5, last, kRight);
    EXPECT_EQ(meter.StepsPerSecond(0, last), 0.0);
    EXPECT_EQ(meter.StepsPerSecond(5, last), 0.0);
    EXPECT_NEAR(meter.StepsPerSecond(2, last), 1000.0, 1.0);
    meter.Clear();
    for (int m = 1; m <= 4; ++m) {
        meter.Step(m, last + 1000, kRight);  // one step after the power-up: no rate yet
        EXPECT_EQ(meter.StepsPerSecond(m, last + 1000), 0.0) << m;
    }
}

// Every line has the same width whatever the values, so a redraw in place leaves no rest of a
// longer old line; the values appear in their rows.
TEST(SimulatorToolMotorTable, LinesKeepOneWidthAndShowTheValues) {
    std::array<MotorRow, 4> rows{};
    rows[0] = {INT32_MIN, -7812.5, 3, 0, true};
    rows[1] = {INT32_MAX, 7812.5, 1, 12, false};
    rows[2] = {-37, 0.0, 2, 9, false};
    rows[3] = {400, 250.0, 0, 5, true, 12, 345678, 9};
    const std::string longStatus(200, 'x');
    for (const std::string& status : {std::string("q417-sim  pulled out"), longStatus}) {
        const std::vector<std::string> lines = MotorTableLines(status, rows);
        ASSERT_EQ(lines.size(), static_cast<size_t>(kMotorTableLines));
        for (const std::string& line : lines)
            EXPECT_EQ(line.size(), static_cast<size_t>(kMotorTableWidth)) << '"' << line << '"';
    }
    const std::vector<std::string> lines = MotorTableLines("s", rows);
    EXPECT_EQ(lines[0].rfind("s ", 0), 0u);
    struct Expected {
        const char* position;
        const char* speed;
        const char* freeAndReset;
    };
    const Expected expected[] = {
        {" -2147483648 ", " -7812.5 ", "    0 yes  "},
        {" 2147483647 ", " +7812.5 ", "   12       "},
        {" -37 ", " 0.0 ", "    9       "},
        {" 400 ", " +250.0 ", "    5 yes         12    345678          9"},
    };
    for (size_t i = 0; i < 4; ++i) {
        const std::string& row = lines[2 + i];
        EXPECT_EQ(row.rfind("    " + std::to_string(i + 1) + " ", 0), 0u) << row;
        EXPECT_NE(row.find(expected[i].position), std::string::npos) << row;
        EXPECT_NE(row.find(expected[i].speed), std::string::npos) << row;
        EXPECT_NE(row.find(expected[i].freeAndReset), std::string::npos) << row;
        EXPECT_EQ(row.find("yes") != std::string::npos, rows[i].resetting) << row;
    }
}

// The kit serves on a local pipe only, with a name, short enough for the names derived from it.
TEST(SimulatorToolPipeNames, WhichNamesTheKitCanServeOn) {
    struct Case {
        std::string name;
        bool usable;
    };
    const std::string longest(kMaxPipePathLength - 9, 'n');  // 9 = "\\.\pipe\"
    const Case cases[] = {
        {"", true},
        {"q417-sim", true},
        {"with space and-dash.1", true},
        {"\\\\.\\pipe\\full", true},
        {"\\\\.\\PIPE\\upper", true},
        {"\\\\.\\pipe\\nested\\name", true},
        {longest, true},
        {longest + "n", false},
        {"\\\\.\\pipe\\", false},
        {"\\\\server\\pipe\\remote", false},
        {"\\\\?\\C:\\file", false},
        {"\\\\", false},
    };
    for (const Case& c : cases) {
        const std::string problem = PipeNameProblem(c.name);
        EXPECT_EQ(problem.empty(), c.usable) << '"' << c.name << "\": " << problem;
        if (c.usable) {
            EXPECT_LE(ControlPipePath(ModulePipePath(c.name)).size(), 256u) << c.name;
            EXPECT_LE(RunningObjectName(ModulePipePath(c.name)).size(), 260u) << c.name;
        }
    }
}

}  // namespace
}  // namespace sim
