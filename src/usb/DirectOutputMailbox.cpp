#include "usb/DirectOutputMailbox.h"

#include "motion/MotorProgram.h"
#include "motion/StepperMotor.h"

namespace usb {

void DirectOutputMailbox::Post(uint8_t phaseByte) {
    {
        std::lock_guard lock(mutex_);
        for (int i = 0; i < kMotors; ++i) {
            const uint8_t bit = Bit(i);
            if ((learnt_ & bit) != 0 && (hostOwns_ & bit) == 0) continue;
            latest_ = Replace(latest_, i, PhaseOf(phaseByte, i));
            if (Pending(i)) hostOwns_ |= bit;
        }
    }
    posted_.notify_one();
}

bool DirectOutputMailbox::MayChange(int motor) {
    std::lock_guard lock(mutex_);
    if (Pending(motor)) return false;
    hostOwns_ |= Bit(motor);
    return true;
}

std::optional<DirectOutputMailbox::Output> DirectOutputMailbox::Take() {
    std::lock_guard lock(mutex_);
    Output output;
    output.phaseByte = latest_;
    for (int i = 0; i < kMotors; ++i) {
        if (!Pending(i)) continue;
        output.changed |= Bit(i);
        const uint8_t from = PhaseOf(taken_, i);
        const uint8_t to = PhaseOf(latest_, i);
        output.direction[static_cast<size_t>(i)] =
            to == motion::TStepperMotor::NextPhase(from, motion::kDirRight)  ? motion::kDirRight
            : to == motion::TStepperMotor::NextPhase(from, motion::kDirLeft) ? motion::kDirLeft
                                                                             : motion::kDirNone;
    }
    if (output.changed == 0) return std::nullopt;
    taken_ = latest_;
    writing_ = output.changed;
    return output;
}

void DirectOutputMailbox::Written() {
    std::lock_guard lock(mutex_);
    writing_ = 0;
}

bool DirectOutputMailbox::WaitForPost(std::chrono::milliseconds timeout) {
    std::unique_lock lock(mutex_);
    posted_.wait_for(lock, timeout, [this] { return stopped_ || latest_ != taken_; });
    return !stopped_;
}

void DirectOutputMailbox::Stop() {
    {
        std::lock_guard lock(mutex_);
        stopped_ = true;
    }
    posted_.notify_all();
}

void DirectOutputMailbox::ModuleMoves(int motor) {
    std::lock_guard lock(mutex_);
    hostOwns_ = static_cast<uint8_t>(hostOwns_ & ~Bit(motor));
}

void DirectOutputMailbox::Reset(uint8_t phases) {
    std::lock_guard lock(mutex_);
    latest_ = phases;
    taken_ = phases;
    writing_ = 0;
    hostOwns_ = 0;
    learnt_ = 0;
}

}  // namespace usb
