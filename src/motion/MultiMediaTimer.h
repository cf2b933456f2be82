// TMultiMediaTimer: a timer with the familiar shape (enabled flag, interval, event handler) on
// the system's multimedia timer service, plus the millisecond tick clock in seconds.
//
// Promises:
// - Armed exactly while Enabled is true, OnTimer is set and the interval in milliseconds lies
//   within [wPeriodMin, wPeriodMax]; the delay is the interval rounded to whole milliseconds,
//   halves to even. Nothing is ever reported: an interval it cannot arm just keeps it silent.
// - Setting Enabled, Interval or OnTimer, even to the value it has, restarts the timing: the next
//   event comes one full interval later. One refinement keeps step timing free of drift: when
//   the handler re-times its own timer from inside the event with the delay that is already
//   armed, the running periodic event is kept, so the next event is counted from this event's
//   due time rather than from the moment of the call (which trails it by the handler's latency).
// - Synchronous: once a setter or the destructor called from outside the timer's events has
//   returned, no handler of this timer is running and none follows unless the timer is armed.
//   This holds also when the handler had disarmed the timer itself and is still finishing.
//   Called from inside an event (its own or another timer's) it does not wait, so that handlers
//   never wait for each other.
// - Thread-safe: the setters may be called from any thread, including the timer's own events.
//   OnTimer runs on a timer thread of the service, never on the window's thread.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>

#include "motion/Callback.h"
#include "platform/TimerService.h"

namespace motion {

class TMultiMediaTimer final : private platform::TimerEventSink {
  public:
    using TimerEvent = Callback<TMultiMediaTimer&>;

    // wPeriodMin while the capability query has failed (or was never made): nothing can arm.
    static constexpr uint32_t kNoCaps = 1000000;

    explicit TMultiMediaTimer(platform::TimerService& service);
    // Kills the armed event, then returns the raised timer resolution. Not from OnTimer.
    ~TMultiMediaTimer();
    TMultiMediaTimer(const TMultiMediaTimer&) = delete;
    TMultiMediaTimer& operator=(const TMultiMediaTimer&) = delete;

    void SetEnabled(bool value);
    void SetInterval(double seconds);
    void SetOnTimer(TimerEvent handler);
    // As SetInterval, but the next event always counts from now: a running periodic schedule
    // is never kept, also from inside the timer's own event.
    void SetIntervalFromNow(double seconds);
    // Called from inside this timer's own event: SetInterval(seconds) would keep the running
    // periodic schedule (the delay is the one armed), so the next event comes one delay after
    // this event's due time, however late this event's handler started.
    bool KeepsSchedule(double seconds) const;

    bool Enabled() const;
    double Interval() const;
    uint32_t TimerId() const;  // 0 = nothing armed
    const platform::TimerCaps& Caps() const { return caps_; }

    // The host clock in seconds (the timer service's fine clock).
    double HostSeconds() const;

  private:
    void Restart(std::unique_lock<std::mutex>& lock, bool mayKeepSchedule = true);
    // Disarms the timer; outside the timer events also waits for a handler still running.
    void Disarm(std::unique_lock<std::mutex>& lock);
    // The delay to arm for an interval, or 0 when nothing may be armed.
    uint32_t DelayForInterval() const { return DelayFor(interval_); }
    uint32_t DelayFor(double seconds) const;
    bool InsideOwnEvent() const;
    void OnTimerEvent(uint32_t timerId) override;  // on the service's timer thread

    platform::TimerService& service_;
    platform::TimerCaps caps_{kNoCaps, 0};  // written only by the constructor
    mutable std::mutex mutex_;
    std::condition_variable idle_;  // a delivery has ended
    int delivering_ = 0;            // handlers running now
    uint32_t timerId_ = 0;
    uint32_t armedDelay_ = 0;
    bool enabled_ = false;
    double interval_ = 1.0;
    TimerEvent onTimer_;
};

}  // namespace motion
