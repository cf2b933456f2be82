// What the program's own window classes and dialogs share: registering a class; WindowBase, the
// object behind a window with its one window procedure; DialogBase, the object behind a dialog
// with its one dialog procedure. Called on the window thread only.
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

// The object behind one of the program's windows. Its class is registered with WindowProc and
// the window is created by CreateFor; the object belongs to its window and is deleted after
// the window's WM_NCDESTROY.
//
// WindowProc finds the object (kept in the window's user data from WM_NCCREATE on; the messages
// before it and after WM_NCDESTROY go to DefWindowProc), hands the message to the virtual
// handlers below and lets no exception out: a handler that throws has done nothing visible and
// the message returns 0, except WM_CREATE, whose failure (-1) fails the window's creation.
//
// A handler may run a modal loop (a message box, a dialog, the reset drive) in which the window
// is destroyed. The object is then deleted only when the outermost of its handlers on the
// stack returns, so the code after the modal loop still finds it (it must not touch the window).
class WindowBase {
  public:
    WindowBase(const WindowBase&) = delete;
    WindowBase& operator=(const WindowBase&) = delete;

    HWND Handle() const { return handle_; }

  protected:
    WindowBase() = default;
    virtual ~WindowBase();

    // The window procedure of every class registered for a WindowBase.
    static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    // CreateWindowExA for object, which the window takes over. Null when the window cannot be
    // created; the object is then deleted (by the window when its creation failed after
    // WM_NCCREATE, else here), exactly once either way.
    static HWND CreateFor(WindowBase* object, DWORD exStyle, const char* className,
                          const char* caption, DWORD style, int left, int top, int width,
                          int height, HWND parent, HMENU menu, HINSTANCE instance);

    // The handlers. WM_CREATE: false fails the window's creation.
    virtual bool OnCreate() { return true; }
    virtual void OnDestroy() {}
    // WM_PAINT, between BeginPaint and EndPaint; a window that draws nothing only validates.
    virtual void OnPaint(HDC) {}
    // WM_COMMAND: the command id, the notification code and the control (null for a menu or an
    // accelerator).
    virtual void OnCommand(int, int, HWND) {}
    virtual void OnSize(int, int) {}
    virtual void OnTimer(UINT_PTR) {}
    // Every other message, WM_NCCREATE included (the handle is known by then).
    virtual LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
        return DefWindowProcA(handle_, message, wParam, lParam);
    }

    HWND handle_ = nullptr;  // from WM_NCCREATE on

  private:
    LRESULT Dispatch(UINT message, WPARAM wParam, LPARAM lParam);

    // This window's handlers running on the stack, nested when one runs a modal loop.
    int messageDepth_ = 0;
    bool deleteWhenUnwound_ = false;  // the window is gone; the outermost handler deletes
    bool* deletedFlag_ = nullptr;     // CreateFor's, while it waits for CreateWindowExA
};

// The object behind one of the program's dialogs. The dialog is made with DialogProc and
// DialogParam() (DialogBoxIndirectParamA, CreateDialogIndirectParamA); the object belongs to
// whoever made the dialog and outlives its window.
//
// DialogProc finds the object (kept in the dialog's DWLP_USER from WM_INITDIALOG on; the
// messages before it and after WM_NCDESTROY are left to the dialog manager), hands the message
// to the virtual handlers below and lets no exception out, as WindowProc does: a handler that
// throws has done nothing visible and the message returns FALSE. A dialog whose WM_INITDIALOG
// throws could not be built: it is cancelled as Escape cancels it (OnCommand with IDCANCEL).
class DialogBase {
  public:
    DialogBase(const DialogBase&) = delete;
    DialogBase& operator=(const DialogBase&) = delete;

    HWND Handle() const { return handle_; }

  protected:
    DialogBase() = default;
    virtual ~DialogBase() = default;

    static INT_PTR CALLBACK DialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
    // The creation parameter that hands this object to DialogProc.
    LPARAM DialogParam() { return reinterpret_cast<LPARAM>(this); }

    // The handlers. WM_INITDIALOG: true lets the dialog manager focus the first control, false
    // when the handler has set the focus itself.
    virtual bool OnInitDialog() { return true; }
    // WM_COMMAND, as WindowBase's.
    virtual void OnCommand(int, int, HWND) {}
    // Every other message; TRUE when handled.
    virtual INT_PTR HandleMessage(UINT, WPARAM, LPARAM) { return FALSE; }

    HWND handle_ = nullptr;  // from WM_INITDIALOG to WM_NCDESTROY

  private:
    INT_PTR Dispatch(UINT message, WPARAM wParam, LPARAM lParam);
};

}  // namespace ui
