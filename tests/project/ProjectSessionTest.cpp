#include "project/ProjectSession.h"

#include <gtest/gtest.h>

#include "ProjectTestSupport.h"
#include "platform/virtual/MemoryFileStore.h"
#include "project/ProjectModel.h"
#include "project/ProjectWriter.h"

namespace project {
namespace {

using motion::kDirLeft;
using motion::kDirRight;
using platform::MemoryFileStore;

constexpr const char* kDir = "C:\\Stepper\\";
constexpr const char* kDefault = "C:\\Stepper\\default.smp";
constexpr const char* kPath = "D:\\work\\a.smp";

struct ProjectSessionTest : ::testing::Test {
    MemoryFileStore files;
    ProjectModel model;
    ProjectSession session{files, model};
};

TEST_F(ProjectSessionTest, StartupLoadsDefaultThenForgetsItsNameAndOpensThePortOnce) {
    files.Files[kDefault] = "Port = 278\r\n[Motor_program_2]\r\nSteps = 5 5 0 left\r\n";
    EXPECT_EQ(session.LoadStartupProject(kDir), "");
    EXPECT_EQ(model.Port, 632);
    EXPECT_EQ(model.OpenedPorts, (std::vector<int16_t>{632}));
    EXPECT_EQ(model.Motors[1].Program.Count(), 1);
    EXPECT_EQ(session.FileName(), "");
    EXPECT_EQ(session.Caption(), "Stepper");
}

TEST_F(ProjectSessionTest, StartupWithoutDefaultKeepsTheDefaultsAndSaysNothing) {
    EXPECT_EQ(session.LoadStartupProject(kDir), "");
    EXPECT_EQ(model.Port, 0);
    EXPECT_EQ(model.OpenedPorts, std::vector<int16_t>{0});
    EXPECT_EQ(model.Motors[0].ControlFrequency, 10.0);
    EXPECT_EQ(model.Motors[0].MaxFrequency, 1000.0);
    EXPECT_EQ(model.Motors[0].ResetDirection, kDirRight);
    EXPECT_EQ(session.Caption(), "Stepper");
}

TEST_F(ProjectSessionTest, StartupWithAnUnreadableDefaultReportsItAndGoesOn) {
    files.Unreadable.insert(kDefault);
    EXPECT_EQ(session.LoadStartupProject(kDir), "Cannot open file C:\\Stepper\\default.smp.");
    EXPECT_EQ(model.OpenedPorts, std::vector<int16_t>{0});
    EXPECT_EQ(session.FileName(), "");
}

TEST_F(ProjectSessionTest, OpenPresentAbsentAndUnreadableFiles) {
    files.Files[kPath] = "Steps = 1 1 0 r\n";
    EXPECT_EQ(session.OpenProject(kPath), "");
    EXPECT_EQ(session.FileName(), kPath);
    EXPECT_EQ(session.Caption(), std::string("Stepper - ") + kPath);
    EXPECT_EQ(model.Motors[0].Program.Count(), 1);

    // Opening again appends: nothing is cleared.
    EXPECT_EQ(session.OpenProject(kPath), "");
    EXPECT_EQ(model.Motors[0].Program.Count(), 2);

    EXPECT_EQ(session.OpenProject("D:\\missing.smp"), "");
    EXPECT_EQ(session.FileName(), "");
    EXPECT_EQ(session.Caption(), "Stepper");
    EXPECT_EQ(model.Motors[0].Program.Count(), 2);

    files.Unreadable.insert("D:\\locked.smp");
    EXPECT_EQ(session.OpenProject("D:\\locked.smp"), "Cannot open file D:\\locked.smp.");
    EXPECT_EQ(session.Caption(), "Stepper - D:\\locked.smp");
    EXPECT_EQ(model.Motors[0].Program.Count(), 2);
}

TEST_F(ProjectSessionTest, NewProjectEmptiesProgramsAndListsOnly) {
    files.Files[kPath] =
        "Port = 3BC\nlooping = 1\nmax_frequency = 5\nSteps = 1 1 0 r\n"
        "[Motor_program_4]\nSteps = 4 1 0 l\n";
    session.OpenProject(kPath);
    session.NewProject();
    EXPECT_EQ(session.FileName(), "");
    EXPECT_EQ(session.Caption(), "Stepper");
    for (const auto& motor : model.Motors) {
        EXPECT_EQ(motor.Program.Count(), 0);
        EXPECT_EQ(motor.Program.Capacity(), 0);
        EXPECT_EQ(motor.List.Count(), 0);
    }
    EXPECT_EQ(model.Port, 956);
    EXPECT_TRUE(model.Motors[0].Program.Looping);
    EXPECT_TRUE(model.Motors[0].LoopCheckBox);
    EXPECT_EQ(model.Motors[0].MaxFrequency, 5.0);
}

TEST_F(ProjectSessionTest, SaveAsThenSaveWriteTheProject) {
    EXPECT_EQ(session.Save(), "");  // no name: the window asks for one instead
    EXPECT_EQ(files.Writes, 0);

    model.AppendStep(0, {1, 2.0, 3.0, kDirLeft});
    EXPECT_EQ(session.SaveAs(kPath), "");
    EXPECT_EQ(session.Caption(), std::string("Stepper - ") + kPath);
    EXPECT_EQ(files.Files[kPath], WriteProjectText(model));

    model.AppendStep(0, {4, 5.0, 6.0, kDirRight});
    EXPECT_EQ(session.Save(), "");
    EXPECT_EQ(files.Files[kPath], WriteProjectText(model));
    EXPECT_EQ(files.Writes, 2);
}

TEST_F(ProjectSessionTest, FailedSaveReportsItAndKeepsTheOldFile) {
    files.Files[kPath] = "old contents";
    files.Unwritable.insert(kPath);
    EXPECT_EQ(session.SaveAs(kPath), std::string("Cannot create file ") + kPath + ".");
    EXPECT_EQ(files.Files[kPath], "old contents");
    // The name and caption show the new path all the same.
    EXPECT_EQ(session.FileName(), kPath);
    EXPECT_EQ(session.Save(), std::string("Cannot create file ") + kPath + ".");
}

}  // namespace
}  // namespace project
