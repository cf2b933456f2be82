#include "platform/posix/PosixTimerService.h"

#include <system_error>
#include <thread>

namespace platform {

// One thread. It runs one event, then the successors handed to it from inside a delivery.
struct PosixTimerService::Worker {
    bool delivering = false;
    // The worker whose delivery this worker's delivery waits for in KillEvent (cycle check).
    const Worker* waitingFor = nullptr;
};

struct PosixTimerService::Event {
    uint32_t id = 0;
    Clock::duration period{};
    TimerEventSink* sink = nullptr;
    Clock::time_point due{};
    bool killed = false;
    std::shared_ptr<Worker> worker;
    // Armed from inside this event's own delivery after it was killed: the same thread runs it.
    std::shared_ptr<Event> successor;
    std::condition_variable wake;  // killed
};

namespace {
// The worker running on this thread, the service it belongs to, and the event it delivers.
thread_local const void* tlsService = nullptr;
thread_local void* tlsWorker = nullptr;
thread_local void* tlsDelivering = nullptr;
}  // namespace

PosixTimerService::~PosixTimerService() {
    std::unique_lock lock(mutex_);
    for (auto& [id, event] : events_) {
        event->killed = true;
        event->wake.notify_all();
    }
    events_.clear();
    idle_.wait(lock, [this] { return workers_ == 0; });
}

bool PosixTimerService::GetDevCaps(TimerCaps& caps) {
    caps.wPeriodMin = kPeriodMin;
    caps.wPeriodMax = kPeriodMax;
    return true;
}

uint32_t PosixTimerService::SetEvent(uint32_t delayMs, uint32_t /*resolutionMs*/,
                                     TimerEventSink* sink) {
    if (delayMs < kPeriodMin || delayMs > kPeriodMax || sink == nullptr) return 0;
    auto event = std::make_shared<Event>();
    event->period = std::chrono::milliseconds(delayMs);
    event->sink = sink;
    event->due = Clock::now() + event->period;

    std::lock_guard lock(mutex_);
    do {
        event->id = nextId_++;
    } while (event->id == 0 || events_.count(event->id) != 0);

    auto* current = static_cast<Event*>(tlsService == this ? tlsDelivering : nullptr);
    if (current != nullptr && current->killed) {
        // Re-timed from inside its own delivery: the new period counts from the due time of
        // the event being delivered, not from this later moment, so handler latency does not
        // add up over a run (winmm's whole-millisecond clock hides it the same way).
        event->due = current->due + event->period;
        event->worker = current->worker;
        current->successor = event;  // this thread goes on with it after the delivery
    } else {
        event->worker = std::make_shared<Worker>();
        try {
            std::thread(&PosixTimerService::WorkerMain, this, event).detach();
        } catch (const std::system_error&) {
            return 0;  // no thread to be had: refused, like a failed timeSetEvent
        }
        ++workers_;
    }
    events_.emplace(event->id, event);
    return event->id;
}

void PosixTimerService::KillEvent(uint32_t timerId) {
    std::unique_lock lock(mutex_);
    auto found = events_.find(timerId);
    if (found == events_.end()) return;
    std::shared_ptr<Event> event = std::move(found->second);
    events_.erase(found);
    event->killed = true;
    event->wake.notify_all();
    auto* self = static_cast<Worker*>(tlsService == this ? tlsWorker : nullptr);
    Worker* target = event->worker.get();
    if (target == self) return;  // from a delivery on the event's own thread: nothing to wait for

    // Wait for a delivery in progress on the event's thread (its own, or its predecessor's).
    // When that delivery is itself waiting for ours (two events killing each other at once),
    // neither waits: both are killed.
    if (self != nullptr) {
        self->waitingFor = target;
        idle_.notify_all();
    }
    idle_.wait(lock, [&] {
        return !target->delivering || (self != nullptr && target->waitingFor == self);
    });
    if (self != nullptr) self->waitingFor = nullptr;
}

void PosixTimerService::WorkerMain(std::shared_ptr<Event> event) {
    const std::shared_ptr<Worker> worker = event->worker;
    tlsService = this;
    tlsWorker = worker.get();
    std::unique_lock lock(mutex_);
    for (;;) {
        while (!event->killed && Clock::now() < event->due) {
            event->wake.wait_until(lock, event->due);
        }
        if (event->killed) {
            std::shared_ptr<Event> next = std::move(event->successor);
            if (next == nullptr || next->killed) break;
            event = std::move(next);
            continue;
        }
        worker->delivering = true;
        tlsDelivering = event.get();
        lock.unlock();
        event->sink->OnTimerEvent(event->id);
        lock.lock();
        tlsDelivering = nullptr;
        worker->delivering = false;
        idle_.notify_all();

        // Fixed schedule. An event that is late is still delivered at once, so one slow
        // delivery costs no step; after an overrun of more than a period the rest are skipped
        // rather than delivered in a burst.
        event->due += event->period;
        const auto now = Clock::now();
        if (event->due + event->period <= now) {
            event->due += ((now - event->due) / event->period) * event->period;
        }
    }
    tlsService = nullptr;
    tlsWorker = nullptr;
    --workers_;
    idle_.notify_all();
}

uint32_t PosixTimerService::TickCount() {
    const auto sinceBoot = Clock::now().time_since_epoch();
    return static_cast<uint32_t>(
        std::chrono::duration_cast<std::chrono::milliseconds>(sinceBoot).count());
}

uint64_t PosixTimerService::Microseconds() {
    return static_cast<uint64_t>(
        std::chrono::duration_cast<std::chrono::microseconds>(Clock::now().time_since_epoch())
            .count());
}

void PosixTimerService::Sleep(uint32_t periodMs) {
    std::this_thread::sleep_for(std::chrono::milliseconds(periodMs));
}

TimerService& SystemTimerService() {
    static PosixTimerService service;
    return service;
}

}  // namespace platform
