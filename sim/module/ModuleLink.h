// ModuleLink: the USB link between the host and the virtual module as a full-speed HID device
// gives it, free of any OS call, so that the tests' virtual time and q417-sim.exe's real time
// see the same link.
//
// Output side: an interrupt endpoint carries one output report per frame. Carry books the
// time at which the module takes a report the host writes: when it was written, or one report
// period after the report before it, whichever is later. A host that writes faster waits for
// each report, as WriteFile does. Period 1 ms by default, as on a full-speed link; 2 ms and 0
// (no limit) are options.
//
// Input side: every input report goes to every open handle, each its own copy, as HID gives
// each handle its own. A handle buffers up to 32 unread reports; when it is full the oldest is
// dropped for the newest, and no handle holds up another. A host that reads late gets what is
// buffered back to back, each report as it was made (a clock report keeps the tick it was made
// at).
//
// A stall: HoldReceive holds the host's receive side for a while from a chosen moment; no
// handle reads anything meanwhile, so reports pile up (and the oldest drop) as when the host's
// receive thread is blocked, and come as a burst when it ends. HoldSend holds the output side
// instead: a report written during the hold is taken only when it ends, as when the host's
// writing thread loses the processor between deciding to send and its write (a loaded host), or
// the bus is busy, so a report can reach the module well after the host planned it to. A read
// latency makes every input report readable only that long after it was made, as a loaded
// host's receive thread reads them: its estimate of the module's clock lags by as much.
//
// Handles are numbered 0 .. handles-1 by the caller. Times are the caller's microseconds.
// Runs on the caller's one thread; not thread-safe.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <vector>

#include "sim/module/VirtualModule.h"

namespace sim {

class ModuleLink {
  public:
    static constexpr size_t kInputBufferReports = 32;
    static constexpr uint64_t kDefaultReportPeriodUs = 1000;

    explicit ModuleLink(int handles, uint64_t reportPeriodUs = kDefaultReportPeriodUs);

    // Output side.
    void SetReportPeriodUs(uint64_t periodUs) { periodUs_ = periodUs; }
    uint64_t ReportPeriodUs() const { return periodUs_; }
    // The time at which an output report written at sendUs is taken; books the link until a
    // period after it.
    uint64_t Carry(uint64_t sendUs);
    // The earliest time the next output report can be taken.
    uint64_t FreeUs() const { return freeUs_; }
    // Output reports written from fromUs for forUs microseconds are taken when that ends.
    void HoldSend(uint64_t fromUs, uint64_t forUs);

    // Input side. An opened handle starts empty; a closed one gets nothing and its buffer goes.
    void Open(int handle);
    void Close(int handle);
    bool IsOpen(int handle) const { return buffers_[Index(handle)].open; }
    // A copy of report, made at madeUs, to every open handle.
    void Post(const Report& report, uint64_t madeUs = 0);
    // Every report can be read only latencyUs after it was made, as by a loaded host whose
    // receive thread gets the processor late (0, the default: at once).
    void SetReadLatencyUs(uint64_t latencyUs) { latencyUs_ = latencyUs; }
    // The handle's oldest unread report, unless none is buffered or the receive side is held
    // at nowUs.
    bool Read(int handle, uint64_t nowUs, Report& report);
    size_t Buffered(int handle) const { return buffers_[Index(handle)].unread.size(); }
    // Reports the handle lost to a full buffer since it was opened.
    uint64_t Dropped(int handle) const { return buffers_[Index(handle)].dropped; }

    // Holds the receive side from fromUs for forUs microseconds (a later hold replaces it).
    void HoldReceive(uint64_t fromUs, uint64_t forUs);
    bool ReceiveHeld(uint64_t nowUs) const { return nowUs >= holdFromUs_ && nowUs < holdUntilUs_; }
    // When the hold ends (0 when none was ever set).
    uint64_t HeldUntilUs() const { return holdUntilUs_; }

  private:
    struct Unread {
        Report report;
        uint64_t madeUs;
    };
    struct Buffer {
        bool open = false;
        std::deque<Unread> unread;
        uint64_t dropped = 0;
    };
    size_t Index(int handle) const { return static_cast<size_t>(handle); }

    uint64_t periodUs_;
    uint64_t freeUs_ = 0;
    std::vector<Buffer> buffers_;
    uint64_t holdFromUs_ = 0;
    uint64_t holdUntilUs_ = 0;
    uint64_t latencyUs_ = 0;
    uint64_t sendHoldFromUs_ = 0;
    uint64_t sendHoldUntilUs_ = 0;
};

}  // namespace sim
