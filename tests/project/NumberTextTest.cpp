#include "project/NumberText.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <limits>

#include "ProjectTestSupport.h"

namespace project {
namespace {

TEST(ParseHexPort, DigitsWrapAndFallback) {
    struct Case {
        const char* text;
        int32_t expected;
    };
    const Case cases[] = {
        {"378", 888},
        {"3bc", 956},
        {"3BC", 956},
        {"aBcD", 0xABCD},
        {"", 0},                     // empty text: 0, not the fallback
        {"0x378", 888},              // 'x' is no hex digit
        {"USB", 888},                // 'U' is not either, though 'B' would be
        {"37G", 888},                // a bad character at the end spoils it all
        {" 378", 888},               // no blanks skipped
        {"-1", 888},                 // no sign
        {"FFFFFFFF", -1},            // the full 32 bits
        {"123456789", 0x23456789},   // the ninth digit pushes the first one out
        {"FFFFFFFFFFFFFFFF0", -16},  // and so on for any length
        {"FFFF8000", static_cast<int32_t>(0xFFFF8000u)},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ParseHexPort(c.text, 888), c.expected) << '"' << c.text << '"';
    EXPECT_EQ(ParseHexPort("zz", -7), -7);
}

TEST(ParseHexPort, CallersKeepTheLowSixteenBitsSigned) {
    struct Case {
        const char* text;
        int16_t expected;
    };
    const Case cases[] = {
        {"10378", 888},       {"12345", 0x2345}, {"FFFF", -1}, {"8000", -32768},
        {"FFFF8000", -32768}, {"0", 0},          {"1", 1},
    };
    for (const Case& c : cases)
        EXPECT_EQ(PortSettingFrom(ParseHexPort(c.text, 888)), c.expected) << c.text;
}

TEST(FormatHexPort, SignWidenedUpperCaseWithoutLeadingZeros) {
    struct Case {
        int16_t port;
        const char* expected;
    };
    const Case cases[] = {
        {888, "378"},         {956, "3BC"},     {632, "278"},     {0, "0"},        {1, "1"},
        {-32768, "FFFF8000"}, {-1, "FFFFFFFF"}, {0x7FFF, "7FFF"}, {0x0ABC, "ABC"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(FormatHexPort(c.port), c.expected);
        // and back again through the reader's conversion
        EXPECT_EQ(PortSettingFrom(ParseHexPort(c.expected, 888)), c.port);
    }
}

TEST(FormatFixed2, TwoDecimalsRoundedToTheNearestHundredth) {
    struct Case {
        double value;
        const char* expected;
    };
    const Case cases[] = {
        {10, "10.00"},
        {1000, "1000.00"},
        {0.5, "0.50"},
        {123.456, "123.46"},
        {0.004, "0.00"},
        {0.005001, "0.01"},
        {-1.5, "-1.50"},
        {-0.25, "-0.25"},
        {1234567.891, "1234567.89"},  // no thousands separator
        {1e20, "100000000000000000000.00"},
        {99.999, "100.00"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(FormatFixed2(c.value), c.expected) << c.value;
    // The largest double still fits: 309 digits, point and two decimals.
    EXPECT_EQ(FormatFixed2(std::numeric_limits<double>::max()).size(), 312u);
}

TEST(ParseReal, WholeTokenDecimalNumbersOnly) {
    struct Good {
        const char* text;
        double expected;
    };
    const Good good[] = {
        {"250.00", 250.0}, {"0.5", 0.5}, {"-1.25", -1.25}, {"+3", 3.0},
        {"7", 7.0},        {".5", 0.5},  {"5.", 5.0},      {"1e3", 1000.0},
        {"2.5E-1", 0.25},  {"-0", -0.0}, {"0.004", 0.004},
    };
    for (const Good& g : good) {
        double value = -99;
        EXPECT_TRUE(ParseReal(g.text, value)) << g.text;
        EXPECT_EQ(value, g.expected) << g.text;
    }
    for (const char* bad :
         {"",     "abc", "1,5", "1.2.3", "5-",       "12..5", "-",        ".",
          "+",    "+-1", "1e",  "1e+",   "e5",       "inf",   "nan",      "INF",
          "0x10", "1 ",  " 1",  "1\t",   "1,000.00", "1e400", "250.00Hz", "--1"}) {
        double value = -99;
        EXPECT_FALSE(ParseReal(bad, value)) << '"' << bad << '"';
        EXPECT_EQ(value, -99) << bad;
    }
}

TEST(ParseDecimalInteger, WholeTokenDecimalIntegersOnly) {
    struct Good {
        const char* text;
        int32_t expected;
    };
    const Good good[] = {{"400", 400},
                         {"-5", -5},
                         {"+5", 5},
                         {"2147483647", 2147483647},
                         {"-2147483648", -2147483647 - 1},
                         {"007", 7}};
    for (const Good& g : good) {
        int32_t value = -99;
        EXPECT_TRUE(ParseDecimalInteger(g.text, value)) << g.text;
        EXPECT_EQ(value, g.expected) << g.text;
    }
    for (const char* bad : {"", "abc", "1.0", "1e3", "0x10", "$10", "2147483648", "-2147483649",
                            "+", "-", "+-1", " 1", "1 ", "12a"}) {
        int32_t value = -99;
        EXPECT_FALSE(ParseDecimalInteger(bad, value)) << '"' << bad << '"';
        EXPECT_EQ(value, -99) << bad;
    }
}

TEST(NumberText, DecimalCommaLocaleChangesNothing) {
    test::CommaDecimalLocale locale;
    if (!locale.Switched())
        GTEST_SKIP() << "no locale with a decimal comma installed (Debian: locales-all)";
    // The C library now writes a comma: the check that the switch took effect.
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%.2f", 2.5);
    ASSERT_STREQ(buffer, "2,50");

    EXPECT_EQ(FormatFixed2(10.0), "10.00");
    EXPECT_EQ(FormatFixed2(1234.5), "1234.50");
    double value = 0;
    EXPECT_TRUE(ParseReal("250.00", value));
    EXPECT_EQ(value, 250.0);
    EXPECT_FALSE(ParseReal("250,00", value));
    EXPECT_EQ(value, 250.0);
}

}  // namespace
}  // namespace project
