#include "ui/RunControl.h"

#include <commctrl.h>

#include "motion/ParallelPort.h"
#include "motion/RunInOrder.h"
#include "ui/MainForm.h"
#include "ui/ResetDrive.h"

namespace ui {

namespace {

constexpr WPARAM kSpaceKey = 32;

}  // namespace

bool TRunControl::IsChecked(WindowRow row) const {
    return SendMessageA(form_.Controls().Window(row), BM_GETCHECK, 0, 0) == BST_CHECKED;
}

void TRunControl::StopMotor(int motor) {
    // Stop returns after the motor's timer event in progress: a finish it posted carries the
    // count from before.
    form_.Motor(motor).Stop();
    ++stopCount_[static_cast<size_t>(motor)];
}

void TRunControl::EnableRunInOrderIfIdle() {
    // Idle also means that the module has played what it was sent of a "USB" run.
    bool anyBusy = false;
    for (int m = 0; m < kMotorCount; ++m)
        anyBusy = anyBusy || !form_.Motor(m).Idle();
    EnableWindow(form_.Controls().Window(kRowRunInOrder), !anyBusy);
}

void TRunControl::StopAndClearList(int motor) {
    StopMotor(motor);
    form_.Protocol().ClearCommandList(motor + 1);
}

void TRunControl::EndRunInModule(int motor) {
    // The host must not step a motor under a run that the module plays.
    if (!form_.Motor(motor).RunsInModule()) return;
    StopAndClearList(motor);
    EnableRunInOrderIfIdle();
}

void TRunControl::StartMotor(int motor) {
    if (motor < 0 || motor >= kMotorCount) return;
    if (form_.PortSetting() == usb::TUsbProtocol::kPortUsb) {
        // The module runs it: whatever the module still holds of an earlier run is discarded
        // so that it does not play first; the receive thread streams the program.
        form_.Protocol().StartMotor(motor);
    } else {
        // Host-timed: the first step at once, the motor's timer paces the rest. An empty program
        // finishes at once.
        form_.Motor(motor).StartProgram();
    }
}

void TRunControl::Button2Click(const TFormControls::Entry& sender) {
    const int m = sender.Tag;
    if (form_.Motor(m).LockProgram()->Count() == 0) return;
    EnableWindow(form_.Controls().Window(kRowRunInOrder), FALSE);
    StartMotor(m);
    // A start that started nothing (no module in "USB") leaves "Run in order" usable.
    EnableRunInOrderIfIdle();
}

void TRunControl::Button1Click(const TFormControls::Entry& sender) {
    // The motor first: a running motor would otherwise refill its ring right after the clear.
    StopAndClearList(sender.Tag);
    EnableRunInOrderIfIdle();
}

void TRunControl::CheckBox1Click(const TFormControls::Entry& sender) {
    // Takes effect at the program's end, also during a run.
    form_.SetLooping(sender.Tag, SendMessageA(sender.Window, BM_GETCHECK, 0, 0) == BST_CHECKED);
}

void TRunControl::CheckBox5Click() {
    const bool checked = IsChecked(kRowRunInOrder);
    // A disabled "Loop" keeps its check mark, for the next time "Run in order" is checked.
    EnableWindow(form_.Controls().Window(kRowRunInOrderLoop), checked);
    form_.Protocol().SetRunInOrder(checked);
}

void TRunControl::CheckBox6Click() {
    form_.Protocol().SetRunInOrderLoop(IsChecked(kRowRunInOrderLoop));
}

void TRunControl::Button9Click() {
    EnableWindow(form_.Controls().Window(kRowRunInOrder), FALSE);
    if (form_.PortSetting() == usb::TUsbProtocol::kPortUsb) {
        form_.Protocol().StartAll();
    } else {
        // Motor 1 alone heads a chain; otherwise all four start together, in this order.
        const int last = IsChecked(kRowRunInOrder) ? 0 : kMotorCount - 1;
        for (int m = 0; m <= last; ++m)
            form_.Motor(m).StartProgram();
    }
    EnableRunInOrderIfIdle();  // nothing started without a module in "USB"
}

void TRunControl::Button10Click() {
    // The chain ends first, so that no motor it would start slips in behind the Stops.
    form_.Protocol().EndRunInOrder();
    for (int m = 0; m < kMotorCount; ++m)
        StopMotor(m);
    EnableWindow(form_.Controls().Window(kRowRunInOrder), TRUE);
    form_.Protocol().ClearCommandList(0);
}

void TRunControl::ProgramFinished(int32_t motor) {
    if (motor < 0 || motor >= kMotorCount) return;
    PostToWindow(form_.Handle(), TMainForm::kMsgProgramFinished, static_cast<WPARAM>(motor),
                 static_cast<LPARAM>(stopCount_[static_cast<size_t>(motor)].load()));
}

void TRunControl::OnProgramFinished(int motor, uint32_t stopCount) {
    if (!form_.Ready() || motor < 0 || motor >= kMotorCount) return;
    if (stopCount != stopCount_[static_cast<size_t>(motor)].load()) {
        EnableRunInOrderIfIdle();  // stopped since: the chain ends there
        return;
    }
    // In "USB" the receive thread carries "Run in order" on; a finish reported here belongs to a
    // host-timed run only.
    if (form_.PortSetting() != usb::TUsbProtocol::kPortUsb && IsChecked(kRowRunInOrder)) {
        const motion::InOrderNext next = motion::NextInOrder(motor, kMotorCount, [this](int32_t m) {
            return static_cast<int32_t>(form_.Motor(m).LockProgram()->Count());
        });
        if ((!next.wrapped || IsChecked(kRowRunInOrderLoop)) &&
            form_.Motor(next.motor).LockProgram()->Count() > 0)
            StartMotor(next.motor);
    }
    EnableRunInOrderIfIdle();
}

void TRunControl::Button41Click() {
    form_.Protocol().ClearCommandList(0);
}
void TRunControl::Button42Click() {
    form_.Protocol().GetMotorStatus();
}
void TRunControl::Button43Click() {
    form_.Protocol().RequestStack(usb::kDataStack);
}
void TRunControl::Button44Click() {
    form_.Protocol().RequestStack(usb::kProgramStack);
}

void TRunControl::bResetClick(const TFormControls::Entry& sender) {
    const int t = sender.Tag;  // 0: all motors, 1-4: one motor
    resetIdle_ = !resetIdle_;
    if (resetIdle_) {
        // Cancelling the reset in progress. The caption goes back to "Reset" also when no
        // module took the reset (neither port nor module available), so that the button never
        // keeps offering a "Cancel" of nothing.
        if (form_.Link().Connected()) form_.Protocol().CancelReset(t);
        SetWindowTextA(sender.Window, "Reset");
        return;
    }
    SetWindowTextA(sender.Window, "Cancel");
    if (motion::TParallelPort::IsParallelPort(form_.PortSetting()) && form_.Parallel().Bound() &&
        !ResetDrive(t, sender.Window))
        return;  // the window was closed during the drive
    // The module drives the motors to their reference positions; the receive thread ends it.
    // The runs of the motors it resets end first, and with them any chain.
    if (form_.Link().Connected()) {
        for (int m = 0; m < kMotorCount; ++m)
            if (t < 1 || t > kMotorCount || t == m + 1) StopMotor(m);
        form_.Protocol().StartReset(t);
    }
    // Every position is unknown until the motor's next step.
    for (int m = 0; m < kMotorCount; ++m) {
        form_.Motor(m).SetPosition(0);
        form_.ShowPositionUnknown(m);
    }
    EnableWindow(form_.Controls().Window(kRowRunInOrder), TRUE);
}

bool TRunControl::ResetDrive(int t, HWND button) {
    const uint32_t number = ++resetDriveNumber_;
    TResetDrive drive(
        {form_.Handle(), form_.Timers(), form_.Desktop(), form_.Parallel(), form_.MotorArray()},
        [this](int motor) { StopMotor(motor); },
        [this, number] { return resetIdle_ || number != resetDriveNumber_; }, form_.AliveToken());
    if (drive.Run(t) == TResetDrive::Result::kWindowGone) return false;
    // A newer drive (started by a click during this one) owns the reset state now.
    if (number == resetDriveNumber_) resetIdle_ = true;
    if (IsWindow(button)) SetWindowTextA(button, "Reset");
    return true;
}

void TRunControl::JogMouseDown(int motor, uint8_t direction) {
    motion::TStepperMotor& m = form_.Motor(motor);
    // The release would end the run anyway.
    EndRunInModule(motor);
    // The first step at once; when the rate limiter would make it wait, the jog's timer takes
    // it, so that the window never sleeps.
    const bool stepped = m.TryStep(direction);
    m.StartJog(direction, !stepped);
}

void TRunControl::JogMouseUp(int motor) {
    // Also ends a program the motor was running.
    StopMotor(motor);
}

void TRunControl::JogKeyDown(int motor, uint8_t direction, WPARAM key) {
    // One step per key-down, the keyboard's auto-repeat included; no jog.
    if (key != kSpaceKey) return;
    EndRunInModule(motor);
    // As the jog's press: a step the rate limiter holds back is the motor's timer's to take,
    // so the window never sleeps.
    form_.Motor(motor).StepSoon(direction);
}

LRESULT CALLBACK TRunControl::JogButtonProc(HWND button, UINT message, WPARAM wParam, LPARAM lParam,
                                            UINT_PTR id, DWORD_PTR data) {
    try {
        auto* self = reinterpret_cast<TRunControl*>(data);
        if (message == WM_NCDESTROY) {
            RemoveWindowSubclass(button, JogButtonProc, id);
            if (self->jogPressed_ == button) self->jogPressed_ = nullptr;
        } else if (self->form_.Ready()) {
            if (const TFormControls::Entry* found =
                    self->form_.Controls().Find(GetDlgCtrlID(button))) {
                const int motor = found->Motor;
                const uint8_t direction =
                    found->EventHandler == Handler::kButton6 ? motion::kDirRight : motion::kDirLeft;
                switch (message) {
                    case WM_LBUTTONDOWN:
                    case WM_RBUTTONDOWN:
                    case WM_MBUTTONDOWN:
                    case WM_LBUTTONDBLCLK:
                    case WM_RBUTTONDBLCLK:
                    case WM_MBUTTONDBLCLK: {
                        self->jogPressed_ = button;
                        self->JogMouseDown(motor, direction);
                        // Any button: the release is to come here, also off the button.
                        const LRESULT result = DefSubclassProc(button, message, wParam, lParam);
                        if (GetCapture() != button) SetCapture(button);
                        return result;
                    }
                    case WM_LBUTTONUP:
                    case WM_RBUTTONUP:
                    case WM_MBUTTONUP:
                        if (self->jogPressed_ == button) {
                            self->jogPressed_ = nullptr;
                            self->JogMouseUp(motor);
                            if (GetCapture() == button && message != WM_LBUTTONUP) ReleaseCapture();
                        }
                        break;
                    case WM_CAPTURECHANGED:
                        // The release can no longer arrive (another window took the mouse): a
                        // jog must not run on unattended.
                        if (self->jogPressed_ == button) {
                            self->jogPressed_ = nullptr;
                            self->JogMouseUp(motor);
                        }
                        break;
                    case WM_KEYDOWN:
                        self->JogKeyDown(motor, direction, wParam);
                        break;
                    default:
                        break;
                }
            }
        }
    } catch (...) {
        return 0;
    }
    return DefSubclassProc(button, message, wParam, lParam);
}

void TRunControl::EmergencyStop() {
    Button10Click();
    if (resetIdle_) return;
    // The reset drive sees the flag after its current pass and ends; the module is told to
    // cancel, and no Reset button offers "Cancel" any more.
    resetIdle_ = true;
    if (form_.Link().Connected()) {
        form_.Protocol().CancelReset(0);
        form_.Protocol().AbandonReset();
    }
    OnResetCaption(0);
    for (int m = 0; m < kMotorCount; ++m)
        OnResetCaption(static_cast<WPARAM>(m + 1));
}

bool TRunControl::ResetGoesOn(WPARAM button) const {
    const uint8_t mask = form_.Protocol().ResetMask();
    return button == 0 ? mask != 0 : button <= kMotorCount && (mask >> (button - 1) & 1) != 0;
}

void TRunControl::OnResetCaption(WPARAM button) {
    static constexpr WindowRow kCommon = kRowResetAll;
    // Posted when the module ended a reset: a reset started since (a click before this came)
    // goes on, and keeps its "Cancel".
    if (ResetGoesOn(button)) return;
    if (button == 0) {
        SetWindowTextA(form_.Controls().Window(kCommon), "Reset");
    } else if (button <= kMotorCount) {
        SetWindowTextA(form_.Controls().Panel(static_cast<int>(button) - 1, kRowReset), "Reset");
    }
}

void TRunControl::OnEnableRunInOrder() {
    // The motors as they are now, not as the receive thread saw them when it posted: an answer
    // posted just before a Stop would otherwise leave "Run in order" disabled after it.
    EnableRunInOrderIfIdle();
}

}  // namespace ui
