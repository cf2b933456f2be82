// End to end in virtual time: ramped programs of four motors, streamed by the program's USB
// command protocol into the virtual module's firmware, land every step, in order, at the times
// the ramp formula gives.
//
// The tolerance is the protocol's own: a record of up to 255 steps of equal period goes out with
// that period rounded to whole module ticks, so its last step may be off by half a tick per step
// before it (up to 127 ticks), and where the rounding made a record longer than the program's
// time to the next one, the next starts late by that much; a delay adds half a tick. Measured
// with the programs below: at most 76 ticks (under 10 ms), means 20 to 55 ticks.
#include <gtest/gtest.h>

#include <vector>

#include "sim/StreamingRig.h"

namespace sim::testing {
namespace {

using motion::kDirLeft;
using motion::kDirNone;
using motion::kDirRight;

TEST(UsbStreamingEndToEndTest, RampedProgramsLandEveryStepOnTime) {
    StreamingRig rig;
    rig.Open();
    rig.Run(300);  // the host's clock calibration has its 20 pairs
    rig.SetProgram(0, {{2000, 2000.0, 0.5, kDirRight}});
    rig.SetProgram(1, {{600, 1000.0, 0.2, kDirLeft}, {300, 1000.0, 0.2, kDirRight}});
    rig.SetProgram(
        2,
        {{300, 500.0, 0.0, kDirRight}, {100, 500.0, 0.0, kDirNone}, {300, 500.0, 0.0, kDirLeft}});
    rig.SetProgram(3, {{1500, 2500.0, 0.3, kDirRight}, {40, 50.0, 0.4, kDirLeft}});
    rig.StartAll();
    rig.RunToEnd(20000);

    for (int m = 0; m < StreamingRig::kMotors; ++m) {
        const MotorFigures f = rig.Figures(m);
        EXPECT_EQ(f.played, f.programmed) << "motor " << m + 1;
        EXPECT_TRUE(f.inOrder) << "motor " << m + 1;
        EXPECT_EQ(f.underruns, 0) << "motor " << m + 1;
        EXPECT_LE(f.maxDeviation, 128.0) << "motor " << m + 1;
        EXPECT_LE(f.meanDeviation, 64.0) << "motor " << m + 1;
    }
}

}  // namespace
}  // namespace sim::testing
