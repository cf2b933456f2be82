// What the window tests share: the window class registered once per test exe, a window's text, a
// message pump (also one that handles the keyboard as the program's own loop does), keys and
// mouse clicks posted as the keyboard and the mouse post them, a counter of the messages a
// window receives, a button click as the window receives it, a program step appended, whether
// any motor runs, and file dialogs nobody answers.
#pragma once

#include <windows.h>
// After <windows.h>, which it needs.
#include <commctrl.h>

#include <string>

#include "ui/MainForm.h"

namespace ui::testing {

inline bool RegisterMainForm() {
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_LISTVIEW_CLASSES | ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&controls);
    return TMainForm::Register(GetModuleHandleA(nullptr));
}

inline std::string Text(HWND window) {
    char buffer[512] = {};
    GetWindowTextA(window, buffer, sizeof buffer);
    return buffer;
}

// Handles what is queued, in three rounds a millisecond apart, so that what timer threads post
// meanwhile is handled too.
inline void Pump() {
    MSG message;
    for (int round = 0; round < 3; ++round) {
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageA(&message);
        }
        Sleep(1);
    }
}

// Pumps for ms milliseconds, so that what the window does on its own timers (a fast motor's
// view) and what other threads post to it comes through.
inline void PumpFor(DWORD ms) {
    const DWORD start = GetTickCount();
    do {
        Pump();
        Sleep(5);
    } while (GetTickCount() - start < ms);
}

// Handles what is queued as the program's own message loop does: the window's keyboard
// (Tab, Esc, Enter, arrows) through IsDialogMessageA first, in three rounds a millisecond apart.
inline void PumpAsProgram(HWND window) {
    MSG message;
    for (int round = 0; round < 3; ++round) {
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
            if (IsWindow(window) && IsDialogMessageA(window, &message)) continue;
            TranslateMessage(&message);
            DispatchMessageA(&message);
        }
        Sleep(1);
    }
}

// A key pressed and released on the control with the focus, posted as the keyboard posts it
// (with Shift held when shift is set), and handled by the program's message loop.
inline void PressKey(HWND window, UINT key, bool shift = false) {
    BYTE keys[256] = {};
    GetKeyboardState(keys);
    keys[VK_SHIFT] = shift ? 0x80 : 0;
    SetKeyboardState(keys);
    HWND target = GetFocus();
    const LPARAM scan = static_cast<LPARAM>(MapVirtualKeyA(key, MAPVK_VK_TO_VSC)) << 16;
    PostMessageA(target, WM_KEYDOWN, key, 1 | scan);
    PostMessageA(target, WM_KEYUP, key, static_cast<LPARAM>(1 | scan | 0xC0000000u));
    PumpAsProgram(window);
    keys[VK_SHIFT] = 0;
    SetKeyboardState(keys);
}

// A left-button click at a point of the control (its centre by default), pressed and released
// as the mouse posts them, and handled by the program's message loop.
inline void MouseClick(HWND window, HWND control, POINT at = {-1, -1}) {
    if (at.x < 0) {
        RECT client;
        GetClientRect(control, &client);
        at = {client.right / 2, client.bottom / 2};
    }
    PostMessageA(control, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(at.x, at.y));
    PostMessageA(control, WM_LBUTTONUP, 0, MAKELPARAM(at.x, at.y));
    PumpAsProgram(window);
}

// Counts the messages of one kind that a window receives (sent or posted), while it lives; for
// WM_NOTIFY with a notification code, only those notifications.
class MessageCounter {
  public:
    MessageCounter(HWND window, UINT message, UINT notifyCode = 0)
        : window_(window), message_(message), notifyCode_(notifyCode) {
        SetWindowSubclass(window_, Proc, reinterpret_cast<UINT_PTR>(this), 0);
    }
    ~MessageCounter() { RemoveWindowSubclass(window_, Proc, reinterpret_cast<UINT_PTR>(this)); }
    MessageCounter(const MessageCounter&) = delete;
    MessageCounter& operator=(const MessageCounter&) = delete;

    int Count() const { return count_; }
    void Reset() { count_ = 0; }

  private:
    static LRESULT CALLBACK Proc(HWND window, UINT message, WPARAM wParam, LPARAM lParam,
                                 UINT_PTR id, DWORD_PTR) {
        auto* self = reinterpret_cast<MessageCounter*>(id);
        if (message == self->message_ &&
            (message != WM_NOTIFY || self->notifyCode_ == 0 ||
             reinterpret_cast<const NMHDR*>(lParam)->code == self->notifyCode_))
            ++self->count_;
        return DefSubclassProc(window, message, wParam, lParam);
    }

    HWND window_;
    UINT message_;
    UINT notifyCode_;
    int count_ = 0;
};

// BN_CLICKED to the control's parent, as a mouse click on the button sends it.
inline void SendClick(HWND control) {
    SendMessageA(GetParent(control), WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(control), BN_CLICKED),
                 reinterpret_cast<LPARAM>(control));
}

// One program step to the right, appended to the motor's program and list.
inline void AppendProgramStep(TMainForm& form, int motor, int32_t steps, double frequency) {
    form.AppendStep(motor, motion::TsmProgramStep{steps, frequency, 0.0, motion::kDirRight});
    form.RenumberProgramList(motor);
}

inline bool AnyMotorRunning(TMainForm& form) {
    for (int m = 0; m < 4; ++m)
        if (form.Motor(m).Running()) return true;
    return false;
}

class NoDialogs final : public FormDialogs {
  public:
    bool ChooseOpenPath(HWND, std::string&) override { return false; }
    bool ChooseSavePath(HWND, std::string&) override { return false; }
    void ShowError(HWND, const std::string&) override {}
};

}  // namespace ui::testing
