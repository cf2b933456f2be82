// The parallel-port reset drive of the real main window, against the stand-in port library
// (inpout32.dll beside this test): which motors step, the status bits that end a motor's part,
// the cancelling click, the time-out warning and closing the window while the drive runs.
#include <windows.h>
// After <windows.h>, which it needs.
#include <commctrl.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "FormTestSupport.h"
#include "platform/DeviceFile.h"
#include "platform/LibraryLoader.h"
#include "platform/TimerService.h"
#include "platform/virtual/MemoryFileStore.h"
#include "platform/virtual/VirtualDesktop.h"
#include "ui/MainForm.h"

namespace ui {
namespace {

using testing::Pump;
using testing::Text;

using FakePortResetFn = void(__stdcall*)(int16_t);

// What the timer callbacks do while the drive runs (they run inside its message handling).
int16_t gLaterStatus = 0;
HWND gClickTarget = nullptr;  // the Reset button to click again
HWND gCloseTarget = nullptr;  // the window to close

void SetFakeStatus(int16_t status) {
    HMODULE library = GetModuleHandleA("inpout32.dll");
    ASSERT_NE(library, nullptr);
    auto reset = reinterpret_cast<FakePortResetFn>(
        reinterpret_cast<void*>(GetProcAddress(library, "FakePortReset")));
    ASSERT_NE(reset, nullptr);
    reset(status);
}

void CALLBACK ReachSwitch(HWND, UINT, UINT_PTR id, DWORD) {
    KillTimer(nullptr, id);
    SetFakeStatus(gLaterStatus);
}
void CALLBACK ClickAgain(HWND, UINT, UINT_PTR id, DWORD) {
    KillTimer(nullptr, id);
    testing::SendClick(gClickTarget);
}
// Esc pressed on a control as the keyboard posts it (the drive's loop handles it).
HWND gEscTarget = nullptr;
void CALLBACK PressEsc(HWND, UINT, UINT_PTR id, DWORD) {
    KillTimer(nullptr, id);
    PostMessageA(gEscTarget, WM_KEYDOWN, VK_ESCAPE, 1);
}
void CALLBACK CloseWindow(HWND, UINT, UINT_PTR id, DWORD) {
    KillTimer(nullptr, id);
    SendMessageA(gCloseTarget, WM_CLOSE, 0, 0);
}

// The system's timers, with every pause the window takes recorded (Sleep runs on the window
// thread only, so no lock is needed).
class PauseRecordingTimers final : public platform::TimerService {
  public:
    bool GetDevCaps(platform::TimerCaps& caps) override { return system_.GetDevCaps(caps); }
    void BeginPeriod(uint32_t periodMs) override { system_.BeginPeriod(periodMs); }
    void EndPeriod(uint32_t periodMs) override { system_.EndPeriod(periodMs); }
    uint32_t SetEvent(uint32_t delayMs, uint32_t resolutionMs,
                      platform::TimerEventSink* sink) override {
        return system_.SetEvent(delayMs, resolutionMs, sink);
    }
    void KillEvent(uint32_t timerId) override { system_.KillEvent(timerId); }
    uint32_t TickCount() override { return system_.TickCount(); }
    uint64_t Microseconds() override { return system_.Microseconds(); }
    void Sleep(uint32_t periodMs) override {
        pauses.push_back(periodMs);
        system_.Sleep(periodMs);
    }

    std::vector<uint32_t> pauses;

  private:
    platform::TimerService& system_ = platform::SystemTimerService();
};

class ResetDriveTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() { ASSERT_TRUE(testing::RegisterMainForm()); }
    void SetUp() override {
        form_ = TMainForm::Create(GetModuleHandleA(nullptr),
                                  {timers_, platform::SystemLibraryLoader(), desktop_,
                                   platform::SystemDeviceFiles(), files_, dialogs_});
        ASSERT_NE(form_, nullptr);
        window_ = form_->Handle();
        form_->SetPortSetting(0x378);
        form_->OpenOutputPort();
        Pump();
        ASSERT_TRUE(desktop_.Messages().empty()) << "the stand-in inpout32.dll was not loaded";
        SetFakeStatus(0);
    }
    void TearDown() override {
        if (IsWindow(window_)) DestroyWindow(window_);
        Pump();
    }
    void Click(const char* name) {
        HWND control = form_->Control(name);
        ASSERT_NE(control, nullptr) << name;
        testing::SendClick(control);
        if (IsWindow(window_)) Pump();
    }

