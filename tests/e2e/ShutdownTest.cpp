// Closing the real program while four motors run at 1000 Hz, twenty times over: every close ends
// the process cleanly (exit code 0, nothing left running) within 2 s. Half of the runs are
// module-timed ("USB": the receive thread streams while the window goes), half host-timed
// ("USB (slow)": four timer threads send a direct-output report per step while the window goes).
// The program and the port setting come from "default.smp" in the program's folder, which the
// program loads at start-up.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "e2e/driver/RemoteControls.h"
#include "e2e/driver/StepperSession.h"
#include "e2e/driver/TraceFile.h"
#include "e2e/driver/Wait.h"

namespace e2e {
namespace {

constexpr int kCycles = 20;
constexpr double kCloseLimitMs = 2000;

// Four motors, each 100000 steps at 1000 Hz to the right: far longer than a cycle.
std::string StartupProject(const char* port) {
    std::string text = std::string("Port = ") + port + "\r\n";
    for (int m = 1; m <= 4; ++m) {
        text += "[Motor_program_" + std::to_string(m) + "]\r\n";
        text += "Steps = 100000 1000.00 0.00 right\r\n";
    }
    return text;
}

TEST(Shutdown, TwentyClosesWhileFourMotorsRunEndCleanlyWithinTwoSeconds) {
    StepperSession session;
    ASSERT_EQ(session.LayOut("shutdown", TestFolder::kModuleLocator), "");
    ASSERT_EQ(session.StartSimulator(), "");
    const std::string trace = session.Simulator().TracePath();

    double worstMs = 0, totalMs = 0;
    for (int cycle = 0; cycle < kCycles; ++cycle) {
        SCOPED_TRACE("cycle " + std::to_string(cycle + 1));
        const bool moduleTimed = cycle % 2 == 0;
        ASSERT_TRUE(session.Folder().Write("default.smp", StartupProject(moduleTimed ? "0" : "1")));
        ASSERT_EQ(session.StartProgram(), "");
        MainWindow& window = session.Window();
        ASSERT_TRUE(WaitText(window.PortStatus(), "USB (connected)", kWindowTimeoutMs))
            << window.PortStatusText();
        ASSERT_EQ(window.ProgramRows(3).size(), 1u) << "default.smp was not loaded";

        // The module's trace grows by the steps of all four motors once they run.
        size_t before[4];
        for (int m = 0; m < 4; ++m)
            before[m] = CountSteps(trace, m + 1);
        ASSERT_TRUE(Click(window.SynchronousStart()));
        const bool running = WaitUntil(
            [&] {
                if (moduleTimed) {
                    const auto lines = ReadTrace(trace);
                    for (int m = 0; m < 4; ++m)
                        if (MotorSteps(lines, m + 1).size() < before[m] + 50) return false;
                    return true;
                }
                // Host-timed: every panel's position display counts the steps.
                for (int m = 0; m < 4; ++m) {
                    const std::string shown = Text(window.PositionDisplay(m));
                    if (shown.empty() || std::stoi(shown) < 50) return false;
                }
                return true;
            },
            kWindowTimeoutMs);
        ASSERT_TRUE(running) << "the four motors did not start";

        double closeMs = 0;
        const bool ended = session.Process().Close(10000, closeMs);
        ASSERT_TRUE(ended) << "still running 10 s after WM_CLOSE";
        EXPECT_EQ(session.Process().ExitCode(), 0u);
        EXPECT_LE(closeMs, kCloseLimitMs);
        EXPECT_TRUE(session.Process().OtherWindows().empty());
        worstMs = std::max(worstMs, closeMs);
        totalMs += closeMs;
        std::printf("cycle %2d (%s): closed in %.0f ms\n", cycle + 1,
                    moduleTimed ? "USB" : "USB (slow)", closeMs);
    }
    std::printf("close times: mean %.0f ms, worst %.0f ms over %d cycles\n", totalMs / kCycles,
                worstMs, kCycles);
}

}  // namespace
}  // namespace e2e
