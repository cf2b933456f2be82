#include "ui/AnimatedMotorIcon.h"

#include "ui/WindowClass.h"

namespace ui {

bool TAnimatedMotorIcon::Register(HINSTANCE instance) {
    // No background: the paint covers every pixel.
    return RegisterWindowClass(instance, kClassName, WindowProc, nullptr);
}

TAnimatedMotorIcon* TAnimatedMotorIcon::Create(HWND parent, int id) {
    auto* icon = new TAnimatedMotorIcon();
    HWND handle = CreateFor(icon, 0, kClassName, "", WS_CHILD | WS_VISIBLE, kLeft, kTop, kSize,
                            kSize, parent, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
                            reinterpret_cast<HINSTANCE>(GetWindowLongPtrA(parent, GWLP_HINSTANCE)));
    return handle == nullptr ? nullptr : icon;
}

LRESULT TAnimatedMotorIcon::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_NCCREATE:
            SetAngle(0.0f);
            break;
        case WM_ERASEBKGND:
            return 1;  // the paint covers every pixel
    }
    return DefWindowProcA(handle_, message, wParam, lParam);
}

void TAnimatedMotorIcon::OnPaint(HDC dc) {
    RECT client;
    GetClientRect(handle_, &client);
    Paint(dc, client);
}

void TAnimatedMotorIcon::SetAngle(float degrees) {
    angle_ = NormaliseIconAngle(degrees);
    RECT client;
    GetClientRect(handle_, &client);
    const int width = client.right > 0 ? client.right : kSize;
    points_ = IconTriangle(angle_, width);
    InvalidateRect(handle_, nullptr, FALSE);
}

void TAnimatedMotorIcon::Paint(HDC dc, const RECT& client) {
    // Draw into a bitmap first and copy it at once: no half-drawn symbol is ever visible.
    HDC buffer = CreateCompatibleDC(dc);
    HBITMAP bitmap = CreateCompatibleBitmap(dc, client.right, client.bottom);
    HGDIOBJ oldBitmap = SelectObject(buffer, bitmap);

    FillRect(buffer, &client, GetSysColorBrush(COLOR_BTNFACE));
    HPEN pen = CreatePen(PS_SOLID, 1, RGB(0, 0, 0));
    HBRUSH grey = CreateSolidBrush(RGB(128, 128, 128));
    HGDIOBJ oldPen = SelectObject(buffer, pen);
    HGDIOBJ oldBrush = SelectObject(buffer, grey);
    Ellipse(buffer, client.left, client.top, client.right, client.bottom);

    SelectObject(buffer, GetSysColorBrush(COLOR_INFOBK));
    POINT corners[3];
    for (int i = 0; i < 3; ++i)
        corners[i] = {points_[static_cast<size_t>(i)].X, points_[static_cast<size_t>(i)].Y};
    Polygon(buffer, corners, 3);

    BitBlt(dc, 0, 0, client.right, client.bottom, buffer, 0, 0, SRCCOPY);

    SelectObject(buffer, oldBrush);
    SelectObject(buffer, oldPen);
    DeleteObject(grey);
    DeleteObject(pen);
    SelectObject(buffer, oldBitmap);
    DeleteObject(bitmap);
    DeleteDC(buffer);
}

}  // namespace ui
