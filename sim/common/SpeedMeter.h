// SpeedMeter: each virtual motor's speed as the simulator's console shows it, measured from the
// steps the module played, not taken from what the program asked for.
//
// The speed is the mean step rate over the last half second (kWindowUs): the steps played in that
// window, n of them, span n - 1 intervals. A motor slower than two steps per window is measured
// from the interval between its last two steps. A motor counts as standing once its last step
// lies more than 1.5 of its measured intervals back, so a stop shows as 0 within a refresh or two
// at any rate. The sign is the direction of the last step: negative for left, as the position
// counts down.
//
// Times are the caller's microseconds (the module's step times), never going back. Memory is
// bounded by the steps of one window (at most one step per module tick: 3907 per motor).
// One thread; not thread-safe.
#pragma once

#include <array>
#include <cstdint>
#include <deque>

namespace sim {

class SpeedMeter {
  public:
    static constexpr int kMotors = 4;
    static constexpr uint64_t kWindowUs = 500000;

    // One step of motor (1 to 4) at timeUs; direction 1 = left, 2 = right. Other motors are
    // ignored.
    void Step(int motor, uint64_t timeUs, int direction);

    // Steps per second of motor (1 to 4) at nowUs: negative while it moves left, 0 when it
    // stands or has made fewer than two steps.
    double StepsPerSecond(int motor, uint64_t nowUs);

    // Forgets every step (the module was plugged in afresh).
    void Clear();

  private:
    struct Motor {
        std::deque<uint64_t> recent;  // step times within the window, oldest first
        uint64_t last = 0;            // the latest step
        uint64_t previous = 0;        // the one before it
        int seen = 0;                 // steps so far, counted up to 2
        bool left = false;            // direction of the latest step
    };
    static void Forget(Motor& m, uint64_t nowUs);

    std::array<Motor, kMotors> motors_;
};

}  // namespace sim
