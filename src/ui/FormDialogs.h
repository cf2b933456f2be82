// The modal boxes of the File menu: the open and save dialogs for project files and the error
// box. An interface, so that the window's tests can answer the dialogs without a person at the
// screen; Win32FormDialogs is the real one.
#pragma once

#include <windows.h>

#include <string>

namespace ui {

class FormDialogs {
  public:
    virtual ~FormDialogs() = default;
    // The open-file dialog for "*.smp": true with the chosen full path, false when cancelled.
    virtual bool ChooseOpenPath(HWND owner, std::string& path) = 0;
    // The save-file dialog for "*.smp": true with the chosen full path, false when cancelled.
    virtual bool ChooseSavePath(HWND owner, std::string& path) = 0;
    // The standard error box: error icon, OK, the application's title as caption.
    virtual void ShowError(HWND owner, const std::string& text) = 0;
};

// GetOpenFileNameA / GetSaveFileNameA with default extension "smp" and the filter
// "step motor program (*.smp)", platform default titles and options; MessageBoxA with
// MB_ICONERROR captioned "Q417_Stepper".
class Win32FormDialogs final : public FormDialogs {
  public:
    static constexpr const char* kApplicationTitle = "Q417_Stepper";

    bool ChooseOpenPath(HWND owner, std::string& path) override;
    bool ChooseSavePath(HWND owner, std::string& path) override;
    void ShowError(HWND owner, const std::string& text) override;
};

}  // namespace ui
