#include "sim/client/SimulatorClient.h"

#include <algorithm>

#include "sim/common/SimulatorNames.h"

namespace sim {

std::string WindowsPath(const std::string& path) {
    std::string result(path);
    if (!result.empty() && result[0] == '/') {
        std::replace(result.begin(), result.end(), '/', '\\');
        result = "Z:" + result;
    }
    return result;
}

SimulatorClient::SimulatorClient() {
    job_ = CreateJobObjectA(nullptr, nullptr);
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
    if (job_ != nullptr) {
        SetInformationJobObject(job_, JobObjectExtendedLimitInformation, &limits, sizeof limits);
    }
}

SimulatorClient::~SimulatorClient() {
    if (process_ != nullptr) {
        if (WaitForSingleObject(process_, 0) != WAIT_OBJECT_0) {
            Control("quit");
            if (WaitForSingleObject(process_, 5000) != WAIT_OBJECT_0) {
                TerminateProcess(process_, 99);
                WaitForSingleObject(process_, 10000);
            }
        }
        CloseHandle(process_);
    }
    if (job_ != nullptr) CloseHandle(job_);
}

bool SimulatorClient::Start(const std::string& exePath, const std::string& extraArguments) {
    name_ =
        "q417-sim-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(GetTickCount());
    char temp[MAX_PATH] = {};
    GetTempPathA(MAX_PATH, temp);
    trace_ = std::string(temp) + name_ + ".csv";
    SetEnvironmentVariableA(kPipeNameVariable, name_.c_str());

    const std::string exe = WindowsPath(exePath);
    std::string commandLine =
        "\"" + exe + "\" --pipe " + name_ + " --trace \"" + trace_ + "\" " + extraArguments;
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info{};
    if (!CreateProcessA(exe.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                        nullptr, &startup, &info)) {
        error_ = "cannot start " + exe;
        return false;
    }
    CloseHandle(info.hThread);
    process_ = info.hProcess;
    if (job_ != nullptr) AssignProcessToJobObject(job_, process_);

    // Ready once the control channel answers ("hear" changes nothing by itself).
    for (int i = 0; i < 200; ++i) {
        if (Control("hear") == "ok") return true;
        if (WaitForSingleObject(process_, 50) == WAIT_OBJECT_0) break;
    }
    error_ = "the simulator's control channel does not answer";
    return false;
}

std::string SimulatorClient::Control(const std::string& command) {
    const std::string pipe = ControlPipePath(ModulePipePath(name_));
    char answer[256] = {};
    DWORD read = 0;
    if (!CallNamedPipeA(pipe.c_str(), const_cast<char*>(command.data()),
                        static_cast<DWORD>(command.size()), answer, sizeof answer - 1, &read,
                        2000)) {
        return "";
    }
    return std::string(answer, read);
}

DWORD SimulatorClient::WaitForExit(DWORD timeoutMs) {
    if (process_ == nullptr || WaitForSingleObject(process_, timeoutMs) != WAIT_OBJECT_0) {
        return STILL_ACTIVE;
    }
    DWORD code = STILL_ACTIVE;
    GetExitCodeProcess(process_, &code);
    return code;
}

}  // namespace sim
