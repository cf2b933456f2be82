// Device-file adapter with an in-memory device, for tests of the HID link.
//
// A VirtualDevice answers Open() for its one path and behaves like a HID device behind the
// overlapped Win32 calls: every open file gets its own copy of each input report (up to 32 queued
// per file, the oldest dropped beyond that, like the system's report buffer); output reports are
// captured in the order they were accepted. A test can stop the device reading (writes then time
// out and stay outstanding until cancelled or until it reads again), make cancels fail, make
// opens fail, and pull the device out (every file open at that moment fails from then on, even
// after it is plugged in again, as a handle on a removed device does). Every call is recorded.
//
// Waits: without a clock they are real, on a condition variable, ended early by whatever would
// complete the operation (a queued report, the device reading again, an unplug, Interrupt). With
// a clock (a VirtualTimerService) they take no real time: a wait that cannot be satisfied at
// once calls clock->Sleep(timeoutMs), which moves the virtual clock, and times out.
//
// All methods are thread-safe.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/DeviceFile.h"
#include "platform/TimerService.h"

namespace platform {

class VirtualDevice final : public DeviceFiles {
  public:
    using Report = std::vector<uint8_t>;

    // One recorded call on the device or one of its files.
    struct Call {
        enum class Kind { Open, Write, Read, Cancel, Interrupt, Close };
        Kind kind;
        int file;            // the file's number (1, 2, ... in order of opening); 0: failed open
        uint32_t timeoutMs;  // Write and Read
        DeviceWait result;   // Write and Read
        bool ok;             // Open (a file came back) and Cancel (its result)
        Report data;         // Write: the report
    };

    static constexpr size_t kInputQueueLimit = 32;

    explicit VirtualDevice(std::string path, TimerService* clock = nullptr);
    ~VirtualDevice() override;

    std::unique_ptr<DeviceFile> Open(const std::string& path) override;

    // Scripting.
    void QueueInput(Report report);  // to every file open now; dropped when none is open
    void StopReading();              // writes wait and time out
    void ResumeReading();            // accepts the writes left outstanding, then reads on
    void SetCancelFails(bool fails);
    void SetOpenFails(bool fails);
    void Unplug();  // opens fail; files open now fail every operation, outstanding ones at once
    void Plug();

    // Inspection.
    std::vector<Report> Outputs() const;  // every accepted output report, in order
    std::vector<Call> Calls() const;
    size_t OpenFiles() const;
    size_t DroppedInputs() const;  // reports that found no open file or a full queue
    size_t WaitingCalls() const;   // Write and Read calls waiting for the device right now
    // Waits (really) until at least count output reports have been accepted; false on time-out.
    bool WaitForOutputs(size_t count, std::chrono::milliseconds timeout) const;

  private:
    class File;
    struct State;
    std::shared_ptr<State> state_;
};

}  // namespace platform
