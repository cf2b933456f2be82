#include "ui/WindowClass.h"

namespace ui {

namespace {

// Runs a handler at the edge of a window or dialog procedure, which no exception may leave.
// False when the handler threw: it has then done nothing visible, and the procedure says what
// the message returns.
template <typename Handler>
bool HandledAtEdge(Handler&& handler) noexcept {
    try {
        handler();
        return true;
    } catch (...) {
        return false;
    }
}

}  // namespace

WindowBase::~WindowBase() {
    if (deletedFlag_ != nullptr) *deletedFlag_ = true;
}

HWND WindowBase::CreateFor(WindowBase* object, DWORD exStyle, const char* className,
                           const char* caption, DWORD style, int left, int top, int width,
                           int height, HWND parent, HMENU menu, HINSTANCE instance) {
    // A creation that fails after WM_NCCREATE (WM_CREATE refusing, say) destroys the window,
    // whose WM_NCDESTROY deletes the object; one that fails before it leaves the object here.
    // The destructor's flag tells the two apart.
    bool deleted = false;
    object->deletedFlag_ = &deleted;
    HWND window = CreateWindowExA(exStyle, className, caption, style, left, top, width, height,
                                  parent, menu, instance, object);
    if (deleted) return nullptr;
    object->deletedFlag_ = nullptr;
    if (window == nullptr) delete object;
    return window;
}

LRESULT CALLBACK WindowBase::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    WindowBase* self;
    if (message == WM_NCCREATE) {
        self = static_cast<WindowBase*>(reinterpret_cast<CREATESTRUCTA*>(lParam)->lpCreateParams);
        SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
        if (self != nullptr) self->handle_ = window;
    } else {
        self = reinterpret_cast<WindowBase*>(GetWindowLongPtrA(window, GWLP_USERDATA));
    }
    if (self == nullptr) return DefWindowProcA(window, message, wParam, lParam);
    if (message == WM_NCDESTROY) {
        // The window's last messages find no object.
        SetWindowLongPtrA(window, GWLP_USERDATA, 0);
        if (self->messageDepth_ > 0)
            self->deleteWhenUnwound_ = true;
        else
            delete self;
        return DefWindowProcA(window, message, wParam, lParam);
    }
    ++self->messageDepth_;
    LRESULT result = 0;
    // A creation that failed (out of memory) fails the window's creation; after any other
    // handler that failed, the window goes on.
    if (!HandledAtEdge([&] { result = self->Dispatch(message, wParam, lParam); }) &&
        message == WM_CREATE)
        result = -1;
    if (--self->messageDepth_ == 0 && self->deleteWhenUnwound_) delete self;
    return result;
}

LRESULT WindowBase::Dispatch(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_CREATE:
            return OnCreate() ? 0 : -1;
        case WM_DESTROY:
            OnDestroy();
            return 0;
        case WM_PAINT: {
            // EndPaint also when the paint fails: the window is validated either way.
            struct Paint {
                HWND window;
                PAINTSTRUCT ps;
                explicit Paint(HWND w) : window(w) { BeginPaint(window, &ps); }
                ~Paint() { EndPaint(window, &ps); }
            } paint(handle_);
            OnPaint(paint.ps.hdc);
            return 0;
        }
        case WM_COMMAND:
            OnCommand(LOWORD(wParam), HIWORD(wParam), reinterpret_cast<HWND>(lParam));
            return 0;
        case WM_SIZE:
            OnSize(LOWORD(lParam), HIWORD(lParam));
            return 0;
        case WM_TIMER:
            OnTimer(wParam);
            return 0;
        default:
            return HandleMessage(message, wParam, lParam);
    }
}

INT_PTR CALLBACK DialogBase::DialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    DialogBase* self;
    if (message == WM_INITDIALOG) {
        self = reinterpret_cast<DialogBase*>(lParam);
        SetWindowLongPtrA(dialog, DWLP_USER, reinterpret_cast<LONG_PTR>(self));
        if (self != nullptr) self->handle_ = dialog;
    } else {
        self = reinterpret_cast<DialogBase*>(GetWindowLongPtrA(dialog, DWLP_USER));
    }
    if (self == nullptr) return FALSE;
    if (message == WM_NCDESTROY) {
        SetWindowLongPtrA(dialog, DWLP_USER, 0);
        self->handle_ = nullptr;
        return FALSE;
    }
    INT_PTR result = FALSE;
    // A dialog that could not be built closes without taking anything.
    if (!HandledAtEdge([&] { result = self->Dispatch(message, wParam, lParam); }) &&
        message == WM_INITDIALOG)
        HandledAtEdge([&] { self->OnCommand(IDCANCEL, BN_CLICKED, nullptr); });
    return result;
}

INT_PTR DialogBase::Dispatch(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_INITDIALOG:
            return OnInitDialog() ? TRUE : FALSE;
        case WM_COMMAND:
            OnCommand(LOWORD(wParam), HIWORD(wParam), reinterpret_cast<HWND>(lParam));
            return TRUE;
        default:
            return HandleMessage(message, wParam, lParam);
    }
}

}  // namespace ui
