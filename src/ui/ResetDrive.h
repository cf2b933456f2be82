// TResetDrive: the reset drive on the parallel port. Every motor stops; then, in passes paced by
// the slowest maximum frequency below 1000 Hz, each motor taking part steps in its reset
// direction until its reference switch (a status bit of the port) is set, for 10 s at most.
// Its waits (the pause between passes, each motor's rate limit) are taken in slices of 20 ms
// that run the window's messages in a nested loop, so every control stays usable, and a Reset
// click, Esc or the 10 s limit end it at once at any maximum frequency.
//
// The window may be closed inside that loop. The drive then learns it from the window-gone
// token it was given and returns at once without touching the form; the form itself is kept
// alive until its outermost message handler has returned.
//
// Threads: the window's thread only.
#pragma once

#include <array>
#include <functional>
#include <memory>

#include "motion/ParallelPort.h"
#include "motion/StepperMotor.h"
#include "platform/Desktop.h"
#include "platform/TimerService.h"

namespace ui {

class TResetDrive {
  public:
    struct Ports {
        void* window;  // the main window (HWND), whose keyboard the nested loop keeps working
        platform::TimerService& timers;
        platform::Desktop& desktop;
        motion::TParallelPort& port;
        std::array<motion::TStepperMotor*, 4> motors;
    };
    enum class Result { kEnded, kWindowGone };

    // stopMotor: the window's Stop of a motor. cancelled: asked after each pass's messages
    // (the reset-idle flag, a newer drive). windowAlive: false once the window is destroyed.
    TResetDrive(const Ports& ports, std::function<void(int)> stopMotor,
                std::function<bool()> cancelled, std::shared_ptr<const bool> windowAlive);

    // Drives target t (0: all motors, 1 to 4: that motor).
    Result Run(int t);

  private:
    Ports ports_;
    std::function<void(int)> stopMotor_;
    std::function<bool()> cancelled_;
    std::shared_ptr<const bool> windowAlive_;
};

}  // namespace ui
