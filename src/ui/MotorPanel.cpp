#include "ui/MotorPanel.h"

#include "ui/MainFormLayout.h"
#include "ui/WindowClass.h"

namespace ui {

namespace {

void Paint(HWND panel) {
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(panel, &ps);
    RECT client;
    GetClientRect(panel, &client);
    DrawEdge(dc, &client, BDR_SUNKENOUTER, BF_RECT);
    RECT frame{kBevelLeft, kBevelTop, kBevelLeft + kBevelWidth, kBevelTop + kBevelHeight};
    DrawEdge(dc, &frame, BDR_SUNKENOUTER, BF_RECT);
    EndPaint(panel, &ps);
}

LRESULT CALLBACK PanelProc(HWND panel, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_PAINT:
            Paint(panel);
            return 0;
        case WM_CLOSE:
            // A panel is part of the main window and never closes on its own (a control that
            // asks its parent to close, as a multi-line edit does on Esc, finds nothing to end).
            return 0;
        case WM_COMMAND:
        case WM_NOTIFY:
            // The main window's handlers serve all four panels.
            return SendMessageA(GetParent(panel), message, wParam, lParam);
        default:
            return DefWindowProcA(panel, message, wParam, lParam);
    }
}

}  // namespace

bool RegisterMotorPanel(HINSTANCE instance) {
    return RegisterWindowClass(instance, kMotorPanelClass, PanelProc);
}

HWND CreateMotorPanel(HWND parent, int left, int top, int id) {
    return CreateWindowExA(
        WS_EX_CONTROLPARENT, kMotorPanelClass, "", WS_CHILD | WS_VISIBLE | WS_CLIPCHILDREN, left,
        top, kPanelWidth, kPanelHeight, parent, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
        reinterpret_cast<HINSTANCE>(GetWindowLongPtrA(parent, GWLP_HINSTANCE)), nullptr);
}

}  // namespace ui
