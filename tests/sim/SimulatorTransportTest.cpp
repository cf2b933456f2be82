// q417-sim.exe and the simulator's vrexusbdrv.dll as the program meets them: the simulator runs
// as a child process on a pipe name of its own, the DLL is loaded by its path, the module's pipe
// is opened with two overlapped handles as the program opens it, and the module is plugged,
// pulled and made deaf through the control pipe. One simulator serves the whole suite (every
// process start under Wine costs a second); two more starts check the refusals to start.
#include <gtest/gtest.h>

#include <windows.h>

#include <dbt.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cstring>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "sim/client/SimulatorClient.h"
#include "sim/common/SimulatorNames.h"
#include "testsupport/ReportBytes.h"
#include "vrexusbdrv/vrexusbdrv.h"

namespace {

constexpr int32_t kVendor = 6017;
constexpr int32_t kProduct = 2240;
using testsupport::ClockTicks;
using testsupport::kGetMotorStatus;
using testsupport::kProbe;
using testsupport::Report;

const Report kStatusAnswer = {0, 5, 0, 0, 12, 12, 12, 12};
const char* const kStatusLine = "00 04 05 00 00 00 00 ff ff 00 00 00 00 00 00 00";

double Seconds() {
    LARGE_INTEGER frequency, now;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&now);
    return static_cast<double>(now.QuadPart) / static_cast<double>(frequency.QuadPart);
}

// A child q417-sim.exe. It is killed when the object goes, unless it has ended by itself; a job
// that kills its processes when closed covers a test process that dies.
class SimulatorProcess {
  public:
    SimulatorProcess() {
        job_ = CreateJobObjectA(nullptr, nullptr);
        JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
        limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
        if (job_ != nullptr) {
            SetInformationJobObject(job_, JobObjectExtendedLimitInformation, &limits,
                                    sizeof limits);
        }
    }
    ~SimulatorProcess() {
        if (process_ != nullptr) {
            if (WaitForSingleObject(process_, 0) != WAIT_OBJECT_0) {
                TerminateProcess(process_, 99);
                WaitForSingleObject(process_, 10000);
            }
            CloseHandle(process_);
        }
        if (job_ != nullptr) CloseHandle(job_);
    }
    SimulatorProcess(const SimulatorProcess&) = delete;
    SimulatorProcess& operator=(const SimulatorProcess&) = delete;

    bool Start(const std::string& arguments) {
        const std::string exe = sim::WindowsPath(Q417_SIM_EXE);
        std::string commandLine = "\"" + exe + "\" " + arguments;
        STARTUPINFOA startup{};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION info{};
        if (!CreateProcessA(exe.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                            nullptr, &startup, &info)) {
            return false;
        }
        CloseHandle(info.hThread);
        process_ = info.hProcess;
        if (job_ != nullptr) AssignProcessToJobObject(job_, process_);
        return true;
    }

    // The exit code, or STILL_ACTIVE when it has not ended within timeoutMs.
    DWORD WaitForExit(DWORD timeoutMs) {
        if (process_ == nullptr || WaitForSingleObject(process_, timeoutMs) != WAIT_OBJECT_0) {
            return STILL_ACTIVE;
        }
        DWORD code = STILL_ACTIVE;
        GetExitCodeProcess(process_, &code);
        return code;
    }

  private:
    HANDLE job_ = nullptr;
    HANDLE process_ = nullptr;
};

