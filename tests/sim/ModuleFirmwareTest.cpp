// The virtual module's firmware in virtual time: command lists, segment timing, direct output,
// clearing, resets with reference switches, clock and status reports, and the step trace.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "sim/module/ModuleTrace.h"
#include "sim/module/VirtualModule.h"
#include "testsupport/ReportBytes.h"

namespace sim {
namespace {

constexpr uint64_t kTickUs = VirtualModule::kMicrosecondsPerTick;

using testsupport::Bytes;
using testsupport::ClockTicks;
using testsupport::kGetMotorStatus;

// A segment as the host builds it: steps 1 goes out without a count.
Report Segment(int motor, int period, bool left, int steps, int delay) {
    Report r{};
    r[1] = static_cast<uint8_t>(motor * 16);
    r[2] = static_cast<uint8_t>(period & 0xFF);
    r[3] = static_cast<uint8_t>((period >> 8) & 0x3F) | (left ? 0x40 : 0) | (steps > 1 ? 0x80 : 0);
    r[4] = static_cast<uint8_t>(steps > 1 ? steps : 0);
    r[5] = static_cast<uint8_t>(delay & 0xFF);
    r[6] = static_cast<uint8_t>(delay >> 8);
    return r;
}

const Report kResetCancel = Bytes({0, 0x03, 19, 0});
const Report kStartUp3 = Bytes({0, 0x03, 19, 0, 0, 0, 0, 0xFF, 0xFF});

Report ClearList(int target) {
    return Bytes({0, static_cast<uint8_t>(target * 16 + 7), 0, 0, 0, 0, 0, 0xFF, 0xFF});
}
Report StartReset(uint8_t mask, const Report& resetSegment) {
    Report r = resetSegment;
    r[1] = 0x09;
    r[2] = mask;
    return r;
}
Report DirectOutput(uint8_t phases) {
    return Bytes({0, 0x0A, phases, 0xFF, 0, 0, 0, 0xFF, 0xFF});
}

// The module powered up at time 0, its steps and reports collected, time moved by the test.
class Firmware {
  public:
    Firmware() : trace(out), module(&trace) {
        module.PowerUp(0);
        module.SetStepListener([this](const ModuleStep& s) { steps.push_back(s); });
    }

    void Send(const Report& report, uint64_t atUs) {
        module.Receive(report.data(), report.size(), atUs, reports);
    }
    void SendAtTick(const Report& report, uint64_t tick) { Send(report, tick * kTickUs); }
    // Moves time on in steps of 1 ms, as a caller that keeps the module running does.
    void RunUntil(uint64_t us) {
        for (uint64_t t = now_ + 1000; t < us; t += 1000)
            module.Advance(t, reports);
        module.Advance(us, reports);
        now_ = us;
    }
    void RunUntilTick(uint64_t tick) { RunUntil(tick * kTickUs); }
    Report Status(uint64_t atUs) {
        const size_t before = reports.size();
        Send(kGetMotorStatus, atUs);
        EXPECT_GT(reports.size(), before);
        return reports.back();
    }
    std::vector<uint64_t> TicksOf(int motor) const {
        std::vector<uint64_t> ticks;
        for (const ModuleStep& s : steps)
            if (s.motor == motor) ticks.push_back(s.elapsed);
        return ticks;
    }
    std::vector<Report> ClockReports() const {
        std::vector<Report> clocks;
        for (const Report& r : reports)
            if (r[1] == 4) clocks.push_back(r);
        return clocks;
    }

    std::ostringstream out;
    ModuleTrace trace;
    VirtualModule module;
    std::vector<ModuleStep> steps;
    std::vector<Report> reports;

