#include "motion/StepSchedule.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <set>

namespace motion {
namespace {

constexpr uint8_t R = kDirRight;
constexpr uint8_t L = kDirLeft;
constexpr uint8_t P = kDirNone;

TEST(StepSchedule, WorkedExampleOf100HzWithHalfSecondRampIsASymmetricTriangleForTenSteps) {
    const TsmProgramStep step{10, 100.0, 0.5, R};
    EXPECT_NEAR(TStepSchedule::Period(step, 0), 0.1, 1e-12);
    EXPECT_NEAR(TStepSchedule::Period(step, 1), 0.041421, 1e-6);
    EXPECT_NEAR(TStepSchedule::Period(step, 2), 0.031784, 1e-6);
    EXPECT_NEAR(TStepSchedule::Period(step, 9), 0.1, 1e-12);
    // Steps 0 to 4 accelerate and 5 to 9 decelerate: the times mirror around the middle.
    for (int32_t i = 0; i <= 10; ++i) {
        EXPECT_NEAR(TStepSchedule::Offset(step, i) + TStepSchedule::Offset(step, 10 - i),
                    TStepSchedule::Duration(step), 1e-12)
            << i;
    }
    EXPECT_NEAR(TStepSchedule::Offset(step, 5), std::sqrt(2 * 5 / 200.0), 1e-12);
}

TEST(StepSchedule, OffsetIsTheSumOfThePeriodsOverAGridOfPrograms) {
    for (double f : {0.3, 1.0, 7.0, 100.0, 999.0, 1000.0, 1500.0, 7812.0, 20000.0}) {
        for (double t : {-1.0, 0.0, 0.01, 0.2, 0.5, 1.0}) {
            for (int32_t n : {1, 2, 3, 10, 11, 99, 100, 1001}) {
                const TsmProgramStep step{n, f, t, R};
                double sum = 0;
                for (int32_t i = 0; i <= n; ++i) {
                    ASSERT_NEAR(TStepSchedule::Offset(step, i), sum, 1e-9 * (1 + sum))
                        << f << " Hz " << t << " s " << n << " steps, step " << i;
                    if (i < n) sum += TStepSchedule::Period(step, i);
                }
                EXPECT_DOUBLE_EQ(TStepSchedule::Duration(step), TStepSchedule::Offset(step, n));
            }
        }
    }
}

TEST(StepSchedule, RunTimeOfAPassForAPreview) {
    // 400 steps at 200 Hz with 0.5 s ramps: 0.5 s up (50 steps), 300 steps at 5 ms, 0.5 s down.
    const TStepSchedule ramped({{400, 200.0, 0.5, R}});
    EXPECT_NEAR(ramped.PassTime(), 2.5, 1e-9);
    // The rows with no steps take no time; a pause takes its periods.
    const TStepSchedule program({{100, 100.0, 0.0, R}, {0, 5.0, 0.0, L}, {50, 50.0, 0.0, P}});
    EXPECT_NEAR(program.PassTime(), 2.0, 1e-12);
    EXPECT_NEAR(program.ProgramStepStart(2), 1.0, 1e-12);
    EXPECT_EQ(TStepSchedule().PassTime(), 0);
}

TEST(StepSchedule, StepsListPausesDirectionsAndLoopingPasses) {
    const TStepSchedule schedule({{2, 10.0, 0.0, R}, {1, 10.0, 0.0, P}, {2, 20.0, 0.0, L}}, true);
    const auto steps = schedule.Steps(2);
    ASSERT_EQ(steps.size(), 10u);
    const double times[] = {0, 0.1, 0.2, 0.3, 0.35, 0.4, 0.5, 0.6, 0.7, 0.75};
    const uint8_t directions[] = {R, R, P, L, L, R, R, P, L, L};
    for (size_t i = 0; i < steps.size(); ++i) {
        EXPECT_NEAR(steps[i].time, times[i], 1e-12) << i;
        EXPECT_EQ(steps[i].direction, directions[i]) << i;
        EXPECT_EQ(steps[i].pass, i < 5 ? 0 : 1) << i;
    }
    EXPECT_EQ(schedule.MovingSteps(2).size(), 8u);
    // A program that does not loop has one pass however many are asked for.
    EXPECT_EQ(TStepSchedule({{2, 10.0, 0.0, R}}).Steps(5).size(), 2u);
    // A looping pass without a step ends the run instead of going on for ever.
    EXPECT_TRUE(TStepSchedule({{0, 10.0, 0.0, R}}, true).Steps(1000).empty());
}

TEST(StepSchedule, AStepWithoutAPeriodStallsTheRunThere) {
    for (const TsmProgramStep stalled :
         {TsmProgramStep{3, 0.0, 0.0, R}, TsmProgramStep{3, 0.0, 0.5, R},
          TsmProgramStep{3, -10.0, 0.0, R}}) {
        const TStepSchedule schedule({{2, 10.0, 0.0, L}, stalled, {2, 10.0, 0.0, L}}, true);
        EXPECT_EQ(schedule.Steps(3).size(), 2u);
        EXPECT_EQ(schedule.PassTime(), std::numeric_limits<double>::infinity());
    }
}

// A ramp time whose ramp would give periods of 0, infinity or NaN (f/T overflowing, or too small
// for 2N/a to fit) is played as no ramp: every step at 1/f, the whole program step played.
TEST(StepSchedule, ARampWithoutFinitePeriodsIsPlayedAsNoRamp) {
    const TsmProgramStep cases[] = {
        {100, 2.0, 1e-320, R},         // f/T overflows: periods of 0 in the second half
        {100, 2.0, 5e-324, R},         // the smallest ramp time there is
        {100, 1e300, 1e-10, L},        // f/T overflows with normal numbers
        {100, 1e-300, 1e300, R},       // f/T underflows to 0: √(2/a) overflows
        {2147483647, 2.0, 1e-320, R},  // as long as a program step can be
    };
    for (const TsmProgramStep& step : cases) {
        const double f = step.Frequency;
        EXPECT_TRUE(TStepSchedule::RampIgnored(step)) << step.RampTime;
        for (int32_t i : {0, 1, step.Steps / 2, step.Steps - 2, step.Steps - 1})
            EXPECT_EQ(TStepSchedule::Period(step, i), 1 / f) << step.RampTime << " step " << i;
        EXPECT_EQ(TStepSchedule::Duration(step), step.Steps / f) << step.RampTime;
    }
    // Every step is scheduled, evenly.
    const auto steps = TStepSchedule({cases[0]}).Steps();
    ASSERT_EQ(steps.size(), 100u);
    EXPECT_DOUBLE_EQ(steps.back().time, 99 * 0.5);
    // A playable ramp is kept.
    EXPECT_FALSE(TStepSchedule::RampIgnored({10, 100.0, 0.5, R}));
    EXPECT_FALSE(TStepSchedule::RampIgnored({10, 100.0, 0.0, R}));  // no ramp to ignore
}

// Whatever numbers a program step holds: a timed one has finite, positive periods and step
// times that never go back; one whose frequency has no period that fits stalls the run.
TEST(StepSchedule, EveryPeriodOfATimedStepIsFiniteAndPositiveOverExtremeNumbers) {
    const double frequencies[] = {1e-300, 1e-5, 0.3, 1000.0, 1e15, 1e300, 1.7e308};
    const double rampTimes[] = {-1.0, 0.0, 5e-324, 1e-320, 1e-300, 1e-10, 0.5, 1e10, 1e300};
    const int32_t counts[] = {1, 2, 3, 1001, 2147483647};
    for (double f : frequencies) {
        for (double t : rampTimes) {
            for (int32_t n : counts) {
                const TsmProgramStep step{n, f, t, R};
                ASSERT_TRUE(TStepSchedule::Timed(step));
                double last = 0;
                std::set<int32_t> sampled{0, 1, n / 2 - 1, n / 2, n / 2 + 1, n - 2, n - 1};
                for (int32_t i : sampled) {
                    if (i < 0 || i >= n) continue;
                    const double p = TStepSchedule::Period(step, i);
                    ASSERT_TRUE(std::isfinite(p) && p > 0)
                        << f << " Hz " << t << " s " << n << " steps, step " << i << ": " << p;
                    const double offset = TStepSchedule::Offset(step, i);
                    ASSERT_FALSE(std::isnan(offset)) << f << " Hz " << t << " s, step " << i;
                    ASSERT_GE(offset, last) << f << " Hz " << t << " s, step " << i;
                    last = offset;
                }
            }
        }
    }
    // A frequency below about 5.6e-309 Hz has no period that fits a double: as at 0 Hz.
    const TsmProgramStep tooSlow{3, 1e-320, 0.0, R};
    EXPECT_FALSE(TStepSchedule::Timed(tooSlow));
    EXPECT_EQ(TStepSchedule::Period(tooSlow, 0), 0);
    EXPECT_EQ(TStepSchedule({tooSlow}).PassTime(), std::numeric_limits<double>::infinity());
}

}  // namespace
}  // namespace motion