// One overlapped handle on the module's pipe, opened as the program opens it.
class ModuleHandle {
  public:
    explicit ModuleHandle(const std::string& path)
        : file_(CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE,
                            FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                            FILE_FLAG_OVERLAPPED, nullptr)),
          readEvent_(CreateEventA(nullptr, TRUE, FALSE, nullptr)),
          writeEvent_(CreateEventA(nullptr, TRUE, FALSE, nullptr)) {}
    ~ModuleHandle() {
        if (Open()) {
            CancelIo(file_);
            CloseHandle(file_);
        }
        CloseHandle(readEvent_);
        CloseHandle(writeEvent_);
    }
    ModuleHandle(const ModuleHandle&) = delete;
    ModuleHandle& operator=(const ModuleHandle&) = delete;

    bool Open() const { return file_ != INVALID_HANDLE_VALUE; }
    HANDLE File() const { return file_; }
    HANDLE WriteEvent() const { return writeEvent_; }

    enum class Result { Done, TimedOut, Failed };

    // Reads one report; a read that times out is cancelled.
    Result Read(Report& report, DWORD timeoutMs) {
        OVERLAPPED io{};
        io.hEvent = readEvent_;
        ResetEvent(readEvent_);
        Report buffer{};
        DWORD count = 0;
        if (!ReadFile(file_, buffer.data(), 16, nullptr, &io) &&
            GetLastError() != ERROR_IO_PENDING) {
            return Result::Failed;
        }
        if (WaitForSingleObject(readEvent_, timeoutMs) != WAIT_OBJECT_0) {
            CancelIo(file_);
            GetOverlappedResult(file_, &io, &count, TRUE);
            return Result::TimedOut;
        }
        if (!GetOverlappedResult(file_, &io, &count, TRUE) || count != 16) return Result::Failed;
        report = buffer;
        return Result::Done;
    }

    // The first report of the given type among the next maxReports, each waited for 1 s.
    std::optional<Report> ReadType(uint8_t type, int maxReports) {
        Report report{};
        for (int i = 0; i < maxReports; ++i) {
            if (Read(report, 1000) != Result::Done) return std::nullopt;
            if (report[1] == type) return report;
        }
        return std::nullopt;
    }

    // Writes one message and waits up to timeoutMs; a write that times out is cancelled.
    Result Write(const uint8_t* data, DWORD length, DWORD timeoutMs) {
        OVERLAPPED io{};
        io.hEvent = writeEvent_;
        ResetEvent(writeEvent_);
        DWORD count = 0;
        if (!WriteFile(file_, data, length, nullptr, &io) && GetLastError() != ERROR_IO_PENDING) {
            return Result::Failed;
        }
        if (WaitForSingleObject(writeEvent_, timeoutMs) != WAIT_OBJECT_0) {
            CancelIo(file_);
            GetOverlappedResult(file_, &io, &count, TRUE);
            return Result::TimedOut;
        }
        return GetOverlappedResult(file_, &io, &count, TRUE) && count == length ? Result::Done
                                                                                : Result::Failed;
    }
    Result Write(const Report& report, DWORD timeoutMs) {
        return Write(report.data(), 16, timeoutMs);
    }

  private:
    HANDLE file_;
    HANDLE readEvent_;
    HANDLE writeEvent_;
};

// A hidden top-level window that counts the device-change broadcasts.
std::atomic<int> g_deviceChanges{0};

LRESULT CALLBACK CountingWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_DEVICECHANGE && wParam == DBT_DEVNODES_CHANGED) ++g_deviceChanges;
    return DefWindowProcA(window, message, wParam, lParam);
}

class SimulatorTransportTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        name_ = "q417-sim-test-" + std::to_string(GetCurrentProcessId()) + "-" +
                std::to_string(GetTickCount());
        pipe_ = sim::ModulePipePath(name_);
        char temp[MAX_PATH] = {};
        GetTempPathA(MAX_PATH, temp);
        trace_ = std::string(temp) + name_ + ".csv";
        // The DLL learns the pipe from the environment, as in a program started by a test.
        SetEnvironmentVariableA(sim::kPipeNameVariable, name_.c_str());

        WNDCLASSA windowClass{};
        windowClass.lpfnWndProc = CountingWindowProc;
        windowClass.hInstance = GetModuleHandleA(nullptr);
        windowClass.lpszClassName = "Q417SimTestWindow";
        RegisterClassA(&windowClass);
        window_ = CreateWindowExA(0, windowClass.lpszClassName, "", WS_OVERLAPPED, 0, 0, 10, 10,
                                  nullptr, nullptr, windowClass.hInstance, nullptr);

        library_ = LoadLibraryA(sim::WindowsPath(Q417_SIM_DLL).c_str());
        if (library_ == nullptr) {
            setupError_ = "cannot load " + sim::WindowsPath(Q417_SIM_DLL);
            return;
        }
        find_ = reinterpret_cast<VrexusbFindDeviceProc>(
            reinterpret_cast<void*>(GetProcAddress(library_, "vrexusb_FindDevice")));
        if (find_ == nullptr) {
            setupError_ = "the DLL does not export vrexusb_FindDevice";
            return;
        }

        simulator_ = new SimulatorProcess;
        if (!simulator_->Start("--pipe " + name_ + " --trace \"" + trace_ + "\" --unplugged")) {
            setupError_ = "cannot start " + sim::WindowsPath(Q417_SIM_EXE);
            return;
        }
        // Ready once the control pipe answers ("hear" changes nothing here).
        for (int i = 0; i < 200 && Control("hear") != "ok"; ++i)
            Sleep(50);
        if (Control("hear") != "ok") {
            setupError_ = "the simulator's control pipe does not answer";
            return;
        }
        foundWhileUnplugged_ = find_(kVendor, kProduct, nullptr, nullptr) != 0;
        if (!Switch("plug")) setupError_ = "plugging in failed";
    }

    static void TearDownTestSuite() {
        if (simulator_ != nullptr) {
            if (setupError_.empty()) {
                EXPECT_EQ(Control("quit"), "ok");
                EXPECT_EQ(simulator_->WaitForExit(10000), 0u) << "exit code after quit";
            }
            delete simulator_;  // kills it if it is still running
            simulator_ = nullptr;
        }
        if (library_ != nullptr) FreeLibrary(library_);
        if (window_ != nullptr) DestroyWindow(window_);
        DeleteFileA(trace_.c_str());
    }

    void SetUp() override { ASSERT_TRUE(setupError_.empty()) << setupError_; }

    // One command through the control pipe; its answer, or empty when there is none.
    static std::string Control(const std::string& command) {
        char reply[128] = {};
        DWORD count = 0;
        if (!CallNamedPipeA(sim::ControlPipePath(pipe_).c_str(), const_cast<char*>(command.data()),
                            static_cast<DWORD>(command.size()), reply, sizeof reply, &count,
                            5000)) {
            return {};
        }
        return std::string(reply, count);
    }

    // Handles window messages until a device-change broadcast beyond `seen` has arrived.
    static bool WaitForDeviceChange(int seen, DWORD timeoutMs) {
        const DWORD start = GetTickCount();
        while (g_deviceChanges <= seen && GetTickCount() - start < timeoutMs) {
            MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
            MSG message;
            while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE))
                DispatchMessageA(&message);
        }
        return g_deviceChanges > seen;
    }

    // Plugs or pulls the module. Where there is a window, also waits for the broadcast, so that
    // none arrives late in a later check.
    static ::testing::AssertionResult Switch(const char* command) {
        const int seen = g_deviceChanges;
        const std::string reply = Control(command);
        if (reply != "ok") {
            return ::testing::AssertionFailure() << command << " answered \"" << reply << '"';
        }
        if (window_ != nullptr && !WaitForDeviceChange(seen, 5000)) {
            return ::testing::AssertionFailure() << "no WM_DEVICECHANGE after " << command;
        }
        return ::testing::AssertionSuccess();
    }

    static std::vector<std::string> TraceLines() {
        std::ifstream in(trace_);
        std::vector<std::string> lines;
        for (std::string line; std::getline(in, line);)
            lines.push_back(line);
        return lines;
    }

    static size_t CountTraceLinesEndingWith(const std::string& tail) {
        size_t n = 0;
        for (const std::string& line : TraceLines()) {
            if (line.size() >= tail.size() &&
                line.compare(line.size() - tail.size(), tail.size(), tail) == 0) {
                ++n;
            }
        }
        return n;
    }

    static inline std::string name_;
    static inline std::string pipe_;
    static inline std::string trace_;
    static inline std::string setupError_;
    static inline HWND window_ = nullptr;
    static inline HMODULE library_ = nullptr;
    static inline VrexusbFindDeviceProc find_ = nullptr;
    static inline SimulatorProcess* simulator_ = nullptr;
    static inline bool foundWhileUnplugged_ = true;
};

