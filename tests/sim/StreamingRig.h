// StreamingRig: the program's USB command protocol (TUsbProtocol with four TStepperMotor) feeding
// the virtual module's firmware, both in one virtual time, for the end-to-end tests and the
// streaming benchmark.
//
// Time moves in steps of 1 ms: the host's tick count (a VirtualTimerService) and the module's
// clock move together. A report the host sends reaches the module at once; the module's
// reports (clock reports every 8 ms, status answers) are dispatched to the protocol as the
// receive thread would, with the host time of their arrival, before time moves on.
//
// Every step the module plays is recorded per motor and compared with the ideal schedule
// (TStepSchedule, ScheduleFigures); overlaps and underruns are the module's own counts.
#pragma once

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <memory>
#include <vector>

#include "motion/MotorProgram.h"
#include "motion/StepperMotor.h"
#include "platform/virtual/VirtualTimerService.h"
#include "sim/ScheduleFigures.h"
#include "sim/module/VirtualModule.h"
#include "usb/UsbProtocol.h"
#include "usb/UsbReport.h"

namespace sim::testing {

class StreamingRig {
  public:
    static constexpr int kMotors = 4;

    StreamingRig() : channel_(*this) {
        timers_.SetNowMs(1000000);  // the host has been up for 1000 s
        for (int i = 0; i < kMotors; ++i)
            motors_[i] = std::make_unique<motion::TStepperMotor>(i, timers_);
        protocol_ = std::make_unique<usb::TUsbProtocol>(
            usb::TUsbProtocol::Ports{channel_, timers_, window_},
            std::array<motion::TStepperMotor*, kMotors>{motors_[0].get(), motors_[1].get(),
                                                        motors_[2].get(), motors_[3].get()});
        module_.SetStepListener([this](const ModuleStep& s) { played_[s.motor - 1].push_back(s); });
    }

    // The module plugged in and the link opened as the program opens it.
    void Open() {
        module_.PowerUp(nowUs_);
        protocol_->ReceiveThreadStarted();
        protocol_->ResetUsbBuffers();
        for (const usb::UsbReport& report : usb::StartupSequence())
            channel_.SendReport(report);
        Deliver();
    }

    void SetProgram(int motor, const std::vector<motion::TsmProgramStep>& steps) {
        auto program = motors_[motor]->LockProgram();
        program->Clear();
        for (const auto& step : steps)
            program->Add() = step;
        program->Looping = false;
        programs_[motor] = steps;
    }

    // The common start in "USB" mode, as the window's Start button does it.
    void StartAll() {
        protocol_->SetPortSetting(usb::TUsbProtocol::kPortUsb);
        protocol_->StartAll();
        Deliver();
    }

    // Moves time on by ms, 1 ms at a time.
    void Run(uint64_t ms) {
        for (uint64_t i = 0; i < ms; ++i) {
            timers_.Advance(1);
            nowUs_ += 1000;
            module_.Advance(nowUs_, pending_);
            Deliver();
        }
    }

    // Runs until every motor is finished on the host and idle in the module, at most limitMs.
    void RunToEnd(uint64_t limitMs) {
        for (uint64_t t = 0; t < limitMs; t += 10) {
            Run(10);
            bool done = true;
            for (int m = 0; m < kMotors; ++m)
                done = done && motors_[m]->Finished() && !module_.Playing(m + 1);
            if (done) return;
        }
    }

    MotorFigures Figures(int motor) const {
        return ScheduleFigures(programs_[motor], played_[motor],
                               static_cast<int>(module_.Underruns(motor + 1)),
                               static_cast<int>(module_.Overlaps(motor + 1)));
    }

    const std::vector<ModuleStep>& Played(int motor) const { return played_[motor]; }
    VirtualModule& Module() { return module_; }
    usb::TUsbProtocol& Protocol() { return *protocol_; }
    motion::TStepperMotor& Motor(int motor) { return *motors_[motor]; }
    uint64_t SentReports() const { return sent_; }

  private:
    // The link: what the host writes reaches the module at the rig's time.
    struct ModuleChannel final : usb::ReportChannel {
        explicit ModuleChannel(StreamingRig& rig) : rig_(rig) {}
        void SendReport(const usb::UsbReport& report) override {
            ++rig_.sent_;
            rig_.module_.Receive(report.data(), report.size(), rig_.nowUs_, rig_.pending_);
        }
        bool Connected() const override { return true; }
        StreamingRig& rig_;
    };
    struct NoWindow final : usb::UsbProtocolWindow {
        void ShowResetCaption(int32_t) override {}
        void SetResetIdle() override {}
        void EnableRunInOrder(bool) override {}
    };

    // The receive thread's passes: one per report, answers included, in the order sent.
    void Deliver() {
        // A pass may send reports whose answers join the end of the queue.
        for (size_t i = 0; i < pending_.size(); ++i) {
            const Report report = pending_[i];
            usb::UsbReport copy{};
            std::copy(report.begin(), report.end(), copy.begin());
            protocol_->BeginPass();
            protocol_->DispatchReport(copy, static_cast<double>(timers_.TickCount()) * 0.001);
        }
        pending_.clear();
    }

    platform::VirtualTimerService timers_;
    ModuleChannel channel_;
    NoWindow window_;
    std::array<std::unique_ptr<motion::TStepperMotor>, kMotors> motors_;
    std::unique_ptr<usb::TUsbProtocol> protocol_;
    VirtualModule module_;
    std::vector<Report> pending_;  // the module's reports not yet dispatched
    uint64_t nowUs_ = 0;
    uint64_t sent_ = 0;
    std::array<std::vector<motion::TsmProgramStep>, kMotors> programs_;
    std::array<std::vector<ModuleStep>, kMotors> played_;
};

}  // namespace sim::testing
