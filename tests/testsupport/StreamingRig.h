// StreamingRig: the program's USB command protocol (TUsbProtocol with four TStepperMotor) feeding
// the virtual module's firmware, both in one virtual time, for the end-to-end tests and the
// streaming benchmark.
//
// Time moves in steps of 1 ms: the host's tick count (a VirtualTimerService) and the module's
// clock move together. Between them lies the link (ModuleLink) as the hardware has it by
// default: one output report per millisecond, so a host that writes faster waits in its write
// (the virtual clock moves on meanwhile, as a blocked WriteFile lets time pass), and the
// module's reports (clock reports every 8 ms, status answers and unasked status reports) wait
// in the reading handle's buffer of 32 until the rig's receive pass dispatches them to the
// protocol, with the host time of that pass. The streamer's pass runs every 2 ms beside it, as
// its thread does. HoldReceive stalls that receive side; HoldSend holds the host's writes, as a
// loaded host that loses the processor in its write does.
//
// Every step the module plays is recorded per motor and compared with the ideal schedule
// (TStepSchedule, ScheduleFigures); overlaps, underruns and coil overwrites are the module's own
// counts.
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
#include "sim/module/ModuleLink.h"
#include "sim/module/VirtualModule.h"
#include "testsupport/MotorPrograms.h"
#include "testsupport/ProtocolMotors.h"
#include "testsupport/ScheduleFigures.h"
#include "usb/UsbProtocol.h"
#include "usb/UsbReport.h"

namespace sim::testing {

class StreamingRig {
  public:
    static constexpr int kMotors = 4;

    // How hardware-like the kit is; the defaults are the hardware's.
    struct Options {
        bool unaskedStatus = true;  // status reports on its own (list empty, reset ended)
        uint64_t linkPeriodUs = ModuleLink::kDefaultReportPeriodUs;  // 0: no limit
    };

    StreamingRig() : StreamingRig(Options{}) {}
    explicit StreamingRig(Options options) : channel_(*this), link_(1, options.linkPeriodUs) {
        module_.SetUnaskedStatusReports(options.unaskedStatus);
        timers_.SetNowMs(kHostStartMs);
        motors_ = testsupport::MakeMotors(timers_);
        protocol_ = testsupport::MakeProtocol(motors_, {channel_, timers_, window_});
        module_.SetStepListener([this](const ModuleStep& s) { played_[s.motor - 1].push_back(s); });
    }

    // The module plugged in and the link opened as the program opens it.
    void Open() {
        module_.PowerUp(HostUs());
        link_.Open(kReadHandle);
        protocol_->ReceiveThreadStarted();
        protocol_->ResetUsbBuffers();
        for (const usb::UsbReport& report : usb::StartupSequence())
            channel_.SendReport(report);
        Deliver();
    }

    void SetProgram(int motor, const std::vector<motion::TsmProgramStep>& steps) {
        testsupport::SetProgram(*motors_[motor], steps);
        programs_[motor] = steps;
    }
    // Motors 1 to programs.size(), in order; the others keep theirs.
    void SetPrograms(const std::vector<std::vector<motion::TsmProgramStep>>& programs) {
        for (size_t m = 0; m < programs.size() && m < kMotors; ++m)
            SetProgram(static_cast<int>(m), programs[m]);
    }
    // Opened and left alone for ms (2 s: the clock is calibrated), as a run is started.
    void OpenFor(uint64_t ms = 2000) {
        Open();
        Run(ms);
    }

    // The common start in "USB" mode, as the window's Start button does it.
    void StartAll() {
        protocol_->SetPortSetting(usb::TUsbProtocol::kPortUsb);
        protocol_->StartAll();
        Deliver();
    }

    // Moves time on by ms, 1 ms at a time (a writer that waits for the link may move it
    // further).
    void Run(uint64_t ms) {
        const uint64_t until = timers_.NowMs() + ms;
        while (timers_.NowMs() < until) {
            timers_.Advance(1);
            AdvanceModule(HostUs());
            Deliver();
            if (timers_.NowMs() % kStreamPassMs == 0) protocol_->StreamPass();
        }
    }

