// DirectOutputMailbox: the four motor phases on their way to the module as direct output,
// between the threads that step the motors and the one writer that waits for the link.
//
// Promises:
// - A step never waits for the link: its thread posts the phases as they stand and goes on. The
//   writer takes the latest phases whenever the link is free, so every report carries every
//   motor's latest phase, and the steps that come while a report is on its way share the next.
// - No motor changes twice between two outputs taken: MayChange refuses a motor whose last
//   change the writer has not taken yet (the motor would skip a phase code, a lost step), and
//   its step waits for the link instead.
// - A status report's phase of a motor replaces the host's only when the module has moved that
//   motor itself since the host last set it (a run or reset played by the module, or the link's
//   opening), and no change of that motor waits or is being written. Otherwise the report may
//   have been made before the host's latest output reached the module, and would set the motor
//   back by a step that the next output then sends again.
//
// Thread-safe; one lock, held only for a few field updates (and for the caller's phase update in
// TakeModulePhase, which must not wait for anything).
#pragma once

#include <array>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <optional>

namespace usb {

class DirectOutputMailbox {
  public:
    static constexpr int kMotors = 4;

    // What the writer takes: the phase byte to send (motor 1 in bits 0 and 1), the motors it
    // changes (bit i = motor index i) and, for each changed motor, the direction of its one
    // step (motion::kDirRight or kDirLeft; kDirNone when the change is not one step).
    struct Output {
        uint8_t phaseByte = 0;
        uint8_t changed = 0;
        std::array<uint8_t, kMotors> direction{};
    };

    // Any thread: the four phases after a step. Never waits for the link. A motor whose phase
    // was learnt from the module keeps that phase until a step of it claims it (MayChange).
    void Post(uint8_t phaseByte);
    // The thread about to step motor i: false while its last change has not been taken. True
    // claims the motor for the host: from now on no status report sets its phase.
    bool MayChange(int motor);

    // Writer: the latest phases when any motor changed since the last output taken; the changed
    // motors count as being written until Written.
    std::optional<Output> Take();
    void Written();
    // Writer: waits until a change is posted, Stop is called or timeout passes; false once
    // stopped.
    bool WaitForPost(std::chrono::milliseconds timeout);
    void Stop();

    // The module moves motor i by itself (a run or a reset it plays): its phase in the module is
    // the truth until the host changes it again.
    void ModuleMoves(int motor);
    // The link is (re)opened: nothing waits, nothing is being written, and the module's phases
    // are the truth for every motor. `phases` is what the host holds now.
    void Reset(uint8_t phases);

    // Receive thread: when the module's phase of motor i may replace the host's (see above),
    // calls set(phase) under the lock, so that no step of the motor can come in between, and
    // returns true.
    template <typename Set>
    bool TakeModulePhase(int motor, uint8_t phase, Set&& set) {
        std::lock_guard lock(mutex_);
        const uint8_t bit = Bit(motor);
        if ((hostOwns_ & bit) != 0 || (writing_ & bit) != 0 || Pending(motor)) return false;
        set(phase);
        learnt_ |= bit;
        taken_ = Replace(taken_, motor, phase);
        latest_ = Replace(latest_, motor, phase);
        return true;
    }

  private:
    static uint8_t Bit(int motor) { return static_cast<uint8_t>(1u << motor); }
    static uint8_t PhaseOf(uint8_t phases, int motor) {
        return static_cast<uint8_t>(phases >> (2 * motor) & 3);
    }
    static uint8_t Replace(uint8_t phases, int motor, uint8_t phase) {
        const int shift = 2 * motor;
        return static_cast<uint8_t>((phases & ~(3u << shift)) | (phase & 3u) << shift);
    }
    bool Pending(int motor) const { return PhaseOf(latest_, motor) != PhaseOf(taken_, motor); }

    std::mutex mutex_;
    std::condition_variable posted_;
    uint8_t latest_ = 0;    // the phases last posted
    uint8_t taken_ = 0;     // the phases of the last output taken (the module's, where taken)
    uint8_t writing_ = 0;   // motors changed by the output being written
    uint8_t hostOwns_ = 0;  // motors the host has set since the module last moved them
    // Motors whose phase was learnt from the module since the opening. A post's phase of such a
    // motor counts only once the host owns it again (a step claimed it): until then it may be
    // a phase read before the module's was taken.
    uint8_t learnt_ = 0;
    bool stopped_ = false;
};

}  // namespace usb
