// The configuration dialog's texts and values: what an opening shows for given values, and what
// "Ok" takes back from what the operator left in the fields.
#include <gtest/gtest.h>

#include <string>

#include "ui/ConfigValues.h"

namespace ui {
namespace {

// The dialog opened on portSetting with the address radio button chosen and address typed.
ConfigValues TakeAddress(const std::string& address) {
    ConfigTexts texts = ConfigTextsFrom(ConfigValues{});
    texts.Port = PortChoice::kAddress;
    texts.Address = address;
    return ConfigValuesFrom(texts);
}

TEST(ConfigValuesTest, PortSettingOpensOnItsRadioButtonAndAddress) {
    struct Case {
        int16_t setting;
        PortChoice choice;
        const char* address;
    };
    const Case cases[] = {
        {0, PortChoice::kUSB, "0000"},          {1, PortChoice::kUSBslow, "0001"},
        {888, PortChoice::kLPT1, "0378"},       {632, PortChoice::kLPT2, "0278"},
        {956, PortChoice::kLPT3, "03BC"},       {0x2345, PortChoice::kAddress, "2345"},
        {-1, PortChoice::kAddress, "FFFFFFFF"}, {-32768, PortChoice::kAddress, "FFFF8000"},
        {0x7FFF, PortChoice::kAddress, "7FFF"}, {2, PortChoice::kAddress, "0002"},
    };
    for (const Case& c : cases) {
        ConfigValues values;
        values.PortSetting = c.setting;
        const ConfigTexts texts = ConfigTextsFrom(values);
        EXPECT_EQ(texts.Port, c.choice) << c.setting;
        EXPECT_EQ(texts.Address, c.address) << c.setting;
    }
}

TEST(ConfigValuesTest, TypedAddressGivesPortSetting) {
    struct Case {
        const char* typed;
        int16_t setting;
    };
    const Case cases[] = {
        {"3bc", 956},     {"3BC", 956},  {"0", 0},         {"1", 1},          {"", 0},
        {"37G", 888},     {"G", 888},    {" 378", 888},    {"12345", 0x2345}, {"FFFF", -1},
        {"8000", -32768}, {"0278", 632}, {"FFFFFFFF", -1},
    };
    for (const Case& c : cases)
        EXPECT_EQ(TakeAddress(c.typed).PortSetting, c.setting) << c.typed;
}

TEST(ConfigValuesTest, RadioButtonsGiveTheirPortSettingWhateverTheAddressField) {
    const std::pair<PortChoice, int16_t> cases[] = {
        {PortChoice::kUSB, 0},    {PortChoice::kUSBslow, 1}, {PortChoice::kLPT1, 888},
        {PortChoice::kLPT2, 632}, {PortChoice::kLPT3, 956},
    };
    for (const auto& [choice, setting] : cases) {
        ConfigTexts texts = ConfigTextsFrom(ConfigValues{});
        texts.Port = choice;
        texts.Address = "1234";
        EXPECT_EQ(ConfigValuesFrom(texts).PortSetting, setting);
    }
}

TEST(ConfigValuesTest, AddressRoundTripReopensOnTheSameChoice) {
    // "3bc" is LPT 3 on the next opening; "FFFF" comes back as FFFFFFFF on the address button.
    ConfigTexts lpt3 = ConfigTextsFrom(TakeAddress("3bc"));
    EXPECT_EQ(lpt3.Port, PortChoice::kLPT3);
    ConfigTexts negative = ConfigTextsFrom(TakeAddress("FFFF"));
    EXPECT_EQ(negative.Port, PortChoice::kAddress);
    EXPECT_EQ(negative.Address, "FFFFFFFF");
    // Confirming that reopened dialog unchanged keeps -1.
    EXPECT_EQ(ConfigValuesFrom(negative).PortSetting, -1);
}

TEST(ConfigValuesTest, FrequenciesShownWithoutDecimals) {
    const std::pair<double, const char*> cases[] = {
        {1234.4, "1234"}, {1234.6, "1235"}, {1000.0, "1000"}, {0.0, "0"},
        {10.0, "10"},     {0.4, "0"},       {-5.0, "-5"},     {1e6, "1000000"},
    };
    for (const auto& [value, shown] : cases)
        EXPECT_EQ(FormatWholeNumber(value), shown) << value;
    // Halfway: one consistent rule to the nearest whole number.
    const std::string half = FormatWholeNumber(1234.5);
    EXPECT_TRUE(half == "1234" || half == "1235") << half;
}

TEST(ConfigValuesTest, FrequencyTextsTakenWithFallbacks) {
    struct Case {
        const char* text;
        double max;      // taken from the "Maximum Frequency" field
        double control;  // taken from the "Control Frequency" field
    };
    const Case cases[] = {
        {"", 1000.0, 20.0},       {"abc", 1000.0, 20.0}, {"0", 0.0, 0.0},
        {"250", 250.0, 250.0},    {"12.5", 12.5, 12.5},  {"12,5", 1000.0, 20.0},
        {"1234", 1234.0, 1234.0},
    };
    for (const Case& c : cases) {
        ConfigTexts texts = ConfigTextsFrom(ConfigValues{});
        texts.Motors[1].MaxFrequency = c.text;
        texts.Motors[1].ControlFrequency = c.text;
        const ConfigValues values = ConfigValuesFrom(texts);
        EXPECT_EQ(values.Motors[1].MaxFrequency, c.max) << c.text;
        EXPECT_EQ(values.Motors[1].ControlFrequency, c.control) << c.text;
        // The other motors keep what they were shown with.
        EXPECT_EQ(values.Motors[0].MaxFrequency, 1000.0);
        EXPECT_EQ(values.Motors[0].ControlFrequency, 10.0);
    }
}

TEST(ConfigValuesTest, UnchangedDialogStoresTheShownWholeNumbers) {
    ConfigValues values;
    values.Motors[2].MaxFrequency = 1234.4;
    values.Motors[3].ControlFrequency = 7.6;
    const ConfigValues taken = ConfigValuesFrom(ConfigTextsFrom(values));
    EXPECT_EQ(taken.Motors[2].MaxFrequency, 1234.0);
    EXPECT_EQ(taken.Motors[3].ControlFrequency, 8.0);
}

TEST(ConfigValuesTest, ResetDirectionShownAsLeftOnlyForOne) {
    ConfigValues values;
    values.Motors[0].ResetDirection = 1;
    values.Motors[1].ResetDirection = 2;
    values.Motors[2].ResetDirection = 0;
    values.Motors[3].ResetDirection = 7;
    const ConfigTexts texts = ConfigTextsFrom(values);
    EXPECT_TRUE(texts.Motors[0].Left);
    EXPECT_FALSE(texts.Motors[1].Left);
    EXPECT_FALSE(texts.Motors[2].Left);
    EXPECT_FALSE(texts.Motors[3].Left);
    // Taken back: 1 for "Left", 2 for "Right" (so 0 and 7 become right).
    const ConfigValues taken = ConfigValuesFrom(texts);
    EXPECT_EQ(taken.Motors[0].ResetDirection, 1);
    EXPECT_EQ(taken.Motors[1].ResetDirection, 2);
    EXPECT_EQ(taken.Motors[2].ResetDirection, 2);
    EXPECT_EQ(taken.Motors[3].ResetDirection, 2);
}

}  // namespace
}  // namespace ui
