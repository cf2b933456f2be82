// StepperSession: what one end-to-end case sets up, in the order a user would: a fresh folder
// with the program (and the kit's DLLs it asks for), optionally the simulator's virtual module,
// then the program itself with its main window. Everything is ended in reverse order when the
// session goes: the program first (killed if still running), then the simulator.
#pragma once

#include <memory>
#include <string>

#include "e2e/driver/MainWindow.h"
#include "e2e/driver/StepperProcess.h"
#include "e2e/driver/TestFolder.h"
#include "sim/client/SimulatorClient.h"

namespace e2e {

// Windows take their time to appear under Wine on a shared machine.
constexpr DWORD kWindowTimeoutMs = 10000;

class StepperSession {
  public:
    // Lays out the folder; "" when all went well, else what failed.
    std::string LayOut(const std::string& name, unsigned kit);
    // Starts q417-sim.exe with the module plugged in (or as extraArguments say).
    std::string StartSimulator(const std::string& extraArguments = "");
    // Starts the program from the folder and waits for its main window.
    std::string StartProgram();
    // Starts the program without waiting for its main window (for message boxes it shows while
    // it starts); then AttachMainWindow waits for the window.
    std::string StartProcess();
    std::string AttachMainWindow();

    TestFolder& Folder() { return folder_; }
    sim::SimulatorClient& Simulator() { return *simulator_; }
    StepperProcess& Process() { return *process_; }
    MainWindow& Window() { return *window_; }

  private:
    TestFolder folder_;
    std::unique_ptr<sim::SimulatorClient> simulator_;
    std::unique_ptr<StepperProcess> process_;
    // Destroyed in reverse: the window's driver, the program, then the simulator.
    std::unique_ptr<MainWindow> window_;
};

// True once window's text equals text within timeoutMs.
bool WaitText(HWND window, const std::string& text, DWORD timeoutMs);

}  // namespace e2e
