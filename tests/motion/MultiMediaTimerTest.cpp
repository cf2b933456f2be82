#include "motion/MultiMediaTimer.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "platform/virtual/VirtualTimerService.h"

namespace motion {
namespace {

using platform::VirtualTimerService;

// Records the virtual time of every event; optionally runs an action inside the event.
struct EventLog {
    explicit EventLog(VirtualTimerService* s) : service(s) {}
    VirtualTimerService* service;
    std::vector<uint64_t> times;
    void (*inside)(EventLog&, TMultiMediaTimer&) = nullptr;
    void Fired(TMultiMediaTimer& timer) {
        times.push_back(service->NowMs());
        if (inside != nullptr) inside(*this, timer);
    }
    TMultiMediaTimer::TimerEvent Handler() {
        return TMultiMediaTimer::TimerEvent::Bind<&EventLog::Fired>(this);
    }
};

struct Rounding {
    double intervalSeconds;
    uint32_t expectedDelayMs;  // 0: nothing armed
};

TEST(TMultiMediaTimer, IntervalIsRoundedToWholeMillisecondsHalvesToEven) {
    const Rounding cases[] = {
        {0.0004, 0},
        {0.0034, 3},
        {0.0625, 62},
        {0.1, 100},
        {0.001, 1},
        {0.0, 0},
        {-0.01, 0},
        {2000.0, 0},
        {1000.0, 1000000},
        {std::numeric_limits<double>::quiet_NaN(), 0},
        {std::numeric_limits<double>::infinity(), 0},
    };
    for (const Rounding& c : cases) {
        VirtualTimerService service;
        EventLog log(&service);
        TMultiMediaTimer timer(service);
        timer.SetOnTimer(log.Handler());
        timer.SetInterval(c.intervalSeconds);
        timer.SetEnabled(true);
        const auto calls = service.SetEventCalls();
        if (c.expectedDelayMs == 0) {
            EXPECT_TRUE(calls.empty()) << c.intervalSeconds;
            EXPECT_EQ(timer.TimerId(), 0u) << c.intervalSeconds;
        } else {
            ASSERT_EQ(calls.size(), 1u) << c.intervalSeconds;
            EXPECT_EQ(calls[0].delayMs, c.expectedDelayMs) << c.intervalSeconds;
            EXPECT_EQ(calls[0].resolutionMs, 1u);
            EXPECT_NE(timer.TimerId(), 0u);
        }
    }
}

TEST(TMultiMediaTimer, ArmsOnlyWithinTheServicePeriodRange) {
    const Rounding cases[] = {{0.004, 0}, {0.0049, 0}, {0.005, 5}, {0.1, 100}, {0.1005, 0}};
    for (const Rounding& c : cases) {
        VirtualTimerService service({5, 100});
        EventLog log(&service);
        TMultiMediaTimer timer(service);
        timer.SetOnTimer(log.Handler());
        timer.SetInterval(c.intervalSeconds);
        timer.SetEnabled(true);
        const auto calls = service.SetEventCalls();
        ASSERT_EQ(calls.size(), c.expectedDelayMs == 0 ? 0u : 1u) << c.intervalSeconds;
        if (!calls.empty()) {
            EXPECT_EQ(calls[0].delayMs, c.expectedDelayMs);
            EXPECT_EQ(calls[0].resolutionMs, 5u);  // the resolution is the minimum period
        }
    }
}

TEST(TMultiMediaTimer, FiresEveryIntervalUntilDisabled) {
    VirtualTimerService service;
    EventLog log(&service);
    TMultiMediaTimer timer(service);
    timer.SetOnTimer(log.Handler());
    timer.SetInterval(0.025);
    timer.SetEnabled(true);
    service.Advance(100);
    timer.SetEnabled(false);
    service.Advance(100);
    EXPECT_EQ(log.times, (std::vector<uint64_t>{25, 50, 75, 100}));
    EXPECT_EQ(service.ArmedCount(), 0u);
}

TEST(TMultiMediaTimer, ZeroIntervalOrNoHandlerKeepsAnEnabledTimerSilent) {
    VirtualTimerService service;
    EventLog log(&service);
    {
        TMultiMediaTimer timer(service);
        timer.SetInterval(0.01);
        timer.SetEnabled(true);  // no OnTimer yet
        EXPECT_EQ(service.ArmedCount(), 0u);
        timer.SetOnTimer(log.Handler());
        EXPECT_EQ(service.ArmedCount(), 1u);
        timer.SetInterval(0);
        EXPECT_EQ(service.ArmedCount(), 0u);
        service.Advance(1000);
    }
    EXPECT_TRUE(log.times.empty());
}

TEST(TMultiMediaTimer, SettingAnyPropertyRestartsTheTimingEvenWithTheSameValue) {
    VirtualTimerService service;
    EventLog log(&service);
    TMultiMediaTimer timer(service);
    timer.SetOnTimer(log.Handler());
    timer.SetInterval(0.1);
    timer.SetEnabled(true);
    service.Advance(60);
    timer.SetInterval(0.1);  // same value: the next event is 100 ms from now
    service.Advance(90);
    timer.SetEnabled(true);
    service.Advance(90);
    timer.SetOnTimer(log.Handler());
    service.Advance(150);
    EXPECT_EQ(log.times, (std::vector<uint64_t>{240 + 100}));
}

TEST(TMultiMediaTimer, ReTimingFromItsOwnEventKeepsTheScheduleForTheSameDelay) {
    VirtualTimerService service;
    EventLog log(&service);
    log.inside = [](EventLog& l, TMultiMediaTimer& timer) {
        l.service->Sleep(3);        // the handler's own latency
        timer.SetInterval(0.0101);  // rounds to the armed 10 ms
    };
    TMultiMediaTimer timer(service);
    timer.SetOnTimer(log.Handler());
    timer.SetInterval(0.01);
    timer.SetEnabled(true);
    service.Advance(45);
    // Counted from each event's due time, not from the late moment of the call.
    EXPECT_EQ(log.times, (std::vector<uint64_t>{10, 20, 30, 40}));
    EXPECT_EQ(service.SetEventCalls().size(), 1u);
}

TEST(TMultiMediaTimer, ReTimingFromNowNeverKeepsTheScheduleAndKeepsScheduleSaysWhichHappens) {
    struct Case {
        bool fromNow;
        std::vector<uint64_t> times;
    };
    // A handler that starts 3 ms late and re-times with the armed delay: kept, the events stay
    // on the 10 ms schedule; from now, each counts from the late call.
    const Case cases[] = {{false, {10, 20, 30, 40}}, {true, {10, 23, 36}}};
    for (const Case& c : cases) {
        VirtualTimerService service;
        EventLog log(&service);
        static bool fromNow;
        static std::vector<bool> keeps;
        fromNow = c.fromNow;
        keeps.clear();
        log.inside = [](EventLog& l, TMultiMediaTimer& timer) {
            l.service->Sleep(3);
            keeps.push_back(timer.KeepsSchedule(0.01));
            keeps.push_back(timer.KeepsSchedule(0.02));
            if (fromNow) {
                timer.SetIntervalFromNow(0.01);
            } else {
                timer.SetInterval(0.01);
            }
        };
        TMultiMediaTimer timer(service);
        timer.SetOnTimer(log.Handler());
        timer.SetInterval(0.01);
        timer.SetEnabled(true);
        EXPECT_FALSE(timer.KeepsSchedule(0.01));  // only from inside its own event
        service.Advance(45);
        EXPECT_EQ(log.times, c.times) << c.fromNow;
        for (size_t i = 0; i < keeps.size(); ++i)
            EXPECT_EQ(keeps[i], i % 2 == 0) << c.fromNow << " " << i;
    }
}

TEST(TMultiMediaTimer, ReTimingFromItsOwnEventWithANewDelayCountsFromTheCall) {
    VirtualTimerService service;
    EventLog log(&service);
    log.inside = [](EventLog& l, TMultiMediaTimer& timer) {
        timer.SetInterval(0.001 * (l.times.size() + 1) * 10);  // 20 ms, 30 ms, ...
    };
    TMultiMediaTimer timer(service);
    timer.SetOnTimer(log.Handler());
    timer.SetInterval(0.01);
    timer.SetEnabled(true);
    service.Advance(100);
    EXPECT_EQ(log.times, (std::vector<uint64_t>{10, 30, 60, 100}));
    EXPECT_EQ(service.ArmedCount(), 1u);
}

TEST(TMultiMediaTimer, DisablingFromItsOwnEventStopsIt) {
    VirtualTimerService service;
    EventLog log(&service);
    log.inside = [](EventLog&, TMultiMediaTimer& timer) { timer.SetEnabled(false); };
    TMultiMediaTimer timer(service);
    timer.SetOnTimer(log.Handler());
    timer.SetInterval(0.01);
    timer.SetEnabled(true);
    service.Advance(100);
    EXPECT_EQ(log.times, (std::vector<uint64_t>{10}));
    EXPECT_EQ(service.ArmedCount(), 0u);
}

TEST(TMultiMediaTimer, RaisesTheResolutionForItsLifeAndKillsItsEventOnDestruction) {
    VirtualTimerService service({2, 5000});
    EventLog log(&service);
    {
        TMultiMediaTimer timer(service);
        EXPECT_EQ(timer.Caps().wPeriodMin, 2u);
        EXPECT_EQ(service.BeginPeriodCalls(), (std::vector<uint32_t>{2}));
        timer.SetOnTimer(log.Handler());
        timer.SetEnabled(true);
        EXPECT_EQ(service.ArmedCount(), 1u);
        EXPECT_TRUE(service.EndPeriodCalls().empty());
    }
    EXPECT_EQ(service.ArmedCount(), 0u);
    EXPECT_EQ(service.EndPeriodCalls(), (std::vector<uint32_t>{2}));
}

TEST(TMultiMediaTimer, FailedCapsQueryMakesItInertAndSkipsEndPeriod) {
    VirtualTimerService service({1, 1000000}, /*capsQueryFails=*/true);
    EventLog log(&service);
    {
        TMultiMediaTimer timer(service);
        EXPECT_EQ(timer.Caps().wPeriodMin, TMultiMediaTimer::kNoCaps);
        EXPECT_EQ(timer.Caps().wPeriodMax, 0u);
        timer.SetOnTimer(log.Handler());
        for (double interval : {0.001, 0.1, 1.0, 1000.0}) {
            timer.SetInterval(interval);
            timer.SetEnabled(true);
            EXPECT_EQ(timer.TimerId(), 0u);
        }
        service.Advance(5000);
    }
    EXPECT_TRUE(log.times.empty());
    EXPECT_TRUE(service.SetEventCalls().empty());
    EXPECT_TRUE(service.BeginPeriodCalls().empty());
    EXPECT_TRUE(service.EndPeriodCalls().empty());
}

TEST(TMultiMediaTimer, HostSecondsFollowTheVirtualTickCount) {
    VirtualTimerService service;
    TMultiMediaTimer timer(service);
    service.SetNowMs(123456);
    EXPECT_DOUBLE_EQ(timer.HostSeconds(), 123.456);
    service.SetNowMs(0x1'0000'0005ull);  // the tick count wraps like GetTickCount
    EXPECT_DOUBLE_EQ(timer.HostSeconds(), 0.005);
}

}  // namespace
}  // namespace motion
