// Test support: the window's four motors and the USB command protocol over them, as the
// protocol tests, the streaming rigs and the benchmarks set them up.
#pragma once

#include <array>
#include <memory>

#include "motion/StepperMotor.h"
#include "platform/TimerService.h"
#include "usb/UsbProtocol.h"

namespace testsupport {

using ProtocolMotorSet =
    std::array<std::unique_ptr<motion::TStepperMotor>, usb::TUsbProtocol::kMotorCount>;

// Motors 0 to 3, all timed by one timer service.
inline ProtocolMotorSet MakeMotors(platform::TimerService& timers) {
    ProtocolMotorSet motors;
    for (int i = 0; i < usb::TUsbProtocol::kMotorCount; ++i)
        motors[i] = std::make_unique<motion::TStepperMotor>(i, timers);
    return motors;
}

// The protocol over those motors. The motors must outlive it: declare the holder of the
// protocol after the motors' holder, so that it is destroyed first.
inline std::unique_ptr<usb::TUsbProtocol> MakeProtocol(const ProtocolMotorSet& motors,
                                                       usb::TUsbProtocol::Ports ports) {
    std::array<motion::TStepperMotor*, usb::TUsbProtocol::kMotorCount> pointers{};
    for (size_t i = 0; i < motors.size(); ++i)
        pointers[i] = motors[i].get();
    return std::make_unique<usb::TUsbProtocol>(ports, pointers);
}

}  // namespace testsupport
