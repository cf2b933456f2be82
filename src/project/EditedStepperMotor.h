// The EditedMotor of a real TStepperMotor: program edits run under the motor's own lock
// (LockProgram), so a motor that is running while the operator edits its program never reads
// a half-changed or reallocated program.
#pragma once

#include "motion/StepperMotor.h"
#include "project/EditedMotor.h"

namespace project {

class EditedStepperMotor final : public EditedMotor {
  public:
    explicit EditedStepperMotor(motion::TStepperMotor& motor) : motor_(motor) {}

    void EditProgram(const std::function<void(motion::TsmProgram&)>& edit) override {
        auto program = motor_.LockProgram();
        edit(*program);
    }
    int32_t StepIndex() const override { return motor_.StepIndex(); }

  private:
    motion::TStepperMotor& motor_;
};

}  // namespace project
