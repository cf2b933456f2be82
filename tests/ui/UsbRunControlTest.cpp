// Run control of the real main window in the module's mode ("USB"), against q417-sim.exe's
// virtual module: the window's Start streams the program and ends when the module has played it,
// "Run in order" chains in the module, Stop clears the motor's list there, the diagnostic buttons
// send their requests and a module reset ends with the captions back on "Reset". What the module
// did is read from the simulator's trace. The test runs in the kit's folder, so that the window's
// LoadLibraryA("vrexusbdrv.dll") finds the simulator's locator.
#include <windows.h>
// After <windows.h>, which it needs.
#include <commctrl.h>

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "FormTestSupport.h"
#include "e2e/driver/TraceFile.h"
#include "platform/DeviceFile.h"
#include "platform/LibraryLoader.h"
#include "platform/TimerService.h"
#include "platform/virtual/MemoryFileStore.h"
#include "platform/virtual/VirtualDesktop.h"
#include "sim/client/SimulatorClient.h"
#include "ui/MainForm.h"

namespace ui {
namespace {

using testing::Pump;
using testing::PumpFor;
using testing::Text;

using e2e::TraceLine;

class UsbRunControlTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() { ASSERT_TRUE(testing::RegisterMainForm()); }
    void SetUp() override {
        ASSERT_TRUE(simulator_.Start(Q417_SIM_EXE)) << simulator_.Error();
        form_ = TMainForm::Create(GetModuleHandleA(nullptr),
                                  {platform::SystemTimerService(), platform::SystemLibraryLoader(),
                                   desktop_, platform::SystemDeviceFiles(), files_, dialogs_});
        ASSERT_NE(form_, nullptr);
        window_ = form_->Handle();
        form_->SetPortSetting(0);  // "USB": the module times the steps
        form_->OpenOutputPort();
        ASSERT_TRUE(
            WaitFor([&] { return Text(form_->Control("Label21")) == "USB (connected)"; }, 5000))
            << Text(form_->Control("Label21"));
        PumpFor(400);  // the clock calibration has its 20 pairs
    }
    void TearDown() override {
        if (IsWindow(window_)) DestroyWindow(window_);
        Pump();
    }

    static bool WaitFor(const std::function<bool()>& done, DWORD timeoutMs) {
        const DWORD start = GetTickCount();
        for (;;) {
            Pump();
            if (done()) return true;
            if (GetTickCount() - start > timeoutMs) return false;
            Sleep(10);
        }
    }
    void Click(const char* name) {
        HWND control = form_->Control(name);
        ASSERT_NE(control, nullptr) << name;
        testing::SendClick(control);
        Pump();
    }
    void Check(const char* name) {
        SendMessageA(form_->Control(name), BM_SETCHECK, BST_CHECKED, 0);
        Click(name);
    }
    void Program(int motor, int32_t steps, double frequency) {
        testing::AppendProgramStep(*form_, motor, steps, frequency);
    }
    bool AnyRunning() { return testing::AnyMotorRunning(*form_); }
    std::vector<TraceLine> Steps(int motor) {
        return e2e::MotorSteps(e2e::ReadTrace(simulator_.TracePath()), motor);
    }
    // Reports received by the module whose bytes start with `prefix` ("00 07" ...).
    size_t Received(const std::string& prefix) {
        size_t count = 0;
        for (const TraceLine& line : e2e::ReadTrace(simulator_.TracePath()))
            if (line.Motor < 0 && line.Last.rfind(prefix, 0) == 0) ++count;
        return count;
    }