TEST_F(SimulatorTransportTest, StartedUnpluggedTheModuleIsNotFound) {
    EXPECT_FALSE(foundWhileUnplugged_);
}

// While plugged in, the DLL reports the pipe under the module's ids only, with 16-byte reports,
// and writes the path only within the caller's record.
TEST_F(SimulatorTransportTest, LocatorReportsThePipeOfThePluggedModule) {
    struct Case {
        int32_t vendor;
        int32_t product;
        bool found;
    };
    const Case cases[] = {
        {kVendor, kProduct, true},          {kVendor + 1, kProduct, false},
        {kVendor, kProduct - 1, false},     {kVendor + 65536, kProduct, false},
        {kVendor, kProduct + 65536, false}, {-1, -1, false},
        {kProduct, kVendor, false},
    };
    for (const Case& c : cases) {
        VrexusbPathRecord path;
        std::memset(&path, 0xAB, sizeof path);
        path.Size = sizeof path;
        VrexusbCaps caps;
        std::memset(&caps, 0xCD, sizeof caps);
        const uint8_t found = find_(c.vendor, c.product, &path, &caps);
        EXPECT_EQ(found, c.found ? 1 : 0) << c.vendor << "/" << c.product;
        if (c.found) {
            EXPECT_EQ(std::string(path.Path), pipe_);
            for (size_t i = pipe_.size(); i < sizeof path.Path; ++i)
                ASSERT_EQ(path.Path[i], 0);
            EXPECT_EQ(caps.InputReportByteLength, 16);
            EXPECT_EQ(caps.OutputReportByteLength, 16);
        } else {
            for (char c2 : path.Path)
                ASSERT_EQ(static_cast<uint8_t>(c2), 0xAB);
            EXPECT_EQ(caps.InputReportByteLength, 0xCDCD);
        }
    }
    EXPECT_EQ(find_(kVendor, kProduct, nullptr, nullptr), 1);

    // A record that fits the path with its terminator exactly, and one a byte short: the short
    // one gets an empty path, and nothing lands past either record.
    for (const uint32_t room :
         {static_cast<uint32_t>(pipe_.size() + 1), static_cast<uint32_t>(pipe_.size())}) {
        std::vector<uint8_t> record(4 + room + 8, 0xEE);
        const uint32_t size = 4 + room;
        std::memcpy(record.data(), &size, 4);
        ASSERT_EQ(find_(kVendor, kProduct, record.data(), nullptr), 1);
        const std::string written(reinterpret_cast<const char*>(record.data() + 4));
        EXPECT_EQ(written, room > pipe_.size() ? pipe_ : std::string()) << room;
        for (size_t i = size; i < record.size(); ++i)
            ASSERT_EQ(record[i], 0xEE) << i;
    }
}

