// The desktop port: what the program asks of the desktop besides its own window: a beep, a
// message box, and opening a document with its registered viewer.
//
// The Win32 adapter maps it onto MessageBeep, MessageBoxA and ShellExecuteA ("open"); the POSIX
// adapter writes to stderr for native runs; the virtual adapter records the calls for tests.
#pragma once

#include <string>

namespace platform {

class Desktop {
  public:
    virtual ~Desktop() = default;

    // Sounds the default system beep and returns at once. Any thread (the USB receive thread
    // beeps on a read time-out).
    virtual void Beep() = 0;

    // The program's main window (null: none), which from now on owns every message box and
    // document request: a box is modal to it, whether the program is in the foreground or not.
    // Window's thread.
    virtual void SetOwnerWindow(void* window) = 0;

    // Shows a modal message box with text, caption and an OK button and returns once the operator
    // has closed it. Window's thread only: window messages keep being handled while the box is
    // up, so the caller must not hold a lock that a message handler or a timer thread may need.
    virtual void ShowMessage(const std::string& text, const std::string& caption) = 0;

    // Opens file with the viewer registered for its type, with directory as the working
    // directory (a relative file name is found there). True when the platform reports that the
    // viewer was started. Window's thread only.
    virtual bool OpenDocument(const std::string& file, const std::string& directory) = 0;
};

// The platform's real desktop. Lives as long as the process.
Desktop& SystemDesktop();

}  // namespace platform
