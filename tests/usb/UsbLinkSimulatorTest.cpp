// The HID link on Windows against the virtual module: the real Win32 device files on
// q417-sim.exe's message-mode pipe, the simulator's vrexusbdrv.dll loaded by name from beside
// this exe exactly as the program loads the real one. Runs under Wine.
#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "e2e/driver/TraceFile.h"
#include "platform/virtual/VirtualDesktop.h"
#include "sim/client/SimulatorClient.h"
#include "testsupport/ReportRecorder.h"
#include "testsupport/SharedSimulatorSuite.h"
#include "usb/UsbLink.h"

namespace usb {
namespace {

using namespace std::chrono_literals;

using Client = testing::ReportRecorder;

// The hex bytes of the reports the module received, in order, from its trace.
std::vector<std::string> ReceivedReports(const std::string& tracePath) {
    std::vector<std::string> reports;
    for (const e2e::TraceLine& line : e2e::ReadTrace(tracePath))
        if (!line.Last.empty()) reports.push_back(line.Last);
    return reports;
}

// The command bytes (second byte) of the received reports from index `from` on.
std::vector<std::string> Commands(const std::vector<std::string>& reports, size_t from = 0) {
    std::vector<std::string> commands;
    for (size_t i = from; i < reports.size(); ++i)
        commands.push_back(reports[i].substr(3, 2));
    return commands;
}

class UsbLinkOnSimulator : public sim::testing::SharedSimulatorSuite {
  protected:
    void SetUp() override {
        SharedSimulatorSuite::SetUp();
        if (HasFatalFailure()) return;
        ASSERT_EQ(simulator_->Control("hear"), "ok");
        link_ = std::make_unique<TUsbLink>(
            TUsbLink::Ports{platform::SystemLibraryLoader(), platform::SystemDeviceFiles(),
                            desktop_, platform::SystemTimerService()},
            client_, &client_);
    }
    void TearDown() override {
        if (link_) link_->Shutdown();
    }

    // Waits until the trace holds at least count reports and returns them.
    std::vector<std::string> TraceWith(size_t count) {
        std::vector<std::string> reports;
        for (int i = 0; i < 100; ++i) {
            reports = ReceivedReports(simulator_->TracePath());
            if (reports.size() >= count) break;
            std::this_thread::sleep_for(20ms);
        }
        return reports;
    }

