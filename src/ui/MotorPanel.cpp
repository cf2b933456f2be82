#include "ui/MotorPanel.h"

#include "ui/MainFormLayout.h"
#include "ui/WindowClass.h"

namespace ui {

namespace {

// The panel's window object; it belongs to its window (WindowBase) and goes with it when the
// main window is destroyed.
class TMotorPanel final : public WindowBase {
  public:
    static bool Register(HINSTANCE instance) {
        return RegisterWindowClass(instance, kMotorPanelClass, WindowProc);
    }

    static HWND Create(HWND parent, int left, int top, int id) {
        return CreateFor(new TMotorPanel(), WS_EX_CONTROLPARENT, kMotorPanelClass, "",
                         WS_CHILD | WS_VISIBLE | WS_CLIPCHILDREN, left, top, kPanelWidth,
                         kPanelHeight, parent, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
                         reinterpret_cast<HINSTANCE>(GetWindowLongPtrA(parent, GWLP_HINSTANCE)));
    }

  private:
    TMotorPanel() = default;

    void OnPaint(HDC dc) override {
        RECT client;
        GetClientRect(handle_, &client);
        DrawEdge(dc, &client, BDR_SUNKENOUTER, BF_RECT);
        RECT frame{kBevelLeft, kBevelTop, kBevelLeft + kBevelWidth, kBevelTop + kBevelHeight};
        DrawEdge(dc, &frame, BDR_SUNKENOUTER, BF_RECT);
    }

    // The main window's handlers serve all four panels.
    void OnCommand(int id, int code, HWND control) override {
        SendMessageA(GetParent(handle_), WM_COMMAND, MAKEWPARAM(id, code),
                     reinterpret_cast<LPARAM>(control));
    }

    LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) override {
        switch (message) {
            case WM_CLOSE:
                // A panel is part of the main window and never closes on its own (a control
                // that asks its parent to close, as a multi-line edit does on Esc, finds
                // nothing to end).
                return 0;
            case WM_NOTIFY:
                return SendMessageA(GetParent(handle_), message, wParam, lParam);
            default:
                return DefWindowProcA(handle_, message, wParam, lParam);
        }
    }
};

}  // namespace

bool RegisterMotorPanel(HINSTANCE instance) {
    return TMotorPanel::Register(instance);
}

HWND CreateMotorPanel(HWND parent, int left, int top, int id) {
    return TMotorPanel::Create(parent, left, top, id);
}

}  // namespace ui
