#include "sim/parport/PortSettings.h"

#include <charconv>
#include <cstdint>

namespace sim {

namespace {

std::string_view Trim(std::string_view text) {
    const auto space = [](char c) {
        return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f';
    };
    while (!text.empty() && space(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && space(text.back()))
        text.remove_suffix(1);
    return text;
}

std::string Lower(std::string_view text) {
    std::string lower(text);
    for (char& c : lower)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return lower;
}

// Printable quote of what the file held, cut short so a long line does not flood the trace.
std::string Quote(std::string_view text) {
    constexpr size_t kLongest = 40;
    std::string quoted = "\"";
    for (char c : text.substr(0, kLongest))
        quoted += static_cast<unsigned char>(c) < 0x20 ? '?' : c;
    if (text.size() > kLongest) quoted += "...";
    return quoted + "\"";
}

}  // namespace

PortSettings::Result PortSettings::Parse(std::string_view text) {
    Result result;
    constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";
    if (text.substr(0, kByteOrderMark.size()) == kByteOrderMark)
        text.remove_prefix(kByteOrderMark.size());

    // Which line set each key, to tell a key set twice.
    std::array<int, VirtualParallelPort::kMotors> switchLine{}, sideLine{};
    int number = 0;
    while (!text.empty()) {
        ++number;
        const size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);

        line = Trim(line.substr(0, line.find('#')));
        if (line.empty()) continue;
        auto problem = [&result, number](std::string what) {
            result.problems.push_back({number, std::move(what)});
        };
        const size_t equals = line.find('=');
        if (equals == std::string_view::npos) {
            problem("expected \"key = value\", found " + Quote(line));
            continue;
        }
        const std::string key = Lower(Trim(line.substr(0, equals)));
        const std::string_view value = Trim(line.substr(equals + 1));

        // "motor<N>.switch" or "motor<N>.side", N from 1 to 4.
        constexpr std::string_view kPrefix = "motor";
        const bool motorKey = key.size() > kPrefix.size() + 2 && key.starts_with(kPrefix) &&
                              key[kPrefix.size()] >= '1' && key[kPrefix.size()] <= '4' &&
                              key[kPrefix.size() + 1] == '.';
        const std::string_view field =
            motorKey ? std::string_view(key).substr(kPrefix.size() + 2) : std::string_view();
        if (!motorKey || (field != "switch" && field != "side")) {
            problem("unknown key " + Quote(key) +
                    " (known: motor1.switch to motor4.switch and motor1.side to motor4.side)");
            continue;
        }
        const auto motor = static_cast<size_t>(key[kPrefix.size()] - '1');
        ReferenceSwitch& target = result.switches[motor];
        int& setBy = field == "switch" ? switchLine[motor] : sideLine[motor];

        if (field == "switch") {
            int32_t position = 0;
            const auto [ptr, error] =
                std::from_chars(value.data(), value.data() + value.size(), position);
            if (value.empty() || error != std::errc() || ptr != value.data() + value.size()) {
                problem(key +
                        " needs a whole number of steps from -2147483648 to 2147483647, found " +
                        Quote(value));
                continue;
            }
            target.position = position;
        } else {
            const std::string side = Lower(value);
            if (side != "left" && side != "right") {
                problem(key + " must be left or right, found " + Quote(value));
                continue;
            }
            target.side =
                side == "left" ? ReferenceSwitch::Side::Left : ReferenceSwitch::Side::Right;
        }
        if (setBy != 0)
            problem(key + " was already set on line " + std::to_string(setBy) +
                    "; this later value is used");
        setBy = number;
    }
    return result;
}

std::string PortSettings::Describe(const Problem& problem, std::string_view file) {
    std::string text(file);
    if (problem.line > 0) text += " line " + std::to_string(problem.line);
    return text + ": " + problem.what;
}

}  // namespace sim
