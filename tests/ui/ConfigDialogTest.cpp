// The real configuration dialog in the test process: its layout, the initial state from given
// values, the address field's enabling, the hints, the tab order, resizing, and what Ok, Cancel,
// Escape and the close box take back, modeless through its messages and modal through its own
// message loop with keys posted from a timer.
#include <windows.h>
// After <windows.h>, which it needs.
#include <commctrl.h>

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "ui/ConfigDialog.h"

namespace ui {
namespace {

std::string Text(HWND window) {
    char text[256] = {};
    GetWindowTextA(window, text, sizeof text);
    return text;
}

bool Checked(HWND button) {
    return SendMessageA(button, BM_GETCHECK, 0, 0) == BST_CHECKED;
}

// A control's rectangle in the dialog's client coordinates.
RECT ClientRect(HWND dialog, HWND control) {
    RECT r;
    GetWindowRect(control, &r);
    MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&r), 2);
    return r;
}

ConfigValues SampleValues() {
    ConfigValues values;
    values.PortSetting = 632;
    values.Motors[0] = {1234.4, 10.0, 1};
    values.Motors[1] = {250.0, 5.0, 2};
    values.Motors[2] = {0.0, 20.0, 2};
    values.Motors[3] = {2000.0, 7.0, 1};
    return values;
}

class ConfigDialogTest : public ::testing::Test {
  protected:
    void SetUp() override {
        dialog_ = std::make_unique<TsConfigDlg>(SampleValues());
        ASSERT_NE(dialog_->CreateModeless(nullptr), nullptr);
    }
    HWND Control(const char* name) { return dialog_->Control(name); }
    void Click(const char* name) { SendMessageA(Control(name), BM_CLICK, 0, 0); }
    std::unique_ptr<TsConfigDlg> dialog_;
};

TEST_F(ConfigDialogTest, LaidOutAsDesigned) {
    HWND dialog = dialog_->Handle();
    EXPECT_EQ(Text(dialog), "Configuration");
    EXPECT_NE(GetWindowLongA(dialog, GWL_STYLE) & WS_THICKFRAME, 0);
    RECT client;
    GetClientRect(dialog, &client);
    EXPECT_EQ(client.right, 507);
    EXPECT_EQ(client.bottom, 421);

    struct Row {
        const char* name;
        int left, top, width, height;
        const char* caption;
    };
    const Row rows[] = {
        {"GroupBox1", 16, 16, 241, 94, "Motor 1"},    {"GroupBox2", 16, 116, 241, 94, "Motor 2"},
        {"GroupBox3", 16, 216, 241, 94, "Motor3"},    {"GroupBox4", 16, 316, 241, 94, "Motor 4"},
        {"Edit2", 128, 36, 97, 21, nullptr},          {"Edit3", 128, 60, 97, 21, nullptr},
        {"Edit9", 128, 360, 97, 21, nullptr},         {"RadioButton5", 128, 88, 49, 17, "Left"},
        {"RadioButton12", 184, 388, 49, 17, "Right"}, {"GroupBox5", 296, 16, 177, 157, "IO-Port"},
        {"rbUSB", 312, 40, 113, 17, "USB"},           {"rbUSBslow", 312, 56, 113, 17, "USB (slow)"},
        {"RadioButton1", 312, 72, 113, 17, "LPT 1"},  {"RadioButton2", 312, 89, 113, 17, "LPT 2"},
        {"RadioButton3", 312, 106, 113, 17, "LPT 3"}, {"RadioButton4", 312, 123, 27, 17, ""},
        {"Edit1", 332, 122, 121, 21, nullptr},        {"Button1", 307, 389, 75, 25, "Ok"},
        {"Button2", 403, 389, 75, 25, "Cancel"},
    };
    for (const Row& row : rows) {
        HWND control = Control(row.name);
        ASSERT_NE(control, nullptr) << row.name;
        const RECT r = ClientRect(dialog, control);
        EXPECT_EQ(r.left, row.left) << row.name;
        EXPECT_EQ(r.top, row.top) << row.name;
        EXPECT_EQ(r.right - r.left, row.width) << row.name;
        EXPECT_EQ(r.bottom - r.top, row.height) << row.name;
        if (row.caption != nullptr) {
            EXPECT_EQ(Text(control), row.caption) << row.name;
        }
    }
    EXPECT_NE(GetWindowLongA(Control("Button1"), GWL_STYLE) & BS_DEFPUSHBUTTON, 0);
}