  private:
    uint64_t now_ = 0;
};

std::vector<uint64_t> Arithmetic(uint64_t first, uint64_t period, size_t count) {
    std::vector<uint64_t> ticks;
    for (size_t k = 0; k < count; ++k)
        ticks.push_back(first + k * period);
    return ticks;
}

// 300 steps as the host streams them: 255 then 45, the second due 255 periods after the first.
TEST(ModuleFirmwareTest, PlaysA255And45StepPairAs300StepsAtThePeriod) {
    Firmware f;
    f.SendAtTick(Segment(1, 10, false, 255, 5), 0);
    f.SendAtTick(Segment(1, 10, false, 45, 2550), 0);
    EXPECT_EQ(f.module.FreePlaces(1), 6);
    f.RunUntilTick(5 + 254 * 10);  // the 255th step
    EXPECT_EQ(f.module.FreePlaces(1), 9) << "the first segment leaves with its last step";
    f.RunUntilTick(5 + 299 * 10 - 1);
    EXPECT_EQ(f.module.FreePlaces(1), 9) << "the last step is still to come";
    f.RunUntilTick(10000);

    EXPECT_EQ(f.TicksOf(1), Arithmetic(5, 10, 300));
    ASSERT_EQ(f.steps.size(), 300u);
    EXPECT_EQ(f.steps.back().position, 300);
    EXPECT_EQ(f.module.Position(1), 300);
    EXPECT_EQ(f.module.FreePlaces(1), 12);
    EXPECT_FALSE(f.module.Playing(1));
    for (int m = 2; m <= 4; ++m)
        EXPECT_EQ(f.module.Position(m), 0);
}

// Gray code and position, both directions, from phase 0.
TEST(ModuleFirmwareTest, StepsAdvanceThePhaseInGrayCode) {
    struct Case {
        bool left;
        std::vector<int> phases;
        int direction;
        int position;
    };
    const Case cases[] = {{false, {1, 3, 2, 0, 1}, 2, 5}, {true, {2, 3, 1, 0, 2}, 1, -5}};
    for (const Case& c : cases) {
        Firmware f;
        f.SendAtTick(Segment(3, 4, c.left, 5, 1), 0);
        f.RunUntilTick(100);
        ASSERT_EQ(f.steps.size(), 5u);
        for (size_t i = 0; i < 5; ++i) {
            EXPECT_EQ(f.steps[i].phase, c.phases[i]) << c.left << " " << i;
            EXPECT_EQ(f.steps[i].direction, c.direction);
            EXPECT_EQ(f.steps[i].motor, 3);
        }
        EXPECT_EQ(f.module.Position(3), c.position);
        EXPECT_EQ(f.module.PhaseByte(), c.phases[4] << 4);
    }
}

// The second segment's first step: the first segment's reference (due tick) + its delay, but
// never before the first segment's last step has been played.
TEST(ModuleFirmwareTest, DelayCountsFromThePreviousSegmentsFirstStep) {
    struct Case {
        const char* name;
        int delay2;
        uint64_t first2;
        uint64_t overlaps;
    };
    // First segment: 3 steps every 10 ticks, due at 5: steps at 5, 15, 25. A second segment due
    // at or before 25 overlaps: it plays from the tick after, and is counted.
    const Case cases[] = {
        {"right after the last step's period", 30, 35, 0},
        {"a gap after the segment", 100, 105, 0},
        {"due on the last step's tick", 20, 26, 1},
        {"due before the first segment has ended", 1, 26, 1},
        {"largest delay", 16382, 16387, 0},
    };
    for (const Case& c : cases) {
        Firmware f;
        f.SendAtTick(Segment(2, 10, false, 3, 5), 0);
        f.SendAtTick(Segment(2, 7, true, 2, c.delay2), 3);
        f.RunUntilTick(20000);
        const std::vector<uint64_t> expected = {5, 15, 25, c.first2, c.first2 + 7};
        EXPECT_EQ(f.TicksOf(2), expected) << c.name;
        EXPECT_EQ(f.module.Position(2), 1) << c.name;
        EXPECT_EQ(f.module.Overlaps(2), c.overlaps) << c.name;
        EXPECT_EQ(f.out.str().find("overlap 2 due 25 after 25") != std::string::npos,
                  c.delay2 == 20)
            << c.name;
        EXPECT_EQ(f.module.Underruns(2), 0u) << c.name;
    }
}

// An underrun: the list ran dry by playing, and soon after a segment of the run comes overdue.
TEST(ModuleFirmwareTest, ALateSegmentAfterTheListRanDryIsAnUnderrun) {
    struct Case {
        const char* name;
        bool clear;        // a ClearCommandList after the list ran dry
        uint64_t arrival;  // tick
        int delay;
        uint64_t underruns;
        int firstSteps = 3;
    };
    // Three steps every 10 ticks from tick 5: the list runs dry at 25. Whatever its delay, a
    // segment that comes soon after cannot play at its chained due tick. A lone step timed from
    // its arrival (a jog's) is a chain of its own: what follows it starts a new one.
    const Case cases[] = {
        {"timed from its arrival, at once", false, 100, 1, 1},
        {"chained, due before it arrived", false, 100, 50, 1},
        {"chained, its delay still ahead", false, 100, 500, 1},
        {"timed from its arrival, due later", false, 100, 15, 1},
        {"after a clear", true, 100, 1, 0},
        {"long after the list ran dry", false, 25 + VirtualModule::kUnderrunWindowTicks + 1, 1, 0},
        {"long after, a pause's end still ahead", false, 5000, 6000, 1},
        {"long after, a pause's end already past", false, 5000, 4000, 0},
        {"after a lone step, a jog's next step", false, 100, 1, 0, 1},
        {"after a lone step, a segment due later", false, 100, 500, 0, 1},
    };
    for (const Case& c : cases) {
        Firmware f;
        f.SendAtTick(Segment(3, 10, false, c.firstSteps, 5), 0);
        f.RunUntilTick(c.arrival - 1);
        if (c.clear) f.SendAtTick(ClearList(3), c.arrival - 1);
        f.SendAtTick(Segment(3, 10, false, 2, c.delay), c.arrival);
        f.RunUntilTick(c.arrival + 8000);
        EXPECT_EQ(f.module.Underruns(3), c.underruns) << c.name;
        EXPECT_EQ(f.out.str().find("underrun 3 dry since") != std::string::npos, c.underruns > 0)
            << c.name;
        // nothing repaired away
        EXPECT_EQ(f.TicksOf(3).size(), static_cast<size_t>(c.firstSteps + 2)) << c.name;
        EXPECT_EQ(f.module.Overlaps(3), 0u) << c.name;
    }
}

// A reference is the due tick: a late start does not shift the segments after it.
TEST(ModuleFirmwareTest, ALateStartDoesNotShiftLaterSegments) {
    Firmware f;
    f.SendAtTick(Segment(1, 10, false, 3, 5), 0);  // 5, 15, 25
    f.SendAtTick(Segment(1, 1, false, 0, 1), 0);   // due 6, played at 26
    f.SendAtTick(Segment(1, 1, false, 0, 40), 0);  // due 46: from 6, not from 26
    f.RunUntilTick(1000);
    EXPECT_EQ(f.TicksOf(1), (std::vector<uint64_t>{5, 15, 25, 26, 46}));
    EXPECT_EQ(f.module.Overlaps(1), 1u);  // the one due at 6
}

// An idle motor counts the delay from the arrival (mid-tick arrivals count their tick); a
// segment that arrives while another still waits for its first step chains to it.
TEST(ModuleFirmwareTest, AnIdleMotorCountsTheDelayFromTheArrival) {
    Firmware f;
    f.Send(Segment(4, 10, false, 0, 10), 1000);   // tick 7 (896 us)
    f.Send(Segment(4, 10, false, 0, 100), 1100);  // not idle: due 17 + 100
    f.RunUntil(50000);                            // both played; idle since tick 117
    f.Send(Segment(4, 10, true, 0, 10), 50000);   // tick 390: due 400
    f.RunUntil(100000);
    EXPECT_EQ(f.TicksOf(4), (std::vector<uint64_t>{17, 117, 400}));
    EXPECT_EQ(f.steps.back().timeUs, 400 * kTickUs);
    EXPECT_EQ(f.module.Position(4), 1);
}

// Free places: exact in the status report, as levels in the clock report (never more than
// there are); a segment that does not fit is dropped and counted, the list plays on.
TEST(ModuleFirmwareTest, FreePlacesLevelsAndOverflow) {
    struct Row {
        int steps;  // 1 = without count (2 places), else with count (3 places)
        int free;
        uint8_t level;
        uint64_t rejected;
    };
    const Row rows[] = {
        {255, 9, 2, 0}, {1, 7, 2, 0}, {3, 4, 1, 0},
        {1, 2, 0, 0},   {2, 2, 0, 1},  // 3 places do not fit into 2
        {1, 0, 0, 1},                  // 2 do
        {1, 0, 0, 2},                  // nothing fits into 0
    };
    Firmware f;
    uint64_t t = 0;
    for (const Row& r : rows) {
        t += 1000;
        f.Send(Segment(3, 100, false, r.steps, 16000), t);  // far in the future
        const Report status = f.Status(t);
        EXPECT_EQ(status[1], 5);
        EXPECT_EQ(status[6], r.free) << t;
        EXPECT_EQ(status[4], 12);
        EXPECT_EQ(f.module.RejectedSegments(3), r.rejected);
        const Report clock = f.module.ClockReport(t);
        EXPECT_EQ(clock[8], 0xCF | (r.level << 4)) << t;
    }
    // What was taken plays in full: 255 + 1 + 3 + 1 + 1 steps, the last due 16000 ticks after
    // the one before it (at 80007 ticks, 10.24 s).
    f.RunUntil(11000000);
    EXPECT_EQ(f.module.Position(3), 261);
    EXPECT_EQ(f.Status(11000000)[6], 12);
    EXPECT_EQ(f.module.RejectedSegments(1), 0u);
    EXPECT_NE(f.out.str().find("rejected 3 list full, 2 steps lost"), std::string::npos)
        << "the trace shows the steps a full list lost";
}

// Clock reports every 8 ms of module time, with the levels as they stand; a late caller gets one.
TEST(ModuleFirmwareTest, ClockReportsEvery8Milliseconds) {
    Firmware f;
    f.RunUntil(40000);
    std::vector<uint64_t> ticks;
    for (const Report& r : f.ClockReports())
        ticks.push_back(ClockTicks(r));
    EXPECT_EQ(ticks, (std::vector<uint64_t>{62, 125, 187, 250, 312}));

    f.SendAtTick(Segment(1, 1000, false, 2, 1000), 320);  // 9 free: level 2
    f.RunUntil(48000);
    EXPECT_EQ(f.reports.back()[8], 0xFE);
    f.reports.clear();
    f.module.Advance(100000, f.reports);  // 52 ms late: one report, for now
    ASSERT_EQ(f.reports.size(), 1u);
    EXPECT_EQ(ClockTicks(f.reports[0]), 781u);
    EXPECT_EQ(f.module.NextEventUs(), 108000u);
}

// Direct output sets the four phases and moves nothing; steps go on from the phase it set.
TEST(ModuleFirmwareTest, DirectOutputSetsThePhases) {
    Firmware f;
    f.Send(DirectOutput(0xE4), 1000);  // motors 1..4: 0, 1, 2, 3
    EXPECT_EQ(f.Status(1000)[3], 0xE4);
    for (int m = 1; m <= 4; ++m)
        EXPECT_EQ(f.module.Position(m), 0);
    EXPECT_TRUE(f.steps.empty());

    f.Send(Segment(4, 5, false, 0, 1), 2000);  // motor 4 from 3 to the right: 2
    f.Send(Segment(2, 5, true, 0, 1), 2000);   // motor 2 from 1 to the left: 0
    f.RunUntil(10000);
    EXPECT_EQ(f.Status(10000)[3], 0xA0);
}

// ClearCommandList stops the motor it names (0 = all) at once; 5 to 15 name nobody. A cleared
// motor is idle: its next segment counts from its arrival.
TEST(ModuleFirmwareTest, ClearCommandListStopsOneMotorOrAll) {
    Firmware f;
    for (int m = 1; m <= 4; ++m)
        f.SendAtTick(Segment(m, 10, false, 255, 1), 0);
    f.RunUntilTick(101);  // 11 steps each, at 1, 11, ..., 101
    f.SendAtTick(ClearList(2), 105);
    f.SendAtTick(ClearList(5), 105);
    f.SendAtTick(ClearList(15), 105);
    f.RunUntilTick(201);
    EXPECT_EQ(f.module.Position(2), 11);
    EXPECT_EQ(f.module.FreePlaces(2), 12);
    EXPECT_FALSE(f.module.Playing(2));
    for (int m : {1, 3, 4}) {
        EXPECT_EQ(f.module.Position(m), 21) << m;
        EXPECT_EQ(f.module.FreePlaces(m), 9) << m;
    }

    f.SendAtTick(ClearList(0), 205);
    f.SendAtTick(Segment(2, 10, false, 0, 3), 300);
    f.RunUntilTick(5000);
    EXPECT_EQ(f.module.Position(1), 21);
    EXPECT_EQ(f.module.Position(3), 21);
    EXPECT_EQ(f.module.Position(4), 21);
    EXPECT_EQ(f.TicksOf(2).back(), 303u);
    const Report status = f.Status(5000 * kTickUs);
    EXPECT_EQ(status, Bytes({0, 5, 0, f.module.PhaseByte(), 12, 12, 12, 12}));
}

// A reset steps in the reset segment's direction at its period from its due tick until the
// reference switch closes, beyond the segment's 255 steps if need be, then clears its bit.
TEST(ModuleFirmwareTest, ResetStepsUntilTheSwitchAndClearsItsBit) {
    struct Case {
        const char* name;
        bool left;
        int32_t switchAt;
        int steps;
    };
    const Case cases[] = {
        {"left to -20", true, -20, 20},
        {"right to 7", false, 7, 7},
        {"beyond 255 steps", true, -300, 300},
    };
    for (const Case& c : cases) {
        Firmware f;
        f.module.SetReferenceSwitch(2, c.switchAt);
        const Report segment = Segment(2, 16, c.left, 255, 639);
        f.Send(ClearList(2), 1000);
        f.Send(segment, 1000);
        f.Send(StartReset(0x02, segment), 1000);  // tick 7: due 646
        EXPECT_EQ(f.Status(1000)[2], 0x02) << c.name;
        EXPECT_EQ(f.module.ResetMask(), 0x02);
        f.RunUntilTick(646 + (c.steps - 1) * 16 - 1);
        EXPECT_EQ(f.module.ResetMask(), 0x02) << c.name << ": one step to go";
        f.RunUntilTick(646 + (c.steps - 1) * 16);
        EXPECT_EQ(f.module.ResetMask(), 0) << c.name;
        f.RunUntilTick(20000);
        EXPECT_EQ(f.TicksOf(2), Arithmetic(646, 16, c.steps)) << c.name;
        EXPECT_EQ(f.module.Position(2), c.switchAt) << c.name;
        const Report status = f.Status(20000 * kTickUs);
        EXPECT_EQ(status[2], 0);
        EXPECT_EQ(status[5], 12) << "the reset segment has left the list";
    }
}

// A motor of the mask whose switch is closed already, or that was sent no segment, ends its
// reset at once; the others go on.
TEST(ModuleFirmwareTest, ResetEndsAtOnceWithNothingToDo) {
    Firmware f;
    f.module.SetReferenceSwitch(1, 5);   // right: closed from 5 on
    f.module.SetReferenceSwitch(3, -5);  // left: open
    f.SendAtTick(Segment(1, 5, false, 5, 1), 0);
    f.RunUntilTick(100);  // motor 1 at 5
    const Report seg1 = Segment(1, 16, false, 255, 639);
    const Report seg3 = Segment(3, 16, true, 255, 639);
    f.SendAtTick(seg1, 100);
    f.SendAtTick(seg3, 100);
    f.SendAtTick(StartReset(0x0F, seg3), 100);
    EXPECT_EQ(f.module.ResetMask(), 0x04);
    EXPECT_EQ(f.module.FreePlaces(1), 12);
    f.RunUntilTick(5000);
    EXPECT_EQ(f.module.ResetMask(), 0);
    EXPECT_EQ(f.module.Position(1), 5);
    EXPECT_EQ(f.module.Position(3), -5);
    EXPECT_EQ(f.module.Position(2), 0);
}

// The reset cancel (command 3 with 0 in bytes 7 and 8) stops every reset where it is; the
// start-up command 3 (0xFF there) does not. Clearing a motor's list ends its reset too.
TEST(ModuleFirmwareTest, ResetCancelAndClearStopResets) {
    Firmware f;
    f.module.SetReferenceSwitch(1, -1000);
    f.module.SetReferenceSwitch(4, -1000);
    const Report seg1 = Segment(1, 10, true, 255, 10);
    const Report seg4 = Segment(4, 10, true, 255, 10);
    f.SendAtTick(seg1, 0);
    f.SendAtTick(seg4, 0);
    f.SendAtTick(StartReset(0x09, seg4), 0);
    f.RunUntilTick(100);  // 10 steps: 10, 20, ..., 100
    f.SendAtTick(kStartUp3, 100);
    EXPECT_EQ(f.module.ResetMask(), 0x09);
    f.SendAtTick(ClearList(4), 105);
    EXPECT_EQ(f.module.ResetMask(), 0x01);
    f.RunUntilTick(200);
    f.SendAtTick(kResetCancel, 205);
    EXPECT_EQ(f.module.ResetMask(), 0);
    f.RunUntilTick(1000);
    EXPECT_EQ(f.module.Position(1), -20);
    EXPECT_EQ(f.module.Position(4), -10);
    EXPECT_EQ(f.Status(1000 * kTickUs), Bytes({0, 5, 0, f.module.PhaseByte(), 12, 12, 12, 12}));
}

// A direct output that changes the coils of a motor whose segments are playing is a coil
// overwrite: counted, traced, and carried out (the motor loses its step). The same phase, or a
// motor that plays nothing, is none.
TEST(ModuleFirmwareTest, ADirectOutputOnAPlayingMotorIsACoilOverwrite) {
    struct Case {
        const char* name;
        uint8_t phases;       // of the direct output, sent at tick 20
        uint64_t overwrites;  // of motor 2
        const char* traced;   // nullptr for none
    };
    // Motor 2 plays 3 steps right every 10 ticks from 5 (phase 1 at 5, 3 at 15); motor 1 idle.
    const Case cases[] = {
        {"another phase for the playing motor", 0x00, 1, "coil overwrite 2 phase 3 to 0"},
        {"the same phase for it, another for the idle one", 0x0E, 0, nullptr},
        {"the playing motor's phase moved two places", 0x04, 1, "coil overwrite 2 phase 3 to 1"},
    };
    for (const Case& c : cases) {
        Firmware f;
        f.SendAtTick(Segment(2, 10, false, 3, 5), 0);
        f.RunUntilTick(20);
        f.SendAtTick(DirectOutput(c.phases), 20);
        f.RunUntilTick(100);
        EXPECT_EQ(f.module.CoilOverwrites(2), c.overwrites) << c.name;
        EXPECT_EQ(f.module.CoilOverwrites(1), 0u) << c.name;
        EXPECT_EQ(f.out.str().find("coil overwrite") != std::string::npos, c.traced != nullptr)
            << c.name;
        if (c.traced != nullptr) {
            EXPECT_NE(f.out.str().find(c.traced), std::string::npos) << c.name;
        }
        EXPECT_EQ(f.module.Position(2), 3) << c.name << ": the position does not change";
    }
    // After its list has played out, the motor is free for direct output.
    Firmware f;
    f.SendAtTick(Segment(2, 10, false, 3, 5), 0);
    f.RunUntilTick(100);
    f.SendAtTick(DirectOutput(0x00), 100);
    EXPECT_EQ(f.module.CoilOverwrites(2), 0u);
}

// Odd segments: a period of 0 plays as 1 tick; a count of 0 or 1 with the count bit is one step.
TEST(ModuleFirmwareTest, OddSegmentsStillPlaySafely) {
    Firmware f;
    Report zeroPeriod = Segment(1, 0, false, 4, 2);
    Report countZero = Segment(2, 10, false, 2, 2);
    countZero[4] = 0;
    Report countOne = Segment(3, 10, false, 2, 2);
    countOne[4] = 1;
    f.SendAtTick(zeroPeriod, 0);
    f.SendAtTick(countZero, 0);
    f.SendAtTick(countOne, 0);
    EXPECT_EQ(f.module.FreePlaces(2), 9);
    f.RunUntilTick(100);
    EXPECT_EQ(f.TicksOf(1), (std::vector<uint64_t>{2, 3, 4, 5}));
    EXPECT_EQ(f.TicksOf(2), (std::vector<uint64_t>{2}));
    EXPECT_EQ(f.TicksOf(3), (std::vector<uint64_t>{2}));
}

// Across the 48-bit wrap the trace's tick wraps while the rhythm goes on; the trace's lines are
// the received report and one line per step, in time order across motors.
TEST(ModuleFirmwareTest, TraceLinesAcrossTheClockWrap) {
    std::ostringstream out;
    ModuleTrace trace(out);
    VirtualModule module(&trace);
    const uint64_t last = (uint64_t{1} << 48) - 1;
    module.PowerUp(1000000, last - 2);  // at 1 s
    std::vector<Report> reports;
    const Report a = Segment(1, 2, false, 3, 1);
    const Report b = Segment(2, 3, true, 0, 4);
    module.Receive(a.data(), a.size(), 1000000, reports);
    module.Receive(b.data(), b.size(), 1000000, reports);
    module.Advance(1010000, reports);
    EXPECT_EQ(out.str(),
              "tick,seconds,motor,direction,phase,position,report\n"
              "281474976710653,1.000000,,,,,00 10 02 80 03 01 00 00 00 00 00 00 00 00 00 00\n"
              "281474976710653,1.000000,,,,,00 20 03 40 00 04 00 00 00 00 00 00 00 00 00 00\n"
              "281474976710654,1.000128,1,2,1,1,\n"
              "0,1.000384,1,2,3,2,\n"
              "1,1.000512,2,1,2,-1,\n"
              "2,1.000640,1,2,2,3,\n");
    // The unasked status reports of motor 2's and motor 1's lists running empty, then the clock.
    ASSERT_EQ(reports.size(), 3u);
    EXPECT_EQ(reports[0][1], 5);
    EXPECT_EQ(reports[1][1], 5);
    EXPECT_EQ(ClockTicks(reports[2]), 75u);  // 78 ticks after last - 2
}

// Status reports the module sends on its own: when a list runs empty by playing and when a
// reset ends, each with the state of its moment; none for a clear, and none at all when the
// option is off.
TEST(ModuleFirmwareTest, UnaskedStatusReportsWhenAListRunsEmptyOrAResetEnds) {
    struct Case {
        const char* name;
        bool unasked;
        std::vector<Report> sent;  // all at tick 0
        uint64_t runToTick;
        std::vector<Report> expected;  // the status reports sent, in order
    };
    const Report seg1 = Segment(1, 10, false, 3, 5);     // steps at 5, 15, 25
    const Report seg2 = Segment(2, 10, false, 0, 100);   // one step at 100
    const Report reset3 = Segment(3, 10, true, 255, 5);  // 4 steps left to the switch at -4
    const Case cases[] = {
        {"a list runs empty", true, {seg1}, 100, {Bytes({0, 5, 0, 0x02, 12, 12, 12, 12})}},
        {"each list on its own, in order",
         true,
         {seg2, seg1},
         200,
         {Bytes({0, 5, 0, 0x02, 12, 10, 12, 12}), Bytes({0, 5, 0, 0x06, 12, 12, 12, 12})}},
        {"a reset ends at its switch",
         true,
         {reset3, StartReset(0x04, reset3)},
         100,
         {Bytes({0, 5, 0, 0x00, 12, 12, 12, 12})}},
        {"a reset with nothing to do ends at once",
         true,
         {StartReset(0x08, reset3)},
         100,
         {Bytes({0, 5, 0, 0, 12, 12, 12, 12})}},
        {"a reset cancel",
         true,
         {reset3, StartReset(0x04, reset3), kResetCancel},
         100,
         {Bytes({0, 5, 0, 0, 12, 12, 12, 12})}},
        {"a clear sends nothing", true, {seg1, ClearList(1)}, 100, {}},
        {"the option off", false, {seg1, reset3, StartReset(0x04, reset3)}, 100, {}},
    };
    for (const Case& c : cases) {
        Firmware f;
        f.module.SetReferenceSwitch(3, -4);
        f.module.SetUnaskedStatusReports(c.unasked);
        for (const Report& r : c.sent)
            f.SendAtTick(r, 0);
        f.RunUntilTick(c.runToTick);
        std::vector<Report> statuses;
        for (const Report& r : f.reports)
            if (r[1] == 5) statuses.push_back(r);
        EXPECT_EQ(statuses, c.expected) << c.name;
        EXPECT_EQ(f.module.UnaskedStatusCount(), c.expected.size()) << c.name;
    }
}

}  // namespace
}  // namespace sim
