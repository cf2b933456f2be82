#include "sim/common/ControlCommand.h"

#include <array>
#include <cctype>
#include <string>
#include <utility>

namespace sim {

ControlCommand ParseControlCommand(std::string_view text, uint64_t* argument) {
    auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == 0; };
    while (!text.empty() && blank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && blank(text.back()))
        text.remove_suffix(1);
    std::string word;
    for (char c : text)
        word += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));

    static const std::array<std::pair<const char*, ControlCommand>, 5> kWords = {{
        {"plug", ControlCommand::Plug},
        {"pull", ControlCommand::Pull},
        {"deaf", ControlCommand::Deaf},
        {"hear", ControlCommand::Hear},
        {"quit", ControlCommand::Quit},
    }};
    for (const auto& [name, command] : kWords) {
        if (word == name) return command;
    }
    // "stall" and a whole number of milliseconds, one blank between.
    const std::string stall = "stall ";
    if (word.size() > stall.size() && word.size() <= stall.size() + 5 &&
        word.compare(0, stall.size(), stall) == 0) {
        uint64_t ms = 0;
        for (size_t i = stall.size(); i < word.size(); ++i) {
            if (word[i] < '0' || word[i] > '9') return ControlCommand::Unknown;
            ms = ms * 10 + static_cast<uint64_t>(word[i] - '0');
        }
        if (ms < 1 || ms > 60000) return ControlCommand::Unknown;
        if (argument != nullptr) *argument = ms;
        return ControlCommand::Stall;
    }
    return ControlCommand::Unknown;
}

}  // namespace sim
