// The real main window's keyboard, the lists' selection and the message boxes, through the
// program's own message loop.
#include <windows.h>
// After <windows.h>, which it needs.
#include <commctrl.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>
#include <initializer_list>

#include "MainFormFixture.h"

namespace ui {
namespace {

using testing::MainFormTest;
using testing::Text;

// ---------------------------------------------------------------------------------------------
// The window's keyboard, the lists' selection and the message boxes, through the program's own
// message loop: keys go through IsDialogMessageA, list reports come from the list itself as a
// click or an arrow key makes it report. The window is shown, so that it has the focus.

class KeyboardTest : public MainFormTest {
  protected:
    void SetUp() override {
        MainFormTest::SetUp();
        ShowWindow(window_, SW_SHOW);
        Pump();
    }
    void Key(UINT key, bool shift = false) { testing::PressKey(window_, key, shift); }
    void MouseClick(const char* name) { testing::MouseClick(window_, Control(name)); }
    // A click on a row of a program list, where the mouse would press it.
    void ClickRow(const char* list, int row) {
        RECT item{};
        item.left = LVIR_BOUNDS;
        SendMessageA(Control(list), LVM_GETITEMRECT, static_cast<WPARAM>(row),
                     reinterpret_cast<LPARAM>(&item));
        testing::MouseClick(window_, Control(list), {item.left + 20, (item.top + item.bottom) / 2});
    }
    void AddRows(int motor, const char* steps, std::initializer_list<const char*> rows) {
        for (const char* r : rows) {
            SetText(steps, r);
            Click(kAddButtons[motor]);
        }
    }
    static constexpr const char* kAddButtons[] = {"Button3", "Button14", "Button23", "Button32"};
};

TEST_F(KeyboardTest, EscAndEnterInTheStepsFieldDoWhatTheyDoInEveryOtherField) {
    for (const char* field : {"Edit1", "Edit2", "Edit7"}) {
        for (UINT key : {VK_ESCAPE, VK_RETURN}) {
            SCOPED_TRACE(std::string(field) + (key == VK_ESCAPE ? " Esc" : " Enter"));
            HWND edit = Control(field);
            SetText(field, "12");
            SetFocus(edit);
            Key(key);
            // The panel and its controls are all still there: the field, its motor's symbol.
            EXPECT_TRUE(IsWindow(GetParent(edit)));
            EXPECT_EQ(form_->Control(field), edit);
            EXPECT_TRUE(IsWindow(edit));
            EXPECT_EQ(GetFocus(), edit);
            EXPECT_EQ(Text(edit), "12");
            EXPECT_EQ(Rows("ListView1") + Rows("ListView3"), 0);
        }
    }
    // Such keys that reach the field itself, by a loop without dialog keys, change nothing.
    for (UINT key : {VK_ESCAPE, VK_RETURN, VK_TAB})
        PostMessageA(Control("Edit4"), WM_KEYDOWN, key, 1);
    Pump();
    EXPECT_TRUE(IsWindow(Control("ListView2")));
    EXPECT_EQ(Text(Control("Edit4")), "0");
    // The symbol the motor writes to is alive: the steps turn it.
    Steps(1, motion::kDirRight, 1);
    EXPECT_EQ(form_->Icon(1).Angle(), 354.0f);
}

TEST_F(KeyboardTest, TabAndShiftTabMoveOnFromEveryEntryField) {
    struct Case {
        const char* From;
        bool Shift;
        const char* To;
    };
    const Case cases[] = {
        {"Edit1", false, "Edit2"},   {"Edit1", true, "ListView1"}, {"Edit2", false, "Button12"},
        {"Edit2", true, "Edit1"},    {"Edit10", false, "Edit11"},  {"Edit10", true, "ListView4"},
        {"Edit3", false, "Button8"}, {"Edit4", true, "ListView2"},
    };
    for (const Case& c : cases) {
        SetFocus(Control(c.From));
        Key(VK_TAB, c.Shift);
        EXPECT_EQ(GetFocus(), Control(c.To)) << c.From << (c.Shift ? " Shift+Tab" : " Tab");
    }
}

TEST_F(KeyboardTest, OneSelectionChangeRunsOnePass) {
    AddRows(1, "Edit4", {"1", "2", "3"});
    HWND list = Control("ListView2");
    // What the window sets on the list, and what the list reports back.
    testing::MessageCounter sets(list, LVM_SETITEMSTATE);
    testing::MessageCounter reports(GetParent(list), WM_NOTIFY, LVN_ITEMCHANGED);
    struct Action {
        const char* What;
        std::function<void()> Run;
        int Selected;
        const char* Steps;  // what the Steps field shows afterwards
    };
    const Action actions[] = {
        {"click on row 1", [&] { ClickRow("ListView2", 0); }, 0, "1"},
        {"arrow down", [&] { Key(VK_DOWN); }, 1, "2"},
        {"arrow down", [&] { Key(VK_DOWN); }, 2, "3"},
        {"arrow up", [&] { Key(VK_UP); }, 1, "2"},
        {"click on row 3", [&] { ClickRow("ListView2", 2); }, 2, "3"},
        {"Delete", [&] { Click("Button19"); }, -1, "3"},
    };
    for (const Action& a : actions) {
        SCOPED_TRACE(a.What);
        sets.Reset();
        reports.Reset();
        a.Run();
        // One answer to the operator's change, and no echo that starts another.
        EXPECT_LE(sets.Count(), 2);
        EXPECT_LE(reports.Count(), 8);
        EXPECT_EQ(Selected("ListView2"), a.Selected);
        EXPECT_EQ(form_->Editor(1).Selection(), a.Selected);
        EXPECT_EQ(Text(Control("Edit4")), a.Steps);
    }
    EXPECT_EQ(Rows("ListView2"), 2);
}

TEST_F(KeyboardTest, InsertLeavesTheFieldsAsTyped) {
    AddRows(0, "Edit1", {"1", "2"});
    ClickRow("ListView1", 0);
    ASSERT_EQ(Text(Control("Edit1")), "1");
    SetText("Edit1", "7");
    SetText("Edit2", "33");
    for (int i = 0; i < 2; ++i) {
        Click("Button4");
        EXPECT_EQ(Text(Control("Edit1")), "7");
        EXPECT_EQ(Text(Control("Edit2")), "33");
    }
    EXPECT_EQ(Selected("ListView1"), 2);
    std::vector<motion::TsmProgramStep> steps;
    form_->GetProgram(0, steps);
    ASSERT_EQ(steps.size(), 4u);
    EXPECT_EQ(steps[0].Steps, 7);
    EXPECT_EQ(steps[1].Steps, 7);
    EXPECT_EQ(steps[1].Frequency, 33.0);
    EXPECT_EQ(steps[2].Steps, 1);
}

TEST_F(KeyboardTest, PositionDisplayClickLeavesTheFocusWhereItWas) {
    Steps(0, motion::kDirRight, 3);
    SetFocus(Control("Button6"));
    MouseClick("SpeedButton1");
    EXPECT_EQ(Text(Control("SpeedButton1")), "0");  // the click still zeroes it
    EXPECT_EQ(form_->Motor(0).Position(), 0);
    ASSERT_EQ(GetFocus(), Control("Button6"));
    // The space bar steps the motor from the jog button that kept the focus.
    Key(VK_SPACE);
    EXPECT_EQ(form_->Motor(0).Position(), 1);
    // Arrow keys among the panel's controls do not stop on a display either.
    for (UINT key : {VK_RIGHT, VK_LEFT, VK_DOWN, VK_UP}) {
        SetFocus(Control("Button6"));
        Key(key);
        EXPECT_NE(GetFocus(), Control("SpeedButton1"));
    }
}

TEST_F(KeyboardTest, SpaceStepsHeldByTheRateLimitNeverHoldTheWindow) {
    // 2 Hz: the second press's step may come 0.5 s after the first. The window answers at
    // once, and the motor's timer takes the step when the limit lets it through.
    form_->SetMaxFrequency(0, 2.0);
    SetFocus(Control("Button6"));
    const DWORD start = GetTickCount();
    Key(VK_SPACE);
    Key(VK_SPACE);
    // A window that waited for the limit would have taken the second step before it returned.
    EXPECT_EQ(form_->Motor(0).Position(), 1);
    for (DWORD waited = GetTickCount(); form_->Motor(0).Position() < 2;) {
        ASSERT_LT(GetTickCount() - waited, 5000u);
        Pump();
        Sleep(10);
    }
    EXPECT_GE(GetTickCount() - start, 450u);
}

}  // namespace
}  // namespace ui
