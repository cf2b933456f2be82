// The simulator's inpout32.dll as a program meets it: a copy of the kit's DLL in a folder of the
// test's own, with a settings file beside it, loaded by its path; phase codes written with Out32,
// switch bits read with Inp32, and the trace file read back. Also the program's parallel-port
// drive (TParallelPort) stepping motors through it, loaded by name as the program loads it.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <fstream>
#include <functional>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "e2e/driver/TraceFile.h"
#include "motion/ParallelPort.h"
#include "motion/StepperMotor.h"
#include "platform/CallingConvention.h"
#include "platform/LibraryLoader.h"
#include "platform/virtual/VirtualDesktop.h"
#include "platform/virtual/VirtualTimerService.h"

namespace {

using Inp32Function = int16_t(Q417_STDCALL*)(int16_t);
using Out32Function = void(Q417_STDCALL*)(int16_t, int16_t);

constexpr const char* kSessionVariable = "Q417_SIM_LPT_SESSION";
constexpr const char* kHeader = "tick,seconds,motor,direction,phase,position,event";
constexpr int16_t kBase = 0x378;

using e2e::TraceLine;

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// The trace's lines after the header; fails the test on a line that is not seven columns.
std::vector<TraceLine> ParseTrace(const std::string& text, int* headers) {
    std::vector<TraceLine> lines;
    std::istringstream in(text);
    *headers = 0;
    for (std::string raw; std::getline(in, raw);) {
        if (raw == kHeader) {
            ++*headers;
            continue;
        }
        EXPECT_EQ(std::count(raw.begin(), raw.end(), ','), 6) << raw;
        TraceLine line;
        if (!e2e::ParseTraceLine(raw, line) || line.Motor < 0)
            ADD_FAILURE() << "not a trace line: " << raw;
        lines.push_back(line);
    }
    return lines;
}

std::vector<std::string> Events(const std::vector<TraceLine>& lines, const std::string& prefix) {
    std::vector<std::string> events;
    for (const TraceLine& line : lines)
        if (line.Last.rfind(prefix, 0) == 0) events.push_back(line.Last);
    return events;
}

// A folder of the test's own with a copy of the kit's inpout32.dll.
class VirtualPortDll : public ::testing::Test {
  protected:
    void SetUp() override {
        SetEnvironmentVariableA(kSessionVariable, nullptr);  // each test starts a new session
        static int counter = 0;
        char temp[MAX_PATH];
        ASSERT_NE(GetTempPathA(MAX_PATH, temp), 0u);
        folder_ = std::string(temp) + "q417-vport-" + std::to_string(GetCurrentProcessId()) + "-" +
                  std::to_string(++counter) + "\\";
        ASSERT_TRUE(CreateDirectoryA(folder_.c_str(), nullptr)) << folder_;
        ASSERT_TRUE(CopyFileA(Q417_SIM_INPOUT32, Dll().c_str(), FALSE))
            << "copy " << Q417_SIM_INPOUT32 << " to " << Dll();
    }

    void TearDown() override {
        Unload();
        SetEnvironmentVariableA(kSessionVariable, nullptr);
        for (const char* name : {"inpout32.dll", "q417-sim-lpt.txt", "q417-sim-lpt-trace.csv"})
            DeleteFileA((folder_ + name).c_str());
        RemoveDirectoryA((folder_ + "q417-sim-lpt.txt").c_str());
        RemoveDirectoryA(folder_.c_str());
    }

    std::string Dll() const { return folder_ + "inpout32.dll"; }
    std::string TracePath() const { return folder_ + "q417-sim-lpt-trace.csv"; }

    void WriteSettings(const std::string& text) {
        std::ofstream(folder_ + "q417-sim-lpt.txt", std::ios::binary) << text;
    }

    void Load() {
        library_ = LoadLibraryA(Dll().c_str());
        ASSERT_NE(library_, nullptr) << Dll() << " error " << GetLastError();
        inp32_ = reinterpret_cast<Inp32Function>(
            reinterpret_cast<void (*)()>(GetProcAddress(library_, "Inp32")));
        out32_ = reinterpret_cast<Out32Function>(
            reinterpret_cast<void (*)()>(GetProcAddress(library_, "Out32")));
        ASSERT_NE(inp32_, nullptr);
        ASSERT_NE(out32_, nullptr);
    }

