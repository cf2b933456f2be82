#include "motion/StepperMotor.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numeric>

#include "MotorTestSupport.h"
#include "motion/RoundHalfEven.h"
#include "motion/StepSchedule.h"

namespace motion {
namespace {

using platform::VirtualTimerService;

constexpr uint8_t R = kDirRight;
constexpr uint8_t L = kDirLeft;
constexpr uint8_t P = kDirNone;

uint64_t WholeMs(double seconds) {
    return static_cast<uint64_t>(RoundHalfEven(seconds * 1000));
}

class StepperMotorTest : public ::testing::Test {
  protected:
    StepperMotorTest() { recorder.Attach(motor); }
    VirtualTimerService service;
    TStepperMotor motor{2, service};
    MotorRecorder recorder{service};
};

// --- ramp formula --------------------------------------------------------------------------

TEST(RampPeriod, WorkedExampleOf100HzWithHalfSecondRamp) {
    const TsmProgramStep step{100, 100.0, 0.5, R};
    EXPECT_NEAR(TStepperMotor::RampPeriod(step, 0), 0.1, 1e-12);
    EXPECT_NEAR(TStepperMotor::RampPeriod(step, 1), 0.041421, 1e-6);
    EXPECT_NEAR(TStepperMotor::RampPeriod(step, 2), 0.031784, 1e-6);
}

TEST(RampPeriod, ShortMoveIsASymmetricTriangle) {
    const TsmProgramStep step{10, 100.0, 0.5, R};
    for (int32_t i = 0; i < 4; ++i) {
        EXPECT_GT(TStepperMotor::RampPeriod(step, i), TStepperMotor::RampPeriod(step, i + 1));
    }
    for (int32_t i = 0; i < 5; ++i) {
        EXPECT_NEAR(TStepperMotor::RampPeriod(step, i), TStepperMotor::RampPeriod(step, 9 - i),
                    1e-12);
    }
    EXPECT_NEAR(TStepperMotor::RampPeriod(step, 9), 0.1, 1e-12);
}

TEST(RampPeriod, LongMoveHasRampPlateauRamp) {
    const TsmProgramStep step{100, 100.0, 0.5, R};
    double ramp = 0;
    for (int32_t i = 0; i < 25; ++i) {
        const double p = TStepperMotor::RampPeriod(step, i);
        EXPECT_GT(p, 0.01) << i;
        ramp += p;
    }
    EXPECT_NEAR(ramp, 0.5, 1e-12);  // the 25 accelerating steps take the ramp time
    for (int32_t i = 25; i < 75; ++i)
        EXPECT_DOUBLE_EQ(TStepperMotor::RampPeriod(step, i), 0.01);
    for (int32_t i = 75; i < 100; ++i) {
        EXPECT_NEAR(TStepperMotor::RampPeriod(step, i), TStepperMotor::RampPeriod(step, 99 - i),
                    1e-12);
    }
}

TEST(RampPeriod, WithoutARampOrWithoutAFrequency) {
    struct Case {
        double frequency, rampTime, expected;
    };
    const Case cases[] = {
        {100.0, 0.0, 0.01},  {100.0, -1.0, 0.01},
        {0.0, 0.0, 0.0},     {0.0, 0.5, 0.0},  // a ramp towards 0 Hz holds like 0 Hz without a ramp
        {-50.0, 0.0, -0.02},
    };
    for (const Case& c : cases) {
        const TsmProgramStep step{10, c.frequency, c.rampTime, R};
        for (int32_t i : {0, 5, 9}) {
            EXPECT_DOUBLE_EQ(TStepperMotor::RampPeriod(step, i), c.expected)
                << c.frequency << " Hz, " << c.rampTime << " s, step " << i;
        }
    }
}

TEST(RampPeriod, HugeRampDoesNotOverflow) {
    const TsmProgramStep step{2'000'000'000, 1e9, 1e6, R};
    EXPECT_TRUE(std::isfinite(TStepperMotor::RampPeriod(step, 1'999'999'999)));
    EXPECT_GT(TStepperMotor::RampPeriod(step, 1'999'999'999), 0);
}

// --- phase code --------------------------------------------------------------------------

TEST(Phase, GrayCodeInBothDirections) {
    struct Case {
        uint8_t from, direction, to;
    };
    const Case cases[] = {
        {0, R, 1}, {1, R, 3}, {3, R, 2}, {2, R, 0},   {0, L, 2}, {2, L, 3},
        {3, L, 1}, {1, L, 0}, {4, R, 0}, {255, L, 0}, {3, P, 3},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(TStepperMotor::NextPhase(c.from, c.direction), c.to)
            << int(c.from) << " dir " << int(c.direction);
    }
}

TEST_F(StepperMotorTest, StepsAdvancePhaseAndPositionAndShowThePosition) {
    for (int i = 0; i < 4; ++i)
        motor.Step(R);
    EXPECT_EQ(motor.Phase(), 0);
    EXPECT_EQ(motor.Position(), 4);
    for (int i = 0; i < 7; ++i)
        motor.Step(L);
    EXPECT_EQ(motor.Phase(), 1);  // 0 -> 2 -> 3 -> 1 -> 0 -> 2 -> 3 -> 1
    EXPECT_EQ(motor.Position(), -3);
    EXPECT_EQ(recorder.texts.back(), "-3");
    EXPECT_EQ(recorder.texts.size(), 11u);
    motor.Step(P);
    motor.Step(7);
    EXPECT_EQ(recorder.Count('R') + recorder.Count('L'), 11u);
    EXPECT_EQ(motor.Position(), -3);
}

TEST_F(StepperMotorTest, OnStepSeesTheNewPhaseAndTheOldPosition) {
    static TStepperMotor* seen;
    static std::vector<std::pair<int, int>> phaseAndPosition;
    seen = &motor;
    phaseAndPosition.clear();
    recorder.onStep = [](MotorRecorder&, uint8_t) {
        phaseAndPosition.emplace_back(seen->Phase(), seen->Position());
    };
    motor.Step(R);
    motor.Step(R);
    motor.Step(L);
    EXPECT_EQ(phaseAndPosition, (std::vector<std::pair<int, int>>{{1, 0}, {3, 1}, {1, 2}}));
}

TEST_F(StepperMotorTest, PositionWrapsAtTheEndsOfItsRange) {
    motor.SetMaxFrequency(0);
    motor.SetPosition(INT32_MAX);
    motor.Step(R);
    EXPECT_EQ(motor.Position(), INT32_MIN);
    motor.Step(L);
    EXPECT_EQ(motor.Position(), INT32_MAX);
}

// --- rate limiter ------------------------------------------------------------------------

TEST_F(StepperMotorTest, RateLimiterAt1000HzOnlyDelaysAClockThatWentBack) {
    service.SetNowMs(50);
    motor.Step(R);
    motor.Step(R);  // same tick: the allowance is now + 0.001 - 0.001 = now
    EXPECT_EQ(service.SleptMs(), 0u);
    EXPECT_DOUBLE_EQ(motor.NextAllowedTime(), 0.05);
    service.SetNowMs(40);
    motor.Step(R);  // waits until the allowance
    EXPECT_EQ(service.SleptMs(), 10u);
}

TEST_F(StepperMotorTest, RateLimiterNeverLetsTwoStepsCloserThanItsPeriodLessAMillisecond) {
    // Steps asked for at these times (ms) under a 100 Hz limit; each waits until 9 ms after
    // the step before it, and the allowance counts from when the step was taken, so a step
    // that waited is never followed by one at once.
    motor.SetMaxFrequency(100);
    service.SetNowMs(1000);
    std::vector<uint64_t> times;
    for (uint64_t askedAt : {1000, 1008, 1009, 1010, 1030, 1031}) {
        if (service.NowMs() < askedAt) service.SetNowMs(askedAt);
        motor.Step(R);
        times.push_back(service.NowMs());
    }
    EXPECT_EQ(times, (std::vector<uint64_t>{1000, 1009, 1018, 1027, 1036, 1045}));
    EXPECT_NEAR(motor.NextAllowedTime(), 1.054, 1e-9);
}

TEST_F(StepperMotorTest, RateLimiterSleepIsRoundedHalvesToEvenAndOffAtZero) {
    struct Case {
        double maxFrequency;
        uint64_t sleptMs;
    };
    const Case cases[] = {{300, 3}, {400, 2}, {80, 12}, {0, 0}, {-5, 0}};
    for (const Case& c : cases) {
        VirtualTimerService s;
        TStepperMotor m(0, s);
        m.SetMaxFrequency(c.maxFrequency);
        s.SetNowMs(500);
        m.Step(R);
        m.Step(R);
        EXPECT_EQ(s.SleptMs(), c.sleptMs) << c.maxFrequency;
    }
}

// --- host-timed runs ------------------------------------------------------------------------

TEST_F(StepperMotorTest, ShortProgramStepsThenFinishesOnePeriodAfterTheLastStep) {
    SetProgram(motor, {{3, 100.0, 0.0, R}});
    motor.StartProgram();
    EXPECT_TRUE(motor.Running());
    service.Advance(29);
    EXPECT_TRUE(motor.Running());
    service.Advance(100);
    EXPECT_EQ(recorder.Trace(), "R@0 R@10 R@20 F@30 C@30");
    EXPECT_FALSE(motor.Running());
    EXPECT_EQ(motor.StepIndex(), 0);
    EXPECT_EQ(motor.StepCounter(), 0);
    EXPECT_EQ(motor.Position(), 3);
    EXPECT_EQ(motor.Timer().TimerId(), 0u);
    EXPECT_FALSE(motor.Finished());  // a host-timed end leaves it as the start set it
}

TEST_F(StepperMotorTest, RampedRunTimesEveryStepAtItsIdealTimeRoundedFromTheStart) {
    SetProgram(motor, {{10, 100.0, 0.5, L}});
    motor.StartProgram();
    service.Advance(1000);
    // Ideal times 0, 100, 141.42, 173.21, 200, 223.61, 247.21, 274.01, 305.79, 347.21 ms and the
    // end at 447.21, each rounded from the start (rounding each period would end at 448).
    EXPECT_EQ(recorder.Trace(),
              "L@0 L@100 L@141 L@173 L@200 L@224 L@247 L@274 L@306 L@347 F@447 C@447");
    EXPECT_EQ(motor.Position(), -10);
}

TEST(StepperMotorLateTimer, EventsThatStartLateAreCorrectedOnceAndKeepTheProgramsIntervals) {
    // winmm keeps a periodic schedule however late a handler starts. Steps timed on such a
    // timer keep the program's whole-millisecond intervals once the lateness is learnt: the
    // correction is applied to waits armed from now, never on top of a kept schedule.
    struct Case {
        double frequency;
        uint32_t lateMs;
    };
    for (const Case c : {Case{250, 2}, Case{250, 1}, Case{100, 2}, Case{300, 1}, Case{300, 2}}) {
        VirtualTimerService service;
        LateStartTimerService late{service, c.lateMs};
        TStepperMotor motor{1, late};
        MotorRecorder recorder{service};
        recorder.Attach(motor);
        SetProgram(motor, {{80, c.frequency, 0.0, R}});
        motor.StartProgram();
        service.Advance(2000);
        const std::vector<uint64_t> times = recorder.StepTimes();
        ASSERT_EQ(times.size(), 80u) << c.frequency;
        // The first event's lateness (before it is learnt) is caught up no faster than a
        // millisecond per step; from then on every interval is the ideal schedule's own.
        for (size_t i = 1; i < times.size(); ++i) {
            const uint64_t ideal = WholeMs(i / c.frequency) - WholeMs((i - 1) / c.frequency);
            const uint64_t interval = times[i] - times[i - 1];
            if (i >= 6) {
                EXPECT_EQ(interval, ideal)
                    << c.frequency << " Hz, " << c.lateMs << " ms late, step " << i;
            }
            EXPECT_GE(interval + 1, ideal) << c.frequency << " Hz, step " << i;
        }
        // And the run is no later than the lateness of one event.
        EXPECT_LE(times.back() - WholeMs(79 / c.frequency), c.lateMs) << c.frequency;
    }
}

TEST(StepperMotorKeptSchedule, WholeMillisecondStepsKeepThePeriodicEventArmed) {
    // Steps whole milliseconds apart ride the timer's periodic schedule, which catches up
    // events that came late: after the start the event is armed again only at the end.
    for (const double frequency : {1000.0, 500.0, 250.0}) {
        VirtualTimerService service;
        TStepperMotor motor{1, service};
        SetProgram(motor, {{400, frequency, 0.0, R}});
        motor.StartProgram();
        service.Advance(2000);
        EXPECT_FALSE(motor.Running()) << frequency;
        EXPECT_LE(service.SetEventCalls().size(), 3u) << frequency << " Hz";
    }
}

TEST(StepperMotorBetweenMilliseconds, StepsLandAtMostAFifthOfAMillisecondEarlyAndHalfOneLate) {
    // Events armed from a moment between two milliseconds come as far between them. Aimed at
    // the ideal time itself (not at it rounded to a whole millisecond first), every step lands
    // within half a millisecond of it once the handlers' latency is learnt; an event that comes
    // sooner waits on the fine clock, so that no step is more than 0.2 ms early.
    struct Case {
        double frequency;
        uint64_t workUs;
    };
    for (const Case c : {Case{300, 370}, Case{700, 230}, Case{450, 610}}) {
        FineClockRun run{c.workUs};
        const std::vector<double>& times = run.Play({200, c.frequency, 0.0, R}, 2000);
        ASSERT_EQ(times.size(), 200u) << c.frequency;
        for (size_t i = 20; i < times.size(); ++i) {
            const double ideal = 1000.0 * static_cast<double>(i) / c.frequency;
            const double errorMs = times[i] - times[0] - ideal;
            EXPECT_GE(errorMs, -0.2 - 0.05) << c.frequency << " Hz, step " << i;
            EXPECT_LE(errorMs, 0.5 + 0.05) << c.frequency << " Hz, step " << i;
        }
    }
}

TEST(StepperMotorBetweenMilliseconds, AHeldRunGetsBackOnItsIdealScheduleWithoutAPair) {
    // A thread held at step holdAt for holdMs leaves no lag for good (the 1000 Hz limit only
    // rounds the catch-up's steps), and no two steps come closer than the shortest interval;
    // an output that carries one change a millisecond (linkPaced) holds catch-up steps back.
    struct Case {
        double frequency;
        size_t holdAt;
        uint32_t holdMs;
        bool linkPaced = false;
    };
    struct LinkPace final : StepGate {
        platform::TimerService* clock = nullptr;
        double lastMs = -1e9;
        bool MayStep(int32_t) override {
            const double nowMs = static_cast<double>(clock->Microseconds()) / 1000;
            if (nowMs < lastMs + 1) return false;
            lastMs = nowMs;
            return true;
        }
    };
    for (const Case c :
         {Case{1000, 30, 3}, Case{1000, 50, 8}, Case{1000, 100, 25}, Case{1000, 50, 8, true},
          Case{700, 40, 9}, Case{700, 61, 5}, Case{700, 77, 13}, Case{300, 20, 11}}) {
        SCOPED_TRACE(std::to_string(c.frequency) + " Hz, held " + std::to_string(c.holdMs));
        FineClockRun run{120};
        LinkPace link;
        link.clock = &run.fine;
        if (c.linkPaced) run.motor.SetStepGate(&link);
        static Case held;
        held = c;
        run.recorder.onStep = [](MotorRecorder& r, uint8_t) {
            if (r.Count('R') == held.holdAt) r.service.Sleep(held.holdMs);
        };
        const std::vector<double>& times = run.Play({300, c.frequency, 0.0, R}, 3000);
        ASSERT_EQ(times.size(), 300u);
        const double periodMs = 1000 / c.frequency;
        const double shortestMs = c.linkPaced ? 1 : std::max(periodMs - 1, periodMs / 2);
        // Made up per step: half a millisecond at the timer's own period (one more step per
        // event), else the period less the shortest interval, at most the timer's millisecond.
        const double savedMs = periodMs <= 1 ? 0.5 : std::min(1.0, periodMs - 1);
        const size_t backAt = c.holdAt + static_cast<size_t>(1.5 * c.holdMs / savedMs) + 3;
        for (size_t i = 1; i < times.size(); ++i) {
            EXPECT_GE(times[i] - times[i - 1], shortestMs - 1e-3) << "step " << i;
            if (i >= backAt && !c.linkPaced) {
                EXPECT_NEAR(times[i] - times[0], i * periodMs, 1.0) << "step " << i;
            }
        }
    }
}

TEST(StepperMotorBetweenMilliseconds, AOneMillisecondRunTakesThePeriodsTheTimerOwes) {
    // Wine's one-millisecond events come 1.1 ms apart, and a period they owe comes at once
    // after every tenth. A run that made up that lag with steps of its own would race the owed
    // period and wait on the fine clock twice, holding the timer thread every motor shares.
    FineClockRun wine{120, 100};
    const std::vector<double>& times = wine.Play({2000, 1000.0, 0.0, R}, 2500);
    ASSERT_EQ(times.size(), 2000u);
    // Within the lag the timer makes and pays back on its own (1.1 ms, from the first event's).
    for (size_t i = 1; i < times.size(); ++i)
        EXPECT_NEAR(times[i] - times[0], static_cast<double>(i), 1.2) << "step " << i;
    EXPECT_LT(wine.fine.waitedUs, 20'000u) << "more than 1 % of the run on the fine clock";
}

TEST_F(StepperMotorTest, EmptyProgramStepIsPassedWithoutAWait) {
    SetProgram(motor, {{2, 100.0, 0.0, R}, {0, 5.0, 0.0, R}, {-4, 5.0, 0.0, R}, {1, 50.0, 0.0, L}});
    motor.StartProgram();
    service.Advance(20);
    EXPECT_EQ(motor.StepIndex(), 3);
    service.Advance(100);
    EXPECT_EQ(recorder.Trace(), "R@0 R@10 L@20 C@20 C@20 C@20 F@40 C@40");
}

TEST_F(StepperMotorTest, PauseStepsTakeTheirPeriodWithoutMoving) {
    SetProgram(motor, {{1, 100.0, 0.0, R}, {2, 20.0, 0.0, P}, {1, 100.0, 0.0, L}});
    motor.StartProgram();
    service.Advance(200);
    // R at 0; the pause's two 50 ms periods from 10; L at 110; the end one period later.
    EXPECT_EQ(recorder.Trace(), "R@0 C@10 L@110 C@110 F@120 C@120");
    EXPECT_EQ(motor.Phase(), 0);
    EXPECT_EQ(motor.Position(), 0);
}

TEST_F(StepperMotorTest, LoopingProgramFinishesEveryPassAndNeverStops) {
    SetProgram(motor, {{2, 100.0, 0.0, R}}, /*looping=*/true);
    motor.StartProgram();
    service.Advance(45);
    EXPECT_EQ(recorder.Trace(), "R@0 R@10 F@20 R@20 C@20 R@30 F@40 R@40 C@40");
    service.Advance(10'000);
    EXPECT_TRUE(motor.Running());
    EXPECT_EQ(recorder.Count('R'), 1005u);
    motor.Stop();
    service.Advance(1000);
    EXPECT_EQ(recorder.Count('R'), 1005u);
}

TEST_F(StepperMotorTest, StartOnAnEmptyProgramFinishesAtOnce) {
    motor.StartProgram();
    EXPECT_EQ(recorder.Trace(), "F@0");
    EXPECT_FALSE(motor.Running());
    EXPECT_EQ(service.ArmedCount(), 0u);
}

TEST_F(StepperMotorTest, LoopingProgramWithoutAnyStepEndsInsteadOfSpinning) {
    SetProgram(motor, {{0, 100.0, 0.0, R}, {-1, 100.0, 0.0, L}}, /*looping=*/true);
    motor.StartProgram();
    EXPECT_EQ(recorder.Trace(), "F@0 C@0 C@0");
    EXPECT_FALSE(motor.Running());
    EXPECT_EQ(service.ArmedCount(), 0u);
}

TEST_F(StepperMotorTest, LoopingProgramEmptiedWhileRunningEndsAfterTheEmptyPass) {
    SetProgram(motor, {{1, 100.0, 0.0, R}}, /*looping=*/true);
    motor.StartProgram();
    service.Advance(25);
    motor.LockProgram()->Items(0).Steps = 0;
    service.Advance(100);
    EXPECT_FALSE(motor.Running());
    EXPECT_EQ(recorder.Count('R'), 3u);
}

TEST_F(StepperMotorTest, HundredThousandEmptyRecordsArePassedWithoutRecursion) {
    {
        auto program = motor.LockProgram();
        for (int i = 0; i < 100'000; ++i)
            program->Add() = {0, 100.0, 0.0, R};
        program->Add() = {1, 100.0, 0.0, L};
    }
    motor.StartProgram();
    EXPECT_EQ(recorder.events.front(), "L@0");
    EXPECT_EQ(recorder.Count('C'), 100'000u);
    service.Advance(10);
    EXPECT_FALSE(motor.Running());
    EXPECT_EQ(recorder.Count('F'), 1u);
}

TEST_F(StepperMotorTest, ZeroFrequencyHoldsTheMotorRunningUntilStopped) {
    for (double rampTime : {0.0, 0.5}) {
        SetProgram(motor, {{1, 100.0, 0.0, R}, {5, 0.0, rampTime, R}, {1, 100.0, 0.0, R}});
        recorder.events.clear();
        motor.StartProgram();
        service.Advance(5000);
        EXPECT_EQ(recorder.Count('R'), 2u) << rampTime;  // the first step of the held one too
        EXPECT_TRUE(motor.Running());
        EXPECT_EQ(service.ArmedCount(), 0u);
        motor.Stop();
        EXPECT_FALSE(motor.Running());
    }
}

TEST_F(StepperMotorTest, StepsFasterThanTheTimerPlayOneAMillisecondAndTheNextKeepTheirSpacing) {
    // 2000 Hz asks for 0.5 ms; the timer's limit is 1 ms. The 100 Hz steps after it keep their
    // 10 ms from where the fast ones ended instead of hurrying to catch up.
    SetProgram(motor, {{5, 2000.0, 0.0, R}, {2, 100.0, 0.0, L}});
    motor.StartProgram();
    service.Advance(1000);
    EXPECT_EQ(recorder.Trace(), "R@0 R@1 R@2 R@3 R@4 L@5 C@5 L@15 F@25 C@25");
    EXPECT_FALSE(motor.Running());
}

TEST_F(StepperMotorTest, StartContinuesWhereItLeftOffAndStopGoesBackToTheStart) {
    SetProgram(motor, {{3, 100.0, 0.0, R}, {3, 100.0, 0.0, L}});
    motor.StartProgram();
    service.Advance(45);
    EXPECT_EQ(motor.StepIndex(), 1);
    EXPECT_EQ(motor.StepCounter(), 2);
    motor.Stop();
    EXPECT_EQ(motor.StepIndex(), 0);
    EXPECT_EQ(motor.StepCounter(), 0);
    EXPECT_FALSE(motor.Running());
    EXPECT_TRUE(motor.Finished());
    EXPECT_EQ(motor.Position(), 3 - 2);  // survives the stop
    service.Advance(1000);
    EXPECT_EQ(recorder.Count('R') + recorder.Count('L'), 5u);  // no step after the stop
    motor.TimerEvent();  // a late event after the stop does nothing either
    EXPECT_EQ(recorder.Count('R') + recorder.Count('L'), 5u);
}

TEST_F(StepperMotorTest, SetRunningStartsAPassAndStopClearsThePulledState) {
    service.SetNowMs(2500);
    SetProgram(motor, {{4, 10.0, 0.0, R}});
    motor.SetRunning(true);
    EXPECT_TRUE(motor.Running());
    EXPECT_FALSE(motor.Finished());
    EXPECT_DOUBLE_EQ(motor.NextStepTime(), 2.5);
    motor.NextPeriod();
    motor.AdvanceStep();
    motor.NextPeriod();
    motor.SetLastSentTime(7.0);
    service.SetNowMs(9000);
    motor.SetRunning(true);  // no change: nothing is reset
    EXPECT_DOUBLE_EQ(motor.NextStepTime(), 2.6);
    motor.Stop();
    EXPECT_EQ(motor.NextStepTime(), 0);
    EXPECT_EQ(motor.LastSentTime(), 0);
    EXPECT_EQ(motor.Period(), 0);
    EXPECT_EQ(motor.StepCounter(), 0);
    EXPECT_TRUE(motor.Finished());
}

// --- jog -----------------------------------------------------------------------------------

TEST_F(StepperMotorTest, JogStepsAtTheControlFrequencyUntilStopped) {
    motor.SetControlFrequency(50);
    motor.Step(L);
    motor.StartJog(L);
    EXPECT_TRUE(motor.Jogging());
    service.Advance(70);
    motor.Stop();
    service.Advance(1000);
    EXPECT_EQ(recorder.Trace(), "L@0 L@20 L@40 L@60");
    EXPECT_FALSE(motor.Jogging());
    EXPECT_FALSE(motor.Running());
}

TEST_F(StepperMotorTest, JogAtControlFrequencyZeroStepsEveryTenSeconds) {
    motor.SetControlFrequency(0);
    motor.StartJog(R);
    service.Advance(35'000);
    EXPECT_EQ(recorder.Trace(), "R@10000 R@20000 R@30000");
}

TEST_F(StepperMotorTest, AJogLimitedAtOnceTakesItsFirstStepOnTheTimerWithoutSleeping) {
    motor.SetMaxFrequency(10);
    motor.SetControlFrequency(50);
    motor.Step(R);
    EXPECT_FALSE(motor.TryStep(R));  // the limiter would wait: nothing is done
    motor.StartJog(R, /*stepAtOnce=*/true);
    service.Advance(1);  // the timer's first event, at once, finds the limiter closed
    EXPECT_EQ(recorder.Count('R'), 1u);
    service.Advance(300);
    motor.Stop();
    // The limiter's 10 Hz, not the jog's 50 Hz, and the timer thread never slept for it.
    EXPECT_EQ(recorder.Trace(), "R@0 R@99 R@198 R@297");
    EXPECT_EQ(service.SleptMs(), 0u);
    const size_t steps = recorder.events.size();
    service.Advance(500);
    EXPECT_EQ(recorder.events.size(), steps);
    EXPECT_TRUE(motor.TryStep(L));  // the limiter's allowance has passed
}

TEST_F(StepperMotorTest, AJogNeverPlaysAPulledRun) {
    // "USB": the module plays the program; the motor's timer may only jog.
    SetProgram(motor, {{100, 1000.0, 0.0, R}});
    motor.Stop();
    motor.SetRunning(true);
    motor.SetControlFrequency(10);
    motor.StartJog(L);
    service.Advance(350);
    EXPECT_EQ(recorder.Trace(), "L@100 L@200 L@300");
    EXPECT_TRUE(motor.RunsInModule());
    EXPECT_FALSE(motor.Idle());
    motor.Stop();
    EXPECT_FALSE(motor.RunsInModule());
    EXPECT_TRUE(motor.Idle());
}

TEST_F(StepperMotorTest, AStopGivesUpACompletedPass) {
    SetProgram(motor, {{1, 10.0, 0.0, R}});
    motor.Stop();
    motor.SetRunning(true);
    motor.NextPeriod();
    motor.AdvanceStep();
    EXPECT_EQ(motor.NextPeriod(), TStepperMotor::kEndOfProgram);
    ASSERT_TRUE(motor.PassCompleted());
    motor.Stop();
    EXPECT_FALSE(motor.TakeCompletedPass());  // the module's end no longer finishes it
    EXPECT_EQ(motor.NextPeriod(), 0);         // a stopped motor hands out nothing
    EXPECT_EQ(motor.StepCounter(), 0);
}

// --- pulled interface ------------------------------------------------------------------------

TEST_F(StepperMotorTest, NextPeriodIsKeptUntilAdvanceStep) {
    SetProgram(motor, {{3, 100.0, 0.5, R}, {2, 20.0, 0.0, L}});
    motor.Stop();
    motor.SetRunning(true);
    const double first = motor.NextPeriod();
    EXPECT_NEAR(first, 0.1, 1e-12);
    EXPECT_EQ(motor.NextPeriod(), first);
    EXPECT_EQ(motor.CurrentDirection(), R);
    motor.AdvanceStep();
    EXPECT_EQ(motor.Period(), 0);
    EXPECT_NEAR(motor.NextPeriod(), 0.041421, 1e-6);
    motor.AdvanceStep();
    motor.NextPeriod();
    motor.AdvanceStep();
    EXPECT_DOUBLE_EQ(motor.NextPeriod(), 0.05);  // the second program step
    EXPECT_EQ(motor.CurrentDirection(), L);
    EXPECT_EQ(motor.StepIndex(), 1);
    EXPECT_EQ(recorder.Trace(), "");  // the pulled interface raises nothing
}

TEST_F(StepperMotorTest, NextPeriodEndsANonLoopingProgramWithTheEndMarker) {
    SetProgram(motor, {{2, 10.0, 0.0, R}});
    service.SetNowMs(1000);
    motor.Stop();
    motor.SetRunning(true);
    for (int i = 0; i < 2; ++i) {
        EXPECT_DOUBLE_EQ(motor.NextPeriod(), 0.1);
        motor.AdvanceStep();
    }
    EXPECT_DOUBLE_EQ(motor.NextStepTime(), 1.2);
    motor.SetLastSentTime(3.0);
    EXPECT_EQ(motor.NextPeriod(), TStepperMotor::kEndOfProgram);
    EXPECT_FALSE(motor.Running());
    EXPECT_TRUE(motor.PassCompleted());
    EXPECT_FALSE(motor.Finished());  // the module has yet to play it
    EXPECT_EQ(motor.PassCount(), 1);
    EXPECT_EQ(motor.LastSentTime(), 0);
    EXPECT_EQ(motor.StepIndex(), 0);
}

TEST_F(StepperMotorTest, NextPeriodOnAnEmptyProgramIsFinishedAtOnce) {
    motor.Stop();
    motor.SetRunning(true);
    EXPECT_EQ(motor.NextPeriod(), TStepperMotor::kEndOfProgram);
    EXPECT_TRUE(motor.Finished());
    EXPECT_FALSE(motor.Running());
}

TEST_F(StepperMotorTest, NextPeriodWrapsALoopingProgramAndCountsPasses) {
    SetProgram(motor, {{0, 10.0, 0.0, R}, {1, 10.0, 0.0, L}}, /*looping=*/true);
    motor.Stop();
    motor.SetRunning(true);
    for (int pass = 1; pass <= 3; ++pass) {
        EXPECT_DOUBLE_EQ(motor.NextPeriod(), 0.1);
        EXPECT_EQ(motor.CurrentDirection(), L);
        motor.AdvanceStep();
        EXPECT_DOUBLE_EQ(motor.NextPeriod(), 0.1);  // already the next pass
        EXPECT_EQ(motor.PassCount(), pass);
        EXPECT_TRUE(motor.PassCompleted());
        EXPECT_TRUE(motor.Running());
    }
}

TEST_F(StepperMotorTest, NextPeriodOfALoopingProgramWithoutStepsEnds) {
    SetProgram(motor, {{0, 10.0, 0.0, R}, {0, 10.0, 0.0, L}}, /*looping=*/true);
    motor.Stop();
    motor.SetRunning(true);
    EXPECT_EQ(motor.NextPeriod(), TStepperMotor::kEndOfProgram);
    EXPECT_FALSE(motor.Running());
}

TEST_F(StepperMotorTest, NextPeriodOfZeroIsNotKept) {
    SetProgram(motor, {{3, 0.0, 0.0, R}});
    motor.Stop();
    motor.SetRunning(true);
    EXPECT_EQ(motor.NextPeriod(), 0);
    EXPECT_EQ(motor.Period(), 0);
    EXPECT_EQ(motor.NextPeriod(), 0);
}

TEST_F(StepperMotorTest, CurrentDirectionOfAShortenedProgramIsNone) {
    SetProgram(motor, {{3, 10.0, 0.0, R}, {3, 10.0, 0.0, L}});
    motor.Stop();
    motor.SetRunning(true);
    for (int i = 0; i < 3; ++i) {
        motor.NextPeriod();
        motor.AdvanceStep();
    }
    motor.NextPeriod();
    EXPECT_EQ(motor.CurrentDirection(), L);
    motor.LockProgram()->Delete(1);
    EXPECT_EQ(motor.CurrentDirection(), P);
}

// --- a sweep over programs: exact step counts, positions and a single end -----------------

TEST(StepperMotorSweep, EveryRunEmitsExactlyItsStepsOnItsIdealMillisecondsAndEndsOnce) {
    for (double frequency : {7.0, 100.0, 300.0, 333.0, 450.0, 700.0, 1000.0}) {
        for (double rampTime : {0.0, 0.05, 0.4}) {
            for (int32_t steps : {1, 2, 9, 60, 300}) {
                for (uint8_t direction : {R, L}) {
                    VirtualTimerService service;
                    TStepperMotor motor(1, service);
                    MotorRecorder recorder(service);
                    recorder.Attach(motor);
                    SetProgram(motor, {{steps, frequency, rampTime, direction}});
                    service.SetNowMs(1'000'000);
                    motor.StartProgram();

                    // Every step within half a millisecond of its ideal time, the end as well:
                    // at these rates the timer can follow the schedule exactly.
                    const TStepSchedule schedule = TStepSchedule::Of(*motor.LockProgram());
                    std::vector<uint64_t> expectedSteps;
                    for (const auto& s : schedule.Steps())
                        expectedSteps.push_back(1'000'000 + WholeMs(s.time));
                    const uint64_t expectedEnd = 1'000'000 + WholeMs(schedule.PassTime());
                    service.Advance(expectedEnd - 1'000'000 + 5000);

                    const std::string where = std::to_string(frequency) + " Hz " +
                                              std::to_string(rampTime) + " s " +
                                              std::to_string(steps) + " steps";
                    ASSERT_EQ(expectedSteps.size(), static_cast<size_t>(steps)) << where;
                    ASSERT_EQ(recorder.events.size(), expectedSteps.size() + 2) << where;
                    const char* kind = direction == R ? "R@" : "L@";
                    for (size_t i = 0; i < expectedSteps.size(); ++i) {
                        ASSERT_EQ(recorder.events[i], kind + std::to_string(expectedSteps[i]))
                            << where << " step " << i;
                    }
                    EXPECT_EQ(recorder.events[steps], "F@" + std::to_string(expectedEnd)) << where;
                    EXPECT_EQ(motor.Position(), direction == R ? steps : -steps) << where;
                    EXPECT_EQ(motor.Phase(),
                              direction == R ? "\0\1\3\2"[steps % 4] : "\0\2\3\1"[steps % 4])
                        << where;
                    EXPECT_FALSE(motor.Running()) << where;
                }
            }
        }
    }
}

TEST(StepperMotorSweep, SeveralProgramStepsPausesAndPassesStayOnTheSchedule) {
    // 700 Hz needs 1 and 2 ms waits in turn; the pause and the second pass count from the start.
    VirtualTimerService service;
    TStepperMotor motor(0, service);
    MotorRecorder recorder(service);
    recorder.Attach(motor);
    SetProgram(motor, {{30, 700.0, 0.02, R}, {7, 300.0, 0.0, P}, {20, 450.0, 0.0, L}},
               /*looping=*/true);
    const TStepSchedule schedule = TStepSchedule::Of(*motor.LockProgram());
    motor.StartProgram();
    service.Advance(WholeMs(3 * schedule.PassTime()) - 1);
    motor.Stop();

    std::vector<std::string> moving;
    for (const std::string& e : recorder.events)
        if (e[0] == 'R' || e[0] == 'L') moving.push_back(e);
    const auto ideal = schedule.MovingSteps(3);
    ASSERT_EQ(moving.size(), ideal.size());
    for (size_t i = 0; i < ideal.size(); ++i) {
        const std::string expected = std::string(ideal[i].direction == R ? "R@" : "L@") +
                                     std::to_string(WholeMs(ideal[i].time));
        ASSERT_EQ(moving[i], expected) << "step " << i;
    }
    EXPECT_EQ(recorder.Count('F'), 2u);
}

}  // namespace
}  // namespace motion
