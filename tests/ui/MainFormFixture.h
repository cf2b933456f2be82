// The main window's test fixture, shared by the suites that drive the real TMainForm in the test
// process: the window created on a virtual display with the real timers, an in-memory file store
// and File menu dialogs answered by the test, and the helpers that read its program lists and
// press its controls.
#pragma once

#include <windows.h>
// After <windows.h>, which it needs.
#include <commctrl.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "FormTestSupport.h"
#include "platform/DeviceFile.h"
#include "platform/LibraryLoader.h"
#include "platform/TimerService.h"
#include "platform/virtual/MemoryFileStore.h"
#include "platform/virtual/VirtualDesktop.h"
#include "ui/MainForm.h"

namespace ui::testing {

// The File menu's dialogs, answered by the test.
class FakeDialogs final : public FormDialogs {
  public:
    bool ChooseOpenPath(HWND, std::string& path) override {
        ++OpenAsked;
        if (OpenAnswer.empty()) return false;
        path = OpenAnswer;
        return true;
    }
    bool ChooseSavePath(HWND, std::string& path) override {
        ++SaveAsked;
        if (SaveAnswer.empty()) return false;
        path = SaveAnswer;
        return true;
    }
    void ShowError(HWND, const std::string& text) override { Errors.push_back(text); }

    std::string OpenAnswer, SaveAnswer;  // empty: the operator cancels
    int OpenAsked = 0, SaveAsked = 0;
    std::vector<std::string> Errors;
};

inline std::string ExeDirectory() {
    char path[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string full(path);
    return full.substr(0, full.find_last_of("\\/") + 1);
}

inline std::string ItemText(HWND list, int row, int column) {
    char buffer[256] = {};
    LVITEMA item{};
    item.iSubItem = column;
    item.pszText = buffer;
    item.cchTextMax = sizeof buffer;
    SendMessageA(list, LVM_GETITEMTEXTA, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&item));
    return buffer;
}

inline std::vector<std::string> Row(HWND list, int row) {
    std::vector<std::string> texts;
    for (int column = 0; column < 5; ++column)
        texts.push_back(ItemText(list, row, column));
    return texts;
}

class MainFormTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() { ASSERT_TRUE(testing::RegisterMainForm()); }

    void SetUp() override {
        if (!StartupProject.empty()) files_.Files[ExeDirectory() + "default.smp"] = StartupProject;
        form_ = TMainForm::Create(GetModuleHandleA(nullptr), Ports());
        ASSERT_NE(form_, nullptr);
        window_ = form_->Handle();
        // Not shown: on a virtual display without a window manager every hidden or destroyed
        // top-level window costs Wine two seconds. The focus test shows it.
        Pump();
    }

    void TearDown() override {
        if (IsWindow(window_)) DestroyWindow(window_);
        Pump();
    }

    TMainForm::Ports Ports() {
        return {platform::SystemTimerService(),
                platform::SystemLibraryLoader(),
                desktop_,
                platform::SystemDeviceFiles(),
                files_,
                dialogs_};
    }

    static void Pump() { testing::Pump(); }

    HWND Control(const char* name) const {
        HWND control = form_->Control(name);
        EXPECT_NE(control, nullptr) << name;
        return control;
    }
    void Click(const char* name) {
        HWND control = Control(name);
        testing::SendClick(control);
        Pump();
    }
    // Steps taken one after another: the view of a motor that stepped a moment ago follows
    // with the window's step view timer.
    void Steps(int motor, uint8_t direction, int count) {
        for (int i = 0; i < count; ++i)
            form_->Motor(motor).Step(direction);
        testing::PumpFor(TMainForm::kStepViewMs + 10);
    }
    void Menu(int id) {
        SendMessageA(window_, WM_COMMAND, MAKEWPARAM(id, 0), 0);
        Pump();
    }
    void Type(const char* name, const char* keys) {
        for (const char* k = keys; *k != '\0'; ++k)
            SendMessageA(Control(name), WM_CHAR,
                         static_cast<WPARAM>(static_cast<unsigned char>(*k)), 1);
    }
    void SetText(const char* name, const char* text) { SetWindowTextA(Control(name), text); }
    void Select(const char* list, int row) {
        LVITEMA item{};
        item.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
        item.state = row >= 0 ? LVIS_SELECTED | LVIS_FOCUSED : 0;
        SendMessageA(Control(list), LVM_SETITEMSTATE, static_cast<WPARAM>(row >= 0 ? row : -1),
                     reinterpret_cast<LPARAM>(&item));
        Pump();
    }
    int Selected(const char* list) {
        return static_cast<int>(
            SendMessageA(Control(list), LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED));
    }
    int Rows(const char* list) {
        return static_cast<int>(SendMessageA(Control(list), LVM_GETITEMCOUNT, 0, 0));
    }

    std::string StartupProject;  // set before SetUp runs to put a "default.smp" in place
    platform::VirtualDesktop desktop_;
    platform::MemoryFileStore files_;
    FakeDialogs dialogs_;
    TMainForm* form_ = nullptr;
    HWND window_ = nullptr;
};

}  // namespace ui::testing
