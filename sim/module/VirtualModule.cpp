// The module's reactions to the host's reports and the reports it sends on its own.
#include "sim/module/VirtualModule.h"

#include "sim/module/ModuleTrace.h"

namespace sim {

VirtualModule::VirtualModule(ModuleTrace* trace) : trace_(trace) {
    PowerUp(0);
}

void VirtualModule::PowerUp(uint64_t nowUs, uint64_t startTick) {
    powerUpUs_ = nowUs;
    startTick_ = startTick & kClockMask;
    resetMask_ = 0;
    phases_ = 0;
    freePlaces_.fill(kCommandListPlaces);
}

uint64_t VirtualModule::Ticks(uint64_t nowUs) const {
    const uint64_t elapsed = nowUs > powerUpUs_ ? nowUs - powerUpUs_ : 0;
    return (startTick_ + elapsed / kMicrosecondsPerTick) & kClockMask;
}

Report VirtualModule::ClockReport(uint64_t nowUs) const {
    Report report{};
    report[1] = kClockReportType;
    const uint64_t ticks = Ticks(nowUs);
    for (int i = 0; i < 6; ++i)
        report[2 + i] = static_cast<uint8_t>(ticks >> (8 * i));
    uint8_t levels = 0;
    for (int m = 0; m < kMotors; ++m)
        levels |= FreePlaceLevel(freePlaces_[m]) << (2 * m);
    report[8] = levels;
    return report;
}

void VirtualModule::Receive(const uint8_t* report, size_t length, uint64_t nowUs,
                            std::vector<Report>& answers) {
    if (trace_ != nullptr) trace_->Received(Ticks(nowUs), nowUs, report, length);
    if (length != kReportLength || report[0] != 0) return;

    switch (report[1]) {
        case kGetMotorStatus:
            if (report[2] == kStatusRequestKind) answers.push_back(StatusReport());
            break;
        case kProbe:  // accepted: the write completing is the whole answer
        default:
            break;
    }
}

uint8_t VirtualModule::FreePlaceLevel(int freePlaces) {
    if (freePlaces >= 12) return 3;
    if (freePlaces >= 6) return 2;
    if (freePlaces >= 3) return 1;
    return 0;
}

Report VirtualModule::StatusReport() const {
    Report report{};
    report[1] = kStatusReportType;
    report[2] = resetMask_;
    report[3] = phases_;
    for (int m = 0; m < kMotors; ++m)
        report[4 + m] = static_cast<uint8_t>(freePlaces_[m]);
    return report;
}

}  // namespace sim
