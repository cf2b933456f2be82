#include "project/ProjectReader.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "ProjectTestSupport.h"
#include "project/ProjectModel.h"

namespace project {
namespace {

using motion::kDirLeft;
using motion::kDirNone;
using motion::kDirRight;
using motion::TsmProgramStep;
using test::StepsOf;

// A fresh project with text read into it.
struct Read : ProjectModel {
    explicit Read(std::string_view text) { ReadProjectText(text, *this); }
};

// Single lines read into an empty project.
TEST(ProjectReader, PortLines) {
    struct Case {
        const char* line;
        int16_t port;
    };
    const Case cases[] = {
        {"Port = 3bc", 956}, {"Port = 3BC", 956},      {"Port = 0x378", 888},
        {"Port = USB", 888}, {"Port = 10378", 888},    {"Port = FFFF8000", -32768},
        {"Port = 0", 0},     {"Port = 1", 1},          {"Port=278", 632},
        {"Port 278", 632},   {"  Port == 278  ", 632},
    };
    for (const Case& c : cases) {
        const Read model(c.line);
        EXPECT_EQ(model.Port, c.port) << c.line;
        // applied at once, with the value just read
        EXPECT_EQ(model.OpenedPorts, std::vector<int16_t>{c.port}) << c.line;
    }
}

TEST(ProjectReader, LinesThatAreSkipped) {
    // Each leaves an empty project exactly as it was: no step, defaults, no port applied.
    for (const char* line :
         {"steps = 100 50 0 right", "Steps = 100", "Steps = 100 50", "Port", "port = 378",
          "normal_frequency", "Max_frequency = 5", "[Motor_program_5]", "[motor_program_2]",
          "Port\t= 278", "\tSteps = 1 2 3 r", "# comment", "====", "   "}) {
        const Read model(line);
        EXPECT_TRUE(model.OpenedPorts.empty()) << line;
        EXPECT_EQ(model.Port, 0) << line;
        for (const auto& motor : model.Motors) {
            EXPECT_EQ(motor.Program.Count(), 0) << line;
            EXPECT_EQ(motor.ControlFrequency, 10.0) << line;
            EXPECT_EQ(motor.MaxFrequency, 1000.0) << line;
        }
    }
}

TEST(ProjectReader, StepLines) {
    struct Case {
        const char* line;
        TsmProgramStep step;
    };
    const Case cases[] = {
        {"Steps = 100 50 0", {100, 50.0, 0.0, kDirNone}},
        {"Steps = 100 abc 0 right", {100, 1.0, 0.0, kDirRight}},
        {"Steps = 400 250.00 0.50 right", {400, 250.0, 0.5, kDirRight}},
        {"Steps = 400 250.00 0.50 left", {400, 250.0, 0.5, kDirLeft}},
        {"Steps = 400 250.00 0.50 none", {400, 250.0, 0.5, kDirNone}},
        {"Steps = 1 2 3 rubbish", {1, 2.0, 3.0, kDirRight}},  // first character only
        {"Steps = 1 2 3 Right", {1, 2.0, 3.0, kDirNone}},     // case matters
        {"Steps = 1 2 3 LEFT", {1, 2.0, 3.0, kDirNone}},
        {"Steps = 1 2 3 l", {1, 2.0, 3.0, kDirLeft}},
        {"Steps = x 2 y r", {0, 2.0, 0.0, kDirRight}},            // defaults: 0 and 0
        {"Steps = 1.5 2,5 3 r", {0, 1.0, 3.0, kDirRight}},        // whole tokens only
        {"Steps = -5 -2.5 -1 left", {-5, -2.5, -1.0, kDirLeft}},  // no range checks
        {"Steps = 3000000000 0 0 r", {0, 0.0, 0.0, kDirRight}},   // beyond 32 bits: not one
        {"Steps=7=8=9=left", {7, 8.0, 9.0, kDirLeft}},
        {"Steps = 1 2 3 r extra tokens are not looked at", {1, 2.0, 3.0, kDirRight}},
        {"Steps = 1 2 3\tr", {1, 2.0, 0.0, kDirNone}},  // a tab belongs to the token "3\tr"
    };
    for (const Case& c : cases) {
        const Read model(c.line);
        EXPECT_EQ(StepsOf(model, 0), std::vector<TsmProgramStep>{c.step}) << c.line;
        // the list row shows the stored values
        ASSERT_EQ(model.Motors[0].List.Count(), 1) << c.line;
    }
}

TEST(ProjectReader, SettingLines) {
    Read model(
        "normal_frequency = 20.5\nmax_frequency = 800\nlooping = 2\n"
        "resetdirection = left\n");
    EXPECT_EQ(model.Motors[0].ControlFrequency, 20.5);
    EXPECT_EQ(model.Motors[0].MaxFrequency, 800.0);
    EXPECT_TRUE(model.Motors[0].Program.Looping);
    EXPECT_EQ(model.Motors[0].ResetDirection, kDirLeft);

    // Unreadable numbers take the key's default, not the value before.
    ReadProjectText("normal_frequency = 1,5\nmax_frequency = fast\nlooping = yes\n", model);
    EXPECT_EQ(model.Motors[0].ControlFrequency, 10.0);
    EXPECT_EQ(model.Motors[0].MaxFrequency, 1000.0);
    EXPECT_FALSE(model.Motors[0].Program.Looping);

    for (const char* word : {"Left", "right", "none", "L", "x"}) {
        Read m(std::string("resetdirection = left\nresetdirection = ") + word);
        EXPECT_EQ(m.Motors[0].ResetDirection, kDirRight) << word;
    }
    EXPECT_EQ(Read("resetdirection = lx").Motors[0].ResetDirection, kDirLeft);
    EXPECT_TRUE(Read("looping = -1").Motors[0].Program.Looping);
    EXPECT_FALSE(Read("looping = 0").Motors[0].Program.Looping);
}

TEST(ProjectReader, SectionsSelectTheMotor) {
    const Read model(
        "Steps = 1 1 0 r\n"  // before any header: motor 1
        "[Motor_program_3]\n"
        "Steps = 3 1 0 r\n"
        "max_frequency = 333\n"
        "[Motor_program_5]\n"  // unknown header: still motor 3
        "Steps = 33 1 0 r\n"
        "[Motor_program_2] ignored\n"
        "Steps = 2 1 0 r\n"
        "[Motor_program_3]\n"  // again: appended behind the first one
        "Steps = 333 1 0 r\n"
        "[Motor_program_4]\n"
        "looping = 1\n");
    auto counts = [&](int m) {
        std::vector<int32_t> steps;
        for (const auto& s : StepsOf(model, m))
            steps.push_back(s.Steps);
        return steps;
    };
    EXPECT_EQ(counts(0), std::vector<int32_t>{1});
    EXPECT_EQ(counts(1), std::vector<int32_t>{2});
    EXPECT_EQ(counts(2), (std::vector<int32_t>{3, 33, 333}));
    EXPECT_EQ(counts(3), std::vector<int32_t>{});
    EXPECT_EQ(model.Motors[2].MaxFrequency, 333.0);
    EXPECT_TRUE(model.Motors[3].Program.Looping);
    EXPECT_FALSE(model.Motors[2].Program.Looping);
    for (int m = 0; m < 4; ++m)
        EXPECT_EQ(model.Motors[m].List.Count(), model.Motors[m].Program.Count()) << m;
}

TEST(ProjectReader, LineEndsAndTheNul) {
    const std::string lines[] = {"Steps = 1 1 0 r", "Steps = 2 1 0 r", "Steps = 3 1 0 r"};
    for (const char* end : {"\r\n", "\n", "\r"}) {
        const std::string text = lines[0] + end + lines[1] + end + lines[2];
        EXPECT_EQ(Read(text).Motors[0].Program.Count(), 3) << "separator " << int(end[0]);
        EXPECT_EQ(Read(text + end).Motors[0].Program.Count(), 3);
    }
    // Mixed, and empty lines between: LF CR is two line ends, CR LF one.
    EXPECT_EQ(Read(lines[0] + "\n\r" + lines[1] + "\r\r\n\n" + lines[2]).Motors[0].Program.Count(),
              3);
    // A NUL ends the text, even in the middle of a line.
    std::string withNul = lines[0] + "\r\n" + lines[1] + std::string(1, '\0') + "\r\n" + lines[2];
    EXPECT_EQ(Read(withNul).Motors[0].Program.Count(), 2);
    withNul = std::string("Port = 2") + '\0' + "78";
    EXPECT_EQ(Read(withNul).Port, 2);
}

TEST(ProjectReader, NothingIsClearedBeforeLoading) {
    ProjectModel model;
    model.AppendStep(0, {5, 5.0, 0.0, kDirLeft});
    model.SetMaxFrequency(1, 42.0);
    model.SetControlFrequency(0, 77.0);
    ReadProjectText("[Motor_program_1]\nnormal_frequency = 12\nSteps = 6 6 0 r\n", model);
    EXPECT_EQ(StepsOf(model, 0),
              (std::vector<TsmProgramStep>{{5, 5.0, 0.0, kDirLeft}, {6, 6.0, 0.0, kDirRight}}));
    EXPECT_EQ(model.Motors[0].List.Count(), 2);
    EXPECT_EQ(model.Motors[0].List.Text(1, ProgramListModel::kNumber), "2");
    EXPECT_EQ(model.Motors[0].ControlFrequency, 12.0);  // present in the file: overwritten
    EXPECT_EQ(model.Motors[1].MaxFrequency, 42.0);      // absent: kept
}

TEST(ProjectReader, EndOfLoadSetsLoopCheckBoxesAndRenumbersEveryList) {
    ProjectModel model;
    model.SetLooping(2, true);            // set before, not in the file: the box follows the flag
    model.Motors[1].LoopCheckBox = true;  // flag clear: the box is cleared
    ReadProjectText("", model);
    EXPECT_EQ(model.Port, 0);
    EXPECT_TRUE(model.OpenedPorts.empty());
    const bool expected[] = {false, false, true, false};
    for (int m = 0; m < 4; ++m) {
        EXPECT_EQ(model.Motors[m].LoopCheckBox, expected[m]) << m;
        EXPECT_EQ(model.Motors[m].Renumbered, 1) << m;
    }
}

// However many "Port" lines a file holds, the output is opened once, for the last one's setting
// (so a missing port library is reported once per load, and the USB link is not reopened).
TEST(ProjectReader, TheOutputIsOpenedOnceForTheLastPortLine) {
    const std::pair<const char*, std::vector<int16_t>> cases[] = {
        {"Port = 378\nPort = 0\nPort = zz\n", {888}},
        {"Port = 0\nPort = 378\nPort = 0\nPort = 378\nPort = 1\n", {1}},
        {"Port = 278\r\n[Motor_program_2]\r\nPort = 0\r\n", {0}},
        {"Steps = 1 1 0 r\n", {}},
    };
    for (const auto& [text, opened] : cases) {
        const Read model(text);
        EXPECT_EQ(model.OpenedPorts, opened) << text;
    }
    ProjectModel quiet;
    ReadProjectText("Port = 378\n", quiet, /*openOutput=*/false);
    EXPECT_EQ(quiet.Port, 888);
    EXPECT_TRUE(quiet.OpenedPorts.empty());
}

TEST(ProjectReader, ByteOrderMarkMakesTheFirstLineUnknown) {
    const Read model("\xEF\xBB\xBFPort = 278\r\nmax_frequency = 5\r\n");
    EXPECT_TRUE(model.OpenedPorts.empty());
    EXPECT_EQ(model.Port, 0);
    EXPECT_EQ(model.Motors[0].MaxFrequency, 5.0);
}

TEST(ProjectReader, LongLinesAndTokensAreReadSafely) {
    // A line of many tokens: the first ones still count.
    std::string many = "Steps = 9 8 7 left";
    for (int i = 0; i < 10000; ++i)
        many += " x";
    // Tokens far over 255 characters: read whole, never cut into something else.
    const std::string longKey = "Steps" + std::string(300, 's') + " = 1 1 1 r";
    const std::string longNumber = "Steps = " + std::string(1000, '0') + "12 1 1 r";
    const std::string longWord = "Steps = 1 1 1 " + std::string(100000, 'l');
    const std::string longPort = "Port = " + std::string(5000, 'F');
    const Read model(many + "\n" + longKey + "\n" + longNumber + "\n" + longWord + "\n" + longPort);
    EXPECT_EQ(StepsOf(model, 0),
              (std::vector<TsmProgramStep>{
                  {9, 8.0, 7.0, kDirLeft}, {12, 1.0, 1.0, kDirRight}, {1, 1.0, 1.0, kDirLeft}}));
    EXPECT_EQ(model.Port, -1);
}

TEST(ProjectReader, TruncatedAndBinaryInputIsReadAsFarAsItMakesSense) {
    // Cut in the middle of a step line: the part there is still makes a line.
    EXPECT_EQ(StepsOf(Read("Steps = 400 250.00 0.5"), 0),
              (std::vector<TsmProgramStep>{{400, 250.0, 0.5, kDirNone}}));
    EXPECT_EQ(Read("Steps = 400 25").Motors[0].Program.Count(), 0);

    // Every byte value except NUL, in a long pseudo-random stream, with a real line at the end.
    std::string binary;
    uint32_t seed = 12345;
    for (int i = 0; i < 200000; ++i) {
        seed = seed * 1103515245u + 12345u;
        const char c = static_cast<char>((seed >> 16) & 0xFF);
        binary += c == '\0' ? '\x01' : c;
    }
    const Read model(binary + "\nmax_frequency = 77\n");
    EXPECT_EQ(model.Motors[0].MaxFrequency, 77.0);
}

}  // namespace
}  // namespace project
