// SimulatorStreaming: the program's USB side as it runs for real (four TStepperMotor on the real
// timer service, TUsbProtocol, TUsbLink on Win32 device files) streaming motor programs in real
// time into q417-sim.exe's virtual module, found through the simulator's vrexusbdrv.dll beside
// this exe. The steps the module played are read back from its trace. Windows only (Wine).
#pragma once

#include <windows.h>

#include <array>
#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "e2e/driver/TraceFile.h"
#include "platform/DeviceFile.h"
#include "platform/virtual/VirtualDesktop.h"
#include "sim/client/SimulatorClient.h"
#include "testsupport/MotorPrograms.h"
#include "testsupport/ProtocolMotors.h"
#include "testsupport/ScheduleFigures.h"
#include "usb/UsbLink.h"
#include "usb/UsbProtocol.h"

namespace sim::testing {

class SimulatorStreaming final : public usb::UsbLinkClient,
                                 public usb::UsbProtocolWindow,
                                 public motion::TextDisplay {
  public:
    static constexpr int kMotors = 4;

    SimulatorStreaming() : motors_(testsupport::MakeMotors(platform::SystemTimerService())) {}
    ~SimulatorStreaming() {
        if (link_) link_->Shutdown();
        for (auto& motor : motors_)
            motor->Stop();
    }

    // Starts the simulator (with simulatorArguments, e.g. "--link-ms 2"), opens the link and lets
    // the clock calibration settle. "" when all went well, else what failed.
    std::string Start(const std::string& simulatorExe, const std::string& simulatorArguments = "") {
        if (!simulator_.Start(simulatorExe, simulatorArguments)) return simulator_.Error();
        link_ = std::make_unique<usb::TUsbLink>(
            usb::TUsbLink::Ports{platform::SystemLibraryLoader(), platform::SystemDeviceFiles(),
                                 desktop_, platform::SystemTimerService()},
            *this, this);
        protocol_ =
            testsupport::MakeProtocol(motors_, {*link_, platform::SystemTimerService(), *this});
        protocol_->SetPortSetting(usb::TUsbProtocol::kPortUsb);
        protocol_->StartStreamer();  // as the window starts it
        link_->OpenUsb();
        if (!link_->Connected()) return "the link did not connect: " + status_;
        Sleep(2000);  // a run 2 s after the opening: the calibration is within 0.05 %
        return "";
    }

    void SetProgram(int motor, const std::vector<motion::TsmProgramStep>& steps) {
        testsupport::SetProgram(*motors_[motor], steps);
        programs_[motor] = steps;
    }

    void StartAll() { protocol_->StartAll(); }

    // Waits until every motor is finished (the module reported its list empty after the
    // program's last pass); false after timeoutMs.
    bool WaitFinished(DWORD timeoutMs) {
        for (DWORD waited = 0; waited < timeoutMs; waited += 20) {
            bool done = true;
            for (auto& motor : motors_)
                done = done && motor->Finished();
            if (done) return true;
            Sleep(20);
        }
        return false;
    }

    MotorFigures Figures(int motor) {
        const std::vector<e2e::TraceLine> trace = e2e::ReadTrace(simulator_.TracePath());
        return ScheduleFigures(programs_[motor], e2e::PlayedSteps(trace, motor + 1),
                               e2e::ModuleEvents(trace, "underrun", motor + 1),
                               e2e::ModuleEvents(trace, "overlap", motor + 1),
                               e2e::ModuleEvents(trace, "coil overwrite", motor + 1));
    }

    std::string TracePath() const { return simulator_.TracePath(); }
    // A control command to the simulator ("stall 300"); its answer.
    std::string Control(const std::string& command) { return simulator_.Control(command); }
    motion::TStepperMotor& Motor(int motor) { return *motors_[motor]; }
    usb::TUsbProtocol& Protocol() { return *protocol_; }

  private:
    // UsbLinkClient: the protocol's hooks.
    void ReleaseParallelPort() override {}
    void ClearSegmentRings() override {
        if (protocol_) protocol_->ClearSegmentRings();
    }
    void ResetUsbBuffers() override {
        if (protocol_) protocol_->ResetUsbBuffers();
    }
    void ReceiveThreadStarted() override {
        if (protocol_) protocol_->ReceiveThreadStarted();
    }
    void BeginPass() override {
        if (protocol_) protocol_->BeginPass();
    }
    void DispatchReport(const usb::UsbReport& report, double hostSeconds) override {
        if (!protocol_) return;
        protocol_->DispatchReport(report, hostSeconds);
    }
    // UsbProtocolWindow and the status label: nothing to show here.
    void ShowResetCaption(int32_t) override {}
    void SetResetIdle() override {}
    void EnableRunInOrder(bool) override {}
    void SetText(std::string_view text) override { status_ = text; }

    SimulatorClient simulator_;
    platform::VirtualDesktop desktop_;
    testsupport::ProtocolMotorSet motors_;
    std::array<std::vector<motion::TsmProgramStep>, kMotors> programs_;
    std::string status_;
    std::unique_ptr<usb::TUsbLink> link_;
    std::unique_ptr<usb::TUsbProtocol> protocol_;
};

}  // namespace sim::testing
