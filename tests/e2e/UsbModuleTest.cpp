// The real program in "USB" mode against the simulator kit's virtual module: the port status,
// a ramped program streamed into the module and played on the ramp schedule, the synchronous
// start of four motors, the module reset, and pulling and plugging the module during a run.
// Programs are typed into the panels' entry fields and added, as the operator does.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "e2e/driver/ModulePlayback.h"
#include "e2e/driver/RampSchedule.h"
#include "e2e/driver/RemoteControls.h"
#include "e2e/driver/StepperSession.h"
#include "e2e/driver/TraceFile.h"
#include "e2e/driver/Wait.h"

namespace e2e {
namespace {

// Long enough for a run of a few seconds on a busy machine.
constexpr DWORD kRunTimeoutMs = 20000;

class UsbModuleTest : public ::testing::Test {
  protected:
    void SetUp() override {
        const std::string name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
        ASSERT_EQ(session_.LayOut("usb-" + name, TestFolder::kModuleLocator), "");
        ASSERT_EQ(session_.StartSimulator(), "");
        ASSERT_EQ(session_.StartProgram(), "");
        ASSERT_TRUE(WaitText(Window().PortStatus(), "USB (connected)", kWindowTimeoutMs))
            << Window().PortStatusText();
    }

    MainWindow& Window() { return session_.Window(); }
    const std::string& Trace() { return session_.Simulator().TracePath(); }

    void Type(int motor, const std::vector<TypedStep>& program) {
        for (const TypedStep& step : program)
            ASSERT_TRUE(Window().AddProgramStep(motor, step));
    }

    // Waits until the module has played `steps` steps of motor (0-3) and the program has seen
    // every motor finished ("Run in order" enabled again).
    bool WaitPlayed(int motor, size_t steps) {
        return WaitUntil([&] { return CountSteps(Trace(), motor + 1) >= steps; }, kRunTimeoutMs) &&
               WaitUntil([&] { return IsWindowEnabled(Window().RunInOrder()) != 0; },
                         kRunTimeoutMs);
    }

    // For a run that did not end: how many steps of motor (0-3) the module played since
    // `before` against how many the program sent it in segments (fewer played than sent: the
    // module dropped a segment that did not fit its list).
    std::string PlayedAndSent(int motor, size_t before) {
        const std::vector<TraceLine> trace = ReadTrace(Trace());
        return std::to_string(MotorSteps(trace, motor + 1).size() - before) +
               " steps played since the start; the module received segments of " +
               std::to_string(SegmentSteps(trace, motor + 1)) + " steps in all, and played " +
               std::to_string(MotorSteps(trace, motor + 1).size());
    }

