#include "e2e/driver/StepperSession.h"

#include "e2e/driver/KitFiles.h"
#include "e2e/driver/RemoteControls.h"
#include "e2e/driver/Wait.h"
#include "e2e/driver/WineDisplay.h"

namespace e2e {

std::string StepperSession::LayOut(const std::string& name, unsigned kit) {
    return folder_.Create(name, kit) ? "" : folder_.Error();
}

std::string StepperSession::StartSimulator(const std::string& extraArguments) {
    simulator_ = std::make_unique<sim::SimulatorClient>();
    return simulator_->Start(kit::SimulatorExe(), extraArguments) ? "" : simulator_->Error();
}

std::string StepperSession::StartProgram() {
    const std::string error = StartProcess();
    return error.empty() ? AttachMainWindow() : error;
}

std::string StepperSession::StartProcess() {
    window_.reset();
    if (!UseUnmanagedWindows()) return "cannot tell Wine that no window manager runs";
    process_ = std::make_unique<StepperProcess>();
    return process_->Start(folder_.ExePath()) ? "" : process_->Error();
}

std::string StepperSession::AttachMainWindow() {
    if (!process_) return "the program was not started";
    HWND main = process_->WaitMainWindow(kWindowTimeoutMs);
    if (main == nullptr) return "the program's main window did not appear";
    window_ = std::make_unique<MainWindow>(main, process_->Handle(), folder_.ExePath());
    return "";
}

bool WaitText(HWND window, const std::string& text, DWORD timeoutMs) {
    return WaitUntil([&] { return Text(window) == text; }, timeoutMs);
}

}  // namespace e2e
