// What the window tests share: the window class registered once per test exe, a window's text, a
// message pump, a button click as the window receives it, a program step appended, whether any
// motor runs, and file dialogs nobody answers.
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
