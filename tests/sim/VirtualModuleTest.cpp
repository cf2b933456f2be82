// The virtual module's clock, answers and trace, driven by a time the test chooses.
#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>
#include <string>
#include <vector>

#include "sim/module/ModuleTrace.h"
#include "sim/module/VirtualModule.h"
#include "testsupport/ReportBytes.h"

namespace sim {
namespace {

using testsupport::Bytes;
using testsupport::ClockTicks;
using testsupport::kGetMotorStatus;

// 7812.5 ticks per second from the power-up, on the caller's clock, whatever its origin.
TEST(VirtualModuleTest, ClockReportCarriesTheTicksSincePowerUp) {
    struct Case {
        uint64_t powerUpUs;
        uint64_t nowUs;
        uint64_t ticks;
    };
    const Case cases[] = {
        {0, 0, 0},
        {0, 127, 0},
        {0, 128, 1},
        {0, 1000000, 7812},            // 7812.5: the half tick is not yet counted
        {0, 2000000, 15625},           // two seconds: exactly 15625
        {5000000, 5008000, 62},        // 8 ms after a power-up at 5 s
        {5000000, 4000000, 0},         // a time before the power-up counts as the power-up
        {7, 3600000007ull, 28125000},  // an hour
    };
    for (const Case& c : cases) {
        VirtualModule module;
        module.PowerUp(c.powerUpUs);
        const Report report = module.ClockReport(c.nowUs);
        EXPECT_EQ(report[0], 0) << c.nowUs;
        EXPECT_EQ(report[1], 4) << c.nowUs;
        EXPECT_EQ(ClockTicks(report), c.ticks) << c.powerUpUs << " " << c.nowUs;
        EXPECT_EQ(report[8], 0xFF) << "level 3 (12 free places) for each motor";
        for (size_t i = 9; i < report.size(); ++i)
            EXPECT_EQ(report[i], 0) << i;
    }
}

TEST(VirtualModuleTest, ClockReportBytesAreLowByteFirst) {
    VirtualModule module;
    module.PowerUp(0, 0x0102030405A6ull);
    const Report report = module.ClockReport(128 * 2);  // two ticks later
    const Report expected = Bytes({0, 4, 0xA8, 0x05, 0x04, 0x03, 0x02, 0x01, 0xFF});
    EXPECT_EQ(report, expected);
}

// The 48-bit counter wraps to 0 and goes on counting; nothing leaks into byte 8.
TEST(VirtualModuleTest, ClockWrapsAfter48Bits) {
    const uint64_t last = (uint64_t{1} << 48) - 1;
    VirtualModule module;
    module.PowerUp(0, last - 1);
    EXPECT_EQ(module.Ticks(0), last - 1);
    EXPECT_EQ(module.Ticks(128), last);
    EXPECT_EQ(module.Ticks(256), 0u);
    EXPECT_EQ(module.Ticks(128 * 12), 10u);
    const Report wrapped = module.ClockReport(256);
    EXPECT_EQ(ClockTicks(wrapped), 0u);
    EXPECT_EQ(wrapped[8], 0xFF);
    const Report before = module.ClockReport(128);
    for (int i = 2; i <= 7; ++i)
        EXPECT_EQ(before[i], 0xFF) << i;
    EXPECT_EQ(before[8], 0xFF);

    // A start tick beyond 48 bits is taken modulo 2^48.
    module.PowerUp(0, (uint64_t{1} << 48) + 5);
    EXPECT_EQ(module.Ticks(0), 5u);
}

// A new power-up restarts the clock.
TEST(VirtualModuleTest, PowerUpRestartsTheClock) {
    VirtualModule module;
    module.PowerUp(0);
    EXPECT_EQ(module.Ticks(10000000), 78125u);
    module.PowerUp(10000000);
    EXPECT_EQ(module.Ticks(10000000), 0u);
    EXPECT_EQ(module.Ticks(10001280), 10u);
}

TEST(VirtualModuleTest, FreePlaceLevelNeverPromisesMoreThanThereIs) {
    const std::pair<int, uint8_t> cases[] = {{0, 0},  {2, 0},  {3, 1},  {5, 1}, {6, 2},
                                             {11, 2}, {12, 3}, {13, 3}, {-1, 0}};
    for (const auto& [places, level] : cases) {
        EXPECT_EQ(VirtualModule::FreePlaceLevel(places), level) << places;
    }
}

// GetMotorStatus is answered with one status report; the probe and every other report are
// taken without an answer.
TEST(VirtualModuleTest, AnswersGetMotorStatusOnly) {
    struct Case {
        const char* name;
        Report request;
        bool answered;
    };
    const Case cases[] = {
        {"GetMotorStatus", kGetMotorStatus, true},
        {"GetMotorStatus without the 0xFF bytes", Bytes({0, 0x04, 5}), true},
        {"program stack request", Bytes({0, 0x04, 3, 5, 0, 0, 0, 0xFF, 0xFF}), false},
        {"data stack request", Bytes({0, 0x04, 3, 10, 0, 0, 0, 0xFF, 0xFF}), false},
        {"probe", Bytes({0, 0x08, 0, 0, 0, 0, 0, 0xFF, 0xFF}), false},
        {"clear command list", Bytes({0, 0x07, 0, 0, 0, 0, 0, 0xFF, 0xFF}), false},
        {"start-up command 3", Bytes({0, 0x03, 19, 0, 0, 0, 0, 0xFF, 0xFF}), false},
        {"start-up command 1", Bytes({0, 0x01, 0, 0, 0, 0, 0, 0xFF, 0xFF}), false},
        {"start-up command 5", Bytes({0, 0x05, 2, 0, 0, 0, 0, 0xFF, 0xFF}), false},
        {"direct output", Bytes({0, 0x0A, 0x1B, 0xFF, 0, 0, 0, 0xFF, 0xFF}), false},
        {"segment", Bytes({0, 0x10, 16, 0x80, 10, 1, 0}), false},
        {"GetMotorStatus with report id 1", Bytes({1, 0x04, 5, 0, 0, 0, 0, 0xFF, 0xFF}), false},
    };
    for (const Case& c : cases) {
        VirtualModule module;
        std::vector<Report> answers;
        module.Receive(c.request.data(), c.request.size(), 1000, answers);
        ASSERT_EQ(answers.size(), c.answered ? 1u : 0u) << c.name;
        if (c.answered) {
            const Report expected = Bytes({0, 5, 0, 0, 12, 12, 12, 12});
            EXPECT_EQ(answers[0], expected) << c.name;
        }
    }
}

// A report that is not 16 bytes long is refused as HID refuses it: no answer, even when its
// first bytes ask for the status.
TEST(VirtualModuleTest, RefusesReportsOfAnotherLength) {
    VirtualModule module;
    std::vector<Report> answers;
    uint8_t longer[17] = {0, 0x04, 5};
    module.Receive(kGetMotorStatus.data(), 15, 0, answers);
    module.Receive(longer, sizeof longer, 0, answers);
    module.Receive(kGetMotorStatus.data(), 0, 0, answers);
    EXPECT_TRUE(answers.empty());
    module.Receive(kGetMotorStatus.data(), 16, 0, answers);
    EXPECT_EQ(answers.size(), 1u);
}

TEST(ModuleTraceTest, SecondsHaveSixExactDecimals) {
    EXPECT_EQ(ModuleTrace::Seconds(0), "0.000000");
    EXPECT_EQ(ModuleTrace::Seconds(1), "0.000001");
    EXPECT_EQ(ModuleTrace::Seconds(999999), "0.999999");
    EXPECT_EQ(ModuleTrace::Seconds(1000000), "1.000000");
    EXPECT_EQ(ModuleTrace::Seconds(12000128), "12.000128");
    EXPECT_EQ(ModuleTrace::Seconds(18446744073709551615ull), "18446744073709.551615");
}

// Every received report becomes one line with the module's tick and the simulator's time, in the
// order received, whether the module answers it, ignores it or refuses it.
TEST(ModuleTraceTest, TracesEveryReceivedReportWithItsTime) {
    std::ostringstream out;
    ModuleTrace trace(out);
    VirtualModule module(&trace);
    module.PowerUp(2000000);  // plugged in at 2 s
    std::vector<Report> answers;
    const Report probe = Bytes({0, 0x08, 0, 0, 0, 0, 0, 0xFF, 0xFF});
    module.Receive(kGetMotorStatus.data(), 16, 2000128, answers);
    module.Receive(probe.data(), 16, 3000000, answers);
    const uint8_t shortReport[3] = {0, 0xAB, 0xCD};
    module.Receive(shortReport, sizeof shortReport, 3000256, answers);

    EXPECT_EQ(out.str(),
              "tick,seconds,motor,direction,phase,position,report\n"
              "1,2.000128,,,,,00 04 05 00 00 00 00 ff ff 00 00 00 00 00 00 00\n"
              "7812,3.000000,,,,,00 08 00 00 00 00 00 ff ff 00 00 00 00 00 00 00\n"
              "7814,3.000256,,,,,00 ab cd\n");
    EXPECT_TRUE(trace.Good());
}

TEST(ModuleTraceTest, EveryLineHasTheHeadersSevenColumns) {
    const Report report = Bytes({0, 0x04, 5});
    const std::string line = ModuleTrace::ReceivedLine(5, 6, report.data(), report.size());
    const auto columns = [](const std::string& text) {
        return std::count(text.begin(), text.end(), ',') + 1;
    };
    EXPECT_EQ(columns(ModuleTrace::kHeader), 7);
    EXPECT_EQ(columns(line), 7);
}

TEST(ModuleTraceTest, ReportsAFailedWrite) {
    std::ostringstream out;
    ModuleTrace trace(out);
    ASSERT_TRUE(trace.Good());
    out.setstate(std::ios::badbit);
    trace.Received(0, 0, kGetMotorStatus.data(), 16);
    EXPECT_FALSE(trace.Good());
}

}  // namespace
}  // namespace sim
