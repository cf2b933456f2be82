// The virtual clock that the sequencer's tests stand on: deadline order, late events after a
// sleeping handler, and the skip after a long overrun (the same rules as the POSIX adapter).
#include "platform/virtual/VirtualTimerService.h"

#include <gtest/gtest.h>

#include <string>

namespace platform {
namespace {

struct Sink : TimerEventSink {
    VirtualTimerService& service;
    std::string name;
    std::string* trace;
    uint32_t sleepMs = 0;  // how long each delivery keeps the thread busy
    Sink(VirtualTimerService& s, std::string n, std::string* t) : service(s), name(n), trace(t) {}
    void OnTimerEvent(uint32_t) override {
        *trace += name + "@" + std::to_string(service.NowMs()) + " ";
        if (sleepMs != 0) service.Sleep(sleepMs);
    }
};

TEST(VirtualTimerService, DeliversInDeadlineOrderThenArmingOrder) {
    VirtualTimerService service;
    std::string trace;
    Sink a(service, "a", &trace), b(service, "b", &trace), c(service, "c", &trace);
    service.SetEvent(3, 1, &a);
    service.SetEvent(2, 1, &b);
    service.SetEvent(3, 1, &c);
    service.Advance(6);
    EXPECT_EQ(trace, "b@2 a@3 c@3 b@4 a@6 c@6 b@6 ");
}

TEST(VirtualTimerService, LateEventIsDeliveredAtOnceAndLongOverrunsSkip) {
    VirtualTimerService service;
    std::string trace;
    Sink slow(service, "s", &trace);
    slow.sleepMs = 15;  // longer than its 10 ms period
    const uint32_t id = service.SetEvent(10, 1, &slow);
    service.Advance(60);
    // 10 (busy to 25); 20 late at 25 (busy to 40); 30, a whole period behind, gives way to 40;
    // 50 late at 55.
    EXPECT_EQ(trace, "s@10 s@25 s@40 s@55 ");
    service.KillEvent(id);

    trace.clear();
    slow.sleepMs = 35;  // more than two periods: the missed ones are skipped, not burst
    service.SetEvent(10, 1, &slow);
    service.Advance(100);
    EXPECT_EQ(trace, "s@80 s@115 s@150 ");
    EXPECT_EQ(service.SleptMs(), 4 * 15u + 3 * 35u);
}

}  // namespace
}  // namespace platform
