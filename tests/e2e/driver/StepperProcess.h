// StepperProcess: one run of the real Q417_Stepper.exe from a test folder, as a user starts it:
// its own folder as the working directory, no command line. It belongs to a job that kills it
// when the job is closed, so a failing test never leaves it running (the object's destruction
// kills it as well). Finds the program's main window by process id, closes it like the user
// does (WM_CLOSE) and measures how long the process then takes to end.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace e2e {

class StepperProcess {
  public:
    StepperProcess();
    // Kills the program if it still runs and waits for it.
    ~StepperProcess();
    StepperProcess(const StepperProcess&) = delete;
    StepperProcess& operator=(const StepperProcess&) = delete;

    // Starts exePath in its own folder. The environment is this process's own (a simulator
    // started before by SimulatorClient has put its pipe name there). False with Error() set.
    bool Start(const std::string& exePath);
    // The program's main window: its top-level window with a menu and no owner, once it is
    // visible; null after timeoutMs.
    HWND WaitMainWindow(DWORD timeoutMs);
    HWND MainWindow() const { return main_; }

    // The visible top-level windows of the program other than its main window (dialogs, message
    // boxes), newest first as the window list gives them.
    std::vector<HWND> OtherWindows() const;

    // Posts WM_CLOSE to the main window and waits until the process has ended. Returns false
    // when it is still running after timeoutMs; elapsedMs receives the time from the post to
    // the end (or to the time-out).
    bool Close(DWORD timeoutMs, double& elapsedMs);
    // True when the process has ended within timeoutMs.
    bool WaitExit(DWORD timeoutMs);
    bool Running() const;
    // The exit code once it has ended; STILL_ACTIVE while it runs.
    DWORD ExitCode() const;
    // Ends the program at once (a test that failed midway).
    void Kill();

    DWORD Id() const { return id_; }
    HANDLE Handle() const { return process_; }
    const std::string& Error() const { return error_; }

  private:
    HANDLE job_ = nullptr;
    HANDLE process_ = nullptr;
    DWORD id_ = 0;
    HWND main_ = nullptr;
    std::string error_;
};

}  // namespace e2e
