#include "e2e/driver/ProgramDialogs.h"

#include <dlgs.h>

#include <vector>

#include "e2e/driver/RemoteControls.h"
#include "e2e/driver/Wait.h"

namespace e2e {

namespace {

constexpr const char* kDialogClass = "#32770";

void CollectDescendants(HWND parent, std::vector<HWND>& out) {
    for (HWND child : Children(parent)) {
        out.push_back(child);
        CollectDescendants(child, out);
    }
}

// The dialog's file-name field: the classic edit (edt1), else the edit inside the file-name
// combo box (cmb13), else the first visible edit.
HWND FileNameField(HWND dialog) {
    std::vector<HWND> all;
    CollectDescendants(dialog, all);
    for (HWND w : all)
        if (GetDlgCtrlID(w) == edt1 && ClassName(w) == "Edit" && IsWindowVisible(w)) return w;
    for (HWND w : all) {
        if (GetDlgCtrlID(w) == cmb13 && IsWindowVisible(w))
            if (HWND edit = FindChild(w, {"Edit", std::nullopt, std::nullopt})) return edit;
    }
    for (HWND w : all)
        if (ClassName(w) == "Edit" && IsWindowVisible(w)) return w;
    return nullptr;
}

}  // namespace

HWND WaitDialog(const StepperProcess& program, const std::string& title, DWORD timeoutMs) {
    HWND found = nullptr;
    WaitUntil(
        [&] {
            for (HWND window : program.OtherWindows()) {
                if (ClassName(window) != kDialogClass) continue;
                if (!title.empty() && Text(window) != title) continue;
                found = window;
                return true;
            }
            return false;
        },
        timeoutMs);
    return found;
}

bool WaitGone(HWND window, DWORD timeoutMs) {
    return WaitUntil([&] { return !IsWindow(window) || !IsWindowVisible(window); }, timeoutMs);
}

std::string MessageText(HWND box) {
    std::string longest;
    for (HWND child : FindChildren(box, {"Static", std::nullopt, std::nullopt})) {
        const std::string text = Text(child);
        if (text.size() > longest.size()) longest = text;
    }
    return longest;
}

bool PressOk(HWND box) {
    HWND ok = GetDlgItem(box, IDOK);
    if (ok == nullptr) {
        const std::vector<HWND> buttons = FindChildren(box, {"Button", std::nullopt, std::nullopt});
        if (buttons.size() != 1) return false;
        ok = buttons.front();
    }
    return PostClick(ok);
}

bool ChooseFile(HWND dialog, const std::string& path) {
    HWND field = FileNameField(dialog);
    HWND ok = GetDlgItem(dialog, IDOK);
    if (field == nullptr || ok == nullptr) return false;
    if (!SetText(field, path)) return false;
    // Posted: the dialog closes in its handler and the program goes on with the chosen file.
    return PostClick(ok);
}

}  // namespace e2e
