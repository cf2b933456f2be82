// A TextDisplay for a control of the main window that may be written from any thread: the motor
// writes its position into it on the timer thread, the USB link its status on the window's.
// SetText keeps the latest text and posts one notification to the window until the window has
// taken it; the window then shows the latest text. So the writing thread never waits for the
// window (no SendMessage, no SetWindowText off the window's thread) and a fast motor cannot flood
// the message queue: intermediate texts are skipped, the last one is always shown.
#pragma once

#include <windows.h>

#include <mutex>
#include <string>
#include <string_view>

#include "motion/TextDisplay.h"

namespace ui {

class TPostedTextDisplay final : public motion::TextDisplay {
  public:
    // The notification: message posted to window with wParam = id. Window thread, before use.
    void Bind(HWND window, UINT message, WPARAM id);
    // Any thread.
    void SetText(std::string_view text) override;
    // Window thread, on the notification: the latest text. release: allows the next
    // notification; false keeps them back until a TakeText that releases.
    std::string TakeText(bool release = true);

  private:
    std::mutex mutex_;
    std::string text_;
    bool posted_ = false;
    HWND window_ = nullptr;
    UINT message_ = 0;
    WPARAM id_ = 0;
};

}  // namespace ui
