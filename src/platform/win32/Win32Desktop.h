// Desktop adapter on user32 and shell32: MessageBeep, MessageBoxA, ShellExecuteA.
//
// The message box and the viewer get the owner window the program set (its main window), not
// whatever window is active: a box shown while the program is in the background is still modal
// to the main window, which stays disabled until the box is closed.
#pragma once

#include "platform/Desktop.h"

namespace platform {

class Win32Desktop final : public Desktop {
  public:
    void Beep() override;
    void SetOwnerWindow(void* window) override;
    void ShowMessage(const std::string& text, const std::string& caption) override;
    bool OpenDocument(const std::string& file, const std::string& directory) override;

  private:
    void* owner_ = nullptr;  // an HWND
};

}  // namespace platform
