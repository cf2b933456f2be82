// Q417_Stepper.exe: registers the window classes, creates the main window on the platform's
// real ports and runs the message loop until the window is closed.
#include <windows.h>
// After <windows.h>, which it needs.
#include <commctrl.h>

#include "platform/Desktop.h"
#include "platform/DeviceFile.h"
#include "platform/FileStore.h"
#include "platform/LibraryLoader.h"
#include "platform/TimerService.h"
#include "ui/FormDialogs.h"
#include "ui/MainForm.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int showCommand) {
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_LISTVIEW_CLASSES | ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&controls);
    if (!ui::TMainForm::Register(instance)) return 1;

    static ui::Win32FormDialogs dialogs;
    const ui::TMainForm::Ports ports{
        platform::SystemTimerService(), platform::SystemLibraryLoader(), platform::SystemDesktop(),
        platform::SystemDeviceFiles(),  platform::SystemFileStore(),     dialogs};
    ui::TMainForm* form = ui::TMainForm::Create(instance, ports);
    if (form == nullptr) return 1;
    HWND window = form->Handle();  // the form itself goes with its window
    ShowWindow(window, showCommand);
    UpdateWindow(window);

    MSG message;
    while (GetMessageA(&message, nullptr, 0, 0) > 0) {
        // Tab, arrow keys and the space bar move between and press the controls.
        if (IsWindow(window) && IsDialogMessageA(window, &message)) continue;
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    return static_cast<int>(message.wParam);
}
