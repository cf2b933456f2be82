// Test support shared by the motor, protocol and streaming tests: a motor's program replaced
// as a whole, under the motor's lock, as the window's editor leaves it.
#pragma once

#include <vector>

#include "motion/MotorProgram.h"
#include "motion/StepperMotor.h"

namespace testsupport {

inline void SetProgram(motion::TStepperMotor& motor,
                       const std::vector<motion::TsmProgramStep>& steps, bool looping = false) {
    auto program = motor.LockProgram();
    program->Clear();
    for (const motion::TsmProgramStep& step : steps)
        program->Add() = step;
    program->Looping = looping;
}

}  // namespace testsupport