// Two handles opened one right after the other both get every input report: clock reports
// at 7812.5 ticks per second on their own, and the status report that a GetMotorStatus request
// written on one of them brings. A handle that is never read does not hold up the other.
TEST_F(SimulatorTransportTest, EveryHandleGetsClockReportsAndAnswers) {
    VrexusbPathRecord path{};
    path.Size = sizeof path;
    VrexusbCaps caps{};
    ASSERT_EQ(find_(kVendor, kProduct, &path, &caps), 1);
    ModuleHandle reader(path.Path);
    ModuleHandle writer(path.Path);
    ASSERT_TRUE(reader.Open()) << GetLastError();
    ASSERT_TRUE(writer.Open()) << "a second instance must be listening; error " << GetLastError();

    // The writer is not read for a while; the reader meanwhile gets a report every 8 ms or so.
    Report report{};
    ASSERT_EQ(reader.Read(report, 1000), ModuleHandle::Result::Done);
    const uint64_t firstTicks = ClockTicks(report);
    const double firstTime = Seconds();
    uint64_t ticks = firstTicks;
    int reports = 1;
    while (Seconds() - firstTime < 0.6) {
        ASSERT_EQ(reader.Read(report, 1000), ModuleHandle::Result::Done);
        EXPECT_EQ(report[0], 0);
        EXPECT_EQ(report[1], 4);
        EXPECT_EQ(report[8], 0xFF) << "12 free places for every motor";
        EXPECT_GT(ClockTicks(report), ticks);
        ticks = ClockTicks(report);
        ++reports;
    }
    const double rate = static_cast<double>(ticks - firstTicks) / (Seconds() - firstTime);
    EXPECT_GT(rate, 7812.5 * 0.7);
    EXPECT_LT(rate, 7812.5 * 1.3);
    EXPECT_GT(reports, 30);

    // The unread writer kept its newest reports, in order, as a HID input buffer does: after
    // the one report already on its way through the pipe, the next is from the last quarter
    // second or so, not from 0.6 s ago.
    ASSERT_EQ(writer.Read(report, 1000), ModuleHandle::Result::Done);
    EXPECT_LT(ClockTicks(report), firstTicks + 1000) << "the report handed to the pipe first";
    ASSERT_EQ(writer.Read(report, 1000), ModuleHandle::Result::Done);
    EXPECT_GT(ClockTicks(report) + 3000, ticks) << "the oldest reports were dropped";
    uint64_t writerTicks = ClockTicks(report);
    for (int i = 0; i < 40; ++i) {
        ASSERT_EQ(writer.Read(report, 1000), ModuleHandle::Result::Done) << i;
        ASSERT_EQ(report[1], 4);
        EXPECT_GT(ClockTicks(report), writerTicks);
        writerTicks = ClockTicks(report);
    }

    const size_t statusLines = CountTraceLinesEndingWith(kStatusLine);
    ASSERT_EQ(writer.Write(kGetMotorStatus, 1000), ModuleHandle::Result::Done);
    const std::optional<Report> onReader = reader.ReadType(5, 100);
    const std::optional<Report> onWriter = writer.ReadType(5, 100);
    ASSERT_TRUE(onReader.has_value());
    ASSERT_TRUE(onWriter.has_value());
    EXPECT_EQ(*onReader, kStatusAnswer);
    EXPECT_EQ(*onWriter, kStatusAnswer);
    EXPECT_EQ(CountTraceLinesEndingWith(kStatusLine), statusLines + 1);

    // The probe is taken well within the 200 ms the program gives it.
    EXPECT_EQ(writer.Write(kProbe, 200), ModuleHandle::Result::Done);
}

// Each message is one report: a longer one is traced whole and not answered even when it starts
// like a GetMotorStatus request; the next report is read on its own.
TEST_F(SimulatorTransportTest, AnOverlongReportIsTracedAndRefused) {
    ModuleHandle handle(pipe_);
    ASSERT_TRUE(handle.Open());
    std::array<uint8_t, 20> overlong{};
    std::copy(kGetMotorStatus.begin(), kGetMotorStatus.end(), overlong.begin());
    overlong[19] = 0x77;
    ASSERT_EQ(handle.Write(overlong.data(), 20, 1000), ModuleHandle::Result::Done);
    ASSERT_EQ(handle.Write(kGetMotorStatus, 1000), ModuleHandle::Result::Done);

    int statusReports = 0;
    Report report{};
    for (int i = 0; i < 40; ++i) {
        ASSERT_EQ(handle.Read(report, 1000), ModuleHandle::Result::Done);
        if (report[1] == 5) ++statusReports;
    }
    EXPECT_EQ(statusReports, 1);
    EXPECT_EQ(CountTraceLinesEndingWith(std::string(kStatusLine) + " 00 00 00 77"), 1u);
}

