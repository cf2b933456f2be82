// SegmentPlanner re-checked against its input, as a step compressor checks itself: a grid of
// programs is planned from the ideal schedule, every segment is played back as the module plays
// it, and each step is compared with its ideal tick.
#include "usb/SegmentPlanner.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "motion/StepSchedule.h"

namespace usb {
namespace {

using motion::kDirLeft;
using motion::kDirNone;
using motion::kDirRight;
using motion::TsmProgramStep;
using motion::TStepSchedule;

constexpr double kRate = 7812.5;

struct Played {
    std::vector<SegmentPlanner::Segment> segments;
    std::vector<bool> afterPause;  // of each segment
    std::vector<int64_t> ticks;    // every step as the module plays it
    std::vector<uint8_t> directionBits;
};

// Plans the schedule's steps as TUsbProtocol::Fill does (a pause breaks the segment), closing
// the open segment early every closeEvery steps as a sender that has caught up would.
Played Plan(const TStepSchedule& schedule, int32_t passes, int closeEvery = 0) {
    SegmentPlanner planner;
    Played out;
    int added = 0;
    bool paused = false;
    const auto take = [&](const SegmentPlanner::Segment& s) {
        out.segments.push_back(s);
        out.afterPause.push_back(paused);
        paused = false;
    };
    for (const auto& step : schedule.Steps(passes)) {
        if (step.direction == kDirNone) {
            if (planner.Break()) take(planner.Closed());
            paused = true;
            continue;
        }
        const uint8_t bit = step.direction == kDirLeft ? 0x40 : 0;
        if (planner.Add(step.time * kRate, step.period * kRate, bit, step.pass))
            take(planner.Closed());
        if (closeEvery > 0 && ++added % closeEvery == 0) {
            take(planner.Open());
            planner.Close();
        }
    }
    if (planner.Open().steps > 0) take(planner.Open());
    for (const auto& s : out.segments) {
        for (int32_t k = 0; k < s.steps; ++k) {
            out.ticks.push_back(s.refTick + k * s.period);
            out.directionBits.push_back(s.directionBit);
        }
    }
    return out;
}

// Every check that holds for a rate the module can play: the bound, the exact steps and their
// directions, no overlap, segments within the report's ranges, chained delays that fit.
void ExpectFaithful(const TStepSchedule& schedule, int32_t passes, const Played& played,
                    const std::string& where) {
    const auto ideal = schedule.MovingSteps(passes);
    ASSERT_EQ(played.ticks.size(), ideal.size()) << where;
    for (size_t i = 0; i < ideal.size(); ++i) {
        ASSERT_LE(std::fabs(static_cast<double>(played.ticks[i]) - ideal[i].time * kRate),
                  SegmentPlanner::kBoundTicks)
            << where << ", step " << i;
        ASSERT_EQ(played.directionBits[i], ideal[i].direction == kDirLeft ? 0x40 : 0)
            << where << ", step " << i;
    }
    for (size_t j = 0; j < played.segments.size(); ++j) {
        const auto& s = played.segments[j];
        ASSERT_GE(s.steps, 1) << where;
        ASSERT_LE(s.steps, kMaxSegmentSteps) << where;
        ASSERT_GE(s.period, 1) << where;
        ASSERT_LE(s.period, kMaxPeriodTicks) << where;
        if (j == 0) continue;
        const auto& before = played.segments[j - 1];
        const int64_t lastStep = before.refTick + (before.steps - 1) * before.period;
        ASSERT_GT(s.refTick, lastStep) << where << ", segment " << j << " overlaps";
        const int64_t delay = s.refTick - before.refTick;
        // Steps closer than a chained delay can reach stay chained (after a pause the host
        // may have to wait for the module's list to run empty).
        if (!played.afterPause[j] && s.refTick - lastStep < kMaxDelayTicks - 16) {
            ASSERT_LE(delay, kMaxDelayTicks) << where << ", segment " << j;
        }
    }
}

TEST(SegmentPlanner, GridOfProgramsPlaysEveryStepWithinTheBound) {
    for (double f : {1.0, 7.0, 100.0, 400.0, 999.0, 1000.0, 1500.0, 3000.0, 7812.0}) {
        for (double ramp : {0.0, 0.05, 0.2, 1.0}) {
            for (int32_t n : {1, 2, 7, 300, 1000}) {
                for (int closeEvery : {0, 3}) {
                    // Direction changes, a pause, a second program step at another rate, and
                    // two passes.
                    const TStepSchedule schedule({{n, f, ramp, kDirRight},
                                                  {n / 3, f / 2, 0.0, kDirNone},
                                                  {n, f, ramp, kDirLeft},
                                                  {n / 2 + 1, f / 3 + 1, ramp / 2, kDirLeft}},
                                                 /*looping=*/true);
                    const std::string where = std::to_string(f) + " Hz, ramp " +
                                              std::to_string(ramp) + " s, " + std::to_string(n) +
                                              " steps, closing every " + std::to_string(closeEvery);
                    ExpectFaithful(schedule, 2, Plan(schedule, 2, closeEvery), where);
                }
            }
        }
    }
}

TEST(SegmentPlanner, ConstantStretchesAreCheapAndTheirIntervalsEven) {
    struct Case {
        double f;
        double maxSegments;  // per 1000 steps
    };
    // 1000 Hz is 7.8125 ticks: 8 for about 75 steps, 7 for about 17, in turn. 1500 Hz (5.208)
    // and 400 Hz (19.53, 20 and 19 in turn) alike; exact rates fill whole segments of 255.
    for (const Case c : {Case{1000.0, 28}, Case{1500.0, 28}, Case{400.0, 42}, Case{7812.5, 4},
                         Case{7812.5 / 32, 4}}) {
        const TStepSchedule schedule({{1000, c.f, 0.0, kDirRight}});
        const Played played = Plan(schedule, 1);
        ExpectFaithful(schedule, 1, played, std::to_string(c.f) + " Hz");
        EXPECT_LE(played.segments.size(), c.maxSegments) << c.f;
        const double period = kRate / c.f;
        for (size_t i = 1; i < played.ticks.size(); ++i) {
            ASSERT_LE(
                std::fabs(static_cast<double>(played.ticks[i] - played.ticks[i - 1]) - period), 2.0)
                << c.f << " Hz, interval " << i;
        }
    }
}

TEST(SegmentPlanner, ANewDirectionANewPassOrAPauseBeginsANewSegment) {
    const TStepSchedule schedule({{3, 100.0, 0.0, kDirRight},
                                  {3, 100.0, 0.0, kDirLeft},
                                  {2, 100.0, 0.0, kDirNone},
                                  {3, 100.0, 0.0, kDirLeft}},
                                 true);
    const Played played = Plan(schedule, 2);
    ExpectFaithful(schedule, 2, played, "three records, two passes");
    ASSERT_EQ(played.segments.size(), 6u);
    for (const auto& s : played.segments)
        EXPECT_EQ(s.steps, 3);
    // The pause's 2 periods (156.25 ticks) pass between the second and third segments.
    EXPECT_NEAR(static_cast<double>(played.segments[2].refTick - played.segments[1].refTick),
                5 * 78.125, 1.0);
}

TEST(SegmentPlanner, AboveTheModulesClockStepsComeOneTickApartAndTheRestKeepsItsSpacing) {
    const TStepSchedule schedule({{100, 20000.0, 0.0, kDirRight}, {50, 500.0, 0.0, kDirRight}});
    const Played played = Plan(schedule, 1);
    ASSERT_EQ(played.ticks.size(), 150u);
    // The 100 fast steps (0.39 ticks apart) take a tick each, give or take the bound.
    EXPECT_LE(played.ticks[99] - played.ticks[0], 99 + 2 * 8);
    for (size_t i = 1; i < 150; ++i)
        ASSERT_GE(played.ticks[i] - played.ticks[i - 1], 1) << i;
    for (size_t i = 103; i < 150; ++i)
        ASSERT_NEAR(static_cast<double>(played.ticks[i] - played.ticks[i - 1]), 15.625, 1.0) << i;
}

}  // namespace
}  // namespace usb
