#include "e2e/driver/StepperProcess.h"

#include "e2e/driver/Wait.h"

namespace e2e {

namespace {

struct WindowSearch {
    DWORD process;
    std::vector<HWND> found;
};

BOOL CALLBACK CollectTopLevel(HWND window, LPARAM data) {
    auto& search = *reinterpret_cast<WindowSearch*>(data);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner == search.process && IsWindowVisible(window)) search.found.push_back(window);
    return TRUE;
}

std::vector<HWND> VisibleTopLevel(DWORD process) {
    WindowSearch search{process, {}};
    EnumWindows(CollectTopLevel, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

}  // namespace

StepperProcess::StepperProcess() {
    job_ = CreateJobObjectA(nullptr, nullptr);
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
    if (job_ != nullptr)
        SetInformationJobObject(job_, JobObjectExtendedLimitInformation, &limits, sizeof limits);
}

StepperProcess::~StepperProcess() {
    if (process_ != nullptr) {
        Kill();
        CloseHandle(process_);
    }
    if (job_ != nullptr) CloseHandle(job_);
}

bool StepperProcess::Start(const std::string& exePath) {
    const size_t slash = exePath.find_last_of('\\');
    const std::string folder = slash == std::string::npos ? "." : exePath.substr(0, slash);
    std::string commandLine = "\"" + exePath + "\"";
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info{};
    // Suspended until it is in the job: nothing it starts can escape the job's kill.
    if (!CreateProcessA(exePath.c_str(), commandLine.data(), nullptr, nullptr, FALSE,
                        CREATE_SUSPENDED, nullptr, folder.c_str(), &startup, &info)) {
        error_ = "cannot start " + exePath + " (error " + std::to_string(GetLastError()) + ")";
        return false;
    }
    process_ = info.hProcess;
    id_ = info.dwProcessId;
    if (job_ != nullptr) AssignProcessToJobObject(job_, process_);
    ResumeThread(info.hThread);
    CloseHandle(info.hThread);
    return true;
}

HWND StepperProcess::WaitMainWindow(DWORD timeoutMs) {
    WaitUntil(
        [&] {
            for (HWND window : VisibleTopLevel(id_)) {
                if (GetWindow(window, GW_OWNER) == nullptr && GetMenu(window) != nullptr) {
                    main_ = window;
                    return true;
                }
            }
            return !Running();
        },
        timeoutMs);
    return main_;
}

std::vector<HWND> StepperProcess::OtherWindows() const {
    std::vector<HWND> windows = VisibleTopLevel(id_);
    std::erase(windows, main_);
    return windows;
}

bool StepperProcess::Close(DWORD timeoutMs, double& elapsedMs) {
    const Stopwatch clock;
    PostMessageA(main_, WM_CLOSE, 0, 0);
    const bool ended = WaitExit(timeoutMs);
    elapsedMs = clock.ElapsedMs();
    return ended;
}

bool StepperProcess::WaitExit(DWORD timeoutMs) {
    return process_ != nullptr && WaitForSingleObject(process_, timeoutMs) == WAIT_OBJECT_0;
}

bool StepperProcess::Running() const {
    return process_ != nullptr && WaitForSingleObject(process_, 0) == WAIT_TIMEOUT;
}

DWORD StepperProcess::ExitCode() const {
    DWORD code = STILL_ACTIVE;
    if (process_ != nullptr) GetExitCodeProcess(process_, &code);
    return code;
}

void StepperProcess::Kill() {
    if (!Running()) return;
    TerminateProcess(process_, 99);
    WaitForSingleObject(process_, 10000);
}

}  // namespace e2e
