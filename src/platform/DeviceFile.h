// The device-file port: a device path opened for overlapped reading and writing, with waits that
// time out. The HID link (usb/) is written against this interface only.
//
// The Win32 adapter maps it onto CreateFileA with FILE_FLAG_OVERLAPPED, ReadFile and WriteFile
// with an OVERLAPPED record and its manual-reset event (CreateEventA, ResetEvent),
// WaitForSingleObject, GetOverlappedResult, CancelIo and CloseHandle; Interrupt() onto CancelIoEx,
// which ends a wait for real instead of signalling the event while the system still owns the
// operation. The virtual adapter is an in-memory device for tests. Both keep these promises:
//
// - An operation that outlives its wait (TimedOut) stays outstanding on the file, with its own
//   copy of the data and its own OVERLAPPED record, until Cancel() ends it or it completes. The
//   caller's buffer is free as soon as the call returns.
// - One write and one read at most are outstanding on a file: a Write while an earlier write is
//   still outstanding, or while another thread is inside Write, is refused (Failed) and nothing
//   is written; the same holds for Read.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace platform {

// How a write or read ended.
enum class DeviceWait : uint8_t {
    Done,         // completed successfully within the time-out
    TimedOut,     // not completed within the time-out; still outstanding until Cancel()
    Failed,       // refused, or ended with an error (device gone); nothing outstanding
    Interrupted,  // Interrupt() was called; the operation was cancelled
};

// One open handle on a device path. Methods run on the calling thread and return only when their
// wait is over. Destroying the object closes the handle (CloseHandle): the owner does it when no
// other thread is inside a method of this object or can still call Interrupt().
class DeviceFile {
  public:
    virtual ~DeviceFile() = default;

    // Writes length bytes of report and waits up to timeoutMs for the write to complete, then
    // resets the completion event. Called by one writer at a time (the link's write channel);
    // a second caller meanwhile gets Failed.
    virtual DeviceWait Write(const uint8_t* report, uint32_t length, uint32_t timeoutMs) = 0;

    // Reads one report of up to length bytes into buffer and waits up to timeoutMs for it, then
    // resets the completion event. Done: buffer holds the report, zero-filled after a shorter
    // one. Other results leave buffer untouched. Called by the one reading thread. Failed comes
    // back at once while the device is gone, so a caller must not retry it in a tight loop.
    virtual DeviceWait Read(uint8_t* buffer, uint32_t length, uint32_t timeoutMs) = 0;

    // Cancels the operations that the calling thread left outstanding on this file (CancelIo) and
    // waits briefly until they have ended. True when none is left outstanding; false when the
    // cancel failed or did not take effect, and the file should then be closed and reopened.
    // Called by the thread whose Write or Read timed out.
    virtual bool Cancel() = 0;

    // Ends a wait in progress in Write or Read on another thread at once (that call cancels its
    // operation and returns Interrupted), and makes every later Write or Read return Interrupted
    // without doing anything. Any thread; used to let a blocked reader or writer go at shutdown.
    virtual void Interrupt() = 0;
};

// Opens device files.
class DeviceFiles {
  public:
    virtual ~DeviceFiles() = default;

    // Opens path for overlapped reading and writing, shared for reading and writing, existing
    // files only. Returns null when the open fails (the handle counts as absent). Any thread.
    virtual std::unique_ptr<DeviceFile> Open(const std::string& path) = 0;
};

// The platform's real device files (Windows build only). Lives as long as the process.
DeviceFiles& SystemDeviceFiles();

}  // namespace platform
