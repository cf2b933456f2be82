#include "platform/virtual/VirtualTimerService.h"

namespace platform {

VirtualTimerService::VirtualTimerService(TimerCaps caps, bool capsQueryFails)
    : caps_(caps), capsQueryFails_(capsQueryFails) {}

bool VirtualTimerService::GetDevCaps(TimerCaps& caps) {
    if (capsQueryFails_) return false;
    caps = caps_;
    return true;
}

void VirtualTimerService::BeginPeriod(uint32_t periodMs) {
    std::lock_guard lock(mutex_);
    beginPeriodCalls_.push_back(periodMs);
}

void VirtualTimerService::EndPeriod(uint32_t periodMs) {
    std::lock_guard lock(mutex_);
    endPeriodCalls_.push_back(periodMs);
}

uint32_t VirtualTimerService::SetEvent(uint32_t delayMs, uint32_t resolutionMs,
                                       TimerEventSink* sink) {
    std::lock_guard lock(mutex_);
    if (capsQueryFails_ || delayMs < caps_.wPeriodMin || delayMs > caps_.wPeriodMax ||
        sink == nullptr) {
        return 0;
    }
    uint32_t id;
    do {
        id = nextId_++;
    } while (id == 0 || events_.count(id) != 0);
    events_[id] = Event{delayMs, sink, nowMs_ + delayMs, nextOrder_++};
    setEventCalls_.push_back({delayMs, resolutionMs});
    return id;
}

void VirtualTimerService::KillEvent(uint32_t timerId) {
    std::lock_guard lock(mutex_);
    events_.erase(timerId);
}

uint32_t VirtualTimerService::TickCount() {
    std::lock_guard lock(mutex_);
    return static_cast<uint32_t>(nowMs_);
}

void VirtualTimerService::Sleep(uint32_t periodMs) {
    std::lock_guard lock(mutex_);
    nowMs_ += periodMs;
    sleptMs_ += periodMs;
}

void VirtualTimerService::WaitUntil(uint64_t microseconds) {
    std::lock_guard lock(mutex_);
    const uint64_t untilMs = (microseconds + 999) / 1000;
    if (untilMs > nowMs_) {
        sleptMs_ += untilMs - nowMs_;
        nowMs_ = untilMs;
    }
}

void VirtualTimerService::Advance(uint64_t ms) {
    AdvanceTo(NowMs() + ms);
}

void VirtualTimerService::AdvanceTo(uint64_t untilMs) {
    std::unique_lock lock(mutex_);
    for (;;) {
        auto next = events_.end();
        for (auto it = events_.begin(); it != events_.end(); ++it) {
            if (it->second.dueMs > untilMs) continue;
            if (next == events_.end() || it->second.dueMs < next->second.dueMs ||
                (it->second.dueMs == next->second.dueMs && it->second.order < next->second.order)) {
                next = it;
            }
        }
        if (next == events_.end()) break;
        const uint32_t id = next->first;
        // A late event (behind a Sleep) is delivered at the clock's reading, not before it.
        if (next->second.dueMs > nowMs_) nowMs_ = next->second.dueMs;
        const uint64_t deliveredMs = nowMs_;
        TimerEventSink* sink = next->second.sink;
        lock.unlock();
        sink->OnTimerEvent(id);
        lock.lock();

        // Fixed schedule. A late event is still delivered at once; after an overrun of more
        // than a period the rest are skipped rather than delivered in a burst.
        auto again = events_.find(id);
        if (again == events_.end()) continue;  // killed during its delivery
        Event& event = again->second;
        if (slipsLateEvents_ && deliveredMs > event.dueMs) event.dueMs = deliveredMs;
        event.dueMs += event.delayMs;
        if (event.dueMs + event.delayMs <= nowMs_) {
            event.dueMs += ((nowMs_ - event.dueMs) / event.delayMs) * event.delayMs;
        }
        event.order = nextOrder_++;
    }
    if (untilMs > nowMs_) nowMs_ = untilMs;
}

void VirtualTimerService::SetSlipsLateEvents(bool slips) {
    std::lock_guard lock(mutex_);
    slipsLateEvents_ = slips;
}

uint64_t VirtualTimerService::NowMs() const {
    std::lock_guard lock(mutex_);
    return nowMs_;
}

void VirtualTimerService::SetNowMs(uint64_t ms) {
    std::lock_guard lock(mutex_);
    nowMs_ = ms;
}

size_t VirtualTimerService::ArmedCount() const {
    std::lock_guard lock(mutex_);
    return events_.size();
}

std::vector<VirtualTimerService::ArmedEvent> VirtualTimerService::SetEventCalls() const {
    std::lock_guard lock(mutex_);
    return setEventCalls_;
}

std::vector<uint32_t> VirtualTimerService::BeginPeriodCalls() const {
    std::lock_guard lock(mutex_);
    return beginPeriodCalls_;
}

std::vector<uint32_t> VirtualTimerService::EndPeriodCalls() const {
    std::lock_guard lock(mutex_);
    return endPeriodCalls_;
}

uint64_t VirtualTimerService::SleptMs() const {
    std::lock_guard lock(mutex_);
    return sleptMs_;
}

}  // namespace platform
