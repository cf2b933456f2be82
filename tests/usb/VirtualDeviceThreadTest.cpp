// The in-memory device with real waits, as the link's receive thread meets it: a blocked read
// ends when a report arrives, when the device is pulled out or when it is interrupted, long
// before its time-out; a second concurrent writer is refused.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "platform/virtual/VirtualDevice.h"

namespace platform {
namespace {

using namespace std::chrono_literals;

constexpr char kPath[] = "\\\\?\\hid#vid_1781&pid_08c0#1";
constexpr uint32_t kLongWaitMs = 30000;  // a test that waits this long has failed

// Waits until count calls are waiting for the device.
void AwaitWaiting(const VirtualDevice& device, size_t count) {
    while (device.WaitingCalls() != count)
        std::this_thread::yield();
}

// Starts a read on another thread and returns once it waits; Result() waits for it to end.
class BlockedRead {
  public:
    BlockedRead(VirtualDevice& device, DeviceFile& file)
        : thread_(
              [this, &file] { result_ = static_cast<int>(file.Read(buffer_, 16, kLongWaitMs)); }) {
        AwaitWaiting(device, 1);
    }
    ~BlockedRead() {
        if (thread_.joinable()) thread_.join();
    }
    DeviceWait Result() {
        thread_.join();
        return static_cast<DeviceWait>(result_.load());
    }
    uint8_t buffer_[16] = {};

  private:
    std::atomic<int> result_{-1};
    std::thread thread_;
};

TEST(VirtualDeviceThreads, BlockedReadEndsWithTheReportThatArrives) {
    VirtualDevice device(kPath);
    auto file = device.Open(kPath);
    BlockedRead read(device, *file);
    device.QueueInput({0, 4, 7});
    EXPECT_EQ(read.Result(), DeviceWait::Done);
    EXPECT_EQ(read.buffer_[1], 4);
    EXPECT_EQ(read.buffer_[2], 7);
}

TEST(VirtualDeviceThreads, BlockedReadEndsWhenInterrupted) {
    VirtualDevice device(kPath);
    auto file = device.Open(kPath);
    BlockedRead read(device, *file);
    file->Interrupt();
    EXPECT_EQ(read.Result(), DeviceWait::Interrupted);
}

TEST(VirtualDeviceThreads, BlockedReadFailsWhenTheDeviceIsPulledOut) {
    VirtualDevice device(kPath);
    auto file = device.Open(kPath);
    BlockedRead read(device, *file);
    device.Unplug();
    EXPECT_EQ(read.Result(), DeviceWait::Failed);
}

// One writer blocked on a stalled device: a second one is refused, not started beside it; the
// first completes once the device reads again.
TEST(VirtualDeviceThreads, SecondWriterMeanwhileIsRefused) {
    VirtualDevice device(kPath);
    auto file = device.Open(kPath);
    device.StopReading();
    const uint8_t first[16] = {0, 1};
    const uint8_t second[16] = {0, 2};
    std::atomic<int> result{-1};
    std::thread writer([&] { result = static_cast<int>(file->Write(first, 16, kLongWaitMs)); });
    AwaitWaiting(device, 1);
    EXPECT_EQ(file->Write(second, 16, 100), DeviceWait::Failed);
    device.ResumeReading();
    writer.join();
    EXPECT_EQ(result.load(), static_cast<int>(DeviceWait::Done));
    ASSERT_TRUE(device.WaitForOutputs(1, 1s));
    EXPECT_EQ(device.Outputs(), std::vector<VirtualDevice::Report>({{first, first + 16}}));
}

}  // namespace
}  // namespace platform
