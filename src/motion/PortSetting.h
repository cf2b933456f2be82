// The port setting: the one value that chooses how the motors are reached. It is kept in project
// files as it is, so these values are part of the file format.
#pragma once

#include <cstdint>

namespace motion {

// "USB": the module times the steps from its command lists.
constexpr int16_t kUsbPortSetting = 0;
// "USB (slow)": the host times the steps and sends each new output state to the module.
constexpr int16_t kUsbSlowPortSetting = 1;
// Any other value is a parallel port's base address.

}  // namespace motion