    PauseRecordingTimers timers_;
    platform::VirtualDesktop desktop_;
    platform::MemoryFileStore files_;
    testing::NoDialogs dialogs_;
    TMainForm* form_ = nullptr;
    HWND window_ = nullptr;
};

TEST_F(ResetDriveTest, ResetOfMotorTwoStopsAllStepsOnlyItAndShowsX) {
    form_->AppendStep(0, motion::TsmProgramStep{1000000, 100.0, 0.0, motion::kDirRight});
    form_->Motor(0).StartProgram();
    const int32_t tallies[] = {form_->JogTally(0), form_->JogTally(1), form_->JogTally(2),
                               form_->JogTally(3)};
    gLaterStatus = 0x20;  // motor 2's switch closes after 150 ms
    SetTimer(nullptr, 0, 150, ReachSwitch);
    Click("Button45");  // returns when the drive has ended
    EXPECT_FALSE(form_->Motor(0).Running());
    EXPECT_GT(form_->JogTally(1), tallies[1] + 5);  // ResetDirection right: counted up
    EXPECT_EQ(form_->JogTally(0), tallies[0]);
    EXPECT_EQ(form_->JogTally(2), tallies[2]);
    EXPECT_EQ(form_->JogTally(3), tallies[3]);
    for (const char* display : {"SpeedButton1", "SpeedButton2", "SpeedButton3", "SpeedButton4"})
        EXPECT_EQ(Text(form_->Control(display)), "X") << display;
    EXPECT_EQ(form_->Motor(1).Position(), 0);
    EXPECT_EQ(Text(form_->Control("Button45")), "Reset");
    EXPECT_TRUE(desktop_.Messages().empty());
    EXPECT_TRUE(IsWindowEnabled(form_->Control("CheckBox5")));
}

TEST_F(ResetDriveTest, SlowestPositiveMaximumFrequencyBelow1000PacesEveryPass) {
    struct Case {
        double maxFrequencies[4];
        uint32_t pauseMs;
    };
    // 800 / f ms rounded: 0 Hz is left out, 1000 Hz and above do not slow the drive down. Only
    // motor 4 is reset, and its own maximum is 0 or at least 1000 Hz, so that its steps never
    // take the rate limiter's pause (which goes through the same timers) and every recorded
    // pause is the drive's own.
    const Case cases[] = {{{1000, 250, 0, 2000}, 3},
                          {{0, 0, 0, 0}, 1},
                          {{1000, 1000, 1000, 1000}, 1},
                          {{320, 1000, 1000, 1000}, 2},  // 2.5 rounds to even
                          {{1000, 160, 1000, 0}, 5}};
    for (const Case& c : cases) {
        for (int m = 0; m < 4; ++m)
            form_->SetMaxFrequency(m, c.maxFrequencies[m]);
        timers_.pauses.clear();
        gLaterStatus = 0x78;  // every switch closes after 60 ms
        SetFakeStatus(0);
        SetTimer(nullptr, 0, 60, ReachSwitch);
        Click("Button47");
        ASSERT_FALSE(timers_.pauses.empty()) << c.pauseMs;
        for (uint32_t pause : timers_.pauses)
            EXPECT_EQ(pause, c.pauseMs);
        EXPECT_EQ(Text(form_->Control("Button47")), "Reset");
    }
}

TEST_F(ResetDriveTest, SwitchAlreadyClosedMeansNoStep) {
    // Motors 1 and 4 at their switches (0x40, 0x08); the others' switches close later.
    SetFakeStatus(0x48);
    gLaterStatus = 0x78;
    SetTimer(nullptr, 0, 100, ReachSwitch);
    Click("Button39");
    EXPECT_EQ(form_->JogTally(0), 0);
    EXPECT_EQ(form_->JogTally(3), 0);
    EXPECT_GT(form_->JogTally(1), 0);
    EXPECT_GT(form_->JogTally(2), 0);
    EXPECT_EQ(Text(form_->Control("Button39")), "Reset");
}

TEST_F(ResetDriveTest, SecondClickEndsTheDrive) {
    gClickTarget = form_->Control("Button39");  // any Reset button cancels
    SetTimer(nullptr, 0, 100, ClickAgain);
    const DWORD start = GetTickCount();
    Click("Button47");
    EXPECT_LT(GetTickCount() - start, 2000u);
    EXPECT_TRUE(desktop_.Messages().empty());  // ended by the click, not by the time-out
    EXPECT_EQ(Text(form_->Control("Button47")), "Reset");
    // The reset state is idle again: the next click starts a new reset.
    SetTimer(nullptr, 0, 100, ClickAgain);
    Click("Button47");
    EXPECT_EQ(Text(form_->Control("Button47")), "Reset");
}

TEST_F(ResetDriveTest, EscStopsEveryMotorAndEndsTheDrive) {
    // Host-timed runs: Esc on a jog button stops all four at once.
    for (int m = 0; m < 4; ++m) {
        form_->AppendStep(m, motion::TsmProgramStep{1000000, 100.0, 0.0, motion::kDirRight});
        form_->Motor(m).StartProgram();
    }
    PostMessageA(form_->Control("Button7"), WM_KEYDOWN, VK_ESCAPE, 1);
    testing::PumpAsProgram(window_);
    EXPECT_FALSE(testing::AnyMotorRunning(*form_));
    // During a reset drive (whose switches never close), Esc in an entry field cancels it.
    gEscTarget = form_->Control("Edit2");
    SetTimer(nullptr, 0, 100, PressEsc);
    const DWORD start = GetTickCount();
    Click("Button39");
    EXPECT_LT(GetTickCount() - start, 2000u);
    EXPECT_TRUE(desktop_.Messages().empty());  // ended by Esc, not by the time-out
    EXPECT_EQ(Text(form_->Control("Button39")), "Reset");
    EXPECT_TRUE(IsWindow(window_));  // Esc in a field does not close anything
}

TEST_F(ResetDriveTest, NoSwitchWithinTenSecondsWarnsOnceAtTheLimitEvenAtTheSlowestPace) {
    // 0.01 Hz: an 80 s pause per pass and 100 s between a motor's steps, far beyond the limit
    // (and beyond a 32-bit wait at smaller settings): the limit still acts on time.
    form_->SetMaxFrequency(0, 0.01);
    const DWORD start = GetTickCount();
    Click("Button39");
    const DWORD elapsed = GetTickCount() - start;
    EXPECT_GE(elapsed, 10000u);
    EXPECT_LT(elapsed, 12000u);
    ASSERT_EQ(desktop_.Messages().size(), 1u);
    EXPECT_EQ(desktop_.Messages()[0].text, "Reset time exceeded (10 seconds)");
    EXPECT_EQ(desktop_.Messages()[0].caption, "Warning");
    EXPECT_EQ(Text(form_->Control("Button39")), "Reset");
}

TEST_F(ResetDriveTest, EscAndASecondClickEndASlowDriveAtOnce) {
    struct Case {
        double maxFrequency;
        bool byEsc;
    };
    for (const Case c : {Case{0.01, true}, Case{0.01, false}, Case{1e-300, true}}) {
        form_->SetMaxFrequency(0, c.maxFrequency);
        form_->SetMaxFrequency(1, c.maxFrequency);
        gEscTarget = form_->Control("Edit2");
        gClickTarget = form_->Control("Button39");
        SetTimer(nullptr, 0, 100, c.byEsc ? PressEsc : ClickAgain);
        const DWORD start = GetTickCount();
        Click("Button39");
        // 100 ms to the key or click, a slice of the drive's wait, and a generous margin for a
        // busy machine; the pause alone would have been 80 s.
        EXPECT_LT(GetTickCount() - start, 1000u) << c.maxFrequency;
        EXPECT_TRUE(desktop_.Messages().empty()) << c.maxFrequency;
        EXPECT_EQ(Text(form_->Control("Button39")), "Reset");
        for (uint32_t pause : timers_.pauses)
            EXPECT_LE(pause, 20u);
        timers_.pauses.clear();
    }
}

TEST_F(ResetDriveTest, ClosingTheWindowDuringTheDriveEndsIt) {
    gCloseTarget = window_;
    SetTimer(nullptr, 0, 100, CloseWindow);
    Click("Button39");
    EXPECT_FALSE(IsWindow(window_));
    Pump();
}

}  // namespace
}  // namespace ui
