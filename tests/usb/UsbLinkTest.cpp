// The HID link on the in-memory device: opening with its start-up sequence, the status text, the
// receive thread parking and resuming, device changes (probe, unplug, replug), write time-outs
// with cancel, reopen and retry, serialised writers, and a prompt shutdown. Real threads and real
// (short) waits: the receive thread reads with its 1000 ms time-out.
#include "usb/UsbLink.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <thread>
#include <vector>

#include "platform/virtual/VirtualDesktop.h"
#include "platform/virtual/VirtualDevice.h"

namespace usb {
namespace {

using namespace std::chrono_literals;
using platform::VirtualDevice;

constexpr const char* kPath = R"(\\?\hid#vid_1781&pid_08c0#virtual)";

// A locator library that "finds" the in-memory device while it is plugged.
struct FakeLocator : platform::LibraryLoader {
    static inline FakeLocator* current = nullptr;
    bool libraryPresent = true;
    bool exportPresent = true;
    std::atomic<bool> modulePresent{true};
    uint16_t reportLength = 16;
    std::atomic<int> loads{0}, frees{0}, searches{0};

    FakeLocator() { current = this; }
    ~FakeLocator() override { current = nullptr; }

    platform::LibraryHandle Load(const char* name) override {
        if (std::strcmp(name, "vrexusbdrv.dll") != 0 || !libraryPresent) return nullptr;
        ++loads;
        return this;
    }
    platform::LibrarySymbol Symbol(platform::LibraryHandle, const char* name) override {
        if (!exportPresent || std::strcmp(name, "vrexusb_FindDevice") != 0) return nullptr;
        return reinterpret_cast<platform::LibrarySymbol>(&Find);
    }
    void Free(platform::LibraryHandle library) override {
        if (library != nullptr) ++frees;
    }
    static uint8_t VREXUSB_CALL Find(int32_t vendor, int32_t product, void* pathRecord,
                                     VrexusbCaps* caps) {
        ++current->searches;
        if (vendor != 6017 || product != 2240 || !current->modulePresent) return 0;
        auto* record = static_cast<VrexusbPathRecord*>(pathRecord);
        EXPECT_EQ(record->Size, 1024u);
        std::strcpy(record->Path, kPath);
        caps->InputReportByteLength = current->reportLength;
        caps->OutputReportByteLength = current->reportLength;
        return 1;
    }
};

// Records what the link asks of the rest of the program, and the text of the status label.
struct Client : UsbLinkClient, motion::TextDisplay {
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<std::string> calls;  // window-thread hooks and status texts, in order
    std::vector<UsbReport> reports;  // dispatched reports
    int threadStarts = 0;