TEST_F(ConfigDialogTest, FrequencyFieldsDigitsOnlyAndRightAlignedAddressPlain) {
    for (const char* name :
         {"Edit2", "Edit3", "Edit4", "Edit5", "Edit6", "Edit7", "Edit8", "Edit9"}) {
        const LONG style = GetWindowLongA(Control(name), GWL_STYLE);
        EXPECT_EQ(style & 0x2006, 0x2006) << name;
    }
    EXPECT_EQ(GetWindowLongA(Control("Edit1"), GWL_STYLE) & (ES_NUMBER | ES_MULTILINE), 0);
}

TEST_F(ConfigDialogTest, OpensWithTheCurrentValues) {
    EXPECT_TRUE(Checked(Control("RadioButton2")));
    EXPECT_FALSE(Checked(Control("rbUSB")));
    EXPECT_EQ(Text(Control("Edit1")), "0278");
    EXPECT_FALSE(IsWindowEnabled(Control("Edit1")));
    EXPECT_EQ(Text(Control("Edit2")), "1234");
    EXPECT_EQ(Text(Control("Edit3")), "10");
    EXPECT_EQ(Text(Control("Edit4")), "250");
    EXPECT_EQ(Text(Control("Edit6")), "0");
    EXPECT_EQ(Text(Control("Edit9")), "7");
    EXPECT_TRUE(Checked(Control("RadioButton5")));
    EXPECT_FALSE(Checked(Control("RadioButton6")));
    EXPECT_TRUE(Checked(Control("RadioButton8")));
    EXPECT_TRUE(Checked(Control("RadioButton10")));
    EXPECT_TRUE(Checked(Control("RadioButton11")));
    EXPECT_EQ(GetFocus(), Control("Edit2"));
}

TEST_F(ConfigDialogTest, AddressFieldEnabledExactlyWithTheCaptionlessButton) {
    Click("RadioButton4");
    EXPECT_TRUE(IsWindowEnabled(Control("Edit1")));
    EXPECT_FALSE(Checked(Control("RadioButton2")));
    Click("rbUSBslow");
    EXPECT_FALSE(IsWindowEnabled(Control("Edit1")));
    EXPECT_FALSE(Checked(Control("RadioButton4")));
    // A reset-direction radio button belongs to its own group.
    Click("RadioButton6");
    EXPECT_TRUE(Checked(Control("rbUSBslow")));
    EXPECT_FALSE(Checked(Control("RadioButton5")));
    EXPECT_TRUE(Checked(Control("RadioButton11")));
}

TEST_F(ConfigDialogTest, HintsOnTheTwoUsbButtons) {
    HWND tip = dialog_->ToolTip();
    ASSERT_NE(tip, nullptr);
    EXPECT_EQ(SendMessageA(tip, TTM_GETTOOLCOUNT, 0, 0), 2);
    char text[200] = {};
    TTTOOLINFOA tool{};
    tool.cbSize = TTTOOLINFOA_V2_SIZE;
    tool.hwnd = dialog_->Handle();
    tool.uId = reinterpret_cast<UINT_PTR>(Control("rbUSB"));
    tool.lpszText = text;
    SendMessageA(tip, TTM_GETTEXTA, sizeof text, reinterpret_cast<LPARAM>(&tool));
    EXPECT_STREQ(text, "This mode allows high frequencies and exact intervals");
}

