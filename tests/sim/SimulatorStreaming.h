// SimulatorStreaming: the program's USB side as it runs for real (four TStepperMotor on the real
// timer service, TUsbProtocol, TUsbLink on Win32 device files) streaming motor programs in real
// time into q417-sim.exe's virtual module, found through the simulator's vrexusbdrv.dll beside
// this exe. The steps the module played are read back from its trace. Windows only (Wine).
#pragma once

#include <windows.h>

#include <array>
#include <atomic>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "platform/DeviceFile.h"
#include "platform/virtual/VirtualDesktop.h"
#include "sim/ScheduleFigures.h"
#include "sim/client/SimulatorClient.h"
#include "usb/UsbLink.h"
#include "usb/UsbProtocol.h"

namespace sim::testing {

class SimulatorStreaming final : public usb::UsbLinkClient,
                                 public usb::UsbProtocolWindow,
                                 public motion::TextDisplay {
  public:
    static constexpr int kMotors = 4;

    SimulatorStreaming() {
        for (int i = 0; i < kMotors; ++i) {
            motors_[i] = std::make_unique<motion::TStepperMotor>(i, platform::SystemTimerService());
        }
    }
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
        protocol_ = std::make_unique<usb::TUsbProtocol>(
            usb::TUsbProtocol::Ports{*link_, platform::SystemTimerService(), *this},
            std::array<motion::TStepperMotor*, kMotors>{motors_[0].get(), motors_[1].get(),
                                                        motors_[2].get(), motors_[3].get()});
        protocol_->SetPortSetting(usb::TUsbProtocol::kPortUsb);
        link_->OpenUsb();
        if (!link_->Connected()) return "the link did not connect: " + status_;
        Sleep(2000);  // a run 2 s after the opening: the calibration is within 0.05 %
        return "";
    }

    void SetProgram(int motor, const std::vector<motion::TsmProgramStep>& steps) {
        auto program = motors_[motor]->LockProgram();
        program->Clear();
        for (const auto& step : steps)
            program->Add() = step;
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
        return ScheduleFigures(
            programs_[motor], PlayedSteps(motor + 1), TraceEvents("underrun", motor + 1),
            TraceEvents("overlap", motor + 1), TraceEvents("coil overwrite", motor + 1));
    }

    std::string TracePath() const { return simulator_.TracePath(); }
    // A control command to the simulator ("stall 300"); its answer.
    std::string Control(const std::string& command) { return simulator_.Control(command); }
    motion::TStepperMotor& Motor(int motor) { return *motors_[motor]; }
    usb::TUsbProtocol& Protocol() { return *protocol_; }

  private:
    // The step lines of the trace for one motor (1 to 4): tick,seconds,motor,direction,...
    std::vector<ModuleStep> PlayedSteps(int motor) const {
        std::vector<ModuleStep> steps;
        std::ifstream trace(simulator_.TracePath());
        std::string line;
        std::getline(trace, line);  // header
        while (std::getline(trace, line)) {
            std::istringstream fields(line);
            std::string tick, seconds, m, direction, phase, position;
            std::getline(fields, tick, ',');
            std::getline(fields, seconds, ',');
            std::getline(fields, m, ',');
            std::getline(fields, direction, ',');
            std::getline(fields, phase, ',');
            std::getline(fields, position, ',');
            if (m.empty() || std::stoi(m) != motor) continue;
            ModuleStep step{};
            step.tick = std::stoull(tick);
            step.elapsed = step.tick;  // one power-up: the tick count never wraps here
            step.motor = motor;
            step.direction = std::stoi(direction);
            step.phase = static_cast<uint8_t>(std::stoi(phase));
            step.position = std::stoi(position);
            steps.push_back(step);
        }
        return steps;
    }

    // The module's fault lines of one motor in the trace ("overlap 2 due ...", "underrun 2 ...",
    // "coil overwrite 2 ...").
    int TraceEvents(const std::string& kind, int motor) const {
        std::ifstream trace(simulator_.TracePath());
        const std::string prefix = ",,,,," + kind + " " + std::to_string(motor) + " ";
        int count = 0;
        std::string line;
        while (std::getline(trace, line))
            if (line.find(prefix) != std::string::npos) ++count;
        return count;
    }

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
    std::array<std::unique_ptr<motion::TStepperMotor>, kMotors> motors_;
    std::array<std::vector<motion::TsmProgramStep>, kMotors> programs_;
    std::string status_;
    std::unique_ptr<usb::TUsbLink> link_;
    std::unique_ptr<usb::TUsbProtocol> protocol_;
};

}  // namespace sim::testing
