// TMotionPreview: run times to the millisecond from the ideal schedule (the design's ramp
// example, triangles, pauses, several program steps, chains), step counts, the speed plot, and
// the warnings for each kind of port.
#include "motion/MotionPreview.h"

#include "MotorTestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

namespace motion {
namespace {

constexpr uint8_t R = kDirRight;
constexpr uint8_t L = kDirLeft;
constexpr uint8_t P = kDirNone;

bool Printable(const std::string& text) {
    return !text.empty() &&
           std::all_of(text.begin(), text.end(), [](char c) { return c >= 0x20 && c < 0x7F; });
}

TMotionPreview::Motor Preview(std::vector<TsmProgramStep> steps, bool looping = false,
                              bool hostTimed = true, double maxFrequency = 1000) {
    return TMotionPreview::Of(TStepSchedule(std::move(steps), looping), hostTimed, maxFrequency);
}

TEST(MotionPreviewTest, RunTimesOfOnePass) {
    struct Case {
        std::vector<TsmProgramStep> steps;
        const char* seconds;
    };
    const Case cases[] = {
        {{{400, 200.0, 0.5, R}}, "2.500 s"},  // 0.5 s ramps, 1.5 s plateau
        {{{100, 100.0, 0.0, R}}, "1.000 s"},  // no ramp
        {{{10, 100.0, 0.5, R}}, "0.447 s"},   // a triangle: 2 x sqrt(2 x 5 / 200)
        {{{10, 100.0, 0.0, R}, {50, 50.0, 0.0, P}}, "1.100 s"},  // a pause takes its time
        {{{3, 10.0, 0.0, L}, {0, 10.0, 0.0, R}, {2, 20.0, 0.0, R}}, "0.400 s"},
        {{{5, 0.0, 0.0, R}}, "no end"},  // 0 Hz stalls the run
        {{}, "0.000 s"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(TMotionPreview::Seconds(Preview(c.steps).PassSeconds), c.seconds)
            << c.steps.size();
}

TEST(MotionPreviewTest, CountsAndSummary) {
    const TMotionPreview::Motor motor =
        Preview({{30, 100.0, 0.0, R}, {10, 100.0, 0.0, P}, {50, 100.0, 0.1, L}}, true);
    EXPECT_EQ(motor.StepsRight, 30);
    EXPECT_EQ(motor.StepsLeft, 50);
    EXPECT_EQ(motor.Net(), -20);
    EXPECT_EQ(motor.Summary(), "right 30, left 50, net -20; one pass 1.000 s, loops");
    EXPECT_EQ(Preview({}).Summary(), "no program");
}

TEST(MotionPreviewTest, ThePlotFollowsTheRampSignedByDirection) {
    // The design's example: 100 Hz with 0.5 s ramps, first period 0.1 s (10 steps/s).
    const TMotionPreview::Motor motor = Preview({{100, 100.0, 0.5, R}, {20, 50.0, 0.0, L}});
    ASSERT_FALSE(motor.Plot.empty());
    EXPECT_DOUBLE_EQ(motor.Plot.front().Time, 0);
    EXPECT_NEAR(motor.Plot.front().Speed, 10.0, 1e-9);
    const auto peak = std::max_element(motor.Plot.begin(), motor.Plot.end(),
                                       [](auto& a, auto& b) { return a.Speed < b.Speed; });
    EXPECT_NEAR(peak->Speed, 100.0, 1e-6);
    EXPECT_NEAR(motor.Plot.back().Speed, -50.0, 1e-9);
    EXPECT_EQ(motor.Plot.back().ProgramStep, 1);
    for (size_t i = 1; i < motor.Plot.size(); ++i)
        EXPECT_LT(motor.Plot[i - 1].Time, motor.Plot[i].Time);
    // A long program step is sampled, not drawn step by step.
    EXPECT_LE(Preview({{1000000, 500.0, 1.0, R}}).Plot.size(), 1000u);
}

TEST(MotionPreviewTest, WarningsForWhatThePortCannotPlay) {
    struct Case {
        std::vector<TsmProgramStep> steps;
        bool looping;
        bool hostTimed;
        double maxFrequency;
        std::vector<std::string> warnings;  // the start of each
    };
    const Case cases[] = {
        {{{10, 1500.0, 0.0, R}}, false, true, 0, {"step 1: 1500.0 Hz is faster than the host"}},
        {{{10, 1500.0, 0.0, R}}, false, false, 1000, {}},  // the module plays it
        {{{10, 9000.0, 0.0, R}}, false, false, 0, {"step 1: 9000.0 Hz is faster than the module"}},
        {{{10, 800.0, 0.0, R}}, false, true, 500, {"step 1: the maximum frequency 500.0 Hz"}},
        {{{10, 800.0, 0.0, R}}, false, false, 500, {}},  // the limiter does not act in the module
        {{{0, 100.0, 0.0, R}, {5, 0.0, 0.0, L}},
         false,
         true,
         0,
         {"step 1: 0 steps", "step 2: 0 Hz"}},
        {{{0, 100.0, 0.0, R}}, true, true, 0, {"step 1: 0 steps", "loops without a step"}},
        {{{5, 100.0, 0.0, P}}, true, true, 0, {}},  // a looping pause still takes time
        // Each text names the number as it stands, however large, small or negative.
        {{{5, -5.0, 0.0, R}}, false, true, 0, {"step 1: -5.0 Hz is negative: the run stalls"}},
        {{{5, 1e-320, 0.0, R}}, false, true, 0, {"step 1: 1.0e-320 Hz is too slow to time"}},
        {{{10, 1e62, 0.0, R}}, false, false, 0, {"step 1: 1.0e+62 Hz is faster than the module"}},
        {{{-7, 100.0, 0.0, R}}, false, true, 0, {"step 1: -7 steps (passed over)"}},
        {{{100, 2.0, 1e-320, R}},
         false,
         true,
         0,
         {"step 1: the start/stop time 1.000e-320 s gives no ramp that can be played"}},
    };
    for (const Case& c : cases) {
        const auto motor = Preview(c.steps, c.looping, c.hostTimed, c.maxFrequency);
        ASSERT_EQ(motor.Warnings.size(), c.warnings.size()) << c.steps[0].Frequency;
        for (size_t i = 0; i < c.warnings.size(); ++i) {
            EXPECT_EQ(motor.Warnings[i].rfind(c.warnings[i], 0), 0u) << motor.Warnings[i];
            EXPECT_TRUE(Printable(motor.Warnings[i])) << motor.Warnings[i];
        }
    }
}

TEST(MotionPreviewTest, TheChainRunsEachMotorWithAProgramOnce) {
    const std::array<TMotionPreview::Motor, 4> motors = {
        Preview({{100, 100.0, 0.0, R}}), Preview({}), Preview({{400, 200.0, 0.5, L}}),
        Preview({{0, 10.0, 0.0, R}})};
    EXPECT_EQ(TMotionPreview::Seconds(TMotionPreview::ChainSeconds(motors)), "3.500 s");
}

// A running motor's place (program step, steps taken of it) gives the time of its last step on
// the schedule and what is left of the pass.
TEST(MotionPreviewTest, TimeLeftOfARunFollowsItsPlaceInTheProgram) {
    const std::vector<TsmProgramStep> plain = {{100, 100.0, 0.0, R}};   // 1 s
    const std::vector<TsmProgramStep> ramped = {{400, 200.0, 0.5, R}};  // 2.5 s, a = 400/s^2
    const std::vector<TsmProgramStep> three = {
        {100, 100.0, 0.0, R}, {50, 50.0, 0.0, P}, {20, 20.0, 0.0, L}};  // 1 s each
    const double inf = std::numeric_limits<double>::infinity();
    struct Case {
        std::vector<TsmProgramStep> steps;
        bool looping;
        TMotionPreview::RunPlace place;
        double elapsed;
        const char* left;
    };
    const Case cases[] = {
        {plain, false, {0, 0}, 0.0, "1.0 s left"},     // started, no step taken yet
        {plain, false, {0, 1}, 0.0, "1.0 s left"},     // the first step is at the start
        {plain, false, {0, 51}, 0.5, "0.5 s left"},    // step 50 taken
        {plain, false, {0, 100}, 0.99, "0.0 s left"},  // the last one: one period to the end
        {ramped, false, {0, 2}, std::sqrt(2.0 / 400), "2.4 s left"},  // first ramp period
        {ramped,
         false,
         {0, 200},
         1.245,
         "1.3 s left"},  // on the plateau, 1 / 200 s before the middle
        {ramped, false, {0, 400}, 2.5 - std::sqrt(2.0 / 400), "0.1 s left"},
        {three, false, {1, 26}, 1.5, "1.5 s left"},  // in a pause, mid-way
        {three, false, {2, 0}, 2.0, "1.0 s left"},   // at the start of the last program step
        {three, true, {2, 11}, 2.5, "0.5 s left"},   // a looping program: left of this pass
        {three, false, {7, 3}, 3.0, "0.0 s left"},   // beyond a program shortened meanwhile
        {{{10, 10.0, 0.0, R}, {5, 0.0, 0.0, R}}, false, {0, 5}, 0.4, "no end"},  // stalls ahead
    };
    for (const Case& c : cases) {
        const TStepSchedule schedule(c.steps, c.looping);
        const std::string where = std::to_string(c.steps.size()) + " records at " +
                                  std::to_string(c.place.ProgramStep) + "/" +
                                  std::to_string(c.place.StepCounter);
        EXPECT_NEAR(TMotionPreview::ElapsedSeconds(schedule, c.place), c.elapsed, 1e-9) << where;
        const double left = TMotionPreview::SecondsLeft(schedule, c.place);
        if (std::isfinite(left)) {
            EXPECT_NEAR(left, schedule.PassTime() - c.elapsed, 1e-9) << where;
        }
        EXPECT_EQ(TMotionPreview::TimeLeft(left), c.left) << where;
    }
    EXPECT_EQ(TMotionPreview::SecondsLeft(TStepSchedule({{5, 0.0, 0.0, R}}), {0, 0}), inf);
}

// The place the sequencer keeps after each step it takes gives that step's own due time, also
// across program steps, a pause, a record with no steps and the next pass of a loop.
TEST(MotionPreviewTest, ThePlaceOfEachStepTakenGivesItsDueTime) {
    platform::VirtualTimerService service;
    TStepperMotor motor{0, service};
    SetProgram(motor, {{30, 100.0, 0.1, R}, {5, 20.0, 0.0, P}, {0, 9.0, 0.0, R}, {7, 50.0, 0.0, L}},
               true);
    const TStepSchedule schedule = TStepSchedule::Of(*motor.LockProgram());
    motor.Stop();
    motor.SetRunning(true);
    for (int step = 0; step < 2 * 42 + 3; ++step) {
        ASSERT_GT(motor.NextPeriod(), 0) << step;
        motor.AdvanceStep();
        const TMotionPreview::RunPlace place{motor.StepIndex(), motor.StepCounter()};
        EXPECT_NEAR(TMotionPreview::ElapsedSeconds(schedule, place),
                    motor.StepDue() - motor.PassCount() * schedule.PassTime(), 1e-9)
            << "step " << step << " at " << place.ProgramStep << "/" << place.StepCounter;
    }
}

// "Run in order": the running motor's time left and one pass of each motor after it that has a
// program.
TEST(MotionPreviewTest, TimeLeftOfAChainAddsTheMotorsStillToCome) {
    const std::array<TMotionPreview::Motor, 4> motors = {
        Preview({{100, 100.0, 0.0, R}}), Preview({}), Preview({{400, 200.0, 0.5, L}}),
        Preview({{20, 10.0, 0.0, R}})};  // 1 s, none, 2.5 s, 2 s
    struct Case {
        size_t running;
        double left;
        const char* text;
    };
    const Case cases[] = {
        {0, 0.4, "4.9 s left"},  // motor 2 is passed over
        {1, 0.0, "4.5 s left"},
        {2, 1.2, "3.2 s left"},
        {3, 0.7, "0.7 s left"},  // the last one: its own time left
    };
    for (const Case& c : cases)
        EXPECT_EQ(
            TMotionPreview::TimeLeft(TMotionPreview::ChainSecondsLeft(motors, c.running, c.left)),
            c.text)
            << "motor " << c.running + 1;
}

TEST(MotionPreviewTest, UsbSlowWarnsWhereTheRatesTogetherExceedTheLink) {
    struct Case {
        std::array<double, 4> rates;  // 0: no program
        std::array<double, 4> maxFrequencies;
        std::array<bool, 4> warned;
    };
    const Case cases[] = {
        {{400, 400, 0, 0}, {1000, 1000, 1000, 1000}, {false, false, false, false}},
        {{400, 400, 300, 0}, {1000, 1000, 1000, 1000}, {true, true, true, false}},
        {{600, 600, 0, 0}, {0, 0, 0, 0}, {true, true, false, false}},        // no limiter
        {{800, 800, 0, 0}, {300, 300, 0, 0}, {false, false, false, false}},  // limited to 600
        {{1500, 0, 0, 0}, {0, 0, 0, 0}, {false, false, false, false}},       // one step per ms
    };
    for (const Case& c : cases) {
        std::array<TMotionPreview::Motor, 4> motors;
        for (size_t m = 0; m < 4; ++m) {
            motors[m] =
                Preview(c.rates[m] > 0 ? std::vector<TsmProgramStep>{{200, c.rates[m], 0.1, R}}
                                       : std::vector<TsmProgramStep>{},
                        false, true, c.maxFrequencies[m]);
        }
        TMotionPreview::AddUsbLinkWarnings(motors, c.maxFrequencies);
        for (size_t m = 0; m < 4; ++m) {
            const bool warned = std::any_of(
                motors[m].Warnings.begin(), motors[m].Warnings.end(),
                [](const std::string& w) { return w.rfind("the motors together reach", 0) == 0; });
            EXPECT_EQ(warned, c.warned[m]) << "motor " << m + 1 << " at " << c.rates[0] << " Hz";
        }
    }
}

// Step counts up to the largest a program step holds, and programs of very many program steps:
// sums in 64 bits, a bounded plot made in bounded time, and texts that make sense.
TEST(MotionPreviewTest, HugeProgramsGiveABoundedPlotAndSaneTexts) {
    constexpr int32_t kMost = 2147483647;
    const TMotionPreview::Motor longest =
        Preview({{kMost, 1000.0, 0.5, R}, {kMost, 1000.0, 0.0, R}});
    EXPECT_EQ(longest.StepsRight, 2 * int64_t{kMost});
    // 0.5 s up and down, the rest at 1 ms a step; then 2^31 - 1 steps at 1 ms.
    EXPECT_EQ(longest.Summary(),
              "right 4294967294, left 0, net +4294967294; one pass 4294967.794 s");
    ASSERT_FALSE(longest.Plot.empty());
    EXPECT_LE(longest.Plot.size(), TMotionPreview::kMaxPlotPoints);
    EXPECT_EQ(longest.Plot.back().ProgramStep, 1);
    EXPECT_NEAR(longest.Plot.back().Speed, 1000.0, 1e-9);

    // 100,000 program steps of 1000 steps (50 million points at 500 a program step), and as
    // many records with no steps (as many warnings).
    std::vector<TsmProgramStep> many(100000, TsmProgramStep{1000, 500.0, 0.2, L});
    many.insert(many.end(), 100000, TsmProgramStep{0, 500.0, 0.0, L});
    const TMotionPreview::Motor manySteps = Preview(many);
    EXPECT_EQ(manySteps.StepsLeft, int64_t{100000} * 1000);
    EXPECT_LE(manySteps.Plot.size(), TMotionPreview::kMaxPlotPoints);
    EXPECT_GE(manySteps.Plot.size(), TMotionPreview::kMaxPlotPoints / 4);
    for (size_t i = 1; i < manySteps.Plot.size(); ++i)
        ASSERT_LT(manySteps.Plot[i - 1].Time, manySteps.Plot[i].Time) << i;
    ASSERT_EQ(manySteps.Warnings.size(), TMotionPreview::kMaxWarnings + 1);
    EXPECT_EQ(manySteps.Warnings.back(), "and 99990 more warnings");
}

// A ramp time of 1e-320 s: every step is played at 1/f, and the preview says so instead of
// showing a point of infinite speed.
TEST(MotionPreviewTest, AnUnplayableRampIsShownAsNoRamp) {
    const TMotionPreview::Motor motor = Preview({{100, 2.0, 1e-320, R}});
    EXPECT_EQ(TMotionPreview::Seconds(motor.PassSeconds), "50.000 s");
    for (const auto& point : motor.Plot)
        EXPECT_EQ(point.Speed, 2.0) << point.Time;
    ASSERT_EQ(motor.Warnings.size(), 1u);
}

TEST(MotionPreviewTest, NumberTextsStayReadableAtAnyMagnitude) {
    struct Case {
        double seconds;
        const char* text;
    };
    const Case cases[] = {
        {2.5, "2.500 s"},
        {1e60, "1.000e+60 s"},
        {-3e200, "-3.000e+200 s"},
        {std::numeric_limits<double>::infinity(), "no end"},
        {std::numeric_limits<double>::quiet_NaN(), "no end"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(TMotionPreview::Seconds(c.seconds), c.text) << c.seconds;

    // The axes: a plot of 1e62 steps/s gives a readable scale.
    std::array<TMotionPreview::Motor, 4> motors = {Preview({{10, 1e62, 0.0, R}}), Preview({}),
                                                   Preview({}), Preview({})};
    const TMotionPreview::Scales scales = TMotionPreview::ScalesOf(motors);
    EXPECT_EQ(TMotionPreview::AxisText(scales), "0 s ... 0.000 s, +/- 1e+62 steps/s");
    motors[0].Plot.push_back({1.0, std::numeric_limits<double>::infinity(), 0});
    EXPECT_EQ(TMotionPreview::AxisText(TMotionPreview::ScalesOf(motors)),
              "0 s ... 1.000 s, +/- 1 steps/s");
}

}  // namespace
}  // namespace motion
