#include "ui/WindowPost.h"

#include <atomic>
#include <string>

namespace ui {
namespace {

std::atomic<uint32_t> failedPosts{0};

}  // namespace

bool PostToWindow(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (PostMessageA(window, message, wParam, lParam) != 0) return true;
    const DWORD error = GetLastError();
    failedPosts.fetch_add(1, std::memory_order_relaxed);
    OutputDebugStringA(("Q417_Stepper: a post of message " + std::to_string(message) +
                        " to the window failed (error " + std::to_string(error) + ")\n")
                           .c_str());
    return false;
}

uint32_t FailedPosts() {
    return failedPosts.load(std::memory_order_relaxed);
}

}  // namespace ui
