// Test support: the 16-byte HID reports of the module's link written out byte by byte, as the
// module firmware, the simulator's transport and the protocol tests state them. Byte 0 is the
// report id (0), byte 1 the command or report type.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <initializer_list>

namespace testsupport {

using Report = std::array<uint8_t, 16>;

// A report that starts with head; every other byte is 0.
inline Report Bytes(std::initializer_list<uint8_t> head) {
    Report report{};
    size_t i = 0;
    for (uint8_t b : head)
        report[i++] = b;
    return report;
}

// The host's requests as the module receives them.
inline const Report kGetMotorStatus = Bytes({0, 0x04, 5, 0, 0, 0, 0, 0xFF, 0xFF});
inline const Report kProbe = Bytes({0, 0x08, 0, 0, 0, 0, 0, 0xFF, 0xFF});

// The module's 48-bit tick count in a clock report: bytes 2 to 7, lowest first.
inline uint64_t ClockTicks(const Report& report) {
    uint64_t ticks = 0;
    for (int i = 5; i >= 0; --i)
        ticks = (ticks << 8) | report[2 + i];
    return ticks;
}

}  // namespace testsupport
