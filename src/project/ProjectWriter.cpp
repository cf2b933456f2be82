#include "project/ProjectWriter.h"

#include <charconv>
#include <vector>

#include "project/NumberText.h"

namespace project {

namespace {

constexpr const char* kLineEnd = "\r\n";

const char* DirectionWord(uint8_t direction) {
    switch (direction) {
        case motion::kDirRight:
            return "right";
        case motion::kDirLeft:
            return "left";
        default:
            return "none";
    }
}

void AppendInteger(std::string& out, int32_t value) {
    char buffer[16];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    out.append(buffer, result.ptr);
}

}  // namespace

std::string WriteProjectText(const ProjectTarget& project) {
    std::vector<motion::TsmProgramStep> steps;
    std::string text;
    text.reserve(256);
    text += "Port = ";
    text += FormatHexPort(project.PortSetting());
    text += kLineEnd;
    for (int motor = 0; motor < ProjectTarget::kMotorCount; ++motor) {
        project.GetProgram(motor, steps);
        // A step line is about 30 characters; reserving avoids regrowing a large text.
        text.reserve(text.size() + 160 + steps.size() * 40);

        text += "[Motor_program_";
        AppendInteger(text, motor + 1);
        text += ']';
        text += kLineEnd;
        text += "normal_frequency = ";
        AppendFixed2(text, project.ControlFrequency(motor));
        text += kLineEnd;
        text += "max_frequency = ";
        AppendFixed2(text, project.MaxFrequency(motor));
        text += kLineEnd;
        text += project.ResetDirection(motor) == motion::kDirLeft ? "resetdirection = left"
                                                                  : "resetdirection = right";
        text += kLineEnd;
        text += project.Looping(motor) ? "looping = 1" : "looping = 0";
        text += kLineEnd;
        for (const motion::TsmProgramStep& step : steps) {
            text += "Steps = ";
            AppendInteger(text, step.Steps);
            text += ' ';
            AppendFixed2(text, step.Frequency);
            text += ' ';
            AppendFixed2(text, step.RampTime);
            text += ' ';
            text += DirectionWord(step.Direction);
            text += kLineEnd;
        }
    }
    return text;
}

}  // namespace project
