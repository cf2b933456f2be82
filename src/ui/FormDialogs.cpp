#include "ui/FormDialogs.h"

#include <commdlg.h>

#include <vector>

namespace ui {

namespace {

// Pairs of display text and pattern, each ended by NUL, the list by a second NUL.
constexpr char kFilter[] = "step motor program (*.smp)\0*.smp\0";

// Room for a long path; the dialog refuses (and reports) a longer choice.
constexpr DWORD kPathRoom = 32768;

bool RunDialog(HWND owner, std::string& path, bool save) {
    std::vector<char> buffer(kPathRoom, '\0');
    OPENFILENAMEA ofn{};
    ofn.lStructSize = sizeof ofn;
    ofn.hwndOwner = owner;
    ofn.lpstrFilter = kFilter;
    ofn.nFilterIndex = 1;
    ofn.lpstrFile = buffer.data();
    ofn.nMaxFile = kPathRoom;
    ofn.lpstrDefExt = "smp";
    // Explorer-style with otherwise default options: a name that does not exist may be typed,
    // and saving over an existing file asks nothing.
    ofn.Flags = OFN_EXPLORER | OFN_HIDEREADONLY;
    const BOOL chosen = save ? GetSaveFileNameA(&ofn) : GetOpenFileNameA(&ofn);
    if (!chosen) return false;
    path.assign(buffer.data());
    return !path.empty();
}

}  // namespace

bool Win32FormDialogs::ChooseOpenPath(HWND owner, std::string& path) {
    return RunDialog(owner, path, false);
}

bool Win32FormDialogs::ChooseSavePath(HWND owner, std::string& path) {
    return RunDialog(owner, path, true);
}

void Win32FormDialogs::ShowError(HWND owner, const std::string& text) {
    MessageBoxA(owner, text.c_str(), kApplicationTitle, MB_OK | MB_ICONERROR);
}

}  // namespace ui