    void Unload() {
        if (library_ != nullptr) FreeLibrary(library_);
        library_ = nullptr;
        inp32_ = nullptr;
        out32_ = nullptr;
    }

    // The program's binding: status and control registers to 0.
    void Bind(int16_t base = kBase) {
        out32_(static_cast<int16_t>(base + 1), 0);
        out32_(static_cast<int16_t>(base + 2), 0);
    }

    uint8_t Status(int16_t base = kBase) {
        return static_cast<uint8_t>(inp32_(static_cast<int16_t>(base + 1)));
    }

    std::vector<TraceLine> Trace(int* headers) {
        return ParseTrace(ReadFile(TracePath()), headers);
    }

    std::string folder_;
    HMODULE library_ = nullptr;
    Inp32Function inp32_ = nullptr;
    Out32Function out32_ = nullptr;
};

TEST_F(VirtualPortDll, StepsFromTheGrayCodeSwitchFromTheSettingsAndTheTrace) {
    WriteSettings("# motor 2 ends to the right\nmotor2.switch = 2\nmotor2.side = right\n");
    Load();
    Bind();
    EXPECT_EQ(Status(), 0x00);
    out32_(kBase, static_cast<int16_t>(0xFF04));  // motor 2: code 1, one step right
    EXPECT_EQ(Status(), 0x00);
    out32_(kBase, static_cast<int16_t>(0xFF0C));  // code 3: the second step closes its switch
    EXPECT_EQ(Status(), 0x20);
    EXPECT_EQ(inp32_(kBase), 0x0C) << "the data register reads back";
    EXPECT_EQ(inp32_(0x300), 0xFF) << "nothing at an unrelated address";
    out32_(kBase, static_cast<int16_t>(0xFF00));  // 3 -> 0: a jump, position stays 2
    EXPECT_EQ(Status(), 0x20);
    Unload();

    int headers = 0;
    const std::vector<TraceLine> lines = Trace(&headers);
    EXPECT_EQ(headers, 1);
    EXPECT_EQ(Events(lines, "settings"), std::vector<std::string>{}) << "the file was fine";
    EXPECT_EQ(Events(lines, "out "),
              (std::vector<std::string>{"out 0378 04", "out 0378 0c", "out 0378 00"}));
    EXPECT_EQ(Events(lines, "register "),
              (std::vector<std::string>{"register 0379 00", "register 037a 00"}));
    std::vector<std::string> motorLines;
    for (const TraceLine& line : lines) {
        if (line.Motor == 0) continue;
        motorLines.push_back(std::to_string(line.Motor) + " " + std::to_string(line.Direction) +
                             " " + std::to_string(line.Phase) + " " +
                             std::to_string(line.Position) + " " + line.Last);
    }
    EXPECT_EQ(motorLines, (std::vector<std::string>{"2 2 1 1 ", "2 2 3 2 ", "2 0 0 2 fault"}));
    for (size_t i = 1; i < lines.size(); ++i) {
        EXPECT_LE(lines[i - 1].Tick, lines[i].Tick) << "lines in time order";
    }
}

TEST_F(VirtualPortDll, TheTraceCanBeReadWhileTheLibraryIsLoaded) {
    Load();
    Bind();
    out32_(kBase, static_cast<int16_t>(0xFF01));
    int headers = 0;
    const std::vector<TraceLine> lines = Trace(&headers);  // no unload: another reader, right now
    EXPECT_EQ(headers, 1);
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[2].Last, "out 0378 01");
    EXPECT_EQ(lines[3].Position, 1);
}

