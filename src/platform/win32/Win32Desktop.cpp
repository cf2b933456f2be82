#include "platform/win32/Win32Desktop.h"

#include <windows.h>
// After <windows.h>, which it needs (and which leaves it out with WIN32_LEAN_AND_MEAN).
#include <shellapi.h>

#include <cstdint>

namespace platform {

void Win32Desktop::Beep() {
    MessageBeep(MB_OK);
}

void Win32Desktop::SetOwnerWindow(void* window) {
    owner_ = window;
}

void Win32Desktop::ShowMessage(const std::string& text, const std::string& caption) {
    MessageBoxA(static_cast<HWND>(owner_), text.c_str(), caption.c_str(), MB_OK);
}

bool Win32Desktop::OpenDocument(const std::string& file, const std::string& directory) {
    const HINSTANCE result = ShellExecuteA(static_cast<HWND>(owner_), "open", file.c_str(), nullptr,
                                           directory.c_str(), SW_SHOW);
    // Values up to 32 are error codes; the value is compared as an unsigned number.
    return reinterpret_cast<uintptr_t>(result) > 32;
}

Desktop& SystemDesktop() {
    static Win32Desktop desktop;
    return desktop;
}

}  // namespace platform
