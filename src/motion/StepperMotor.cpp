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
    if (phase > 3) return 0;
    if (direction == kDirRight) return kPhaseCodes[(PhaseIndex(phase) + 1) & 3];
    if (direction == kDirLeft) return kPhaseCodes[(PhaseIndex(phase) + 3) & 3];
    return phase;
}

namespace {

// The timer events' jitter that still counts as on time (ms): a step no later than this after
// its target was not held up, and the steps after it keep their own times. Timer events come up
// to a millisecond late by their whole-millisecond clock alone, and Wine's waits overshoot by a
// tenth on top; lateness beyond this is a held thread.
constexpr double kOnTimeMs = 2.0;
// An event this much before its step's target is a wake-up (a kept schedule's catch-up, a
// long wait taken in parts, an edit that made the step later): it waits on.
constexpr double kEarlyMs = 0.5;
// The most a step may come after its target for the timer's periodic schedule to be kept for
// the next one. A later event means that schedule has slipped (Wine moves a late periodic event's
// grid instead of catching up), and the next event is armed from now for the step's own time.
constexpr double kKeepScheduleMs = 0.5;
// The longest wait a timer event finishes on the fine clock instead of the timer's.
constexpr double kFineWaitMs = 0.5;
// How much before its aim an early event lets a step go. Waiting on to the aim itself would
// cost more of the timer thread, which every motor shares, and the arming that follows the
// wait would then often fall in a millisecond's last tenths: Wine's timer thread, looking only
// after the step's output, counts the next wait from the millisecond that has begun since, and
// that event comes a whole millisecond early.
constexpr double kAimSlackMs = 0.2;
// How far behind its ideal time a step at the timer's own period must be, at the soonest it may
// come, for the run to begin taking such steps at once to make up a lag; and how far, once begun,
// it goes on. A timer that comes a little later at each event and then delivers the period it
// owes at once (Wine's winmm: 1.1 ms apart, and every tenth at once) lags up to a millisecond on
// its own and pays it back: a catch-up that began sooner would race that payment, and its waits
// on the fine clock would hold the timer thread every motor shares.
constexpr double kBehindMs = 0.75;
constexpr double kStillBehindMs = 0.0;

bool SameTiming(const TsmProgramStep& a, const TsmProgramStep& b) {
    auto same = [](double x, double y) { return x == y || (x != x && y != y); };
    return a.Steps == b.Steps && same(a.Frequency, b.Frequency) && same(a.RampTime, b.RampTime);
}

}  // namespace

TStepperMotor::Walk TStepperMotor::WalkFrom(Cursor& c) const {
    // A loop rather than a recursion, so that any number of empty records in a row is passed
    // in constant stack.
    Walk walk;
    for (;;) {
        if (c.stepIndex >= program_.Count()) {
            c.stepIndex = 0;
            c.stepCounter = 0;
            c.anchored = false;
            ++walk.passesEnded;
            if (!program_.Looping || program_.Count() == 0 || !c.stepInPass) {
                walk.kind = Walk::kEnd;
                walk.due = c.stepStart;
                return walk;
            }
            c.stepInPass = false;
        }
        const TsmProgramStep& step = program_.Items(c.stepIndex);
        if (c.anchored && c.stepCounter > 0 && !SameTiming(step, c.anchor)) {
            // The record of the program step being played was edited (or another one took its
            // place): its schedule goes on one period of the record as it is now after the
            // last step taken, instead of jumping to where the new record would have put it.
            const int32_t n = step.Steps;
            const int32_t i = c.stepCounter;
            if (TStepSchedule::Timed(step) && n > 0) {
                const int32_t last = std::min(i, n) - 1;
                c.stepStart = c.lastDue + TStepSchedule::Period(step, last) -
                              TStepSchedule::Offset(step, last + 1);
            } else if (n <= 0) {
                c.stepStart = c.lastDue + c.lastPeriod;  // nothing left of it: the next one
            }
            c.anchor = step;
        }
        if (step.Steps <= c.stepCounter) {
            c.stepStart += TStepSchedule::Duration(step);
            c.stepCounter = 0;
            c.anchored = false;
            ++c.stepIndex;
            ++walk.stepChanges;
            continue;
        }
        walk.kind = Walk::kStep;
        walk.period = TStepSchedule::Period(step, c.stepCounter);
        walk.due = c.stepStart + TStepSchedule::Offset(step, c.stepCounter);
        walk.direction = step.Direction;
        c.anchor = step;
        c.anchored = true;
        return walk;
    }
}