TEST_F(VirtualPortDll, BadSettingsAreToldAndTheRestKeepsItsDefault) {
    WriteSettings(
        "motor1.switch = abc\nmotor9.side = left\nmotor2.switch = 3\nmotor2.side = right\n");
    Load();
    Bind();
    int headers = 0;
    const std::vector<std::string> told = Events(Trace(&headers), "settings: ");
    ASSERT_EQ(told.size(), 2u);
    const std::string file = folder_ + "q417-sim-lpt.txt";
    EXPECT_NE(told[0].find("q417-sim-lpt.txt line 1: motor1.switch needs a whole number"),
              std::string::npos)
        << told[0];
    EXPECT_NE(told[1].find("line 2: unknown key \"motor9.side\""), std::string::npos) << told[1];
    // Motor 1 keeps its default switch (200, right): 199 steps right leave it open, 200 close it.
    const int right[] = {1, 3, 2, 0};
    for (int step = 1; step <= 200; ++step) {
        out32_(kBase, static_cast<int16_t>(0xFF00 | right[(step - 1) % 4]));
        if (step == 199) {
            EXPECT_EQ(Status(), 0x00);
        }
    }
    EXPECT_EQ(Status(), 0x40);
    // Motor 2's switch at 3 on the right, as the good lines say (motor 1 stays at 0 in bits 0-1).
    for (int code : {1, 3, 2})
        out32_(kBase, static_cast<int16_t>(0xFF00 | (code << 2)));
    EXPECT_EQ(Status(), 0x60);
}

TEST_F(VirtualPortDll, ASettingsFileThatCannotBeReadIsTold) {
    ASSERT_TRUE(CreateDirectoryA((folder_ + "q417-sim-lpt.txt").c_str(), nullptr));
    Load();
    int headers = 0;
    const std::vector<std::string> told = Events(Trace(&headers), "settings: ");
    ASSERT_EQ(told.size(), 1u);
    EXPECT_NE(told[0].find("q417-sim-lpt.txt: cannot be read"), std::string::npos) << told[0];
}

TEST_F(VirtualPortDll, LoadedAgainInTheSameProcessItGoesOnWhereItWas) {
    Load();
    Bind();
    for (int code : {1, 3, 2})
        out32_(kBase, static_cast<int16_t>(0xFF00 | code));
    Unload();  // the program selects USB ...
    Load();    // ... and a parallel port again: it binds and goes on with its motor at code 2
    Bind(0x278);
    out32_(0x278, static_cast<int16_t>(0xFF02));
    out32_(0x278, static_cast<int16_t>(0xFF00));
    EXPECT_EQ(Status(0x278), 0x00);
    Unload();

    int headers = 0;
    const std::vector<TraceLine> lines = Trace(&headers);
    EXPECT_EQ(headers, 1) << "appended, not written afresh";
    EXPECT_EQ(Events(lines, "fault"), std::vector<std::string>{});
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back().Position, 4);
    for (size_t i = 1; i < lines.size(); ++i)
        EXPECT_LE(lines[i - 1].Tick, lines[i].Tick) << "one clock across both loads";
    EXPECT_EQ(Events(lines, "out ").size(), 5u);

    // What another process left (a different process id) or garbage starts a new session.
    for (const std::string& session : {std::to_string(GetCurrentProcessId() + 4) +
                                           " 0 vport1 888 1 0 1 0 1 1 0 0 0 0 0 0 0 0 0 0",
                                       std::string("garbage")}) {
        SetEnvironmentVariableA(kSessionVariable, session.c_str());
        Load();
        Bind();
        out32_(kBase, static_cast<int16_t>(0xFF01));
        Unload();
        const std::vector<TraceLine> fresh = Trace(&headers);
        EXPECT_EQ(headers, 1);
        ASSERT_EQ(fresh.size(), 4u) << session;
        EXPECT_EQ(fresh.back().Position, 1) << session;
        SetEnvironmentVariableA(kSessionVariable, nullptr);
    }
}

