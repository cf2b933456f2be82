// The timer-service port: the operating system's multimedia timer and millisecond tick count.
//
// TMultiMediaTimer (motion/) is written against this interface only. The Win32 adapter maps it
// one to one onto winmm (timeGetDevCaps, timeBeginPeriod, timeEndPeriod, timeSetEvent with
// TIME_PERIODIC | TIME_CALLBACK_FUNCTION | TIME_KILL_SYNCHRONOUS, timeKillEvent) and kernel32
// (GetTickCount, Sleep); the POSIX adapter gives the same observable rules with threads; the
// virtual adapter lets tests move time by hand.
#pragma once

#include <cstdint>

namespace platform {

// The service's smallest and largest event period, in milliseconds (the TIMECAPS record).
struct TimerCaps {
    uint32_t wPeriodMin = 0;
    uint32_t wPeriodMax = 0;
};

// Receives the events of one armed timer. Runs on a timer thread of the service, never on the
// window's thread: it must not touch a window, and must not wait for the thread that kills it.
class TimerEventSink {
  public:
    virtual void OnTimerEvent(uint32_t timerId) = 0;

  protected:
    ~TimerEventSink() = default;
};

class TimerService {
  public:
    virtual ~TimerService() = default;

    // Fills caps with the smallest and largest period; false when the query fails.
    virtual bool GetDevCaps(TimerCaps& caps) = 0;
    // Raises (Begin) and returns (End) the system timer resolution; calls come in pairs.
    virtual void BeginPeriod(uint32_t periodMs) = 0;
    virtual void EndPeriod(uint32_t periodMs) = 0;

    // Arms a periodic event: the first one delayMs from now, then every delayMs on a fixed
    // schedule, each delivered to sink->OnTimerEvent on a timer thread. Returns the event's
    // non-zero identifier, or 0 when the service refuses the delay (outside its caps).
    // May be called from any thread, including from inside an event. Called from inside an
    // event that was just killed (re-timing), "now" may be taken as that event's due time.
    virtual uint32_t SetEvent(uint32_t delayMs, uint32_t resolutionMs, TimerEventSink* sink) = 0;

    // Disarms an event. Synchronous: once it returns, no event of timerId is delivered, and one
    // that was being delivered on another thread has finished. Called from inside that event's
    // own delivery it returns at once, and no further event follows. Unknown ids are ignored.
    virtual void KillEvent(uint32_t timerId) = 0;

    // Milliseconds since the system started (wraps after 49.7 days, like GetTickCount).
    virtual uint32_t TickCount() = 0;
    // A monotonic clock in microseconds (any origin), finer than TickCount, whose resolution
    // is 10 to 16 ms on many systems (Wine's too): what host-timed steps are timed against.
    // By default it follows TickCount.
    virtual uint64_t Microseconds() { return uint64_t{TickCount()} * 1000; }
    // The fine clock in seconds: the one host time that step times, the rate limiter, segment
    // delays and the module clock's fit are all taken on.
    double Seconds() { return static_cast<double>(Microseconds()) * 1e-6; }
    // Whether Microseconds() tells the moments between two milliseconds (a clock that follows
    // TickCount does not, and a wait for such a moment would last to the next millisecond).
    virtual bool FinerThanMilliseconds() const { return false; }

    // Runs the calling thread ahead of the PC's ordinary work, for a thread whose delays cost
    // step timing (the USB receive, streamer and direct-output threads): a busy PC then holds
    // it up less. The service's own timer thread stays ahead of it. Nothing by default.
    virtual void RaiseThreadPriority() {}
    // Suspends the calling thread for about periodMs milliseconds.
    virtual void Sleep(uint32_t periodMs) = 0;
    // Holds the calling thread until Microseconds() reaches microseconds: for waits shorter
    // than the timer's millisecond, so it spins rather than sleeps. Nor does it yield: on a busy
    // PC a yield hands the processor to other work for a whole time slice (several
    // milliseconds), and every motor's steps would wait with it.
    virtual void WaitUntil(uint64_t microseconds) {
        while (Microseconds() < microseconds) {
#if defined(__i386__) || defined(__x86_64__)
            __builtin_ia32_pause();  // eases the spin for the core's other hardware thread
#endif
        }
    }
};

// The platform's real service: winmm on Windows, the POSIX adapter elsewhere. Lives as long as
// the process.
TimerService& SystemTimerService();

}  // namespace platform
