// What the program's own window classes share: registering a class, and finding the object a
// window was created for from its window procedure. Called on the window thread only.
#pragma once

#include <windows.h>

namespace ui {

// Registers a class with the arrow cursor. Registering it again (a second form in one process,
// as the tests make) is no error. A null background is for a window that paints every pixel.
inline bool RegisterWindowClass(HINSTANCE instance, const char* name, WNDPROC procedure,
                                HBRUSH background = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1),
                                HICON icon = nullptr) {
    WNDCLASSEXA wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = procedure;
    wc.hInstance = instance;
    wc.hCursor = LoadCursor(nullptr, IDC_ARROW);
    wc.hIcon = icon;
    wc.hbrBackground = background;
    wc.lpszClassName = name;
    return RegisterClassExA(&wc) != 0 || GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
}

// The object a window was created for (CreateWindowEx's last parameter): kept in the window's
// user data from WM_NCCREATE on, null for the messages before it and after ForgetWindowObject.
template <class T>
T* WindowObject(HWND window, UINT message, LPARAM lParam) {
    if (message == WM_NCCREATE) {
        auto* object = static_cast<T*>(reinterpret_cast<CREATESTRUCTA*>(lParam)->lpCreateParams);
        SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(object));
        return object;
    }
    return reinterpret_cast<T*>(GetWindowLongPtrA(window, GWLP_USERDATA));
}

// At WM_NCDESTROY, before the object is freed: the window's last messages find none.
inline void ForgetWindowObject(HWND window) {
    SetWindowLongPtrA(window, GWLP_USERDATA, 0);
}

}  // namespace ui
