#include "ui/PostedTextDisplay.h"

namespace ui {

void TPostedTextDisplay::Bind(HWND window, UINT message, WPARAM id) {
    std::lock_guard lock(mutex_);
    window_ = window;
    message_ = message;
    id_ = id;
}

void TPostedTextDisplay::SetText(std::string_view text) {
    HWND window;
    {
        std::lock_guard lock(mutex_);
        text_.assign(text);
        if (posted_ || window_ == nullptr) return;
        posted_ = true;
        window = window_;
    }
    // A window that is gone refuses the post; the text is simply not shown.
    if (PostMessageA(window, message_, id_, 0) == 0) {
        std::lock_guard lock(mutex_);
        posted_ = false;
    }
}

std::string TPostedTextDisplay::TakeText() {
    std::lock_guard lock(mutex_);
    posted_ = false;
    return text_;
}

}  // namespace ui
