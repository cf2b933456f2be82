// ReportRecorder: the rest of the program as a test on the real HID link sees it: every report
// the receive thread dispatches is kept in order, the status label's text too, and the other
// hooks do nothing. Thread-safe: the link calls it from its receive thread.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "motion/TextDisplay.h"
#include "usb/UsbLink.h"

namespace usb::testing {

struct ReportRecorder : UsbLinkClient, motion::TextDisplay {
    std::mutex mutex;
    std::condition_variable changed;
    std::string status;
    std::vector<UsbReport> reports;

    void ReleaseParallelPort() override {}
    void ClearSegmentRings() override {}
    void ResetUsbBuffers() override {}
    void ReceiveThreadStarted() override {}
    void BeginPass() override {}
    void SetText(std::string_view text) override {
        std::lock_guard lock(mutex);
        status = text;
    }
    void DispatchReport(const UsbReport& report, double) override {
        std::lock_guard lock(mutex);
        reports.push_back(report);
        changed.notify_all();
    }
    // Waits for a report of type arriving after the first `after` reports.
    bool WaitForType(uint8_t type, size_t after,
                     std::chrono::milliseconds timeout = std::chrono::seconds(3)) {
        std::unique_lock lock(mutex);
        return changed.wait_for(lock, timeout, [&] {
            for (size_t i = after; i < reports.size(); ++i) {
                if (reports[i][1] == type) return true;
            }
            return false;
        });
    }
    size_t Count() {
        std::lock_guard lock(mutex);
        return reports.size();
    }
    std::string Status() {
        std::lock_guard lock(mutex);
        return status;
    }
};

}  // namespace usb::testing