TEST_F(ConfigDialogTest, TabOrder) {
    // Tab visits a radio group once, on its checked button (arrow keys move inside it); the
    // disabled address field is passed over. Opened on motor 1 left, 2 and 3 right, 4 left, LPT 2.
    const char* order[] = {"Edit2",         "Edit3",        "RadioButton5", "Edit4",
                           "Edit5",         "RadioButton8", "Edit6",        "Edit7",
                           "RadioButton10", "Edit8",        "Edit9",        "RadioButton11",
                           "RadioButton2",  "Button1",      "Button2",      "Edit2"};
    HWND dialog = dialog_->Handle();
    for (size_t i = 0; i + 1 < std::size(order); ++i)
        EXPECT_EQ(GetNextDlgTabItem(dialog, Control(order[i]), FALSE), Control(order[i + 1]))
            << "after " << order[i];
    // With the address button chosen the address field follows it.
    Click("RadioButton4");
    EXPECT_EQ(GetNextDlgTabItem(dialog, Control("RadioButton4"), FALSE), Control("Edit1"));
    EXPECT_EQ(GetNextDlgTabItem(dialog, Control("Edit1"), FALSE), Control("Button1"));
}

TEST_F(ConfigDialogTest, OkAndCancelKeepTheirDistanceOnResize) {
    HWND dialog = dialog_->Handle();
    RECT window;
    GetWindowRect(dialog, &window);
    SetWindowPos(dialog, nullptr, 0, 0, window.right - window.left + 100,
                 window.bottom - window.top + 50, SWP_NOMOVE | SWP_NOZORDER);
    RECT client;
    GetClientRect(dialog, &client);
    const RECT ok = ClientRect(dialog, Control("Button1"));
    const RECT cancel = ClientRect(dialog, Control("Button2"));
    EXPECT_EQ(client.right - ok.left, 507 - 307);
    EXPECT_EQ(client.bottom - ok.top, 421 - 389);
    EXPECT_EQ(client.right - cancel.left, 507 - 403);
    EXPECT_EQ(client.bottom - cancel.top, 421 - 389);
    EXPECT_EQ(ClientRect(dialog, Control("Edit2")).left, 128);  // the rest stays
}

TEST_F(ConfigDialogTest, OkTakesTheFieldsWithFallbacks) {
    Click("RadioButton4");
    SetWindowTextA(Control("Edit1"), "3bc");
    SetWindowTextA(Control("Edit4"), "");  // motor 2 maximum frequency
    SetWindowTextA(Control("Edit5"), "");  // motor 2 control frequency
    SetWindowTextA(Control("Edit8"), "4000");
    Click("RadioButton6");
    Click("Button1");
    EXPECT_TRUE(dialog_->Closed());
    EXPECT_FALSE(IsWindow(dialog_->Handle()));
    ASSERT_TRUE(dialog_->Accepted());
    const ConfigValues& v = dialog_->Values();
    EXPECT_EQ(v.PortSetting, 956);
    EXPECT_EQ(v.Motors[0].MaxFrequency, 1234.0);  // as shown
    EXPECT_EQ(v.Motors[0].ResetDirection, 2);
    EXPECT_EQ(v.Motors[1].MaxFrequency, 1000.0);
    EXPECT_EQ(v.Motors[1].ControlFrequency, 20.0);
    EXPECT_EQ(v.Motors[3].MaxFrequency, 4000.0);
    EXPECT_EQ(v.Motors[3].ResetDirection, 1);
}

