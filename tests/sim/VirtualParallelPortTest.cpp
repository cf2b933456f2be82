// The virtual parallel port's model: motors counted from the Gray code on the data lines, faults,
// which address is the data register, the switch bits, the trace lines, the state kept across a
// reload, and the settings file parser.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "sim/parport/PortSettings.h"
#include "sim/parport/PortTrace.h"
#include "sim/parport/VirtualParallelPort.h"

namespace {

using sim::PortSettings;
using sim::PortTrace;
using sim::ReferenceSwitch;
using sim::VirtualParallelPort;
using Side = ReferenceSwitch::Side;

constexpr uint16_t kLpt1 = 0x378;

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

// The event column (everything after the sixth comma).
std::string Event(const std::string& line) {
    size_t at = 0;
    for (int comma = 0; comma < 6; ++comma)
        at = line.find(',', at) + 1;
    return line.substr(at);
}

struct TracedPort {
    std::ostringstream out;
    PortTrace trace{out};
    VirtualParallelPort port{&trace};
    std::vector<std::string> lines() const { return Lines(out.str()); }
};

// Writes each code of motor (1 to 4) to the data register, the other motors at 0.
void WriteCodes(VirtualParallelPort& port, int motor, const std::vector<int>& codes) {
    for (int code : codes)
        port.Write(kLpt1, static_cast<uint16_t>(0xFF00 | (code << (2 * (motor - 1)))), 0);
}

TEST(VirtualParallelPort, GrayCodeCountsStepsOfEveryMotorInBothDirections) {
    struct Case {
        std::vector<int> codes;
        std::vector<int32_t> positions;  // after each write
        int direction;
    };
    const Case cases[] = {
        {{1, 3, 2, 0, 1}, {1, 2, 3, 4, 5}, 2},
        {{2, 3, 1, 0, 2}, {-1, -2, -3, -4, -5}, 1},
    };
    for (int motor = 1; motor <= 4; ++motor) {
        for (const Case& c : cases) {
            SCOPED_TRACE("motor " + std::to_string(motor) + " direction " +
                         std::to_string(c.direction));
            TracedPort rig;
            for (size_t i = 0; i < c.codes.size(); ++i) {
                WriteCodes(rig.port, motor, {c.codes[i]});
                EXPECT_EQ(rig.port.Position(motor), c.positions[i]);
                EXPECT_EQ(rig.port.Phase(motor), c.codes[i]);
            }
            for (int other = 1; other <= 4; ++other)
                if (other != motor) {
                    EXPECT_EQ(rig.port.Position(other), 0);
                }
            EXPECT_EQ(rig.port.Faults(motor), 0u);
            // Each write: its out line, then the step line with the motor, direction, phase,
            // position after the step.
            const auto lines = rig.lines();
            ASSERT_EQ(lines.size(), 2 * c.codes.size());
            const std::string last = lines.back();
            EXPECT_EQ(last.substr(last.find(',', last.find(',') + 1) + 1),
                      std::to_string(motor) + "," + std::to_string(c.direction) + "," +
                          std::to_string(c.codes.back()) + "," +
                          std::to_string(c.positions.back()) + ",");
        }
    }
}

TEST(VirtualParallelPort, ReversingAndTheOtherMotorsCodesRiding) {
    VirtualParallelPort port;
    // Motor 1 two steps right, motor 3 one step left while motor 1 holds code 3.
    port.Write(kLpt1, 0xFF01, 0);
    port.Write(kLpt1, 0xFF03, 0);
    port.Write(kLpt1, 0xFF23, 0);
    EXPECT_EQ(port.Position(1), 2);
    EXPECT_EQ(port.Position(3), -1);
    EXPECT_EQ(port.Phase(3), 2);
    // Motor 1 back one (3 -> 1 is left), motor 3 stays at 2.
    port.Write(kLpt1, 0xFF21, 0);
    EXPECT_EQ(port.Position(1), 1);
    EXPECT_EQ(port.Position(3), -1);
    // A write of the same byte moves nothing.
    port.Write(kLpt1, 0xFF21, 0);
    EXPECT_EQ(port.Position(1), 1);
}

TEST(VirtualParallelPort, AJumpOfTwoCodesIsAFaultAndDoesNotMove) {
    const std::pair<int, int> jumps[] = {{0, 3}, {3, 0}, {1, 2}, {2, 1}};
    for (const auto& [from, to] : jumps) {
        SCOPED_TRACE(std::to_string(from) + " -> " + std::to_string(to));
        TracedPort rig;
        // Walk motor 2 to code "from" one step at a time, then jump.
        const std::vector<int> walk = from == 0   ? std::vector<int>{}
                                      : from == 1 ? std::vector<int>{1}
                                      : from == 3 ? std::vector<int>{1, 3}
                                                  : std::vector<int>{2};
        WriteCodes(rig.port, 2, walk);
        const int32_t before = rig.port.Position(2);
        WriteCodes(rig.port, 2, {to});
        EXPECT_EQ(rig.port.Position(2), before);
        EXPECT_EQ(rig.port.Faults(2), 1u);
        EXPECT_EQ(rig.port.Phase(2), to);
        EXPECT_EQ(rig.lines().back(), PortTrace::Line(0, 2, 0, to, before, "fault"));
        // The motor goes on from the code it now holds: one place right of "to".
        const int nextRight[] = {1, 3, 0, 2};
        WriteCodes(rig.port, 2, {nextRight[to]});
        EXPECT_EQ(rig.port.Position(2), before + 1);
        EXPECT_EQ(rig.port.Faults(2), 1u);
    }
}

TEST(VirtualParallelPort, SeveralMotorsInOneWriteAreTracedAfterTheWriteInMotorOrder) {
    TracedPort rig;
    rig.port.Write(kLpt1, 0xFF00 | 0x02 | (0x01 << 4) | (0x03 << 6), 1500);
    EXPECT_EQ(rig.lines(), (std::vector<std::string>{
                               "1500,0.001500,0,0,0,0,out 0378 d2",
                               "1500,0.001500,1,1,2,-1,",
                               "1500,0.001500,3,2,1,1,",
                               "1500,0.001500,4,0,3,0,fault",
                           }));
}

TEST(VirtualParallelPort, TheBindingWritesAreRegisterWritesAndTheDataAddressIsTheBase) {
    TracedPort rig;
    VirtualParallelPort& port = rig.port;
    EXPECT_EQ(port.Read(kLpt1 + 1), 0xFF);  // nothing written yet: no register anywhere
    port.Write(kLpt1 + 1, 0, 10);
    port.Write(kLpt1 + 2, 0, 20);
    EXPECT_FALSE(port.Base().has_value());
    // The status register answers already (the reset drive may read before the first step).
    EXPECT_EQ(port.Read(kLpt1 + 1), port.Status());
    port.Write(kLpt1, static_cast<uint16_t>(0xFF01), 30);
    EXPECT_EQ(port.Base(), kLpt1);
    EXPECT_EQ(port.Position(1), 1);
    EXPECT_EQ(rig.lines(), (std::vector<std::string>{
                               "10,0.000010,0,0,0,0,register 0379 00",
                               "20,0.000020,0,0,0,0,register 037a 00",
                               "30,0.000030,0,0,0,0,out 0378 01",
                               "30,0.000030,1,2,1,1,",
                           }));
    // Reads: data register reads back, control what was written, elsewhere nothing.
    EXPECT_EQ(port.Read(kLpt1), 0x01);
    EXPECT_EQ(port.Read(kLpt1 + 2), 0x00);
    EXPECT_EQ(port.Read(0x300), 0xFF);
    // A write to status or control of a named base never moves a motor, whatever its value.
    port.Write(kLpt1 + 2, 0x0C, 40);
    port.Write(kLpt1 + 1, 0xFF03, 40);
    EXPECT_EQ(port.Position(1), 1);
    EXPECT_EQ(port.Read(kLpt1 + 2), 0x0C);
    EXPECT_EQ(Event(rig.lines().back()), "register 0379 03");
}

TEST(VirtualParallelPort, AnotherBaseTakesOverAndZeroOnlyCountsAtTheBase) {
    VirtualParallelPort port;
    port.Write(kLpt1, 0xFF01, 0);
    // LPT1 -> LPT2 while bound: the program's next data write goes to 0x278.
    port.Write(0x278, 0xFF03, 0);
    EXPECT_EQ(port.Base(), 0x278);
    EXPECT_EQ(port.Position(1), 2);
    EXPECT_EQ(port.Read(0x279), port.Status());
    EXPECT_EQ(port.Read(kLpt1 + 1), 0xFF);
    // A plain 0 to the base is data (code 3 -> 0 is a jump: a fault), to another address not.
    port.Write(0x300, 0, 0);
    EXPECT_EQ(port.Faults(1), 0u);
    port.Write(0x278, 0, 0);
    EXPECT_EQ(port.Faults(1), 1u);
    EXPECT_EQ(port.Phase(1), 0);

    // A test that starts with a plain 0 at its base and goes on with plain bytes.
    VirtualParallelPort fresh;
    fresh.Write(kLpt1, 0x0000, 0);
    fresh.Write(kLpt1, 0x0002, 0);
    EXPECT_EQ(fresh.Base(), kLpt1);
    EXPECT_EQ(fresh.Position(1), -1);
}

TEST(VirtualParallelPort, SwitchesCloseAtTheirPositionAndBeyondOnTheirSide) {
    struct Case {
        ReferenceSwitch at;
        std::vector<int32_t> open, closed;
    };
    const Case cases[] = {
        {{-2, Side::Left}, {0, -1, 5}, {-2, -3, -100}},
        {{3, Side::Right}, {0, 2, -10}, {3, 4, 50}},
        {{0, Side::Right}, {-1}, {0, 1}},
    };
    // Motor m walks from 0 to each position; only its own bit follows its switch.
    for (int motor = 1; motor <= 4; ++motor) {
        const uint8_t bit = VirtualParallelPort::kSwitchBits[static_cast<size_t>(motor - 1)];
        for (const Case& c : cases) {
            for (const bool expectClosed : {false, true}) {
                for (int32_t target : expectClosed ? c.closed : c.open) {
                    SCOPED_TRACE("motor " + std::to_string(motor) + " at " +
                                 std::to_string(target));
                    VirtualParallelPort port;
                    std::array<ReferenceSwitch, 4> switches{};
                    for (auto& s : switches)
                        s = {1000000, Side::Right};  // others never closed
                    switches[static_cast<size_t>(motor - 1)] = c.at;
                    port.SetSwitches(switches);
                    port.Write(kLpt1, 0xFF00, 0);  // names the base; moves nothing
                    const int right[] = {1, 3, 0, 2}, left[] = {2, 0, 3, 1};
                    int code = 0;
                    for (int32_t p = 0; p != target; p += target > 0 ? 1 : -1) {
                        code = target > 0 ? right[code] : left[code];
                        WriteCodes(port, motor, {code});
                    }
                    ASSERT_EQ(port.Position(motor), target);
                    EXPECT_EQ(port.Read(kLpt1 + 1), expectClosed ? bit : 0);
                }
            }
        }
    }
}

TEST(VirtualParallelPort, DefaultSwitchesAreClosedFrom200Up) {
    VirtualParallelPort port;
    EXPECT_EQ(port.Switches()[0], (ReferenceSwitch{200, Side::Right}));
    // Motor 1 and 4 walk right together; the two bits (0x48) come on at step 200, not before.
    const int right[] = {1, 3, 2, 0};
    for (int step = 1; step <= 201; ++step) {
        const int code = right[(step - 1) % 4];
        port.Write(kLpt1, static_cast<uint16_t>(0xFF00 | code | (code << 6)), 0);
        EXPECT_EQ(port.Status(), step >= 200 ? 0x48 : 0x00) << "step " << step;
    }
}

TEST(VirtualParallelPort, StateSurvivesAReloadAndBadStatesAreRefused) {
    VirtualParallelPort port;
    port.Write(kLpt1 + 1, 0, 0);
    port.Write(kLpt1 + 2, 0, 0);
    WriteCodes(port, 4, {2, 3, 0});  // two steps left, then a fault
    port.Write(kLpt1, 0xFF01, 0);    // motor 1 right, motor 4 0 -> 0
    const std::string state = port.SaveState();

    std::ostringstream out;
    PortTrace trace(out);
    VirtualParallelPort again(&trace);
    ASSERT_TRUE(again.RestoreState(state));
    EXPECT_EQ(again.SaveState(), state);
    EXPECT_EQ(again.Position(4), -2);
    EXPECT_EQ(again.Faults(4), 1u);
    EXPECT_EQ(again.Base(), kLpt1);
    // The program binds again (to another port) and writes its unchanged codes: nothing moves.
    again.Write(0x279, 0, 0);
    again.Write(0x27A, 0, 0);
    again.Write(0x278, 0xFF01, 0);
    EXPECT_EQ(out.str().find("fault"), std::string::npos);
    EXPECT_EQ(again.Position(1), 1);
    EXPECT_EQ(again.Base(), 0x278);

    const std::string bad[] = {
        "",
        "vport1",
        "vport2" + state.substr(6),
        state + " 1",
        state.substr(0, state.rfind(' ')),
        state + " ",
        "vport1  888 1 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0",   // two spaces
        "vport1 70000 1 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0",  // base beyond 16 bits
        "vport1 888 1 0 0 0 4 0 0 0 0 0 0 0 0 0 0 0",    // code 4
    };
    for (const std::string& text : bad) {
        VirtualParallelPort target;
        target.Write(0x300, 0xFF01, 0);
        const std::string before = target.SaveState();
        EXPECT_FALSE(target.RestoreState(text)) << text;
        EXPECT_EQ(target.SaveState(), before) << text;
    }
}

TEST(PortTrace, LinesAndEvents) {
    std::ostringstream out;
    PortTrace trace(out);
    trace.WriteHeader();
    trace.DataWrite(12000128, 0xFFFF, 0x0F);
    trace.Step(7, 2, 1, 2, -1);
    trace.Settings(1, "C:\\kit\\q417-sim-lpt.txt line 2: bad, really\r\nbad");
    EXPECT_EQ(out.str(),
              "tick,seconds,motor,direction,phase,position,event\n"
              "12000128,12.000128,0,0,0,0,out ffff 0f\n"
              "7,0.000007,2,1,2,-1,\n"
              "1,0.000001,0,0,0,0,settings: C:\\kit\\q417-sim-lpt.txt line 2: bad; really  bad\n");
}

// ---- settings file ----

std::array<ReferenceSwitch, 4> Defaults() {
    return {};
}

TEST(PortSettings, GoodFilesSetWhatTheyNameAndLeaveTheRestAtDefault) {
    struct Case {
        const char* name;
        std::string text;
        std::array<ReferenceSwitch, 4> expected;
    };
    auto with = [](std::initializer_list<std::pair<int, ReferenceSwitch>> set) {
        std::array<ReferenceSwitch, 4> switches = Defaults();
        for (const auto& [motor, s] : set)
            switches[static_cast<size_t>(motor - 1)] = s;
        return switches;
    };
    const Case cases[] = {
        {"empty", "", Defaults()},
        {"only comments", "# nothing\n\n   # more\n", Defaults()},
        {"one motor", "motor1.switch = -5\nmotor1.side = right\n", with({{1, {-5, Side::Right}}})},
        {"all motors",
         "motor1.switch=1\nmotor2.switch=2\nmotor3.switch=3\nmotor4.switch=4\nmotor4.side=left",
         with({{1, {1, Side::Right}},
               {2, {2, Side::Right}},
               {3, {3, Side::Right}},
               {4, {4, Side::Left}}})},
        {"spaces, tabs, comments after values, CRLF",
         "  motor2.switch \t=\t 300   # far right\r\n\tmotor2.side = Right # case\r\n",
         with({{2, {300, Side::Right}}})},
        {"byte order mark and upper-case key", "\xEF\xBB\xBFMOTOR3.Switch = -2147483648\n",
         with({{3, {INT32_MIN, Side::Right}}})},
        {"largest position, no final line end", "motor4.switch = 2147483647",
         with({{4, {INT32_MAX, Side::Right}}})},
    };
    for (const Case& c : cases) {
        const PortSettings::Result result = PortSettings::Parse(c.text);
        EXPECT_TRUE(result.problems.empty()) << c.name << ": " << result.problems[0].what;
        EXPECT_EQ(result.switches, c.expected) << c.name;
    }
}

TEST(PortSettings, BadLinesAreToldWithTheirLineAndKeepTheDefault) {
    struct Case {
        std::string line;
        std::string mentions;  // a piece of the problem's text
    };
    const Case cases[] = {
        {"motor1.switch -5", "expected \"key = value\""},
        {"motor1.switch = ", "whole number"},
        {"motor1.switch = 12abc", "\"12abc\""},
        {"motor1.switch = 1.5", "whole number"},
        {"motor1.switch = +3", "whole number"},
        {"motor1.switch = 2147483648", "whole number"},
        {"motor1.switch = -2147483649", "whole number"},
        {"motor1.side = up", "must be left or right"},
        {"motor1.side =", "must be left or right"},
        {"motor5.switch = 3", "unknown key \"motor5.switch\""},
        {"motor0.side = left", "unknown key"},
        {"motor1.position = 3", "unknown key"},
        {"motor1. = 3", "unknown key"},
        {"motor12.switch = 3", "unknown key"},
        {"= 3", "unknown key \"\""},
    };
    for (const Case& c : cases) {
        // The bad line sits between two good ones, which still count.
        const std::string text =
            "motor2.switch = 7\n# comment\n" + c.line + "\nmotor3.side = right\n";
        const PortSettings::Result result = PortSettings::Parse(text);
        ASSERT_EQ(result.problems.size(), 1u) << c.line;
        EXPECT_EQ(result.problems[0].line, 3) << c.line;
        EXPECT_NE(result.problems[0].what.find(c.mentions), std::string::npos)
            << c.line << " -> " << result.problems[0].what;
        EXPECT_EQ(result.switches[0], (ReferenceSwitch{})) << c.line;
        EXPECT_EQ(result.switches[1].position, 7) << c.line;
        EXPECT_EQ(result.switches[2].side, Side::Right) << c.line;
    }
}

TEST(PortSettings, AKeySetTwiceTakesTheLaterValueAndIsTold) {
    const PortSettings::Result result =
        PortSettings::Parse("motor1.switch = 5\nmotor1.switch = 9\nmotor1.switch = x\n");
    EXPECT_EQ(result.switches[0].position, 9);
    ASSERT_EQ(result.problems.size(), 2u);
    EXPECT_EQ(result.problems[0].line, 2);
    EXPECT_NE(result.problems[0].what.find("already set on line 1"), std::string::npos);
    EXPECT_EQ(result.problems[1].line, 3);
}

}  // namespace
