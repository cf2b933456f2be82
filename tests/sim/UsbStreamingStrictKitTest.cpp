// Streaming against the kit as strict as the hardware, in virtual time: status reports sent
// unasked, input reports buffered per handle, one output report per link period, every late
// segment an underrun. Each row is a set of programs started together 2 s after the link
// opened: every step lands, in order, within the planner's bound, with no overlap, underrun or
// dropped segment, and the motors take their first steps within 8 ticks of each other.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "sim/StreamingRig.h"

namespace sim::testing {
namespace {

using motion::kDirLeft;
using motion::kDirNone;
using motion::kDirRight;
using motion::TsmProgramStep;

struct Row {
    const char* name;
    uint64_t linkPeriodUs;
    std::vector<std::vector<TsmProgramStep>> programs;  // motors 1 to 4
};

TEST(UsbStreamingStrictKitTest, EveryStepOnTimeWhateverTheReportsAndTheLink) {
    const Row rows[] = {
        // Motor 2's list runs empty early and the module says so on its own.
        {"an unasked report beside a 1000 Hz run",
         1000,
         {{{2000, 1000, 0, kDirRight}}, {{20, 100, 0, kDirLeft}}, {}, {{3, 10, 0, kDirRight}}}},
        {"four ramps up to 7000 steps/s",
         1000,
         {{{3000, 7000, 0.3, kDirRight}},
          {{2000, 5000, 0.2, kDirLeft}},
          {{1500, 3000, 0.1, kDirRight}},
          {{1000, 2000, 0.05, kDirLeft}}}},
        {"a slow stretch, then a steep ramp",
         1000,
         {{{3, 3, 0, kDirRight}, {3000, 6000, 0.1, kDirRight}},
          {{2000, 1000, 0, kDirLeft}},
          {{800, 400, 0.2, kDirRight}},
          {}}},
        {"a steep ramp on the 2 ms link",
         2000,
         {{{2000, 3000, 0.1, kDirRight}}, {{1000, 1000, 0.05, kDirLeft}}, {}, {}}},
    };
    for (const Row& row : rows) {
        StreamingRig::Options options;
        options.linkPeriodUs = row.linkPeriodUs;
        StreamingRig rig(options);
        rig.Open();
        rig.Run(2000);
        for (int m = 0; m < StreamingRig::kMotors; ++m)
            rig.SetProgram(m, row.programs[m]);
        rig.StartAll();
        rig.RunToEnd(60000);
        double first = 1e300, last = -1e300;
        for (int m = 0; m < StreamingRig::kMotors; ++m) {
            const std::string where = std::string(row.name) + ", motor " + std::to_string(m + 1);
            const MotorFigures f = rig.Figures(m);
            EXPECT_EQ(f.played, f.programmed) << where;
            EXPECT_TRUE(f.inOrder) << where;
            EXPECT_EQ(f.overlaps, 0) << where;
            EXPECT_EQ(f.underruns, 0) << where;
            EXPECT_EQ(rig.Module().RejectedSegments(m + 1), 0u) << where;
            if (f.programmed == 0) continue;
            EXPECT_LE(f.maxDeviation, 8.0 + 1.0) << where;
            first = std::min(first, f.startTicks);
            last = std::max(last, f.startTicks);
        }
        EXPECT_LE(last - first, 8.0) << row.name << ": start skew";
    }
}

TEST(UsbStreamingStrictKitTest, StepsFasterThanTheTickPlayOnePerTickWithoutUnderrun) {
    struct Case {
        double frequency;
        int32_t steps;
    };
    for (const Case c : {Case{20000, 3000}, Case{100000, 5000}}) {
        StreamingRig rig;
        rig.Open();
        rig.Run(2000);
        rig.SetProgram(0, {{c.steps, c.frequency, 0, kDirRight}});
        rig.StartAll();
        rig.RunToEnd(20000);
        const auto& played = rig.Played(0);
        ASSERT_EQ(played.size(), static_cast<size_t>(c.steps)) << c.frequency;
        for (size_t k = 1; k < played.size(); ++k)
            ASSERT_EQ(played[k].elapsed - played[k - 1].elapsed, 1u)
                << c.frequency << " step " << k;
        EXPECT_EQ(rig.Module().Underruns(1), 0u) << c.frequency;
        EXPECT_EQ(rig.Module().Overlaps(1), 0u) << c.frequency;
    }
}

TEST(UsbStreamingStrictKitTest, AStartOnARunningMotorPlaysTheNewRunAlone) {
    StreamingRig rig;
    rig.Open();
    rig.Run(2000);
    const std::vector<TsmProgramStep> program{{2000, 1000, 0, kDirRight}};
    rig.SetProgram(0, program);
    rig.StartAll();
    rig.Run(300);  // the module's list holds up to some 300 steps ahead now
    const size_t before = rig.Played(0).size();
    ASSERT_GT(before, 0u);
    rig.StartAll();
    const size_t atRestart = rig.Played(0).size();
    rig.RunToEnd(20000);
    EXPECT_LE(atRestart - before, 1u);  // nothing of the old run plays after the start
    EXPECT_EQ(rig.Played(0).size() - atRestart, 2000u);
    EXPECT_EQ(rig.Module().Underruns(1), 0u);
    EXPECT_EQ(rig.Module().Overlaps(1), 0u);
    EXPECT_EQ(rig.Module().RejectedSegments(1), 0u);
}

// The window follows the module: the host's position is the kit's own count after a run that
// ends by itself, and after one cut short (a Stop, or a start that replaces the run) once the
// phase in the next status report has corrected the estimate. Up to 1000 steps/s that is exact;
// faster, the estimate placed by the plan may be off by more than a step, and the correction
// then keeps only the phase: a multiple of 4 steps off, and not far.
TEST(UsbStreamingStrictKitTest, ThePositionIsTheModulesCountAfterARun) {
    enum End { kRunsOut, kStop, kRestart };
    struct Row {
        const char* name;
        TsmProgramStep step;
        End end;
        uint64_t endAfterMs;  // after the start
        bool exact;
    };
    const Row rows[] = {
        {"100 steps/s to its end", {150, 100, 0, kDirRight}, kRunsOut, 0, true},
        {"1000 steps/s to its end", {1500, 1000, 0.2, kDirLeft}, kRunsOut, 0, true},
        {"5000 steps/s to its end", {6000, 5000, 0.2, kDirRight}, kRunsOut, 0, true},
        {"100 steps/s stopped", {600, 100, 0, kDirRight}, kStop, 1237, true},
        {"1000 steps/s stopped", {3000, 1000, 0, kDirLeft}, kStop, 777, true},
        {"1000 steps/s stopped on its ramp", {3000, 1000, 0.4, kDirRight}, kStop, 201, true},
        {"1000 steps/s replaced by a start", {3000, 1000, 0, kDirRight}, kRestart, 555, true},
        {"5000 steps/s stopped", {9000, 5000, 0, kDirRight}, kStop, 613, false},
        {"5000 steps/s replaced by a start", {9000, 5000, 0, kDirLeft}, kRestart, 402, false},
    };
    for (const Row& row : rows) {
        StreamingRig rig;
        rig.Open();
        rig.Run(2000);
        rig.SetProgram(0, {row.step});
        rig.StartAll();
        int32_t moved = 0;  // the display moves during the run
        for (uint64_t t = 0; t < (row.end == kRunsOut ? 300 : row.endAfterMs); t += 10) {
            rig.Run(10);
            const int32_t host = rig.Motor(0).Position();
            const int32_t module = rig.Module().Position(1);
            // Within the steps of two clock reports of the module's count.
            EXPECT_LE(std::abs(host - module), row.step.Frequency * 0.016 + 1)
                << row.name << " at " << t << " ms";
            moved = std::max(moved, std::abs(host));
        }
        EXPECT_GT(moved, 0) << row.name;
        if (row.end == kStop) {
            rig.Motor(0).Stop();
            rig.Protocol().ClearCommandList(1);
            // A jog from here steps on from the module's phase, not a stale one.
            if (row.exact) {
                EXPECT_EQ(rig.Motor(0).Phase(), rig.Module().Phase(1)) << row.name;
            }
        } else if (row.end == kRestart) {
            rig.StartAll();
        }
        rig.RunToEnd(60000);
        rig.Run(100);
        const int32_t host = rig.Motor(0).Position();
        const int32_t module = rig.Module().Position(1);
        if (row.exact) {
            EXPECT_EQ(host, module) << row.name;
        } else {
            EXPECT_EQ((host - module) % 4, 0) << row.name << ": host " << host;
            EXPECT_LE(std::abs(host - module), 8) << row.name << ": host " << host;
        }
        EXPECT_EQ(rig.Module().Underruns(1), 0u) << row.name;
        EXPECT_EQ(rig.Module().Overlaps(1), 0u) << row.name;
    }
}

// The program step shown follows the steps the module plays, not the fill, which runs ahead:
// each row is a moment of a run of three program steps, and the step being played then.
TEST(UsbStreamingStrictKitTest, TheShownProgramStepIsThePlayedOne) {
    struct Row {
        uint64_t atMs;  // after the start
        int32_t stepIndex;
    };
    StreamingRig rig;
    rig.Open();
    rig.Run(2000);
    // About 50 ms of lead, then 1 s of steps, a 0.5 s pause, 1 s of steps to the left.
    rig.SetProgram(0, {{500, 500, 0, kDirRight}, {50, 100, 0, kDirNone}, {500, 500, 0, kDirLeft}});
    rig.StartAll();
    uint64_t now = 0;
    for (const Row row : {Row{400, 0}, Row{900, 0}, Row{1250, 1}, Row{1500, 1}, Row{1900, 2}}) {
        rig.Run(row.atMs - now);
        now = row.atMs;
        EXPECT_EQ(rig.Motor(0).StepIndex(), row.stepIndex) << row.atMs << " ms";
        EXPECT_GT(rig.Motor(0).StepCounter(), 0) << row.atMs << " ms";
    }
    rig.RunToEnd(10000);
    EXPECT_EQ(rig.Motor(0).Position(), rig.Module().Position(1));
    EXPECT_EQ(rig.Motor(0).Position(), 0);
}

}  // namespace
}  // namespace sim::testing
