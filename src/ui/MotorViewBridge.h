// TMotorViewBridge: what the window shows of the motors' steps, apart from any window, so it is
// tested natively. Per motor it keeps the symbol's angle and the jog tally, and coalesces the
// notifications to the window: a step on a timer thread asks for one notification only while
// none is on its way, and the window's thread takes the whole view when it arrives.
//
// Step arithmetic: a step to the right turns the symbol by -6 degrees (clockwise on screen) and
// counts the tally up, a step to the left +6 degrees and down; any other direction is no step.
// The tally counts only steps taken while the motor runs no program (jog, space key, reset
// drive); the Steps field and the direction button show it.
//
// Threads: Step and Turn on any thread (timer threads, the receive thread, the window's thread);
// the rest on the window's thread. One lock guards the four views; nothing is called under it.
#pragma once

#include <array>
#include <cstdint>
#include <mutex>

namespace ui {

class TMotorViewBridge {
  public:
    static constexpr int kMotors = 4;

    struct View {
        float Angle = 0.0f;
        int32_t Tally = 0;
        bool TallyChanged = false;  // the Steps field and the direction button are to be rewritten
    };

    // One step of the motor. False when it is no step (a direction other than left or right, or
    // a motor outside 0..3) or when a notification is already on its way; true when the caller
    // is to notify the window (and, should that fail, call NotifyFailed).
    bool Step(int motor, uint8_t direction, bool programRunning);
    // Steps the module played of a run (signed: right positive): the symbol turns by them, the
    // tally stays. Returns as Step does.
    bool Turn(int motor, int32_t steps);
    void NotifyFailed(int motor);
    // At the window's notification: the view, with the tally's change taken. release: the next
    // step may notify again; false keeps the notifications back until a Take that releases
    // (the window shows a motor's steps at most so often).
    View Take(int motor, bool release = true);

    int32_t Tally(int motor) const;
    // The angle back to 0 (a reset, a click on the position display).
    void ZeroAngle(int motor);
    // The tally back to 0; a change still to be shown is dropped with it (the window writes
    // the fields itself).
    void ZeroTally(int motor);
    // Everything back to the start (the window's creation).
    void Clear();

  private:
    struct State {
        View view;
        bool notifying = false;  // a notification is on its way, or they are held back
    };
    static bool Valid(int motor) { return motor >= 0 && motor < kMotors; }

    mutable std::mutex mutex_;
    std::array<State, kMotors> states_{};
};

}  // namespace ui
