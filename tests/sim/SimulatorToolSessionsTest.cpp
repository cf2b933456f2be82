// One q417-sim.exe serving many program runs in a row, as a user works with the kit: handles on
// the module's pipe opened and closed round after round (more rounds than the pipe has
// instances, so an instance that did not listen again would show), and whole program processes
// using the real HID link, one after another, one of them killed with its handles open.
#include <gtest/gtest.h>

#include <windows.h>

#include <array>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "sim/client/SimulatorClient.h"
#include "sim/common/SimulatorNames.h"
#include "testsupport/ReportBytes.h"
#include "testsupport/SharedSimulatorSuite.h"

namespace {

using testsupport::kGetMotorStatus;
using testsupport::Report;
// The first report of the program's start-up sequence (ClearCommandList for all motors).
const char* const kStartUpLine = "00 07 00 00 00 00 00 ff ff 00 00 00 00 00 00 00";
constexpr int kPipeInstances = 8;  // as many as the simulator serves at once

// One overlapped handle on the module's pipe; every operation waits at most timeoutMs and
// cancels what did not complete.
class PipeHandle {
  public:
    explicit PipeHandle(const std::string& path)
        : file_(CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE,
                            FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                            FILE_FLAG_OVERLAPPED, nullptr)),
          event_(CreateEventA(nullptr, TRUE, FALSE, nullptr)) {}
    ~PipeHandle() {
        if (Open()) CloseHandle(file_);
        CloseHandle(event_);
    }
    PipeHandle(const PipeHandle&) = delete;
    PipeHandle& operator=(const PipeHandle&) = delete;

    bool Open() const { return file_ != INVALID_HANDLE_VALUE; }

    bool Read(Report& report, DWORD timeoutMs) { return Transfer(false, report.data(), timeoutMs); }
    bool Write(Report report, DWORD timeoutMs) { return Transfer(true, report.data(), timeoutMs); }

    // Reads until a report of type arrives, at most maxReports reports.
    bool ReadType(uint8_t type, int maxReports) {
        Report report{};
        for (int i = 0; i < maxReports; ++i) {
            if (!Read(report, 1000)) return false;
            if (report[1] == type) return true;
        }
        return false;
    }

    // Starts a read and leaves it pending, then cancels it: the close that follows finds an
    // operation just ended, as when a program's receive thread is stopped.
    void CancelPendingRead() {
        OVERLAPPED io{};
        io.hEvent = event_;
        ResetEvent(event_);
        Report buffer{};
        DWORD count = 0;
        if (ReadFile(file_, buffer.data(), 16, nullptr, &io) ||
            GetLastError() == ERROR_IO_PENDING) {
            CancelIo(file_);
            GetOverlappedResult(file_, &io, &count, TRUE);
        }
    }

  private:
    bool Transfer(bool write, uint8_t* data, DWORD timeoutMs) {
        OVERLAPPED io{};
        io.hEvent = event_;
        ResetEvent(event_);
        DWORD count = 0;
        const BOOL started = write ? WriteFile(file_, data, 16, nullptr, &io)
                                   : ReadFile(file_, data, 16, nullptr, &io);
        if (!started && GetLastError() != ERROR_IO_PENDING) return false;
        if (WaitForSingleObject(event_, timeoutMs) != WAIT_OBJECT_0) {
            CancelIo(file_);
            GetOverlappedResult(file_, &io, &count, TRUE);
            return false;
        }
        return GetOverlappedResult(file_, &io, &count, TRUE) && count == 16;
    }

    HANDLE file_;
    HANDLE event_;
};

class SimulatorToolSessions : public sim::testing::SharedSimulatorSuite {
  protected:
    static std::string Pipe() { return sim::ModulePipePath(simulator_->PipeName()); }

