// What the program editor needs of a motor: its program, handed out only under the lock that
// keeps the motor's sequencer (timer thread, USB receive thread) from reading it meanwhile, and
// the program step the motor is carrying out. EditedStepperMotor adapts a TStepperMotor; tests
// put a plain program behind it.
#pragma once

#include <cstdint>
#include <functional>

#include "motion/MotorProgram.h"

namespace project {

class EditedMotor {
  public:
    // Runs edit on the motor's program while holding the motor's lock. Called on the window's
    // thread; edit must not call back into the motor.
    virtual void EditProgram(const std::function<void(motion::TsmProgram&)>& edit) = 0;
    // The index of the program step the motor is carrying out (TStepperMotor::StepIndex).
    // Called on the window's thread.
    virtual int32_t StepIndex() const = 0;

  protected:
    ~EditedMotor() = default;
};

}  // namespace project
