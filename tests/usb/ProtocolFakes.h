// Test doubles for TUsbProtocol: a report channel that records what is sent, a window port that
// records what would be posted, and a bench of four motors on the virtual clock.
#pragma once

#include <array>
#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "motion/StepperMotor.h"
#include "platform/virtual/VirtualTimerService.h"
#include "testsupport/MotorPrograms.h"
#include "testsupport/ProtocolMotors.h"
#include "usb/UsbProtocol.h"

namespace usb::testing {

struct FakeChannel : ReportChannel {
    mutable std::mutex mutex;
    std::vector<UsbReport> sent;
    std::atomic<bool> connected{true};
    bool yieldOnSend = false;
    // Runs while a report is being written (after it was recorded), as another thread would.
    std::function<void()> onSend;

    void SendReport(const UsbReport& report) override {
        {
            std::lock_guard lock(mutex);
            sent.push_back(report);
        }
        if (onSend) onSend();
        if (yieldOnSend) std::this_thread::yield();
    }
    bool Connected() const override { return connected.load(); }

    std::vector<UsbReport> Take() {
        std::lock_guard lock(mutex);
        std::vector<UsbReport> out;
        out.swap(sent);
        return out;
    }
};

struct FakeWindow : UsbProtocolWindow {
    std::mutex mutex;
    std::vector<std::string> calls;

    void Log(std::string call) {
        std::lock_guard lock(mutex);
        calls.push_back(std::move(call));
    }
    void ShowResetCaption(int32_t button) override { Log("caption " + std::to_string(button)); }
    void SetResetIdle() override { Log("reset idle"); }
    void EnableRunInOrder(bool enabled) override {
        Log(enabled ? "run in order on" : "run in order off");
    }
    std::vector<std::string> Take() {
        std::lock_guard lock(mutex);
        std::vector<std::string> out;
        out.swap(calls);
        return out;
    }
};

// Four motors and the protocol, the virtual clock standing at 1000 s.
struct ProtocolBench {
    platform::VirtualTimerService timers;
    FakeChannel channel;
    FakeWindow window;
    testsupport::ProtocolMotorSet motors;
    std::unique_ptr<TUsbProtocol> protocol;

    ProtocolBench() {
        timers.SetNowMs(1000000);
        motors = testsupport::MakeMotors(timers);
        protocol = testsupport::MakeProtocol(motors, {channel, timers, window});
    }

    void SetProgram(int motor, const std::vector<motion::TsmProgramStep>& steps,
                    bool looping = false) {
        testsupport::SetProgram(*motors[motor], steps, looping);
    }

    double HostSeconds() { return timers.NowMs() * 0.001; }

    // The module's clock: 7812 ticks a second (the nominal rate, so that tick figures hold at
    // either rate) from the bench's start.
    static constexpr uint64_t kStartMs = 1000000;
    uint64_t ModuleTicks() { return (timers.NowMs() - kStartMs) * 7812 / 1000; }
    // Time passes by ms with the module's clock report every 8 ms. Its levels show every list
    // empty, which never raises the host's account: the segments sent play out as planned.
    void PlayOn(uint64_t ms) {
        for (uint64_t t = 0; t < ms; t += 8) {
            timers.SetNowMs(timers.NowMs() + 8);
            Dispatch(Clock(ModuleTicks(), 0xFF));
        }
    }
    // A calibrated clock (2 s of reports, as a run started 2 s after the opening), once; what
    // it sent is taken.
    void Calibrate() {
        if (calibrated) return;
        calibrated = true;
        PlayOn(2000);
        channel.Take();
        window.Take();
    }
    bool calibrated = false;

    // A status report: reset mask, packed phases, free places of motors 1 to 4.
    static UsbReport Status(std::array<uint8_t, 4> free, uint8_t mask = 0, uint8_t phases = 0) {
        UsbReport r{};
        r[1] = kStatusReport;
        r[2] = mask;
        r[3] = phases;
        for (int i = 0; i < 4; ++i)
            r[4 + i] = free[i];
        return r;
    }
    static UsbReport Clock(uint64_t ticks, uint8_t levels) {
        UsbReport r{};
        r[1] = kClockReport;
        for (int b = 0; b < 6; ++b)
            r[2 + b] = static_cast<uint8_t>(ticks >> (8 * b));
        r[8] = levels;
        return r;
    }
    void Dispatch(const UsbReport& report) {
        protocol->BeginPass();
        protocol->DispatchReport(report, HostSeconds());
    }
};

}  // namespace usb::testing
