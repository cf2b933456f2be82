// The motor panels of the real main window: step events and the jog tally, the position display
// and the direction button, and the program editor's wiring to the panel's fields and program
// list.
#include <windows.h>
// After <windows.h>, which it needs.
#include <commctrl.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

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
// Step events and the jog tally

TEST_F(MainFormTest, TenStepsRightCountTenAndTurnTheSymbol) {
    Steps(0, motion::kDirRight, 10);
    EXPECT_EQ(form_->JogTally(0), 10);
    EXPECT_EQ(Text(Control("Edit1")), "10");
    EXPECT_EQ(Text(Control("Button12")), "Right");
    EXPECT_EQ(form_->Icon(0).Angle(), 300.0f);
    EXPECT_EQ(Text(Control("SpeedButton1")), "10");  // the motor's position display
}

TEST_F(MainFormTest, ThreeStepsLeftFromTwoShowOneLeft) {
    Steps(1, motion::kDirRight, 2);
    Steps(1, motion::kDirLeft, 3);
    EXPECT_EQ(form_->JogTally(1), -1);
    EXPECT_EQ(Text(Control("Edit4")), "1");
    EXPECT_EQ(Text(Control("Button20")), "Left");
    EXPECT_EQ(Text(Control("SpeedButton2")), "-1");
}

TEST_F(MainFormTest, StepWhileRunningTurnsTheSymbolButLeavesTheFields) {
    SetText("Edit1", "77");
    SetText("Button12", "Pause");
    form_->Motor(0).SetRunning(true);
    Steps(0, motion::kDirRight, 1);
    form_->Motor(0).SetRunning(false);
    EXPECT_EQ(form_->JogTally(0), 0);
    EXPECT_EQ(Text(Control("Edit1")), "77");
    EXPECT_EQ(Text(Control("Button12")), "Pause");
    EXPECT_EQ(form_->Icon(0).Angle(), 354.0f);
    EXPECT_EQ(form_->OutputByte(), form_->Motor(0).Phase());  // the output was updated
}

TEST_F(MainFormTest, OutputByteCarriesEveryMotorsPhase) {
    Steps(1, motion::kDirRight, 1);
    Steps(3, motion::kDirLeft, 1);
    const uint8_t expected =
        static_cast<uint8_t>(form_->Motor(1).Phase() << 2 | form_->Motor(3).Phase() << 6);
    EXPECT_NE(expected, 0);
    EXPECT_EQ(form_->OutputByte(), expected);
}

TEST_F(MainFormTest, StepEventWithoutDirectionChangesNothing) {
    form_->Motor(2).SetPhase(3);
    form_->StepEvent(2, motion::kDirNone);
    form_->StepEvent(2, 7);
    Pump();
    EXPECT_EQ(form_->OutputByte(), 0);  // no output update
    EXPECT_EQ(form_->JogTally(2), 0);
    EXPECT_EQ(form_->Icon(2).Angle(), 0.0f);
    EXPECT_EQ(Text(Control("Edit7")), "0");
}

TEST_F(MainFormTest, SymbolAngleWrapsAsDesigned) {
    Steps(0, motion::kDirRight, 1);
    EXPECT_EQ(form_->Icon(0).Angle(), 354.0f);
    Steps(0, motion::kDirLeft, 1);
    EXPECT_EQ(form_->Icon(0).Angle(), 360.0f);
    Steps(0, motion::kDirLeft, 1);
    EXPECT_EQ(form_->Icon(0).Angle(), 6.0f);
    EXPECT_THAT(form_->Icon(0).Points(),
                ElementsAre(IconPoint{21, 16}, IconPoint{10, 1}, IconPoint{3, 18}));
}

TEST_F(MainFormTest, PositionClickZeroesThatMotorAndShowsEveryTallySigned) {
    Steps(1, motion::kDirRight, 3);
    Steps(2, motion::kDirLeft, 4);
    ASSERT_EQ(Text(Control("SpeedButton2")), "3");
    ASSERT_EQ(Text(Control("Button29")), "Left");
    Click("SpeedButton2");
    EXPECT_EQ(Text(Control("SpeedButton2")), "0");
    EXPECT_EQ(form_->Motor(1).Position(), 0);
    EXPECT_EQ(form_->Icon(1).Angle(), 0.0f);
    EXPECT_EQ(form_->JogTally(1), 0);
    EXPECT_EQ(Text(Control("Edit4")), "0");
    EXPECT_EQ(Text(Control("Edit7")), "-4");       // signed, as the click writes every field
    EXPECT_EQ(Text(Control("Button29")), "Left");  // no direction button changes
    EXPECT_EQ(form_->JogTally(2), -4);
    EXPECT_EQ(form_->Motor(2).Position(), -4);
}

TEST_F(MainFormTest, DirectionButtonCycles) {
    const char* expected[] = {"Left", "Pause", "Right", "Left"};
    for (const char* caption : expected) {
        Click("Button20");
        EXPECT_EQ(Text(Control("Button20")), caption);
    }
    SetText("Button20", "None");  // from a row read from a file
    Click("Button20");
    EXPECT_EQ(Text(Control("Button20")), "Right");
}

// ---------------------------------------------------------------------------------------------
// Program editor wiring