    platform::VirtualDesktop desktop_;
    Client client_;
    std::unique_ptr<TUsbLink> link_;
};

TEST_F(UsbLinkOnSimulator, ConnectsWithTheStartUpSequenceAndReceivesClockReports) {
    const size_t before = ReceivedReports(simulator_->TracePath()).size();
    link_->OpenUsb();
    EXPECT_EQ(client_.Status(), "USB (connected)");
    const auto reports = TraceWith(before + 4);
    ASSERT_GE(reports.size(), before + 4);
    EXPECT_EQ(std::vector<std::string>(reports.begin() + before, reports.begin() + before + 4),
              (std::vector<std::string>{"00 07 00 00 00 00 00 ff ff 00 00 00 00 00 00 00",
                                        "00 03 13 00 00 00 00 ff ff 00 00 00 00 00 00 00",
                                        "00 01 00 00 00 00 00 ff ff 00 00 00 00 00 00 00",
                                        "00 05 02 00 00 00 00 ff ff 00 00 00 00 00 00 00"}));
    EXPECT_TRUE(client_.WaitForType(kClockReport, 0));
    EXPECT_EQ(desktop_.Beeps(), 0);
}

TEST_F(UsbLinkOnSimulator, GetMotorStatusIsAnsweredWithAStatusReport) {
    link_->OpenUsb();
    ASSERT_TRUE(client_.WaitForType(kClockReport, 0));
    const size_t before = client_.Count();
    link_->SendReport(GetMotorStatusReport());
    EXPECT_TRUE(client_.WaitForType(kStatusReport, before));
}

TEST_F(UsbLinkOnSimulator, DeviceChangeWhileConnectedOnlyProbes) {
    // The simulator is shared, so its trace already holds earlier tests' reports: wait for
    // this connection's own start-up sequence of four before counting on.
    const size_t opened = ReceivedReports(simulator_->TracePath()).size();
    link_->OpenUsb();
    const size_t before = TraceWith(opened + 4).size();
    ASSERT_GE(before, opened + 4);
    EXPECT_FALSE(link_->DeviceChange());
    EXPECT_TRUE(link_->Connected());
    const auto reports = TraceWith(before + 1);
    EXPECT_EQ(Commands(reports, before), (std::vector<std::string>{"08"}));
}

TEST_F(UsbLinkOnSimulator, PullingAndPluggingTheModuleFollowsTheDeviceChanges) {
    link_->OpenUsb();
    ASSERT_TRUE(client_.WaitForType(kClockReport, 0));

    ASSERT_EQ(simulator_->Control("pull"), "ok");
    ASSERT_TRUE(link_->DeviceChange());
    link_->OpenUsb();  // the window's output selection for port setting "USB"
    EXPECT_EQ(client_.Status(), "USB (no Device)");
    for (int i = 0; i < 300 && !link_->ReceiveThreadSuspended(); ++i)
        Sleep(10);
    EXPECT_TRUE(link_->ReceiveThreadSuspended());

    ASSERT_EQ(simulator_->Control("plug"), "ok");
    const size_t before = ReceivedReports(simulator_->TracePath()).size();
    ASSERT_TRUE(link_->DeviceChange());
    link_->OpenUsb();
    EXPECT_EQ(client_.Status(), "USB (connected)");
    EXPECT_EQ(Commands(TraceWith(before + 4), before),
              (std::vector<std::string>{"07", "03", "01", "05"}));
    EXPECT_TRUE(client_.WaitForType(kClockReport, client_.Count()));
}

TEST_F(UsbLinkOnSimulator, ADeafModuleMakesAWriteTimeOutRetryOnceAndDropWithoutHanging) {
    link_->OpenUsb();
    ASSERT_TRUE(client_.WaitForType(kClockReport, 0));
    ASSERT_EQ(simulator_->Control("deaf"), "ok");
    const auto start = std::chrono::steady_clock::now();
    link_->SendReport(GetMotorStatusReport());
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_GE(took, 550ms);  // 100 ms, cancel, 500 ms
    EXPECT_LT(took, 5s);
    ASSERT_EQ(simulator_->Control("hear"), "ok");
    // The channel is free again: the next request is answered.
    const size_t before = client_.Count();
    link_->SendReport(GetMotorStatusReport());
    EXPECT_TRUE(client_.WaitForType(kStatusReport, before));
}

TEST_F(UsbLinkOnSimulator, ShutdownIsPromptWhileTheThreadReads) {
    link_->OpenUsb();
    ASSERT_TRUE(client_.WaitForType(kClockReport, 0));
    const auto start = std::chrono::steady_clock::now();
    link_->Shutdown();
    EXPECT_LT(std::chrono::steady_clock::now() - start, 900ms);
}

TEST_F(UsbLinkOnSimulator, WithoutASimulatorOnItsPipeThereIsNoDeviceAndNoNoise) {
    SetEnvironmentVariableA("Q417_SIM_PIPE", "q417-sim-nobody-serves-this");
    link_->OpenUsb();
    SetEnvironmentVariableA("Q417_SIM_PIPE", simulator_->PipeName().c_str());
    EXPECT_EQ(client_.Status(), "USB (no Device)");
    EXPECT_EQ(desktop_.Beeps(), 0);
    EXPECT_TRUE(desktop_.Messages().empty());
    EXPECT_TRUE(link_->ReceiveThreadSuspended());
}

}  // namespace
}  // namespace usb
