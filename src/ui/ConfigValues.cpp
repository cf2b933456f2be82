#include "ui/ConfigValues.h"

#include <cstdio>

#include "motion/NumberFormat.h"
#include "motion/PortSetting.h"
#include "project/NumberText.h"

namespace ui {

namespace {

constexpr double kMaxFrequencyFallback = 1000.0;
// The control frequency's fallback is 20, not the 10 a fresh motor starts with.
constexpr double kControlFrequencyFallback = 20.0;
constexpr int32_t kAddressFallback = 888;

constexpr int16_t kPortLpt1 = 888;
constexpr int16_t kPortLpt2 = 632;
constexpr int16_t kPortLpt3 = 956;

double FrequencyFrom(const std::string& text, double fallback) {
    double value = fallback;
    return project::ParseReal(text, value) ? value : fallback;
}

}  // namespace

std::string FormatPortAddress(int16_t portSetting) {
    char text[16];
    std::snprintf(text, sizeof text, "%04X",
                  static_cast<unsigned>(static_cast<uint32_t>(static_cast<int32_t>(portSetting))));
    return text;
}

std::string FormatWholeNumber(double value) {
    return motion::FormatNumber(value, 0, motion::kAlwaysFixed);
}

PortChoice PortChoiceOf(int16_t portSetting) {
    switch (portSetting) {
        case motion::kUsbPortSetting:
            return PortChoice::kUSB;
        case motion::kUsbSlowPortSetting:
            return PortChoice::kUSBslow;
        case kPortLpt1:
            return PortChoice::kLPT1;
        case kPortLpt2:
            return PortChoice::kLPT2;
        case kPortLpt3:
            return PortChoice::kLPT3;
        default:
            return PortChoice::kAddress;
    }
}

ConfigTexts ConfigTextsFrom(const ConfigValues& values) {
    ConfigTexts texts;
    texts.Port = PortChoiceOf(values.PortSetting);
    texts.Address = FormatPortAddress(values.PortSetting);
    for (size_t m = 0; m < texts.Motors.size(); ++m) {
        const ConfigValues::Motor& motor = values.Motors[m];
        texts.Motors[m].MaxFrequency = FormatWholeNumber(motor.MaxFrequency);
        texts.Motors[m].ControlFrequency = FormatWholeNumber(motor.ControlFrequency);
        texts.Motors[m].Left = motor.ResetDirection == 1;
    }
    return texts;
}

ConfigValues ConfigValuesFrom(const ConfigTexts& texts) {
    ConfigValues values;
    switch (texts.Port) {
        case PortChoice::kUSB:
            values.PortSetting = motion::kUsbPortSetting;
            break;
        case PortChoice::kUSBslow:
            values.PortSetting = motion::kUsbSlowPortSetting;
            break;
        case PortChoice::kLPT1:
            values.PortSetting = kPortLpt1;
            break;
        case PortChoice::kLPT2:
            values.PortSetting = kPortLpt2;
            break;
        case PortChoice::kLPT3:
            values.PortSetting = kPortLpt3;
            break;
        case PortChoice::kAddress:
            values.PortSetting =
                project::PortSettingFrom(project::ParseHexPort(texts.Address, kAddressFallback));
            break;
    }
    for (size_t m = 0; m < texts.Motors.size(); ++m) {
        const ConfigTexts::Motor& motor = texts.Motors[m];
        values.Motors[m].MaxFrequency = FrequencyFrom(motor.MaxFrequency, kMaxFrequencyFallback);
        values.Motors[m].ControlFrequency =
            FrequencyFrom(motor.ControlFrequency, kControlFrequencyFallback);
        values.Motors[m].ResetDirection = motor.Left ? 1 : 2;
    }
    return values;
}

}  // namespace ui
