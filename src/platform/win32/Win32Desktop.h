// Desktop adapter on user32 and shell32: MessageBeep, MessageBoxA, ShellExecuteA. No state.
//
// The message box and the viewer get the calling thread's active window as their owner: called
// on the window's thread, that is the main window, so the box is modal to it.
#pragma once

#include "platform/Desktop.h"

namespace platform {

class Win32Desktop final : public Desktop {
  public:
    void Beep() override;
    void ShowMessage(const std::string& text, const std::string& caption) override;
    bool OpenDocument(const std::string& file, const std::string& directory) override;
};

}  // namespace platform
