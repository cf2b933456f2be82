// The names, control commands and command line that the simulator kit's parts share.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "sim/common/ControlCommand.h"
#include "sim/common/SimulatorNames.h"
#include "sim/common/SimulatorOptions.h"

namespace sim {
namespace {

TEST(SimulatorNamesTest, PipePathsAndObjectNames) {
    EXPECT_EQ(ModulePipePath(""), "\\\\.\\pipe\\q417-sim");
    EXPECT_EQ(ModulePipePath("q417-sim"), "\\\\.\\pipe\\q417-sim");
    EXPECT_EQ(ModulePipePath("test-42"), "\\\\.\\pipe\\test-42");
    EXPECT_EQ(ModulePipePath("\\\\.\\pipe\\full"), "\\\\.\\pipe\\full");
    EXPECT_EQ(ControlPipePath("\\\\.\\pipe\\x"), "\\\\.\\pipe\\x-control");

    // Object names hold no backslash (it would name a namespace) and differ by pipe and role.
    const std::string plugged = PluggedObjectName("\\\\.\\pipe\\a\\b");
    const std::string running = RunningObjectName("\\\\.\\pipe\\a\\b");
    EXPECT_EQ(plugged.find('\\'), std::string::npos);
    EXPECT_EQ(running.find('\\'), std::string::npos);
    EXPECT_NE(plugged, running);
    EXPECT_NE(plugged, PluggedObjectName("\\\\.\\pipe\\a\\c"));
    EXPECT_NE(running, RunningObjectName("\\\\.\\pipe\\a\\c"));
}

TEST(ControlCommandTest, ParsesTheFiveCommands) {
    const std::pair<const char*, ControlCommand> cases[] = {
        {"plug", ControlCommand::Plug},         {"pull", ControlCommand::Pull},
        {"deaf", ControlCommand::Deaf},         {"hear", ControlCommand::Hear},
        {"quit", ControlCommand::Quit},         {"  PULL\r\n", ControlCommand::Pull},
        {"Plug\n", ControlCommand::Plug},       {"", ControlCommand::Unknown},
        {"plu", ControlCommand::Unknown},       {"plugs", ControlCommand::Unknown},
        {"plug pull", ControlCommand::Unknown}, {"q", ControlCommand::Unknown},
    };
    for (const auto& [text, command] : cases) {
        EXPECT_EQ(ParseControlCommand(text), command) << '"' << text << '"';
    }
    // A trailing zero, as a C client may send with its string.
    EXPECT_EQ(ParseControlCommand(std::string_view("quit\0", 5)), ControlCommand::Quit);
}

// "stall N": the receive side held for N ms, 1 to 60000, one blank between.
TEST(ControlCommandTest, ParsesAStallWithItsMilliseconds) {
    struct Case {
        const char* text;
        ControlCommand command;
        uint64_t ms;  // 0 when none is set
    };
    const Case cases[] = {
        {"stall 300", ControlCommand::Stall, 300},     {" Stall 1\n", ControlCommand::Stall, 1},
        {"stall 60000", ControlCommand::Stall, 60000}, {"stall 60001", ControlCommand::Unknown, 0},
        {"stall 0", ControlCommand::Unknown, 0},       {"stall", ControlCommand::Unknown, 0},
        {"stall -5", ControlCommand::Unknown, 0},      {"stall 3x", ControlCommand::Unknown, 0},
        {"stall 1234567", ControlCommand::Unknown, 0},
    };
    for (const Case& c : cases) {
        uint64_t ms = 0;
        EXPECT_EQ(ParseControlCommand(c.text, &ms), c.command) << c.text;
        EXPECT_EQ(ms, c.ms) << c.text;
    }
}

TEST(SimulatorOptionsTest, CommandLines) {
    SimulatorOptions none = ParseSimulatorOptions({});
    EXPECT_TRUE(none.error.empty());
    EXPECT_TRUE(none.pipeName.empty());
    EXPECT_TRUE(none.tracePath.empty());
    EXPECT_FALSE(none.unplugged);
    EXPECT_FALSE(none.help);
    EXPECT_EQ(none.linkPeriodUs, 1000u) << "a full-speed link by default";
    EXPECT_TRUE(none.unaskedStatus);

    SimulatorOptions all =
        ParseSimulatorOptions({"--trace", "C:\\t.csv", "--unplugged", "--pipe", "p1"});
    EXPECT_TRUE(all.error.empty()) << all.error;
    EXPECT_EQ(all.pipeName, "p1");
    EXPECT_EQ(all.tracePath, "C:\\t.csv");
    EXPECT_TRUE(all.unplugged);

    const std::pair<const char*, uint64_t> links[] = {{"0", 0}, {"1", 1000}, {"2", 2000}};
    for (const auto& [ms, us] : links) {
        const SimulatorOptions link = ParseSimulatorOptions({"--link-ms", ms});
        EXPECT_TRUE(link.error.empty()) << link.error;
        EXPECT_EQ(link.linkPeriodUs, us) << ms;
    }
    EXPECT_FALSE(ParseSimulatorOptions({"--no-unasked-status"}).unaskedStatus);

    EXPECT_TRUE(ParseSimulatorOptions({"--help"}).help);

    const std::vector<std::vector<std::string>> wrong = {
        {"--pipe"},           {"--pipe", ""}, {"--trace"},        {"--verbose"},       {"pipe"},
        {"--unplugged", "x"}, {"--link-ms"},  {"--link-ms", "3"}, {"--link-ms", "1.5"}};
    for (const auto& args : wrong) {
        EXPECT_FALSE(ParseSimulatorOptions(args).error.empty()) << args[0];
    }
}

}  // namespace
}  // namespace sim
