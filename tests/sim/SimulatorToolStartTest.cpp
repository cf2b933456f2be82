// When the kit cannot work, it says why, each part in its own way:
// - q417-sim.exe that cannot start exits with code 1 and one line on stderr that names what is in
//   the way (the pipe that is taken, the trace file that cannot be written); a --pipe that is no
//   usable pipe name is a wrong command line (exit code 2).
// - The simulator's vrexusbdrv.dll shows the program nothing (it finds no device, as the real
//   locator when the module is absent) and writes one line with OutputDebugStringA saying why.
//   The lines are caught here as the debug-print exception that OutputDebugStringA raises.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "sim/client/SimulatorClient.h"
#include "sim/common/SimulatorNames.h"
#include "vrexusbdrv/vrexusbdrv.h"

namespace {

constexpr int32_t kVendor = 6017;
constexpr int32_t kProduct = 2240;

struct Outcome {
    DWORD exitCode = STILL_ACTIVE;
    std::string out;
    std::string err;
};

std::string TempFile(const std::string& tag) {
    char temp[MAX_PATH] = {};
    GetTempPathA(MAX_PATH, temp);
    return std::string(temp) + "q417-sim-start-" + std::to_string(GetCurrentProcessId()) + "-" +
           tag + ".txt";
}

std::string ReadWhole(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// Runs q417-sim.exe with arguments, its standard output and error each to a file, no console
// input; waits for it to end (killing it after 20 s).
Outcome RunSimulator(const std::string& arguments) {
    Outcome outcome;
    const std::string outPath = TempFile("out"), errPath = TempFile("err");
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    const HANDLE out = CreateFileA(outPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit,
                                   CREATE_ALWAYS, 0, nullptr);
    const HANDLE err = CreateFileA(errPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit,
                                   CREATE_ALWAYS, 0, nullptr);
    const std::string exe = sim::WindowsPath(Q417_SIM_EXE);
    std::string commandLine = "\"" + exe + "\" " + arguments;
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = out;
    startup.hStdError = err;
    PROCESS_INFORMATION info{};
    if (CreateProcessA(exe.c_str(), commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                       &startup, &info)) {
        CloseHandle(info.hThread);
        if (WaitForSingleObject(info.hProcess, 20000) != WAIT_OBJECT_0) {
            TerminateProcess(info.hProcess, 99);
            WaitForSingleObject(info.hProcess, 5000);
        }
        GetExitCodeProcess(info.hProcess, &outcome.exitCode);
        CloseHandle(info.hProcess);
    }
    CloseHandle(out);
    CloseHandle(err);
    outcome.out = ReadWhole(outPath);
    outcome.err = ReadWhole(errPath);
    DeleteFileA(outPath.c_str());
    DeleteFileA(errPath.c_str());
    return outcome;
}

// The debug lines written in this process while it lives (this thread's only).
class DebugLines {
  public:
    DebugLines() {
        lines_.clear();
        handler_ = AddVectoredExceptionHandler(1, Catch);
    }
    ~DebugLines() { RemoveVectoredExceptionHandler(handler_); }
    DebugLines(const DebugLines&) = delete;
    DebugLines& operator=(const DebugLines&) = delete;

    std::vector<std::string> Take() {
        std::vector<std::string> lines;
        lines.swap(lines_);
        return lines;
    }

  private:
    static LONG CALLBACK Catch(EXCEPTION_POINTERS* info) {
        const EXCEPTION_RECORD* record = info->ExceptionRecord;
        if (record->ExceptionCode != DBG_PRINTEXCEPTION_C || record->NumberParameters < 2) {
            return EXCEPTION_CONTINUE_SEARCH;
        }
        const char* text = reinterpret_cast<const char*>(record->ExceptionInformation[1]);
        const size_t length = static_cast<size_t>(record->ExceptionInformation[0]);
        std::string line(text, length);
        while (!line.empty() && (line.back() == '\0' || line.back() == '\n'))
            line.pop_back();
        lines_.push_back(line);
        return EXCEPTION_CONTINUE_EXECUTION;
    }

    static inline std::vector<std::string> lines_;
    PVOID handler_ = nullptr;
};

bool Contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

class SimulatorToolStart : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        simulator_ = new sim::SimulatorClient;
        if (!simulator_->Start(Q417_SIM_EXE, "--unplugged")) setupError_ = simulator_->Error();
        library_ = LoadLibraryA(sim::WindowsPath(Q417_SIM_DLL).c_str());
        if (library_ != nullptr) {
            find_ = reinterpret_cast<VrexusbFindDeviceProc>(
                reinterpret_cast<void*>(GetProcAddress(library_, "vrexusb_FindDevice")));
        }
        if (find_ == nullptr) setupError_ += " cannot load the simulator's vrexusbdrv.dll";
    }
    static void TearDownTestSuite() {
        delete simulator_;
        simulator_ = nullptr;
        if (library_ != nullptr) FreeLibrary(library_);
    }
    void SetUp() override {
        ASSERT_EQ(setupError_, "");
        SetEnvironmentVariableA(sim::kPipeNameVariable, simulator_->PipeName().c_str());
    }
    void TearDown() override {
        SetEnvironmentVariableA(sim::kPipeNameVariable, simulator_->PipeName().c_str());
    }

