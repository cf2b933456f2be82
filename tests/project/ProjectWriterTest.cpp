#include "project/ProjectWriter.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ProjectTestSupport.h"
#include "project/NumberText.h"
#include "project/ProjectModel.h"
#include "project/ProjectReader.h"
#include "project/ProjectSession.h"

namespace project {
namespace {

using motion::kDirLeft;
using motion::kDirNone;
using motion::kDirRight;
using motion::TsmProgramStep;
using test::CrLfLines;
using test::StepsOf;

// What a value comes back as after writing and reading.
double Rounded(double value) {
    double parsed = 0;
    EXPECT_TRUE(ParseReal(FormatFixed2(value), parsed));
    return parsed;
}

TEST(ProjectWriter, EmptyProjectIsTwentyOneLines) {
    ProjectModel model;
    const std::string text = WriteProjectText(model);
    const std::vector<std::string> lines = CrLfLines(text);
    ASSERT_EQ(lines.size(), 21u) << text;
    EXPECT_EQ(lines[0], "Port = 0");
    for (int m = 0; m < 4; ++m) {
        const std::string header = "[Motor_program_" + std::to_string(m + 1) + "]";
        EXPECT_EQ(lines[1 + 5 * m], header);
        EXPECT_EQ(lines[2 + 5 * m], "normal_frequency = 10.00");
        EXPECT_EQ(lines[3 + 5 * m], "max_frequency = 1000.00");
        EXPECT_EQ(lines[4 + 5 * m], "resetdirection = right");
        EXPECT_EQ(lines[5 + 5 * m], "looping = 0");
    }
}

TEST(ProjectWriter, ExampleFileExactly) {
    ProjectModel model;
    model.Port = 888;
    model.AppendStep(0, {400, 250.0, 0.5, kDirRight});
    model.AppendStep(0, {400, 250.0, 0.5, kDirLeft});
    const std::string motorDefaults =
        "normal_frequency = 10.00\r\nmax_frequency = 1000.00\r\n"
        "resetdirection = right\r\nlooping = 0\r\n";
    EXPECT_EQ(WriteProjectText(model),
              "Port = 378\r\n"
              "[Motor_program_1]\r\n" +
                  motorDefaults +
                  "Steps = 400 250.00 0.50 right\r\n"
                  "Steps = 400 250.00 0.50 left\r\n"
                  "[Motor_program_2]\r\n" +
                  motorDefaults + "[Motor_program_3]\r\n" + motorDefaults +
                  "[Motor_program_4]\r\n" + motorDefaults);
}

TEST(ProjectWriter, WordsAndNumbersOfEveryLine) {
    ProjectModel model;
    model.Port = -32768;
    model.SetControlFrequency(1, 123.456);
    model.SetMaxFrequency(1, -0.5);
    model.SetResetDirection(1, kDirLeft);
    model.SetResetDirection(2, kDirNone);  // anything but left is written right
    model.SetLooping(1, true);
    model.AppendStep(1, {-3, 0.004, 1e6, kDirNone});
    model.AppendStep(1, {2147483647, 99.995, 0.0, 7});  // unknown direction code
    const std::vector<std::string> lines = CrLfLines(WriteProjectText(model));
    ASSERT_EQ(lines.size(), 23u);
    EXPECT_EQ(lines[0], "Port = FFFF8000");
    EXPECT_EQ(lines[7], "normal_frequency = 123.46");
    EXPECT_EQ(lines[8], "max_frequency = -0.50");
    EXPECT_EQ(lines[9], "resetdirection = left");
    EXPECT_EQ(lines[10], "looping = 1");
    EXPECT_EQ(lines[11], "Steps = -3 0.00 1000000.00 none");
    EXPECT_EQ(lines[12], "Steps = 2147483647 100.00 0.00 none");  // 99.995 is just above
    EXPECT_EQ(lines[16], "resetdirection = right");
}

TEST(ProjectWriter, SaveNewOpenGivesTheSameProjectRoundedToHundredths) {
    ProjectModel original;
    original.Port = 956;
    const TsmProgramStep steps[] = {
        {400, 250.0, 0.5, kDirRight},
        {100, 123.456, 0.333, kDirLeft},
        {0, 0.004, -1.0, kDirNone},
        {-7, 1e6, 2.0, kDirRight},
    };
    for (int m = 0; m < 4; ++m) {
        original.SetControlFrequency(m, 10.0 + m * 1.005);
        original.SetMaxFrequency(m, 1000.0 - m);
        original.SetResetDirection(m, m % 2 ? kDirLeft : kDirRight);
        original.SetLooping(m, m == 2);
        for (int i = 0; i < m + 1; ++i)
            original.AppendStep(m, steps[(i + m) % 4]);
    }
    const std::string text = WriteProjectText(original);

    // New Project leaves the settings and clears the programs; then the file is opened.
    ProjectModel reread;
    reread.Port = 1;
    for (int m = 0; m < 4; ++m)
        reread.SetLooping(m, true);
    ReadProjectText(text, reread);

    EXPECT_EQ(reread.Port, 956);
    for (int m = 0; m < 4; ++m) {
        SCOPED_TRACE(m);
        EXPECT_EQ(reread.ControlFrequency(m), Rounded((10.0 + m * 1.005)));
        EXPECT_EQ(reread.MaxFrequency(m), 1000.0 - m);
        EXPECT_EQ(reread.ResetDirection(m), original.ResetDirection(m));
        EXPECT_EQ(reread.Looping(m), m == 2);
        EXPECT_EQ(reread.Motors[m].LoopCheckBox, m == 2);
        std::vector<TsmProgramStep> expected = StepsOf(original, m);
        for (TsmProgramStep& s : expected) {
            s.Frequency = Rounded((s.Frequency));
            s.RampTime = Rounded((s.RampTime));
        }
        EXPECT_EQ(StepsOf(reread, m), expected);
    }
    EXPECT_EQ(reread.Motors[1].Program.Items(0).Frequency, 123.46);
    EXPECT_EQ(reread.Motors[0].Program.Items(0).RampTime, 0.5);
    // Written again, the project gives the same text.
    EXPECT_EQ(WriteProjectText(reread), text);
}

TEST(ProjectWriter, LoopingTwoIsSavedAsOne) {
    ProjectModel model;
    ReadProjectText("looping = 2", model);
    EXPECT_EQ(CrLfLines(WriteProjectText(model))[5], "looping = 1");
}

TEST(ProjectWriter, PauseStepIsWrittenNoneAndReadBackAsNone) {
    ProjectModel model;
    model.AppendStep(0, {10, 5.0, 0.0, kDirNone});
    ProjectModel reread;
    ReadProjectText(WriteProjectText(model), reread);
    EXPECT_EQ(CrLfLines(WriteProjectText(model))[6], "Steps = 10 5.00 0.00 none");
    EXPECT_EQ(reread.Motors[0].List.Text(0, ProgramListModel::kDirection), "None");
}

TEST(ProjectWriter, DecimalCommaLocaleChangesNeitherWritingNorReading) {
    ProjectModel model;
    model.Port = 888;
    model.SetControlFrequency(0, 10.0);
    model.AppendStep(0, {400, 250.0, 0.5, kDirRight});
    const std::string before = WriteProjectText(model);

    test::CommaDecimalLocale locale;
    if (!locale.Switched())
        GTEST_SKIP() << "no locale with a decimal comma installed (Debian: locales-all)";
    EXPECT_EQ(WriteProjectText(model), before);
    ProjectModel reread;
    ReadProjectText(before, reread);
    EXPECT_EQ(StepsOf(reread, 0), StepsOf(model, 0));
    EXPECT_EQ(reread.Motors[0].List.Text(0, ProgramListModel::kFrequency), "250.00");
}

}  // namespace
}  // namespace project
