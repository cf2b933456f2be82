// The one number-to-text helper: fixed point below a bound, the exponent form beyond it, named
// special values, and never a failed conversion.
#include "motion/NumberFormat.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <limits>
#include <string>

namespace motion {
namespace {

TEST(NumberFormatTest, FixedBelowTheBoundExponentFormBeyondIt) {
    constexpr double kMax = std::numeric_limits<double>::max();
    constexpr double kInf = std::numeric_limits<double>::infinity();
    struct Case {
        double value;
        int decimals;
        double fixedBelow;
        const char* text;
    };
    const Case cases[] = {
        {2.5, 3, kFixedBelow, "2.500"},
        {123.456, 2, kAlwaysFixed, "123.46"},
        {-0.004, 2, kAlwaysFixed, "-0.00"},
        {999999999999999.0, 0, kFixedBelow, "999999999999999"},
        {1e15, 0, kFixedBelow, "1e+15"},
        {1e62, 1, kFixedBelow, "1.0e+62"},
        {-1.5e300, 3, kFixedBelow, "-1.500e+300"},
        {1e-320, 1, 0, "1.0e-320"},
        {kInf, 2, kAlwaysFixed, "inf"},
        {-kInf, 2, kFixedBelow, "-inf"},
        {std::numeric_limits<double>::quiet_NaN(), 2, kFixedBelow, "nan"},
        {1.0, 99, kFixedBelow, "1.00000000000000000"},  // decimals clamped to 17
        {1.0, -5, kFixedBelow, "1"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(FormatNumber(c.value, c.decimals, c.fixedBelow), c.text) << c.value;

    // The longest fixed-point texts there are: 309 digits, two decimals, no garbage.
    const std::string longest = FormatNumber(-kMax, 17, kAlwaysFixed);
    EXPECT_EQ(longest.size(), 1u + 309u + 1u + 17u);
    EXPECT_TRUE(std::all_of(longest.begin() + 1, longest.end(),
                            [](char c) { return (c >= '0' && c <= '9') || c == '.'; }));
    std::string appended = "x=";
    AppendNumber(appended, kMax, 2, kAlwaysFixed);
    EXPECT_EQ(appended.size(), 2u + 309u + 3u);
}

}  // namespace
}  // namespace motion