    static std::string Pipe() { return sim::ModulePipePath(simulator_->PipeName()); }

    static inline sim::SimulatorClient* simulator_ = nullptr;
    static inline std::string setupError_;
    static inline HMODULE library_ = nullptr;
    static inline VrexusbFindDeviceProc find_ = nullptr;
};

// A second simulator on a pipe name that a simulator serves: exit code 1, the pipe named on
// stderr, and the first one's trace is left alone.
TEST_F(SimulatorToolStart, ASecondSimulatorOnTheSamePipeSaysSoAndExits1) {
    const std::string traceBefore = ReadWhole(simulator_->TracePath());
    const Outcome second = RunSimulator("--pipe " + simulator_->PipeName() + " --trace \"" +
                                        simulator_->TracePath() + "\"");
    EXPECT_EQ(second.exitCode, 1u);
    EXPECT_TRUE(Contains(second.err, Pipe())) << second.err;
    EXPECT_TRUE(Contains(second.err, "in use")) << second.err;
    EXPECT_EQ(ReadWhole(simulator_->TracePath()).substr(0, traceBefore.size()), traceBefore);
    EXPECT_EQ(simulator_->Control("hear"), "ok") << "the first one serves on";
}

// The module's pipe name held by some other process (no simulator): exit code 1, the pipe named.
TEST_F(SimulatorToolStart, APipeNameTakenByAnotherProcessIsNamed) {
    const std::string name = simulator_->PipeName() + "-taken";
    const std::string pipe = sim::ModulePipePath(name);
    const HANDLE taken = CreateNamedPipeA(pipe.c_str(), PIPE_ACCESS_DUPLEX,
                                          PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT, 1,
                                          0, 0, 0, nullptr);
    ASSERT_NE(taken, INVALID_HANDLE_VALUE) << GetLastError();
    const Outcome outcome = RunSimulator("--pipe " + name + " --trace \"" + TempFile("t1") + "\"");
    CloseHandle(taken);
    DeleteFileA(TempFile("t1").c_str());
    EXPECT_EQ(outcome.exitCode, 1u);
    EXPECT_TRUE(Contains(outcome.err, pipe + " ")) << outcome.err;
    EXPECT_TRUE(Contains(outcome.err, "in use")) << outcome.err;
}

