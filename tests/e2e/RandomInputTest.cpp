// The real program under random input, as an impatient operator gives it (RandomOperator):
// thousands of clicks, jog presses, list clicks, keys and typed texts, message boxes and the
// configuration dialog answered. After every batch the program must still run, answer at once
// and have every control it started with. Each seed lays out its own folder and picks one of
// four set-ups: "USB" and "USB (slow)" on the simulator's module, the parallel port on the kit's
// port library, and the parallel port without it (the error box answered at start-up). A
// "default.smp" gives every motor a short program, so Start, Reset and the lists have work.
//
// Seeds and actions: Q417_RANDOM_SEEDS ("1,2,3" or "1-20"; default 1-3) and Q417_RANDOM_ACTIONS
// (per seed; default 2000). scripts/random-input runs many more.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "e2e/driver/ProgramDialogs.h"
#include "e2e/driver/RandomOperator.h"
#include "e2e/driver/RemoteControls.h"
#include "e2e/driver/StepperSession.h"
#include "e2e/driver/Wait.h"

namespace e2e {
namespace {

constexpr int kBatch = 100;
constexpr DWORD kAnswerMs = 3000;

std::vector<uint32_t> Seeds() {
    const char* text = std::getenv("Q417_RANDOM_SEEDS");
    std::string list = text != nullptr && *text != '\0' ? text : "1-3";
    std::vector<uint32_t> seeds;
    size_t at = 0;
    while (at < list.size()) {
        size_t end = list.find(',', at);
        if (end == std::string::npos) end = list.size();
        const std::string item = list.substr(at, end - at);
        const size_t dash = item.find('-');
        const uint32_t first = static_cast<uint32_t>(std::strtoul(item.c_str(), nullptr, 10));
        const uint32_t last =
            dash == std::string::npos
                ? first
                : static_cast<uint32_t>(std::strtoul(item.c_str() + dash + 1, nullptr, 10));
        for (uint32_t s = first; s <= last; ++s)
            seeds.push_back(s);
        at = end + 1;
    }
    return seeds;
}

int Actions() {
    const char* text = std::getenv("Q417_RANDOM_ACTIONS");
    const int actions = text != nullptr ? std::atoi(text) : 0;
    return actions > 0 ? actions : 2000;
}

struct Arrangement {
    const char* Name;
    const char* Port;
    unsigned Kit;
    bool Simulator;
    const char* Status;  // the port status label once the output is open
};

const Arrangement kArrangements[] = {
    {"usb", "0", TestFolder::kModuleLocator, true, "USB (connected)"},
    {"usb-slow", "1", TestFolder::kModuleLocator, true, "USB (connected)"},
    {"lpt", "378", TestFolder::kPortLibrary, false, "LPT1 (0378)"},
    {"lpt-nolib", "378", TestFolder::kNoKit, false, "LPT1 (0378)"},
};

std::string StartupProject(const char* port) {
    std::string text = std::string("Port = ") + port + "\r\n";
    for (int m = 1; m <= 4; ++m) {
        text += "[Motor_program_" + std::to_string(m) + "]\r\n";
        text += "Steps = " + std::to_string(20 * m) + " 200.00 0.05 right\r\n";
        text += "Steps = 15 500.00 0.00 left\r\n";
        text += "Steps = 5 50.00 0.00 none\r\n";
    }
    return text;
}

// One seed's run; a failure ends it (and only it).
void RunSeed(uint32_t seed, int actions) {
    const Arrangement& setUp = kArrangements[seed % std::size(kArrangements)];
    SCOPED_TRACE("seed " + std::to_string(seed) + " (" + setUp.Name + ")");
    const Stopwatch clock;
    {
        StepperSession session;
        ASSERT_EQ(session.LayOut("random-" + std::to_string(seed), setUp.Kit), "");
        ASSERT_TRUE(session.Folder().Write("default.smp", StartupProject(setUp.Port)));
        if (setUp.Simulator) {
            ASSERT_EQ(session.StartSimulator(), "");
        }
        ASSERT_EQ(session.StartProcess(), "");
        if (setUp.Kit == TestFolder::kNoKit) {
            // The port library's box at start-up comes before the main window shows.
            int boxes = 0;
            while (HWND box = WaitDialog(session.Process(), "Error",
                                         boxes == 0 ? kWindowTimeoutMs : 1500)) {
                ASSERT_TRUE(PressOk(box));
                ASSERT_TRUE(WaitGone(box, kWindowTimeoutMs));
                ASSERT_LT(++boxes, 5) << "the error box keeps coming back";
            }
            ASSERT_GE(boxes, 1) << "no error box for the missing port library";
        }
        ASSERT_EQ(session.AttachMainWindow(), "");
        ASSERT_TRUE(WaitText(session.Window().PortStatus(), setUp.Status, kWindowTimeoutMs))
            << session.Window().PortStatusText();

        RandomOperator op(session.Process(), session.Window(), seed);
        std::vector<std::string> recent;  // the last batch, for the log of a failure
        for (int done = 0; done < actions; done += kBatch) {
            recent.clear();
            for (int i = 0; i < kBatch; ++i)
                recent.push_back(op.Act());
            const std::string problem = op.Check(kAnswerMs);
            if (!problem.empty()) {
                std::string log;
                for (const std::string& line : recent)
                    log += "  " + line + "\n";
                FAIL() << problem << " after " << done + kBatch << " actions; the last batch:\n"
                       << log;
            }
        }
        // The operator closes the program: every box answered, then the window's close.
        ASSERT_TRUE(op.AnswerDialogs(kWindowTimeoutMs)) << "a dialog stays up";
        double closeMs = 0;
        ASSERT_TRUE(session.Process().Close(10000, closeMs)) << "still running after WM_CLOSE";
        EXPECT_EQ(session.Process().ExitCode(), 0u);
        std::printf("seed %u (%s): %d actions, %d boxes answered, %.1f s\n", seed, setUp.Name,
                    actions, op.Answered(), clock.ElapsedMs() / 1000);
    }
}

TEST(RandomInput, TheProgramSurvivesEverySeed) {
    const int actions = Actions();
    for (const uint32_t seed : Seeds())
        RunSeed(seed, actions);
}

}  // namespace
}  // namespace e2e
