#include "project/NumberText.h"

#include <charconv>
#include <system_error>

#include "motion/NumberFormat.h"

namespace project {

namespace {

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

// Skips a run of digits starting at i; returns how many there were.
size_t SkipDigits(std::string_view text, size_t& i) {
    const size_t start = i;
    while (i < text.size() && IsDigit(text[i]))
        ++i;
    return i - start;
}

}  // namespace

void AppendFixed2(std::string& out, double value) {
    // Fixed point for every value, however large: the file format has no exponent form.
    motion::AppendNumber(out, value, 2, motion::kAlwaysFixed);
}

std::string FormatFixed2(double value) {
    std::string text;
    AppendFixed2(text, value);
    return text;
}

std::string FormatHexPort(int16_t portSetting) {
    const uint32_t widened = static_cast<uint32_t>(static_cast<int32_t>(portSetting));
    char buffer[16];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, widened, 16);
    std::string text(buffer, result.ptr);
    for (char& c : text)
        if (c >= 'a' && c <= 'f') c = static_cast<char>(c - 'a' + 'A');
    return text;
}

bool ParseDecimalInteger(std::string_view text, int32_t& value) {
    // from_chars takes a '-' but no '+'; a '+' before a '-' must stay an error.
    if (!text.empty() && text[0] == '+') {
        text.remove_prefix(1);
        if (text.empty() || !IsDigit(text[0])) return false;
    }
    int32_t parsed = 0;
    const auto result = std::from_chars(text.data(), text.data() + text.size(), parsed, 10);
    if (result.ec != std::errc() || result.ptr != text.data() + text.size()) return false;
    value = parsed;
    return true;
}

bool ParseReal(std::string_view text, double& value) {
    // Checks the whole grammar first, so that from_chars only sees plain decimal texts (it
    // would also take "inf", "nan" and stop early on trailing garbage).
    size_t i = 0;
    const size_t numberStart = (!text.empty() && text[0] == '+') ? 1 : 0;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
    size_t digits = SkipDigits(text, i);
    if (i < text.size() && text[i] == '.') {
        ++i;
        digits += SkipDigits(text, i);
    }
    if (digits == 0) return false;
    if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
        ++i;
        if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
        if (SkipDigits(text, i) == 0) return false;
    }
    if (i != text.size()) return false;

    double parsed = 0;
    const char* first = text.data() + numberStart;
    const char* last = text.data() + text.size();
    const auto result = std::from_chars(first, last, parsed, std::chars_format::general);
    if (result.ec != std::errc() || result.ptr != last) return false;
    value = parsed;
    return true;
}

int32_t ParseHexPort(std::string_view text, int32_t fallback) {
    uint32_t value = 0;
    for (const char c : text) {
        uint32_t digit;
        if (c >= '0' && c <= '9') {
            digit = static_cast<uint32_t>(c - '0');
        } else if (c >= 'A' && c <= 'F') {
            digit = static_cast<uint32_t>(c - 'A' + 10);
        } else if (c >= 'a' && c <= 'f') {
            digit = static_cast<uint32_t>(c - 'a' + 10);
        } else {
            return fallback;
        }
        value = value * 16u + digit;  // unsigned: the bits above 32 are simply lost
    }
    return static_cast<int32_t>(value);
}

}  // namespace project
