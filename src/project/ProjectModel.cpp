#include "project/ProjectModel.h"

namespace project {

void ProjectModel::GetProgram(int motor, std::vector<motion::TsmProgramStep>& steps) const {
    const motion::TsmProgram& program = Motors[motor].Program;
    steps.clear();
    steps.reserve(static_cast<size_t>(program.Count()));
    for (int32_t i = 0; i < program.Count(); ++i)
        steps.push_back(program.Items(i));
}

void ProjectModel::AppendStep(int motor, const motion::TsmProgramStep& step) {
    Motors[motor].Program.Add() = step;
    Motors[motor].List.AppendValues(step);
}

void ProjectModel::ClearProgram(int motor) {
    Motors[motor].Program.Clear();
    Motors[motor].List.Clear();
}

}  // namespace project
