// The real main window's run control: host-timed runs on the parallel port (without inpout32 the
// steps still run), "Run in order" with its "Loop", Start and Stop, jogging and the diagnostic
// buttons, and the motion preview of a running chain.
#include <windows.h>
// After <windows.h>, which it needs.
#include <commctrl.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "MainFormFixture.h"
#include "ui/MotionPreviewWindow.h"
#include "ui/resource.h"

namespace ui {
namespace {

using testing::MainFormTest;
using testing::Text;

using ::testing::ElementsAre;

class RunControlTest : public MainFormTest {
  protected:
    void SetUp() override {
        MainFormTest::SetUp();
        form_->SetPortSetting(888);
        form_->OpenOutputPort();  // inpout32 missing: its error box goes to the virtual desktop
        Pump();
    }
    void TearDown() override {
        if (IsWindow(window_)) Click("Button10");
        MainFormTest::TearDown();
    }

    void Check(const char* name, bool checked) {
        SendMessageA(Control(name), BM_SETCHECK, checked ? BST_CHECKED : BST_UNCHECKED, 0);
        Click(name);
    }
    bool Checked(const char* name) {
        return SendMessageA(Control(name), BM_GETCHECK, 0, 0) == BST_CHECKED;
    }
    void Program(int motor, int32_t steps, double frequency) {
        testing::AppendProgramStep(*form_, motor, steps, frequency);
    }
    bool AnyRunning() { return testing::AnyMotorRunning(*form_); }
    // The motors in the order they were seen running, each run once per entry, until no motor
    // has run for a while, `limit` runs were seen or the time is up. Also checks that no two
    // motors ever ran at once.
    std::vector<int> WatchChain(size_t limit, DWORD timeoutMs) {
        std::vector<int> order;
        const DWORD start = GetTickCount();
        DWORD idleSince = GetTickCount();
        while (GetTickCount() - start < timeoutMs && order.size() < limit) {
            Pump();
            int running = -1, count = 0;
            for (int m = 0; m < 4; ++m)
                if (form_->Motor(m).Running()) {
                    running = m;
                    ++count;
                }
            EXPECT_LE(count, 1);
            if (running >= 0) {
                idleSince = GetTickCount();
                if (order.empty() || order.back() != running) order.push_back(running);
            } else if (GetTickCount() - idleSince > 1000) {  // the chain has surely ended
                break;
            }
        }
        return order;
    }
};

TEST_F(RunControlTest, RunInOrderRunsOneToFourThenEnds) {
    for (int m = 0; m < 4; ++m)
        Program(m, 10, 100.0);  // 100 ms each: long enough that a busy pump sees every motor
    Check("CheckBox5", true);
    EXPECT_TRUE(IsWindowEnabled(Control("CheckBox6")));
    Click("Button9");
    EXPECT_FALSE(IsWindowEnabled(Control("CheckBox5")));
    EXPECT_THAT(WatchChain(8, 5000), ElementsAre(0, 1, 2, 3));
    for (int m = 0; m < 4; ++m)
        EXPECT_EQ(form_->Motor(m).Position(), 10) << m;
    EXPECT_TRUE(IsWindowEnabled(Control("CheckBox5")));  // no motor runs any more
}

TEST_F(RunControlTest, RunInOrderWithLoopGoesOnWithMotorOne) {
    for (int m = 0; m < 4; ++m)
        Program(m, 6, 50.0);  // 120 ms each: long enough that a busy pump sees every motor
    Check("CheckBox5", true);
    Check("CheckBox6", true);
    Click("Button9");
    EXPECT_THAT(WatchChain(6, 5000), ElementsAre(0, 1, 2, 3, 0, 1));
    Click("Button10");
    EXPECT_FALSE(AnyRunning());
    EXPECT_TRUE(IsWindowEnabled(Control("CheckBox5")));
    // The stop ends the chain: a finish still queued starts nothing.
    EXPECT_TRUE(WatchChain(4, 500).empty());
}

TEST_F(RunControlTest, StartOnMotorThreeRunsThreeAndFour) {
    for (int m = 0; m < 4; ++m)
        Program(m, 10, 100.0);  // 100 ms each: long enough that a busy pump sees every motor
    Check("CheckBox5", true);
    Click("Button22");  // motor 3's "Start"
    EXPECT_THAT(WatchChain(8, 5000), ElementsAre(2, 3));
    EXPECT_EQ(form_->Motor(0).Position(), 0);
    EXPECT_EQ(form_->Motor(1).Position(), 0);
}

TEST_F(RunControlTest, WithoutRunInOrderTheSynchronousStartRunsAllFour) {
    for (int m = 0; m < 4; ++m)
        Program(m, 1000000, 100.0);
    Click("Button9");
    for (int m = 0; m < 4; ++m)
        EXPECT_TRUE(form_->Motor(m).Running()) << m;
    Click("Button10");
    EXPECT_FALSE(AnyRunning());
}

TEST_F(RunControlTest, LoopChainOverEmptyProgramsEnds) {
    Check("CheckBox5", true);
    Check("CheckBox6", true);
    Click("Button9");  // motor 1's empty program finishes at once, and so would every other
    for (int i = 0; i < 20; ++i)
        Pump();
    MSG message;
    EXPECT_FALSE(PeekMessageA(&message, window_, TMainForm::kMsgProgramFinished,
                              TMainForm::kMsgProgramFinished, PM_NOREMOVE));
    EXPECT_FALSE(AnyRunning());
    EXPECT_TRUE(IsWindowEnabled(Control("CheckBox5")));
}

TEST_F(RunControlTest, StartWithAnEmptyProgramDoesNothing) {
    Click("Button2");
    EXPECT_FALSE(form_->Motor(0).Running());
    EXPECT_TRUE(IsWindowEnabled(Control("CheckBox5")));
}

TEST_F(RunControlTest, StopAndStartAgainBeginsWithTheFirstStep) {
    // 10 Hz: the restarted run's second step comes 100 ms after its first, long after the check
    // of the first (at 1000 Hz a busy host saw both).
    form_->AppendStep(0, motion::TsmProgramStep{2, 10.0, 0.0, motion::kDirRight});
    form_->AppendStep(0, motion::TsmProgramStep{1000000, 100.0, 0.0, motion::kDirLeft});
    form_->RenumberProgramList(0);
    Click("Button2");
    EXPECT_FALSE(IsWindowEnabled(Control("CheckBox5")));
    const DWORD start = GetTickCount();
    while (form_->Motor(0).StepIndex() != 1 && GetTickCount() - start < 5000)
        Pump();
    ASSERT_EQ(form_->Motor(0).StepIndex(), 1);
    Click("Button1");
    EXPECT_FALSE(form_->Motor(0).Running());
    EXPECT_EQ(form_->Motor(0).StepIndex(), 0);
    EXPECT_TRUE(IsWindowEnabled(Control("CheckBox5")));
    // The first step of the new run is taken at once: to the right, as the first record says.
    const int32_t before = form_->Motor(0).Position();
    HWND startButton = Control("Button2");
    testing::SendClick(startButton);
    EXPECT_EQ(form_->Motor(0).Position(), before + 1);
    Click("Button1");
}

TEST_F(RunControlTest, UncheckingRunInOrderKeepsItsLoopCheckMark) {
    EXPECT_FALSE(IsWindowEnabled(Control("CheckBox6")));
    Check("CheckBox5", true);
    Check("CheckBox6", true);
    Check("CheckBox5", false);
    EXPECT_FALSE(IsWindowEnabled(Control("CheckBox6")));
    EXPECT_TRUE(Checked("CheckBox6"));
    Check("CheckBox5", true);
    EXPECT_TRUE(IsWindowEnabled(Control("CheckBox6")));
    EXPECT_TRUE(Checked("CheckBox6"));
}

TEST_F(RunControlTest, PanelLoopSetsTheProgramsLooping) {
    Check("CheckBox3", true);
    EXPECT_TRUE(form_->Looping(2));
    Check("CheckBox3", false);
    EXPECT_FALSE(form_->Looping(2));
}

TEST_F(RunControlTest, JogPressStepsAtOnceAndReleaseStops) {
    // Any mouse button: one step at once, then one every 1 / ControlFrequency seconds.
    const struct {
        UINT down, up;
    } kButtons[] = {{WM_LBUTTONDOWN, WM_LBUTTONUP}, {WM_RBUTTONDOWN, WM_RBUTTONUP}};
    for (const auto& b : kButtons) {
        // 10 Hz: the jog timer's first step is 100 ms away, so a busy host cannot slip it in
        // before the check of the step taken at once.
        form_->SetControlFrequency(1, 10.0);
        const int32_t before = form_->JogTally(1);
        HWND right = Control("Button17");  // motor 2's ">>"
        SendMessageA(right, b.down, 0, MAKELPARAM(5, 5));
        EXPECT_EQ(form_->JogTally(1), before + 1);
        EXPECT_TRUE(form_->Motor(1).Jogging());
        const DWORD start = GetTickCount();
        while (GetTickCount() - start < 600)
            Pump();
        SendMessageA(right, b.up, 0, MAKELPARAM(5, 5));
        EXPECT_FALSE(form_->Motor(1).Jogging());
        const int32_t after = form_->JogTally(1);
        EXPECT_GT(after, before + 3);
        Pump();
        Sleep(100);
        Pump();
        EXPECT_EQ(form_->JogTally(1), after);  // no step after the release
    }
}

TEST_F(RunControlTest, JogReleaseEndsARunningProgram) {
    Program(0, 1000000, 100.0);
    Click("Button2");
    ASSERT_TRUE(form_->Motor(0).Running());
    HWND left = Control("Button7");
    SendMessageA(left, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(5, 5));
    SendMessageA(left, WM_LBUTTONUP, 0, MAKELPARAM(5, 5));
    EXPECT_FALSE(form_->Motor(0).Running());
    EXPECT_FALSE(form_->Motor(0).Jogging());
}

TEST_F(RunControlTest, SpaceOnAJogButtonStepsOncePerKeyDown) {
    HWND left = Control("Button7");
    const LPARAM repeat = 1 | (1 << 30);  // auto-repeat: the key was down before
    SendMessageA(left, WM_KEYDOWN, VK_SPACE, 1);
    SendMessageA(left, WM_KEYDOWN, VK_SPACE, repeat);
    SendMessageA(left, WM_KEYDOWN, VK_SPACE, repeat);
    SendMessageA(left, WM_KEYDOWN, 'A', 1);  // other keys do nothing
    EXPECT_EQ(form_->JogTally(0), -3);
    EXPECT_FALSE(form_->Motor(0).Jogging());
    SendMessageA(left, WM_KEYUP, VK_SPACE, static_cast<LPARAM>(0xC0000001u));
    Pump();
    EXPECT_EQ(form_->JogTally(0), -3);  // key release does nothing
}

TEST_F(RunControlTest, DiagnosticButtonsLeaveAHostTimedRunAlone) {
    // Commands to the module: without it nothing is sent and nothing on the host changes.
    Program(3, 1000000, 100.0);
    Click("Button31");
    for (const char* name : {"Button41", "Button42", "Button43", "Button44"})
        Click(name);
    EXPECT_TRUE(form_->Motor(3).Running());
    EXPECT_TRUE(IsWindowEnabled(Control("CheckBox5")) == FALSE);
}

TEST_F(RunControlTest, ResetWithoutPortOrModuleShowsXAndTogglesBack) {
    Steps(1, motion::kDirRight, 3);
    Click("Button45");  // motor 2's "Reset"
    EXPECT_EQ(Text(Control("Button45")), "Cancel");
    for (const char* display : {"SpeedButton1", "SpeedButton2", "SpeedButton3", "SpeedButton4"})
        EXPECT_EQ(Text(Control(display)), "X") << display;
    EXPECT_EQ(form_->Motor(1).Position(), 0);
    EXPECT_EQ(form_->Icon(1).Angle(), 0.0f);
    EXPECT_TRUE(IsWindowEnabled(Control("CheckBox5")));
    Click("Button45");  // the second click ends the reset state and restores the caption
    EXPECT_EQ(Text(Control("Button45")), "Reset");
    Click("Button45");  // and the next starts one again
    EXPECT_EQ(Text(Control("Button45")), "Cancel");
}

// The motion preview follows a host-timed "Run in order" chain: the running motor's time left and
// the chain's (the running motor's and motor 2's whole pass) count down, and go with the run.
TEST_F(RunControlTest, MotionPreviewCountsDownTheTimeLeftOfARunningChain) {
    Program(0, 40, 20.0);  // 2 s each
    Program(1, 40, 20.0);
    Check("CheckBox5", true);
    Menu(IDM_MOTIONPREVIEW);
    HWND preview = FindWindowA(TMotionPreviewWindow::kClassName, "Motion preview");
    ASSERT_NE(preview, nullptr);
    // The seconds of "x.y s left" in a label; -1 when it has none.
    const auto left = [&](int id) {
        const std::string text = Text(GetDlgItem(preview, id));
        const size_t end = text.find(" s left");
        if (end == std::string::npos) return -1.0;
        const size_t begin = text.find_last_not_of("0123456789.", end - 1) + 1;
        return std::stod(text.substr(begin, end - begin));
    };
    const auto pumpFor = [](DWORD ms) {
        const DWORD start = GetTickCount();
        while (GetTickCount() - start < ms)
            Pump();
    };
    EXPECT_EQ(left(TMotionPreviewWindow::kMotorLabelId), -1.0);
    Click("Button9");
    pumpFor(450);
    const double first = left(TMotionPreviewWindow::kMotorLabelId);
    const double chain = left(TMotionPreviewWindow::kChainLabelId);
    EXPECT_GT(first, 0.5);
    EXPECT_LE(first, 2.0);
    EXPECT_NEAR(chain, first + 2.0, 0.21);  // both read from one snapshot, each to a tenth
    EXPECT_EQ(left(TMotionPreviewWindow::kMotorLabelId + 1), -1.0);  // still to come
    pumpFor(600);
    const double later = left(TMotionPreviewWindow::kMotorLabelId);
    EXPECT_GE(later, 0.0);
    EXPECT_LT(later, first);
    EXPECT_LT(left(TMotionPreviewWindow::kChainLabelId), chain);

    Click("Button10");
    pumpFor(450);
    for (int id : {TMotionPreviewWindow::kMotorLabelId, TMotionPreviewWindow::kMotorLabelId + 1,
                   TMotionPreviewWindow::kChainLabelId})
        EXPECT_EQ(left(id), -1.0) << Text(GetDlgItem(preview, id));
    DestroyWindow(preview);
    Pump();
}

}  // namespace
}  // namespace ui
