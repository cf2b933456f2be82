// The 16-byte reports exchanged with the USB motor controller module, and the output reports
// the link itself sends: the start-up sequence, the probe and the GetMotorStatus request.
// Byte 0 is the report id (always 0), byte 1 the command (output) or report type (input);
// every byte a command does not list is 0.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace usb {

constexpr size_t kReportSize = 16;
using UsbReport = std::array<uint8_t, kReportSize>;

// Input report types.
constexpr uint8_t kClockReport = 4;
constexpr uint8_t kStatusReport = 5;

// The four reports sent right after the link is opened, in this order: ClearCommandList for all
// motors (0x07), command 3 with 19 and 0, command 1 with 0 and 0, command 5 with 2.
std::array<UsbReport, 4> StartupSequence();
// Sent on a device change to see whether the module is still there.
UsbReport ProbeReport();
// Asks the module for a status report.
UsbReport GetMotorStatusReport();

}  // namespace usb