void TStepperMotor::Take(Cursor& c, const Walk& walk) {
    ++c.stepCounter;
    c.lastDue = walk.due;
    c.lastPeriod = walk.period;
    c.stepInPass = true;
}

void TStepperMotor::ResetCursorLocked() {
    // The place in the program stays (a start goes on where the last run left off); its
    // schedule begins anew.
    Cursor c;
    c.stepIndex = cursor_.stepIndex;
    c.stepCounter = cursor_.stepCounter;
    if (c.stepIndex >= 0 && c.stepIndex < program_.Count()) {
        c.anchor = program_.Items(c.stepIndex);
        c.anchored = true;
    }
    cursor_ = c;
    pulled_ = c;
}

void TStepperMotor::StartProgram() {
    {
        std::lock_guard lock(mutex_);
        SetRunningLocked(true);
        hostTimed_ = true;
        pendingSteps_.clear();
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
        if (jogging_) jogRetimed_ = true;
    }
    timer_.SetIntervalFromNow(timer_.Caps().wPeriodMin * 0.001);
}

void TStepperMotor::Stop() {
    {
        std::lock_guard lock(mutex_);
        nextStepTime_ = 0;
        lastSentTime_ = 0;
        period_ = 0;
        cursor_.stepIndex = 0;
        cursor_.stepCounter = 0;
        SetRunningLocked(false);
        ResetCursorLocked();
        jogging_ = false;
        jogRetimed_ = false;
        pendingSteps_.clear();
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
        period_ = 0;
        stepDue_ = 0;
        started_ = false;
        shiftMs_ = 0;
        ResetCursorLocked();
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
        pendingSteps_.clear();
        // A host-timed run keeps its timer: its steps are the program's.
        if (running_ && hostTimed_) return;
        jogRetimed_ = stepAtOnce;
        // The timer's shortest delay stands for "at once".
        interval = stepAtOnce ? timer_.Caps().wPeriodMin * 0.001 : JogInterval();
    }
    timer_.SetInterval(interval);
    timer_.SetEnabled(true);
}

bool TStepperMotor::AdmitLocked(double now) {
    if (!(maxFrequency_ > 0)) return true;
    // A microsecond's grace, the fine clock's resolution, for the rounding of the sums.
    if (now + 1e-6 < nextAllowedTime_) return false;
    // The allowance counts from this step: two steps are never closer than 1/MaxFrequency,
    // less the millisecond by which the timer's whole-millisecond events may come early.
    // 1000 Hz allows exactly "now" again.
    nextAllowedTime_ = now + (1 / maxFrequency_ - 0.001);
    return true;
}