// A trace file that cannot be created: exit code 1, the file named.
TEST_F(SimulatorToolStart, AnUnwritableTraceFileIsNamed) {
    const std::string trace = TempFile("no-such-folder") + "\\trace.csv";
    const Outcome outcome =
        RunSimulator("--pipe " + simulator_->PipeName() + "-t --trace \"" + trace + "\"");
    EXPECT_EQ(outcome.exitCode, 1u);
    EXPECT_TRUE(Contains(outcome.err, trace)) << outcome.err;
}

// Pipe names the kit cannot serve on: on the command line a usage error (2), from the
// environment a start failure (1); either way the name is repeated.
TEST_F(SimulatorToolStart, UnusablePipeNamesAreRefused) {
    const std::string remote = "\\\\elsewhere\\pipe\\q417";
    Outcome outcome = RunSimulator("--pipe " + remote);
    EXPECT_EQ(outcome.exitCode, 2u);
    EXPECT_TRUE(Contains(outcome.err, remote)) << outcome.err;

    const std::string tooLong(300, 'n');
    SetEnvironmentVariableA(sim::kPipeNameVariable, tooLong.c_str());
    outcome = RunSimulator("--trace \"" + TempFile("t2") + "\"");
    DeleteFileA(TempFile("t2").c_str());
    EXPECT_EQ(outcome.exitCode, 1u);
    EXPECT_TRUE(Contains(outcome.err, tooLong)) << outcome.err;
}

// Every call of the simulator's locator that finds nothing writes exactly one debug line saying
// why, returns 0 and touches neither record; a call that finds the module writes none.
TEST_F(SimulatorToolStart, TheLocatorExplainsEachFailureInOneDebugLine) {
    struct Case {
        const char* what;
        std::string pipeName;  // Q417_SIM_PIPE for the call
        const char* command;   // sent to the simulator first, or null
        int32_t vendor;
        bool found;
        std::string because;  // part of the line
    };
    const std::string nobody = simulator_->PipeName() + "-nobody";
    const std::string longName(300, 'x');
    const Case cases[] = {
        {"no simulator", nobody, nullptr, kVendor, false,
         "no q417-sim.exe runs on " + sim::ModulePipePath(nobody)},
        {"invalid name", "\\\\elsewhere\\pipe\\x", nullptr, kVendor, false, "no usable pipe name"},
        {"too long", longName, nullptr, kVendor, false, longName},
        {"pulled out", simulator_->PipeName(), "pull", kVendor, false, Pipe() + " is pulled out"},
        {"other ids", simulator_->PipeName(), "plug", kVendor + 1, false, "6018"},
        {"plugged in", simulator_->PipeName(), "plug", kVendor, true, ""},
    };
    for (const Case& c : cases) {
        if (c.command != nullptr) {
            ASSERT_EQ(simulator_->Control(c.command), "ok") << c.what;
        }
        SetEnvironmentVariableA(sim::kPipeNameVariable, c.pipeName.c_str());
        VrexusbPathRecord path;
        std::memset(&path, 0xAB, sizeof path);
        path.Size = sizeof path;
        VrexusbCaps caps;
        std::memset(&caps, 0xCD, sizeof caps);
        DebugLines debug;
        const uint8_t found = find_(c.vendor, kProduct, &path, &caps);
        const std::vector<std::string> lines = debug.Take();
        EXPECT_EQ(found, c.found ? 1 : 0) << c.what;
        if (c.found) {
            EXPECT_TRUE(lines.empty()) << c.what << ": " << (lines.empty() ? "" : lines[0]);
            EXPECT_EQ(std::string(path.Path), Pipe());
            continue;
        }
        ASSERT_EQ(lines.size(), 1u) << c.what;
        EXPECT_TRUE(Contains(lines[0], c.because)) << c.what << ": " << lines[0];
        EXPECT_EQ(lines[0].find('\n'), std::string::npos) << "one line";
        for (char byte : path.Path)
            ASSERT_EQ(static_cast<uint8_t>(byte), 0xAB) << c.what;
        EXPECT_EQ(caps.InputReportByteLength, 0xCDCD) << c.what;
    }
}

}  // namespace
