#include "ui/PostedTextDisplay.h"

#include "ui/WindowPost.h"

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
    if (!PostToWindow(window, message_, id_)) {
        std::lock_guard lock(mutex_);
        posted_ = false;
    }
}

std::string TPostedTextDisplay::TakeText(bool release) {
    std::lock_guard lock(mutex_);
    if (release) posted_ = false;
    return text_;
}

}  // namespace ui
