// SimulatorClient: a test driver's (or benchmark's) hold on a q417-sim.exe child process: starts it
// on a pipe name of its own, sends it control commands, and ends it. The simulator is killed when
// the object goes, and a kill-on-close job also ends it if the driver itself dies.
//
// The driver's own process learns the pipe name through the environment (Q417_SIM_PIPE), so the
// simulator's vrexusbdrv.dll loaded into it finds this simulator and no other.
#pragma once

#include <windows.h>

#include <string>

namespace sim {

// A Unix path of the build as a Wine process sees it (drive Z: is the Unix root); other paths
// are returned unchanged.
std::string WindowsPath(const std::string& path);

class SimulatorClient {
  public:
    SimulatorClient();
    // Quits the simulator (or kills it) and waits for it.
    ~SimulatorClient();
    SimulatorClient(const SimulatorClient&) = delete;
    SimulatorClient& operator=(const SimulatorClient&) = delete;

    // Starts exePath with a pipe name unique to this process and moment, a trace file in the
    // temporary folder, and extraArguments (e.g. "--unplugged"); sets Q417_SIM_PIPE for this
    // process; waits until the control channel answers. False, with Error() set, on failure.
    bool Start(const std::string& exePath, const std::string& extraArguments = "");
    // Sends a control command ("plug", "pull", "deaf", "hear", "quit", "stall N" for a receive
    // side held N ms from now) and returns the answer
    // ("ok", "error: ..."), or "" when the simulator does not answer.
    std::string Control(const std::string& command);
    // The exit code, or STILL_ACTIVE when it has not ended within timeoutMs.
    DWORD WaitForExit(DWORD timeoutMs);

    const std::string& PipeName() const { return name_; }
    const std::string& TracePath() const { return trace_; }
    const std::string& Error() const { return error_; }

  private:
    HANDLE job_ = nullptr;
    HANDLE process_ = nullptr;
    std::string name_;
    std::string trace_;
    std::string error_;
};

}  // namespace sim
