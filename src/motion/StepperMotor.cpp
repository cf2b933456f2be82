#include "motion/StepperMotor.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>
#include <string_view>
#include <utility>

#include "motion/RoundHalfEven.h"
#include "motion/StepSchedule.h"

namespace motion {

TStepperMotor::TStepperMotor(int32_t motorIndex, platform::TimerService& timers)
    : timers_(timers), motorIndex_(motorIndex), timer_(timers) {
    timer_.SetOnTimer(TMultiMediaTimer::TimerEvent(
        [](void* motor, TMultiMediaTimer&) { static_cast<TStepperMotor*>(motor)->TimerEvent(); },
        this));
}

TStepperMotor::~TStepperMotor() = default;

double TStepperMotor::RampPeriod(const TsmProgramStep& step, int32_t i) {
    return TStepSchedule::Period(step, i);
}

uint8_t TStepperMotor::NextPhase(uint8_t phase, uint8_t direction) {
    static constexpr uint8_t kRight[4] = {1, 3, 0, 2};  // 0 -> 1 -> 3 -> 2 -> 0
    static constexpr uint8_t kLeft[4] = {2, 0, 3, 1};   // 0 -> 2 -> 3 -> 1 -> 0
    if (phase > 3) return 0;
    if (direction == kDirRight) return kRight[phase];
    if (direction == kDirLeft) return kLeft[phase];
    return phase;
}

void TStepperMotor::StartProgram() {
    {
        std::lock_guard lock(mutex_);
        SetRunningLocked(true);
        hostTimed_ = true;
    }
    timer_.SetInterval(0);
    timer_.SetEnabled(true);
    if (!MayStep()) {
        RetryShortly(false);  // the output has not yet carried this motor's last step
        return;
    }
    Tick();
}

bool TStepperMotor::MayStep() const {
    StepGate* gate;
    {
        std::lock_guard lock(mutex_);
        gate = stepGate_;
    }
    return gate == nullptr || gate->MayStep(motorIndex_);
}

void TStepperMotor::RetryShortly(bool jog) {
    if (jog) {
        // The event after the retried step goes back to the jog's own interval.
        std::lock_guard lock(mutex_);
        jogFirstStep_ = true;
    }
    timer_.SetInterval(timer_.Caps().wPeriodMin * 0.001);
}

void TStepperMotor::Stop() {
    {
        std::lock_guard lock(mutex_);
        nextStepTime_ = 0;
        lastSentTime_ = 0;
        period_ = 0;
        stepIndex_ = 0;
        stepCounter_ = 0;
        SetRunningLocked(false);
        jogging_ = false;
        jogFirstStep_ = false;
        finished_ = true;
        passCompleted_ = false;
        stops_.fetch_add(1);
    }
    // Outside the lock: the kill waits for a running event, which may be waiting for the lock.
    timer_.SetEnabled(false);
}

void TStepperMotor::SetRunning(bool value) {
    std::lock_guard lock(mutex_);
    if (value && !running_) hostTimed_ = false;
    SetRunningLocked(value);
}

void TStepperMotor::SetRunningLocked(bool value) {
    if (value == running_) return;
    running_ = value;
    if (value) {
        passCompleted_ = false;
        finished_ = false;
        nextStepTime_ = timer_.HostSeconds();
        passCount_ = 0;
        stepInPass_ = false;
        stepStart_ = 0;
        stepDue_ = 0;
        nextDueMs_ = -1;
        lagMs_ = 0;
    }
}

double TStepperMotor::JogInterval() const {
    return controlFrequency_ > 0 ? 1 / controlFrequency_ : 10.0;
}

void TStepperMotor::StartJog(uint8_t direction, bool stepAtOnce) {
    double interval;
    {
        std::lock_guard lock(mutex_);
        jogging_ = true;
        jogDirection_ = direction;
        jogFirstStep_ = stepAtOnce;
        // The timer's shortest delay stands for "at once".
        interval = stepAtOnce ? timer_.Caps().wPeriodMin * 0.001 : JogInterval();
    }
    timer_.SetInterval(interval);
    timer_.SetEnabled(true);
}

bool TStepperMotor::LimiterWait(uint32_t ms, uint32_t stops) {
    // Short slices on the tick clock: the whole wait is as long as asked, and a Stop ends it
    // within a slice.
    constexpr uint32_t kSliceMs = 2;
    const uint32_t start = timers_.TickCount();
    for (;;) {
        if (stops_.load() != stops) return false;
        const uint32_t waited = timers_.TickCount() - start;
        if (waited >= ms) return true;
        timers_.Sleep(std::min(kSliceMs, ms - waited));
    }
}

void TStepperMotor::Step(uint8_t direction) {
    TakeStep(direction, true);
}

bool TStepperMotor::TryStep(uint8_t direction) {
    return TakeStep(direction, false);
}

bool TStepperMotor::TakeStep(uint8_t direction, bool mayWait) {
    const uint32_t stops = stops_.load();
    if ((direction == kDirRight || direction == kDirLeft) && !MayStep()) return false;
    uint32_t sleepMs = 0;
    {
        std::lock_guard lock(mutex_);
        if (maxFrequency_ > 0) {
            const double now = timer_.HostSeconds();
            if (now < nextAllowedTime_) {
                if (!mayWait) return false;
                const double ms = RoundHalfEven(1000 / maxFrequency_);
                sleepMs = ms < std::numeric_limits<uint32_t>::max()
                              ? static_cast<uint32_t>(ms)
                              : std::numeric_limits<uint32_t>::max();
            }
            // The allowance first, so that 1000 Hz allows exactly "now" again.
            nextAllowedTime_ = now + (1 / maxFrequency_ - 0.001);
        }
    }
    if (sleepMs != 0 && !LimiterWait(sleepMs, stops)) return false;    // stopped meanwhile
    if (direction != kDirRight && direction != kDirLeft) return true;  // a pause only takes time

    StepEvent onStep;
    {
        std::lock_guard lock(mutex_);
        if (stops_.load() != stops) return false;  // no step follows a Stop
        phase_ = NextPhase(phase_, direction);
        onStep = onStep_;
    }
    onStep(motorIndex_, direction);

    int32_t position;
    TextDisplay* display;
    {
        std::lock_guard lock(mutex_);
        // Wraps at the ends of the range instead of overflowing.
        const uint32_t moved =
            static_cast<uint32_t>(position_) + (direction == kDirRight ? 1u : ~0u);
        position_ = static_cast<int32_t>(moved);
        position = position_;
        display = positionDisplay_;
    }
    if (display != nullptr) {
        char text[16];
        const auto end = std::to_chars(text, text + sizeof text, position).ptr;
        display->SetText(std::string_view(text, static_cast<size_t>(end - text)));
    }
    return true;
}

void TStepperMotor::Tick() {
    // The walk over exhausted program steps is a loop rather than a recursion, so that any
    // number of empty records in a row is passed in constant stack. The callbacks come in the
    // order the recursive description gives: every OnFinished passed on the way and the step
    // first, then one OnStepChanged for every program step left.
    int finishedEvents = 0;
    int stepChanges = 0;
    bool ended = false;
    bool emit = false;
    double period = 0;
    uint8_t direction = kDirNone;
    MotorEvent onFinished;
    MotorEvent onStepChanged;
    {
        std::lock_guard lock(mutex_);
        if (!running_) return;  // stopped while this event was on its way
        for (;;) {
            if (stepIndex_ >= program_.Count()) {
                stepIndex_ = 0;
                stepCounter_ = 0;
                ++finishedEvents;
                if (!program_.Looping || program_.Count() == 0 || !stepInPass_) {
                    SetRunningLocked(false);
                    ended = true;
                    break;
                }
                stepInPass_ = false;
            }
            const TsmProgramStep& step = program_.Items(stepIndex_);
            if (step.Steps <= stepCounter_) {
                stepStart_ += TStepSchedule::Duration(step);
                stepCounter_ = 0;
                ++stepIndex_;
                ++stepChanges;
                continue;
            }
            period = TStepSchedule::Period(step, stepCounter_);
            if (period > 0) period = HostInterval(step);
            direction = step.Direction;
            ++stepCounter_;
            stepInPass_ = true;
            emit = true;
            break;
        }
        onFinished = onFinished_;
        onStepChanged = onStepChanged_;
    }

    if (ended) timer_.SetEnabled(false);
    for (int i = 0; i < finishedEvents; ++i)
        onFinished(motorIndex_);
    if (emit) {
        // Re-time first: the step's own work (limiter, callbacks, output) does not add to it. A
        // period of 0 or less arms nothing: the run stalls at this step.
        timer_.SetInterval(period);
        Step(direction);
    }
    for (int i = 0; i < stepChanges; ++i)
        onStepChanged(motorIndex_);
}

double TStepperMotor::HostInterval(const TsmProgramStep& step) {
    // Each step is due at its ideal time from the run's first step, in whole milliseconds
    // rounded from that start, and the timer waits from now to its exact ideal time, so the
    // roundings never add up. A step that comes less than a millisecond after the one
    // before (a program step above 1000 Hz) waits one millisecond, the timer's limit, and the
    // steps after it keep their own spacing from there (the run falls behind by lagMs_).
    const double due = stepStart_ + TStepSchedule::Offset(step, stepCounter_);
    const double next = stepStart_ + TStepSchedule::Offset(step, stepCounter_ + 1);
    const uint64_t nowUs = timers_.Microseconds();
    int64_t dueMs = nextDueMs_;
    const bool firstStep = dueMs < 0;
    if (firstStep) {
        lagMs_ = -WholeMs(due);
        dueMs = 0;
        runStartUs_ = nowUs;
    }
    int64_t nextMs = WholeMs(next) + lagMs_;
    // The wait aims at the exact ideal time, not at its whole millisecond: with the fine
    // clock's fraction of a millisecond that is one rounding, not two.
    double aimMs = next * 1000 + static_cast<double>(lagMs_);
    if (nextMs <= dueMs) {
        lagMs_ += dueMs + 1 - nextMs;
        nextMs = dueMs + 1;
        aimMs = static_cast<double>(nextMs);
    }
    // A step taken late (a busy timer thread, a missed event) is no reason for the next one to
    // be late as well: the wait counts from the clock, not from this step's due time, so the
    // run catches up at one step per millisecond and keeps its mean rate.
    // The clock is the fine one: the millisecond tick count moves in steps of 10 to 16 ms on
    // many systems, which would make every correction that coarse.
    const double nowMs = static_cast<double>(nowUs - runStartUs_) / 1000.0;
    // The timer's events come late by a fairly steady amount (under Wine about a millisecond):
    // each step's lateness moves the learnt amount a little, and the waits are shortened by it,
    // so that the steps' mean error goes to zero. Lateness beyond 2 ms is a held thread, not the
    // timer's: it is caught up and teaches nothing.
    constexpr double kLearnRate = 1.0 / 16;
    constexpr double kLatestEventMs = 2.0;
    if (!firstStep) {
        const double lateMs = nowMs - static_cast<double>(dueMs);
        if (std::fabs(lateMs) <= kLatestEventMs)
            eventLateMs_ = std::clamp(eventLateMs_ + kLearnRate * lateMs, 0.0, kLatestEventMs);
    }
    nextDueMs_ = nextMs;
    return std::max(RoundHalfEven(aimMs - nowMs - eventLateMs_), 1.0) / 1000.0;
}

int64_t TStepperMotor::WholeMs(double seconds) {
    const double ms = RoundHalfEven(seconds * 1000);
    // Beyond about 290 million years: held there (the timer cannot arm it anyway).
    constexpr double kLimit = 9.2e18;
    return ms < kLimit ? static_cast<int64_t>(ms) : static_cast<int64_t>(kLimit);
}

void TStepperMotor::TimerEvent() {
    bool hostTimedRun;
    bool jogging;
    bool firstJogStep;
    uint8_t jogDirection;
    double jogInterval;
    {
        std::lock_guard lock(mutex_);
        // A pulled run is the module's to play: its timer only ever jogs.
        hostTimedRun = running_ && hostTimed_;
        jogging = jogging_;
        firstJogStep = std::exchange(jogFirstStep_, false);
        jogDirection = jogDirection_;
        jogInterval = JogInterval();
    }
    if ((hostTimedRun || jogging) && !MayStep()) {
        // A second change of this motor before the output has carried the first would skip a
        // phase code on the way: the step waits for the output instead.
        RetryShortly(!hostTimedRun);
        return;
    }
    if (hostTimedRun) {
        Tick();
    } else if (jogging) {
        if (firstJogStep) timer_.SetInterval(jogInterval);  // from now on the control frequency
        Step(jogDirection);
    }
}

double TStepperMotor::NextPeriod() {
    std::lock_guard lock(mutex_);
    if (!running_) return 0;
    if (period_ > 0) return period_;
    for (;;) {
        if (stepIndex_ >= program_.Count()) {
            stepIndex_ = 0;
            stepCounter_ = 0;
            ++passCount_;
            passCompleted_ = true;
            finished_ = false;
            if (!program_.Looping || program_.Count() == 0 || !stepInPass_) {
                SetRunningLocked(false);
                if (program_.Count() == 0) finished_ = true;
                period_ = 0;
                lastSentTime_ = 0;
                return kEndOfProgram;
            }
            stepInPass_ = false;
        }
        const TsmProgramStep& step = program_.Items(stepIndex_);
        if (step.Steps <= stepCounter_) {
            stepStart_ += TStepSchedule::Duration(step);
            stepCounter_ = 0;
            ++stepIndex_;
            continue;
        }
        stepInPass_ = true;
        period_ = TStepSchedule::Period(step, stepCounter_);
        stepDue_ = stepStart_ + TStepSchedule::Offset(step, stepCounter_);
        return period_;
    }
}

void TStepperMotor::AdvanceStep() {
    std::lock_guard lock(mutex_);
    ++stepCounter_;
    nextStepTime_ += period_;
    period_ = 0;
}

uint8_t TStepperMotor::CurrentDirection() {
    std::lock_guard lock(mutex_);
    // The program may have been shortened since NextPeriod found this step.
    if (stepIndex_ < 0 || stepIndex_ >= program_.Count()) return kDirNone;
    return program_.Items(stepIndex_).Direction;
}

void TStepperMotor::SetOnStep(StepEvent handler) {
    std::lock_guard lock(mutex_);
    onStep_ = handler;
}

void TStepperMotor::SetOnStepChanged(MotorEvent handler) {
    std::lock_guard lock(mutex_);
    onStepChanged_ = handler;
}

void TStepperMotor::SetOnFinished(MotorEvent handler) {
    std::lock_guard lock(mutex_);
    onFinished_ = handler;
}

void TStepperMotor::SetStepGate(StepGate* gate) {
    std::lock_guard lock(mutex_);
    stepGate_ = gate;
}

void TStepperMotor::SetPositionDisplay(TextDisplay* display) {
    std::lock_guard lock(mutex_);
    positionDisplay_ = display;
}

bool TStepperMotor::TakeCompletedPass() {
    std::lock_guard lock(mutex_);
    if (!passCompleted_) return false;
    passCompleted_ = false;
    finished_ = true;
    return true;
}

bool TStepperMotor::Idle() const {
    std::lock_guard lock(mutex_);
    return !running_ && (finished_ || hostTimed_);
}

bool TStepperMotor::RunsInModule() const {
    std::lock_guard lock(mutex_);
    return !hostTimed_ && (running_ || !finished_);
}

#define Q417_FIELD_GETTER(Type, Name, field) \
    Type TStepperMotor::Name() const {       \
        std::lock_guard lock(mutex_);        \
        return field;                        \
    }
#define Q417_FIELD_SETTER(Type, Name, field)    \
    void TStepperMotor::Set##Name(Type value) { \
        std::lock_guard lock(mutex_);           \
        field = value;                          \
    }

