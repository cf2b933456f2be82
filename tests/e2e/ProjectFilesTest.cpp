// Projects through the real File menu and the platform's real file dialogs, the path typed into
// the dialog as a user types it: a program typed into the editor is saved, New Project empties
// the lists, and opening the file brings the program back (as the file's formatted texts), with
// the caption naming the file; Save with a file name writes without asking.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "e2e/driver/ProgramDialogs.h"
#include "e2e/driver/RemoteControls.h"
#include "e2e/driver/StepperSession.h"
#include "e2e/driver/Wait.h"

namespace e2e {
namespace {

using Rows = std::vector<std::vector<std::string>>;

// Motor 2's program as typed. The 'x' in the first frequency is dropped by the field's key
// filter, as it is when a user types it.
const std::vector<TypedStep> kMotor2Typed = {
    {"400", "2x50.5", "Left", "0.5"},
    {"12", "1000", "Pause", "0"},
    {"7", "3.25", "Right", ".1"},
};
const Rows kMotor2AsTyped = {
    {"1", "400", "250.5", "Left", "0.5"},
    {"2", "12", "1000", "Pause", "0"},
    {"3", "7", "3.25", "Right", ".1"},
};
// The same program as the file brings it back: every number with two decimals, "None" for the
// pause.
const Rows kMotor2FromFile = {
    {"1", "400", "250.50", "Left", "0.50"},
    {"2", "12", "1000.00", "None", "0.00"},
    {"3", "7", "3.25", "Right", "0.10"},
};
const TypedStep kMotor4Typed = {"5", "20", "Right", "0"};
const Rows kMotor4FromFile = {{"1", "5", "20.00", "Right", "0.00"}};

// The file the program writes for that project: USB port setting, default motor settings,
// motor 2 looping.
std::string ExpectedFile() {
    std::string text = "Port = 0\r\n";
    for (int m = 1; m <= 4; ++m) {
        text += "[Motor_program_" + std::to_string(m) + "]\r\n";
        text += "normal_frequency = 10.00\r\nmax_frequency = 1000.00\r\nresetdirection = right\r\n";
        text += m == 2 ? "looping = 1\r\n" : "looping = 0\r\n";
        if (m == 2) {
            text += "Steps = 400 250.50 0.50 left\r\n";
            text += "Steps = 12 1000.00 0.00 none\r\n";
            text += "Steps = 7 3.25 0.10 right\r\n";
        }
        if (m == 4) text += "Steps = 5 20.00 0.00 right\r\n";
    }
    return text;
}

class ProjectFilesTest : public ::testing::Test {
  protected:
    void SetUp() override {
        const std::string name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
        // No module: the program starts in "USB" mode without one, as on a desk without hardware.
        ASSERT_EQ(session_.LayOut("project-" + name, TestFolder::kNoKit), "");
        ASSERT_EQ(session_.StartProgram(), "");
    }

    MainWindow& Window() { return session_.Window(); }

    // Runs a File menu command that shows a file dialog and answers it with path.
    void ChooseThroughDialog(const char* item, const std::string& path) {
        ASSERT_TRUE(Window().PostMenuCommand("&File", item)) << item;
        HWND dialog = WaitDialog(session_.Process(), "", kWindowTimeoutMs);
        ASSERT_NE(dialog, nullptr) << "no file dialog for " << item;
        ASSERT_TRUE(ChooseFile(dialog, path));
        ASSERT_TRUE(WaitGone(dialog, kWindowTimeoutMs));
    }

    void TypeProject() {
        for (const TypedStep& step : kMotor2Typed)
            ASSERT_TRUE(Window().AddProgramStep(1, step));
        ASSERT_TRUE(Window().AddProgramStep(3, kMotor4Typed));
        ASSERT_TRUE(Click(Window().LoopBox(1)));
        ASSERT_EQ(Window().ProgramRows(1), kMotor2AsTyped);
    }

    StepperSession session_;
};

TEST_F(ProjectFilesTest, SaveNewAndOpenBringTheProgramBack) {
    TypeProject();
    const std::string path = session_.Folder().FilePath("round trip.smp");

    ChooseThroughDialog("Save &As", path);
    EXPECT_TRUE(WaitText(Window().Handle(), "Stepper - " + path, kWindowTimeoutMs))
        << Window().Caption();
    ASSERT_TRUE(WaitUntil([&] { return session_.Folder().Read("round trip.smp").has_value(); },
                          kWindowTimeoutMs));
    EXPECT_EQ(session_.Folder().Read("round trip.smp").value_or(""), ExpectedFile());

    ASSERT_TRUE(Window().PostMenuCommand("&File", "&New Project"));
    EXPECT_TRUE(WaitText(Window().Handle(), "Stepper", kWindowTimeoutMs)) << Window().Caption();
    for (int m = 0; m < MainWindow::kMotors; ++m)
        EXPECT_TRUE(Window().ProgramRows(m).empty()) << "motor " << m + 1;
    // New Project leaves the Loop boxes alone; the file is to set motor 2's again.
    ASSERT_TRUE(Click(Window().LoopBox(1)));
    ASSERT_FALSE(Checked(Window().LoopBox(1)));

    ChooseThroughDialog("&Open Project", path);
    EXPECT_TRUE(WaitText(Window().Handle(), "Stepper - " + path, kWindowTimeoutMs))
        << Window().Caption();
    EXPECT_EQ(Window().ProgramRows(0), Rows{});
    EXPECT_EQ(Window().ProgramRows(1), kMotor2FromFile);
    EXPECT_EQ(Window().ProgramRows(2), Rows{});
    EXPECT_EQ(Window().ProgramRows(3), kMotor4FromFile);
    EXPECT_TRUE(Checked(Window().LoopBox(1)));
    EXPECT_TRUE(session_.Process().OtherWindows().empty()) << "a message box is open";
}

TEST_F(ProjectFilesTest, SaveWithAFileNameWritesWithoutAskingAndOpeningAMissingFileForgetsIt) {
    TypeProject();
    const std::string path = session_.Folder().FilePath("saved.smp");
    ChooseThroughDialog("Save &As", path);
    ASSERT_TRUE(WaitText(Window().Handle(), "Stepper - " + path, kWindowTimeoutMs));

    // One more step on motor 1, then Save: the file is rewritten with it and no dialog opens.
    ASSERT_TRUE(Window().AddProgramStep(0, {"3", "100", "Left", "0"}));
    ASSERT_TRUE(Window().PostMenuCommand("&File", "&Save"));
    const bool rewritten = WaitUntil(
        [&] {
            const std::string file = session_.Folder().Read("saved.smp").value_or("");
            return file.find("Steps = 3 100.00 0.00 left\r\n[Motor_program_2]") !=
                   std::string::npos;
        },
        kWindowTimeoutMs);
    EXPECT_TRUE(rewritten) << session_.Folder().Read("saved.smp").value_or("(no file)");
    EXPECT_TRUE(session_.Process().OtherWindows().empty()) << "Save asked for a name";
    EXPECT_EQ(Window().Caption(), "Stepper - " + path);

    // A name that does not exist: the caption forgets the file, the programs stay.
    ChooseThroughDialog("&Open Project", session_.Folder().FilePath("missing.smp"));
    EXPECT_TRUE(WaitText(Window().Handle(), "Stepper", kWindowTimeoutMs)) << Window().Caption();
    EXPECT_EQ(Window().ProgramRows(1), kMotor2AsTyped);
    EXPECT_EQ(Window().ProgramRows(0).size(), 1u);
    EXPECT_FALSE(session_.Folder().Exists("missing.smp"));
}

}  // namespace
}  // namespace e2e
