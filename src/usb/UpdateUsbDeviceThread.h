// TUpdateUsbDeviceThread: the thread that runs the USB receive loop. Created suspended; its body
// calls OnExecute once, and the thread ends when OnExecute returns.
//
// Suspension parks the thread on a condition instead of suspending it from outside, so it is
// never stopped while holding a lock. A Resume that comes while the thread is still running is
// kept, and the thread's next SuspendSelf returns at once: the window may open the link and
// resume the thread just before the thread, having seen no link, suspends itself, and that
// resume must not be lost.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "motion/Callback.h"

namespace usb {

class TUpdateUsbDeviceThread {
  public:
    using ExecuteEvent = motion::Callback<TUpdateUsbDeviceThread&>;

    TUpdateUsbDeviceThread() = default;
    // Terminates, resumes and waits for the thread.
    ~TUpdateUsbDeviceThread();
    TUpdateUsbDeviceThread(const TUpdateUsbDeviceThread&) = delete;
    TUpdateUsbDeviceThread& operator=(const TUpdateUsbDeviceThread&) = delete;

    // Set before the first Resume.
    void SetOnExecute(ExecuteEvent handler);

    // Starts the thread the first time, wakes it from SuspendSelf afterwards. Any thread.
    void Resume();
    // Parks the calling thread (the thread itself) until Resume or Terminate.
    void SuspendSelf();
    // Asks the body to end; it tests Terminated() and returns. Any thread.
    void Terminate();
    bool Terminated() const;
    // True while the thread is parked in SuspendSelf or not started yet.
    bool Suspended() const;
    // Waits up to timeout for Terminate; true when terminated. For the body's own pauses.
    bool WaitForTerminate(std::chrono::milliseconds timeout);
    // Waits until the body has returned. Not from the thread itself.
    void WaitFor();

  private:
    void Execute();

    mutable std::mutex mutex_;
    std::condition_variable wake_;
    ExecuteEvent onExecute_;
    std::thread thread_;
    bool started_ = false;
    bool parked_ = false;
    bool resumePending_ = false;
    bool terminated_ = false;
};

}  // namespace usb
