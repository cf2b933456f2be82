// The values the configuration dialog edits and their texts in the dialog, in both directions.
// Portable (no Windows header), so the conversions are tested natively; TsConfigDlg only moves
// these texts in and out of its controls.
//
// Promises: reading the texts back never refuses input. A frequency that is not a number becomes
// 1000 (maximum) or 20 (control); an address that is not hexadecimal becomes 888; only the low
// 16 bits of an address are kept. Number texts ignore the process locale.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "motion/PortSetting.h"

namespace ui {

constexpr int kConfigMotorCount = 4;

// What the dialog shows and gives back: the window's port setting and each motor's settings.
struct ConfigValues {
    struct Motor {
        double MaxFrequency = 1000.0;
        double ControlFrequency = 10.0;
        uint8_t ResetDirection = 2;  // 1 = left, anything else shown as right
    };
    int16_t PortSetting = motion::kUsbPortSetting;
    std::array<Motor, kConfigMotorCount> Motors{};
};

// The six port radio buttons: "USB", "USB (slow)", "LPT 1", "LPT 2", "LPT 3" and the
// caption-less one that goes with the address field.
enum class PortChoice { kUSB, kUSBslow, kLPT1, kLPT2, kLPT3, kAddress };

// The dialog's contents as texts and check marks.
struct ConfigTexts {
    struct Motor {
        std::string MaxFrequency;
        std::string ControlFrequency;
        bool Left = false;  // "Left" checked; otherwise "Right"
    };
    PortChoice Port = PortChoice::kUSB;
    std::string Address = "0";
    std::array<Motor, kConfigMotorCount> Motors{};
};

// The port setting read as signed, in upper-case hexadecimal with at least four digits:
// 888 -> "0378", -1 -> "FFFFFFFF" (a negative value widens to 32 bits).
std::string FormatPortAddress(int16_t portSetting);

// A frequency with no decimal places, '.'-free and locale-free; 1234.4 -> "1234". Halfway
// values go to the even neighbour (1234.5 -> "1234", 1235.5 -> "1236").
std::string FormatWholeNumber(double value);

// The radio button that shows a port setting.
PortChoice PortChoiceOf(int16_t portSetting);

// The texts the dialog opens with.
ConfigTexts ConfigTextsFrom(const ConfigValues& values);

// The values taken on "Ok".
ConfigValues ConfigValuesFrom(const ConfigTexts& texts);

}  // namespace ui
