#include "project/ProjectReader.h"

#include <array>

#include "project/NumberText.h"

namespace project {

namespace {

// Every key needs at most five tokens; later tokens are never looked at, so a line of any
// length is cut into at most this many views into the text (never copied, never truncated).
constexpr size_t kMaxTokens = 8;

struct Tokens {
    std::array<std::string_view, kMaxTokens> token;
    size_t count = 0;
};

bool IsSeparator(char c) {
    return c == ' ' || c == '=';
}

void Tokenize(std::string_view line, Tokens& tokens) {
    tokens.count = 0;
    size_t i = 0;
    while (tokens.count < kMaxTokens) {
        while (i < line.size() && IsSeparator(line[i]))
            ++i;
        if (i == line.size()) break;
        const size_t start = i;
        while (i < line.size() && !IsSeparator(line[i]))
            ++i;
        tokens.token[tokens.count++] = line.substr(start, i - start);
    }
}

double RealOr(std::string_view text, double fallback) {
    double value = fallback;
    return ParseReal(text, value) ? value : fallback;
}

int32_t IntegerOr(std::string_view text, int32_t fallback) {
    int32_t value = fallback;
    return ParseDecimalInteger(text, value) ? value : fallback;
}

char FirstChar(std::string_view text) {
    return text.empty() ? '\0' : text[0];
}

class Reader {
  public:
    explicit Reader(ProjectTarget& project) : project_(project) {}

    void Line(std::string_view line) {
        Tokenize(line, tokens_);
        if (tokens_.count == 0) return;
        const std::string_view key = tokens_.token[0];
        const size_t n = tokens_.count;
        const auto& t = tokens_.token;

        if (key == "Steps") {
            if (n < 4) return;
            motion::TsmProgramStep step{};
            step.Steps = IntegerOr(t[1], 0);
            step.Frequency = RealOr(t[2], 1.0);
            step.RampTime = RealOr(t[3], 0.0);
            const char direction = n >= 5 ? FirstChar(t[4]) : '\0';
            step.Direction = direction == 'l'   ? motion::kDirLeft
                             : direction == 'r' ? motion::kDirRight
                                                : motion::kDirNone;
            project_.AppendStep(motor_, step);
        } else if (key == "normal_frequency") {
            if (n >= 2) project_.SetControlFrequency(motor_, RealOr(t[1], 10.0));
        } else if (key == "max_frequency") {
            if (n >= 2) project_.SetMaxFrequency(motor_, RealOr(t[1], 1000.0));
        } else if (key == "looping") {
            if (n >= 2) project_.SetLooping(motor_, IntegerOr(t[1], 0) != 0);
        } else if (key == "resetdirection") {
            if (n >= 2)
                project_.SetResetDirection(
                    motor_, FirstChar(t[1]) == 'l' ? motion::kDirLeft : motion::kDirRight);
        } else if (key == "Port") {
            if (n < 2) return;
            project_.SetPortSetting(PortSettingFrom(ParseHexPort(t[1], 888)));
            portRead_ = true;
        } else if (key.size() == 17 && key.substr(0, 15) == "[Motor_program_" && key[15] >= '1' &&
                   key[15] <= '4' && key[16] == ']') {
            motor_ = key[15] - '1';
        }
    }

    bool PortRead() const { return portRead_; }

  private:
    ProjectTarget& project_;
    bool portRead_ = false;
    int motor_ = 0;  // lines before the first header belong to motor 1
    Tokens tokens_;
};

}  // namespace

void ReadProjectText(std::string_view text, ProjectTarget& project, bool openOutput) {
    const size_t nul = text.find('\0');
    if (nul != std::string_view::npos) text = text.substr(0, nul);

    Reader reader(project);
    size_t start = 0;
    while (start < text.size()) {
        size_t end = start;
        while (end < text.size() && text[end] != '\r' && text[end] != '\n')
            ++end;
        reader.Line(text.substr(start, end - start));
        if (end < text.size() && text[end] == '\r' && end + 1 < text.size() &&
            text[end + 1] == '\n')
            ++end;
        start = end + 1;
    }

    // Once, for the setting the file ends with: a file of many "Port" lines neither reopens
    // the USB link nor asks for the port library again and again.
    if (reader.PortRead() && openOutput) project.OpenOutputPort();
    for (int motor = 0; motor < ProjectTarget::kMotorCount; ++motor) {
        project.SetLoopCheckBox(motor, project.Looping(motor));
        project.RenumberProgramList(motor);
    }
}

}  // namespace project
