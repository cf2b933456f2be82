#include "e2e/driver/RandomOperator.h"

#include <commctrl.h>

#include <algorithm>
#include <cstdio>

#include "e2e/driver/ProgramDialogs.h"
#include "e2e/driver/RemoteControls.h"
#include "e2e/driver/Wait.h"

namespace e2e {

namespace {

constexpr const char* kDialogClass = "#32770";
// How long one action waits for the program to take its input before giving up.
constexpr DWORD kActionAnswerMs = 2000;

// The keys an impatient operator hits, as virtual-key codes.
constexpr UINT kKeys[] = {VK_SPACE, VK_ESCAPE, VK_TAB,  VK_RETURN, VK_LEFT, VK_RIGHT, VK_UP,
                          VK_DOWN,  VK_DELETE, VK_BACK, '0',       '1',     '5',      '9'};

std::string Describe(const char* what, HWND control) {
    char text[160];
    std::snprintf(text, sizeof text, "%s %s %p \"%s\"", what, ClassName(control).c_str(),
                  static_cast<void*>(control), Text(control).c_str());
    return text;
}

LPARAM KeyData(UINT key, bool release) {
    LPARAM data = 1 | static_cast<LPARAM>(MapVirtualKeyA(key, MAPVK_VK_TO_VSC)) << 16;
    if (release) data |= static_cast<LPARAM>(0xC0000000u);
    return data;
}

// Pressed and released at a point of the control's client area, as the mouse posts it.
void PostMouseClick(HWND control, int x, int y) {
    PostMessageA(control, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(x, y));
    PostMessageA(control, WM_LBUTTONUP, 0, MAKELPARAM(x, y));
}

}  // namespace

RandomOperator::RandomOperator(StepperProcess& process, MainWindow& window, uint32_t seed)
    : process_(process), window_(window), random_(seed) {
    std::vector<HWND> parents{window.Handle()};
    for (int m = 0; m < MainWindow::kMotors; ++m) {
        parents.push_back(window.Panel(m));
        jogs_.push_back(window.JogLeft(m));
        jogs_.push_back(window.JogRight(m));
    }
    for (HWND parent : parents) {
        if (parent == nullptr) continue;
        for (HWND control : Children(parent)) {
            controls_.push_back(control);
            const std::string kind = ClassName(control);
            if (kind == "Edit") {
                fields_.push_back(control);
            } else if (kind == WC_LISTVIEWA) {
                lists_.push_back(control);
            } else if (kind == "Button" && Text(control) != "Synchronous" &&
                       std::find(jogs_.begin(), jogs_.end(), control) == jogs_.end()) {
                buttons_.push_back(control);
            }
        }
    }
}

uint32_t RandomOperator::Next(uint32_t bound) {
    return static_cast<uint32_t>(random_() % bound);
}

HWND RandomOperator::Focus() const {
    const DWORD thread = GetWindowThreadProcessId(window_.Handle(), nullptr);
    GUITHREADINFO info{};
    info.cbSize = sizeof info;
    if (!GetGUIThreadInfo(thread, &info)) return nullptr;
    return info.hwndFocus;
}

std::string RandomOperator::Act() {
    // A program that stopped answering gets no more input: the batch's check reports it.
    if (stuck_ || !Responsive(window_.Handle(), kActionAnswerMs)) {
        stuck_ = true;
        return "no answer: nothing done";
    }
    // Nothing reaches a window that a modal box disables: the box is answered first.
    for (HWND other : process_.OtherWindows()) {
        if (ClassName(other) == kDialogClass) {
            AnswerDialogs(2000);
            return "answered a dialog";
        }
    }
    std::string done;
    const uint32_t roll = Next(100);
    if (roll < 28)
        done = ClickAnyButton();
    else if (roll < 38)
        done = PressJog();
    else if (roll < 52)
        done = ClickList();
    else if (roll < 84)
        done = PressKey();
    else if (roll < 90)
        done = TypeField();
    else if (roll < 97)
        done = ClickField();
    else
        done = MenuCommand();
    Sleep(Next(3));
    return done;
}

std::string RandomOperator::ClickAnyButton() {
    HWND button = buttons_[Next(static_cast<uint32_t>(buttons_.size()))];
    // A disabled control takes no click.
    if (!IsWindowEnabled(button)) return Describe("skipped disabled", button);
    RECT client{};
    GetClientRect(button, &client);
    PostMouseClick(button, client.right / 2, client.bottom / 2);
    return Describe("click", button);
}

std::string RandomOperator::PressJog() {
    HWND jog = jogs_[Next(static_cast<uint32_t>(jogs_.size()))];
    PressMouse(jog);
    Sleep(Next(40));
    ReleaseMouse(jog);
    return Describe("jog", jog);
}

std::string RandomOperator::ClickList() {
    HWND list = lists_[Next(static_cast<uint32_t>(lists_.size()))];
    RECT client{};
    GetClientRect(list, &client);
    // Anywhere on the rows (or below them, which clears the selection); the header is left out.
    const int x =
        4 + static_cast<int>(Next(static_cast<uint32_t>(std::max<LONG>(client.right - 8, 1))));
    const int y =
        20 + static_cast<int>(Next(static_cast<uint32_t>(std::max<LONG>(client.bottom - 20, 1))));
    PostMouseClick(list, x, y);
    return Describe("click into", list);
}

std::string RandomOperator::PressKey() {
    const UINT key = kKeys[Next(static_cast<uint32_t>(std::size(kKeys)))];
    HWND target = Focus();
    if (target == nullptr) target = window_.Handle();
    PostMessageA(target, WM_KEYDOWN, key, KeyData(key, false));
    PostMessageA(target, WM_KEYUP, key, KeyData(key, true));
    char what[32];
    std::snprintf(what, sizeof what, "key 0x%02X on", key);
    return Describe(what, target);
}

std::string RandomOperator::TypeField() {
    HWND field = fields_[Next(static_cast<uint32_t>(fields_.size()))];
    static constexpr char kTyped[] = "0123456789.-x";
    std::string text;
    const uint32_t length = Next(7);
    for (uint32_t i = 0; i < length; ++i)
        text += kTyped[Next(sizeof kTyped - 1)];
    TypeText(field, text);
    return Describe(("typed \"" + text + "\" into").c_str(), field);
}

std::string RandomOperator::ClickField() {
    HWND field = fields_[Next(static_cast<uint32_t>(fields_.size()))];
    RECT client{};
    GetClientRect(field, &client);
    PostMouseClick(field, client.right / 2, client.bottom / 2);
    return Describe("click into", field);
}

std::string RandomOperator::MenuCommand() {
    const uint32_t roll = Next(10);
    if (roll < 6) {
        window_.PostMenuCommand("Help", "About");
        return "menu About";
    }
    if (roll < 9) {
        window_.PostMenuCommand("&Options", "&Configuration");
        return "menu Configuration";
    }
    window_.PostMenuCommand("&File", "&New Project");
    return "menu New Project";
}

bool RandomOperator::AnswerOne(HWND dialog) {
    if (Text(dialog) == "Configuration") {
        // Taken as it stands (the output is opened again) or cancelled.
        const bool ok = Next(2) == 0;
        return PostMessageA(dialog, WM_COMMAND, ok ? IDOK : IDCANCEL, 0) != 0;
    }
    return PressOk(dialog);
}

bool RandomOperator::AnswerDialogs(DWORD timeoutMs) {
    return WaitUntil(
        [&] {
            bool any = false;
            for (HWND other : process_.OtherWindows()) {
                if (ClassName(other) != kDialogClass) continue;
                any = true;
                if (AnswerOne(other)) ++answered_;
                WaitGone(other, 500);
            }
            return !any;
        },
        timeoutMs);
}

std::string RandomOperator::Check(DWORD timeoutMs) const {
    char text[96];
    if (!process_.Running()) {
        std::snprintf(text, sizeof text, "the program ended, exit code 0x%08lX",
                      static_cast<unsigned long>(process_.ExitCode()));
        return text;
    }
    if (stuck_ || !Responsive(window_.Handle(), timeoutMs)) return "the program does not answer";
    for (size_t i = 0; i < controls_.size(); ++i) {
        if (!IsWindow(controls_[i])) {
            std::snprintf(text, sizeof text, "control %zu of %zu is gone", i, controls_.size());
            return text;
        }
    }
    return "";
}

}  // namespace e2e