    void Log(std::string what) {
        std::lock_guard lock(mutex);
        calls.push_back(std::move(what));
    }
    void ReleaseParallelPort() override { Log("release parallel port"); }
    void ClearSegmentRings() override { Log("clear rings"); }
    void ResetUsbBuffers() override { Log("reset buffers"); }
    void SetText(std::string_view text) override { Log("status " + std::string(text)); }
    void ReceiveThreadStarted() override {
        std::lock_guard lock(mutex);
        ++threadStarts;
    }
    void BeginPass() override {}
    void DispatchReport(const UsbReport& report, double) override {
        std::lock_guard lock(mutex);
        reports.push_back(report);
        changed.notify_all();
    }
    bool WaitForReports(size_t count) {
        std::unique_lock lock(mutex);
        return changed.wait_for(lock, 5s, [&] { return reports.size() >= count; });
    }
    std::vector<std::string> Calls() {
        std::lock_guard lock(mutex);
        return calls;
    }
};

VirtualDevice::Report Input(uint8_t type, uint8_t marker) {
    VirtualDevice::Report r(16);
    r[1] = type;
    r[2] = marker;
    return r;
}

std::vector<uint8_t> Commands(const std::vector<VirtualDevice::Report>& outputs) {
    std::vector<uint8_t> commands;
    for (const auto& r : outputs)
        commands.push_back(r.at(1));
    return commands;
}

class UsbLinkTest : public ::testing::Test {
  protected:
    FakeLocator locator;
    VirtualDevice device{kPath};
    platform::VirtualDesktop desktop;
    Client client;
    std::unique_ptr<TUsbLink> link = std::make_unique<TUsbLink>(
        TUsbLink::Ports{locator, device, desktop, platform::SystemTimerService()}, client, &client);
};

TEST_F(UsbLinkTest, OpeningSendsTheStartUpSequenceBeforeSayingConnected) {
    link->OpenUsb();
    EXPECT_EQ(client.Calls(),
              (std::vector<std::string>{"release parallel port", "clear rings", "reset buffers",
                                        "status USB (connected)"}));
    const auto outputs = device.Outputs();
    ASSERT_EQ(outputs.size(), 4u);
    const uint8_t expected[4][9] = {{0, 0x07, 0, 0, 0, 0, 0, 0xFF, 0xFF},
                                    {0, 0x03, 19, 0, 0, 0, 0, 0xFF, 0xFF},
                                    {0, 0x01, 0, 0, 0, 0, 0, 0xFF, 0xFF},
                                    {0, 0x05, 2, 0, 0, 0, 0, 0xFF, 0xFF}};
    for (size_t i = 0; i < 4; ++i) {
        ASSERT_EQ(outputs[i].size(), 16u);
        EXPECT_TRUE(std::equal(expected[i], expected[i] + 9, outputs[i].begin())) << i;
        EXPECT_TRUE(std::all_of(outputs[i].begin() + 9, outputs[i].end(), [](uint8_t b) {
            return b == 0;
        })) << i;
    }
    EXPECT_TRUE(link->Connected());
    EXPECT_EQ(link->DevicePath(), kPath);
    EXPECT_EQ(device.OpenFiles(), 2u);  // a read handle and a write handle
    EXPECT_EQ(locator.loads, 1);
    EXPECT_EQ(locator.frees, 1);  // loaded for the search only
}

TEST_F(UsbLinkTest, ReceivedReportsReachTheClientInOrder) {
    link->OpenUsb();
    for (uint8_t i = 1; i <= 5; ++i) device.QueueInput(Input(kClockReport, i));
    ASSERT_TRUE(client.WaitForReports(5));
    std::lock_guard lock(client.mutex);
    for (uint8_t i = 0; i < 5; ++i)
        EXPECT_EQ(client.reports[i][2], i + 1);
    EXPECT_EQ(client.threadStarts, 1);
}

TEST_F(UsbLinkTest, WithoutAModuleItSaysNoDeviceQuietlyAndTheThreadStaysSuspended) {
    struct Case {
        const char* what;
        void (*arrange)(FakeLocator&, VirtualDevice&);
    };
    const Case cases[] = {
        {"no library", [](FakeLocator& l, VirtualDevice&) { l.libraryPresent = false; }},
        {"no export", [](FakeLocator& l, VirtualDevice&) { l.exportPresent = false; }},
        {"no module", [](FakeLocator& l, VirtualDevice&) { l.modulePresent = false; }},
        {"not openable", [](FakeLocator&, VirtualDevice& d) { d.SetOpenFails(true); }},
    };
    for (const Case& c : cases) {
        FakeLocator locator;
        VirtualDevice device(kPath);
        platform::VirtualDesktop desktop;
        Client client;
        c.arrange(locator, device);
        TUsbLink link({locator, device, desktop, platform::SystemTimerService()}, client, &client);
        link.OpenUsb();
        EXPECT_EQ(client.Calls().back(), "status USB (no Device)") << c.what;
        EXPECT_FALSE(link.Connected()) << c.what;
        EXPECT_TRUE(device.Outputs().empty()) << c.what;
        EXPECT_EQ(desktop.Beeps(), 0) << c.what;
        EXPECT_TRUE(desktop.Messages().empty()) << c.what;
        EXPECT_TRUE(link.ReceiveThreadSuspended()) << c.what;
        EXPECT_EQ(locator.loads.load(), locator.frees.load()) << c.what;
        link.SendReport(GetMotorStatusReport());  // nothing to send on: returns at once
        EXPECT_TRUE(device.Outputs().empty()) << c.what;
    }
}

TEST_F(UsbLinkTest, DeviceChangeWhileConnectedOnlyProbes) {
    link->OpenUsb();
    const size_t searches = locator.searches;
    EXPECT_FALSE(link->DeviceChange());
    const auto outputs = device.Outputs();
    ASSERT_EQ(outputs.size(), 5u);
    EXPECT_EQ(outputs[4][1], 0x08);
    EXPECT_EQ(outputs[4][7], 0xFF);
    EXPECT_EQ(locator.searches, static_cast<int>(searches));
    EXPECT_TRUE(link->Connected());
}

TEST_F(UsbLinkTest, UnplugThenReplugFollowsTheDeviceChanges) {
    link->OpenUsb();
    device.QueueInput(Input(kClockReport, 1));
    ASSERT_TRUE(client.WaitForReports(1));

    device.Unplug();
    locator.modulePresent = false;
    ASSERT_TRUE(link->DeviceChange());  // the probe fails: the window reopens the output
    link->OpenUsb();
    EXPECT_EQ(client.Calls().back(), "status USB (no Device)");
    for (int i = 0; i < 100 && !link->ReceiveThreadSuspended(); ++i)
        std::this_thread::sleep_for(10ms);
    EXPECT_TRUE(link->ReceiveThreadSuspended());

    device.Plug();
    locator.modulePresent = true;
    ASSERT_TRUE(link->DeviceChange());  // absent: search again
    link->OpenUsb();
    EXPECT_EQ(client.Calls().back(), "status USB (connected)");
    const auto commands = Commands(device.Outputs());
    // Start-up, probe (not accepted: the device was gone), start-up again.
    EXPECT_EQ(commands, (std::vector<uint8_t>{7, 3, 1, 5, 7, 3, 1, 5}));
    device.QueueInput(Input(kStatusReport, 2));
    ASSERT_TRUE(client.WaitForReports(2));
    EXPECT_EQ(client.threadStarts, 1);  // the same thread, resumed
}

TEST_F(UsbLinkTest, AWriteThatTimesOutIsCancelledRetriedOnceAndDropped) {
    link->OpenUsb();
    device.StopReading();
    const auto before = std::chrono::steady_clock::now();
    link->SendReport(GetMotorStatusReport());
    const auto took = std::chrono::steady_clock::now() - before;
    EXPECT_GE(took, 600ms);  // 100 ms, then the 500 ms retry
    std::vector<uint32_t> writeTimeouts;
    int cancels = 0;
    for (const auto& call : device.Calls()) {
        if (call.kind == VirtualDevice::Call::Kind::Write) writeTimeouts.push_back(call.timeoutMs);
        if (call.kind == VirtualDevice::Call::Kind::Cancel && call.file != 0) ++cancels;
    }
    EXPECT_EQ(std::vector<uint32_t>(writeTimeouts.end() - 2, writeTimeouts.end()),
              (std::vector<uint32_t>{100, 500}));
    EXPECT_GE(cancels, 1);
    EXPECT_EQ(desktop.Beeps(), 0);  // the cancel worked: no reopen, no beep
    EXPECT_TRUE(link->Connected());

    // The dropped report left nothing outstanding: once the module reads again, the next
    // report goes out, and only it.
    device.ResumeReading();
    link->SendReport(ProbeReport());
    EXPECT_EQ(Commands(device.Outputs()), (std::vector<uint8_t>{7, 3, 1, 5, 8}));
}

TEST_F(UsbLinkTest, AFailedCancelBeepsAndReopensTheWriteHandle) {
    link->OpenUsb();
    device.StopReading();
    device.SetCancelFails(true);
    link->SendReport(GetMotorStatusReport());
    EXPECT_EQ(desktop.Beeps(), 1);
    EXPECT_TRUE(link->Connected());
    int opens = 0;
    for (const auto& call : device.Calls())
        opens += call.kind == VirtualDevice::Call::Kind::Open;
    EXPECT_EQ(opens, 3);  // read, write, and the write handle once more
    device.SetCancelFails(false);
    device.ResumeReading();
    link->SendReport(ProbeReport());
    EXPECT_EQ(Commands(device.Outputs()).back(), 0x08);
}

TEST_F(UsbLinkTest, WritersOnSeveralThreadsAreSerialised) {
    link->OpenUsb();
    constexpr int kPerThread = 50;
    std::vector<std::thread> writers;
    for (uint8_t t = 0; t < 3; ++t) {
        writers.emplace_back([this, t] {
            for (int i = 0; i < kPerThread; ++i) {
                UsbReport r{};
                r[1] = 0x0A;
                r[2] = static_cast<uint8_t>(t * kPerThread + i);
                link->SendReport(r);
            }
        });
    }
    for (auto& w : writers)
        w.join();
    const auto outputs = device.Outputs();
    ASSERT_EQ(outputs.size(), 4u + 3 * kPerThread);  // none refused for overlapping another
    std::vector<bool> seen(3 * kPerThread);
    for (size_t i = 4; i < outputs.size(); ++i)
        seen.at(outputs[i][2]) = true;
    EXPECT_TRUE(std::all_of(seen.begin(), seen.end(), [](bool b) { return b; }));
}

TEST_F(UsbLinkTest, ASilentModuleMakesTheReadTimeOutBeepAndPassNoReport) {
    link->OpenUsb();
    ASSERT_TRUE(client.WaitForReports(1));  // after about a second
    std::lock_guard lock(client.mutex);
    EXPECT_EQ(client.reports[0][1], 0);
    EXPECT_GE(desktop.Beeps(), 1);
}

TEST_F(UsbLinkTest, ShutdownEndsAThreadBlockedInARead) {
    link->OpenUsb();
    for (int i = 0; i < 100 && device.WaitingCalls() == 0; ++i)
        std::this_thread::sleep_for(5ms);
    ASSERT_EQ(device.WaitingCalls(), 1u);
    const auto before = std::chrono::steady_clock::now();
    link->Shutdown();
    EXPECT_LT(std::chrono::steady_clock::now() - before, 900ms);  // not the read's 1000 ms
    EXPECT_FALSE(link->Connected());
    link.reset();
    EXPECT_EQ(device.OpenFiles(), 0u);
}

TEST_F(UsbLinkTest, AShutdownBeforeAnyOpeningCallsNothingOnTheClient) {
    link->Shutdown();
    link.reset();
    EXPECT_EQ(client.threadStarts, 0);
}

TEST_F(UsbLinkTest, OversizedReportLengthsAreKeptWithinTheReportBuffer) {
    locator.reportLength = 64;
    link->OpenUsb();
    const auto outputs = device.Outputs();
    ASSERT_FALSE(outputs.empty());
    EXPECT_EQ(outputs[0].size(), 16u);
}

}  // namespace
}  // namespace usb
