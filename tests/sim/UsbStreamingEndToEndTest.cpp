// End to end in virtual time: programs of four motors, streamed by the program's USB command
// protocol into the virtual module's firmware, checked step by step against the ideal schedule
// over a grid of rates (1 to 7812 Hz) and ramps (0 to 1 s), each with a direction change, a pause
// and a second program step at another rate: every step lands, in order, within the planner's
// 8 ticks of its ideal time at the run's rate, with no overlap and no underrun.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "testsupport/StreamingRig.h"

namespace sim::testing {
namespace {

using motion::kDirLeft;
using motion::kDirNone;
using motion::kDirRight;
using motion::TsmProgramStep;

std::vector<TsmProgramStep> GridProgram(double f, double ramp) {
    const int32_t n = std::clamp(static_cast<int32_t>(f * 0.4), 3, 1500);
    return {{n, f, ramp, kDirRight},
            {std::max(1, n / 5), f, 0.0, kDirNone},
            {n, f, ramp, kDirLeft},
            {n / 2 + 1, f / 3 + 1, ramp / 2, kDirLeft}};
}

TEST(UsbStreamingEndToEndTest, AGridOfProgramsPlaysEveryStepOnItsTime) {
    const double rates[] = {1.0, 7.0, 100.0, 400.0, 1000.0, 1500.0, 3000.0, 7812.0};
    const double ramps[] = {0.0, 0.2, 1.0};
    std::vector<std::pair<double, double>> grid;
    for (double f : rates)
        for (double ramp : ramps)
            grid.emplace_back(f, ramp);
    for (size_t first = 0; first < grid.size(); first += StreamingRig::kMotors) {
        StreamingRig rig;
        rig.OpenFor();  // started 2 s after the link opened
        for (int m = 0; m < StreamingRig::kMotors; ++m) {
            const auto [f, ramp] = grid[(first + m) % grid.size()];
            rig.SetProgram(m, GridProgram(f, ramp));
        }
        rig.StartAll();
        rig.RunToEnd(60000);
        for (int m = 0; m < StreamingRig::kMotors; ++m) {
            const auto [f, ramp] = grid[(first + m) % grid.size()];
            const std::string where = std::to_string(f) + " Hz, ramp " + std::to_string(ramp);
            const MotorFigures fig = rig.Figures(m);
            EXPECT_EQ(fig.played, fig.programmed) << where;
            EXPECT_TRUE(fig.inOrder) << where;
            EXPECT_EQ(fig.overlaps, 0) << where;
            EXPECT_EQ(fig.underruns, 0) << where;
            // The planner's bound at the module's true rate, which the host's calibration
            // knows to 0.01 % here (under 2 ticks over these runs); the best-fit rate also
            // takes up the planner's own swing within the bound over a short run.
            EXPECT_LE(fig.maxDeviation, 8.0 + 2.0) << where;
            EXPECT_LE(fig.rateErrPct, 0.1) << where;
            EXPECT_LE(fig.maxIntervalTicks, 2.0) << where;
            EXPECT_EQ(rig.Module().RejectedSegments(m + 1), 0u) << where;
        }
    }
}

// The link carries one output report per period: the host's writes reach the module that far
// apart, and a host that writes a burst waits in its write while the clock moves on.
TEST(UsbStreamingEndToEndTest, TheLinkCarriesOneOutputReportPerPeriod) {
    for (const uint64_t periodUs : {uint64_t{0}, uint64_t{1000}, uint64_t{2000}}) {
        StreamingRig::Options options;
        options.linkPeriodUs = periodUs;
        StreamingRig rig(options);
        rig.Open();  // the start-up sequence: a burst of reports
        rig.Run(500);
        for (int m = 0; m < StreamingRig::kMotors; ++m)
            rig.SetProgram(m, {{400, 4000.0, 0.05, kDirRight}});
        rig.StartAll();  // four motors' first segments at once
        rig.RunToEnd(5000);
        const std::vector<uint64_t>& carried = rig.CarriedUs();
        ASSERT_GT(carried.size(), 20u) << periodUs;
        uint64_t closest = UINT64_MAX;
        for (size_t k = 1; k < carried.size(); ++k) {
            ASSERT_GE(carried[k], carried[k - 1]) << periodUs;
            closest = std::min(closest, carried[k] - carried[k - 1]);
        }
        EXPECT_EQ(closest, periodUs) << "a burst goes out one report per period";
        EXPECT_LE(carried.back(), rig.HostUs()) << "the writer waited for its last report";
        for (int m = 0; m < StreamingRig::kMotors; ++m)
            EXPECT_EQ(rig.Figures(m).played, 400) << periodUs;
    }
}

// A stall holds the host's receive side: the module's reports wait in the reading handle's
// buffer (a clock report every 8 ms), the oldest dropped beyond 32, and all that waited is
// dispatched as soon as the stall ends.
TEST(UsbStreamingEndToEndTest, AStallHoldsTheReceiveSideAndDropsTheOldest) {
    struct Case {
        uint64_t stallMs;
        size_t buffered;   // at the stall's last millisecond, give or take one
        uint64_t dropped;  // give or take one
    };
    const Case cases[] = {{100, 12, 0}, {256, 32, 0}, {500, 32, 30}};
    for (const Case& c : cases) {
        StreamingRig rig;
        rig.Open();
        rig.Run(1000);
        rig.HoldReceive(c.stallMs);
        rig.Run(c.stallMs - 1);
        EXPECT_NEAR(static_cast<double>(rig.Link().Buffered(0)), static_cast<double>(c.buffered),
                    1.0)
            << c.stallMs;
        EXPECT_NEAR(static_cast<double>(rig.Link().Dropped(0)), static_cast<double>(c.dropped), 1.0)
            << c.stallMs;
        rig.Run(1);
        EXPECT_EQ(rig.Link().Buffered(0), 0u) << c.stallMs << ": dispatched when it ended";
    }
}

}  // namespace
}  // namespace sim::testing
