// TUsbProtocol on a recording channel and the virtual clock: the bytes of every output report,
// the port-setting rules, streaming (merging, splitting, pauses, free places, delays, slow and
// zero periods), finishing and "Run in order", module resets and the status report's effects.
#include "usb/UsbProtocol.h"

#include <gtest/gtest.h>

#include <cmath>

#include "ProtocolFakes.h"
#include "motion/StepSchedule.h"
#include "testsupport/ReportBytes.h"

namespace usb {
namespace {

using motion::kDirLeft;
using motion::kDirNone;
using motion::kDirRight;
using motion::TsmProgramStep;
using testing::ProtocolBench;
using testsupport::Bytes;

// A segment report taken apart.
struct Segment {
    int motor;
    int64_t period;
    bool left;
    int count;  // 0: one step
    int64_t delay;
};

bool IsSegment(const UsbReport& r) {
    return (r[1] & 0x0F) == 0 && r[1] >> 4 >= 1 && r[1] >> 4 <= 4;
}

std::vector<Segment> Segments(const std::vector<UsbReport>& reports) {
    std::vector<Segment> out;
    for (const UsbReport& r : reports) {
        if (!IsSegment(r)) continue;
        for (size_t b = 7; b < kReportSize; ++b)
            EXPECT_EQ(r[b], 0) << "byte " << b;
        EXPECT_EQ(r[3] & 0x80 ? r[4] >= 2 : r[4] == 0, true) << "count byte " << int(r[4]);
        out.push_back(
            {r[1] >> 4, r[2] | (r[3] & 0x3F) << 8, (r[3] & 0x40) != 0, r[4], r[5] | r[6] << 8});
    }
    return out;
}

// Plays chained segments as the module does (each due its delay after the one before), in ticks
// from the first step, and checks every step against the program's ideal schedule at the
// nominal 7812 ticks per second: within 8 ticks, never two in one tick.
void ExpectOnSchedule(const std::vector<TsmProgramStep>& program,
                      const std::vector<Segment>& segments, const char* where) {
    const auto ideal = motion::TStepSchedule(program).MovingSteps();
    std::vector<int64_t> played;
    int64_t reference = 0;
    for (size_t k = 0; k < segments.size(); ++k) {
        if (k > 0) reference += segments[k].delay;
        const int steps = segments[k].count == 0 ? 1 : segments[k].count;
        for (int j = 0; j < steps; ++j)
            played.push_back(reference + j * segments[k].period);
    }
    ASSERT_EQ(played.size(), ideal.size()) << where;
    for (size_t i = 0; i < played.size(); ++i) {
        EXPECT_NEAR(static_cast<double>(played[i]), ideal[i].time * 7812, 8.0)
            << where << ", step " << i;
        if (i > 0) {
            EXPECT_GT(played[i], played[i - 1]) << where << ", step " << i;
        }
    }
}

class ProtocolTest : public ::testing::Test, public ProtocolBench {
  protected:
    // Starts motor and lets the module answer with an empty list for every motor.
    std::vector<Segment> StartAndStream(int motor) {
        Calibrate();
        protocol->StartMotor(motor);
        channel.Take();  // the status request
        Dispatch(Status({12, 12, 12, 12}));
        return Segments(channel.Take());
    }
    // Starts motor and streams its whole program as the module plays it.
    std::vector<Segment> StartAndStreamAll(int motor) {
        std::vector<Segment> segments = StartAndStream(motor);
        for (int pass = 0; pass < 2000; ++pass) {
            PlayOn(16);
            const auto more = Segments(channel.Take());
            segments.insert(segments.end(), more.begin(), more.end());
            if (more.empty() && !motors[motor]->Running() && protocol->Ring(motor).AtSend.Empty())
                break;
        }
        return segments;
    }
    // The first segment's delay: the lead at the nominal rate.
    static int64_t LeadTicks() { return std::llround(TUsbProtocol::kLeadSeconds * 7812); }
};

// ---- Report bytes and port settings -------------------------------------------------------

TEST_F(ProtocolTest, CommandReportsCarryExactlyTheirBytes) {
    struct Case {
        const char* name;
        void (*send)(TUsbProtocol&);
        UsbReport expected;
    };
    const Case cases[] = {
        {"GetMotorStatus", [](TUsbProtocol& p) { p.GetMotorStatus(); },
         Bytes({0, 0x04, 5, 0, 0, 0, 0, 0xFF, 0xFF})},
        {"program stack", [](TUsbProtocol& p) { p.RequestStack(kProgramStack); },
         Bytes({0, 0x04, 3, 5, 0, 0, 0, 0xFF, 0xFF})},
        {"data stack", [](TUsbProtocol& p) { p.RequestStack(kDataStack); },
         Bytes({0, 0x04, 3, 10, 0, 0, 0, 0xFF, 0xFF})},
        {"clear all", [](TUsbProtocol& p) { p.ClearCommandList(0); },
         Bytes({0, 0x07, 0, 0, 0, 0, 0, 0xFF, 0xFF})},
        {"clear motor 1", [](TUsbProtocol& p) { p.ClearCommandList(1); },
         Bytes({0, 0x17, 0, 0, 0, 0, 0, 0xFF, 0xFF})},
        {"clear motor 4", [](TUsbProtocol& p) { p.ClearCommandList(4); },
         Bytes({0, 0x47, 0, 0, 0, 0, 0, 0xFF, 0xFF})},
        {"direct output",
         [](TUsbProtocol& p) {
             p.DirectOutput(0xB4);
             p.WriteDirectOutput();  // the writer's turn
         },
         Bytes({0, 0x0A, 0xB4, 0xFF, 0, 0, 0, 0xFF, 0xFF})},
    };
    for (const Case& c : cases) {
        c.send(*protocol);
        const auto sent = channel.Take();
        ASSERT_EQ(sent.size(), 1u) << c.name;
        EXPECT_EQ(sent[0], c.expected) << c.name;
    }
    EXPECT_EQ(ProbeReport(), Bytes({0, 0x08, 0, 0, 0, 0, 0, 0xFF, 0xFF}));
}

TEST_F(ProtocolTest, EachCommandGoesOutOnlyInThePortSettingsThatUseIt) {
    // Reports sent by: clear(1), status, stack, direct output.
    struct Case {
        int16_t port;
        bool connected;
        std::vector<uint8_t> commands;
    };
    const Case cases[] = {
        {0, true, {0x17, 0x04, 0x04, 0x0A}},
        {1, true, {0x04, 0x04, 0x0A}},  // "USB (slow)": no command lists
        {888, true, {}},                // a parallel port
        {0, false, {}},
        {1, false, {}},
    };
    uint8_t phases = 0;
    for (const Case& c : cases) {
        protocol->SetPortSetting(c.port);
        channel.connected = c.connected;
        protocol->ClearCommandList(1);
        protocol->GetMotorStatus();
        protocol->RequestStack(kDataStack);
        protocol->DirectOutput(++phases);  // a change in every round
        protocol->WriteDirectOutput();
        std::vector<uint8_t> commands;
        for (const UsbReport& r : channel.Take())
            commands.push_back(r[1]);
        EXPECT_EQ(commands, c.commands) << "port " << c.port << " connected " << c.connected;
    }
}

TEST_F(ProtocolTest, ClearCommandListEmptiesHostRingsInEveryPortSetting) {
    SetProgram(0, {{300, 1000, 0, kDirRight}});
    SetProgram(1, {{300, 1000, 0, kDirRight}});
    protocol->StartAll();
    // Room, but the lists are not empty: the first segments wait for an empty list.
    Dispatch(Status({3, 3, 0, 0}));
    ASSERT_GT(protocol->Ring(0).Waiting, 0);
    ASSERT_GT(protocol->Ring(1).Waiting, 0);

    protocol->ClearCommandList(5);  // no such target: nothing at all
    EXPECT_GT(protocol->Ring(0).Waiting, 0);

    protocol->SetPortSetting(TUsbProtocol::kPortUsbSlow);
    channel.Take();
    protocol->ClearCommandList(2);
    EXPECT_TRUE(channel.Take().empty());
    EXPECT_EQ(protocol->Ring(1).FillIndex, 0);
    EXPECT_TRUE(protocol->Ring(1).AtFill.Empty());
    EXPECT_GT(protocol->Ring(0).Waiting, 0);  // other motors keep theirs

    protocol->ClearCommandList(0);
    EXPECT_TRUE(channel.Take().empty());
    for (int i = 0; i < 4; ++i) {
        const auto ring = protocol->Ring(i);
        EXPECT_EQ(ring.FillIndex, 0);
        EXPECT_EQ(ring.SendIndex, 0);
        EXPECT_TRUE(ring.AtSend.Empty());
    }
}

TEST_F(ProtocolTest, UsbSlowNeverStreams) {
    SetProgram(0, {{10, 100, 0, kDirRight}});
    protocol->StartAll();
    protocol->SetPortSetting(TUsbProtocol::kPortUsbSlow);
    channel.Take();
    Dispatch(Status({12, 12, 12, 12}));
    Dispatch(Clock(1000, 0xFF));
    EXPECT_TRUE(Segments(channel.Take()).empty());
    EXPECT_EQ(motors[0]->StepCounter(), 0);  // nothing pulled from the program either
}

// ---- Streaming --------------------------------------------------------------------------

TEST_F(ProtocolTest, ThreeHundredStepsOfAWholeTickPeriodGoOutAs255And45) {
    // 976.5 Hz is 8 ticks exactly at 7812 ticks/s; the first step is due a lead after now.
    SetProgram(0, {{300, 976.5, 0, kDirRight}});
    const auto segments = StartAndStream(0);
    ASSERT_EQ(segments.size(), 2u);
    EXPECT_EQ(segments[0].motor, 1);
    EXPECT_EQ(segments[0].period, 8);
    EXPECT_FALSE(segments[0].left);
    EXPECT_EQ(segments[0].count, 255);
    EXPECT_EQ(segments[0].delay, LeadTicks());
    EXPECT_EQ(segments[1].count, 45);
    EXPECT_EQ(segments[1].delay, 2040);  // 255 steps of 8 ticks
    EXPECT_EQ(protocol->FreePlaces(0), 6);
    EXPECT_FALSE(motors[0]->Running());
    EXPECT_TRUE(motors[0]->PassCompleted());
}

TEST_F(ProtocolTest, StepsBetweenWholeTickPeriodsStayWithinEightTicksOfTheirTime) {
    // 1000 Hz is 7.812 ticks: segments of 8 and 7 ticks in turn, each as long as the bound lets.
    const std::vector<TsmProgramStep> program{{300, 1000, 0, kDirRight}};
    SetProgram(0, program);
    const auto segments = StartAndStreamAll(0);
    ASSERT_GE(segments.size(), 4u);
    EXPECT_EQ(segments[0].period, 8);
    EXPECT_EQ(segments[1].period, 7);
    ExpectOnSchedule(program, segments, "1000 Hz");
}

TEST_F(ProtocolTest, ExactBytesOfTheFirstSegment) {
    Calibrate();
    SetProgram(2, {{300, 976.5, 0, kDirLeft}});
    protocol->StartMotor(2);
    channel.Take();
    Dispatch(Status({12, 12, 12, 12}));
    const auto sent = channel.Take();
    ASSERT_FALSE(sent.empty());
    // The delay is the lead, 391 ticks.
    EXPECT_EQ(sent[0], Bytes({0, 0x30, 0x08, 0xC0, 0xFF, 0x87, 0x01}));
}

TEST_F(ProtocolTest, NewRecordsBeginAtEveryChangeOfDirectionPeriodOrPass) {
    struct Case {
        const char* name;
        std::vector<TsmProgramStep> program;
        bool looping;
        std::vector<std::pair<int, bool>> expected;  // (steps, left) of the first segments
    };
    const Case cases[] = {
        {"direction",
         {{4, 100, 0, kDirRight}, {4, 100, 0, kDirLeft}},
         false,
         {{4, false}, {4, true}}},
        // The first 50 Hz step is due 4 periods of 100 Hz after the start: it still fits the
        // 100 Hz segment's period.
        {"period",
         {{4, 100, 0, kDirRight}, {4, 50, 0, kDirRight}},
         false,
         {{5, false}, {3, false}}},
        {"same period in two program steps merges",
         {{4, 100, 0, kDirRight}, {4, 100, 0, kDirRight}},
         false,
         {{8, false}}},
        {"pass of a looping program",
         {{3, 100, 0, kDirRight}},
         true,
         {{3, false}, {3, false}, {3, false}, {3, false}}},
    };
    for (const Case& c : cases) {
        SetProgram(0, c.program, c.looping);
        const auto segments = StartAndStream(0);
        ASSERT_GE(segments.size(), c.expected.size()) << c.name;
        for (size_t k = 0; k < c.expected.size(); ++k) {
            const int steps = segments[k].count == 0 ? 1 : segments[k].count;
            EXPECT_EQ(steps, c.expected[k].first) << c.name << " segment " << k;
            EXPECT_EQ(segments[k].left, c.expected[k].second) << c.name << " segment " << k;
        }
        if (std::string(c.name) == "period") {
            EXPECT_EQ(segments[1].period, 156);  // 20 ms
        }
        protocol->ClearCommandList(0);
        motors[0]->Stop();
    }
}

TEST_F(ProtocolTest, APauseSendsNothingButItsTimeCounts) {
    SetProgram(0, {{2, 100, 0, kDirRight}, {3, 100, 0, kDirNone}, {2, 100, 0, kDirRight}});
    const auto segments = StartAndStream(0);
    ASSERT_EQ(segments.size(), 2u);
    EXPECT_EQ(segments[0].count, 2);
    EXPECT_EQ(segments[1].count, 2);  // a new record after the pause, though the period is equal
    // From the first step to the first after the pause: 5 periods of 10 ms = 390.6 ticks.
    EXPECT_NEAR(segments[1].delay, 390.6, 1.0);
    ExpectOnSchedule({{2, 100, 0, kDirRight}, {3, 100, 0, kDirNone}, {2, 100, 0, kDirRight}},
                     segments, "pause");
}

TEST_F(ProtocolTest, DelaysFollowTheProgramsScheduleThroughARamp) {
    // 100 Hz with a 0.5 s ramp over 10 steps: the ramp's steps merge as far as the bound lets.
    const TsmProgramStep ramp{10, 100, 0.5, kDirRight};
    SetProgram(0, {ramp});
    const auto segments = StartAndStreamAll(0);
    EXPECT_LT(segments.size(), 9u);
    ExpectOnSchedule({ramp}, segments, "ramp");
}

TEST_F(ProtocolTest, TheHostsAccountOfTheListDecidesWhatMayGoOut) {
    // Counted segments take 3 places, single steps 2: an empty list of 12 takes 4 or 6. More go
    // out only as the segments in the list play out, whatever the reports claim.
    struct Case {
        std::vector<TsmProgramStep> program;
        bool looping;
        size_t first;
    };
    const Case cases[] = {{{{5000, 976.5, 0, kDirRight}}, false, 4},
                          {{{1, 100, 0, kDirRight}, {1, 100, 0, kDirLeft}}, true, 6}};
    for (const Case& c : cases) {
        SetProgram(0, c.program, c.looping);
        EXPECT_EQ(StartAndStream(0).size(), c.first);
        EXPECT_EQ(protocol->FreePlaces(0), 0);
        // Reports of an empty list that the module made before (or without) those segments.
        Dispatch(Clock(ModuleTicks(), 0xFF));
        Dispatch(Status({12, 12, 12, 12}));
        EXPECT_TRUE(Segments(channel.Take()).empty());
        // Once the first segment has played (a lead, and 255 steps of 1 ms or one of 10 ms),
        // its places come free.
        PlayOn(c.looping ? 56 : 320);
        EXPECT_EQ(Segments(channel.Take()).size(), 1u);
        motors[0]->Stop();
        protocol->ClearCommandList(1);
    }
}

TEST_F(ProtocolTest, ReportsLowerTheAccountButNeverRaiseIt) {
    // Motor 1 runs 255-step segments of 8 ticks: the first plays from 50 ms (the lead) to 310 ms
    // after the start, and the list is full behind it. Each row: one report read 2 ms after it
    // was made, and the segments that its pass sends.
    struct Case {
        const char* name;
        bool clock;      // a clock report made at its tick, else a status report
        int madeMs;      // after the start
        uint8_t places;  // the level of a clock report, the free places of a status report
        size_t sent;
    };
    const Case cases[] = {
        {"clock: empty, before anything played", true, 10, 3, 0},
        {"status: empty, while the first plays", false, 100, 12, 0},
        {"clock: empty, after the first played", true, 340, 3, 1},
        {"clock: full, after the first was to be over", true, 340, 0, 0},
    };
    for (const Case& c : cases) {
        SetProgram(0, {{5000, 976.5, 0, kDirRight}});
        StartAndStream(0);
        const uint64_t made = ModuleTicks() + static_cast<uint64_t>(c.madeMs * 7.812);
        timers.SetNowMs(timers.NowMs() + static_cast<uint64_t>(c.madeMs) + 2);
        if (c.clock) {
            Dispatch(Clock(made, c.places));
        } else {
            Dispatch(Status({c.places, 12, 12, 12}));
        }
        EXPECT_EQ(Segments(channel.Take()).size(), c.sent) << c.name;
        motors[0]->Stop();
        protocol->ClearCommandList(1);
        channel.Take();
    }
}

TEST_F(ProtocolTest, AStartDiscardsEverythingQueuedBefore) {
    SetProgram(0, {{1, 100, 0, kDirRight}, {1, 100, 0, kDirLeft}}, true);
    StartAndStream(0);  // six single steps fill the list, more wait on the host
    ASSERT_GT(protocol->Ring(0).Waiting, 0);
    ASSERT_FALSE(protocol->Ring(0).AtFill.Empty());

    SetProgram(0, {{3, 100, 0, kDirRight}});
    protocol->StartMotor(0);
    const auto ring = protocol->Ring(0);
    EXPECT_EQ(ring.Waiting, 0);
    EXPECT_TRUE(ring.AtSend.Empty());
    EXPECT_TRUE(ring.AtFill.Empty());
    // The module's list still plays the old run: it is cleared before the new run.
    EXPECT_EQ(channel.Take(),
              (std::vector<UsbReport>{ClearCommandListReport(1), GetMotorStatusReport()}));
    Dispatch(Status({12, 12, 12, 12}));
    const auto segments = Segments(channel.Take());
    ASSERT_EQ(segments.size(), 1u);  // only the new run: three steps right
    EXPECT_EQ(segments[0].count, 3);
    EXPECT_FALSE(segments[0].left);
    EXPECT_EQ(segments[0].delay, LeadTicks());

    // A start whose earlier run has played out sends no clear.
    motors[0]->Stop();
    PlayOn(200);
    channel.Take();
    protocol->StartMotor(0);
    EXPECT_EQ(channel.Take(), std::vector<UsbReport>{GetMotorStatusReport()});
}

TEST_F(ProtocolTest, MotorsStartedTogetherShareTheirFirstTick) {
    // The common start clears the list that may still play, and every motor's first
    // segment is due at the same module tick, a lead after the first of them went out, however
    // long the others take to follow.
    for (int i = 0; i < 4; ++i)
        SetProgram(i, {{2000, 1000.0, 0, kDirRight}});
    StartAndStream(1);  // motor 2 still plays when the common start comes
    protocol->StartAll();
    EXPECT_EQ(channel.Take(),
              (std::vector<UsbReport>{ClearCommandListReport(2), GetMotorStatusReport()}));
    Dispatch(Status({12, 12, 12, 12}));
    std::vector<int64_t> firstTick(4, -1);
    const int64_t now = static_cast<int64_t>(ModuleTicks());
    for (const Segment& s : Segments(channel.Take()))
        if (firstTick[s.motor - 1] < 0) firstTick[s.motor - 1] = now + s.delay;
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(firstTick[i], now + LeadTicks()) << "motor " << i + 1;
}

TEST_F(ProtocolTest, SlowStepsPlayAtTheirAskedTimes) {
    // 0.25 Hz: 4 s = 31248 ticks, beyond the 14-bit period.
    SetProgram(0, {{3, 0.25, 0, kDirRight}});
    auto segments = StartAndStream(0);
    ASSERT_EQ(segments.size(), 1u);
    EXPECT_EQ(segments[0].count, 0);  // alone
    EXPECT_EQ(segments[0].period, kMaxPeriodTicks);
    EXPECT_EQ(segments[0].delay, LeadTicks());

    std::vector<double> stepTimes{HostSeconds() + segments[0].delay / 7812.0};
    for (int pass = 0; pass < 1500; ++pass) {
        PlayOn(8);  // the lone step plays out and its places come free
        for (const Segment& s : Segments(channel.Take())) {
            EXPECT_EQ(s.count, 0);
            EXPECT_EQ(s.period, kMaxPeriodTicks);
            EXPECT_LE(s.delay, kMaxDelayTicks);
            stepTimes.push_back(HostSeconds() + s.delay / 7812.0);
        }
    }
    ASSERT_EQ(stepTimes.size(), 3u);
    EXPECT_NEAR(stepTimes[1] - stepTimes[0], 4.0, 0.001);
    EXPECT_NEAR(stepTimes[2] - stepTimes[0], 8.0, 0.001);
}

TEST_F(ProtocolTest, SlowStepsAreHeldWhileTheModuleStillPlays) {
    SetProgram(0, {{3, 0.25, 0, kDirRight}});
    StartAndStream(0);
    // 1 s before the next step the module shows the first still in its list, long after the
    // host planned it played: the next waits until the list is empty.
    timers.SetNowMs(timers.NowMs() + 3000);
    Dispatch(Clock(ModuleTicks(), 0b10));
    EXPECT_TRUE(Segments(channel.Take()).empty());
    PlayOn(16);  // shown empty a clock report later
    EXPECT_EQ(Segments(channel.Take()).size(), 1u);
}

TEST_F(ProtocolTest, LongConstantRunsStayChained) {
    // 50 Hz: 156 ticks a step; 255 steps would span 39780 ticks, more than a delay can carry.
    SetProgram(0, {{300, 50, 0, kDirRight}});
    const auto segments = StartAndStreamAll(0);
    ASSERT_FALSE(segments.empty());
    for (const Segment& s : segments)
        EXPECT_LE(s.delay, kMaxDelayTicks);
    ExpectOnSchedule({{300, 50, 0, kDirRight}}, segments, "50 Hz");
}

TEST_F(ProtocolTest, ARunStartedBeforeTheCalibrationSettledFollowsItAsItImproves) {
    // A module at 7830 ticks/s, 0.23 % off the nominal rate the host assumes until 20 clock
    // reports have come: a 3 s run started 100 ms after the opening. Held at 7812 to its end,
    // its last step would play 54 ticks early; following the calibration, it stays close.
    const uint64_t openedMs = timers.NowMs();
    auto moduleTicks = [&] { return (timers.NowMs() - openedMs) * 7830 / 1000; };
    auto playOn = [&](uint64_t ms) {
        for (uint64_t t = 0; t < ms; t += 8) {
            timers.SetNowMs(timers.NowMs() + 8);
            Dispatch(Clock(moduleTicks(), 0xFF));
        }
    };
    playOn(96);
    ASSERT_EQ(protocol->TicksPerSecond(), 7812);
    SetProgram(0, {{3000, 1000, 0, kDirRight}});
    protocol->StartMotor(0);
    channel.Take();
    Dispatch(Status({12, 12, 12, 12}));
    const int64_t startTicks = static_cast<int64_t>(moduleTicks());
    std::vector<Segment> segments = Segments(channel.Take());
    for (int pass = 0; pass < 500 && motors[0]->Running(); ++pass) {
        playOn(16);
        const auto more = Segments(channel.Take());
        segments.insert(segments.end(), more.begin(), more.end());
    }
    playOn(500);
    const auto more = Segments(channel.Take());
    segments.insert(segments.end(), more.begin(), more.end());
    ASSERT_FALSE(segments.empty());
    // The first step is due a lead after the start; the last one 2.999 s after the first.
    int64_t reference = startTicks + segments[0].delay;
    const int64_t first = reference;
    for (size_t k = 1; k < segments.size(); ++k)
        reference += segments[k].delay;
    const Segment& last = segments.back();
    const int64_t lastStep = reference + (std::max(last.count, 1) - 1) * last.period;
    EXPECT_NEAR(static_cast<double>(lastStep - first), 2.999 * 7830, 16.0);
}

TEST_F(ProtocolTest, PeriodsTheModuleCannotTime) {
    // 0 Hz: never timed; the run stalls at that step and stays running.
    SetProgram(0, {{5, 0, 0, kDirRight}});
    EXPECT_TRUE(StartAndStream(0).empty());
    EXPECT_TRUE(motors[0]->Running());
    EXPECT_EQ(motors[0]->StepCounter(), 0);

    // 20 kHz is below one tick: sent at the fastest the module times.
    SetProgram(0, {{5, 20000, 0, kDirRight}});
    const auto segments = StartAndStream(0);
    ASSERT_EQ(segments.size(), 1u);
    EXPECT_EQ(segments[0].period, 1);
    EXPECT_EQ(segments[0].count, 5);
}

TEST_F(ProtocolTest, StreamingGoesOnAfterTheSenderHasCaughtUpWithTheFill) {
    // The 0 Hz step stalls the fill after the first record, which then goes out as the open one.
    SetProgram(0, {{2, 100, 0, kDirRight}, {3, 0, 0, kDirLeft}});
    auto segments = StartAndStream(0);
    ASSERT_EQ(segments.size(), 1u);
    EXPECT_EQ(segments[0].count, 2);
    motors[0]->LockProgram()->Items(1).Frequency = 100;  // edited while running
    Dispatch(Status({9, 12, 12, 12}));
    segments = Segments(channel.Take());
    ASSERT_EQ(segments.size(), 1u);
    EXPECT_EQ(segments[0].count, 3);
    EXPECT_TRUE(segments[0].left);
    EXPECT_EQ(segments[0].delay, 156);  // two 10 ms periods after the first segment
}

TEST_F(ProtocolTest, ALoopingProgramOfPausesDoesNotHoldTheReceiveThread) {
    SetProgram(0, {{10, 100, 0, kDirNone}}, true);
    EXPECT_TRUE(StartAndStream(0).empty());  // returns: one fill pulls a bounded number of steps
    EXPECT_TRUE(motors[0]->Running());
    EXPECT_LE(motors[0]->PassCount(), TUsbProtocol::kMaxStepsPerFill / 10 + 1);
}

// ---- Finishing and "Run in order" ---------------------------------------------------------

TEST_F(ProtocolTest, AMotorIsFinishedOnlyWhenTheModuleHasPlayedEverything) {
    // Ten steps at 100 Hz from 50 ms (the lead): the last one plays at 140 ms.
    SetProgram(0, {{10, 100, 0, kDirRight}});
    StartAndStream(0);
    window.Take();
    ASSERT_TRUE(motors[0]->PassCompleted());
    PlayOn(128);
    EXPECT_FALSE(motors[0]->Finished());
    EXPECT_TRUE(window.Take().empty());
    // An empty list reported on its own before the last step counts for nothing either.
    Dispatch(Status({12, 12, 12, 12}));
    EXPECT_FALSE(motors[0]->Finished());
    EXPECT_EQ(window.Take(), std::vector<std::string>{"run in order off"});
    PlayOn(24);
    EXPECT_TRUE(motors[0]->Finished());
    EXPECT_FALSE(motors[0]->PassCompleted());
    EXPECT_EQ(window.Take(), std::vector<std::string>{"run in order on"});
}

TEST_F(ProtocolTest, ASynchronousStartSendsEveryMotorsFirstSegmentBeforeAnySecond) {
    // Ramps make one segment per step, so every motor has several segments ready at once.
    Calibrate();
    for (int i = 0; i < 4; ++i)
        SetProgram(i, {{20, 100.0 * (i + 1), 0.1, kDirRight}});
    protocol->StartAll();
    channel.Take();
    Dispatch(Status({12, 12, 12, 12}));
    const std::vector<Segment> segments = Segments(channel.Take());
    ASSERT_GE(segments.size(), 8u);
    std::vector<int> motors;
    for (const Segment& s : segments)
        motors.push_back(s.motor);
    EXPECT_EQ(std::vector<int>(motors.begin(), motors.begin() + 8),
              (std::vector<int>{1, 2, 3, 4, 1, 2, 3, 4}));
}

class RunInOrderTest : public ProtocolTest, public ::testing::WithParamInterface<bool> {};

TEST_P(RunInOrderTest, ChainRunsMotorsOneAfterAnotherAndWrapsOnlyWithLoop) {
    Calibrate();
    const bool loop = GetParam();
    for (int i = 0; i < 4; ++i)
        SetProgram(i, {{10 + i, 100, 0, kDirRight}});
    protocol->SetRunInOrder(true);
    protocol->SetRunInOrderLoop(loop);
    protocol->StartAll();
    EXPECT_TRUE(motors[0]->Running());
    EXPECT_FALSE(motors[1]->Running());
    channel.Take();

    std::vector<int> order;  // motor of every segment, in order
    for (int pass = 0; pass < 6; ++pass) {
        PlayOn(304);
        for (const Segment& s : Segments(channel.Take())) {
            order.push_back(s.motor);
            EXPECT_EQ(s.count, 9 + s.motor);  // each motor's whole program in one segment
        }
    }
    const std::vector<int> once{1, 2, 3, 4};
    const std::vector<int> looped{1, 2, 3, 4, 1, 2};
    if (loop) {
        ASSERT_GE(order.size(), looped.size());
        order.resize(looped.size());
    }
    EXPECT_EQ(order, loop ? looped : once);
    if (!loop) {
        EXPECT_EQ(protocol->InOrderIndex(), 0);
        for (const auto& motor : motors)
            EXPECT_TRUE(motor->Finished());
    }
}

INSTANTIATE_TEST_SUITE_P(Loop, RunInOrderTest, ::testing::Bool());

TEST_F(ProtocolTest, RunInOrderSkipsEmptyProgramsAndEndsWithoutAnyStep) {
    Calibrate();
    // Only motor 3 has a step: without "Loop" it plays once; the chain does not come back to it.
    SetProgram(2, {{5, 100, 0, kDirRight}});
    protocol->SetRunInOrder(true);
    protocol->StartMotor(2);
    std::vector<int> order;
    for (int pass = 0; pass < 5; ++pass) {
        PlayOn(304);
        for (const Segment& s : Segments(channel.Take()))
            order.push_back(s.motor);
    }
    EXPECT_EQ(order, std::vector<int>{3});

    // No motor holds a step, with "Loop": every pass returns and nothing starts.
    SetProgram(2, {});
    protocol->SetRunInOrderLoop(true);
    protocol->StartAll();
    for (int pass = 0; pass < 5; ++pass)
        PlayOn(304);
    for (const auto& motor : motors)
        EXPECT_FALSE(motor->Running());
    EXPECT_TRUE(Segments(channel.Take()).empty());
}

TEST_F(ProtocolTest, ASingleStartIsStreamedOnlyWhileItHasAProgram) {
    protocol->StartMotor(1);  // empty program: not started, nothing asked
    EXPECT_FALSE(motors[1]->Running());
    EXPECT_TRUE(channel.Take().empty());

    SetProgram(1, {{5, 100, 0, kDirRight}});
    protocol->StartMotor(1);
    EXPECT_TRUE(motors[1]->Running());
    EXPECT_EQ(channel.Take(), std::vector<UsbReport>{GetMotorStatusReport()});
}

// ---- What a Stop, a reset or a lost module ends ------------------------------------------

// Four programs in a chain (the last one long), each fully handed out to an empty list.
class StoppedChainTest : public ProtocolTest, public ::testing::WithParamInterface<bool> {
  protected:
    void StartChain() {
        for (int i = 0; i < 4; ++i)
            SetProgram(i, {{10, 100, 0, kDirRight}});
        protocol->SetRunInOrder(true);
        protocol->SetRunInOrderLoop(true);
        protocol->StartAll();
        channel.Take();
        Dispatch(Status({12, 12, 12, 12}));  // motor 1's whole program goes out
        ASSERT_EQ(Segments(channel.Take()).size(), 1u);
        ASSERT_TRUE(motors[0]->PassCompleted());  // handed out, the module still plays it
    }
};

TEST_P(StoppedChainTest, AStoppedChainStartsNoFurtherMotor) {
    StartChain();
    if (GetParam()) {
        // The synchronous Stop: the chain ends, then every motor stops and every list clears.
        protocol->EndRunInOrder();
        for (auto& motor : motors)
            motor->Stop();
        protocol->ClearCommandList(0);
    } else {
        // Motor 1's own Stop while the module plays its last segment.
        motors[0]->Stop();
        protocol->ClearCommandList(1);
    }
    channel.Take();
    for (int pass = 0; pass < 4; ++pass) {
        timers.Advance(8);
        Dispatch(Status({12, 12, 12, 12}));  // every list empty: the clear took it all
    }
    EXPECT_TRUE(Segments(channel.Take()).empty());
    for (auto& motor : motors)
        EXPECT_FALSE(motor->Running());
    EXPECT_EQ(window.Take().back(), "run in order on");
    // A new start runs the chain again.
    protocol->StartAll();
    channel.Take();
    Dispatch(Status({12, 12, 12, 12}));
    EXPECT_EQ(Segments(channel.Take()).size(), 1u);
}

INSTANTIATE_TEST_SUITE_P(SynchronousOrPanelStop, StoppedChainTest, ::testing::Bool());

TEST_F(ProtocolTest, AMotorTheChainLeavesEndsItsRunAlsoWhenItLoops) {
    Calibrate();
    SetProgram(0, {{5, 100, 0, kDirRight}}, /*looping=*/true);
    SetProgram(1, {{5, 100, 0, kDirLeft}});
    protocol->SetRunInOrder(true);
    protocol->StartAll();
    std::vector<int> order;
    for (int pass = 0; pass < 6; ++pass) {
        PlayOn(304);
        for (const Segment& segment : Segments(channel.Take()))
            order.push_back(segment.motor);
        if (pass == 0) {
            EXPECT_FALSE(motors[0]->Running());  // the chain has moved on
        }
    }
    // Without the chain's "Loop" motor 1 is not streamed again when the index comes round.
    EXPECT_EQ(order, (std::vector<int>{1, 2}));
    for (auto& motor : motors)
        EXPECT_TRUE(motor->Idle());
}

TEST_F(ProtocolTest, AModuleResetEndsTheRunsOfTheMotorsItResets) {
    SetProgram(3, {{6000, 1000, 0, kDirRight}}, /*looping=*/true);
    SetProgram(0, {{6000, 1000, 0, kDirRight}});
    protocol->StartMotor(0);
    StartAndStream(3);
    protocol->StartReset(4);
    EXPECT_FALSE(motors[3]->Running());
    EXPECT_TRUE(motors[0]->Running());  // not reset: its run goes on
    const auto sent = channel.Take();
    ASSERT_GE(sent.size(), 3u);
    EXPECT_EQ(sent[sent.size() - 3], ClearCommandListReport(4));
    EXPECT_EQ(sent.back()[1], 0x09);
    // The reset's end (motor 4's bit clear): nothing more of motor 4's program goes out.
    protocol->GetMotorStatus();
    Dispatch(Status({12, 12, 12, 12}, 0x00));
    for (const Segment& segment : Segments(channel.Take()))
        EXPECT_NE(segment.motor, 4);
}

TEST_F(ProtocolTest, AReopeningEndsTheResetInTheWindowToo) {
    protocol->StartReset(2);
    ASSERT_EQ(protocol->ResetMask(), 0x02);
    window.Take();
    protocol->ResetUsbBuffers();
    EXPECT_EQ(protocol->ResetMask(), 0);
    EXPECT_EQ(window.Take(), (std::vector<std::string>{"caption 0", "caption 1", "caption 2",
                                                       "caption 3", "caption 4", "reset idle"}));
    protocol->ResetUsbBuffers();  // no reset in progress: nothing to end
    EXPECT_TRUE(window.Take().empty());
}

TEST_F(ProtocolTest, StartsWithoutTheModuleLeaveEveryMotorIdle) {
    for (int i = 0; i < 4; ++i)
        SetProgram(i, {{5, 100, 0, kDirRight}});
    channel.connected = false;
    protocol->StartMotor(2);
    protocol->StartAll();
    for (auto& motor : motors) {
        EXPECT_FALSE(motor->Running());
        EXPECT_TRUE(motor->Idle());
    }
}

TEST_F(ProtocolTest, AStreamedProgramIsBackAtItsFirstStepForAHostTimedStart) {
    SetProgram(0, {{3, 100, 0, kDirRight}});
    StartAndStream(0);
    ASSERT_FALSE(motors[0]->Running());
    EXPECT_EQ(motors[0]->StepIndex(), 0);
    EXPECT_EQ(motors[0]->StepCounter(), 0);  // the end marker took no step
}

TEST_F(ProtocolTest, StatusReportsInUsbSlowLeaveRunInOrderToTheWindow) {
    protocol->SetPortSetting(TUsbProtocol::kPortUsbSlow);
    SetProgram(0, {{1, 100, 0, kDirRight}});
    motors[0]->StartProgram();
    timers.Advance(100);  // the host-timed run ends by itself
    ASSERT_FALSE(motors[0]->Running());
    EXPECT_TRUE(motors[0]->Idle());
    protocol->GetMotorStatus();
    Dispatch(Status({12, 12, 12, 12}));
    EXPECT_TRUE(window.Take().empty());
}

// ---- Module reset and status reports ------------------------------------------------------

TEST_F(ProtocolTest, ResetOfMotorTwoAlone) {
    motors[1]->SetResetDirection(kDirLeft);
    motors[1]->SetMaxFrequency(1000);
    protocol->StartReset(2);
    const auto sent = channel.Take();
    ASSERT_EQ(sent.size(), 3u);
    EXPECT_EQ(sent[0], ClearCommandListReport(2));
    EXPECT_EQ(sent[0][1], 0x27);
    EXPECT_EQ(sent[1], Bytes({0x00, 0x20, 0x10, 0xC0, 0xFF, 0x7F, 0x02}));
    EXPECT_EQ(sent[2], Bytes({0x00, 0x09, 0x02, 0xC0, 0xFF, 0x7F, 0x02}));
    EXPECT_EQ(protocol->ResetMask(), 0x02);
}

TEST_F(ProtocolTest, ResetOfAllMotors) {
    // Motor 1 right at 500 Hz (4 ms = 31 ticks), motor 2 no direction, motor 3 at 0 Hz (50 ms =
    // 391 ticks), motor 4 at 0.1 Hz (20 s, held at the longest period the field carries).
    motors[0]->SetMaxFrequency(500);
    motors[1]->SetResetDirection(kDirNone);
    motors[2]->SetMaxFrequency(0);
    motors[2]->SetResetDirection(kDirLeft);
    motors[3]->SetMaxFrequency(0.1);
    protocol->StartReset(0);
    const auto sent = channel.Take();
    ASSERT_EQ(sent.size(), 5u);
    EXPECT_EQ(sent[0][1], 0x07);
    EXPECT_EQ(sent[1], Bytes({0, 0x10, 31, 0x80, 0xFF, 0x7F, 0x02}));
    EXPECT_EQ(sent[2], Bytes({0, 0x30, 0x87, 0xC1, 0xFF, 0x7F, 0x02}));
    EXPECT_EQ(sent[3], Bytes({0, 0x40, 0xFF, 0xBF, 0xFF, 0x7F, 0x02}));
    EXPECT_EQ(sent[4], Bytes({0, 0x09, 0x0F, 0xBF, 0xFF, 0x7F, 0x02}));
    EXPECT_EQ(protocol->ResetMask(), 0x0F);
}

TEST_F(ProtocolTest, ResetWithoutAnyDirectionSendsABareRequest) {
    motors[0]->SetResetDirection(kDirNone);
    protocol->StartReset(1);
    const auto sent = channel.Take();
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_EQ(sent[1], Bytes({0, 0x09, 0x00}));
    EXPECT_EQ(protocol->ResetMask(), 0);

    channel.connected = false;
    protocol->StartReset(0);
    protocol->CancelReset(0);
    EXPECT_TRUE(channel.Take().empty());
    EXPECT_EQ(protocol->ResetMask(), 0);
}

TEST_F(ProtocolTest, CancelSendsTheCancelRequestThenClears) {
    protocol->CancelReset(3);
    const auto sent = channel.Take();
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_EQ(sent[0], Bytes({0, 0x03, 19, 0}));
    EXPECT_EQ(sent[1], ClearCommandListReport(3));
}

TEST_F(ProtocolTest, StatusReportsEndTheResetMotorByMotor) {
    protocol->StartReset(0);
    window.Take();
    Dispatch(Clock(1000, 0xFF));  // made after the module had the start-reset request
    window.Take();
    channel.Take();
    protocol->GetMotorStatus();
    protocol->GetMotorStatus();
    protocol->GetMotorStatus();
    Dispatch(Status({12, 12, 12, 12}, 0x05));
    EXPECT_EQ(protocol->ResetMask(), 0x05);
    EXPECT_EQ(window.Take(),
              (std::vector<std::string>{"caption 2", "caption 4", "run in order on"}));
    Dispatch(Status({12, 12, 12, 12}, 0x0F));  // a bit once cleared stays clear
    EXPECT_EQ(protocol->ResetMask(), 0x05);
    window.Take();
    Dispatch(Status({12, 12, 12, 12}, 0x00));
    EXPECT_EQ(protocol->ResetMask(), 0);
    EXPECT_EQ(window.Take(),
              (std::vector<std::string>{"caption 1", "caption 2", "caption 3", "caption 4",
                                        "caption 0", "reset idle", "run in order on"}));
    Dispatch(Status({12, 12, 12, 12}, 0x00));  // no reset: no captions
    EXPECT_EQ(window.Take(), std::vector<std::string>{"run in order on"});
}

TEST_F(ProtocolTest, AReportMadeBeforeTheModuleHadTheResetRequestDoesNotEndIt) {
    protocol->GetMotorStatus();  // its answer, from before the reset, is still on its way
    protocol->StartReset(0);
    const UsbReport request = channel.Take().back();  // the start-reset request
    EXPECT_EQ(request[1], 0x09);
    EXPECT_EQ(request[2], 0x0F);
    window.Take();
    Dispatch(Status({12, 12, 12, 12}, 0x00));
    EXPECT_EQ(protocol->ResetMask(), 0x0F);
    EXPECT_EQ(window.Take(), std::vector<std::string>{"run in order on"});

    // A clock report made before the module had the request asks for the status; the report
    // read next is one the module sent on its own before (a cancelled reset's end), not the
    // answer.
    Dispatch(Clock(0, 0xFF));
    EXPECT_EQ(channel.Take(), std::vector<UsbReport>{GetMotorStatusReport()});
    Dispatch(Status({12, 12, 12, 12}, 0x00));
    EXPECT_EQ(protocol->ResetMask(), 0x0F);
    window.Take();

    // Read after a clock report made since, a report tells about this reset.
    timers.Advance(100);
    Dispatch(Clock(800, 0xFF));
    Dispatch(Status({12, 12, 12, 12}, 0x0E));
    EXPECT_EQ(protocol->ResetMask(), 0x0E);
    EXPECT_EQ(window.Take(), (std::vector<std::string>{"caption 1", "run in order on"}));
}

TEST_F(ProtocolTest, ClockReportsAskForTheStatusWhileAResetGoesOn) {
    // Past the calibration's start-up request and its answer.
    for (uint64_t k = 0; k < 3; ++k) {
        Dispatch(Clock(k * 62, 0xFF));
        timers.Advance(8);
    }
    Dispatch(Status({12, 12, 12, 12}));
    channel.Take();
    // Without a reset, clock reports of an idle module ask nothing.
    for (uint64_t k = 3; k < 20; ++k) {
        Dispatch(Clock(k * 62, 0xFF));
        timers.Advance(8);
    }
    EXPECT_TRUE(channel.Take().empty());

    protocol->StartReset(0);
    channel.Take();
    int asked = 0;
    for (uint64_t k = 20; k < 45; ++k) {  // 200 ms of clock reports
        Dispatch(Clock(k * 62, 0xAA));
        for (const UsbReport& report : channel.Take())
            if (report == GetMotorStatusReport()) ++asked;
        timers.Advance(8);
    }
    EXPECT_GE(asked, 3);  // every 50 ms
    EXPECT_LE(asked, 5);

    Dispatch(Status({12, 12, 12, 12}, 0x00));  // the reset is over: no more requests
    for (uint64_t k = 45; k < 70; ++k) {
        Dispatch(Clock(k * 62, 0xFF));
        timers.Advance(8);
    }
    for (const UsbReport& report : channel.Take())
        EXPECT_NE(report, GetMotorStatusReport());
}

TEST_F(ProtocolTest, StatusReportSetsThePhases) {
    Dispatch(Status({12, 12, 12, 12}, 0, 0b10'01'11'00));
    EXPECT_EQ(motors[0]->Phase(), 0);
    EXPECT_EQ(motors[1]->Phase(), 3);
    EXPECT_EQ(motors[2]->Phase(), 1);
    EXPECT_EQ(motors[3]->Phase(), 2);
}

TEST_F(ProtocolTest, OpeningEmptiesEverything) {
    SetProgram(0, {{300, 1000, 0, kDirRight}});
    protocol->StartMotor(0);
    Dispatch(Status({3, 0, 0, 0}));
    protocol->StartReset(0);
    for (int k = 0; k < 5; ++k)
        Dispatch(Clock(k * 100, 0));
    ASSERT_NE(protocol->ClockSampleIndex(), 0);

    protocol->ResetUsbBuffers();
    EXPECT_FALSE(motors[0]->Running());
    EXPECT_EQ(protocol->Ring(0).Waiting, 0);
    EXPECT_TRUE(protocol->Ring(0).AtFill.Empty());
    EXPECT_EQ(protocol->ClockSampleIndex(), 0);
    EXPECT_EQ(protocol->ResetMask(), 0);
}

TEST_F(ProtocolTest, ReceiveThreadStartBringsBackTheNominalRateAndNoRoom) {
    for (int k = 0; k < 25; ++k) {
        timers.SetNowMs(timers.NowMs() + 8);
        Dispatch(Clock(static_cast<uint64_t>(k) * 80, 0xFF));
    }
    ASSERT_NE(protocol->TicksPerSecond(), 7812);
    protocol->ReceiveThreadStarted();
    EXPECT_EQ(protocol->TicksPerSecond(), 7812);
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(protocol->FreePlaces(i), 0);
}

TEST_F(ProtocolTest, TheThirdClockReportAsksForStatus) {
    std::vector<size_t> requests;
    for (int k = 0; k < 6; ++k) {
        timers.SetNowMs(timers.NowMs() + 8);
        Dispatch(Clock(static_cast<uint64_t>(k) * 62, 0));
        size_t n = 0;
        for (const UsbReport& r : channel.Take())
            n += r == GetMotorStatusReport();
        requests.push_back(n);
    }
    EXPECT_EQ(requests, (std::vector<size_t>{0, 0, 1, 0, 0, 0}));
}

TEST_F(ProtocolTest, OtherReportTypesAreIgnored) {
    SetProgram(0, {{10, 100, 0, kDirRight}});
    protocol->StartMotor(0);
    channel.Take();
    UsbReport other = Status({12, 12, 12, 12}, 0, 0xFF);
    for (uint8_t type : {0, 1, 3, 6, 0xFF}) {
        other[1] = type;
        Dispatch(other);
    }
    EXPECT_TRUE(channel.Take().empty());
    EXPECT_EQ(motors[0]->Phase(), 0);
    EXPECT_EQ(protocol->FreePlaces(0), 0);
}

}  // namespace
}  // namespace usb

namespace usb {
namespace {

// ---- Reports read late ------------------------------------------------------------------------

class LateReportTest : public ::testing::Test, public ProtocolBench {
  protected:
    // A long constant run on motor 1, calibrated clock reports every 8 ms up to moduleTicks.
    // 25 clock reports of a calibrated module, and the answer to the status request that the
    // third of them brings.
    void Calibrate(uint64_t fromTick = 0) {
        for (uint64_t k = 0; k < 25; ++k) {
            timers.SetNowMs(timers.NowMs() + 8);
            Dispatch(Clock(fromTick + k * 62, 0xFF));
        }
        channel.Take();
        Dispatch(Status({12, 12, 12, 12}));
    }
    void StartLongRun() {
        Calibrate();
        SetProgram(0, {{5000, 1000, 0, kDirRight}});
        protocol->StartMotor(0);
        channel.Take();
        Dispatch(Status({12, 12, 12, 12}));  // the answer to the start's request
        sentFirst = Segments(channel.Take()).size();
    }
    size_t sentFirst = 0;
};

TEST_F(LateReportTest, AClockReportWrittenBeforeTheLastSegmentsDoesNotRefillTheList) {
    StartLongRun();
    ASSERT_EQ(sentFirst, 4u);  // 12 places: four counted segments
    // A report the module wrote before those segments arrived, read only now: "12 free".
    Dispatch(Clock(24 * 62 + 5, 0xFF));
    EXPECT_TRUE(Segments(channel.Take()).empty());
    EXPECT_EQ(protocol->FreePlaces(0), 0);
    // One written well after them (8 ms later) tells the truth again.
    timers.SetNowMs(timers.NowMs() + 300);
    Dispatch(Clock(25 * 62 + 300 * 7.812, 0b11));
    EXPECT_EQ(Segments(channel.Take()).size(), 4u);
}

TEST_F(LateReportTest, AMotorFinishesOnceItsLastStepHasPlayedWithoutAskingForStatus) {
    Calibrate();
    SetProgram(0, {{3, 100, 0, kDirRight}});
    protocol->StartMotor(0);
    channel.Take();
    Dispatch(Status({12, 12, 12, 12}));
    ASSERT_EQ(Segments(channel.Take()).size(), 1u);  // the whole program in one segment
    EXPECT_TRUE(motors[0]->PassCompleted());
    EXPECT_FALSE(motors[0]->Finished());
    // The module has played it by the next clock report: nothing more to ask.
    timers.SetNowMs(timers.NowMs() + 500);
    Dispatch(Clock(25 * 62 + 500 * 7.75, 0xFF));
    EXPECT_TRUE(channel.Take().empty());
    EXPECT_TRUE(motors[0]->Finished());
}

TEST_F(LateReportTest, AModulePluggedInAgainIsJudgedByItsOwnClock) {
    // The first module ran for 20 minutes; the one opened after it has just powered up. Its
    // motor is not finished before its own clock says the steps have played.
    Calibrate(20 * 60 * 7812);
    protocol->ResetUsbBuffers();
    Calibrate();
    SetProgram(0, {{3, 100, 0, kDirRight}});
    protocol->StartMotor(0);
    channel.Take();
    Dispatch(Status({12, 12, 12, 12}));
    ASSERT_EQ(Segments(channel.Take()).size(), 1u);
    timers.SetNowMs(timers.NowMs() + 8);
    Dispatch(Clock(25 * 62, 0xFF));
    EXPECT_FALSE(motors[0]->Finished());
    timers.SetNowMs(timers.NowMs() + 500);
    Dispatch(Clock(25 * 62 + 500 * 7.75, 0xFF));
    EXPECT_TRUE(motors[0]->Finished());
}

}  // namespace
}  // namespace usb
