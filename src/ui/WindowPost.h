// Posting to a window from any thread: the one way other threads reach a window.
//
// A post fails when the window is gone or its queue is full. Every failure is counted and told to
// the debugger, so that a lost notification shows up in a log rather than as a stalled display;
// the caller learns of it too and undoes what it had marked as pending, so that its next post
// is not held back by one that never arrives.
#pragma once

#include <windows.h>

#include <cstdint>

namespace ui {

// PostMessageA; false (counted and told to the debugger) when the post failed.
bool PostToWindow(HWND window, UINT message, WPARAM wParam = 0, LPARAM lParam = 0);
// How many posts have failed in this process.
uint32_t FailedPosts();

}  // namespace ui
