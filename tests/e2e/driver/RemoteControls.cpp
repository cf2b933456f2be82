#include "e2e/driver/RemoteControls.h"

#include <algorithm>
#include <cctype>

namespace e2e {

namespace {

bool Send(HWND window, UINT message, WPARAM wParam, LPARAM lParam, DWORD_PTR* result = nullptr) {
    DWORD_PTR answer = 0;
    const LRESULT sent = SendMessageTimeoutA(window, message, wParam, lParam, SMTO_ABORTIFHUNG,
                                             kSendTimeoutMs, &answer);
    if (result != nullptr) *result = answer;
    return sent != 0;
}

bool SameText(const std::string& a, const std::string& b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
        return std::tolower(static_cast<unsigned char>(x)) ==
               std::tolower(static_cast<unsigned char>(y));
    });
}

}  // namespace

std::string Text(HWND window) {
    DWORD_PTR length = 0;
    if (!Send(window, WM_GETTEXTLENGTH, 0, 0, &length)) return {};
    std::string text(length + 1, '\0');
    DWORD_PTR copied = 0;
    if (!Send(window, WM_GETTEXT, length + 1, reinterpret_cast<LPARAM>(text.data()), &copied))
        return {};
    text.resize(std::min<size_t>(copied, length));
    return text;
}

bool SetText(HWND window, const std::string& text) {
    return Send(window, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
}

bool TypeText(HWND edit, const std::string& text) {
    if (!SetText(edit, "")) return false;
    for (char c : text)
        if (!Send(edit, WM_CHAR, static_cast<unsigned char>(c), 1)) return false;
    return true;
}

bool Click(HWND button) {
    return Send(button, BM_CLICK, 0, 0);
}

bool PostClick(HWND button) {
    return PostMessageA(button, BM_CLICK, 0, 0) != 0;
}

bool PressMouse(HWND button) {
    return PostMessageA(button, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(2, 2)) != 0;
}

bool ReleaseMouse(HWND button) {
    return PostMessageA(button, WM_LBUTTONUP, 0, MAKELPARAM(2, 2)) != 0;
}

bool Checked(HWND box) {
    DWORD_PTR state = 0;
    return Send(box, BM_GETCHECK, 0, 0, &state) && state == BST_CHECKED;
}

bool Responsive(HWND window, DWORD timeoutMs) {
    DWORD_PTR answer = 0;
    return SendMessageTimeoutA(window, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, timeoutMs, &answer) != 0;
}

std::string ClassName(HWND window) {
    char name[256] = {};
    GetClassNameA(window, name, sizeof name);
    return name;
}

RECT PlaceIn(HWND control, HWND reference) {
    RECT place{};
    GetWindowRect(control, &place);
    MapWindowPoints(nullptr, reference, reinterpret_cast<POINT*>(&place), 2);
    return place;
}

std::vector<HWND> Children(HWND parent) {
    std::vector<HWND> children;
    for (HWND child = GetWindow(parent, GW_CHILD); child != nullptr;
         child = GetWindow(child, GW_HWNDNEXT))
        children.push_back(child);
    return children;
}

std::vector<HWND> FindChildren(HWND parent, const ControlMatch& match) {
    std::vector<HWND> found;
    for (HWND child : Children(parent)) {
        if (!match.ClassName.empty() && !SameText(ClassName(child), match.ClassName)) continue;
        if (match.Place) {
            const RECT place = PlaceIn(child, parent);
            if (place.left != match.Place->x || place.top != match.Place->y) continue;
        }
        if (match.Caption && Text(child) != *match.Caption) continue;
        found.push_back(child);
    }
    return found;
}

HWND FindChild(HWND parent, const ControlMatch& match) {
    const std::vector<HWND> found = FindChildren(parent, match);
    return found.empty() ? nullptr : found.front();
}

}  // namespace e2e