    // Received reports in the trace equal to line.
    static int TraceCount(const std::string& line) {
        std::ifstream trace(simulator_->TracePath());
        int n = 0;
        for (std::string l; std::getline(trace, l);) {
            if (l.size() >= line.size() &&
                l.compare(l.size() - line.size(), line.size(), line) == 0) {
                ++n;
            }
        }
        return n;
    }

    // Runs the stand-in program with mode ("close" or "crash") and returns its exit code.
    static DWORD RunProgram(const std::string& mode) {
        const std::string exe = sim::WindowsPath(Q417_SIM_PROGRAM);
        std::string commandLine = "\"" + exe + "\" " + mode;
        STARTUPINFOA startup{};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION info{};
        if (!CreateProcessA(exe.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                            nullptr, &startup, &info)) {
            ADD_FAILURE() << "cannot start " << exe << ", error " << GetLastError();
            return 99;
        }
        CloseHandle(info.hThread);
        DWORD code = STILL_ACTIVE;
        if (WaitForSingleObject(info.hProcess, 60000) == WAIT_OBJECT_0) {
            GetExitCodeProcess(info.hProcess, &code);
        } else {
            TerminateProcess(info.hProcess, 98);
            ADD_FAILURE() << mode << " run did not end";
        }
        CloseHandle(info.hProcess);
        return code;
    }
};

// Round after round two handles are opened one right after the other, used and closed; every
// other round the reader is closed right after a cancelled read. Three times as many rounds as
// the pipe has instances: each instance must listen again after its client has gone.
TEST_F(SimulatorToolSessions, HandlesOpenedAndClosedRoundAfterRound) {
    for (int round = 0; round < 3 * kPipeInstances; ++round) {
        PipeHandle reader(Pipe());
        PipeHandle writer(Pipe());
        ASSERT_TRUE(reader.Open()) << "round " << round << ", error " << GetLastError();
        ASSERT_TRUE(writer.Open()) << "round " << round << ", error " << GetLastError();
        Report report{};
        ASSERT_TRUE(reader.Read(report, 1000)) << "round " << round;
        EXPECT_EQ(report[1], 4) << "a clock report first";
        ASSERT_TRUE(writer.Write(kGetMotorStatus, 1000)) << "round " << round;
        ASSERT_TRUE(reader.ReadType(5, 100)) << "round " << round;
        if (round % 2 == 1) reader.CancelPendingRead();
    }
    // Several handles at once still open after all that (the program needs two; a second
    // program run while the first still holds its two needs four).
    std::vector<std::unique_ptr<PipeHandle>> handles;
    for (int i = 0; i < 4; ++i) {
        handles.push_back(std::make_unique<PipeHandle>(Pipe()));
        ASSERT_TRUE(handles.back()->Open()) << i;
    }
}

// Program runs one after another, each a new process with the real link: a run that shuts down
// in order, one killed with its handles open and its receive thread reading, and more runs after
// both and after the module was pulled out and plugged in again. Each run is served (it gets its
// clock and status reports) and its start-up sequence reaches the module.
TEST_F(SimulatorToolSessions, ProgramRunsInARowAreAllServed) {
    struct Run {
        const char* mode;
        DWORD exitCode;
        bool replugFirst;
    };
    const Run runs[] = {
        {"close", 0, false}, {"crash", 3, false}, {"close", 0, false},
        {"crash", 3, false}, {"close", 0, true},  {"close", 0, false},
    };
    for (const Run& run : runs) {
        if (run.replugFirst) {
            ASSERT_EQ(simulator_->Control("pull"), "ok");
            ASSERT_EQ(simulator_->Control("plug"), "ok");
        }
        const int startUps = TraceCount(kStartUpLine);
        EXPECT_EQ(RunProgram(run.mode), run.exitCode) << run.mode;
        EXPECT_EQ(TraceCount(kStartUpLine), startUps + 1) << run.mode;
    }
    EXPECT_EQ(simulator_->Control("hear"), "ok") << "the simulator serves on";
}

}  // namespace
