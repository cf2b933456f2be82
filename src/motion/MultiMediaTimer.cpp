#include "motion/MultiMediaTimer.h"

#include <exception>
#include <utility>

#include "motion/RoundHalfEven.h"

namespace motion {

namespace {
// The timer whose event is being delivered on this thread, and that event's id.
thread_local const TMultiMediaTimer* tlsFiringTimer = nullptr;
thread_local uint32_t tlsFiringId = 0;
}  // namespace

TMultiMediaTimer::TMultiMediaTimer(platform::TimerService& service) : service_(service) {
    platform::TimerCaps caps;
    if (service_.GetDevCaps(caps)) {
        caps_ = caps;
        service_.BeginPeriod(caps_.wPeriodMin);
    }
    // On failure caps_ stays {kNoCaps, 0}: the timer is inert for its whole life.
}

TMultiMediaTimer::~TMultiMediaTimer() {
    std::unique_lock lock(mutex_);
    enabled_ = false;
    Disarm(lock);
    lock.unlock();
    if (caps_.wPeriodMin < kNoCaps) service_.EndPeriod(caps_.wPeriodMin);
}

void TMultiMediaTimer::SetEnabled(bool value) {
    std::unique_lock lock(mutex_);
    enabled_ = value;
    Restart(lock);
}

void TMultiMediaTimer::SetInterval(double seconds) {
    std::unique_lock lock(mutex_);
    interval_ = seconds;
    Restart(lock);
}

void TMultiMediaTimer::SetIntervalFromNow(double seconds) {
    std::unique_lock lock(mutex_);
    interval_ = seconds;
    Restart(lock, false);
}

bool TMultiMediaTimer::KeepsSchedule(double seconds) const {
    std::lock_guard lock(mutex_);
    const uint32_t delay = DelayFor(seconds);
    return InsideOwnEvent() && delay != 0 && delay == armedDelay_;
}

bool TMultiMediaTimer::InsideOwnEvent() const {
    return tlsFiringTimer == this && timerId_ != 0 && timerId_ == tlsFiringId;
}

void TMultiMediaTimer::SetOnTimer(TimerEvent handler) {
    std::unique_lock lock(mutex_);
    onTimer_ = handler;
    Restart(lock);
}

bool TMultiMediaTimer::Enabled() const {
    std::lock_guard lock(mutex_);
    return enabled_;
}

double TMultiMediaTimer::Interval() const {
    std::lock_guard lock(mutex_);
    return interval_;
}

uint32_t TMultiMediaTimer::TimerId() const {
    std::lock_guard lock(mutex_);
    return timerId_;
}

double TMultiMediaTimer::HostSeconds() const {
    return service_.Seconds();
}

uint32_t TMultiMediaTimer::DelayFor(double seconds) const {
    if (!enabled_ || !onTimer_) return 0;
    const double ms = seconds * 1000.0;
    // Written so that NaN fails the test too.
    if (!(ms >= caps_.wPeriodMin && ms <= caps_.wPeriodMax)) return 0;
    const double delay = RoundHalfEven(ms);
    return delay < caps_.wPeriodMin ? caps_.wPeriodMin : static_cast<uint32_t>(delay);
}

void TMultiMediaTimer::Restart(std::unique_lock<std::mutex>& lock, bool mayKeepSchedule) {
    const uint32_t delay = DelayForInterval();
    if (mayKeepSchedule && InsideOwnEvent() && delay == armedDelay_) return;  // keep it

    Disarm(lock);
    const uint32_t armDelay = DelayForInterval();  // the state may have changed while unlocked
    if (armDelay == 0) return;
    timerId_ = service_.SetEvent(armDelay, caps_.wPeriodMin, this);
    if (timerId_ != 0) armedDelay_ = armDelay;
}

void TMultiMediaTimer::Disarm(std::unique_lock<std::mutex>& lock) {
    // The kill waits for an event being delivered on another thread, whose handler may be
    // waiting for this lock: kill without holding it. A handler still running may arm the
    // timer again before it ends; that event is killed as well.
    const bool insideAnEvent = tlsFiringTimer != nullptr;
    for (;;) {
        while (timerId_ != 0) {
            const uint32_t id = std::exchange(timerId_, 0);
            lock.unlock();
            service_.KillEvent(id);
            lock.lock();
        }
        if (insideAnEvent) break;
        idle_.wait(lock, [this] { return delivering_ == 0; });
        if (timerId_ == 0) break;
    }
    armedDelay_ = 0;
}

void TMultiMediaTimer::OnTimerEvent(uint32_t timerId) {
    std::unique_lock lock(mutex_);
    const TimerEvent handler = onTimer_;
    ++delivering_;
    lock.unlock();

    const TMultiMediaTimer* outerTimer = std::exchange(tlsFiringTimer, this);
    const uint32_t outerId = std::exchange(tlsFiringId, timerId);
    try {
        handler(*this);
    } catch (...) {
        // Nothing may unwind into the timer service's thread; the event is simply over.
    }
    tlsFiringTimer = outerTimer;
    tlsFiringId = outerId;

    lock.lock();
    --delivering_;
    idle_.notify_all();
}

}  // namespace motion
