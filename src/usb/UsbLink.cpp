#include "usb/UsbLink.h"

#include <algorithm>
#include <chrono>
#include <cstring>

namespace usb {

namespace {

// Every read and write moves the report length the module gives, which must fit the buffers.
uint32_t ReportLength(uint16_t length) {
    return std::min<uint32_t>(length, kReportSize);
}

}  // namespace

TUsbLink::TUsbLink(Ports ports, UsbLinkClient& client, motion::TextDisplay* statusLabel)
    : ports_(ports), client_(client), statusLabel_(statusLabel) {
    thread_.SetOnExecute(
        TUpdateUsbDeviceThread::ExecuteEvent::Bind<&TUsbLink::UsbReceiveLoop>(this));
}

TUsbLink::~TUsbLink() {
    Shutdown();
}

void TUsbLink::ShowStatus(const char* text) {
    if (statusLabel_ != nullptr) statusLabel_->SetText(text);
}

void TUsbLink::CloseHandles() {
    std::shared_ptr<platform::DeviceFile> write, read;
    {
        std::lock_guard lock(handlesMutex_);
        write = std::move(writeHandle_);
        read = std::move(readHandle_);
    }
    // Whoever is inside a read or write on them lets go at once; the last user closes them.
    if (write) write->Interrupt();
    if (read) read->Interrupt();
}

void TUsbLink::Close() {
    CloseHandles();
}

bool TUsbLink::Connected() const {
    std::lock_guard lock(handlesMutex_);
    return writeHandle_ != nullptr;
}

std::string TUsbLink::DevicePath() const {
    std::lock_guard lock(handlesMutex_);
    return devicePath_;
}

bool TUsbLink::FindModule(std::string& path, VrexusbCaps& caps) {
    platform::LibraryHandle library = ports_.loader.Load(kLocatorLibrary);
    if (library == nullptr) return false;
    bool found = false;
    auto find =
        reinterpret_cast<VrexusbFindDeviceProc>(ports_.loader.Symbol(library, kLocatorFunction));
    if (find != nullptr) {
        VrexusbPathRecord record{};
        record.Size = VREXUSB_PATH_RECORD_SIZE;
        VrexusbCaps found_caps{};
        if (find(kVendorId, kProductId, &record, &found_caps) != 0) {
            // The library writes a terminated path; stop at the record's end all the same.
            const void* nul = std::memchr(record.Path, '\0', sizeof record.Path);
            const size_t length =
                nul != nullptr ? static_cast<size_t>(static_cast<const char*>(nul) - record.Path)
                               : sizeof record.Path;
            path.assign(record.Path, length);
            caps = found_caps;
            found = true;
        }
    }
    ports_.loader.Free(library);  // loaded for the search only
    return found;
}

std::shared_ptr<platform::DeviceFile> TUsbLink::OpenHandle(const std::string& path) {
    if (path.empty()) return nullptr;
    return std::shared_ptr<platform::DeviceFile>(ports_.files.Open(path));
}

void TUsbLink::OpenUsb() {
    client_.ReleaseParallelPort();
    {
        std::lock_guard lock(handlesMutex_);
        devicePath_.clear();
    }
    client_.ClearSegmentRings();
    CloseHandles();
    client_.ResetUsbBuffers();

    std::string path;
    VrexusbCaps caps{};
    if (FindModule(path, caps)) {
        auto read = OpenHandle(path);
        auto write = OpenHandle(path);
        {
            std::lock_guard lock(handlesMutex_);
            devicePath_ = path;
            deviceCaps_ = caps;
            readHandle_ = read;
            writeHandle_ = write;
        }
        for (const UsbReport& report : StartupSequence())
            SendReport(report);
    }

    if (Connected()) {
        thread_.Resume();
        ShowStatus(kConnectedText);
    } else {
        ShowStatus(kNoDeviceText);
    }
}

void TUsbLink::AcquireWriteChannel() {
    std::unique_lock lock(writeMutex_);
    // Waiting writers are woken as soon as the channel is free, not on a 10 ms poll; after the
    // 10 s a writer goes on regardless, and the device file refuses a second write while the
    // first is still outstanding, so two writes never share one completion.
    writeFree_.wait_for(lock, std::chrono::milliseconds(kWriteChannelWaitMs),
                        [this] { return !writeBusy_; });
    writeBusy_ = true;
}

void TUsbLink::ReleaseWriteChannel() {
    {
        std::lock_guard lock(writeMutex_);
        writeBusy_ = false;
    }
    writeFree_.notify_one();
}

void TUsbLink::SendReport(const UsbReport& report) {
    std::shared_ptr<platform::DeviceFile> write;
    uint32_t length;
    {
        std::lock_guard lock(handlesMutex_);
        write = writeHandle_;
        length = ReportLength(deviceCaps_.OutputReportByteLength);
    }
    if (!write) return;

    AcquireWriteChannel();
    const platform::DeviceWait result = write->Write(report.data(), length, kWriteTimeoutMs);
    if (result == platform::DeviceWait::TimedOut && !write->Cancel()) {
        // The cancel failed: the handle is unusable. Reopen it (a beep says so) and try once
        // more on the new one, unless the link was closed or replaced meanwhile.
        ports_.desktop.Beep();
        std::shared_ptr<platform::DeviceFile> reopened;
        {
            std::lock_guard lock(handlesMutex_);
            if (writeHandle_ == write) {
                writeHandle_ = OpenHandle(devicePath_);
                reopened = writeHandle_;
            }
        }
        write->Interrupt();
        write = reopened;
    }
    if (result == platform::DeviceWait::TimedOut && write) {
        // A second failure drops the report; its write is cancelled so that the next report
        // finds the channel free rather than refused behind it.
        if (write->Write(report.data(), length, kRetryTimeoutMs) ==
            platform::DeviceWait::TimedOut) {
            write->Cancel();
        }
    }
    ReleaseWriteChannel();
}

bool TUsbLink::DeviceChange() {
    std::shared_ptr<platform::DeviceFile> write;
    uint32_t length;
    {
        std::lock_guard lock(handlesMutex_);
        write = writeHandle_;
        length = ReportLength(deviceCaps_.OutputReportByteLength);
    }
    if (write) {
        const UsbReport probe = ProbeReport();
        AcquireWriteChannel();
        const platform::DeviceWait result = write->Write(probe.data(), length, kProbeTimeoutMs);
        ReleaseWriteChannel();
        if (result != platform::DeviceWait::Done) {
            {
                std::lock_guard lock(handlesMutex_);
                if (writeHandle_ == write) writeHandle_.reset();
            }
            write->Interrupt();
        }
    }
    return !Connected();
}

void TUsbLink::Shutdown() {
    if (shutDown_) return;
    shutDown_ = true;
    thread_.Terminate();
    CloseHandles();  // also lets a writer or the reader go that is waiting on the device
    thread_.Resume();
    thread_.WaitFor();
}

void TUsbLink::UsbReceiveLoop(TUpdateUsbDeviceThread& thread) {
    // Resumed only to end (the link shut down before any opening, as when the window could not
    // be made): the client may already be gone, and there is nothing to start.
    if (thread.Terminated()) return;
    client_.ReceiveThreadStarted();
    UsbReport report{};
    while (!thread.Terminated()) {
        std::shared_ptr<platform::DeviceFile> read;
        uint32_t length;
        bool connected;
        {
            std::lock_guard lock(handlesMutex_);
            read = readHandle_;
            connected = writeHandle_ != nullptr;
            length = ReportLength(deviceCaps_.InputReportByteLength);
        }
        if (!connected || !read) {
            read.reset();
            thread.SuspendSelf();
            continue;
        }

        client_.BeginPass();
        const platform::DeviceWait result = read->Read(report.data(), length, kReadTimeoutMs);
        if (result != platform::DeviceWait::Done) {
            if (result == platform::DeviceWait::TimedOut) {
                read->Cancel();
                ports_.desktop.Beep();
            } else if (result == platform::DeviceWait::Failed) {
                // The device is gone: the read fails at once instead of timing out. Keep the
                // once-a-second pace (and beep) of a silent module until a device change.
                if (thread.WaitForTerminate(std::chrono::milliseconds(kReadTimeoutMs))) break;
                ports_.desktop.Beep();
            }
            report[1] = 0;  // the pass handles no report
        }
        const double hostSeconds = ports_.timers.Seconds();
        read.reset();
        if (thread.Terminated()) break;
        client_.DispatchReport(report, hostSeconds);
    }
}

}  // namespace usb
