// TStepperMotor: the per-motor engine. It turns a motor program into single motor steps with
// trapezoidal (or, for short moves, triangular) speed ramps, advances the 2-bit Gray phase code
// and the position counter, and raises the step, step-changed and finished callbacks.
//
// Two ways of running, chosen by the window for the port setting:
// - host-timed (parallel port, "USB (slow)", jogging): the motor's own TMultiMediaTimer calls
//   TimerEvent; Tick emits the step that is due and re-times the timer for the next one. Steps
//   come at their ideal times (TStepSchedule) on the run's whole-millisecond grid. A disturbed
//   run (a held timer thread, the rate limit, an edit of the running step) never catches up
//   faster than the program allows at that point, less the timer's rounding: a motor cannot
//   follow a burst, so lag that cannot be made up moves the rest of the run later. An event
//   that comes before its step is due (a kept schedule catching up, a wait longer than the
//   timer can arm taken in parts) only waits on. The rate limiter never sleeps on the timer
//   thread, which every motor's events share: the timer comes back when it allows the step;
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
#include <deque>
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
    using PlayedEvent = Callback<int32_t /*motorIndex*/, int32_t /*signed steps*/>;

    // NextPeriod's answer when no further step follows (about 3.2 million years).
    static constexpr double kEndOfProgram = 99999999999999.0;

    // The program, held under the motor's lock for as long as this object lives. Call no other
    // method of the same motor while holding it.
    class ProgramAccess {
      public:
        // Releases the program; an edit that brings a host-timed run's next step sooner
        // re-times the timer.
        ~ProgramAccess() {
            if (!lock_.owns_lock()) return;
            lock_.unlock();
            motor_.ProgramEdited();
        }
        ProgramAccess(const ProgramAccess&) = delete;
        ProgramAccess& operator=(const ProgramAccess&) = delete;
        TsmProgram* operator->() const { return &motor_.program_; }
        TsmProgram& operator*() const { return motor_.program_; }

      private:
        friend class TStepperMotor;
        explicit ProgramAccess(TStepperMotor& motor) : lock_(motor.mutex_), motor_(motor) {}
        std::unique_lock<std::mutex> lock_;
        TStepperMotor& motor_;
    };

    TStepperMotor(int32_t motorIndex, platform::TimerService& timers);
    // Destroys the timer (no event after that), then the program. Not from this motor's events.
    ~TStepperMotor();
    TStepperMotor(const TStepperMotor&) = delete;
    TStepperMotor& operator=(const TStepperMotor&) = delete;

    // Period in seconds between step i and step i + 1 of a program step (the ramp formula, kept
    // by TStepSchedule).
    static double RampPeriod(const TsmProgramStep& step, int32_t i);
    // The phase codes in the order of steps to the right (0 -> 1 -> 3 -> 2 -> 0). The order is
    // its own inverse: the place of a code in it is kPhaseCodes[code].
    static constexpr uint8_t kPhaseCodes[4] = {0, 1, 3, 2};
    static constexpr uint32_t PhaseIndex(uint8_t phase) { return kPhaseCodes[phase & 3]; }
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
    // One step: rate limiter, phase, OnStep, position, position display. The limiter waits on
    // the calling thread (in slices that a Stop ends) until the step is allowed.
    void Step(uint8_t direction);
    // The space key's step, for the window's thread: at once when the limiter lets it
    // through, else the motor's timer takes it as soon as it does. Never waits.
    void StepSoon(uint8_t direction);
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
    // Takes the step NextPeriod handed out; nothing when none is pending (a Stop came between).
    void AdvanceStep();
    uint8_t CurrentDirection();
    // The fill's place in the program (the sequencer's own, also while ShowPlayed shows another).
    int32_t FillStepIndex() const;
    int32_t FillStepCounter() const;

    // A pulled run as the module plays it (the USB receive thread, or the window's thread when
    // the run is cut short): the position moves by the steps played since the last call (the
    // played event turns the symbol by them, the display shows the position) and StepIndex /
    // StepCounter show the program place being played (a change raises the step-changed event).
    // No step is emitted: the phase is the module's, and the played steps are no jog.
    void ShowPlayed(int32_t moved, int32_t stepIndex, int32_t stepCounter);
    // The played run is over: StepIndex / StepCounter are the sequencer's place again.
    void EndShowPlayed();
    // A correction of a pulled run's position (the module's phase told the estimate was off):
    // the position moves by steps, shown as ShowPlayed shows it.
    void CorrectPosition(int32_t steps);
    // Counts SetPosition calls, so that a correction of an older estimate can tell that the
    // position was set since.
    uint32_t PositionSets() const;

    ProgramAccess LockProgram() { return ProgramAccess(*this); }

    void SetOnStep(StepEvent handler);
    void SetOnStepChanged(MotorEvent handler);
    void SetOnFinished(MotorEvent handler);
    void SetOnPlayed(PlayedEvent handler);
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
    // The program step being carried out and its steps taken; in a pulled run the place the
    // module plays (ShowPlayed) rather than the fill's.
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
    // The program walker's place: which step of which program step comes next, and when it is
    // due on the run's ideal schedule. Host-timed Tick and the pulled NextPeriod/AdvanceStep
    // walk the program with the same Walk, on a copy that they keep only once the step is
    // taken, so a step found too early (or a pulled step never advanced) changes nothing.
    struct Cursor {
        int32_t stepIndex = 0;
        int32_t stepCounter = 0;
        // Seconds from the run's start to the first step of program step stepIndex.
        double stepStart = 0;
        // The last step taken (played or handed out): its due time and the period after it.
        double lastDue = 0;
        double lastPeriod = 0;
        // The timing fields of the record the last step was taken from; an edit of them is
        // seen by comparing (anchored false: nothing taken from this program step yet).
        TsmProgramStep anchor{};
        bool anchored = false;
        // A step was taken since the current pass began. A looping program whose pass took
        // none would pass its end forever; such a pass ends the run.
        bool stepInPass = false;
    };
    struct Walk {
        enum Kind { kStep, kEnd } kind = kEnd;
        double due = 0;     // the step's ideal time (kEnd: when the program ends)
        double period = 0;  // from this step to the next
        uint8_t direction = kDirNone;
        int passesEnded = 0;  // ends of the program passed on the way
        int stepChanges = 0;  // program steps left on the way
    };
    // Walks from cursor to the next step (or the end), under the lock. An edit of the program
    // step that is being played re-anchors its schedule: the next step comes one period of
    // the record as it is now (the ramp's period at that point) after the last step taken, so
    // that an edit never moves every due time at once.
    Walk WalkFrom(Cursor& cursor) const;
    // Marks the step found by walk as taken.
    static void Take(Cursor& cursor, const Walk& walk);

    void SetRunningLocked(bool value);
    // The step gate lets this motor step now (no lock held).
    bool MayStep() const;
    // A timer event that the gate refused: the same work a millisecond later.
    void RetryShortly(bool jog);
    void ResetCursorLocked();
    double JogInterval() const;  // under the lock
    // The rate limiter's wait until the allowance, in slices that a Stop ends; false when a
    // Stop came during it.
    bool LimiterWait(uint32_t stops);
    // Step and TryStep; false when the step was not taken.
    bool TakeStep(uint8_t direction, bool mayWait);
    // Under the lock: the rate limiter lets a step through at now (seconds); the allowance for
    // the next step counts from now.
    bool AdmitLocked(double now);
    // ShowPlayed's and CorrectPosition's move by steps; the played event and the display
    // follow. Outside the lock.
    void MovePlayed(int32_t steps);
    // The phase, OnStep, position and display of one step (no limiter); outside the lock.
    void Emit(uint8_t direction);
    // Host-timed, under the lock: the time (ms from the run's first step) at which a step
    // due at its ideal time due may come, given the steps taken before it.
    // keptLag: how much of it is lag that can never be made up (the timer's 1 ms, the rate
    // limit), which moves the rest of the run later.
    double TargetMs(double due, double* keptLag = nullptr) const;
    // Host-timed: arms the timer for the next event at targetMs (ms from the run's first
    // step), aimed at aimMs (AimMs). keep: this event came on its target, so a kept periodic
    // schedule lands on the next target as well.
    void ArmFor(double targetMs, double aimMs, bool keep);
    // After a step of a run that has fallen behind: takes the next one in the same event.
    void CatchUp();
    // Where, between the clock's whole milliseconds, a step at targetMs (TargetMs of due) is
    // aimed: the ideal time itself where the target is that time rounded.
    double AimMs(double due, double targetMs) const;
    // The soonest moment (ms from the run's first step) the next step may come at, for the
    // program's period there; extra: a catch-up's extra step.
    double SoonestMs(double periodMs, bool extra = false) const;
    // The wait to arm from nowMs for an event at aimMs, less the timer's learnt lateness.
    double FromNowLocked(double aimMs, double nowMs);
    // Learns the timer's lateness from an event armed from now that came lateMs after its due.
    void LearnLatenessLocked(double lateMs);
    // After the program was released: re-times a host-timed run whose next step an edit
    // brought sooner. Not under the lock.
    void ProgramEdited();
    // The jog's or a space step's event: the step when the limiter lets it through, else
    // the timer waits for the allowance.
    void JogEvent();

    // Declared first so that it outlives the timer, whose events take it.
    mutable std::mutex mutex_;
    platform::TimerService& timers_;

    double nextAllowedTime_ = 0;
    double lastStepTime_ = -1;  // host clock seconds of this motor's last step; -1: none yet
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
    PlayedEvent onPlayed_;
    // What ShowPlayed shows of a pulled run, while showPlayed_.
    bool showPlayed_ = false;
    int32_t shownIndex_ = 0;
    int32_t shownCounter_ = 0;
    uint32_t positionSets_ = 0;
    TsmProgram program_;
    MotorEvent onStepChanged_;
    MotorEvent onFinished_;
    double controlFrequency_ = 10.0;
    double maxFrequency_ = 1000.0;
    Cursor cursor_;
    bool jogging_ = false;
    TextDisplay* positionDisplay_ = nullptr;
    StepGate* stepGate_ = nullptr;
    int32_t position_ = 0;
    uint8_t resetDirection_ = kDirRight;
    bool hostTimed_ = false;
    // The timer runs off its jog (or a space step's) rhythm to wait for the rate limiter; the
    // next step sets the control frequency again.
    bool jogRetimed_ = false;
    // Space steps the limiter has held back, in order; the timer takes them as it lets them
    // through. Bounded, as the keyboard's auto-repeat can outpace a low rate limit.
    static constexpr size_t kMaxPendingSteps = 64;
    std::deque<uint8_t> pendingSteps_;
    // Counts the Stops, so that a rate-limiter wait learns of one.
    std::atomic<uint32_t> stops_{0};
    // Pulled: the step NextPeriod handed out, not yet advanced (kept in period_), and the
    // walker's place after it.
    Cursor pulled_;
    double stepDue_ = 0;
    // Host-timed run, in milliseconds from its first step on the fine clock: the ideal time
    // of the first step (seconds, where the run began in the program), how much later than
    // ideal the rest of the run comes (lag that could not be made up), when the last step was
    // taken and when it was meant to come.
    bool started_ = false;
    double originDue_ = 0;
    double shiftMs_ = 0;
    double lastStepMs_ = 0;
    double lastTargetMs_ = 0;
    double lastAimMs_ = 0;        // AimMs of the last step taken
    bool afterExtra_ = false;     // the last step was a catch-up's extra step
    bool catchingUp_ = false;     // making up a lag with extra steps (CatchUp)
    double pendingTargetMs_ = 0;  // what the armed timer waits for
    uint64_t runStartUs_ = 0;
    // The last event came from an arm counted from its moment (not a kept periodic schedule):
    // its lateness is the timer's own.
    bool armedFromNow_ = true;
    // How much later than armed the timer's events come (milliseconds), learnt from the events
    // armed from now: those waits are that much shorter, so that the steps come on time. A
    // property of the timer, kept from run to run.
    double eventLateMs_ = 0;
    double armedDueMs_ = 0;  // when the event armed from now is due, on the run's clock
    int32_t lateSamples_ = 0;

    // Declared last: destroyed first, so no event reaches a half-destroyed motor.
    TMultiMediaTimer timer_;
};

}  // namespace motion
