// The parallel-port drive with real threads: writes from stepping threads racing a release and
// rebinding on the "window" thread (run under ThreadSanitizer, and natively under
// AddressSanitizer, where a call into an unloaded library faults), the last byte written after
// two motors stepped at once, and a message box that does not block the stepping threads.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <future>
#include <thread>
#include <vector>

#include "PortTestSupport.h"
#include "motion/ParallelPort.h"

namespace motion {
namespace {

TEST_F(PortFixture, ReleaseAndRebindWhileOtherThreadsWrite) {
    // The test's own reference would keep the library mapped; drop it so a release unloads it.
    fake.Unload();

    port.Open(888);
    std::atomic<bool> done{false};
    std::vector<std::thread> steppers;
    for (int32_t m = 0; m < 2; ++m) {
        steppers.emplace_back([&, m] {
            while (!done)
                motors[m]->Step(m == 0 ? kDirRight : kDirLeft);
        });
    }
    for (int i = 0; i < 200; ++i) {
        port.Release();
        port.Open(i % 2 ? 888 : 632);
    }
    done = true;
    for (std::thread& t : steppers)
        t.join();
    EXPECT_TRUE(port.Bound());
    EXPECT_EQ(loader.Loaded, 201);
    EXPECT_EQ(loader.Freed, 200);
}

TEST_F(PortFixture, LastByteWrittenCarriesTheLatestCodeOfEveryMotor) {
    // Rounds in which all four motors step at the same moment; after each, the lines must hold
    // every motor's latest code, whichever step's write came last.
    constexpr int kRounds = 2000;
    port.Open(888);
    std::atomic<int> round{0};
    std::atomic<int> finished{0};
    std::vector<std::thread> steppers;
    for (int32_t m = 0; m < 4; ++m) {
        steppers.emplace_back([&, m] {
            for (int r = 1; r <= kRounds; ++r) {
                while (round.load() < r)
                    std::this_thread::yield();
                motors[m]->Step(m % 2 ? kDirLeft : kDirRight);
                ++finished;
            }
        });
    }
    int stale = 0;
    for (int r = 1; r <= kRounds; ++r) {
        fake.Reset();
        round = r;
        while (finished.load() < 4 * r)
            std::this_thread::yield();
        const std::vector<uint16_t> writes = fake.WritesTo(0x378);
        const std::array<uint8_t, 4> phases = {motors[0]->Phase(), motors[1]->Phase(),
                                               motors[2]->Phase(), motors[3]->Phase()};
        stale +=
            writes.size() != 4 || writes.back() != (0xFF00 | TParallelPort::PackOutputByte(phases));
    }
    for (std::thread& t : steppers)
        t.join();
    EXPECT_EQ(stale, 0) << "rounds that left an older byte on the lines";
}

TEST_F(PortFixture, StepsGoOnWhileTheMessageBoxIsUp) {
    loader.Substitute["inpout32.dll"] = kAbsentLibrary;
    // A timer thread steps while the (modal) box is up; it must not wait for the box.
    desktop.WhileShown([this] {
        auto stepped = std::async(std::launch::async, [this] { motors[0]->Step(kDirRight); });
        if (stepped.wait_for(std::chrono::seconds(10)) != std::future_status::ready) {
            std::fprintf(stderr, "a step waited for the message box\n");
            std::abort();  // the stuck thread cannot be joined
        }
    });
    port.Open(956);
    EXPECT_EQ(desktop.Messages().size(), 1u);
    EXPECT_EQ(motors[0]->Position(), 1);
}

}  // namespace
}  // namespace motion
