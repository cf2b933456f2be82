// Timer-service adapter on winmm and kernel32: a literal mapping, no state of its own.
#pragma once

#include "platform/TimerService.h"

namespace platform {

class Win32TimerService final : public TimerService {
  public:
    bool GetDevCaps(TimerCaps& caps) override;
    void BeginPeriod(uint32_t periodMs) override;
    void EndPeriod(uint32_t periodMs) override;
    uint32_t SetEvent(uint32_t delayMs, uint32_t resolutionMs, TimerEventSink* sink) override;
    void KillEvent(uint32_t timerId) override;
    uint32_t TickCount() override;
    uint64_t Microseconds() override;  // QueryPerformanceCounter
    bool FinerThanMilliseconds() const override { return true; }
    void Sleep(uint32_t periodMs) override;
    void RaiseThreadPriority() override;  // THREAD_PRIORITY_HIGHEST, below winmm's thread
};

}  // namespace platform
