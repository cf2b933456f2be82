// The benchmark's figures from hand-made trace lines: the percentile at its rank boundaries, the
// parallel port's intervals with other motors' lines and faults mixed in, and the module's idle
// arrivals told apart from underruns (a pause, a one-step start and periods the host's
// calibration made long are no underruns; a list that ran dry with steps still due is one).
#include "bench/e2e_timing/TimingFigures.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "testsupport/ScheduleFigures.h"

namespace bench {
namespace {

using e2e::ModuleEvents;
using e2e::ScheduledStep;
using e2e::TraceLine;

TraceLine Step(uint64_t tick, int motor, int direction = 2, int position = 0) {
    TraceLine line;
    line.Tick = tick;
    line.Seconds = static_cast<double>(tick) / 1e6;
    line.Motor = motor;
    line.Direction = direction;
    line.Position = position;
    return line;
}

TraceLine PortWrite(uint64_t tick) {
    TraceLine line = Step(tick, 0, 0);
    line.Last = "out 0378 01";
    return line;
}

TraceLine Fault(uint64_t tick, int motor) {
    TraceLine line = Step(tick, motor, 0);
    line.Last = "fault";
    return line;
}

// A received segment for motor (1 to 4) of `steps` steps (1 = without a count) at 100 ticks.
TraceLine Segment(uint64_t tick, int motor, int steps) {
    TraceLine line;
    line.Tick = tick;
    line.Motor = -1;
    const int bytes[16] = {0, motor * 16, 100, steps > 1 ? 0x80 : 0, steps > 1 ? steps : 0, 1, 0};
    for (int i = 0; i < 16; ++i) {
        char hex[4];
        std::snprintf(hex, sizeof hex, i == 0 ? "%02x" : " %02x", bytes[i]);
        line.Last += hex;
    }
    return line;
}

struct PercentileCase {
    const char* name;
    std::vector<double> values;
    double share;
    double expected;
};

std::vector<double> Repeated(std::vector<double> values, int count, double value) {
    values.insert(values.end(), static_cast<size_t>(count), value);
    return values;
}

std::vector<double> OneToHundred() {
    std::vector<double> values;
    for (int i = 100; i >= 1; --i)
        values.push_back(i);
    return values;
}

TEST(Percentile, NearestRankOverUnsortedValues) {
    const PercentileCase cases[] = {
        {"p99 of 1..100", OneToHundred(), 0.99, 99},
        {"median of 1..100", OneToHundred(), 0.5, 50},
        {"the whole share is the largest", {5, 1, 3}, 1.0, 5},
        {"median of three", {5, 1, 3}, 0.5, 3},
        {"a single value", {7}, 0.99, 7},
        {"no values", {}, 0.99, 0},
        // 1000 intervals: ten outliers stay above the 99th percentile, eleven reach it.
        {"ten outliers in a thousand", Repeated(Repeated({}, 990, 0), 10, 10), 0.99, 0},
        {"eleven outliers in a thousand", Repeated(Repeated({}, 989, 0), 11, 10), 0.99, 10},
    };
    for (const PercentileCase& c : cases)
        EXPECT_DOUBLE_EQ(Percentile(c.values, c.share), c.expected) << c.name;
}

TEST(PortTiming, IntervalsOfOneMotorAmongWritesFaultsAndOtherMotors) {
    // Motor 1's fault at 2500 is a jump, no step: its interval runs on to the next step.
    const std::vector<TraceLine> trace = {
        PortWrite(0),    Step(0, 1),    Step(0, 2),    PortWrite(1000), Step(1000, 1),
        PortWrite(1100), Step(1100, 2), Step(2000, 1), Fault(2500, 1),  Step(3500, 1),
    };
    const PortMotorTiming one = PortTiming(trace, 1, 1.0);
    EXPECT_EQ(one.Traced, 4);
    EXPECT_EQ(one.Faults, 1);
    ASSERT_EQ(one.DeviationsMs.size(), 3u);
    EXPECT_DOUBLE_EQ(one.DeviationsMs[0], 0.0);
    EXPECT_DOUBLE_EQ(one.DeviationsMs[1], 0.0);
    EXPECT_DOUBLE_EQ(one.DeviationsMs[2], 0.5);
    EXPECT_DOUBLE_EQ(one.MedianIntervalMs, 1.0);

    const PortMotorTiming two = PortTiming(trace, 2, 1.0);
    EXPECT_EQ(two.Traced, 2);
    ASSERT_EQ(two.DeviationsMs.size(), 1u);
    EXPECT_NEAR(two.DeviationsMs[0], 0.1, 1e-9);

    const PortMotorTiming three = PortTiming(trace, 3, 1.0);
    EXPECT_EQ(three.Traced, 0);
    EXPECT_TRUE(three.DeviationsMs.empty());
}

// Every step 100 ticks (12.8 ms) after the one before; pauseAfter lengthens one period.
std::vector<ScheduledStep> Schedule(int steps, int pauseAfter = -1, double pauseTicks = 0) {
    std::vector<ScheduledStep> schedule;
    double t = 0;
    for (int i = 0; i < steps; ++i) {
        const double period = (100 + (i == pauseAfter ? pauseTicks : 0)) / 7812.5;
        schedule.push_back({t, period, 2});
        t += period;
    }
    return schedule;
}

struct StallCase {
    const char* name;
    std::vector<TraceLine> trace;
    std::vector<ScheduledStep> schedule;
    int idle;
    int underruns;
};

TEST(CountStalls, TellsUnderrunsFromHarmlessIdleArrivals) {
    const StallCase cases[] = {
        {"the list never ran empty",
         {Segment(0, 1, 3), Step(10, 1), Step(110, 1), Segment(150, 1, 3), Step(210, 1),
          Step(310, 1), Step(410, 1)},
         Schedule(6),
         0,
         0},
        {"a one-step first segment played before the second arrived",
         {Segment(0, 1, 1), Step(1, 1), Segment(5, 1, 5), Step(101, 1)},
         Schedule(6),
         1,
         0},
        {"the list ran dry with the next step due",
         {Segment(0, 1, 2), Step(10, 1), Step(110, 1), Segment(400, 1, 2), Step(401, 1)},
         Schedule(4),
         1,
         1},
        {"just within the period, stretched as played",
         {Segment(0, 1, 2), Step(10, 1), Step(120, 1), Segment(231, 1, 2)},
         Schedule(4),
         1,
         0},
        {"just beyond the period, stretched as played",
         {Segment(0, 1, 2), Step(10, 1), Step(120, 1), Segment(233, 1, 2)},
         Schedule(4),
         1,
         1},
        {"behind a pause, before the next step is due",
         {Segment(0, 1, 2), Step(10, 1), Step(110, 1), Segment(500, 1, 2)},
         Schedule(4, 1, 540),
         1,
         0},
        {"behind a pause, after the next step was due",
         {Segment(0, 1, 2), Step(10, 1), Step(110, 1), Segment(800, 1, 2)},
         Schedule(4, 1, 540),
         1,
         1},
        {"another motor's segments and a segment's step count",
         {Segment(0, 1, 3), Step(10, 1), Segment(20, 2, 1), Step(25, 2), Segment(900, 2, 1),
          Step(110, 1), Segment(900, 1, 1), Step(210, 1)},
         Schedule(6),
         0,
         0},
        {"played beyond the schedule is not judged",
         {Segment(0, 1, 2), Step(10, 1), Step(110, 1), Segment(900, 1, 1)},
         Schedule(1),
         1,
         0},
    };
    for (const StallCase& c : cases) {
        const ModuleStalls s = CountStalls(c.trace, 1, c.schedule);
        EXPECT_EQ(s.IdleArrivals, c.idle) << c.name;
        EXPECT_EQ(s.Underruns, c.underruns) << c.name;
    }
}

TEST(PlayedSteps, FeedTheScheduleComparisonWithTheModulesTicks) {
    // 78.125 Hz is 100 module ticks per period.
    const std::vector<motion::TsmProgramStep> program = {{3, 78.125, 0.0, motion::kDirLeft}};
    std::vector<TraceLine> trace = {Segment(0, 1, 3), Step(500, 1, 1, -1), Step(500, 2),
                                    Step(600, 1, 1, -2), Step(700, 1, 1, -3)};
    std::vector<sim::ModuleStep> steps = PlayedSteps(trace, 1);
    ASSERT_EQ(steps.size(), 3u);
    EXPECT_EQ(steps[2].elapsed, 700u);
    EXPECT_EQ(steps[2].position, -3);
    EXPECT_EQ(steps[2].motor, 1);
    sim::testing::MotorFigures f = sim::testing::ScheduleFigures(program, steps, 0);
    EXPECT_EQ(f.played, 3);
    EXPECT_TRUE(f.inOrder);
    EXPECT_NEAR(f.maxDeviation, 0.0, 1e-9);

    trace[4].Tick = 705;  // the last step 5 ticks late
    trace[2].Direction = 2;
    f = sim::testing::ScheduleFigures(program, PlayedSteps(trace, 1), 0);
    EXPECT_NEAR(f.maxDeviation, 5.0, 1e-9);
    EXPECT_TRUE(f.inOrder) << "motor 2's step is not motor 1's";
    trace[1].Direction = 2;
    EXPECT_FALSE(sim::testing::ScheduleFigures(program, PlayedSteps(trace, 1), 0).inOrder);
}

// The absolute error is the worst step's distance to the line that makes it least: a rate
// error alone gives none, and errors that swing across the bound in long runs (as a step
// compressor's do) give the bound, where a least-squares line would tilt and give more.
TEST(ScheduleFigures, TheAbsoluteErrorIsTheLeastWorstDistanceToALine) {
    // 78.125 Hz is 100 module ticks per period: 90 steps, ideally 100 ticks apart.
    const std::vector<motion::TsmProgramStep> program = {{90, 78.125, 0.0, motion::kDirRight}};
    struct Case {
        const char* name;
        double scale;                  // of the intervals played
        std::vector<int> errorThirds;  // ticks added to each third of the steps
        double maxAbs;
        double rateErrPct;
    };
    const Case cases[] = {
        {"exact", 1.0, {0, 0, 0}, 0.0, 0.0},
        {"0.1 % slow", 1.001, {0, 0, 0}, 0.5, 0.1},
        {"early, late, early", 1.0, {-7, 7, -7}, 7.0, 0.0},
        {"late, early", 1.0, {7, 7, -7}, 7.0, 0.2},
    };
    for (const Case& c : cases) {
        std::vector<sim::ModuleStep> steps;
        for (int k = 0; k < 90; ++k) {
            const auto tick = static_cast<uint64_t>(1000 + std::llround(100 * k * c.scale) +
                                                    c.errorThirds[static_cast<size_t>(k / 30)]);
            steps.push_back({tick, tick, tick * 128, 1, 2, 0, k + 1});
        }
        const sim::testing::MotorFigures f = sim::testing::ScheduleFigures(program, steps, 0);
        EXPECT_NEAR(f.maxAbsTicks, c.maxAbs, 0.51) << c.name;
        EXPECT_NEAR(f.rateErrPct, c.rateErrPct, 0.1) << c.name;
    }
}

// Each port step against its ideal time from the motor's first step: 700 Hz is due at 0,
// 1.4286, 2.8571, 4.2857 ms; traced (in microseconds) at 1, 2, 4, 6 ms after a first step at
// 10 ms, the errors are 0, 0.43, 1.14 and 1.71 ms. Other motors, writes and faults do not count;
// the module's fault lines are counted by kind and motor.
TEST(PortSchedule, EveryStepAgainstItsIdealTime) {
    const std::vector<motion::TsmProgramStep> program{{5, 700.0, 0.0, motion::kDirRight}};
    const std::vector<TraceLine> trace = {Step(10000, 1), PortWrite(10500), Step(11000, 1),
                                          Step(11500, 2), Fault(11700, 1),  Step(12000, 1),
                                          Step(14000, 1)};
    const PortScheduleTiming t = PortSchedule(trace, 1, program);
    EXPECT_EQ(t.Traced, 4);
    EXPECT_EQ(t.Programmed, 5);
    ASSERT_EQ(t.AbsErrorsMs.size(), 4u);
    const double expected[] = {0, 1 - 1 / 0.7, 2 - 2 / 0.7, 4 - 3 / 0.7};
    for (size_t k = 0; k < 4; ++k)
        EXPECT_NEAR(t.AbsErrorsMs[k], std::fabs(expected[k]), 1e-9) << k;
    EXPECT_GT(t.RateErrPct, 0);

    TraceLine overlap = Segment(500, 2, 3);
    overlap.Last = "overlap 2 due 100 after 104";
    TraceLine underrun = overlap;
    underrun.Last = "underrun 2 dry since 90";
    EXPECT_EQ(ModuleEvents({overlap, underrun, overlap, Segment(600, 2, 1)}, "overlap", 2), 2);
    EXPECT_EQ(ModuleEvents({overlap, underrun}, "underrun", 2), 1);
    EXPECT_EQ(ModuleEvents({overlap, underrun}, "overlap", 1), 0);
}

}  // namespace
}  // namespace bench
