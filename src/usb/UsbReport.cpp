#include "usb/UsbReport.h"

namespace usb {

namespace {

// A command report: command byte, parameters in bytes 2 and 3, and 0xFF in bytes 7 and 8,
// which every command the link sends carries.
UsbReport Command(uint8_t command, uint8_t byte2 = 0, uint8_t byte3 = 0) {
    UsbReport report{};
    report[1] = command;
    report[2] = byte2;
    report[3] = byte3;
    report[7] = 0xFF;
    report[8] = 0xFF;
    return report;
}

}  // namespace

std::array<UsbReport, 4> StartupSequence() {
    return {Command(0x07), Command(0x03, 19, 0), Command(0x01, 0, 0), Command(0x05, 2, 0)};
}

UsbReport ProbeReport() {
    return Command(0x08);
}

UsbReport GetMotorStatusReport() {
    return Command(0x04, 5);
}

UsbReport StackRequestReport(uint8_t kind) {
    return Command(0x04, 3, kind);
}

UsbReport ClearCommandListReport(uint8_t motor) {
    return Command(static_cast<uint8_t>((motor & 0x0F) << 4 | 0x07));
}

UsbReport DirectOutputReport(uint8_t phaseByte) {
    return Command(0x0A, phaseByte, 0xFF);
}

UsbReport ResetCancelReport() {
    UsbReport report{};
    report[1] = 0x03;
    report[2] = 19;
    return report;
}

UsbReport StartResetReport(uint8_t mask, const UsbReport& lastResetSegment) {
    UsbReport report{};
    report[1] = 0x09;
    report[2] = mask;
    for (size_t b = 3; b <= 6; ++b)
        report[b] = lastResetSegment[b];
    return report;
}

UsbReport SegmentReport(int motor, int64_t periodTicks, uint8_t directionBit, int stepCount,
                        int64_t delayTicks) {
    UsbReport report{};
    report[1] = static_cast<uint8_t>((motor & 0x0F) << 4);
    report[2] = static_cast<uint8_t>(periodTicks & 0xFF);
    report[3] = static_cast<uint8_t>((periodTicks >> 8 & 0x3F) | (directionBit & 0x40) |
                                     (stepCount > 0 ? 0x80 : 0));
    report[4] = static_cast<uint8_t>(stepCount);
    report[5] = static_cast<uint8_t>(delayTicks & 0xFF);
    report[6] = static_cast<uint8_t>(delayTicks >> 8 & 0xFF);
    return report;
}

}  // namespace usb
