// Helpers shared by the project tests: reading text into a fresh model, and comparing models.
#pragma once

#include <clocale>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "project/ProjectModel.h"
#include "project/ProjectReader.h"

namespace project::test {

inline std::vector<motion::TsmProgramStep> StepsOf(const ProjectModel& model, int motor) {
    std::vector<motion::TsmProgramStep> steps;
    model.GetProgram(motor, steps);
    return steps;
}

// Splits text at CR LF; the text must end with one.
inline std::vector<std::string> CrLfLines(std::string_view text) {
    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t end; (end = text.find("\r\n", start)) != std::string_view::npos; start = end + 2)
        lines.emplace_back(text.substr(start, end - start));
    if (start != text.size()) lines.emplace_back("<no CR LF at the end>");
    return lines;
}

}  // namespace project::test

namespace motion {
// For the test messages; the comparison is the step's own.
inline std::ostream& operator<<(std::ostream& out, const TsmProgramStep& s) {
    return out << "{" << s.Steps << ", " << s.Frequency << " Hz, " << s.RampTime << " s, dir "
               << int(s.Direction) << "}";
}
}  // namespace motion

namespace project::test {

// Switches the C locale to one that writes a decimal comma for as long as it lives, and back.
// Switched() is false when the system has no such locale.
class CommaDecimalLocale {
  public:
    CommaDecimalLocale() {
        const char* current = std::setlocale(LC_ALL, nullptr);
        saved_ = current != nullptr ? current : "C";
        for (const char* name : {"de_DE.UTF-8", "de_DE.utf8", "de_DE", "German_Germany.1252",
                                 "German", "de-DE", "fr_FR.UTF-8", "nl_NL.UTF-8"}) {
            if (std::setlocale(LC_ALL, name) != nullptr &&
                std::localeconv()->decimal_point[0] == ',') {
                switched_ = true;
                return;
            }
        }
        std::setlocale(LC_ALL, saved_.c_str());
    }
    ~CommaDecimalLocale() { std::setlocale(LC_ALL, saved_.c_str()); }
    CommaDecimalLocale(const CommaDecimalLocale&) = delete;
    CommaDecimalLocale& operator=(const CommaDecimalLocale&) = delete;

    bool Switched() const { return switched_; }

  private:
    std::string saved_;
    bool switched_ = false;
};

}  // namespace project::test
