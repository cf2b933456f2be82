// Timer-service adapter on POSIX threads, for native runs of the portable core.
//
// Each armed event gets a thread that sleeps until absolute deadlines on the monotonic clock
// (due += delay after every event), so a periodic event does not drift with callback latency.
// An event re-armed from inside its own delivery (kill, then set) continues on the same thread
// instead of starting a new one, and its first period counts from the due time of the event
// being delivered: the sequencer re-times its timer that way on every ramp step.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <unordered_map>

#include "platform/TimerService.h"

namespace platform {

class PosixTimerService final : public TimerService {
  public:
    static constexpr uint32_t kPeriodMin = 1;
    static constexpr uint32_t kPeriodMax = 1000000;

    PosixTimerService() = default;
    // Kills every event and waits for their threads. Must not run inside an event's delivery.
    ~PosixTimerService() override;
    PosixTimerService(const PosixTimerService&) = delete;
    PosixTimerService& operator=(const PosixTimerService&) = delete;

    bool GetDevCaps(TimerCaps& caps) override;
    void BeginPeriod(uint32_t) override {}
    void EndPeriod(uint32_t) override {}
    uint32_t SetEvent(uint32_t delayMs, uint32_t resolutionMs, TimerEventSink* sink) override;
    void KillEvent(uint32_t timerId) override;
    uint32_t TickCount() override;
    uint64_t Microseconds() override;
    bool FinerThanMilliseconds() const override { return true; }
    void Sleep(uint32_t periodMs) override;

  private:
    using Clock = std::chrono::steady_clock;
    struct Worker;
    struct Event;

    void WorkerMain(std::shared_ptr<Event> event);

    std::mutex mutex_;
    std::condition_variable idle_;  // a delivery ended, or a worker thread left
    std::unordered_map<uint32_t, std::shared_ptr<Event>> events_;
    uint32_t nextId_ = 1;
    int workers_ = 0;
};

}  // namespace platform
