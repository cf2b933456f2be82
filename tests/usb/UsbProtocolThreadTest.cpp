// TUsbProtocol under real threads: the window's thread clears, starts, resets and empties while
// the receive thread dispatches clock and status reports and streams, the streamer streams
// beside it, and a timer thread sends direct output. Run under ThreadSanitizer; the checks are that
// nothing deadlocks and that every segment that went out is well-formed.
#include "usb/UsbProtocol.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "ProtocolFakes.h"

namespace usb {
namespace {

using motion::kDirLeft;
using motion::kDirNone;
using motion::kDirRight;

class ProtocolThreadTest : public ::testing::Test, public testing::ProtocolBench {};

TEST_F(ProtocolThreadTest, WindowCommandsAgainstTheReceiveThread) {
    SetProgram(0, {{50, 2000, 0.01, kDirRight}, {20, 100, 0, kDirNone}}, true);
    SetProgram(1, {{1, 500, 0, kDirLeft}, {1, 500, 0, kDirRight}}, true);
    SetProgram(2, {{300, 1000, 0, kDirRight}});
    SetProgram(3, {{3, 0.25, 0, kDirLeft}}, true);

    channel.yieldOnSend = true;  // writes take a little while, as real ones do
    protocol->StartDirectOutputWriter();
    protocol->StartStreamer();
    std::atomic<bool> done{false};
    std::thread receive([&] {
        protocol->ReceiveThreadStarted();
        uint64_t ticks = 0;
        for (int pass = 0; !done.load(); ++pass) {
            protocol->BeginPass();
            const double host = timers.NowMs() * 0.001;
            if (pass % 3 == 2) {
                const uint8_t free = static_cast<uint8_t>(pass % 13);
                protocol->DispatchReport(
                    Status({free, 12, static_cast<uint8_t>(12 - free), 12},
                           static_cast<uint8_t>(pass & 0x0F), static_cast<uint8_t>(pass)),
                    host);
            } else {
                ticks += 62;
                protocol->DispatchReport(Clock(ticks, static_cast<uint8_t>(pass * 37)), host);
            }
        }
    });
    std::thread timer([&] {
        for (int k = 0; !done.load(); ++k) {
            if (protocol->MayStep(k % 4)) protocol->DirectOutput(static_cast<uint8_t>(k));
            timers.SetNowMs(timers.NowMs() + 1);
            std::this_thread::yield();
        }
    });

    for (int round = 0; round < 400; ++round) {
        protocol->SetRunInOrder(round % 5 == 0);
        protocol->SetRunInOrderLoop(round % 7 == 0);
        switch (round % 9) {
            case 0:
                protocol->StartAll();
                break;
            case 1:
                protocol->StartMotor(round % 4);
                break;
            case 2:
                protocol->ClearCommandList(round % 6);
                break;
            case 3:
                protocol->StartReset(round % 5);
                break;
            case 4:
                protocol->CancelReset(round % 5);
                break;
            case 5:
                protocol->GetMotorStatus();
                break;
            case 6:
                protocol->ResetUsbBuffers();
                break;
            case 7:
                protocol->ClearSegmentRings();
                break;
            case 8:
                SetProgram(round % 4, {{round, 300.0 + round, 0, kDirRight}}, round % 2 == 0);
                break;
        }
        std::this_thread::yield();
    }
    done = true;
    receive.join();
    timer.join();

    size_t segments = 0;
    for (const UsbReport& r : channel.Take()) {
        if ((r[1] & 0x0F) != 0 || r[1] == 0) continue;
        ++segments;
        const int delay = r[5] | r[6] << 8;
        EXPECT_GE(delay, 1);
        EXPECT_LE(delay, kMaxDelayTicks);
        if (r[3] & 0x80) {
            EXPECT_GE(r[4], 2);
        } else {
            EXPECT_EQ(r[4], 0);
        }
        EXPECT_NE(r[2] | (r[3] & 0x3F) << 8, 0);
    }
    EXPECT_GT(segments, 0u);
    for (int i = 0; i < 4; ++i)
        EXPECT_LE(protocol->Ring(i).Waiting, TUsbProtocol::kMaxWaitingRecords);
}

}  // namespace
}  // namespace usb
