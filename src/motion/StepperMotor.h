// TStepperMotor: the per-motor engine. It turns a motor program into single motor steps with
// trapezoidal (or, for short moves, triangular) speed ramps, advances the 2-bit Gray phase code
// and the position counter, and raises the step, step-changed and finished callbacks.
//
// Two ways of running, chosen by the window for the port setting:
// - host-timed (parallel port, "USB (slow)", jogging): the motor's own TMultiMediaTimer calls
//   TimerEvent once per step; Tick emits the step and re-times the timer with the next period;
// - pulled ("USB"): the USB receive thread asks NextPeriod / CurrentDirection / AdvanceStep and
//   hands the module timed command entries; the motor only keeps its place in the program.
//
// Threads: the window's thread, the timer thread and the USB receive thread all call in. One
// mutex per motor guards the program and every field; it is never held while a callback runs,
// while the timer is disarmed (the kill waits for a running event) or while the rate limiter
// sleeps, so a callback may call back into this motor or start another one.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>

#include "motion/Callback.h"
#include "motion/MotorProgram.h"
#include "motion/MultiMediaTimer.h"
#include "motion/StepGate.h"
#include "motion/TextDisplay.h"
#include "platform/TimerService.h"

namespace motion {

class TStepperMotor {
  public:
    using StepEvent = Callback<int32_t /*motorIndex*/, uint8_t /*direction*/>;
    using MotorEvent = Callback<int32_t /*motorIndex*/>;

    // NextPeriod's answer when no further step follows (about 3.2 million years).
    static constexpr double kEndOfProgram = 99999999999999.0;

    // The program, held under the motor's lock for as long as this object lives. Call no other
    // method of the same motor while holding it.
    class ProgramAccess {
      public:
        TsmProgram* operator->() const { return &program_; }
        TsmProgram& operator*() const { return program_; }

      private:
        friend class TStepperMotor;
        ProgramAccess(std::mutex& mutex, TsmProgram& program) : lock_(mutex), program_(program) {}
        std::unique_lock<std::mutex> lock_;
        TsmProgram& program_;
    };

    TStepperMotor(int32_t motorIndex, platform::TimerService& timers);
    // Destroys the timer (no event after that), then the program. Not from this motor's events.
    ~TStepperMotor();
    TStepperMotor(const TStepperMotor&) = delete;
    TStepperMotor& operator=(const TStepperMotor&) = delete;

    // Period in seconds between step i and step i + 1 of a program step (the ramp formula, kept
    // by TStepSchedule).
    static double RampPeriod(const TsmProgramStep& step, int32_t i);
    // The phase code after one step in direction; a code outside 0..3 is followed by 0.
    static uint8_t NextPhase(uint8_t phase, uint8_t direction);

    // Host-timed start, from where the last run left off (the first step after Stop or an end).
    void StartProgram();
    // Back to idle at the first program step; the timer is disarmed when it returns. A pass
    // the module has yet to finish is given up (PassCompleted cleared), so the end of a stopped
    // run never carries "Run in order" on, and a rate-limiter wait in progress ends at once
    // without its step.
    void Stop();
    // Running for a pulled run (the window's start in "USB"): the timer never plays it.
    void SetRunning(bool value);
    // stepAtOnce: the jog's first step is taken by the timer thread at once instead of by the
    // caller, so that a rate-limiter wait never holds the caller (the window's thread).
    void StartJog(uint8_t direction, bool stepAtOnce = false);
    // One step: rate limiter, phase, OnStep, position, position display.
    void Step(uint8_t direction);
    // The step, only when the rate limiter lets it through at once; false (and nothing done)
    // when it would have to wait. For the window's thread, which must not sleep.
    bool TryStep(uint8_t direction);
    // One host-timed program step (on the timer thread, and once from StartProgram).
    void Tick();
    // The timer's handler: Tick while Running, else Step(JogDirection) while Jogging.
    void TimerEvent();

    // Pulled interface, for the USB receive thread while Running. NextPeriod of a motor that
    // is not Running is 0 and changes nothing, so a fill that races a Stop takes no step.
    double NextPeriod();
    void AdvanceStep();
    uint8_t CurrentDirection();

    ProgramAccess LockProgram() { return ProgramAccess(mutex_, program_); }

    void SetOnStep(StepEvent handler);
    void SetOnStepChanged(MotorEvent handler);
    void SetOnFinished(MotorEvent handler);
    void SetPositionDisplay(TextDisplay* display);
    // Asked before every step (null: every step may go). While it refuses, a timer event tries
    // again a millisecond later without stepping, and a window step (TryStep) is not taken.
    void SetStepGate(StepGate* gate);

    int32_t MotorIndex() const { return motorIndex_; }
    TMultiMediaTimer& Timer() { return timer_; }

