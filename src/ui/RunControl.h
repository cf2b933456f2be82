// TRunControl: the main window's run control. Per motor "Start", "Stop", "Loop", the jog buttons
// ">>" and "<<" and "Reset"; window-wide the "Synchronous" "Start" and "Stop", "Run in order"
// with its "Loop", the common "Reset", the diagnostic buttons; and the program-finished event,
// which carries "Run in order" on in the host-timed modes. Each command acts according to the
// port setting: in "USB" through the command protocol, otherwise on the motors' own timers; a
// reset runs the parallel-port reset drive and/or the module reset.
//
// Threads: every handler runs on the window's thread, except ProgramFinished (a motor's timer
// thread, or the thread that started an empty program), which only posts to the window.
#pragma once

#include <windows.h>

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>

#include "ui/FormControls.h"

namespace motion {
class TParallelPort;
class TStepperMotor;
}  // namespace motion
namespace platform {
class Desktop;
class TimerService;
}  // namespace platform
namespace usb {
class TUsbLink;
class TUsbProtocol;
}  // namespace usb

namespace ui {

// The main form as the run control sees it: the motors, the outputs, the controls and the window.
class RunControlForm {
  public:
    // Handlers act only while this is true (created and not yet destroyed).
    virtual bool Ready() const = 0;
    // False from the window's destruction on; held by modal loops that may outlive the form.
    virtual std::shared_ptr<const bool> AliveToken() const = 0;
    virtual HWND Handle() const = 0;
    virtual TFormControls& Controls() = 0;
    virtual int16_t PortSetting() const = 0;
    virtual void SetLooping(int motor, bool value) = 0;
    virtual motion::TStepperMotor& Motor(int motor) = 0;
    virtual std::array<motion::TStepperMotor*, 4> MotorArray() = 0;
    virtual usb::TUsbProtocol& Protocol() = 0;
    virtual usb::TUsbLink& Link() = 0;
    virtual motion::TParallelPort& Parallel() = 0;
    virtual platform::TimerService& Timers() = 0;
    virtual platform::Desktop& Desktop() = 0;
    // A reset makes the motor's position unknown: its display shows "X", its symbol 0 degrees.
    virtual void ShowPositionUnknown(int motor) = 0;

  protected:
    ~RunControlForm() = default;
};

class TRunControl {
  public:
    explicit TRunControl(RunControlForm& form) : form_(form) {}
    TRunControl(const TRunControl&) = delete;
    TRunControl& operator=(const TRunControl&) = delete;

    void Button2Click(const TFormControls::Entry& sender);  // panel "Start"
    void Button1Click(const TFormControls::Entry& sender);  // panel "Stop"
    void CheckBox1Click(const TFormControls::Entry& sender);
    void Button9Click();   // synchronous "Start"
    void Button10Click();  // synchronous "Stop"
    void CheckBox5Click();
    void CheckBox6Click();
    void Button41Click();
    void Button42Click();
    void Button43Click();
    void Button44Click();
    void bResetClick(const TFormControls::Entry& sender);
    // Esc in the main window: every motor stops at once, as with the synchronous Stop, and a
    // reset in progress (the reset drive, the module reset) is cancelled.
    void EmergencyStop();

    // The jog buttons' subclass procedure (data: this object): a mouse press steps at once and
    // jogs, its release stops, a space key-down steps once.
    static LRESULT CALLBACK JogButtonProc(HWND button, UINT message, WPARAM wParam, LPARAM lParam,
                                          UINT_PTR id, DWORD_PTR data);

    // OnFinished of a motor (any thread): posted to the window with the motor's stop count.
    void ProgramFinished(int32_t motor);
    // The program-finished handler on the window's thread: "Run in order" goes on.
    void OnProgramFinished(int motor, uint32_t stopCount);
    // What the receive thread asked for (posted): a Reset button's caption back on "Reset",
    // the module reset over, "Run in order" enabled or disabled.
    void OnResetCaption(WPARAM button);
    void OnResetIdle() {
        if (!ResetGoesOn(0)) resetIdle_ = true;
    }
    void OnEnableRunInOrder();

    // The window's Stop of a motor: it returns after the motor's timer event in progress, and
    // a finish posted before it starts no further motor.
    void StopMotor(int motor);

  private:
    // The module's reset of the Reset button's motor (0: of any motor) is still in progress.
    bool ResetGoesOn(WPARAM button) const;
    // The common start of one motor in the current port setting.
    void StartMotor(int motor);
    // "Run in order" is enabled exactly when no motor runs (in "USB": nor plays in the module).
    void EnableRunInOrderIfIdle();
    bool IsChecked(WindowRow row) const;
    // Stop, and in "USB" the motor's list in the module cleared (the panel's Stop).
    void StopAndClearList(int motor);
    // A jog on a motor whose run the module plays ends that run first.
    void EndRunInModule(int motor);
    // The parallel-port reset drive for target t; false when the window was closed meanwhile
    // (the caller then touches nothing more).
    bool ResetDrive(int t, HWND button);
    void JogMouseDown(int motor, uint8_t direction);
    void JogMouseUp(int motor);
    void JogKeyDown(int motor, uint8_t direction, WPARAM key);

    RunControlForm& form_;
    HWND jogPressed_ = nullptr;  // the jog button a mouse press started a jog on
    bool resetIdle_ = true;      // no reset is in progress
    // The newest reset drive's number ends every older one (a Reset click during one may start
    // another inside its message handling).
    uint32_t resetDriveNumber_ = 0;
    // Counted up by every Stop from the window: a finish posted before it (still queued when the
    // operator stopped the motor) carries the old count and starts no further motor.
    std::array<std::atomic<uint32_t>, kMotorCount> stopCount_{};
};

}  // namespace ui
