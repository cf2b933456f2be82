// TParallelPort: the parallel-port drive. It binds the outside port library "inpout32.dll" at
// run time, writes the output byte packed from the four motors' phase codes to the port's data
// register, and reads the status register whose four lines are the motors' reset switches.
//
// Promises:
// - The library is loaded at the first selection of a parallel port and stays loaded while
//   parallel-port addresses follow one another; only that first binding writes 0 to the status
//   (base + 1) and control (base + 2) registers. A library that loads but lacks "Inp32" or
//   "Out32" is freed and counts as not loaded. The message box shows at the first failed binding
//   of each selection of the port setting (NewSelection); further attempts of the same selection
//   (every device change reopens the output) load again silently, and no second box ever shows
//   while one is up.
// - Selecting a port writes no data byte: the lines change only with steps.
// - Without a binding nothing is written or read; steps go on regardless.
//
// Threads: Open and Release run on the window's thread; WriteOutput on whichever thread took
// the step (a timer thread, or the window's thread for jog presses and the reset drive);
// ReadStatus on the window's thread (the reset drive). One lock guards the binding and is held
// across every call into the library, so a release waits for a write in progress and no call
// ever goes through a freed entry point. The lock is never held while the library is loaded or
// while the message box is up (a modal box keeps handling window messages, which may stop a
// motor and wait for its timer thread, which may be waiting to write).
#pragma once

#include <array>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>

#include "motion/PortSetting.h"
#include "motion/StepperMotor.h"
#include "platform/CallingConvention.h"
#include "platform/Desktop.h"
#include "platform/LibraryLoader.h"

namespace motion {

class TParallelPort {
  public:
    // The library's two exports: read the byte at a 16-bit port address, and write the low byte
    // of value there.
    using Inp32Function = int16_t(Q417_STDCALL*)(int16_t address);
    using Out32Function = void(Q417_STDCALL*)(int16_t address, int16_t value);

    static constexpr const char* kLibraryName = "inpout32.dll";
    static constexpr const char* kLoadFailedText =
        "Could not load inpout32.dll. This Application won't be able to access the parallel port";
    static constexpr const char* kLoadFailedCaption = "Error";

    // The standard port addresses, which the status label names.
    static constexpr int16_t kLpt1 = 888;  // 0x378
    static constexpr int16_t kLpt2 = 632;  // 0x278
    static constexpr int16_t kLpt3 = 956;  // 0x3BC

    // Status register bit that reads 1 when motor i (index 0 to 3) is at its reset position:
    // ACK (pin 10), PAPER END (pin 12), SELECT (pin 13), ERROR (pin 15). Other bits are ignored.
    static constexpr std::array<uint8_t, 4> kResetSwitchBits = {0x40, 0x20, 0x10, 0x08};

    TParallelPort(platform::LibraryLoader& loader, platform::Desktop& desktop);
    // Releases the library (the window's destruction), after the motors have been stopped.
    ~TParallelPort();
    TParallelPort(const TParallelPort&) = delete;
    TParallelPort& operator=(const TParallelPort&) = delete;

    // Port setting 0 is "USB", 1 is "USB (slow)"; every other value is a port's base address.
    static bool IsParallelPort(int16_t portSetting) {
        return portSetting != kUsbPortSetting && portSetting != kUsbSlowPortSetting;
    }
    // The port status label for a parallel-port address: "LPT1 (0378)", "LPT2 (0278)",
    // "LPT3 (03BC)", or "(" + the 16-bit address as four upper-case hex digits + ")".
    static std::string StatusLabel(int16_t address);
    // The output byte: motor 1's phase code in bits 0-1 up to motor 4's in bits 6-7.
    static uint8_t PackOutputByte(const std::array<uint8_t, 4>& phases);
    // True when status shows motor motorIndex (0 to 3) at its reset position.
    static bool AtResetPosition(uint8_t status, int32_t motorIndex);

    // The parallel-port half of opening the output: selects the port at address and binds the
    // library if it is not bound yet (failing that, shows the message box and goes on unbound).
    // Returns the status label. A USB port setting (0 or 1) only releases the library and
    // returns an empty label: the USB side writes its own. Window's thread.
    std::string Open(int16_t address);
    // The port setting was set (start-up, a project's "Port" line, the configuration dialog):
    // the next failed binding shows the box again, as it does after Open with another address.
    // Window's thread.
    void NewSelection();
    // Unloads the library if it is loaded (a USB mode was selected, or the window is closing).
    // Waits for a write in progress. Window's thread.
    void Release();

    // True while the library is bound: the output write and the status read reach the port.
    bool Bound() const;
    // The selected address (the last one Open was given).
    int16_t Address() const;

    // The output write after a step: packs the output byte from the four motors' current phase
    // codes (motor 1 first; a missing motor counts as code 0) and, when bound, writes
    // Out32(base, 0xFF00 | byte). Packing and writing happen under one lock, so when steps of
    // different motors race, the last byte written carries the latest code of every motor.
    // Returns the byte. Any thread.
    uint8_t WriteOutput(const std::array<const TStepperMotor*, 4>& motors);

    // The status read of the reset drive: Inp32(base + 1), low byte; empty when not bound.
    // Window's thread.
    std::optional<uint8_t> ReadStatus();

  private:
    void Bind(int16_t address);

    platform::LibraryLoader& loader_;
    platform::Desktop& desktop_;
    // Window's thread only: the box was shown for this selection; the box is up right now.
    bool failureShown_ = false;
    bool boxUp_ = false;

    mutable std::mutex mutex_;  // guards everything below
    int16_t address_ = 0;
    platform::LibraryHandle library_ = nullptr;
    Inp32Function inp32_ = nullptr;
    Out32Function out32_ = nullptr;
};

}  // namespace motion