// Pulling the module broadcasts a device change, hides it from the DLL and makes its handles
// fail; plugging it in broadcasts again and it is found and opened as before.
TEST_F(SimulatorTransportTest, PullingAndPluggingTheModule) {
    ModuleHandle reader(pipe_);
    ModuleHandle writer(pipe_);
    ASSERT_TRUE(reader.Open());
    ASSERT_TRUE(writer.Open());
    Report report{};
    ASSERT_EQ(reader.Read(report, 1000), ModuleHandle::Result::Done);

    ASSERT_TRUE(Switch("pull"));

    VrexusbPathRecord path;
    std::memset(&path, 0xAB, sizeof path);
    path.Size = sizeof path;
    VrexusbCaps caps;
    std::memset(&caps, 0xCD, sizeof caps);
    EXPECT_EQ(find_(kVendor, kProduct, &path, &caps), 0);
    for (char c : path.Path)
        ASSERT_EQ(static_cast<uint8_t>(c), 0xAB);
    EXPECT_EQ(caps.OutputReportByteLength, 0xCDCD);

    // Reports already delivered may still be read; then the handle fails, it does not wait.
    ModuleHandle::Result read = ModuleHandle::Result::Done;
    for (int i = 0; i < 40 && read == ModuleHandle::Result::Done; ++i) {
        read = reader.Read(report, 1000);
    }
    EXPECT_EQ(read, ModuleHandle::Result::Failed);
    EXPECT_EQ(writer.Write(kProbe, 200), ModuleHandle::Result::Failed);
    ModuleHandle absent(pipe_);
    EXPECT_FALSE(absent.Open());

    ASSERT_TRUE(Switch("plug"));
    EXPECT_EQ(Control("plug"), "ok") << "plugging in twice changes nothing";
    path.Size = sizeof path;
    ASSERT_EQ(find_(kVendor, kProduct, &path, &caps), 1);
    EXPECT_EQ(std::string(path.Path), pipe_);
    ModuleHandle reader2(path.Path);
    ModuleHandle writer2(path.Path);
    ASSERT_TRUE(reader2.Open());
    ASSERT_TRUE(writer2.Open());
    ASSERT_EQ(reader2.Read(report, 1000), ModuleHandle::Result::Done);
    EXPECT_EQ(report[1], 4);
    ASSERT_EQ(writer2.Write(kGetMotorStatus, 1000), ModuleHandle::Result::Done);
    EXPECT_TRUE(reader2.ReadType(5, 100).has_value());
}

// A deaf module takes no report: a write times out as on an unresponsive device, CancelIo ends
// it, and the cancelled report never reaches the module. Clock reports go on meanwhile.
TEST_F(SimulatorTransportTest, ADeafModuleLetsWritesTimeOut) {
    ModuleHandle reader(pipe_);
    ModuleHandle writer(pipe_);
    ASSERT_TRUE(reader.Open());
    ASSERT_TRUE(writer.Open());
    const size_t statusLines = CountTraceLinesEndingWith(kStatusLine);

    ASSERT_EQ(Control("deaf"), "ok");
    OVERLAPPED io{};
    io.hEvent = writer.WriteEvent();
    ResetEvent(io.hEvent);
    const BOOL started = WriteFile(writer.File(), kGetMotorStatus.data(), 16, nullptr, &io);
    const DWORD startError = GetLastError();
    EXPECT_TRUE(started || startError == ERROR_IO_PENDING) << startError;
    EXPECT_EQ(WaitForSingleObject(io.hEvent, 100), static_cast<DWORD>(WAIT_TIMEOUT));
    EXPECT_TRUE(CancelIo(writer.File())) << GetLastError();
    DWORD count = 0;
    EXPECT_FALSE(GetOverlappedResult(writer.File(), &io, &count, TRUE));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_OPERATION_ABORTED));

    Report report{};
    EXPECT_EQ(reader.Read(report, 1000), ModuleHandle::Result::Done);
    EXPECT_EQ(report[1], 4);

    ASSERT_EQ(Control("hear"), "ok");
    ASSERT_EQ(writer.Write(kGetMotorStatus, 1000), ModuleHandle::Result::Done);
    EXPECT_TRUE(reader.ReadType(5, 100).has_value());
    EXPECT_EQ(CountTraceLinesEndingWith(kStatusLine), statusLines + 1);
}

