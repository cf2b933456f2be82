// The simulator's inpout32.dll: the outside port library's two exports, "Inp32" and "Out32",
// answered by a virtual parallel port (sim::VirtualParallelPort) instead of hardware, so that the
// unchanged program drives four virtual motors and reads their virtual reference switches.
//
// Beside the DLL (found through the DLL's own module handle, wherever it was loaded from):
// - "q417-sim-lpt.txt", the settings (switch positions and sides), read at every load. A file that
//   cannot be read or has bad lines is reported in the trace and to the debugger
//   (OutputDebugStringA), naming the file, the line and what is wrong; what could not be read
//   keeps its default. Nothing about the settings stops the library from loading.
// - "q417-sim-lpt-trace.csv", the trace (sim::PortTrace): tick = microseconds since the library
//   was loaded (QueryPerformanceCounter). Each call's lines are handed to the file before the call
//   returns, so another process can follow the file while the program runs and nothing is lost
//   when the program ends or dies; a call costs a few microseconds more for it (bench/vport).
//
// Loaded again in the same process: the program unloads the library whenever a USB mode is
// selected and loads it again with the next parallel port. Starting over then would throw away
// the trace so far and put every motor back to code 0, so that the program's next write (which
// carries its motors' real codes) would show up as false steps or faults. So the unload leaves
// the port's state and the trace's time origin in an environment variable of the process, tagged
// with the process id (a child process inherits the variable but is not the same session); the
// next load takes them up, appends to the trace and keeps counting time from the first load.
//
// Threads: the program calls Out32 from several multimedia-timer threads and the window's thread
// at once; one lock around the port and the trace keeps the register writes, the steps and the
// trace lines in one order.
#include <windows.h>

#include <cstdint>
#include <fstream>
#include <new>
#include <sstream>
#include <string>

#include "platform/CallingConvention.h"
#include "sim/parport/PortSettings.h"
#include "sim/parport/PortTrace.h"
#include "sim/parport/VirtualParallelPort.h"

extern "C" __declspec(dllexport) int16_t Q417_STDCALL Inp32(int16_t address);
extern "C" __declspec(dllexport) void Q417_STDCALL Out32(int16_t address, int16_t value);

