// The real main window's start-up project and File menu (new, open, save as, file errors), and
// the output port it opens: the missing port library's box once per selection, device changes
// and a window closed under that box.
#include <windows.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>

#include "MainFormFixture.h"
#include "ui/resource.h"

namespace ui {
namespace {

using testing::ItemText;
using testing::MainFormTest;
using testing::Row;
using testing::Text;

using ::testing::ElementsAre;

// ---------------------------------------------------------------------------------------------
// Start-up project and the File menu

class StartupProjectTest : public MainFormTest {
  protected:
    StartupProjectTest() {
        StartupProject =
            "Port = 1\r\n[Motor_program_2]\r\nlooping = 1\r\nSteps = 400 250.00 0.50 left\r\n"
            "Steps = 5 10 0\r\n[Motor_program_4]\r\n";
        // A long program: the list shows its rows without holding a text per cell.
        for (int i = 1; i <= 100000; ++i)
            StartupProject += "Steps = " + std::to_string(i) + " 100 0 right\r\n";
    }
};

TEST_F(StartupProjectTest, DefaultProjectIsLoadedAndNoFileNameKept) {
    EXPECT_EQ(form_->FileName(), "");
    EXPECT_EQ(Text(window_), "Stepper");
    EXPECT_EQ(form_->PortSetting(), 1);
    ASSERT_EQ(Rows("ListView2"), 2);
    EXPECT_THAT(Row(Control("ListView2"), 0), ElementsAre("1", "400", "250.00", "Left", "0.50"));
    EXPECT_THAT(Row(Control("ListView2"), 1), ElementsAre("2", "5", "10.00", "None", "0.00"));
    EXPECT_EQ(SendMessageA(Control("CheckBox2"), BM_GETCHECK, 0, 0), BST_CHECKED);
    EXPECT_EQ(SendMessageA(Control("CheckBox1"), BM_GETCHECK, 0, 0), BST_UNCHECKED);
    EXPECT_EQ(Text(Control("Label21")), "USB (no Device)");
    EXPECT_TRUE(dialogs_.Errors.empty());
    ASSERT_EQ(Rows("ListView4"), 100000);
    EXPECT_THAT(Row(Control("ListView4"), 99999),
                ElementsAre("100000", "100000", "100.00", "Right", "0.00"));

    // "&Save" without a file name asks for one; cancelled, nothing is written.
    Menu(IDM_SAVE);
    EXPECT_EQ(dialogs_.SaveAsked, 1);
    EXPECT_EQ(files_.Writes, 0);
    EXPECT_EQ(Text(window_), "Stepper");
}

TEST_F(MainFormTest, SaveAsOpenAndNewProjectKeepFileNameAndCaption) {
    SetText("Edit1", "400");
    Click("Button3");
    dialogs_.SaveAnswer = "C:\\work\\one.smp";
    Menu(IDM_SAVEAS);
    EXPECT_EQ(form_->FileName(), "C:\\work\\one.smp");
    EXPECT_EQ(Text(window_), "Stepper - C:\\work\\one.smp");
    ASSERT_EQ(files_.Files.count("C:\\work\\one.smp"), 1u);
    EXPECT_EQ(files_.Files["C:\\work\\one.smp"].rfind("Port = 0\r\n[Motor_program_1]\r\n", 0), 0u);

    Menu(IDM_NEWPROJECT);
    EXPECT_EQ(form_->FileName(), "");
    EXPECT_EQ(Text(window_), "Stepper");
    EXPECT_EQ(Rows("ListView1"), 0);

    dialogs_.OpenAnswer = "C:\\work\\one.smp";
    Menu(IDM_OPENPROJECT);
    EXPECT_EQ(Text(window_), "Stepper - C:\\work\\one.smp");
    ASSERT_EQ(Rows("ListView1"), 1);
    EXPECT_EQ(ItemText(Control("ListView1"), 0, 1), "400");

    dialogs_.OpenAnswer = "C:\\work\\absent.smp";
    Menu(IDM_OPENPROJECT);
    EXPECT_EQ(form_->FileName(), "");
    EXPECT_EQ(Text(window_), "Stepper");
    EXPECT_EQ(Rows("ListView1"), 1);  // nothing changed
    EXPECT_TRUE(dialogs_.Errors.empty());
}

TEST_F(MainFormTest, FileErrorsShowTheErrorBox) {
    files_.Unwritable.insert("C:\\locked.smp");
    dialogs_.SaveAnswer = "C:\\locked.smp";
    Menu(IDM_SAVE);
    EXPECT_EQ(Text(window_), "Stepper - C:\\locked.smp");  // the new name all the same
    files_.Files["C:\\unreadable.smp"] = "Port = 378\r\n";
    files_.Unreadable.insert("C:\\unreadable.smp");
    dialogs_.OpenAnswer = "C:\\unreadable.smp";
    Menu(IDM_OPENPROJECT);
    EXPECT_THAT(dialogs_.Errors, ElementsAre("Cannot create file C:\\locked.smp.",
                                             "Cannot open file C:\\unreadable.smp."));
    EXPECT_EQ(form_->PortSetting(), 0);  // nothing of it was loaded
}

// A file of many "Port" lines: the output is opened once, for the last one, so the missing port
// library is reported in one box per load.
TEST_F(MainFormTest, OpeningAProjectOfManyPortLinesShowsOneBox) {
    files_.Files["C:\\ports.smp"] =
        "Port = 0\r\nPort = 378\r\nPort = 0\r\nPort = 378\r\n"
        "Port = 0\r\nPort = 278\r\n";
    dialogs_.OpenAnswer = "C:\\ports.smp";
    Menu(IDM_OPENPROJECT);
    EXPECT_EQ(form_->PortSetting(), 632);
    EXPECT_EQ(Text(Control("Label21")), "LPT2 (0278)");
    EXPECT_EQ(desktop_.Messages().size(), 1u);
    Menu(IDM_OPENPROJECT);  // a second load: its own box
    EXPECT_EQ(desktop_.Messages().size(), 2u);
}

// ---------------------------------------------------------------------------------------------
// Output opening, device change, closing

TEST_F(MainFormTest, ParallelPortWithoutInpout32StillSteps) {
    form_->SetPortSetting(888);
    form_->OpenOutputPort();
    Pump();
    EXPECT_EQ(Text(Control("Label21")), "LPT1 (0378)");
    ASSERT_EQ(desktop_.Messages().size(), 1u);
    EXPECT_EQ(desktop_.Messages()[0].caption, "Error");
    Steps(3, motion::kDirRight, 2);
    EXPECT_EQ(form_->Icon(3).Angle(), 348.0f);
    EXPECT_EQ(form_->JogTally(3), 2);

    // A device change with a parallel port selected runs the output selection again; the load
    // is tried again, but the box was shown for this selection already.
    EXPECT_EQ(SendMessageA(window_, WM_DEVICECHANGE, 0x0007 /* DBT_DEVNODES_CHANGED */, 0), TRUE);
    Pump();
    EXPECT_EQ(Text(Control("Label21")), "LPT1 (0378)");
    EXPECT_EQ(desktop_.Messages().size(), 1u);

    form_->SetPortSetting(0);
    SendMessageA(window_, WM_DEVICECHANGE, 0x0007, 0);
    Pump();
    EXPECT_EQ(Text(Control("Label21")), "USB (no Device)");
}

TEST_F(MainFormTest, ClosingTheWindowUnderTheBoxOfADeviceChangeEndsCleanly) {
    form_->SetPortSetting(888);
    form_->OpenOutputPort();
    ASSERT_EQ(desktop_.Messages().size(), 1u);
    // Another port selected: the box of the next opening (here a device change) is up when the
    // window is closed; the opening goes on after it.
    form_->SetPortSetting(632);
    desktop_.WhileShown([this] { SendMessageA(window_, WM_CLOSE, 0, 0); });
    EXPECT_EQ(SendMessageA(window_, WM_DEVICECHANGE, 0x0007 /* DBT_DEVNODES_CHANGED */, 0), TRUE);
    EXPECT_EQ(desktop_.Messages().size(), 2u);
    EXPECT_FALSE(IsWindow(window_));
    Pump();
}

class StartupParallelPortTest : public MainFormTest {
  protected:
    StartupParallelPortTest() { StartupProject = "Port = 378\r\n"; }
};

TEST_F(StartupParallelPortTest, PortLibraryBoxShowsOncePerSelection) {
    // The project's "Port" line and the start-up's own opening are one selection.
    ASSERT_EQ(desktop_.Messages().size(), 1u);
    EXPECT_EQ(desktop_.Messages()[0].caption, "Error");
    // Device changes (a USB stick plugged in) reopen the port without a box, also while one is
    // up (the box's message loop handles the broadcast).
    for (int i = 0; i < 3; ++i)
        SendMessageA(window_, WM_DEVICECHANGE, 0x0007, 0);
    EXPECT_EQ(desktop_.Messages().size(), 1u);
    EXPECT_EQ(Text(Control("Label21")), "LPT1 (0378)");
    // A new selection of the port shows it again, once, never stacked.
    desktop_.WhileShown([this] { SendMessageA(window_, WM_DEVICECHANGE, 0x0007, 0); });
    form_->SetPortSetting(888);
    form_->OpenOutputPort();
    EXPECT_EQ(desktop_.Messages().size(), 2u);
}

}  // namespace
}  // namespace ui