TEST_F(MainFormTest, AddWithDefaultFieldsAppendsARowAndAStep) {
    Steps(0, motion::kDirLeft, 2);  // Add also zeroes the jog tally
    SetText("Edit1", "0");
    SetText("Button12", "Right");
    Click("Button3");
    ASSERT_EQ(Rows("ListView1"), 1);
    EXPECT_THAT(Row(Control("ListView1"), 0), ElementsAre("1", "0", "0", "Right", "0"));
    std::vector<motion::TsmProgramStep> steps;
    form_->GetProgram(0, steps);
    ASSERT_EQ(steps.size(), 1u);
    EXPECT_EQ(steps[0].Steps, 0);
    EXPECT_EQ(steps[0].Frequency, 0.0);
    EXPECT_EQ(steps[0].Direction, motion::kDirRight);
    EXPECT_EQ(form_->JogTally(0), 0);
    Steps(0, motion::kDirRight, 1);
    EXPECT_EQ(Text(Control("Edit1")), "1");  // the next jog counts from 0
}

TEST_F(MainFormTest, KeyFilterOfTheFrequencyAndRampFields) {
    for (const char* name : {"Edit2", "Edit3", "Edit11"}) {
        SetText(name, "");
        // Letters are discarded; Backspace (a control character) passes and takes the '-' back.
        Type(name, "1a2.-x\b-5");
        EXPECT_EQ(Text(Control(name)), "12.-5") << name;
    }
}

TEST_F(MainFormTest, InsertAboveTheSelectedRowKeepsItSelected) {
    for (const char* steps : {"1", "2", "3"}) {
        SetText("Edit4", steps);
        Click("Button14");
    }
    ASSERT_EQ(Rows("ListView2"), 3);
    Select("ListView2", 1);
    EXPECT_EQ(Text(Control("Edit4")), "2");  // the selection fills the fields
    SetText("Edit4", "9");
    SetText("Edit5", "12..5");
    Click("Button15");
    ASSERT_EQ(Rows("ListView2"), 4);
    EXPECT_EQ(Selected("ListView2"), 2);
    EXPECT_THAT(Row(Control("ListView2"), 1), ElementsAre("2", "9", "12..5", "Right", "0"));
    EXPECT_EQ(ItemText(Control("ListView2"), 2, 1), "2");
    std::vector<motion::TsmProgramStep> steps;
    form_->GetProgram(1, steps);
    ASSERT_EQ(steps.size(), 4u);
    EXPECT_EQ(steps[1].Steps, 9);
    EXPECT_EQ(steps[1].Frequency, 0.0);  // "12..5" is no number
}

TEST_F(MainFormTest, DeleteWithoutSelectionDoesNothingAndDeletingTheLastRowClearsIt) {
    SetText("Edit7", "5");
    Click("Button23");
    Click("Button28");  // nothing selected
    ASSERT_EQ(Rows("ListView3"), 1);
    Select("ListView3", 0);
    Click("Button28");
    EXPECT_EQ(Rows("ListView3"), 0);
    EXPECT_EQ(Selected("ListView3"), -1);
    std::vector<motion::TsmProgramStep> steps;
    form_->GetProgram(2, steps);
    EXPECT_TRUE(steps.empty());
}

TEST_F(MainFormTest, ChangeReplacesTheSelectedRowAndSelectionFillsTheFields) {
    SetText("Edit10", "7");
    Click("Button32");
    SetText("Edit10", "8");
    Click("Button32");
    Select("ListView4", 0);
    EXPECT_EQ(Text(Control("Edit10")), "7");
    SetText("Edit10", "70");
    SetText("Button38", "Pause");
    Click("Button34");
    EXPECT_THAT(Row(Control("ListView4"), 0), ElementsAre("1", "70", "0", "Pause", "0"));
    EXPECT_EQ(Selected("ListView4"), 0);
    std::vector<motion::TsmProgramStep> steps;
    form_->GetProgram(3, steps);
    ASSERT_EQ(steps.size(), 2u);
    EXPECT_EQ(steps[0].Steps, 70);
    EXPECT_EQ(steps[0].Direction, motion::kDirNone);
    Select("ListView4", 1);
    EXPECT_EQ(Text(Control("Edit10")), "8");
    EXPECT_EQ(Text(Control("Button38")), "Right");
}

TEST_F(MainFormTest, RunningMotorSelectsItsCurrentStepAndSurvivesNewProject) {
    form_->AppendStep(0, motion::TsmProgramStep{2, 1000.0, 0.0, motion::kDirRight});
    form_->AppendStep(0, motion::TsmProgramStep{1000000, 100.0, 0.0, motion::kDirRight});
    form_->RenumberProgramList(0);
    form_->Motor(0).StartProgram();
    const DWORD start = GetTickCount();
    while (form_->Motor(0).StepIndex() != 1 && GetTickCount() - start < 5000)
        Pump();
    Pump();
    EXPECT_EQ(Selected("ListView1"), 1);
    EXPECT_EQ(Text(Control("Edit1")), "1000000");  // the row's texts in the entry fields
    EXPECT_EQ(Text(Control("Edit2")), "100.00");

    // The programs are emptied under the motors' locks while the motor runs on.
    Menu(IDM_NEWPROJECT);
    EXPECT_EQ(Rows("ListView1"), 0);
    std::vector<motion::TsmProgramStep> steps;
    form_->GetProgram(0, steps);
    EXPECT_TRUE(steps.empty());
    for (int i = 0; i < 20; ++i)
        Pump();
    form_->Motor(0).Stop();
}

TEST_F(MainFormTest, PositionClickKeepsAnotherMotorsPendingJogView) {
    // Motor 2 steps left; its view is posted but not yet handled when motor 1's display is
    // clicked.
    form_->Motor(1).Step(motion::kDirLeft);
    testing::SendClick(Control("SpeedButton1"));
    Pump();
    EXPECT_EQ(Text(Control("Edit4")), "1");
    EXPECT_EQ(Text(Control("Button20")), "Left");
}

}  // namespace
}  // namespace ui
