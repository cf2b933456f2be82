#include "usb/UpdateUsbDeviceThread.h"

namespace usb {

TUpdateUsbDeviceThread::~TUpdateUsbDeviceThread() {
    Terminate();
    Resume();
    WaitFor();
}

void TUpdateUsbDeviceThread::SetOnExecute(ExecuteEvent handler) {
    std::lock_guard lock(mutex_);
    onExecute_ = handler;
}

void TUpdateUsbDeviceThread::Resume() {
    std::lock_guard lock(mutex_);
    if (!started_) {
        started_ = true;
        thread_ = std::thread(&TUpdateUsbDeviceThread::Execute, this);
        return;
    }
    if (parked_) {
        parked_ = false;
        wake_.notify_all();
    } else {
        resumePending_ = true;
    }
}

void TUpdateUsbDeviceThread::SuspendSelf() {
    std::unique_lock lock(mutex_);
    if (resumePending_ || terminated_) {
        resumePending_ = false;
        return;
    }
    parked_ = true;
    wake_.wait(lock, [this] { return !parked_ || terminated_; });
    parked_ = false;
}

void TUpdateUsbDeviceThread::Terminate() {
    std::lock_guard lock(mutex_);
    terminated_ = true;
    wake_.notify_all();
}

bool TUpdateUsbDeviceThread::Terminated() const {
    std::lock_guard lock(mutex_);
    return terminated_;
}

bool TUpdateUsbDeviceThread::Suspended() const {
    std::lock_guard lock(mutex_);
    return !started_ || parked_;
}

bool TUpdateUsbDeviceThread::WaitForTerminate(std::chrono::milliseconds timeout) {
    std::unique_lock lock(mutex_);
    return wake_.wait_for(lock, timeout, [this] { return terminated_; });
}

void TUpdateUsbDeviceThread::WaitFor() {
    std::unique_lock lock(mutex_);
    if (!thread_.joinable() || thread_.get_id() == std::this_thread::get_id()) return;
    std::thread thread = std::move(thread_);
    lock.unlock();
    thread.join();
}

void TUpdateUsbDeviceThread::Execute() {
    ExecuteEvent handler;
    {
        std::lock_guard lock(mutex_);
        handler = onExecute_;
    }
    handler(*this);
}

}  // namespace usb
