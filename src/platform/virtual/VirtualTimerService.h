// Timer-service adapter with a virtual clock, for tests and simulations.
//
// Time stands still until Advance() moves it; the events that fall due on the way are delivered
// in deadline order (ties in the order they were armed) on the thread that advances. Sleep()
// moves the clock on without delivering anything, so a sleeping event handler makes the events
// behind it late, as a busy timer thread would. Every call is recorded for the tests to inspect.
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <vector>

#include "platform/TimerService.h"

namespace platform {

class VirtualTimerService final : public TimerService {
  public:
    struct ArmedEvent {
        uint32_t delayMs;
        uint32_t resolutionMs;
    };

    explicit VirtualTimerService(TimerCaps caps = {1, 1000000}, bool capsQueryFails = false);

    bool GetDevCaps(TimerCaps& caps) override;
    void BeginPeriod(uint32_t periodMs) override;
    void EndPeriod(uint32_t periodMs) override;
    uint32_t SetEvent(uint32_t delayMs, uint32_t resolutionMs, TimerEventSink* sink) override;
    void KillEvent(uint32_t timerId) override;
    uint32_t TickCount() override;
    void Sleep(uint32_t periodMs) override;
    // Moves the clock on to the next whole millisecond at or after microseconds, as Sleep does.
    void WaitUntil(uint64_t microseconds) override;

    // Moves the clock by ms, delivering every event that falls due on the way.
    void Advance(uint64_t ms);
    // Delivers events until the next one would fall due after the clock reads until.
    void AdvanceTo(uint64_t untilMs);
    uint64_t NowMs() const;
    // Sets the clock without delivering anything (to start a test at a chosen tick count).
    void SetNowMs(uint64_t ms);

    // A periodic event delivered late counts its next one from that delivery instead of
    // keeping its schedule, as Wine's winmm does.
    void SetSlipsLateEvents(bool slips);

    // Inspection.
    size_t ArmedCount() const;
    std::vector<ArmedEvent> SetEventCalls() const;  // every SetEvent that was accepted
    std::vector<uint32_t> BeginPeriodCalls() const;
    std::vector<uint32_t> EndPeriodCalls() const;
    uint64_t SleptMs() const;

  private:
    struct Event {
        uint32_t delayMs;
        TimerEventSink* sink;
        uint64_t dueMs;
        uint64_t order;  // arming order, breaks ties between equal deadlines
    };

    TimerCaps caps_;
    bool capsQueryFails_;
    mutable std::mutex mutex_;
    uint64_t nowMs_ = 0;
    uint32_t nextId_ = 1;
    uint64_t nextOrder_ = 0;
    std::map<uint32_t, Event> events_;
    std::vector<ArmedEvent> setEventCalls_;
    std::vector<uint32_t> beginPeriodCalls_;
    std::vector<uint32_t> endPeriodCalls_;
    uint64_t sleptMs_ = 0;
    bool slipsLateEvents_ = false;
};

}  // namespace platform
