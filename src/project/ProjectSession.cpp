#include "project/ProjectSession.h"

#include "project/ProjectReader.h"
#include "project/ProjectWriter.h"

namespace project {

namespace {

std::string CannotOpen(const std::string& path) {
    return "Cannot open file " + path + ".";
}

}  // namespace

platform::FileReadResult LoadProjectFile(platform::FileStore& files, const std::string& path,
                                         ProjectTarget& project, bool openOutput) {
    std::string text;
    const platform::FileReadResult result = files.ReadWholeFile(path, text);
    if (result == platform::FileReadResult::kOk) ReadProjectText(text, project, openOutput);
    return result;
}

std::string ProjectSession::Caption() const {
    return fileName_.empty() ? std::string("Stepper") : "Stepper - " + fileName_;
}

std::string ProjectSession::LoadStartupProject(const std::string& programDirectory) {
    const std::string path = programDirectory + kStartupFileName;
    const platform::FileReadResult result =
        LoadProjectFile(files_, path, project_, /*openOutput=*/false);
    fileName_.clear();
    project_.OpenOutputPort();
    return result == platform::FileReadResult::kFailed ? CannotOpen(path) : std::string();
}

void ProjectSession::NewProject() {
    fileName_.clear();
    for (int motor = 0; motor < ProjectTarget::kMotorCount; ++motor)
        project_.ClearProgram(motor);
}

std::string ProjectSession::OpenProject(const std::string& path) {
    fileName_ = path;
    switch (LoadProjectFile(files_, path, project_)) {
        case platform::FileReadResult::kOk:
            return {};
        case platform::FileReadResult::kNotFound:
            fileName_.clear();
            return {};
        case platform::FileReadResult::kFailed:
        default:
            return CannotOpen(path);
    }
}

std::string ProjectSession::Save() {
    if (fileName_.empty()) return {};
    if (files_.WriteFileAtomically(fileName_, WriteProjectText(project_))) return {};
    return "Cannot create file " + fileName_ + ".";
}

std::string ProjectSession::SaveAs(const std::string& path) {
    fileName_ = path;
    return Save();
}

}  // namespace project
