// VirtualParallelPort: a PC parallel port with four stepper motors on its data lines and their
// reference switches on its status lines, free of any OS call.
//
// Data register. Each motor hangs on two data lines (motor 1 on bits 0-1 up to motor 4 on bits
// 6-7) and follows the 2-bit code they carry. A change of one place along the Gray code
// 0→1→3→2→0 is one step right (position +1), one place back (0→2→3→1→0) one step left
// (position -1), the sense of the program's "right" and of the virtual module. A jump of two
// places (0↔3, 1↔2) cannot be told from a step either way: it is counted as a fault of that
// motor and leaves its position alone; the motor holds the new code from then on.
//
// Which address is the data register. The program writes its data to the base address it was
// set to, always with 0xFF in the high byte, and when it binds the port library it writes 0 once
// to base + 1 (status) and base + 2 (control). So:
// - a write to the base, or one whose 16-bit value is not 0, is a data write and makes its
//   address the base (any base is accepted, and a new one replaces the old);
// - a write of 0 to another address is a register write: the motors do not move. While no base
//   is known, the first such write is taken to be the status register's, so the base is
//   assumed one below it (what the binding does) until a data write names the base;
// - a write to base + 1 or base + 2 of a base named by a data write is a register write, whatever
//   its value.
//
// Reads (what Inp32 answers):
// - base + 1, the status register: the switch bits, motor 1 0x40, motor 2 0x20, motor 3 0x10,
//   motor 4 0x08; every other bit reads 0, so a test can compare the whole byte;
// - base: the last data byte (a data register reads back what it holds);
// - base + 2: the last byte written there (0 after the binding);
// - any other address, or any address while no base is known: 0xFF, as a bus with nothing on
//   it reads.
//
// Switches. Per motor a position and a side. A switch on the left is closed while the motor's
// position is at its position or below it, one on the right at its position or above: so a
// reset driving towards it always ends, and a motor that overshoots keeps it closed.
// Default: every switch at 200 on the right, where the program's default reset direction (right)
// reaches it from 0.
//
// Time is the caller's (microseconds, only written into the trace). Every data and register
// write, step and fault goes into the trace when one is given. Not thread-safe: the caller
// serialises every call.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "sim/parport/PortTrace.h"

namespace sim {

struct ReferenceSwitch {
    enum class Side { Left, Right };
    int32_t position = 200;
    Side side = Side::Right;

    bool operator==(const ReferenceSwitch&) const = default;
    // Closed at its position and beyond it on its side.
    bool ClosedAt(int32_t motorPosition) const {
        return side == Side::Left ? motorPosition <= position : motorPosition >= position;
    }
};

class VirtualParallelPort {
  public:
    static constexpr int kMotors = 4;
    static constexpr std::array<uint8_t, kMotors> kSwitchBits = {0x40, 0x20, 0x10, 0x08};
    static constexpr uint8_t kNothing = 0xFF;  // what an address without a register reads

    // trace may be nullptr (no trace); else it must outlive the port.
    explicit VirtualParallelPort(PortTrace* trace = nullptr) : trace_(trace) {}

    void SetSwitches(const std::array<ReferenceSwitch, kMotors>& switches) { switches_ = switches; }
    const std::array<ReferenceSwitch, kMotors>& Switches() const { return switches_; }

    // Out32(address, value) at nowUs: the port takes the low byte.
    void Write(uint16_t address, uint16_t value, uint64_t nowUs);
    // Inp32(address): the byte the port answers.
    uint8_t Read(uint16_t address) const;

    // The status register's switch bits as they stand.
    uint8_t Status() const;

    // Motor 1 to 4; other numbers give 0.
    int32_t Position(int motor) const;
    int Phase(int motor) const;
    uint32_t Faults(int motor) const;
    // The data register's address, once a data write has named it.
    std::optional<uint16_t> Base() const;

    // What survives the library being unloaded and loaded again in the same process (the
    // program unloads it whenever a USB mode is selected): base, registers and every motor's
    // code, position and fault count, as one line of numbers. The switches are not part of it:
    // they come from the settings, read at every load.
    std::string SaveState() const;
    // Takes a state that SaveState gave; false (and nothing changed) for anything else.
    bool RestoreState(std::string_view state);

  private:
    struct Motor {
        int phase = 0;
        int32_t position = 0;
        uint32_t faults = 0;
    };

    void DataWrite(uint16_t address, uint8_t byte, uint64_t nowUs);
    bool IsRegisterOfBase(uint16_t address) const;

    PortTrace* trace_;
    std::array<ReferenceSwitch, kMotors> switches_{};
    std::array<Motor, kMotors> motors_{};
    uint16_t base_ = 0;
    bool baseNamed_ = false;    // a data write has named the base
    bool baseAssumed_ = false;  // assumed from the binding's status register write
    uint8_t data_ = 0;
    uint8_t control_ = 0;
};

}  // namespace sim