    sim::SimulatorClient simulator_;
    platform::VirtualDesktop desktop_;
    platform::MemoryFileStore files_;
    testing::NoDialogs dialogs_;
    TMainForm* form_ = nullptr;
    HWND window_ = nullptr;
};

TEST_F(UsbRunControlTest, StartStreamsTheProgramAndEndsWhenTheModuleHasPlayedIt) {
    Program(0, 40, 400.0);
    Click("Button2");
    EXPECT_FALSE(IsWindowEnabled(form_->Control("CheckBox5")));
    ASSERT_TRUE(WaitFor([&] { return Steps(1).size() >= 40 && !AnyRunning(); }, 5000));
    const std::vector<TraceLine> steps = Steps(1);
    ASSERT_EQ(steps.size(), 40u);
    EXPECT_EQ(steps.back().Position, 40);
    // 400 Hz: 19.53 ticks apart, never faster; how much later a busy host streams is the
    // streaming tests' and benchmark's concern.
    EXPECT_GE(static_cast<double>(steps.back().Tick - steps.front().Tick), 39 * 19.53 - 39);
    PumpFor(100);
    EXPECT_TRUE(IsWindowEnabled(form_->Control("CheckBox5")));
    EXPECT_TRUE(Steps(2).empty());
}

TEST_F(UsbRunControlTest, RunInOrderChainsThroughTheModule) {
    Program(0, 10, 200.0);
    Program(1, 10, 200.0);
    Program(3, 5, 200.0);
    Check("CheckBox5");
    Click("Button9");
    ASSERT_TRUE(WaitFor([&] { return Steps(4).size() == 5 && !AnyRunning(); }, 8000));
    const std::vector<TraceLine> one = Steps(1), two = Steps(2), four = Steps(4);
    ASSERT_EQ(one.size(), 10u);
    ASSERT_EQ(two.size(), 10u);
    EXPECT_GT(two.front().Tick, one.back().Tick);
    EXPECT_GT(four.front().Tick, two.back().Tick);
    EXPECT_TRUE(Steps(3).empty());
    // Without "Loop" the chain ends after motor 4.
    PumpFor(500);
    EXPECT_EQ(Steps(1).size(), 10u);
}

TEST_F(UsbRunControlTest, StopClearsTheMotorsListInTheModule) {
    Program(0, 2000, 200.0);  // ten seconds
    Click("Button2");
    ASSERT_TRUE(WaitFor([&] { return Steps(1).size() >= 20; }, 5000));
    Click("Button1");
    EXPECT_FALSE(form_->Motor(0).Running());
    // ClearCommandList of motor 1 (the simulator traces it as it reads it).
    EXPECT_TRUE(WaitFor([&] { return Received("00 17") >= 1; }, 2000));
    PumpFor(200);
    const size_t played = Steps(1).size();
    PumpFor(300);
    EXPECT_EQ(Steps(1).size(), played);
    EXPECT_LT(played, 400u);
}

TEST_F(UsbRunControlTest, DiagnosticButtonsSendTheirRequests) {
    struct Case {
        const char* button;
        const char* report;
    };
    const Case cases[] = {{"Button41", "00 07"},
                          {"Button42", "00 04 05"},
                          {"Button43", "00 04 03 0a"},
                          {"Button44", "00 04 03 05"}};
    for (const Case& c : cases) {
        const size_t before = Received(c.report);
        Click(c.button);
        EXPECT_TRUE(WaitFor([&] { return Received(c.report) > before; }, 2000)) << c.button;
    }
}

TEST_F(UsbRunControlTest, ModuleResetEndsAtTheSwitchesAndTheCaptionsReturn) {
    Program(1, 30, 500.0);
    Click("Button13");
    ASSERT_TRUE(WaitFor([&] { return Steps(2).size() == 30 && !AnyRunning(); }, 5000));
    form_->SetResetDirection(1, motion::kDirLeft);  // back toward the switch at 0
    Click("Button45");
    EXPECT_EQ(Text(form_->Control("Button45")), "Cancel");
    EXPECT_EQ(Text(form_->Control("SpeedButton2")), "X");
    ASSERT_TRUE(WaitFor([&] { return Text(form_->Control("Button45")) == "Reset"; }, 5000));
    EXPECT_EQ(Steps(2).back().Position, 0);
    EXPECT_TRUE(IsWindowEnabled(form_->Control("CheckBox5")));
    EXPECT_TRUE(desktop_.Messages().empty());
}

// Four programs chained with "Loop", motor 1 fully handed out to the module at once: a Stop
// ends the chain, and no motor starts that the operator did not start.
class StoppedChainWindowTest : public UsbRunControlTest,
                               public ::testing::WithParamInterface<const char*> {};

TEST_P(StoppedChainWindowTest, NoMotorStartsAfterTheStop) {
    for (int m = 0; m < 4; ++m)
        Program(m, 1500, 1000.0);
    Check("CheckBox5");
    Check("CheckBox6");
    Click("Button9");
    ASSERT_TRUE(WaitFor([&] { return Steps(1).size() >= 100; }, 5000));
    const size_t clears = Received("00 07") + Received("00 17");
    Click(GetParam());  // the synchronous Stop or motor 1's own
    ASSERT_TRUE(WaitFor([&] { return Received("00 07") + Received("00 17") > clears; }, 2000));
    PumpFor(200);
    const size_t played = Steps(1).size();
    PumpFor(1500);  // longer than motor 1's program
    EXPECT_EQ(Steps(1).size(), played);
    EXPECT_TRUE(Steps(2).empty());
    EXPECT_TRUE(Steps(3).empty());
    EXPECT_TRUE(Steps(4).empty());
    EXPECT_FALSE(AnyRunning());
    EXPECT_TRUE(IsWindowEnabled(form_->Control("CheckBox5")));
}

INSTANTIATE_TEST_SUITE_P(Stops, StoppedChainWindowTest, ::testing::Values("Button10", "Button1"));

TEST_F(UsbRunControlTest, AModuleResetEndsTheRunItInterrupts) {
    Program(3, 6000, 1000.0);
    Check("CheckBox4");  // a looping program would otherwise play on for ever after the reset
    Click("Button31");
    ASSERT_TRUE(WaitFor([&] { return Steps(4).size() >= 300; }, 5000));
    form_->SetResetDirection(3, motion::kDirLeft);  // back toward the switch at 0
    Click("Button47");
    EXPECT_FALSE(form_->Motor(3).Running());
    ASSERT_TRUE(WaitFor([&] { return Text(form_->Control("Button47")) == "Reset"; }, 5000));
    PumpFor(100);
    const std::vector<TraceLine> afterReset = Steps(4);
    ASSERT_FALSE(afterReset.empty());
    EXPECT_EQ(afterReset.back().Position, 0);  // at the switch
    PumpFor(700);
    EXPECT_EQ(Steps(4).size(), afterReset.size());  // nothing of the program after the reset
    EXPECT_FALSE(AnyRunning());
}

TEST_F(UsbRunControlTest, AJogDuringAModuleRunEndsItAndJogsAtTheControlFrequency) {
    Program(0, 2000, 500.0);
    Click("Button2");
    ASSERT_TRUE(WaitFor([&] { return Steps(1).size() >= 20; }, 5000));
    const size_t outputsBefore = Received("00 0a");
    HWND jog = form_->Control("Button6");
    SendMessageA(jog, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(5, 5));
    EXPECT_FALSE(form_->Motor(0).Running());
    PumpFor(300);
    SendMessageA(jog, WM_LBUTTONUP, 0, MAKELPARAM(5, 5));
    PumpFor(300);
    // 10 Hz for 0.3 s: one step at once and about three more, each one direct output; not the
    // program's 500 steps per second timed by the host.
    const size_t outputs = Received("00 0a") - outputsBefore;
    EXPECT_GE(outputs, 2u);
    EXPECT_LE(outputs, 6u);
    EXPECT_GE(Received("00 17"), 1u);  // the module's list of motor 1 was cleared
    const size_t played = Steps(1).size();
    PumpFor(500);
    EXPECT_EQ(Steps(1).size(), played);  // the module plays nothing more of the program
    EXPECT_LT(played, 2000u);
}

// Esc in the main window, in both module modes: every motor stops at once.
class EmergencyStopTest : public UsbRunControlTest, public ::testing::WithParamInterface<int> {};

TEST_P(EmergencyStopTest, EscStopsEveryMotorAtOnce) {
    form_->SetPortSetting(static_cast<int16_t>(GetParam()));
    for (int m = 0; m < 4; ++m)
        Program(m, 3000, 200.0);
    Click("Button9");
    ASSERT_TRUE(WaitFor(
        [&] {
            return form_->JogTally(0) != 0 || Steps(1).size() >= 10 ||
                   form_->Motor(0).Position() >= 10;
        },
        5000));
    const size_t clears = Received("00 07");
    PostMessageA(form_->Control("Edit1"), WM_KEYDOWN, VK_ESCAPE, 1);  // in an entry field
    testing::PumpAsProgram(window_);
    EXPECT_FALSE(AnyRunning());
    if (GetParam() == 0) {
        // The module's lists are cleared, and nothing more plays.
        EXPECT_TRUE(WaitFor([&] { return Received("00 07") > clears; }, 2000));
        PumpFor(200);
        const size_t played = Steps(1).size() + Steps(4).size();
        PumpFor(400);
        EXPECT_EQ(Steps(1).size() + Steps(4).size(), played);
    } else {
        const int32_t position = form_->Motor(3).Position();
        PumpFor(300);
        EXPECT_EQ(form_->Motor(3).Position(), position);
    }
    EXPECT_TRUE(IsWindowEnabled(form_->Control("CheckBox5")));
}

INSTANTIATE_TEST_SUITE_P(UsbAndUsbSlow, EmergencyStopTest, ::testing::Values(0, 1));

// The receive thread posts a Reset button's caption and the end of the reset once the module
// has ended one. A reset started before the window handled those posts goes on: its button keeps
// "Cancel", and the next click cancels it.
TEST_F(UsbRunControlTest, TheEndOfAnEarlierResetLeavesANewOneRunning) {
    form_->SetMaxFrequency(1, 20.0);  // slow: the switch is far from reached meanwhile
    Click("Button45");
    ASSERT_EQ(Text(form_->Control("Button45")), "Cancel");
    for (const WPARAM button : {WPARAM{2}, WPARAM{0}})
        PostMessageA(window_, TMainForm::kMsgResetCaption, button, 0);
    PostMessageA(window_, TMainForm::kMsgResetIdle, 0, 0);
    Pump();
    EXPECT_EQ(Text(form_->Control("Button45")), "Cancel");
    Click("Button45");
    EXPECT_EQ(Text(form_->Control("Button45")), "Reset");
    EXPECT_TRUE(WaitFor([&] { return Received("00 03 13") >= 1; }, 2000)) << "a cancel went out";
}

TEST_F(UsbRunControlTest, EscCancelsAModuleReset) {
    form_->SetMaxFrequency(1, 20.0);  // slow: the switch is far from reached when Esc comes
    form_->SetResetDirection(1, motion::kDirRight);
    Program(1, 200, 1000.0);
    Click("Button13");
    ASSERT_TRUE(WaitFor([&] { return Steps(2).size() >= 200 && !AnyRunning(); }, 5000));
    form_->SetResetDirection(1, motion::kDirLeft);
    Click("Button45");
    ASSERT_EQ(Text(form_->Control("Button45")), "Cancel");
    PumpFor(100);
    PostMessageA(form_->Control("Button18"), WM_KEYDOWN, VK_ESCAPE, 1);  // on a jog button
    testing::PumpAsProgram(window_);
    EXPECT_EQ(Text(form_->Control("Button45")), "Reset");
    EXPECT_TRUE(WaitFor([&] { return Received("00 03 13") >= 1; }, 2000));
    // The next click starts a new reset rather than cancelling one.
    Click("Button45");
    EXPECT_EQ(Text(form_->Control("Button45")), "Cancel");
}

}  // namespace
}  // namespace ui
