// TUsbLink: the HID report channel to the USB motor controller module (vendor 6017, product
// 2240). It finds the module through the locator library "vrexusbdrv.dll" (loaded by name for
// the search only), opens two handles on its device path (one for writing, one for the receive
// thread), sends one output report at a time with time-outs and one retry, runs the receive
// thread, follows device arrival and removal, and shuts down in order.
//
// What the reports mean is the protocol's business: the link hands every received report to its
// client, and asks the client to empty its buffers whenever the link is (re)opened.
//
// Threads: OpenUsb, Close, DeviceChange and Shutdown run on the window's thread; SendReport on any
// thread (window, receive thread, timer threads); the client's receive-side calls on the receive
// thread. The handles are shared: closing one interrupts an operation in progress on it, and the
// file itself is closed when the last operation using it has returned, so no thread ever uses a
// closed handle. At most one write is outstanding at a time.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "motion/TextDisplay.h"
#include "platform/Desktop.h"
#include "platform/DeviceFile.h"
#include "platform/LibraryLoader.h"
#include "platform/TimerService.h"
#include "usb/ReportChannel.h"
#include "usb/UpdateUsbDeviceThread.h"
#include "usb/UsbReport.h"
#include "vrexusbdrv/vrexusb_records.h"

namespace usb {

// What the link needs from the rest of the program.
class UsbLinkClient {
  public:
    // Opening the USB link, window's thread, in this order before the search:
    virtual void ReleaseParallelPort() = 0;  // the parallel-port library and its entry points
    virtual void ClearSegmentRings() = 0;    // all four rings and their indices
    virtual void ResetUsbBuffers() = 0;      // rings, clock samples, motors stopped, reset mask

    // Receive thread:
    virtual void ReceiveThreadStarted() = 0;  // calibration default, free places zeroed
    virtual void BeginPass() = 0;             // clears the pass's send flag
    // One pass's report (type byte 0 after a read time-out) and the host time in seconds;
    // dispatch and command-list streaming.
    virtual void DispatchReport(const UsbReport& report, double hostSeconds) = 0;

  protected:
    ~UsbLinkClient() = default;
};

class TUsbLink final : public ReportChannel {
  public:
    static constexpr int32_t kVendorId = 6017;   // 0x1781
    static constexpr int32_t kProductId = 2240;  // 0x08C0
    static constexpr const char* kLocatorLibrary = "vrexusbdrv.dll";
    static constexpr const char* kLocatorFunction = "vrexusb_FindDevice";
    static constexpr const char* kConnectedText = "USB (connected)";
    static constexpr const char* kNoDeviceText = "USB (no Device)";

    // Time-outs in milliseconds.
    static constexpr uint32_t kWriteTimeoutMs = 100;
    static constexpr uint32_t kRetryTimeoutMs = 500;
    static constexpr uint32_t kProbeTimeoutMs = 200;
    static constexpr uint32_t kReadTimeoutMs = 1000;
    static constexpr uint32_t kWriteChannelWaitMs = 10000;  // 1000 polls of 10 ms

    struct Ports {
        platform::LibraryLoader& loader;
        platform::DeviceFiles& files;
        platform::Desktop& desktop;
        platform::TimerService& timers;
    };

    // The receive thread is created suspended. statusLabel (may be null) receives the port
    // status text; it is written on the window's thread.
    TUsbLink(Ports ports, UsbLinkClient& client, motion::TextDisplay* statusLabel);
    // Shuts down if Shutdown has not been called.
    ~TUsbLink();
    TUsbLink(const TUsbLink&) = delete;
    TUsbLink& operator=(const TUsbLink&) = delete;

    // The USB half of opening the output (port setting 0 or 1): search, open, start-up sequence,
    // receive thread resumed, status label. Window's thread.
    void OpenUsb();
    // Closes both handles (a parallel port was selected); the receive thread parks itself.
    void Close();
    // The link's part of the window's WM_DEVICECHANGE: when connected, probes the module and
    // closes the write handle if the probe is not accepted within 200 ms. True when the link is
    // (now) absent: the window then runs its whole output selection (OpenOutputPort), which for
    // a USB port setting comes back to OpenUsb. Window's thread.
    bool DeviceChange();
    // Sends one output report; failures are handled inside and never reported. Any thread.
    void SendReport(const UsbReport& report) override;
    // The link's part of the window's destruction: wakes a waiting writer, ends the receive
    // thread (also one blocked in a read) and closes both handles. Window's thread.
    void Shutdown();

    bool Connected() const override;  // the write handle is present
    std::string DevicePath() const;
    bool ReceiveThreadSuspended() const { return thread_.Suspended(); }

  private:
    void CloseHandles();
    bool FindModule(std::string& path, VrexusbCaps& caps);
    std::shared_ptr<platform::DeviceFile> OpenHandle(const std::string& path);
    // The write channel: at most kWriteChannelWaitMs for the current writer, then on regardless.
    void AcquireWriteChannel();
    void ReleaseWriteChannel();
    void UsbReceiveLoop(TUpdateUsbDeviceThread& thread);
    void ShowStatus(const char* text);

    Ports ports_;
    UsbLinkClient& client_;
    motion::TextDisplay* statusLabel_;

    mutable std::mutex handlesMutex_;  // guards the four fields below
    std::string devicePath_;
    VrexusbCaps deviceCaps_{};
    std::shared_ptr<platform::DeviceFile> writeHandle_;
    std::shared_ptr<platform::DeviceFile> readHandle_;

    std::mutex writeMutex_;
    std::condition_variable writeFree_;
    bool writeBusy_ = false;

    bool shutDown_ = false;
    // Last: ends (in the destructor) before the state it uses goes away.
    TUpdateUsbDeviceThread thread_;
};

}  // namespace usb
