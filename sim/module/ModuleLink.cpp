// The link's output pacing, per-handle input buffers and receive stall.
#include "sim/module/ModuleLink.h"

#include <algorithm>

namespace sim {

ModuleLink::ModuleLink(int handles, uint64_t reportPeriodUs)
    : periodUs_(reportPeriodUs), buffers_(static_cast<size_t>(std::max(handles, 1))) {}

uint64_t ModuleLink::Carry(uint64_t sendUs) {
    uint64_t taken = std::max(sendUs, freeUs_);
    if (taken >= sendHoldFromUs_ && taken < sendHoldUntilUs_) taken = sendHoldUntilUs_;
    freeUs_ = taken + periodUs_;
    return taken;
}

void ModuleLink::Open(int handle) {
    Buffer& b = buffers_[Index(handle)];
    b = Buffer{};
    b.open = true;
}

void ModuleLink::Close(int handle) {
    buffers_[Index(handle)] = Buffer{};
}

void ModuleLink::Post(const Report& report, uint64_t madeUs) {
    for (Buffer& b : buffers_) {
        if (!b.open) continue;
        if (b.unread.size() >= kInputBufferReports) {
            b.unread.pop_front();  // the oldest goes, as in the OS's input buffer
            ++b.dropped;
        }
        b.unread.push_back({report, madeUs});
    }
}

bool ModuleLink::Read(int handle, uint64_t nowUs, Report& report) {
    Buffer& b = buffers_[Index(handle)];
    if (!b.open || b.unread.empty() || ReceiveHeld(nowUs)) return false;
    if (b.unread.front().madeUs + latencyUs_ > nowUs) return false;
    report = b.unread.front().report;
    b.unread.pop_front();
    return true;
}

void ModuleLink::HoldSend(uint64_t fromUs, uint64_t forUs) {
    sendHoldFromUs_ = fromUs;
    sendHoldUntilUs_ = fromUs + forUs;
}

void ModuleLink::HoldReceive(uint64_t fromUs, uint64_t forUs) {
    holdFromUs_ = fromUs;
    holdUntilUs_ = fromUs + forUs;
}

}  // namespace sim