TEST(ConfigDialogCloseTest, CancelEscapeAndCloseBoxTakeNothing) {
    const std::vector<std::function<void(TsConfigDlg&)>> closers = {
        [](TsConfigDlg& d) { SendMessageA(d.Control("Button2"), BM_CLICK, 0, 0); },
        [](TsConfigDlg& d) {
            MSG msg{d.Control("Edit2"), WM_KEYDOWN, VK_ESCAPE, 0, 0, {0, 0}};
            IsDialogMessageA(d.Handle(), &msg);
        },
        [](TsConfigDlg& d) {
            // The close box: the dialog turns WM_CLOSE into a posted Cancel.
            SendMessageA(d.Handle(), WM_CLOSE, 0, 0);
            MSG msg;
            while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE))
                DispatchMessageA(&msg);
        },
    };
    for (size_t i = 0; i < closers.size(); ++i) {
        TsConfigDlg dialog(SampleValues());
        ASSERT_NE(dialog.CreateModeless(nullptr), nullptr);
        SetWindowTextA(dialog.Control("Edit2"), "99");
        SendMessageA(dialog.Control("rbUSB"), BM_CLICK, 0, 0);
        closers[i](dialog);
        EXPECT_TRUE(dialog.Closed()) << i;
        EXPECT_FALSE(dialog.Accepted()) << i;
        EXPECT_FALSE(IsWindow(dialog.Handle())) << i;
        EXPECT_EQ(dialog.Values().PortSetting, 632) << i;
        EXPECT_EQ(dialog.Values().Motors[0].MaxFrequency, 1234.4) << i;
    }
}

// The modal dialog driven from a thread timer that fires inside its message loop: each tick runs
// the next step against the dialog that is up.
std::vector<std::function<void(HWND)>>* g_steps = nullptr;
size_t g_next = 0;

void CALLBACK DriveDialog(HWND, UINT, UINT_PTR, DWORD) {
    HWND dialog = FindWindowA(reinterpret_cast<LPCSTR>(WC_DIALOG), "Configuration");
    if (dialog == nullptr || g_steps == nullptr || g_next >= g_steps->size()) return;
    (*g_steps)[g_next++](dialog);
}

bool RunModal(ConfigValues& values, std::vector<std::function<void(HWND)>> steps) {
    g_steps = &steps;
    g_next = 0;
    const UINT_PTR timer = SetTimer(nullptr, 0, 20, DriveDialog);
    const bool accepted = TsConfigDlg::ShowModal(nullptr, values);
    KillTimer(nullptr, timer);
    g_steps = nullptr;
    return accepted;
}

// The address field of a dialog opened on port setting 632.
BOOL CALLBACK FindShownAddress(HWND child, LPARAM found) {
    if (Text(child) != "0278") return TRUE;
    *reinterpret_cast<HWND*>(found) = child;
    return FALSE;
}

void PostKey(HWND dialog, WPARAM key) {
    HWND focus = GetFocus();
    PostMessageA(focus != nullptr ? focus : dialog, WM_KEYDOWN, key, 0);
}

TEST(ConfigDialogModalTest, EnterTakesEscapeDiscardsAndEveryOpeningIsFresh) {
    ConfigValues values = SampleValues();
    // Type into the focused field (motor 1's maximum frequency), then Escape.
    EXPECT_FALSE(RunModal(values, {[](HWND) { SetWindowTextA(GetFocus(), "77"); },
                                   [](HWND d) { PostKey(d, VK_ESCAPE); }}));
    EXPECT_EQ(values.Motors[0].MaxFrequency, 1234.4);

    // The next opening shows the values again, not what was typed; Enter takes them.
    std::string shown;
    EXPECT_TRUE(RunModal(
        values, {[&](HWND) { shown = Text(GetFocus()); }, [](HWND d) { PostKey(d, VK_RETURN); }}));
    EXPECT_EQ(shown, "1234");
    EXPECT_EQ(values.Motors[0].MaxFrequency, 1234.0);
    EXPECT_EQ(values.PortSetting, 632);

    // The address typed as FFFF comes back as -1 and reopens on the address button.
    EXPECT_TRUE(RunModal(values, {[](HWND d) {
                                      HWND address = nullptr;
                                      EnumChildWindows(d, FindShownAddress,
                                                       reinterpret_cast<LPARAM>(&address));
                                      ASSERT_NE(address, nullptr);
                                      // The caption-less radio button sits just before it.
                                      SendMessageA(GetWindow(address, GW_HWNDPREV), BM_CLICK, 0, 0);
                                      SetWindowTextA(address, "FFFF");
                                  },
                                  [](HWND d) { SendMessageA(d, WM_COMMAND, IDOK, 0); }}));
    EXPECT_EQ(values.PortSetting, -1);
}

}  // namespace
}  // namespace ui
