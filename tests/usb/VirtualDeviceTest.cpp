// The in-memory device that the HID link's native tests stand on, on a virtual clock: the
// behaviour the link relies on (reports in and out, time-outs that move the clock, cancel, a
// device that stops reading or is pulled out) must hold, or those tests prove nothing.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "platform/virtual/VirtualDevice.h"
#include "platform/virtual/VirtualTimerService.h"

namespace platform {
namespace {

using Report = VirtualDevice::Report;
using Kind = VirtualDevice::Call::Kind;

constexpr char kPath[] = "\\\\?\\hid#vid_1781&pid_08c0#1";

Report Numbered(uint8_t n) {
    Report report(16, 0);
    report[1] = 4;
    report[2] = n;
    return report;
}

class VirtualDeviceTest : public ::testing::Test {
  protected:
    Report ReadOne(DeviceFile& file, uint32_t timeoutMs, DeviceWait expected) {
        Report buffer(16, 0xEE);
        EXPECT_EQ(file.Read(buffer.data(), 16, timeoutMs), expected);
        return buffer;
    }

    VirtualTimerService clock_;
    VirtualDevice device_{kPath, &clock_};
};

TEST_F(VirtualDeviceTest, OpensOnlyItsOwnPath) {
    EXPECT_EQ(device_.Open("\\\\?\\hid#other"), nullptr);
    auto a = device_.Open(kPath);
    auto b = device_.Open(kPath);
    ASSERT_NE(a, nullptr);
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(device_.OpenFiles(), 2u);
    a.reset();
    EXPECT_EQ(device_.OpenFiles(), 1u);
    device_.SetOpenFails(true);
    EXPECT_EQ(device_.Open(kPath), nullptr);
}

// Every open file gets its own copy of each input report, in order; a shorter report is
// zero-filled; the oldest go when a file's queue is full.
TEST_F(VirtualDeviceTest, InputReportsReachEveryOpenFile) {
    device_.QueueInput(Numbered(0));  // nobody open: dropped
    EXPECT_EQ(device_.DroppedInputs(), 1u);
    auto reader = device_.Open(kPath);
    auto writer = device_.Open(kPath);
    device_.QueueInput(Numbered(1));
    device_.QueueInput({0, 5, 9});
    EXPECT_EQ(ReadOne(*reader, 1000, DeviceWait::Done), Numbered(1));
    Report shortReport(16, 0);
    shortReport[1] = 5;
    shortReport[2] = 9;
    EXPECT_EQ(ReadOne(*reader, 1000, DeviceWait::Done), shortReport);
    EXPECT_EQ(ReadOne(*writer, 1000, DeviceWait::Done), Numbered(1));  // its own copy
    EXPECT_EQ(clock_.NowMs(), 0u) << "reports already there take no time";

    for (int n = 0; n < 40; ++n)
        device_.QueueInput(Numbered(static_cast<uint8_t>(n)));
    EXPECT_EQ(ReadOne(*reader, 1000, DeviceWait::Done), Numbered(8)) << "40 - 32 dropped";
}

// With nothing to read the wait runs out on the virtual clock; the read stays outstanding until
// Cancel, and a report that comes later waits for the next read.
TEST_F(VirtualDeviceTest, ReadTimesOutOnTheClockUntilCancelled) {
    auto file = device_.Open(kPath);
    EXPECT_EQ(ReadOne(*file, 1000, DeviceWait::TimedOut), Report(16, 0xEE));
    EXPECT_EQ(clock_.NowMs(), 1000u);
    device_.QueueInput(Numbered(3));
    ReadOne(*file, 1000, DeviceWait::Failed);  // the timed-out read is still outstanding
    EXPECT_TRUE(file->Cancel());
    EXPECT_EQ(ReadOne(*file, 1000, DeviceWait::Done), Numbered(3));
    EXPECT_EQ(clock_.NowMs(), 1000u);
}

// Writes are captured while the device reads. When it stops, a write times out (the clock moves
// by the wait) and stays outstanding: a second write is refused, cancel drops it, and one not
// cancelled is taken once the device reads again.
TEST_F(VirtualDeviceTest, StalledDeviceMakesWritesTimeOut) {
    auto file = device_.Open(kPath);
    EXPECT_EQ(file->Write(Numbered(1).data(), 16, 100), DeviceWait::Done);

    device_.StopReading();
    EXPECT_EQ(file->Write(Numbered(2).data(), 16, 100), DeviceWait::TimedOut);
    EXPECT_EQ(clock_.NowMs(), 100u);
    EXPECT_EQ(file->Write(Numbered(3).data(), 16, 500), DeviceWait::Failed);
    EXPECT_TRUE(file->Cancel());
    EXPECT_EQ(file->Write(Numbered(4).data(), 16, 500), DeviceWait::TimedOut);
    EXPECT_EQ(clock_.NowMs(), 600u);
    device_.ResumeReading();
    device_.ResumeReading();  // taken once only
    EXPECT_EQ(file->Write(Numbered(5).data(), 16, 100), DeviceWait::Done);
    EXPECT_EQ(device_.Outputs(), (std::vector<Report>{Numbered(1), Numbered(4), Numbered(5)}));
}

TEST_F(VirtualDeviceTest, FailingCancelLeavesTheWriteOutstanding) {
    auto file = device_.Open(kPath);
    device_.StopReading();
    device_.SetCancelFails(true);
    EXPECT_EQ(file->Write(Numbered(1).data(), 16, 100), DeviceWait::TimedOut);
    EXPECT_FALSE(file->Cancel());
    EXPECT_EQ(file->Write(Numbered(2).data(), 16, 100), DeviceWait::Failed);

    // The link's way out: close and reopen; the new file writes at once when the device reads.
    file = device_.Open(kPath);
    device_.ResumeReading();
    EXPECT_EQ(file->Write(Numbered(3).data(), 16, 500), DeviceWait::Done);
    EXPECT_EQ(device_.Outputs(), std::vector<Report>{Numbered(3)}) << "closed file's write lost";
}

// Pulling the device out fails every file open at that moment, at once and for good; opens fail
// until it is plugged in again, and then only new files work.
TEST_F(VirtualDeviceTest, UnpluggedDeviceFailsItsFilesForGood) {
    auto old = device_.Open(kPath);
    device_.Unplug();
    EXPECT_EQ(device_.Open(kPath), nullptr);
    EXPECT_EQ(old->Write(Numbered(1).data(), 16, 100), DeviceWait::Failed);
    ReadOne(*old, 1000, DeviceWait::Failed);
    EXPECT_EQ(clock_.NowMs(), 0u) << "a gone device fails without waiting";

    device_.Plug();
    auto fresh = device_.Open(kPath);
    ASSERT_NE(fresh, nullptr);
    device_.QueueInput(Numbered(2));
    ReadOne(*old, 1000, DeviceWait::Failed);
    EXPECT_EQ(ReadOne(*fresh, 1000, DeviceWait::Done), Numbered(2));
    EXPECT_EQ(old->Write(Numbered(3).data(), 16, 100), DeviceWait::Failed);
    EXPECT_TRUE(device_.Outputs().empty());
}

TEST_F(VirtualDeviceTest, InterruptedFileDoesNothingMore) {
    auto file = device_.Open(kPath);
    device_.QueueInput(Numbered(1));
    file->Interrupt();
    ReadOne(*file, 1000, DeviceWait::Interrupted);
    EXPECT_EQ(file->Write(Numbered(2).data(), 16, 100), DeviceWait::Interrupted);
    EXPECT_TRUE(device_.Outputs().empty());
}

// The call record a link test reads back: which calls, on which file, with which time-outs.
TEST_F(VirtualDeviceTest, RecordsEveryCall) {
    auto file = device_.Open(kPath);
    device_.StopReading();
    file->Write(Numbered(1).data(), 16, 100);
    file->Cancel();
    file.reset();
    const std::vector<VirtualDevice::Call> calls = device_.Calls();
    ASSERT_EQ(calls.size(), 4u);
    EXPECT_EQ(calls[0].kind, Kind::Open);
    EXPECT_TRUE(calls[0].ok);
    EXPECT_EQ(calls[1].kind, Kind::Write);
    EXPECT_EQ(calls[1].timeoutMs, 100u);
    EXPECT_EQ(calls[1].result, DeviceWait::TimedOut);
    EXPECT_EQ(calls[1].data, Numbered(1));
    EXPECT_EQ(calls[2].kind, Kind::Cancel);
    EXPECT_TRUE(calls[2].ok);
    EXPECT_EQ(calls[3].kind, Kind::Close);
    for (const auto& call : calls)
        EXPECT_EQ(call.file, 1);
}

}  // namespace
}  // namespace platform
