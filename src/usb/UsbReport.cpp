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

}  // namespace usb
