// The rules every real timer service keeps, checked on the platform's own: the POSIX adapter
// natively, winmm when this runs as a Windows exe under Wine. Real time is involved, so the
// bounds only catch what is plainly wrong (an early event, an event after a kill, a lost one).
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "platform/TimerService.h"

namespace platform {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

struct CountingSink : TimerEventSink {
    TimerService& service;
    std::atomic<int> events{0};
    std::atomic<bool> inside{false};
    std::atomic<uint32_t> lastId{0};
    // What to do inside an event (its number, from 1); the default only counts.
    std::function<void(CountingSink&, uint32_t id, int n)> action;
    Clock::time_point first{}, last{};

    explicit CountingSink(TimerService& s) : service(s) {}
    void OnTimerEvent(uint32_t id) override {
        inside = true;
        const int n = ++events;
        const auto now = Clock::now();
        if (n == 1) first = now;
        last = now;
        lastId = id;
        if (action) action(*this, id, n);
        inside = false;
    }
    // Waits, then for a delivery still finishing (after a kill from inside it nothing else
    // tells when it is over), and returns the count.
    int Settled(milliseconds wait) {
        std::this_thread::sleep_for(wait);
        while (inside)
            std::this_thread::yield();
        return events.load();
    }
};

TimerService& Service() {
    return SystemTimerService();
}

TEST(TimerService, ReportsAUsablePeriodRange) {
    TimerCaps caps;
    ASSERT_TRUE(Service().GetDevCaps(caps));
    EXPECT_GE(caps.wPeriodMin, 1u);
    EXPECT_LE(caps.wPeriodMin, 16u);
    EXPECT_GE(caps.wPeriodMax, 1000u);
}

TEST(TimerService, PeriodicEventKeepsItsScheduleAndIsNeverEarly) {
    TimerService& service = Service();
    service.BeginPeriod(1);
    CountingSink sink(service);
    std::vector<Clock::duration> at;  // each event's time since arming; only the timer writes
    at.reserve(100);
    const auto armed = Clock::now();
    sink.action = [&](CountingSink&, uint32_t, int n) {
        if (n <= 100) at.push_back(Clock::now() - armed);
    };
    const uint32_t id = service.SetEvent(4, 1, &sink);
    ASSERT_NE(id, 0u);
    while (sink.events < 100)
        std::this_thread::sleep_for(milliseconds(10));
    service.KillEvent(id);
    service.EndPeriod(1);
    ASSERT_EQ(at.size(), 100u);
    // Event n is never due before n periods (a busy machine only skips periods, it never
    // brings one forward); whole-millisecond clocks may shave a little.
    for (size_t n = 1; n <= at.size(); ++n)
        EXPECT_GE(at[n - 1], milliseconds(4 * static_cast<int>(n) - 2)) << "event " << n;
    // A schedule kept from the arming makes up a late delivery with a shorter gap after it; one
    // that counts each period from the late event never has a gap below the period. Load only
    // adds jitter, so this holds on a busy machine too.
    Clock::duration shortest = Clock::duration::max();
    for (size_t n = 1; n < at.size(); ++n)
        shortest = std::min(shortest, at[n] - at[n - 1]);
    EXPECT_LT(shortest, milliseconds(4));
}

TEST(TimerService, KillWaitsForTheEventBeingDeliveredAndNothingFollows) {
    TimerService& service = Service();
    CountingSink sink(service);
    sink.action = [](CountingSink&, uint32_t, int) {
        std::this_thread::sleep_for(milliseconds(60));
    };
    const uint32_t id = service.SetEvent(2, 1, &sink);
    ASSERT_NE(id, 0u);
    while (!sink.inside)
        std::this_thread::yield();
    service.KillEvent(id);
    EXPECT_FALSE(sink.inside);  // the delivery in progress had finished
    const int atKill = sink.events;
    EXPECT_EQ(sink.Settled(milliseconds(100)), atKill);
}

TEST(TimerService, KillFromItsOwnEventReturnsAtOnceAndEndsIt) {
    TimerService& service = Service();
    CountingSink sink(service);
    sink.action = [](CountingSink& s, uint32_t id, int n) {
        if (n == 3) s.service.KillEvent(id);
    };
    ASSERT_NE(service.SetEvent(2, 1, &sink), 0u);
    EXPECT_EQ(sink.Settled(milliseconds(150)), 3);
}

TEST(TimerService, ReArmingFromItsOwnEventReplacesIt) {
    TimerService& service = Service();
    CountingSink sink(service);
    std::atomic<uint32_t> second{0};
    sink.action = [&second](CountingSink& s, uint32_t id, int n) {
        if (n == 1) {
            s.service.KillEvent(id);
            second = s.service.SetEvent(5, 1, &s);
        } else if (n == 4) {
            s.service.KillEvent(id);
        }
    };
    const uint32_t first = service.SetEvent(3, 1, &sink);
    ASSERT_NE(first, 0u);
    EXPECT_EQ(sink.Settled(milliseconds(200)), 4);
    EXPECT_NE(second.load(), 0u);
    EXPECT_NE(second.load(), first);
    EXPECT_EQ(sink.lastId.load(), second.load());
}

TEST(TimerService, KillingAnUnknownOrDeadEventIsHarmless) {
    TimerService& service = Service();
    CountingSink sink(service);
    const uint32_t id = service.SetEvent(2, 1, &sink);
    service.KillEvent(id);
    service.KillEvent(id);
    service.KillEvent(0x7fff1234);
    const int atKill = sink.events;
    EXPECT_EQ(sink.Settled(milliseconds(20)), atKill);
}

TEST(TimerService, TickCountFollowsSleep) {
    TimerService& service = Service();
    const uint32_t before = service.TickCount();
    service.Sleep(60);
    const uint32_t slept = service.TickCount() - before;
    EXPECT_GE(slept, 40u);  // GetTickCount may tick in steps of up to 16 ms
    EXPECT_LT(slept, 5000u);
}

}  // namespace
}  // namespace platform
