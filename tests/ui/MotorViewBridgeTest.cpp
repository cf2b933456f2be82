// TMotorViewBridge: step arithmetic, the jog tally only while no program runs, and one
// notification at a time however many steps come before the window takes the view.
#include "ui/MotorViewBridge.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "motion/MotorProgram.h"

namespace ui {
namespace {

constexpr uint8_t R = motion::kDirRight;
constexpr uint8_t L = motion::kDirLeft;

TEST(MotorViewBridgeTest, StepsTurnTheSymbolAndCountTheTallyOnlyWithoutAProgram) {
    struct Case {
        std::vector<uint8_t> directions;
        bool running;
        float angle;
        int32_t tally;
    };
    const Case cases[] = {
        {{R}, false, 354.0f, 1},
        {{L, L}, false, 12.0f, -2},
        {{R, R, L}, true, 354.0f, 0},  // program steps turn the symbol, count nothing
        {{0, 3}, false, 0.0f, 0},      // no step
    };
    for (const Case& c : cases) {
        TMotorViewBridge bridge;
        for (uint8_t d : c.directions)
            bridge.Step(2, d, c.running);
        const TMotorViewBridge::View view = bridge.Take(2);
        EXPECT_EQ(view.Angle, c.angle);
        EXPECT_EQ(view.Tally, c.tally);
        EXPECT_EQ(view.TallyChanged, c.tally != 0);
        EXPECT_EQ(bridge.Take(1).Angle, 0.0f);  // the other motors do not move
    }
}

// Steps the module played turn the symbol by as many steps, whatever their number, and never
// count as jogged.
TEST(MotorViewBridgeTest, PlayedStepsTurnTheSymbolAndLeaveTheTally) {
    struct Case {
        std::vector<int32_t> turns;
        float angle;
    };
    const Case cases[] = {
        {{1}, 354.0f},   {{-2}, 12.0f},      {{61}, 354.0f},
        {{-7, 7}, 0.0f}, {{600003}, 342.0f},  // 3 steps past 10000 whole turns
    };
    for (const Case& c : cases) {
        TMotorViewBridge bridge;
        for (int32_t steps : c.turns)
            bridge.Turn(1, steps);
        const TMotorViewBridge::View view = bridge.Take(1);
        EXPECT_FLOAT_EQ(view.Angle, c.angle);
        EXPECT_EQ(view.Tally, 0);
        EXPECT_FALSE(view.TallyChanged);
    }
}

TEST(MotorViewBridgeTest, OneNotificationUntilTheWindowTakesTheView) {
    TMotorViewBridge bridge;
    EXPECT_TRUE(bridge.Step(0, R, false));
    EXPECT_FALSE(bridge.Step(0, R, false));  // one is on its way
    EXPECT_TRUE(bridge.Step(1, R, false));   // per motor
    bridge.NotifyFailed(0);
    EXPECT_TRUE(bridge.Step(0, L, false));  // a failed post is tried again by the next step
    EXPECT_EQ(bridge.Take(0).Tally, 1);
    EXPECT_FALSE(bridge.Take(0).TallyChanged);  // taken
    EXPECT_TRUE(bridge.Step(0, R, false));
    // A view taken without release keeps the next steps quiet until one taken with it.
    EXPECT_EQ(bridge.Take(0, false).Tally, 2);
    EXPECT_FALSE(bridge.Step(0, R, false));
    EXPECT_EQ(bridge.Take(0).Tally, 3);
    EXPECT_TRUE(bridge.Step(0, R, false));
    EXPECT_FALSE(bridge.Step(-1, R, false));
    EXPECT_FALSE(bridge.Step(4, R, false));
}

TEST(MotorViewBridgeTest, ZeroingOneMotorKeepsAnotherMotorsPendingChange) {
    TMotorViewBridge bridge;
    bridge.Step(0, R, false);
    bridge.Step(1, L, false);
    bridge.ZeroAngle(0);
    bridge.ZeroTally(0);
    EXPECT_EQ(bridge.Tally(0), 0);
    EXPECT_FALSE(bridge.Take(0).TallyChanged);
    const TMotorViewBridge::View other = bridge.Take(1);
    EXPECT_TRUE(other.TallyChanged);  // its direction caption is still to be written
    EXPECT_EQ(other.Tally, -1);
}

TEST(MotorViewBridgeTest, StepsFromManyThreadsAreAllCounted) {
    TMotorViewBridge bridge;
    std::atomic<int> notifications{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&] {
            for (int i = 0; i < 1000; ++i)
                notifications += bridge.Step(3, R, false) ? 1 : 0;
        });
    for (std::thread& thread : threads)
        thread.join();
    EXPECT_EQ(bridge.Take(3).Tally, 4000);
    EXPECT_EQ(notifications.load(), 1);
}

}  // namespace
}  // namespace ui
