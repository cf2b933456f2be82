// TFormControls: the main window's controls. Creates the four motor panels and every control
// from the layout tables (creation order is tab order), owns the fonts, re-creates the Steps
// fields digits-only and right-aligned without a multi-line edit's dialog keys, filters the
// entry fields' keys, keeps the position displays out of the focus chain, and finds a control by
// its panel row or window row.
//
// Threads: the window's thread only.
#pragma once

#include <windows.h>
// After <windows.h>, which it needs.
#include <commctrl.h>

#include <array>
#include <string>
#include <string_view>
#include <unordered_map>

#include "ui/MainFormLayout.h"

namespace ui {

// The text of a window.
std::string WindowText(HWND window);

class TFormControls {
  public:
    struct Entry {
        const char* Name = nullptr;
        int Tag = 0;
        int Motor = -1;  // the panel's motor index; -1 for window-wide controls
        Handler EventHandler = Handler::kNone;
        HWND Window = nullptr;
    };

    TFormControls() = default;
    ~TFormControls();
    TFormControls(const TFormControls&) = delete;
    TFormControls& operator=(const TFormControls&) = delete;

    // Creates the panels and their controls, then the window-wide controls, as children of
    // form; the jog buttons get jogProc as their subclass with jogData. Fixes the client size.
    void Create(HWND form, SUBCLASSPROC jogProc, DWORD_PTR jogData);
    // Registers a control made elsewhere (the motor symbols).
    void Add(int id, const char* name, int tag, int motor, Handler handler, HWND window);
    // Re-creates motor's Steps field with the digits-only, right-aligned styles (they hold only
    // from a control's creation on); focus is moved to the new field when it named the old one.
    void RestyleStepsField(int motor, HWND& focus);

    HWND Panel(int motor, PanelRow row) const;
    HWND Window(WindowRow row) const;
    HWND PanelWindow(int motor) const { return panels_[static_cast<size_t>(motor)]; }
    // The control with the given window id, or null.
    const Entry* Find(int id) const;
    // The control with the given form name ("Button2", "Edit4", ...), or null: for tests and
    // tools that know the controls by name.
    HWND Named(std::string_view name) const;

  private:
    HWND CreateControl(HWND parent, ControlKind kind, int id, int left, int top, int width,
                       int height, const char* caption, DWORD extraStyle);
    static LRESULT CALLBACK EditProc(HWND edit, UINT message, WPARAM wParam, LPARAM lParam,
                                     UINT_PTR id, DWORD_PTR data);

    HWND form_ = nullptr;
    HFONT font_ = nullptr;
    HFONT boldFont_ = nullptr;
    std::array<HWND, kMotorCount> panels_{};
    std::unordered_map<int, Entry> entries_;
};

}  // namespace ui