bool TStepperMotor::LimiterWait(uint32_t stops) {
    // Short slices on the fine clock, so that a Stop ends the wait within a slice.
    constexpr double kSliceMs = 2;
    for (;;) {
        if (stops_.load() != stops) return false;
        double allowed;
        {
            std::lock_guard lock(mutex_);
            allowed = nextAllowedTime_;
        }
        const double leftMs = (allowed - timer_.HostSeconds()) * 1000;
        if (!(leftMs > 1e-3)) return true;
        timers_.Sleep(static_cast<uint32_t>(std::ceil(std::min(leftMs, kSliceMs))));
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
    for (;;) {
        {
            std::lock_guard lock(mutex_);
            if (stops_.load() != stops) return false;  // no step follows a Stop
            const double now = timer_.HostSeconds();
            if (AdmitLocked(now)) {
                lastStepTime_ = now;
                break;
            }
            if (!mayWait) return false;
        }
        if (!LimiterWait(stops)) return false;  // stopped meanwhile
    }
    Emit(direction);
    return true;
}

void TStepperMotor::Emit(uint8_t direction) {
    if (direction != kDirRight && direction != kDirLeft) return;  // a pause only takes time
    StepEvent onStep;
    {
        std::lock_guard lock(mutex_);
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
}

void TStepperMotor::StepSoon(uint8_t direction) {
    bool now = false;
    double waitSeconds = 0;
    {
        std::lock_guard lock(mutex_);
        const double t = timer_.HostSeconds();
        if (pendingSteps_.empty() && AdmitLocked(t)) {
            lastStepTime_ = t;
            now = true;
        } else if (running_ && hostTimed_) {
            return;  // the timer plays the program: no step between its steps
        } else if (pendingSteps_.size() < kMaxPendingSteps) {
            // In order behind those already waiting; the timer takes them as the limiter
            // lets them through (a jog in progress takes its own steps instead).
            pendingSteps_.push_back(direction);
            if (!jogging_ && pendingSteps_.size() == 1)
                waitSeconds = std::max(nextAllowedTime_ - t, 0.001);
        }
    }
    if (now) {
        Emit(direction);
    } else if (waitSeconds > 0) {
        timer_.SetIntervalFromNow(std::min(waitSeconds, timer_.Caps().wPeriodMax * 0.001));
        timer_.SetEnabled(true);
    }
}

double TStepperMotor::TargetMs(double due, double* keptLag) const {
    // On the run's ideal schedule, later by the lag so far, in whole milliseconds.
    const double ideal = RoundHalfEven((due - originDue_) * 1000) + shiftMs_;
    // Never sooner after the last step than the program allows at this point, less the
    // timer's whole-millisecond rounding: a run that fell behind (a held thread) catches up
    // no faster than that. A step no later than the events' jitter counts from its target, so
    // the jitter moves nothing; in an undisturbed run (targets rounded half a millisecond
    // either way) this never binds.
    const bool late = lastStepMs_ - lastTargetMs_ > kOnTimeMs;
    const double last = late ? lastStepMs_ : lastTargetMs_;
    const double periodMs = (due - cursor_.lastDue) * 1000;
    const double catchUp = std::ceil(last + std::max(periodMs - 1, 0.0) - 1e-6);
    // Lag that can never be made up: steps closer than the timer's one millisecond, and a
    // rate limit slower than the program here, which counts from the motor's last step of any
    // kind (a jog step too). A limit no slower than the program holds a step only by its
    // rounding to whole milliseconds, a lag made up like any other.
    double hold = lastTargetMs_ + 1;
    double limitHold = hold;
    if (maxFrequency_ > 0 && lastStepTime_ >= 0) {
        const double lastAnyMs = lastStepTime_ * 1000 - static_cast<double>(runStartUs_) / 1000.0;
        const double base = lastAnyMs > lastStepMs_ + 1e-3 ? lastAnyMs : last;
        limitHold = std::ceil(base + std::max(1000 / maxFrequency_ - 0.5, 0.0) - 1e-6);
        if (1000 / maxFrequency_ > periodMs + 1e-9) hold = std::max(hold, limitHold);
    }
    if (keptLag != nullptr) *keptLag = std::max(0.0, hold - std::max(ideal, catchUp));
    return std::max({ideal, catchUp, hold, limitHold});
}

double TStepperMotor::SoonestMs(double periodMs, bool extra) const {
    // The period less the timer's millisecond, by which whole-millisecond events may place two
    // steps closer (and a run that fell behind catches up). A catch-up's extra step, and the
    // step after it, keep half the period as well: at the timer's own period those steps are
    // timed on the fine clock, and nothing else keeps them apart. (A floor of half a period for
    // every step would make the timer's shared thread finish many more waits on the fine
    // clock, and every other motor's events wait with it.)
    const double shortest =
        extra || afterExtra_ ? std::max(periodMs - 1, periodMs / 2) : std::max(periodMs - 1, 0.0);
    return lastStepMs_ + shortest;
}

double TStepperMotor::AimMs(double due, double targetMs) const {
    // The target is the ideal time rounded to whole milliseconds, for a clock whose events come
    // on them. The events of a loaded system come between them, a wait after the moment they
    // were armed: aimed at the ideal time itself, such a step lands within half a millisecond
    // of it instead of within one. A target moved off the ideal time (a catch-up, a hold) is
    // aimed at as it stands, and so is one halfway between two milliseconds, which the target
    // has settled already; but where the clock tells the moments between milliseconds, a
    // catch-up's target (the soonest moment after the last step, rounded up) is aimed at that
    // moment itself, so that a run that fell behind makes up a whole millisecond less the
    // shortest interval per step instead of what the rounding leaves of it.
    const double idealMs = (due - originDue_) * 1000;
    const double rounded = RoundHalfEven(idealMs);
    const bool off = targetMs != rounded + shiftMs_ || std::fabs(idealMs - rounded) == 0.5;
    if (!off) return targetMs + (idealMs - rounded);
    if (targetMs > rounded + shiftMs_ && timers_.FinerThanMilliseconds()) {
        const double soonestMs = SoonestMs((due - cursor_.lastDue) * 1000);
        if (targetMs == std::ceil(soonestMs - 1e-6)) return std::max(idealMs + shiftMs_, soonestMs);
    }
    return targetMs;
}

void TStepperMotor::ArmFor(double targetMs, double aimMs, bool keep) {
    const double maxMs = timer_.Caps().wPeriodMax;
    double delayMs;
    bool kept;
    {
        std::lock_guard lock(mutex_);
        pendingTargetMs_ = targetMs;
        // The kept schedule brings the next event one delay after this one's due time, which
        // was the last target: the delay is the distance of the targets, nothing to correct.
        delayMs = targetMs - lastTargetMs_;
        // A schedule of whole milliseconds only: an aim between them is armed from now. (Aims
        // on whole milliseconds differ from them by rounding noise.)
        kept = keep && std::fabs(aimMs - lastAimMs_ - delayMs) < 1e-6 && delayMs <= maxMs &&
               timer_.KeepsSchedule(delayMs / 1000);
        armedFromNow_ = !kept;
        // Counted from the moment of arming, after the step's work.
        if (!kept)
            delayMs = FromNowLocked(
                aimMs, static_cast<double>(timers_.Microseconds() - runStartUs_) / 1000.0);
    }
    if (kept) {
        timer_.SetInterval(delayMs / 1000);
    } else {
        timer_.SetIntervalFromNow(delayMs / 1000);
    }
}

double TStepperMotor::FromNowLocked(double aimMs, double nowMs) {
    // The events come eventLateMs_ after the moment they were armed for, so the wait is that
    // much shorter. A wait longer than the timer can arm is taken in parts: the early event
    // waits on. On a whole-millisecond clock the wait brings the event onto the target itself.
    const double delayMs = std::clamp(RoundHalfEven(aimMs - nowMs - eventLateMs_), 1.0,
                                      std::max<double>(timer_.Caps().wPeriodMax, 1.0));
    armedDueMs_ = nowMs + delayMs;
    return delayMs;
}

void TStepperMotor::LearnLatenessLocked(double lateMs) {
    // The timer's own lateness: how much after the moment it was armed for an event came. It
    // is fairly steady, and each event moves the learnt amount a little: a mean over the first
    // events, then a slow follower. (Wine's timer thread counts an event's wait in whole
    // milliseconds from when it last looked, after the callbacks, and may wake a little early:
    // a wake just before the event's millisecond costs one more, about one event in ten.)
    // Lateness beyond kOnTimeMs is a held thread, not the timer's: it teaches nothing.
    if (!(std::fabs(lateMs) <= kOnTimeMs)) return;
    constexpr double kLearnRate = 1.0 / 16;
    lateSamples_ = std::min(lateSamples_ + 1, 16);
    const double rate = std::max(kLearnRate, 1.0 / lateSamples_);
    eventLateMs_ = std::clamp(eventLateMs_ + rate * (lateMs - eventLateMs_), -1.0, kOnTimeMs);
}

void TStepperMotor::Tick() {
    Walk walk;
    bool ended = false;
    bool emit = false;
    bool arm = false;
    double targetMs = 0;
    double nowMs = 0;
    bool keepSchedule = false;
    double aimMs = 0;  // where this step was aimed (AimMs of its target)
    double nextTargetMs = 0;
    double nextAimMs = 0;
    bool keepAsArmed = false;  // a wake-up that leaves the armed schedule as it is
    MotorEvent onFinished;
    MotorEvent onStepChanged;
    {
        std::lock_guard lock(mutex_);
        if (!running_ || !hostTimed_) return;  // stopped while this event was on its way
        uint64_t nowUs = timers_.Microseconds();
        Cursor next = cursor_;
        walk = WalkFrom(next);
        if (!started_) {
            started_ = true;
            runStartUs_ = nowUs;
            originDue_ = walk.due;
            shiftMs_ = 0;
            lastStepMs_ = lastTargetMs_ = lastAimMs_ = 0;
            afterExtra_ = catchingUp_ = false;
            keepSchedule = true;
        } else {
            nowMs = static_cast<double>(nowUs - runStartUs_) / 1000.0;
            if (armedFromNow_) LearnLatenessLocked(nowMs - armedDueMs_);
            double keptLag = 0;
            targetMs = TargetMs(walk.due, &keptLag);
            // Early or late against where the step was aimed.
            aimMs = AimMs(walk.due, targetMs);
            const double lateMs = nowMs - aimMs;
            // However the events fall, a step never follows the last one sooner than the
            // shortest interval for the program's period here: an event that comes back to
            // back after a late one waits for that. A wait shorter than kFineWaitMs is
            // finished on the fine clock, as the timer's next event would come a whole
            // millisecond on and keep every later step that late.
            const double soonestMs = SoonestMs((walk.due - cursor_.lastDue) * 1000);
            // An event that comes before the step's aim waits on the fine clock as well, to
            // kAimSlackMs before it: the timer's rounding then places a step up to that much
            // early instead of half a millisecond, and no interval strays a millisecond.
            const double waitToMs = timers_.FinerThanMilliseconds()
                                        ? std::max(soonestMs, aimMs - kAimSlackMs)
                                        : soonestMs;
            if (nowMs < waitToMs && nowMs >= waitToMs - kFineWaitMs && lateMs >= -kEarlyMs) {
                nowUs = runStartUs_ + static_cast<uint64_t>(std::ceil(waitToMs * 1000));
                timers_.WaitUntil(nowUs);
                nowMs = static_cast<double>(nowUs - runStartUs_) / 1000.0;
            }
            if (lateMs < -kEarlyMs || nowMs < soonestMs) {
                // Too early: a wake-up, not the step's time. Nothing is taken.
                arm = true;
                nextTargetMs = std::max(targetMs, soonestMs);
                nextAimMs = AimMs(walk.due, nextTargetMs);
                // A timer that keeps a one-millisecond schedule brings its next event by then
                // anyway. Such an early event is mostly a period the timer delivers late, at
                // once after a long callback (a catch-up's wait): arming anew from now would
                // drop the periods the timer still owes, and the run would fall behind again.
                keepAsArmed = nextTargetMs - nowMs <= 1 + 1e-9 && timer_.KeepsSchedule(0.001);
                if (keepAsArmed) pendingTargetMs_ = nextTargetMs;
            } else {
                // From now the timer waits a whole millisecond at least: where the program's
                // next step comes that soon, the kept schedule brings it no later.
                keepSchedule = lateMs <= kKeepScheduleMs ||
                               (lateMs <= kOnTimeMs && walk.period * 1000 <= 1 + 1e-9);
                // Lag that can never be made up moves the rest of the run later.
                shiftMs_ += keptLag;
            }
        }
        if (!arm && walk.kind == Walk::kStep && !AdmitLocked(static_cast<double>(nowUs) * 1e-6)) {
            // A jog or space step came in between: the limiter's allowance decides.
            arm = true;
            nextTargetMs = std::max(
                nextAllowedTime_ * 1000 - static_cast<double>(runStartUs_) / 1000, nowMs + 1);
            nextAimMs = nextTargetMs;
        }
        if (!arm) {
            cursor_ = next;
            if (walk.kind == Walk::kEnd) {
                SetRunningLocked(false);
                ended = true;
            } else {
                Take(cursor_, walk);
                emit = true;
                lastStepTime_ = static_cast<double>(nowUs) * 1e-6;
                lastStepMs_ = nowMs;
                // A step aimed before its target (between the milliseconds) holds the
                // millisecond it came in: the steps after it count from there.
                lastTargetMs_ = std::min(targetMs, std::floor(nowMs));
                lastAimMs_ = aimMs;
                afterExtra_ = false;
                if (walk.period > 0 && std::isfinite(walk.period)) {
                    arm = true;
                    nextTargetMs = TargetMs(walk.due + walk.period);
                    nextAimMs = AimMs(walk.due + walk.period, nextTargetMs);
                }
            }
        } else {
            walk.passesEnded = 0;
            walk.stepChanges = 0;
        }
        onFinished = onFinished_;
        onStepChanged = onStepChanged_;
    }

    if (ended) timer_.SetEnabled(false);
    for (int i = 0; i < walk.passesEnded; ++i)
        onFinished(motorIndex_);
    if (emit && !arm) timer_.SetInterval(0);  // a period of 0 or less: the run stalls here
    // Re-time first: the step's own work (callbacks, output) does not add to the wait.
    if (arm && !keepAsArmed) ArmFor(nextTargetMs, nextAimMs, emit && keepSchedule);
    if (emit) {
        // The step goes out now, after the re-timing (which may have waited for the timer's
        // lock): the next step's spacing counts from here.
        {
            std::lock_guard lock(mutex_);
            const uint64_t emittedUs = timers_.Microseconds();
            if (started_ && emittedUs > runStartUs_) {
                lastStepMs_ =
                    std::max(lastStepMs_, static_cast<double>(emittedUs - runStartUs_) / 1000.0);
                lastStepTime_ = std::max(lastStepTime_, static_cast<double>(emittedUs) * 1e-6);
            }
        }
        Emit(walk.direction);
    }
    for (int i = 0; i < walk.stepChanges; ++i)
        onStepChanged(motorIndex_);
    if (emit && arm) CatchUp();
}

void TStepperMotor::CatchUp() {
    // At a period of the timer's millisecond itself its events can never make up a lag: a
    // held thread would move the rest of the run later for good. A run that is behind its
    // ideal schedule therefore takes the next step in the same event, half a period after
    // this one on the fine clock, one such step per event, until it is back on schedule.
    // An output that has not yet carried the event's own step holds it back, as any step.
    if (!MayStep()) return;
    Walk walk;
    {
        std::lock_guard lock(mutex_);
        if (!running_ || !hostTimed_ || !started_ || !timers_.FinerThanMilliseconds()) return;
        Cursor next = cursor_;
        walk = WalkFrom(next);
        // Within the program step being played only: an end or the next record is left to
        // the timer's events.
        if (walk.kind != Walk::kStep || walk.passesEnded != 0 || walk.stepChanges != 0) return;
        const double periodMs = (walk.due - cursor_.lastDue) * 1000;
        if (!(periodMs > 0 && periodMs <= 1 + 1e-9)) return;
        const double idealMs = RoundHalfEven((walk.due - originDue_) * 1000);
        const double soonestMs = SoonestMs(periodMs, /*extra=*/true);
        // On schedule but for the events' jitter: nothing to make up.
        catchingUp_ = soonestMs - idealMs >= (catchingUp_ ? kStillBehindMs : kBehindMs);
        if (!catchingUp_) return;
        const uint64_t atUs = runStartUs_ + static_cast<uint64_t>(std::ceil(soonestMs * 1000));
        if (!AdmitLocked(static_cast<double>(atUs) * 1e-6)) return;
        timers_.WaitUntil(atUs);
        const uint64_t nowUs = timers_.Microseconds();
        cursor_ = next;
        Take(cursor_, walk);
        lastStepTime_ = static_cast<double>(nowUs) * 1e-6;
        lastStepMs_ = static_cast<double>(nowUs - runStartUs_) / 1000.0;
        // Back towards the ideal schedule: the steps after it are timed on it again.
        shiftMs_ = 0;
        lastTargetMs_ = lastAimMs_ = idealMs;
        afterExtra_ = true;
    }
    Emit(walk.direction);
}

void TStepperMotor::ProgramEdited() {
    double waitMs;
    {
        std::lock_guard lock(mutex_);
        if (!running_ || !hostTimed_ || !started_) return;
        // Only an edit that brings the next step sooner needs the timer: the event already
        // armed comes too early for a later one and waits on.
        Cursor next = cursor_;
        const double due = WalkFrom(next).due;
        const double targetMs = TargetMs(due);
        if (!(targetMs < pendingTargetMs_ - kEarlyMs)) return;
        const double nowMs = static_cast<double>(timers_.Microseconds() - runStartUs_) / 1000.0;
        waitMs = FromNowLocked(AimMs(due, targetMs), nowMs);
        pendingTargetMs_ = targetMs;
        armedFromNow_ = true;
    }
    timer_.SetIntervalFromNow(waitMs / 1000);
}

void TStepperMotor::JogEvent() {
    uint8_t direction = kDirNone;
    bool take = false;
    double nextSeconds = -1;  // the interval from now to arm; 0: disarm; -1: keep the timer
    {
        std::lock_guard lock(mutex_);
        const bool pending = !jogging_ && !pendingSteps_.empty();
        if (!jogging_ && !pending) return;
        direction = pending ? pendingSteps_.front() : jogDirection_;
        const double now = timer_.HostSeconds();
        if (AdmitLocked(now)) {
            lastStepTime_ = now;
            take = true;
            if (pending) {
                pendingSteps_.pop_front();
                nextSeconds = pendingSteps_.empty() ? 0 : std::max(nextAllowedTime_ - now, 0.001);
            } else if (jogRetimed_) {
                jogRetimed_ = false;
                nextSeconds = JogInterval();  // from now on the control frequency
            }
        } else {
            // Waiting for the limiter on the timer thread would hold every motor's steps (the
            // timer thread is shared): the timer comes back when the allowance has passed.
            if (jogging_) jogRetimed_ = true;
            nextSeconds = std::max(nextAllowedTime_ - now, 0.001);
        }
    }
    if (nextSeconds == 0) {
        timer_.SetEnabled(false);  // the last space step that waited
    } else if (nextSeconds > 0) {
        timer_.SetIntervalFromNow(std::min(nextSeconds, timer_.Caps().wPeriodMax * 0.001));
    }
    if (take) Emit(direction);
}

void TStepperMotor::TimerEvent() {
    bool hostTimedRun;
    {
        std::lock_guard lock(mutex_);
        // A pulled run is the module's to play: its timer only ever jogs.
        hostTimedRun = running_ && hostTimed_;
    }
    if (!MayStep()) {
        // A second change of this motor before the output has carried the first would skip a
        // phase code on the way: the step waits for the output instead.
        RetryShortly(!hostTimedRun);
        return;
    }
    if (hostTimedRun) {
        Tick();
    } else {
        JogEvent();
    }
}

double TStepperMotor::NextPeriod() {
    std::lock_guard lock(mutex_);
    if (!running_) return 0;
    if (period_ > 0) return period_;
    Cursor next = cursor_;
    const Walk walk = WalkFrom(next);
    if (walk.passesEnded > 0) {
        passCount_ += walk.passesEnded;
        passCompleted_ = true;
        finished_ = false;
    }
    if (walk.kind == Walk::kEnd) {
        cursor_ = next;
        SetRunningLocked(false);
        if (program_.Count() == 0) finished_ = true;
        period_ = 0;
        lastSentTime_ = 0;
        return kEndOfProgram;
    }
    cursor_ = next;
    // A period of 0 is returned as 0 and not kept: the next call walks again.
    if (walk.period > 0) {
        period_ = walk.period;
        pulled_ = next;
        Take(pulled_, walk);
    }
    stepDue_ = walk.due;
    return walk.period;
}

void TStepperMotor::AdvanceStep() {
    std::lock_guard lock(mutex_);
    // Only a step handed out and not given up: after a Stop the program stays at its start.
    if (!running_ || !(period_ > 0)) return;
    cursor_ = pulled_;
    nextStepTime_ += period_;
    period_ = 0;
}

uint8_t TStepperMotor::CurrentDirection() {
    std::lock_guard lock(mutex_);
    // The program may have been shortened since NextPeriod found this step.
    if (cursor_.stepIndex < 0 || cursor_.stepIndex >= program_.Count()) return kDirNone;
    return program_.Items(cursor_.stepIndex).Direction;
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

void TStepperMotor::SetOnPlayed(PlayedEvent handler) {
    std::lock_guard lock(mutex_);
    onPlayed_ = handler;
}

void TStepperMotor::SetPosition(int32_t value) {
    std::lock_guard lock(mutex_);
    position_ = value;
    ++positionSets_;
}

void TStepperMotor::ShowPlayed(int32_t moved, int32_t stepIndex, int32_t stepCounter) {
    bool placeChanged;
    MotorEvent onStepChanged;
    {
        std::lock_guard lock(mutex_);
        placeChanged = !showPlayed_ || stepIndex != shownIndex_;
        showPlayed_ = true;
        shownIndex_ = stepIndex;
        shownCounter_ = stepCounter;
        onStepChanged = onStepChanged_;
    }
    MovePlayed(moved);
    if (placeChanged) onStepChanged(motorIndex_);
}

void TStepperMotor::CorrectPosition(int32_t steps) {
    MovePlayed(steps);
}

void TStepperMotor::MovePlayed(int32_t steps) {
    if (steps == 0) return;
    int32_t position;
    PlayedEvent onPlayed;
    TextDisplay* display;
    {
        std::lock_guard lock(mutex_);
        // Wraps at the ends of the range instead of overflowing.
        position_ =
            static_cast<int32_t>(static_cast<uint32_t>(position_) + static_cast<uint32_t>(steps));
        position = position_;
        onPlayed = onPlayed_;
        display = positionDisplay_;
    }
    onPlayed(motorIndex_, steps);
    if (display != nullptr) {
        char text[16];
        const auto end = std::to_chars(text, text + sizeof text, position).ptr;
        display->SetText(std::string_view(text, static_cast<size_t>(end - text)));
    }
}

void TStepperMotor::EndShowPlayed() {
    MotorEvent onStepChanged;
    {
        std::lock_guard lock(mutex_);
        if (!showPlayed_) return;
        showPlayed_ = false;
        onStepChanged = onStepChanged_;
    }
    onStepChanged(motorIndex_);
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
Q417_FIELD_GETTER(int32_t, StepIndex, showPlayed_ ? shownIndex_ : cursor_.stepIndex)
Q417_FIELD_GETTER(int32_t, StepCounter, showPlayed_ ? shownCounter_ : cursor_.stepCounter)
Q417_FIELD_GETTER(int32_t, FillStepIndex, cursor_.stepIndex)
Q417_FIELD_GETTER(int32_t, FillStepCounter, cursor_.stepCounter)
Q417_FIELD_GETTER(uint32_t, PositionSets, positionSets_)
Q417_FIELD_GETTER(double, NextAllowedTime, nextAllowedTime_)
Q417_FIELD_GETTER(double, Period, period_)
Q417_FIELD_GETTER(double, NextStepTime, nextStepTime_)
Q417_FIELD_GETTER(int32_t, PassCount, passCount_)
Q417_FIELD_GETTER(bool, HostTimed, hostTimed_)
Q417_FIELD_GETTER(double, StepDue, stepDue_)
Q417_FIELD_GETTER(uint8_t, Phase, phase_)
Q417_FIELD_SETTER(uint8_t, Phase, phase_)
Q417_FIELD_GETTER(int32_t, Position, position_)
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
