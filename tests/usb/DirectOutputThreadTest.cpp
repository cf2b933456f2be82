// Direct output under real threads: a link that does not take a report for a long while (a
// write time-out) holds only the direct-output writer, never the thread that steps the motors.
// Real time with generous margins; run under ThreadSanitizer.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <future>
#include <mutex>
#include <vector>

#include "ProtocolFakes.h"

namespace usb {
namespace {

using namespace std::chrono_literals;

// A link whose writes wait until the test lets them through.
struct HeldChannel final : ReportChannel {
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<UsbReport> sent;
    bool open = false;

    void SendReport(const UsbReport& report) override {
        std::unique_lock lock(mutex);
        sent.push_back(report);
        changed.notify_all();
        changed.wait_for(lock, 20s, [this] { return open; });
    }
    bool Connected() const override { return true; }
    bool WaitForSent(size_t count) {
        std::unique_lock lock(mutex);
        return changed.wait_for(lock, 10s, [&] { return sent.size() >= count; });
    }
    void Open() {
        std::lock_guard lock(mutex);
        open = true;
        changed.notify_all();
    }
};

TEST(DirectOutputThreadTest, AHeldLinkNeverHoldsTheSteppingThread) {
    testing::ProtocolBench bench;
    HeldChannel link;
    TUsbProtocol protocol({link, bench.timers, bench.window},
                          {bench.motors[0].get(), bench.motors[1].get(), bench.motors[2].get(),
                           bench.motors[3].get()});
    protocol.SetPortSetting(TUsbProtocol::kPortUsbSlow);
    protocol.StartDirectOutputWriter();

    // The timer thread's steps: motor 1 to phase 1 (the writer takes it and the link holds it),
    // motor 1 to phase 3, then motor 2 to phase 1, all while the link holds the first report.
    auto steps = std::async(std::launch::async, [&] {
        protocol.DirectOutput(0x01);
        link.WaitForSent(1);
        protocol.DirectOutput(0x03);
        protocol.DirectOutput(0x07);
    });
    const bool returned = steps.wait_for(5s) == std::future_status::ready;
    EXPECT_TRUE(returned) << "a direct output waited for the link";
    // Motor 1's second change is not out yet: it may not change a third time; motor 3 may.
    EXPECT_FALSE(protocol.MayStep(0));
    EXPECT_TRUE(protocol.MayStep(2));

    link.Open();
    steps.wait();
    ASSERT_TRUE(link.WaitForSent(2));
    protocol.StopDirectOutputWriter();
    std::lock_guard lock(link.mutex);
    ASSERT_EQ(link.sent.size(), 2u);  // the two later changes share the next report
    EXPECT_EQ(link.sent[0], DirectOutputReport(0x01));
    EXPECT_EQ(link.sent[1], DirectOutputReport(0x07));  // every motor's latest phase
}

}  // namespace
}  // namespace usb
