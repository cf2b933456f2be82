// VirtualModule: the USB motor controller module as the simulator plays it, free of any OS call.
//
// The caller owns time: every method takes the caller's clock in microseconds (monotonic, any
// origin), so tests drive the module exactly and the simulator passes its performance counter.
//
// What the module does so far:
// - Its timer counts 7812.5 ticks per second (one tick every 128 us) from the moment it is
//   powered up (plugged in), as a 48-bit number that wraps to 0.
// - ClockReport gives the clock report (type 4) that it sends on its own every few milliseconds:
//   bytes 2 to 7 the tick count, low byte first; byte 8 the free-place level of each motor.
// - Receive takes every output report the host wrote: each one is traced, whatever it holds. A
//   GetMotorStatus request (command 0x04, byte 2 = 5) is answered with a status report (type 5):
//   byte 2 the reset mask, byte 3 the four phases, bytes 4 to 7 the free places of motors 1 to 4.
//   The probe (0x08) and every other well-formed report are accepted and change nothing yet.
//   A report that is not 16 bytes long or does not carry report id 0 is traced and ignored, as
//   a HID device refuses it.
//
// The state that the command lists, segments, direct output and resets will work on (free
// places, phases, reset mask) lives here already, at its power-up values.
//
// Runs on the simulator's one I/O thread; not thread-safe.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace sim {

class ModuleTrace;

constexpr size_t kReportLength = 16;
using Report = std::array<uint8_t, kReportLength>;

class VirtualModule {
  public:
    static constexpr uint64_t kMicrosecondsPerTick = 128;  // 7812.5 ticks per second
    static constexpr uint64_t kClockMask = (uint64_t{1} << 48) - 1;
    static constexpr int kMotors = 4;
    static constexpr uint8_t kCommandListPlaces = 12;

    // Output report commands (byte 1) and input report types.
    static constexpr uint8_t kGetMotorStatus = 0x04;
    static constexpr uint8_t kStatusRequestKind = 5;  // byte 2 of a GetMotorStatus request
    static constexpr uint8_t kProbe = 0x08;
    static constexpr uint8_t kClockReportType = 4;
    static constexpr uint8_t kStatusReportType = 5;

    // trace: where received reports are written; null for none. Must outlive the module.
    explicit VirtualModule(ModuleTrace* trace = nullptr);

    // The module is plugged in at nowUs: it starts afresh, its clock at startTick (masked to 48
    // bits; tests start near the end of the range to see the wrap).
    void PowerUp(uint64_t nowUs, uint64_t startTick = 0);

    // The tick count at nowUs (48 bits). A time before the power-up counts as the power-up.
    uint64_t Ticks(uint64_t nowUs) const;

    // The clock report the module sends at nowUs.
    Report ClockReport(uint64_t nowUs) const;

    // One output report of length bytes as the host wrote it, received at nowUs. The input
    // reports it causes are appended to answers, in the order the module sends them.
    void Receive(const uint8_t* report, size_t length, uint64_t nowUs,
                 std::vector<Report>& answers);

    // Free-place level for the clock report: 3, 2, 1 or 0 stand for 12, 6, 3 or 0 free places;
    // the level never promises more places than there are.
    static uint8_t FreePlaceLevel(int freePlaces);

  private:
    Report StatusReport() const;

    ModuleTrace* trace_;
    uint64_t powerUpUs_ = 0;
    uint64_t startTick_ = 0;
    uint8_t resetMask_ = 0;  // bit m-1 set while motor m's reset is going on
    uint8_t phases_ = 0;     // 2 bits per motor, motor 1 in bits 0 and 1
    std::array<int, kMotors> freePlaces_{};
};

}  // namespace sim