    StepperSession session_;
};

TEST_F(UsbModuleTest, ShowsTheModuleConnected) {
    EXPECT_EQ(Window().Caption(), "Stepper");
    // The program's start-up sequence reached the module.
    bool clearAll = false;
    for (const TraceLine& line : ReadTrace(Trace())) {
        const std::vector<int> bytes = ReportBytes(line);
        clearAll = clearAll || (bytes.size() == 16 && bytes[1] == 0x07);
    }
    EXPECT_TRUE(clearAll) << "no ClearCommandList for all motors in the module's trace";
}

TEST_F(UsbModuleTest, RampedProgramIsPlayedOnTheRampSchedule) {
    // Up and down a ramp to 200 Hz, a pause, and back at 250 Hz with shorter ramps. Ramps send
    // one step per segment, so the module's 12 places hold only six steps of a ramp: slow ramps
    // keep the host's refills ahead of the module on a busy machine.
    Type(0, {{"150", "200", "Right", "0.4"},
             {"20", "100", "Pause", "0"},
             {"100", "250", "Left", "0.2"}});
    const std::vector<ScheduledStep> schedule =
        RampSchedule({{150, 200, 0.4, 2}, {20, 100, 0, 0}, {100, 250, 0.2, 1}});
    ASSERT_EQ(schedule.size(), 250u);

    // A wrong ramp, plateau or pause fails every run. A run whose stream the busy machine broke
    // up (the host's view of the module's list out of date) may fail the timing alone: up to
    // three runs, the timing of the last one counts.
    PlaybackFigures f;
    for (int run = 1; run <= 3; ++run) {
        const size_t from = ReadTrace(Trace()).size();
        const size_t played = CountSteps(Trace(), 1);
        ASSERT_TRUE(Click(Window().StartButton(0)));
        ASSERT_TRUE(WaitPlayed(0, played + 250)) << PlayedAndSent(0, played);
        std::vector<TraceLine> trace = ReadTrace(Trace());
        trace.erase(trace.begin(), trace.begin() + static_cast<std::ptrdiff_t>(from));
        f = ComparePlayback(trace, 1, schedule);
        std::printf(
            "run %d, motor 1: played %d of %d in %d segments, %d stretches, scale %.3f..%.3f, "
            "max residual %.1f ticks (%.2f of its tolerance), %s\n",
            run, f.Played, f.Scheduled, f.Segments, f.Stretches, f.MinScale, f.MaxScale,
            f.MaxResidual, f.WorstShare,
            f.NeverEarly ? "no stretch early"
                         : ("a stretch " + std::to_string(f.Early) + " ticks early").c_str());
        ASSERT_EQ(f.Played, 250);
        ASSERT_TRUE(f.InOrder);
        EXPECT_EQ(MotorSteps(trace, 1).back().Position, 50 * run);
        for (int motor = 2; motor <= 4; ++motor)
            ASSERT_TRUE(MotorSteps(trace, motor).empty()) << "motor " << motor << " moved";
        if (f.WorstShare <= 1.0 && f.NeverEarly) break;
    }
    EXPECT_LE(f.WorstShare, 1.0);
    EXPECT_TRUE(f.NeverEarly);
    EXPECT_GE(f.MinScale, kScaleLow);
    EXPECT_LE(f.MaxScale, kScaleHigh);
}

TEST_F(UsbModuleTest, SynchronousStartStartsFourMotorsTogether) {
    // Different rates, so that each motor's segments go out on their own.
    const char* frequencies[4] = {"250", "400", "500", "800"};
    for (int m = 0; m < 4; ++m)
        Type(m, {{"200", frequencies[m], m % 2 == 0 ? "Right" : "Left", "0"}});

    // One status request starts all four; their first segments go out in one pass of the
    // receive thread, each timed from the moment it arrives at the idle motor. 10 ms covers that
    // pass and the host clock's millisecond; motors started one after another by hand are apart
    // by the time between two clicks. A busy machine may hold the receive thread within that
    // pass: up to three synchronous starts, the last one counts. Every run must play every step.
    double apartMs = 0;
    for (size_t run = 1; run <= 3; ++run) {
        ASSERT_TRUE(Click(Window().SynchronousStart()));
        ASSERT_TRUE(WaitUntil(
            [&] {
                const auto trace = ReadTrace(Trace());
                for (int m = 1; m <= 4; ++m)
                    if (MotorSteps(trace, m).size() < 200 * run) return false;
                return true;
            },
            kRunTimeoutMs))
            << "motor 1: " << PlayedAndSent(0, 0) << "; motor 2: " << PlayedAndSent(1, 0)
            << "; motor 3: " << PlayedAndSent(2, 0) << "; motor 4: " << PlayedAndSent(3, 0);
        // The program's end as the window sees it, before the next start.
        ASSERT_TRUE(
            WaitUntil([&] { return IsWindowEnabled(Window().RunInOrder()) != 0; }, kRunTimeoutMs));

        const std::vector<TraceLine> trace = ReadTrace(Trace());
        uint64_t earliest = UINT64_MAX, latest = 0;
        for (int m = 1; m <= 4; ++m) {
            const auto steps = MotorSteps(trace, m);
            ASSERT_EQ(steps.size(), 200 * run) << "motor " << m;
            const int sign = m % 2 == 1 ? 1 : -1;
            EXPECT_EQ(steps.back().Position, sign * 200 * static_cast<int>(run)) << "motor " << m;
            const uint64_t first = steps[200 * (run - 1)].Tick;
            earliest = std::min(earliest, first);
            latest = std::max(latest, first);
        }
        apartMs = static_cast<double>(latest - earliest) * 1000.0 / kModuleTicksPerSecond;
        std::printf("run %zu: first steps of the four motors within %.2f ms\n", run, apartMs);
        if (apartMs <= 10.0) break;
    }
    EXPECT_LE(apartMs, 10.0);
}

// The position display follows the module's steps during a run and shows the module's count
// after it: a run that ends by itself, and one stopped halfway (the plan's count at the clear,
// corrected to the phase the module reports). The program list's selection follows the program
// step the module plays, not the one the host has streamed up to.
TEST_F(UsbModuleTest, ThePositionDisplayFollowsTheModule) {
    Type(0, {{"600", "400", "Right", "0"}, {"600", "300", "Right", "0"}});
    auto shown = [&] { return std::atoi(Text(Window().PositionDisplay(0)).c_str()); };
    auto moduleCount = [&] {
        const std::vector<TraceLine> steps = MotorSteps(ReadTrace(Trace()), 1);
        return steps.empty() ? 0 : steps.back().Position;
    };
    struct Run {
        const char* name;
        size_t stopAfter;  // steps played before the Stop; 0: to its end
    };
    for (const Run run : {Run{"to its end", 0}, Run{"stopped", 500}}) {
        const size_t played = CountSteps(Trace(), 1);
        const int from = shown();
        ASSERT_TRUE(Click(Window().StartButton(0))) << run.name;
        // It moves during the run, more than once.
        ASSERT_TRUE(WaitUntil([&] { return shown() > from + 40; }, kRunTimeoutMs)) << run.name;
        const int early = shown();
        ASSERT_TRUE(WaitUntil([&] { return shown() > early + 40; }, kRunTimeoutMs)) << run.name;
        if (run.stopAfter == 0) {
            ASSERT_TRUE(WaitUntil([&] { return Window().SelectedRow(0) == 1; }, kRunTimeoutMs));
            EXPECT_GE(CountSteps(Trace(), 1), played + 600) << "the second row shown early";
        }
        if (run.stopAfter > 0) {
            ASSERT_TRUE(WaitUntil([&] { return CountSteps(Trace(), 1) >= played + run.stopAfter; },
                                  kRunTimeoutMs));
            ASSERT_TRUE(Click(Window().StopButton(0)));
            ASSERT_TRUE(WaitUntil([&] { return IsWindowEnabled(Window().RunInOrder()) != 0; },
                                  kRunTimeoutMs));
        } else {
            ASSERT_TRUE(WaitPlayed(0, played + 1200)) << PlayedAndSent(0, played);
        }
        // The module's count, once the display has settled on it.
        WaitUntil([&] { return shown() == moduleCount(); }, kWindowTimeoutMs);
        EXPECT_EQ(shown(), moduleCount()) << run.name;
        if (run.stopAfter > 0) {
            EXPECT_LT(CountSteps(Trace(), 1), played + 1200) << "the run was not cut short";
        } else {
            EXPECT_EQ(CountSteps(Trace(), 1), played + 1200);
        }
    }
}

TEST_F(UsbModuleTest, ModuleResetDrivesToTheSwitchesAndTheCaptionsReturn) {
    // Motors 1 and 3 first move left, away from their switches at position 0 (reset direction
    // right, the default); motors 2 and 4 stay on theirs.
    Type(0, {{"30", "500", "Left", "0"}});
    Type(2, {{"12", "500", "Left", "0"}});
    ASSERT_TRUE(Click(Window().StartButton(0)));
    ASSERT_TRUE(WaitPlayed(0, 30)) << PlayedAndSent(0, 0);
    ASSERT_TRUE(Click(Window().StartButton(2)));
    ASSERT_TRUE(WaitPlayed(2, 12)) << PlayedAndSent(2, 0);
    const size_t before1 = CountSteps(Trace(), 1), before3 = CountSteps(Trace(), 3);

    HWND resetAll = Window().ResetAll();
    ASSERT_TRUE(Click(resetAll));
    // The program shows every position unknown until the next step.
    for (int m = 0; m < 4; ++m)
        EXPECT_TRUE(WaitText(Window().PositionDisplay(m), "X", kWindowTimeoutMs)) << m;
    // The caption reads "Cancel" until the module reports every motor done.
    EXPECT_TRUE(WaitText(resetAll, "Reset", kRunTimeoutMs)) << Text(resetAll);

    // Each moved motor went right, one step at a time, from where it stood back to 0.
    const std::vector<TraceLine> trace = ReadTrace(Trace());
    for (const auto& [motor, before] : {std::pair{1, before1}, std::pair{3, before3}}) {
        const auto steps = MotorSteps(trace, motor);
        ASSERT_GT(before, 0u);
        const int32_t from = steps[before - 1].Position;
        EXPECT_LT(from, 0) << "motor " << motor;
        ASSERT_EQ(steps.size(), before + static_cast<size_t>(-from)) << "motor " << motor;
        for (size_t k = before; k < steps.size(); ++k) {
            EXPECT_EQ(steps[k].Direction, 2) << "motor " << motor << " reset step " << k - before;
            EXPECT_EQ(steps[k].Position, from + static_cast<int32_t>(k - before) + 1);
        }
    }
    EXPECT_TRUE(MotorSteps(trace, 2).empty());
    EXPECT_TRUE(MotorSteps(trace, 4).empty());

    // A motor's own Reset: motor 1 again, after moving 30 steps left once more.
    const size_t afterReset = CountSteps(Trace(), 1);
    ASSERT_TRUE(Click(Window().StartButton(0)));
    ASSERT_TRUE(WaitPlayed(0, afterReset + 30)) << PlayedAndSent(0, afterReset);
    HWND reset1 = Window().ResetButton(0);
    ASSERT_TRUE(Click(reset1));
    EXPECT_TRUE(WaitText(reset1, "Reset", kRunTimeoutMs)) << Text(reset1);
    const auto steps1 = MotorSteps(ReadTrace(Trace()), 1);
    EXPECT_EQ(steps1.size(), afterReset + 60);
    EXPECT_EQ(steps1.back().Position, 0);
    EXPECT_EQ(Text(resetAll), "Reset");
}

TEST_F(UsbModuleTest, PullingTheModuleMidRunAndPluggingItBack) {
    // 3000 steps at 500 Hz: six seconds, still running when the module goes.
    Type(0, {{"3000", "500", "Right", "0"}});
    ASSERT_TRUE(Click(Window().StartButton(0)));
    ASSERT_TRUE(WaitUntil([&] { return CountSteps(Trace(), 1) >= 100; }, kRunTimeoutMs));

    ASSERT_EQ(session_.Simulator().Control("pull"), "ok");
    EXPECT_TRUE(WaitText(Window().PortStatus(), "USB (no Device)", kWindowTimeoutMs))
        << Window().PortStatusText();
    EXPECT_TRUE(Responsive(Window().Handle(), 1000)) << "the window hangs without the module";
    const size_t played = CountSteps(Trace(), 1);
    EXPECT_LT(played, 3000u);

    ASSERT_EQ(session_.Simulator().Control("plug"), "ok");
    EXPECT_TRUE(WaitText(Window().PortStatus(), "USB (connected)", kWindowTimeoutMs))
        << Window().PortStatusText();
    EXPECT_TRUE(Responsive(Window().Handle(), 1000));

    // The reconnected module takes a new run: 20 steps left from a fresh power-up (position 0).
    ASSERT_TRUE(Click(Window().StopButton(0)));
    Type(1, {{"20", "400", "Left", "0"}});
    ASSERT_TRUE(Click(Window().StartButton(1)));
    ASSERT_TRUE(WaitPlayed(1, 20)) << PlayedAndSent(1, 0);
    const auto steps2 = MotorSteps(ReadTrace(Trace()), 2);
    ASSERT_EQ(steps2.size(), 20u);
    EXPECT_EQ(steps2.back().Position, -20);
}

}  // namespace
}  // namespace e2e
