#include "ui/MotorViewBridge.h"

#include "motion/MotorProgram.h"
#include "ui/MotorIconGeometry.h"

namespace ui {

bool TMotorViewBridge::Step(int motor, uint8_t direction, bool programRunning) {
    if (!Valid(motor)) return false;
    float turn;
    int32_t delta;
    if (direction == motion::kDirRight) {
        turn = -6.0f;
        delta = 1;
    } else if (direction == motion::kDirLeft) {
        turn = 6.0f;
        delta = -1;
    } else {
        return false;
    }
    std::lock_guard lock(mutex_);
    State& state = states_[static_cast<size_t>(motor)];
    state.view.Angle = NormaliseIconAngle(state.view.Angle + turn);
    if (!programRunning) {
        // Wraps at the ends of the range instead of overflowing, as the position does.
        state.view.Tally = static_cast<int32_t>(static_cast<uint32_t>(state.view.Tally) +
                                                static_cast<uint32_t>(delta));
        state.view.TallyChanged = true;
    }
    if (state.notifying) return false;
    state.notifying = true;
    return true;
}

bool TMotorViewBridge::Turn(int motor, int32_t steps) {
    if (!Valid(motor) || steps == 0) return false;
    // Only the steps modulo a turn matter: 60 steps of 6 degrees.
    const float turn = static_cast<float>(steps % 60) * -6.0f;
    std::lock_guard lock(mutex_);
    State& state = states_[static_cast<size_t>(motor)];
    state.view.Angle = NormaliseIconAngle(state.view.Angle + turn);
    if (state.notifying) return false;
    state.notifying = true;
    return true;
}

void TMotorViewBridge::NotifyFailed(int motor) {
    if (!Valid(motor)) return;
    std::lock_guard lock(mutex_);
    states_[static_cast<size_t>(motor)].notifying = false;
}

TMotorViewBridge::View TMotorViewBridge::Take(int motor, bool release) {
    if (!Valid(motor)) return {};
    std::lock_guard lock(mutex_);
    State& state = states_[static_cast<size_t>(motor)];
    const View view = state.view;
    if (release) state.notifying = false;
    state.view.TallyChanged = false;
    return view;
}

int32_t TMotorViewBridge::Tally(int motor) const {
    if (!Valid(motor)) return 0;
    std::lock_guard lock(mutex_);
    return states_[static_cast<size_t>(motor)].view.Tally;
}

void TMotorViewBridge::ZeroAngle(int motor) {
    if (!Valid(motor)) return;
    std::lock_guard lock(mutex_);
    states_[static_cast<size_t>(motor)].view.Angle = 0.0f;
}

void TMotorViewBridge::ZeroTally(int motor) {
    if (!Valid(motor)) return;
    std::lock_guard lock(mutex_);
    states_[static_cast<size_t>(motor)].view.Tally = 0;
    states_[static_cast<size_t>(motor)].view.TallyChanged = false;
}

void TMotorViewBridge::Clear() {
    std::lock_guard lock(mutex_);
    states_.fill(State{});
}

}  // namespace ui