TEST_F(VirtualPortDll, WritesFromSeveralThreadsKeepEveryStepAndWholeLines) {
    Load();
    Bind();
    constexpr int kSteps = 500;
    std::mutex packing;  // the program packs and writes under one lock, as TParallelPort does
    std::array<int, 4> codes{};
    std::atomic<bool> done{false};
    std::vector<std::thread> threads;
    for (int motor = 0; motor < 4; ++motor) {
        threads.emplace_back([&, motor] {
            const int right[] = {1, 3, 0, 2}, left[] = {2, 0, 3, 1};
            for (int i = 0; i < kSteps; ++i) {
                std::lock_guard lock(packing);
                int& code = codes[static_cast<size_t>(motor)];
                code = motor % 2 == 0 ? right[code] : left[code];
                int byte = 0;
                for (int m = 0; m < 4; ++m)
                    byte |= codes[static_cast<size_t>(m)] << (2 * m);
                out32_(kBase, static_cast<int16_t>(0xFF00 | byte));
            }
        });
    }
    std::atomic<int> reads{0};
    std::thread reader([&] {
        while (!done) {
            if ((Status() & 0x07) != 0) ADD_FAILURE() << "only switch bits may be set";
            ++reads;
        }
    });
    for (std::thread& thread : threads)
        thread.join();
    done = true;
    reader.join();
    Unload();

    int headers = 0;
    const std::vector<TraceLine> lines = Trace(&headers);
    EXPECT_EQ(Events(lines, "out ").size(), 4u * kSteps);
    EXPECT_EQ(Events(lines, "fault"), std::vector<std::string>{});
    std::array<int, 4> steps{};
    std::array<int32_t, 4> last{};
    for (const TraceLine& line : lines) {
        if (line.Motor < 1 || line.Motor > 4) continue;
        ++steps[static_cast<size_t>(line.Motor - 1)];
        last[static_cast<size_t>(line.Motor - 1)] = line.Position;
    }
    EXPECT_EQ(steps, (std::array<int, 4>{kSteps, kSteps, kSteps, kSteps}));
    EXPECT_EQ(last, (std::array<int32_t, 4>{kSteps, -kSteps, kSteps, -kSteps}));
}

// The program's own drive, loading the library by name as the program does.
TEST_F(VirtualPortDll, TheProgramsParallelPortDriveStepsTheVirtualMotors) {
    WriteSettings("motor3.switch = -3\nmotor3.side = left\n");
    ASSERT_TRUE(SetDllDirectoryA(folder_.c_str()));  // where LoadLibraryA("inpout32.dll") looks
    platform::VirtualTimerService timers;
    platform::VirtualDesktop desktop;
    std::array<std::unique_ptr<motion::TStepperMotor>, 4> motors;
    {
        motion::TParallelPort port(platform::SystemLibraryLoader(), desktop);
        auto all = [&motors] {
            return std::array<const motion::TStepperMotor*, 4>{motors[0].get(), motors[1].get(),
                                                               motors[2].get(), motors[3].get()};
        };
        struct Writer {
            motion::TParallelPort* port;
            std::function<std::array<const motion::TStepperMotor*, 4>()> motors;
            void Stepped(int32_t, uint8_t) { port->WriteOutput(motors()); }
        } writer{&port, all};
        for (int i = 0; i < 4; ++i) {
            motors[static_cast<size_t>(i)] = std::make_unique<motion::TStepperMotor>(i, timers);
            motors[static_cast<size_t>(i)]->SetMaxFrequency(0);
            motors[static_cast<size_t>(i)]->SetOnStep(
                motion::TStepperMotor::StepEvent::Bind<&Writer::Stepped>(&writer));
        }
        EXPECT_EQ(port.Open(888), "LPT1 (0378)");
        ASSERT_TRUE(port.Bound()) << "the kit's DLL was not found by name";
        EXPECT_TRUE(desktop.Messages().empty());
        for (int i = 0; i < 4; ++i)
            motors[0]->Step(2);
        for (int i = 0; i < 3; ++i) {
            EXPECT_EQ(motion::TParallelPort::AtResetPosition(port.ReadStatus().value_or(0), 2),
                      false);
            motors[2]->Step(1);
        }
        const uint8_t status = port.ReadStatus().value_or(0);
        EXPECT_TRUE(motion::TParallelPort::AtResetPosition(status, 2));
        EXPECT_FALSE(motion::TParallelPort::AtResetPosition(status, 0));
        port.Release();
    }
    SetDllDirectoryA(nullptr);

    int headers = 0;
    const std::vector<TraceLine> lines = Trace(&headers);
    EXPECT_EQ(Events(lines, "out "),
              (std::vector<std::string>{"out 0378 01", "out 0378 03", "out 0378 02", "out 0378 00",
                                        "out 0378 20", "out 0378 30", "out 0378 10"}));
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back().Motor, 3);
    EXPECT_EQ(lines.back().Position, -3);
    EXPECT_EQ(Events(lines, "fault"), std::vector<std::string>{});
}

}  // namespace
