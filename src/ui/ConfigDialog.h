// TsConfigDlg: the modal "Configuration" dialog of Options > Configuration. For each motor it
// edits the maximum frequency, the control frequency and the reset direction; for the output it
// offers "USB", "USB (slow)", the three standard parallel ports and a typed hexadecimal address.
//
// Every opening builds a fresh dialog from the values handed in, so nothing typed in a cancelled
// dialog survives. "Ok" (or Enter) takes the values back; "Cancel", Escape and the close box take
// nothing. The texts and their conversions live in ConfigValues; this class moves them in and
// out of its controls. Window's thread only.
#pragma once

#include <windows.h>

#include <array>
#include <string>
#include <string_view>

#include "ui/ConfigValues.h"
#include "ui/WindowClass.h"

namespace ui {

class TsConfigDlg final : public DialogBase {
  public:
    // The client area the controls are laid out in; the window is sized to hold it.
    static constexpr int kClientWidth = 507;
    static constexpr int kClientHeight = 421;

    // Runs the dialog modally over owner. True when it was closed with "Ok": values then holds
    // what the dialog gives back. False otherwise, with values untouched.
    static bool ShowModal(HWND owner, ConfigValues& values);

    // The same dialog without its own message loop, for tests: Create shows nothing and returns
    // the dialog's window, or null. The dialog destroys its window when it closes; Accepted and
    // Values tell how it closed.
    explicit TsConfigDlg(const ConfigValues& values);
    ~TsConfigDlg() override;
    HWND CreateModeless(HWND owner);

    // The control with the given form name ("Edit2", "rbUSB", "RadioButton4", "Button1",
    // "GroupBox1" ...), or null.
    HWND Control(std::string_view name) const;
    HWND ToolTip() const { return toolTip_; }
    bool Closed() const { return closed_; }
    bool Accepted() const { return accepted_; }
    const ConfigValues& Values() const { return values_; }

  private:
    static LRESULT CALLBACK FieldProc(HWND edit, UINT message, WPARAM wParam, LPARAM lParam,
                                      UINT_PTR id, DWORD_PTR data);
    bool OnInitDialog() override;
    void OnCommand(int id, int code, HWND control) override;
    INT_PTR HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) override;

    void CreateControls();
    void FormCreate();
    void AddToolTips();
    void Fill();
    void OnSize(int width, int height);
    void RadioButton1Click();
    ConfigTexts ReadTexts() const;
    void Finish(bool accepted);

    ConfigValues values_;
    HWND toolTip_ = nullptr;
    HFONT font_ = nullptr;
    bool modal_ = false;
    bool closed_ = false;
    bool accepted_ = false;
    std::array<HWND, 64> controls_{};  // by row of the control table
};

}  // namespace ui