namespace {

constexpr const char* kTraceName = "q417-sim-lpt-trace.csv";
constexpr const char* kSessionVariable = "Q417_SIM_LPT_SESSION";
constexpr std::streamoff kLargestSettings = 1 << 20;

void TellDebugger(const std::string& text) {
    OutputDebugStringA(("q417-sim-lpt: " + text + "\n").c_str());
}

// The folder of this DLL, with its trailing separator; empty when it cannot be found (then the
// files are looked for in the current folder).
std::string OwnFolder() {
    HMODULE module = nullptr;
    if (!GetModuleHandleExA(
            GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
            reinterpret_cast<LPCSTR>(&Out32), &module))
        return std::string();
    std::string path(MAX_PATH, '\0');
    for (;;) {
        const DWORD length =
            GetModuleFileNameA(module, path.data(), static_cast<DWORD>(path.size()));
        if (length == 0) return std::string();
        if (length < path.size()) {
            path.resize(length);
            break;
        }
        if (path.size() >= 32768) return std::string();
        path.resize(path.size() * 2);  // cut short: try a larger buffer
    }
    const size_t slash = path.find_last_of("\\/");
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

class PortHost {
  public:
    PortHost() {
        QueryPerformanceFrequency(&frequency_);
        QueryPerformanceCounter(&origin_);
    }

    // At load, under the loader lock: only file and environment calls, no thread.
    void Start() {
        const std::string folder = OwnFolder();
        const bool continued = TakeUpSession();
        const std::string tracePath = folder + kTraceName;
        file_.open(tracePath, continued ? std::ios::binary | std::ios::app
                                        : std::ios::binary | std::ios::trunc);
        if (!file_.is_open()) TellDebugger("cannot write the trace " + tracePath);
        // A continued trace has its header, unless the file went away meanwhile. (A stream in
        // append mode stands at 0 until it is moved to the end.)
        if (continued) file_.seekp(0, std::ios::end);
        if (!continued || file_.tellp() <= 0) trace_.WriteHeader();
        ReadSettings(folder + sim::PortSettings::kFileName);
        trace_.Flush();
    }

    // At an unload by FreeLibrary: leaves the session for the next load and closes the trace.
    void Stop() {
        AcquireSRWLockExclusive(&lock_);
        const std::string session = std::to_string(GetCurrentProcessId()) + " " +
                                    std::to_string(origin_.QuadPart) + " " + port_.SaveState();
        SetEnvironmentVariableA(kSessionVariable, session.c_str());
        trace_.Flush();
        file_.close();
        ReleaseSRWLockExclusive(&lock_);
    }

    // At process exit the other threads are gone already; one that died inside a call may still
    // hold the lock, and then its half-written line is better left alone.
    void StopAtExit() {
        if (!TryAcquireSRWLockExclusive(&lock_)) return;
        trace_.Flush();
        ReleaseSRWLockExclusive(&lock_);
    }

    void Write(uint16_t address, uint16_t value) {
        AcquireSRWLockExclusive(&lock_);
        port_.Write(address, value, Now());
        trace_.Flush();
        ReleaseSRWLockExclusive(&lock_);
    }

    uint8_t Read(uint16_t address) {
        AcquireSRWLockShared(&lock_);
        const uint8_t byte = port_.Read(address);
        ReleaseSRWLockShared(&lock_);
        return byte;
    }

  private:
    // Microseconds since the origin, exact for any counter frequency.
    uint64_t Now() const {
        LARGE_INTEGER now;
        QueryPerformanceCounter(&now);
        const auto elapsed = static_cast<uint64_t>(now.QuadPart - origin_.QuadPart);
        const auto frequency = static_cast<uint64_t>(frequency_.QuadPart);
        return elapsed / frequency * 1000000 + elapsed % frequency * 1000000 / frequency;
    }

    // True when an earlier load in this process left its session: the port's state and the time
    // origin are taken over.
    bool TakeUpSession() {
        char buffer[512];
        const DWORD length = GetEnvironmentVariableA(kSessionVariable, buffer, sizeof buffer);
        if (length == 0 || length >= sizeof buffer) return false;
        std::istringstream in(std::string(buffer, length));
        unsigned long pid = 0;
        long long origin = 0;
        if (!(in >> pid >> origin) || pid != GetCurrentProcessId() || in.get() != ' ') return false;
        std::string state;
        std::getline(in, state);
        if (!port_.RestoreState(state)) return false;
        origin_.QuadPart = origin;
        return true;
    }

    void ReadSettings(const std::string& path) {
        const DWORD attributes = GetFileAttributesA(path.c_str());
        if (attributes == INVALID_FILE_ATTRIBUTES) {
            const DWORD error = GetLastError();
            // No file: the defaults, as promised. Anything else is a file that is there but
            // cannot be reached, which the user must hear about.
            if (error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND)
                Report({0, "cannot be read (Windows error " + std::to_string(error) +
                               "); every switch keeps its default"},
                       path);
            return;
        }
        std::ifstream in;
        if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) in.open(path, std::ios::binary);
        if (!in.is_open()) {
            Report({0, "cannot be read; every switch keeps its default"}, path);
            return;
        }
        in.seekg(0, std::ios::end);
        const std::streamoff size = in.tellg();
        if (size > kLargestSettings) {
            Report({0, "is larger than 1 MB and was not read; every switch keeps its default"},
                   path);
            return;
        }
        in.seekg(0);
        std::string text(static_cast<size_t>(size > 0 ? size : 0), '\0');
        if (!in.read(text.data(), static_cast<std::streamsize>(text.size()))) {
            Report({0, "cannot be read; every switch keeps its default"}, path);
            return;
        }
        const sim::PortSettings::Result settings = sim::PortSettings::Parse(text);
        for (const sim::PortSettings::Problem& problem : settings.problems)
            Report(problem, path);
        port_.SetSwitches(settings.switches);
    }

    void Report(const sim::PortSettings::Problem& problem, const std::string& path) {
        const std::string text = sim::PortSettings::Describe(problem, path);
        TellDebugger(text);
        trace_.Settings(Now(), text);
    }

    SRWLOCK lock_ = SRWLOCK_INIT;
    LARGE_INTEGER frequency_{}, origin_{};
    std::ofstream file_;
    sim::PortTrace trace_{file_};
    sim::VirtualParallelPort port_{&trace_};
};

PortHost* host = nullptr;

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
    if (reason == DLL_PROCESS_ATTACH) {
        DisableThreadLibraryCalls(instance);
        // Without memory the library still loads; the port then reads 0xFF and ignores writes.
        host = new (std::nothrow) PortHost;
        if (host != nullptr) host->Start();
    } else if (reason == DLL_PROCESS_DETACH && host != nullptr) {
        if (reserved == nullptr) {
            // FreeLibrary: the program has released its entry points and no call is in progress.
            host->Stop();
            delete host;
            host = nullptr;
        } else {
            host->StopAtExit();  // the process ends; its memory goes with it
        }
    }
    return TRUE;
}

int16_t Q417_STDCALL Inp32(int16_t address) {
    if (host == nullptr) return sim::VirtualParallelPort::kNothing;
    return host->Read(static_cast<uint16_t>(address));
}

void Q417_STDCALL Out32(int16_t address, int16_t value) {
    if (host != nullptr) host->Write(static_cast<uint16_t>(address), static_cast<uint16_t>(value));
}
