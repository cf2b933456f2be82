// The real program on a parallel port: the simulator kit's inpout32.dll beside it answers
// "Inp32" and "Out32" with a virtual port whose trace (q417-sim-lpt-trace.csv) records every
// data-register write and every step of the four virtual motors, and whose settings file
// (q417-sim-lpt.txt) places their reference switches. The program selects LPT1 through the
// "Port" line of the "default.smp" it loads at start-up. Host-timed: every step is one write.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "e2e/driver/ProgramDialogs.h"
#include "e2e/driver/RemoteControls.h"
#include "e2e/driver/StepperSession.h"
#include "e2e/driver/TraceFile.h"
#include "e2e/driver/Wait.h"

namespace e2e {
namespace {

constexpr const char* kPortTrace = "q417-sim-lpt-trace.csv";
constexpr const char* kPortSettings = "q417-sim-lpt.txt";
constexpr DWORD kRunTimeoutMs = 20000;

// The byte written to the data register by an "out 0378 BB" line; -1 for other lines.
int DataByte(const TraceLine& line) {
    if (line.Motor != 0 || line.Last.rfind("out 0378 ", 0) != 0) return -1;
    return static_cast<int>(std::strtol(line.Last.c_str() + 9, nullptr, 16));
}

std::vector<int> DataBytes(const std::vector<TraceLine>& lines) {
    std::vector<int> bytes;
    for (const TraceLine& line : lines)
        if (DataByte(line) >= 0) bytes.push_back(DataByte(line));
    return bytes;
}

class ParallelPortTest : public ::testing::Test {
  protected:
    // Lays out the folder (with the kit's inpout32.dll unless withoutLibrary) with a
    // "default.smp" that selects LPT1, and the switch settings given.
    void LayOut(bool withLibrary, const std::string& settings = "") {
        const std::string name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
        ASSERT_EQ(session_.LayOut("lpt-" + name,
                                  withLibrary ? TestFolder::kPortLibrary : TestFolder::kNoKit),
                  "");
        ASSERT_TRUE(session_.Folder().Write("default.smp", "Port = 378\r\n"));
        if (!settings.empty()) {
            ASSERT_TRUE(session_.Folder().Write(kPortSettings, settings));
        }
    }

    void Start() {
        ASSERT_EQ(session_.StartProgram(), "");
        ASSERT_TRUE(WaitText(Window().PortStatus(), "LPT1 (0378)", kWindowTimeoutMs))
            << Window().PortStatusText();
    }

    MainWindow& Window() { return session_.Window(); }
    std::vector<TraceLine> Trace() { return ReadTrace(session_.Folder().FilePath(kPortTrace)); }
    size_t Steps(int motor) { return MotorSteps(Trace(), motor).size(); }

    void Type(int motor, const TypedStep& step) {
        ASSERT_TRUE(Window().AddProgramStep(motor, step));
    }