    // Field access, each under the motor's lock.
    bool Running() const;
    bool Jogging() const;
    uint8_t JogDirection() const;
    int32_t StepIndex() const;
    int32_t StepCounter() const;
    double NextAllowedTime() const;
    double Period() const;
    double NextStepTime() const;
    int32_t PassCount() const;
    // Pulled: the ideal time of the step NextPeriod last returned, in seconds from the run's
    // start (TStepSchedule's time: pauses and passes included).
    double StepDue() const;

    uint8_t Phase() const;
    void SetPhase(uint8_t value);
    int32_t Position() const;
    void SetPosition(int32_t value);
    bool Finished() const;
    void SetFinished(bool value);
    bool PassCompleted() const;
    void SetPassCompleted(bool value);
    // The module has played a completed pass: PassCompleted cleared and Finished set, in one
    // step under the lock. False (and nothing changed) when no pass was completed, also when a
    // Stop came first.
    bool TakeCompletedPass();
    // The current or last run is host-timed (StartProgram) rather than pulled (SetRunning).
    bool HostTimed() const;
    // No run of this motor goes on anywhere: not Running, and a pulled run's module has played
    // its end (Finished). A host-timed run that has ended is idle although it leaves Finished
    // false.
    bool Idle() const;
    // A pulled run is going on: streamed, or still playing in the module.
    bool RunsInModule() const;
    double LastSentTime() const;
    void SetLastSentTime(double value);
    double ControlFrequency() const;
    void SetControlFrequency(double value);
    double MaxFrequency() const;
    void SetMaxFrequency(double value);
    uint8_t ResetDirection() const;
    void SetResetDirection(uint8_t value);

  private:
    void SetRunningLocked(bool value);
    // The step gate lets this motor step now (no lock held).
    bool MayStep() const;
    // A timer event that the gate refused: the same work a millisecond later.
    void RetryShortly(bool jog);
    double JogInterval() const;  // under the lock
    // The rate limiter's wait of ms milliseconds, in slices that a Stop ends; false when a
    // Stop came during it (the step is then not taken).
    bool LimiterWait(uint32_t ms, uint32_t stops);
    // Step and TryStep; false when the step was not taken.
    bool TakeStep(uint8_t direction, bool mayWait);
    // Host-timed, under the lock: the interval in seconds from the step about to be emitted
    // (step StepCounter of step) to the next one, on the run's millisecond grid.
    double HostInterval(const TsmProgramStep& step);
    static int64_t WholeMs(double seconds);

    // Declared first so that it outlives the timer, whose events take it.
    mutable std::mutex mutex_;
    platform::TimerService& timers_;

    double nextAllowedTime_ = 0;
    uint8_t jogDirection_ = kDirNone;
    bool running_ = false;
    double period_ = 0;
    double lastSentTime_ = 0;
    double nextStepTime_ = 0;
    bool passCompleted_ = false;
    bool finished_ = true;
    int32_t passCount_ = 0;
    const int32_t motorIndex_;
    uint8_t phase_ = 0;
    StepEvent onStep_;
    TsmProgram program_;
    MotorEvent onStepChanged_;
    MotorEvent onFinished_;
    double controlFrequency_ = 10.0;
    double maxFrequency_ = 1000.0;
    int32_t stepIndex_ = 0;
    int32_t stepCounter_ = 0;
    bool jogging_ = false;
    TextDisplay* positionDisplay_ = nullptr;
    StepGate* stepGate_ = nullptr;
    int32_t position_ = 0;
    uint8_t resetDirection_ = kDirRight;
    // A step was taken or handed out since the current pass over the program began. A looping
    // program whose pass took none would pass its end forever; such a pass ends the run.
    bool stepInPass_ = false;
    bool hostTimed_ = false;
    // The next jog event is the jog's first step, taken at once; then the control frequency.
    bool jogFirstStep_ = false;
    // Counts the Stops, so that a rate-limiter wait learns of one.
    std::atomic<uint32_t> stops_{0};
    // The run's ideal schedule (TStepSchedule): seconds from the run's start to the first step of
    // the current program step, and (pulled) to the step NextPeriod handed out last.
    double stepStart_ = 0;
    double stepDue_ = 0;
    // Host-timed: milliseconds from the run's first step at which the next Tick's step is due
    // (-1 before the first step), and the milliseconds the run has fallen behind its ideal
    // times through steps closer than the timer's 1 ms (negative: the run began mid-program).
    int64_t nextDueMs_ = -1;
    int64_t lagMs_ = 0;
    uint64_t runStartUs_ = 0;  // the fine clock at the run's first step
    // How much later than armed the timer's events come, learnt from the steps' own lateness
    // (milliseconds): the waits are that much shorter, so that the steps come on time. A property
    // of the timer, kept from run to run.
    double eventLateMs_ = 0;

    // Declared last: destroyed first, so no event reaches a half-destroyed motor.
    TMultiMediaTimer timer_;
};

}  // namespace motion
