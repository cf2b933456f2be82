#include "sim/common/ControlCommand.h"

#include <array>
#include <cctype>
#include <string>
#include <utility>

namespace sim {

ControlCommand ParseControlCommand(std::string_view text) {
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
    return ControlCommand::Unknown;
}

}  // namespace sim