// The link carries one output report per millisecond, so twenty writes in a row take at least
// 19 ms. "stall N" holds the input reports of every handle for N ms: only a report already on
// its way comes meanwhile; afterwards what waited comes back to back, oldest first, each clock
// report with the tick it was made at, not the tick it was read.
TEST_F(SimulatorTransportTest, TheLinkPacesWritesAndAStallHoldsInputReports) {
    ModuleHandle reader(pipe_);
    ModuleHandle writer(pipe_);
    ASSERT_TRUE(reader.Open());
    ASSERT_TRUE(writer.Open());

    const double before = Seconds();
    for (int i = 0; i < 20; ++i)
        ASSERT_EQ(writer.Write(kProbe, 1000), ModuleHandle::Result::Done) << i;
    EXPECT_GE(Seconds() - before, 0.019);

    ASSERT_EQ(Control("stall 400"), "ok");
    Report report{};
    int early = 0;
    while (early < 3 && reader.Read(report, 150) == ModuleHandle::Result::Done)
        ++early;
    EXPECT_LE(early, 1) << "nothing is read during the stall but the report on its way";

    std::vector<uint64_t> ticks;
    for (int i = 0; i < 20; ++i) {
        ASSERT_EQ(reader.Read(report, 1000), ModuleHandle::Result::Done) << i;
        if (report[1] == 4) ticks.push_back(ClockTicks(report));
    }
    ASSERT_GE(ticks.size(), 10u);
    for (size_t k = 1; k < ticks.size(); ++k)
        EXPECT_GT(ticks[k], ticks[k - 1]) << k;
    // Made every 8 ms (62.5 ticks) while held: far apart, though read in a burst.
    EXPECT_GT(ticks.back() - ticks.front(), 30u * (ticks.size() - 1));
    EXPECT_EQ(Control("stall 0").rfind("error:", 0), 0u) << "a stall takes 1 to 60000 ms";
}

// Each plug and pull reaches the top-level windows of other processes as WM_DEVICECHANGE with
// DBT_DEVNODES_CHANGED. Windows need a display: without one (Wine with no X server) this is
// skipped, and the rest of the suite still checks plugging and pulling.
TEST_F(SimulatorTransportTest, PlugAndPullBroadcastDeviceChanges) {
    if (window_ == nullptr) GTEST_SKIP() << "no display: no window to receive broadcasts";
    for (const char* command : {"pull", "plug", "pull", "plug"}) {
        const int seen = g_deviceChanges;
        ASSERT_EQ(Control(command), "ok");
        ASSERT_TRUE(WaitForDeviceChange(seen, 5000)) << command;
        // One broadcast per change: nothing more comes after it.
        EXPECT_FALSE(WaitForDeviceChange(seen + 1, 300)) << command;
    }
    EXPECT_EQ(find_(kVendor, kProduct, nullptr, nullptr), 1);
}

TEST_F(SimulatorTransportTest, UnknownControlCommandsAreRefused) {
    EXPECT_EQ(Control("jump").rfind("error:", 0), 0u);
    EXPECT_EQ(Control("hear"), "ok");
}

// A second simulator on the same pipe name refuses to start and leaves the first one's trace
// alone; so does one whose trace file cannot be written.
TEST_F(SimulatorTransportTest, RefusesToStartWhenItCannot) {
    const size_t lines = TraceLines().size();
    {
        SimulatorProcess second;
        ASSERT_TRUE(second.Start("--pipe " + name_ + " --trace \"" + trace_ + "\""));
        EXPECT_EQ(second.WaitForExit(20000), 1u);
    }
    EXPECT_GE(TraceLines().size(), lines);
    ASSERT_FALSE(TraceLines().empty());
    EXPECT_EQ(TraceLines()[0], "tick,seconds,motor,direction,phase,position,report");
    EXPECT_EQ(find_(kVendor, kProduct, nullptr, nullptr), 1) << "the first one serves on";

    SimulatorProcess unwritable;
    ASSERT_TRUE(unwritable.Start("--pipe " + name_ + "-2 --trace \"" + trace_ +
                                 "-missing-folder\\trace.csv\""));
    EXPECT_EQ(unwritable.WaitForExit(20000), 1u);
}

}  // namespace
