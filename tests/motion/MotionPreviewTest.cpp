// TMotionPreview: run times to the millisecond from the ideal schedule (the design's ramp
// example, triangles, pauses, several program steps, chains), step counts, the speed plot, and
// the warnings for each kind of port.
#include "motion/MotionPreview.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <string>
#include <vector>

namespace motion {
namespace {

constexpr uint8_t R = kDirRight;
constexpr uint8_t L = kDirLeft;
constexpr uint8_t P = kDirNone;

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
    };
    for (const Case& c : cases) {
        const auto motor = Preview(c.steps, c.looping, c.hostTimed, c.maxFrequency);
        ASSERT_EQ(motor.Warnings.size(), c.warnings.size()) << c.steps[0].Frequency;
        for (size_t i = 0; i < c.warnings.size(); ++i)
            EXPECT_EQ(motor.Warnings[i].rfind(c.warnings[i], 0), 0u) << motor.Warnings[i];
    }
}

TEST(MotionPreviewTest, TheChainRunsEachMotorWithAProgramOnce) {
    const std::array<TMotionPreview::Motor, 4> motors = {
        Preview({{100, 100.0, 0.0, R}}), Preview({}), Preview({{400, 200.0, 0.5, L}}),
        Preview({{0, 10.0, 0.0, R}})};
    EXPECT_EQ(TMotionPreview::Seconds(TMotionPreview::ChainSeconds(motors)), "3.500 s");
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

}  // namespace
}  // namespace motion
