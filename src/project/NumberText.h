// The number texts of project files and program lists, in both directions, independent of the
// process locale: a German Windows (decimal comma) still writes "10.00" and reads "250.00".
// Built on std::to_chars / std::from_chars, which never look at the locale.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace project {

// Appends value as fixed point with exactly two decimals, '.' as decimal point, no thousands
// separators, '-' for negatives, rounded to the nearest hundredth ("%f" of the file format):
// 10 -> "10.00", 0.5 -> "0.50", 123.456 -> "123.46".
void AppendFixed2(std::string& out, double value);
std::string FormatFixed2(double value);

// The port setting as the file writes it: the 16-bit setting widened with its sign to 32 bits,
// in upper-case hexadecimal without prefix or leading zeros (888 -> "378", -32768 ->
// "FFFF8000", 0 -> "0").
std::string FormatHexPort(int16_t portSetting);

// A decimal integer making up the whole text: an optional sign and digits. False (value
// untouched) for anything else, including a value outside the 32-bit range.
bool ParseDecimalInteger(std::string_view text, int32_t& value);

// A real number making up the whole text, '.' as decimal point: an optional sign, digits with
// an optional fraction (".5" and "5." included) and an optional exponent ("1e3"). False (value
// untouched) for anything else: thousands separators, a decimal comma, "inf", "nan", hex,
// values beyond the range of a double.
bool ParseReal(std::string_view text, double& value);

// Hexadecimal digits (0-9, A-F, a-f) to a 32-bit value, each digit shifting the value left by
// four bits (bits above 32 are lost). The empty text gives 0; any other character anywhere
// makes the result fallback, whatever came before it.
int32_t ParseHexPort(std::string_view text, int32_t fallback);

// The port setting kept from a ParseHexPort result: its low 16 bits, read as signed
// (0x8000 and above come out negative).
inline int16_t PortSettingFrom(int32_t value) {
    return static_cast<int16_t>(static_cast<uint16_t>(static_cast<uint32_t>(value) & 0xFFFFu));
}

}  // namespace project
