// Host-timed runs under disturbance, in virtual time: a held timer thread, the rate limit, an
// edit of the running program step, waits longer than the timer can arm, and the pulled walk.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "MotorTestSupport.h"
#include "motion/StepSchedule.h"
#include "motion/StepperMotor.h"

namespace motion {
namespace {

using platform::VirtualTimerService;

constexpr uint8_t R = kDirRight;

struct Intervals {
    double shortest = 1e300;
    double longest = 0;
};

Intervals IntervalsOf(const std::vector<uint64_t>& times) {
    Intervals out;
    for (size_t i = 1; i < times.size(); ++i) {
        const double d = static_cast<double>(times[i] - times[i - 1]);
        out.shortest = std::min(out.shortest, d);
        out.longest = std::max(out.longest, d);
    }
    return out;
}

// The step's handler holds the timer thread (a slow port write, another motor's work) for
// holdMs at step number holdAt.
struct Hold {
    static inline size_t holdAt = 0;
    static inline uint32_t holdMs = 0;
    static void OnStep(MotorRecorder& r, uint8_t) {
        if (r.Count('R') == holdAt) r.service.Sleep(holdMs);
    }
};

// The step times of one motor's run of step whose timer thread is held (Hold) for holdMs at
// step number holdAt. slips: the timer slips its grid after a late event, as Wine's does.
// sleptMs: how long the thread was held in all.
std::vector<uint64_t> HeldRunTimes(const TsmProgramStep& step, size_t holdAt, uint32_t holdMs,
                                   bool slips, uint64_t* sleptMs = nullptr) {
    VirtualTimerService service;
    service.SetSlipsLateEvents(slips);
    TStepperMotor motor{0, service};
    MotorRecorder recorder{service};
    recorder.Attach(motor);
    recorder.onStep = &Hold::OnStep;
    Hold::holdAt = holdAt;
    Hold::holdMs = holdMs;
    SetProgram(motor, {step});
    motor.StartProgram();
    service.Advance(5000);
    if (sleptMs != nullptr) *sleptMs = service.SleptMs();
    return recorder.StepTimes();
}

TEST(HostTiming, AHeldTimerThreadIsFollowedByNoBurstAndNoCatchUpFasterThanTheProgramAllows) {
    struct Case {
        double frequency;
        size_t holdAt;
        uint32_t holdMs;
    };
    const Case cases[] = {{100, 10, 60}, {700, 5, 47}, {300, 20, 30},
                          {1000, 8, 25}, {450, 3, 9},  {100, 40, 5}};
    for (const Case& c : cases) {
        uint64_t sleptMs = 0;
        const std::vector<uint64_t> times =
            HeldRunTimes({200, c.frequency, 0.0, R}, c.holdAt, c.holdMs, false, &sleptMs);
        const std::string where = std::to_string(c.frequency) + " Hz";
        ASSERT_EQ(times.size(), 200u) << where;  // nothing lost, nothing added
        const double periodMs = 1000 / c.frequency;
        const Intervals iv = IntervalsOf(times);
        // Never sooner than the program allows, less the timer's whole-millisecond rounding.
        // No burst: never sooner than the program allows, less the timer's rounding; the
        // run catches up no faster than that (at 1000 Hz not at all).
        EXPECT_GE(iv.shortest, std::max(std::ceil(periodMs - 1 - 1e-9), 1.0)) << where;
        EXPECT_LE(iv.longest, c.holdMs + std::ceil(periodMs) + 1) << where;
        const double idealLast = std::round(199 * periodMs);
        EXPECT_GE(static_cast<double>(times.back()), idealLast) << where;
        EXPECT_LE(static_cast<double>(times.back()), idealLast + c.holdMs + 1) << where;
        EXPECT_EQ(sleptMs, c.holdMs) << where;
    }
}

TEST(HostTiming, AStepALittleLateOnASlippingTimerPutsTheNextBackOnItsIdealTime) {
    // Wine counts a late periodic event's successor from the late delivery. A step a little
    // late (within the events' jitter) must not keep that schedule, or every later step keeps
    // the lag.
    struct Case {
        double frequency;
        size_t holdAt;
        uint32_t holdMs;  // the next event comes holdMs less one period late
    };
    const Case cases[] = {{250, 10, 5}, {500, 20, 3}, {200, 5, 7}, {125, 8, 9}};
    for (const Case& c : cases) {
        const TsmProgramStep step{60, c.frequency, 0.0, R};
        const std::vector<uint64_t> times = HeldRunTimes(step, c.holdAt, c.holdMs, true);
        ASSERT_EQ(times.size(), 60u) << c.frequency;
        // Made up a millisecond a step at most (no catch-up faster than the program allows,
        // less the timer's millisecond), then on the ideal times to the end.
        const size_t lateMs = c.holdMs - static_cast<size_t>(1000 / c.frequency);
        for (size_t i = c.holdAt + 1 + lateMs; i < times.size(); ++i) {
            const double idealMs = TStepSchedule::Offset(step, static_cast<int32_t>(i)) * 1000;
            EXPECT_EQ(static_cast<double>(times[i] - times[0]), std::round(idealMs))
                << c.frequency << " Hz, step " << i;
        }
    }
}

TEST(HostTiming, TheRateLimitSlowsAProgramWithoutPairsAndNeverSleepsOnTheTimerThread) {
    struct Case {
        double frequency, maxFrequency;
        double minIntervalMs;
    };
    const Case cases[] = {{200, 100, 10}, {1000, 300, 3}, {500, 250, 4}, {100, 100, 10}};
    for (const Case& c : cases) {
        VirtualTimerService service;
        TStepperMotor motor{0, service};
        MotorRecorder recorder{service};
        recorder.Attach(motor);
        motor.SetMaxFrequency(c.maxFrequency);
        SetProgram(motor, {{40, c.frequency, 0.0, R}});
        motor.StartProgram();
        service.Advance(5000);
        const std::vector<uint64_t> times = recorder.StepTimes();
        ASSERT_EQ(times.size(), 40u) << c.frequency;
        EXPECT_GE(IntervalsOf(times).shortest, c.minIntervalMs) << c.frequency;
        EXPECT_LE(IntervalsOf(times).longest, c.minIntervalMs + 1) << c.frequency;
        EXPECT_EQ(service.SleptMs(), 0u) << c.frequency;
        EXPECT_FALSE(motor.Running());
    }
}

TEST(HostTiming, OneMotorsLimitedJogDoesNotHoldAnotherMotorsSteps) {
    // Both motors' events come on the one timer thread: a limiter that slept there would make
    // the other motor's steps late and then bunched.
    VirtualTimerService service;
    TStepperMotor jogged{0, service};
    TStepperMotor runner{1, service};
    MotorRecorder jogRecorder{service}, runRecorder{service};
    jogRecorder.Attach(jogged);
    runRecorder.Attach(runner);
    jogged.SetMaxFrequency(10);
    jogged.SetControlFrequency(200);
    SetProgram(runner, {{96, 100.0, 0.0, R}});
    runner.StartProgram();
    jogged.StartJog(R);
    service.Advance(1200);
    jogged.Stop();
    const std::vector<uint64_t> times = runRecorder.StepTimes();
    ASSERT_EQ(times.size(), 96u);
    EXPECT_EQ(IntervalsOf(times).shortest, 10);
    EXPECT_EQ(IntervalsOf(times).longest, 10);
    const Intervals jog = IntervalsOf(jogRecorder.StepTimes());
    EXPECT_GE(jog.shortest, 99);
    EXPECT_EQ(service.SleptMs(), 0u);
}

TEST(HostTiming, AJogPressOnARunningProgramLeavesTheProgramsTimingAlone) {
    VirtualTimerService service;
    TStepperMotor motor{0, service};
    MotorRecorder recorder{service};
    recorder.Attach(motor);
    motor.SetControlFrequency(10);
    SetProgram(motor, {{60, 100.0, 0.0, R}});
    motor.StartProgram();
    service.AdvanceTo(55);
    // The window's jog press: a step at once, then the jog.
    EXPECT_TRUE(motor.TryStep(kDirLeft));
    motor.StartJog(kDirLeft);
    service.Advance(1000);
    std::vector<uint64_t> program;
    for (const std::string& e : recorder.events)
        if (e[0] == 'R') program.push_back(std::stoull(e.substr(2)));
    ASSERT_EQ(program.size(), 60u);
    EXPECT_EQ(IntervalsOf(program).shortest, 10);
    EXPECT_EQ(IntervalsOf(program).longest, 10);
    EXPECT_EQ(recorder.Count('L'), 1u);
}

TEST(HostTiming, AnEditOfTheRunningStepPlaysTheNextStepOneNewPeriodAfterTheLast) {
    struct Case {
        TsmProgramStep before, after;
        uint64_t editAtMs;
        uint64_t expectedNextMs;  // the first step after the edit
    };
    const Case cases[] = {
        {{40, 100.0, 0.0, R}, {40, 50.0, 0.0, R}, 55, 70},     // slower: 20 ms after 50
        {{40, 100.0, 0.0, R}, {40, 200.0, 0.0, R}, 52, 55},    // faster: 5 ms after 50
        {{40, 10.0, 0.0, R}, {40, 1000.0, 0.0, R}, 320, 321},  // due 301: at once
        {{40, 100.0, 0.0, R}, {60, 100.0, 0.0, R}, 55, 60},    // more steps: same spacing
        {{40, 100.0, 0.0, R}, {80, 100.0, 0.4, R}, 55, 69},    // a ramp: its 19.1 ms there
    };
    for (const Case& c : cases) {
        VirtualTimerService service;
        TStepperMotor motor{0, service};
        MotorRecorder recorder{service};
        recorder.Attach(motor);
        SetProgram(motor, {c.before});
        motor.StartProgram();
        service.AdvanceTo(c.editAtMs);
        const size_t played = recorder.StepTimes().size();
        const uint64_t last = recorder.StepTimes().back();
        motor.LockProgram()->Items(0) = c.after;
        service.Advance(20'000);
        const std::vector<uint64_t> times = recorder.StepTimes();
        const std::string where =
            std::to_string(c.after.Frequency) + " Hz at " + std::to_string(c.editAtMs) + " ms";
        ASSERT_GT(times.size(), played + 2) << where;
        const double newPeriodMs = 1000 * TStepSchedule::Period(c.after, int32_t(played) - 1);
        EXPECT_EQ(times[played], c.expectedNextMs) << where;
        const double dueMs =
            std::max(static_cast<double>(last) + newPeriodMs, static_cast<double>(c.editAtMs));
        EXPECT_LE(static_cast<double>(times[played]) - dueMs, 1.0) << where;
        EXPECT_EQ(times.size(), static_cast<size_t>(c.after.Steps)) << where;
        EXPECT_FALSE(motor.Running()) << where;
    }
}

TEST(HostTiming, AnEditInThePulledWalkReanchorsTheDueTimes) {
    struct Case {
        double before, after;
    };
    for (const Case c : {Case{1000, 100}, Case{100, 1000}, Case{100, 50}}) {
        VirtualTimerService service;
        TStepperMotor motor{0, service};
        SetProgram(motor, {{20, c.before, 0.0, R}});
        motor.Stop();
        motor.SetRunning(true);
        double lastDue = 0;
        for (int i = 0; i < 5; ++i) {
            motor.NextPeriod();
            lastDue = motor.StepDue();
            motor.AdvanceStep();
        }
        motor.LockProgram()->Items(0).Frequency = c.after;
        for (int i = 0; i < 3; ++i) {
            EXPECT_NEAR(motor.NextPeriod(), 1 / c.after, 1e-12) << c.after;
            EXPECT_NEAR(motor.StepDue() - lastDue, 1 / c.after, 1e-9)
                << c.before << " -> " << c.after;
            lastDue = motor.StepDue();
            motor.AdvanceStep();
        }
    }
}

TEST(HostTiming, AStopBetweenPullingAPeriodAndAdvancingLeavesTheProgramAtItsStart) {
    VirtualTimerService service;
    TStepperMotor motor{0, service};
    SetProgram(motor, {{3, 10.0, 0.0, R}, {2, 20.0, 0.0, R}});
    motor.Stop();
    motor.SetRunning(true);
    for (int i = 0; i < 4; ++i) {  // into the second program step
        motor.NextPeriod();
        motor.AdvanceStep();
    }
    motor.NextPeriod();
    motor.Stop();
    motor.AdvanceStep();  // the fill that pulled it goes on after the Stop
    EXPECT_EQ(motor.StepIndex(), 0);
    EXPECT_EQ(motor.StepCounter(), 0);
    motor.SetRunning(true);
    motor.AdvanceStep();  // still nothing handed out of the new run
    EXPECT_DOUBLE_EQ(motor.NextPeriod(), 0.1);
    EXPECT_EQ(motor.StepDue(), 0);
    EXPECT_EQ(motor.StepCounter(), 0);
}

TEST(HostTiming, AWaitLongerThanTheTimerCanArmIsTakenInPartsAndStopEndsIt) {
    // 0.0005 Hz: 2000 s between steps, where the timer arms at most 65535 ms.
    VirtualTimerService service{{1, 65535}};
    TStepperMotor motor{0, service};
    MotorRecorder recorder{service};
    recorder.Attach(motor);
    SetProgram(motor, {{3, 0.0005, 0.0, R}});
    motor.StartProgram();
    service.Advance(4'000'001);
    EXPECT_EQ(recorder.Trace(), "R@0 R@2000000 R@4000000");
    service.Advance(1'000'000);
    EXPECT_TRUE(motor.Running());
    EXPECT_EQ(service.ArmedCount(), 1u);
    motor.Stop();
    EXPECT_EQ(service.ArmedCount(), 0u);
    service.Advance(10'000'000);
    EXPECT_EQ(recorder.Count('R'), 3u);
    EXPECT_EQ(recorder.Count('F'), 0u);
}

TEST(HostTiming, SpaceStepsNeverWaitOnTheCallersThread) {
    VirtualTimerService service;
    TStepperMotor motor{0, service};
    MotorRecorder recorder{service};
    recorder.Attach(motor);
    motor.SetMaxFrequency(20);
    motor.StepSoon(R);  // at once
    motor.StepSoon(R);  // the limiter holds it: the timer takes it
    motor.StepSoon(kDirLeft);
    EXPECT_EQ(recorder.Trace(), "R@0");
    EXPECT_EQ(service.SleptMs(), 0u);
    service.Advance(500);
    EXPECT_EQ(recorder.Trace(), "R@0 R@49 L@98");
    EXPECT_EQ(service.ArmedCount(), 0u);  // nothing left to wait for
    motor.StepSoon(R);
    motor.StepSoon(R);
    motor.Stop();  // a Stop gives up the steps still waiting
    service.Advance(500);
    EXPECT_EQ(recorder.Count('R') + recorder.Count('L'), 4u);
}

}  // namespace
}  // namespace motion