    StepperSession session_;
};

TEST_F(ParallelPortTest, TwoStepProgramWritesTheGrayCodeAndThePositions) {
    LayOut(true);
    Start();
    // Binding the library clears the status and control registers once; no data yet.
    EXPECT_TRUE(DataBytes(Trace()).empty());
    Type(0, {"2", "100", "Right", "0"});
    ASSERT_TRUE(Click(Window().StartButton(0)));
    ASSERT_TRUE(WaitUntil([&] { return Steps(1) >= 2; }, kRunTimeoutMs));
    // One period after the last step the program ends and "Run in order" is free again.
    ASSERT_TRUE(
        WaitUntil([&] { return IsWindowEnabled(Window().RunInOrder()) != 0; }, kRunTimeoutMs));

    const std::vector<TraceLine> trace = Trace();
    EXPECT_EQ(DataBytes(trace), (std::vector<int>{0x01, 0x03}));
    const std::vector<TraceLine> steps = MotorSteps(trace, 1);
    ASSERT_EQ(steps.size(), 2u);
    EXPECT_EQ(steps[0].Phase, 1);
    EXPECT_EQ(steps[0].Position, 1);
    EXPECT_EQ(steps[1].Phase, 3);
    EXPECT_EQ(steps[1].Position, 2);
    for (int motor = 2; motor <= 4; ++motor)
        EXPECT_TRUE(MotorSteps(trace, motor).empty());
    for (const TraceLine& line : trace)
        EXPECT_NE(line.Last, "fault") << "motor " << line.Motor;
    EXPECT_TRUE(WaitText(Window().PositionDisplay(0), "2", kWindowTimeoutMs));
}

TEST_F(ParallelPortTest, HostTimedStepsKeepTheirPeriodWithinTheTimersResolution) {
    LayOut(true);
    Start();
    // 80 steps (0.8 s): long enough that a busy machine's stalls still leave a stretch to fit.
    Type(0, {"80", "100", "Left", "0"});
    ASSERT_TRUE(Click(Window().StartButton(0)));
    ASSERT_TRUE(WaitUntil([&] { return Steps(1) >= 80; }, kRunTimeoutMs));
    const std::vector<TraceLine> steps = MotorSteps(Trace(), 1);
    ASSERT_EQ(steps.size(), 80u);
    EXPECT_EQ(steps.back().Position, -80);

    // The first step is taken on the window's thread when Start is clicked, written whenever
    // that thread gets to run; the timer paces the rest, each re-timed from its due time. So the
    // intervals from the second step on sit on the timer's whole-millisecond grid, 10 ms give or
    // take that millisecond: their median does.
    std::vector<double> intervalsMs;
    for (size_t k = 2; k < steps.size(); ++k)
        intervalsMs.push_back(static_cast<double>(steps[k].Tick - steps[k - 1].Tick) / 1000.0);
    // The mean period, as the slope of a straight line through the step times, over the longest
    // stretch that no held-up callback interrupts (no interval beyond 11.5 ms): a run held up
    // by a busy machine makes up its lag at no less than 9 ms a step, which keeps the slope at
    // or below 10 ms, while a timer re-timed from the moment of its callback (drifting later by
    // its lateness at every step) or armed with a rounded period shows in every stretch.
    size_t bestFrom = 1, bestTo = 1;
    for (size_t from = 1; from < steps.size();) {
        size_t to = from;
        while (to + 1 < steps.size() && steps[to + 1].Tick - steps[to].Tick <= 11500)
            ++to;
        if (to - from > bestTo - bestFrom) bestFrom = from, bestTo = to;
        from = to + 1;
    }
    ASSERT_GE(bestTo - bestFrom, 15u);  // a stretch of 16 steps at least to fit
    double sumK = 0, sumT = 0, sumKK = 0, sumKT = 0;
    const double n = static_cast<double>(bestTo - bestFrom + 1);
    for (size_t k = bestFrom; k <= bestTo; ++k) {
        const double x = static_cast<double>(k);
        const double t = static_cast<double>(steps[k].Tick - steps[bestFrom].Tick) / 1000.0;
        sumK += x;
        sumT += t;
        sumKK += x * x;
        sumKT += x * t;
    }
    const double meanMs = (n * sumKT - sumK * sumT) / (n * sumKK - sumK * sumK);
    const auto within = std::count_if(intervalsMs.begin(), intervalsMs.end(),
                                      [](double ms) { return ms >= 9.0 && ms <= 11.0; });
    std::sort(intervalsMs.begin(), intervalsMs.end());
    const double medianMs = intervalsMs[intervalsMs.size() / 2];
    std::printf(
        "100 Hz: median interval %.3f ms, mean %.3f ms over steps %zu to %zu, %d of %zu "
        "within 10 +- 1 ms\n",
        medianMs, meanMs, bestFrom + 1, bestTo + 1, static_cast<int>(within), intervalsMs.size());
    EXPECT_NEAR(medianMs, 10.0, 1.0);
    EXPECT_LE(meanMs, 10.1);
    EXPECT_GE(meanMs, 9.0);
}

TEST_F(ParallelPortTest, HoldingJogRightStepsAtTheControlFrequencyUntilReleased) {
    LayOut(true);
    Start();
    // Motor 2's ">>" held down: one step at once, then one every 1 / 10 Hz.
    HWND jog = Window().JogRight(1);
    ASSERT_TRUE(PressMouse(jog));
    ASSERT_TRUE(WaitUntil([&] { return Steps(2) >= 6; }, kRunTimeoutMs));
    ASSERT_TRUE(ReleaseMouse(jog));
    ASSERT_TRUE(WaitText(Window().StepsField(1), std::to_string(Steps(2)), kWindowTimeoutMs))
        << "the jog tally does not show the steps";
    const size_t held = Steps(2);
    // Released: no further step (four control periods of time to show one).
    EXPECT_FALSE(WaitUntil([&] { return Steps(2) > held; }, 400));

    const std::vector<TraceLine> steps = MotorSteps(Trace(), 2);
    for (size_t k = 0; k < steps.size(); ++k) {
        EXPECT_EQ(steps[k].Direction, 2);
        EXPECT_EQ(steps[k].Position, static_cast<int32_t>(k) + 1);
    }
    // The steps the jog timer took (from the second on): 100 ms apart on average, a callback
    // that a busy machine delays included.
    ASSERT_GE(steps.size(), 6u);
    const double meanMs = static_cast<double>(steps.back().Tick - steps[1].Tick) / 1000.0 /
                          static_cast<double>(steps.size() - 2);
    std::printf("jog at 10 Hz: %zu steps, mean interval %.1f ms\n", steps.size(), meanMs);
    EXPECT_NEAR(meanMs, 100.0, 15.0);
    EXPECT_EQ(Text(Window().DirectionButton(1)), "Right");
    EXPECT_TRUE(MotorSteps(Trace(), 1).empty());
}

TEST_F(ParallelPortTest, RunInOrderRunsTheFourMotorsOneAfterAnother) {
    LayOut(true);
    Start();
    for (int m = 0; m < 4; ++m)
        Type(m, {"5", "200", m % 2 == 0 ? "Right" : "Left", "0"});
    ASSERT_TRUE(Click(Window().RunInOrder()));
    ASSERT_TRUE(Checked(Window().RunInOrder()));
    ASSERT_TRUE(Click(Window().SynchronousStart()));
    ASSERT_TRUE(WaitUntil([&] { return Steps(4) >= 5; }, kRunTimeoutMs));
    // The chain ends after motor 4 ("Loop" beside "Run in order" is not checked).
    ASSERT_TRUE(
        WaitUntil([&] { return IsWindowEnabled(Window().RunInOrder()) != 0; }, kRunTimeoutMs));

    const std::vector<TraceLine> trace = Trace();
    uint64_t previousLast = 0;
    for (int motor = 1; motor <= 4; ++motor) {
        const std::vector<TraceLine> steps = MotorSteps(trace, motor);
        ASSERT_EQ(steps.size(), 5u) << "motor " << motor;
        EXPECT_EQ(steps.back().Position, motor % 2 == 1 ? 5 : -5) << "motor " << motor;
        if (motor > 1) {
            EXPECT_GT(steps.front().Tick, previousLast)
                << "motor " << motor << " began before motor " << motor - 1 << " had ended";
        }
        previousLast = steps.back().Tick;
    }
    // Every step wrote the whole byte: after the run all four motors' codes stand on the lines
    // (5 steps: right ends on code 1, left on code 2).
    const std::vector<int> bytes = DataBytes(trace);
    ASSERT_EQ(bytes.size(), 20u);
    EXPECT_EQ(bytes.back(), 0x01 | 0x02 << 2 | 0x01 << 4 | 0x02 << 6);
}

TEST_F(ParallelPortTest, ResetStopsAtTheSwitchesAndShowsX) {
    // Reset direction right (the default); the switches on the right at 7, 3, 12 and 0: motor 4
    // stands on its switch already and takes no step.
    LayOut(true,
           "motor1.switch = 7\r\nmotor1.side = right\r\n"
           "motor2.switch = 3\r\nmotor2.side = right\r\n"
           "motor3.switch = 12\r\nmotor3.side = right\r\n"
           "motor4.switch = 0\r\nmotor4.side = right\r\n");
    Start();
    HWND resetAll = Window().ResetAll();
    // Posted: the reset drive runs inside the click's handler, handling window messages.
    ASSERT_TRUE(PostClick(resetAll));
    ASSERT_TRUE(WaitUntil([&] { return Steps(3) >= 12; }, kRunTimeoutMs));
    EXPECT_TRUE(WaitText(resetAll, "Reset", kRunTimeoutMs)) << Text(resetAll);
    for (int m = 0; m < 4; ++m)
        EXPECT_TRUE(WaitText(Window().PositionDisplay(m), "X", kWindowTimeoutMs)) << "motor " << m;

    const std::vector<TraceLine> trace = Trace();
    const int expected[4] = {7, 3, 12, 0};
    for (int motor = 1; motor <= 4; ++motor) {
        const std::vector<TraceLine> steps = MotorSteps(trace, motor);
        ASSERT_EQ(steps.size(), static_cast<size_t>(expected[motor - 1])) << "motor " << motor;
        if (!steps.empty()) {
            EXPECT_EQ(steps.back().Position, expected[motor - 1]);
        }
        for (const TraceLine& step : steps)
            EXPECT_EQ(step.Direction, 2) << "motor " << motor;
    }
    EXPECT_TRUE(session_.Process().OtherWindows().empty()) << "a warning box is open";
}

TEST_F(ParallelPortTest, WithoutThePortLibraryTheErrorBoxAppearsAndStepsStillCount) {
    LayOut(false);
    ASSERT_EQ(session_.StartProcess(), "");
    // The project's "Port" line and the start-up's own opening are one selection of the port:
    // the box shows once, owned by the (not yet visible) main window.
    int boxes = 0;
    HWND owner = nullptr;
    for (;;) {
        HWND box = WaitDialog(session_.Process(), "Error", boxes == 0 ? kWindowTimeoutMs : 1500);
        if (box == nullptr) break;
        EXPECT_EQ(MessageText(box),
                  "Could not load inpout32.dll. This Application won't be able to access the "
                  "parallel port");
        owner = GetWindow(box, GW_OWNER);
        ASSERT_TRUE(PressOk(box));
        ASSERT_TRUE(WaitGone(box, kWindowTimeoutMs));
        ASSERT_LT(++boxes, 5) << "the box keeps coming back";
    }
    EXPECT_EQ(boxes, 1);
    ASSERT_EQ(session_.AttachMainWindow(), "");
    EXPECT_EQ(owner, Window().Handle());
    EXPECT_TRUE(WaitText(Window().PortStatus(), "LPT1 (0378)", kWindowTimeoutMs))
        << Window().PortStatusText();

    Type(0, {"10", "200", "Left", "0"});
    ASSERT_TRUE(Click(Window().StartButton(0)));
    EXPECT_TRUE(WaitText(Window().PositionDisplay(0), "-10", kRunTimeoutMs))
        << Text(Window().PositionDisplay(0));
    EXPECT_FALSE(session_.Folder().Exists(kPortTrace));
    EXPECT_TRUE(session_.Process().OtherWindows().empty());
}

}  // namespace
}  // namespace e2e
