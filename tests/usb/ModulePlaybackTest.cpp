// ModulePlayback: a run cut short is placed by the plan at the tick the host gives the clear, then
// corrected to the phase the module reports. Each row places the clear some steps off the truth:
// within one step the correction finds the exact count, two steps off it keeps the phase only.
#include "usb/ModulePlayback.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include "motion/StepperMotor.h"

namespace usb {
namespace {

// The phase after `steps` signed steps from phase 0.
uint8_t PhaseAfter(int32_t steps) {
    uint8_t phase = 0;
    for (int32_t k = 0; k < std::abs(steps); ++k)
        phase = motion::TStepperMotor::NextPhase(phase,
                                                 steps > 0 ? motion::kDirRight : motion::kDirLeft);
    return phase;
}

TEST(ModulePlaybackTest, ACutShortRunIsCorrectedToTheReportedPhase) {
    struct Row {
        int sign;
        int32_t played;     // steps the module truly played before the clear
        int32_t placedOff;  // steps by which the host placed the clear late (+) or early (-)
        bool exact;
    };
    const Row rows[] = {
        {1, 57, 0, true},    {1, 57, 1, true}, {1, 57, -1, true}, {-1, 130, 1, true},
        {-1, 130, -1, true}, {1, 0, 1, true},  {1, 90, 2, false}, {-1, 91, -2, false},
    };
    for (const Row& row : rows) {
        ModulePlayback playback;
        playback.Begin(0, 0, {0, 0}, 0);
        // 200 steps 10 ticks apart from tick 1000, in two segments.
        playback.Sent(1000, 10, 120, row.sign, 0);
        playback.Sent(2200, 10, 80, row.sign, 0);
        const double placed = 1000 + 10.0 * (row.played + row.placedOff - 1) + 5;
        const int32_t estimate = playback.SettleAt(placed).moved;
        EXPECT_FALSE(playback.Active());
        const double fresh = placed + 20;  // the clear has surely reached the module
        playback.AwaitPhase(7, estimate, 0, fresh);
        EXPECT_FALSE(playback.PhaseReported(6, fresh, 0, 0));  // answers an earlier request
        const int32_t truth = row.sign * row.played;
        // Made before the clear surely arrived (a report the module sent on its own, taken for
        // the answer): its phase may be from before the clear, and it corrects nothing. The
        // first clock report made late enough asks for a status once.
        EXPECT_FALSE(playback.PhaseReported(7, fresh - 1, PhaseAfter(truth + 1), 0));
        EXPECT_FALSE(playback.AsksForFreshPhase(fresh - 1));
        EXPECT_TRUE(playback.AsksForFreshPhase(fresh));
        EXPECT_FALSE(playback.AsksForFreshPhase(fresh + 63));
        const std::optional<int32_t> delta = playback.PhaseReported(7, fresh, PhaseAfter(truth), 0);
        ASSERT_TRUE(delta.has_value()) << row.played << " " << row.placedOff;
        const int32_t corrected = estimate + *delta;
        if (row.exact) {
            EXPECT_EQ(corrected, truth) << row.played << " " << row.placedOff;
        } else {
            EXPECT_EQ((corrected - truth) % 4, 0) << row.played << " " << row.placedOff;
            EXPECT_LE(std::abs(corrected - truth), 4) << row.played << " " << row.placedOff;
        }
        EXPECT_FALSE(playback.PhaseReported(8, fresh, 0, 0));  // corrected once
    }
}

TEST(ModulePlaybackTest, NoCorrectionAfterThePositionWasSet) {
    ModulePlayback playback;
    playback.Begin(0, 0, {0, 0}, 3);
    playback.Sent(0, 10, 100, 1, 0);
    const int32_t estimate = playback.SettleAt(95).moved;
    playback.AwaitPhase(1, estimate, 3, 100);
    EXPECT_FALSE(playback.PhaseReported(1, 100, PhaseAfter(estimate + 1), 4));
}

}  // namespace
}  // namespace usb
