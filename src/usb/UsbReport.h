// The 16-byte reports exchanged with the USB motor controller module, and every output report
// the program sends. Byte 0 is the report id (always 0), byte 1 the command (output) or report
// type (input); every byte a command does not list is 0.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace usb {

constexpr size_t kReportSize = 16;
using UsbReport = std::array<uint8_t, kReportSize>;

// What one segment can carry: a period of 14 bits, a count byte, and a delay of 1 to 16382
// ticks from the motor's previous segment.
constexpr int64_t kMaxPeriodTicks = 16383;
constexpr int kMaxSegmentSteps = 255;
constexpr int64_t kMaxDelayTicks = 16382;
// Places of each motor's command list in the module (a segment takes 2 or 3).
constexpr int kCommandListPlaces = 12;

// Input report types.
constexpr uint8_t kClockReport = 4;
constexpr uint8_t kStatusReport = 5;
// The module sends a clock report every 8 ms: 62.5 of its ticks, whole ticks 63 at most.
constexpr double kClockReportPeriodTicks = 63;

// Stack request kinds (byte 3): buttons "GetProgramStack" and "GetDataStack".
constexpr uint8_t kProgramStack = 5;
constexpr uint8_t kDataStack = 10;

// The four reports sent right after the link is opened, in this order: ClearCommandList for all
// motors (0x07), command 3 with 19 and 0, command 1 with 0 and 0, command 5 with 2.
std::array<UsbReport, 4> StartupSequence();
// Sent on a device change to see whether the module is still there.
UsbReport ProbeReport();
// Asks the module for a status report.
UsbReport GetMotorStatusReport();
// Asks for the program stack (kind 5) or the data stack (kind 10).
UsbReport StackRequestReport(uint8_t kind);
// Empties the command list of motor 1..4, or of all four for motor 0.
UsbReport ClearCommandListReport(uint8_t motor);
// Sets the four motors' phase codes at once (motor 1 in bits 0-1 ... motor 4 in bits 6-7).
UsbReport DirectOutputReport(uint8_t phaseByte);
// Stops a module reset in progress: command 3 with 19 and 0, nothing in bytes 7 and 8.
UsbReport ResetCancelReport();
// Starts the module's reset of the motors in mask (bit 0 = motor 1 ... bit 3 = motor 4). Bytes 3
// to 6 are those of lastResetSegment, the reset segment sent just before it (all 0 when none
// was sent); nothing in bytes 7 and 8.
UsbReport StartResetReport(uint8_t mask, const UsbReport& lastResetSegment);

// One timed segment of motor 1..4: periodTicks (bits 0 to 13 are sent) between the steps,
// direction bit 0x40 for left or 0 for right, stepCount 2..kMaxSegmentSteps for a counted segment
// or 0 for a single step, delayTicks (16 bits) from the previous segment of that motor.
UsbReport SegmentReport(int motor, int64_t periodTicks, uint8_t directionBit, int stepCount,
                        int64_t delayTicks);

}  // namespace usb