    // From now on the host's receive side reads nothing for ms milliseconds.
    void HoldReceive(uint64_t ms) { link_.HoldReceive(HostUs(), ms * 1000); }
    // Every report reaches the host's receive side ms milliseconds after it was made.
    void SetReadLatency(uint64_t ms) { link_.SetReadLatencyUs(ms * 1000); }
    // From now on for ms milliseconds, a report the host writes reaches the module only then.
    void HoldSend(uint64_t ms) { link_.HoldSend(HostUs(), ms * 1000); }

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
                               static_cast<int>(module_.Overlaps(motor + 1)),
                               static_cast<int>(module_.CoilOverwrites(motor + 1)));
    }

    const std::vector<ModuleStep>& Played(int motor) const { return played_[motor]; }
    VirtualModule& Module() { return module_; }
    ModuleLink& Link() { return link_; }
    usb::TUsbProtocol& Protocol() { return *protocol_; }
    motion::TStepperMotor& Motor(int motor) { return *motors_[motor]; }
    uint64_t SentReports() const { return sent_; }
    // When the module took each report the host sent, in the rig's microseconds.
    const std::vector<uint64_t>& CarriedUs() const { return carriedUs_; }
    // The host's clock in the rig's microseconds (the module's power-up is at 0).
    uint64_t HostUs() const { return (timers_.NowMs() - kHostStartMs) * 1000; }

  private:
    static constexpr uint64_t kHostStartMs = 1000000;  // the host has been up for 1000 s
    static constexpr int kReadHandle = 0;
    static constexpr uint64_t kStreamPassMs =
        static_cast<uint64_t>(usb::TUsbProtocol::kStreamPassSeconds * 1000);

    // The host's write: it returns once the link has carried the report to the module.
    struct ModuleChannel final : usb::ReportChannel {
        explicit ModuleChannel(StreamingRig& rig) : rig_(rig) {}
        void SendReport(const usb::UsbReport& report) override {
            ++rig_.sent_;
            const uint64_t now = rig_.HostUs();
            const uint64_t taken = rig_.link_.Carry(now);
            if (taken > now) rig_.timers_.Sleep(static_cast<uint32_t>((taken - now + 999) / 1000));
            rig_.AdvanceModule(taken);
            rig_.carriedUs_.push_back(taken);
            std::vector<Report> answers;
            rig_.module_.Receive(report.data(), report.size(), taken, answers);
            for (const Report& answer : answers)
                rig_.link_.Post(answer, taken);
        }
        bool Connected() const override { return true; }
        StreamingRig& rig_;
    };
    struct NoWindow final : usb::UsbProtocolWindow {
        void ShowResetCaption(int32_t) override {}
        void SetResetIdle() override {}
        void EnableRunInOrder(bool) override {}
    };

    // The module plays up to us; what it sends joins the reading handle's buffer.
    void AdvanceModule(uint64_t us) {
        std::vector<Report> made;
        module_.Advance(us, made);
        for (const Report& report : made)
            link_.Post(report, us);
    }

    // The receive thread's passes: one per buffered report, in the order sent. A pass may send
    // reports whose answers join the end of the buffer.
    void Deliver() {
        Report report;
        while (link_.Read(kReadHandle, HostUs(), report)) {
            usb::UsbReport copy{};
            std::copy(report.begin(), report.end(), copy.begin());
            protocol_->BeginPass();
            protocol_->DispatchReport(copy, static_cast<double>(timers_.TickCount()) * 0.001);
        }
    }

    platform::VirtualTimerService timers_;
    ModuleChannel channel_;
    NoWindow window_;
    testsupport::ProtocolMotorSet motors_;
    std::unique_ptr<usb::TUsbProtocol> protocol_;
    VirtualModule module_;
    ModuleLink link_;
    uint64_t sent_ = 0;
    std::vector<uint64_t> carriedUs_;
    std::array<std::vector<motion::TsmProgramStep>, kMotors> programs_;
    std::array<std::vector<ModuleStep>, kMotors> played_;
};

}  // namespace sim::testing
