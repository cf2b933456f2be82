// A ramp time whose ramp cannot be played (1e-320 s: f/T overflows) in a real run of the
// sequencer: host-timed, every step at 1/f and the run ends by itself; pulled (the module's
// streaming), every period handed out positive and the end of the program reached.
#include <gtest/gtest.h>

#include "MotorTestSupport.h"

namespace motion {
namespace {

TEST(ExtremeRampRun, ARampTimeOf1e320PlaysEveryStepInBothWays) {
    for (const double rampTime : {1e-320, 5e-324, 1e-300}) {
        platform::VirtualTimerService service;
        TStepperMotor motor{0, service};
        MotorRecorder recorder{service};
        recorder.Attach(motor);
        SetProgram(motor, {{4, 100.0, rampTime, kDirRight}});
        motor.StartProgram();
        service.Advance(1000);
        EXPECT_EQ(recorder.Trace(), "R@0 R@10 R@20 R@30 F@40 C@40") << rampTime;
        EXPECT_FALSE(motor.Running()) << rampTime;

        motor.Stop();
        motor.SetRunning(true);
        int periods = 0;
        for (double p = motor.NextPeriod(); p != TStepperMotor::kEndOfProgram && periods < 10;
             p = motor.NextPeriod()) {
            EXPECT_DOUBLE_EQ(p, 0.01) << rampTime << " step " << periods;
            motor.AdvanceStep();
            ++periods;
        }
        EXPECT_EQ(periods, 4) << rampTime;
        EXPECT_FALSE(motor.Running()) << rampTime;
    }
}

}  // namespace
}  // namespace motion