Q417_FIELD_GETTER(bool, Running, running_)
Q417_FIELD_GETTER(bool, Jogging, jogging_)
Q417_FIELD_GETTER(uint8_t, JogDirection, jogDirection_)
Q417_FIELD_GETTER(int32_t, StepIndex, stepIndex_)
Q417_FIELD_GETTER(int32_t, StepCounter, stepCounter_)
Q417_FIELD_GETTER(double, NextAllowedTime, nextAllowedTime_)
Q417_FIELD_GETTER(double, Period, period_)
Q417_FIELD_GETTER(double, NextStepTime, nextStepTime_)
Q417_FIELD_GETTER(int32_t, PassCount, passCount_)
Q417_FIELD_GETTER(bool, HostTimed, hostTimed_)
Q417_FIELD_GETTER(double, StepDue, stepDue_)
Q417_FIELD_GETTER(uint8_t, Phase, phase_)
Q417_FIELD_SETTER(uint8_t, Phase, phase_)
Q417_FIELD_GETTER(int32_t, Position, position_)
Q417_FIELD_SETTER(int32_t, Position, position_)
Q417_FIELD_GETTER(bool, Finished, finished_)
Q417_FIELD_SETTER(bool, Finished, finished_)
Q417_FIELD_GETTER(bool, PassCompleted, passCompleted_)
Q417_FIELD_SETTER(bool, PassCompleted, passCompleted_)
Q417_FIELD_GETTER(double, LastSentTime, lastSentTime_)
Q417_FIELD_SETTER(double, LastSentTime, lastSentTime_)
Q417_FIELD_GETTER(double, ControlFrequency, controlFrequency_)
Q417_FIELD_SETTER(double, ControlFrequency, controlFrequency_)
Q417_FIELD_GETTER(double, MaxFrequency, maxFrequency_)
Q417_FIELD_SETTER(double, MaxFrequency, maxFrequency_)
Q417_FIELD_GETTER(uint8_t, ResetDirection, resetDirection_)
Q417_FIELD_SETTER(uint8_t, ResetDirection, resetDirection_)

#undef Q417_FIELD_GETTER
#undef Q417_FIELD_SETTER

}  // namespace motion
