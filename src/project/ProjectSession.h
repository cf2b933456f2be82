// The project commands below the File menu, and the start-up load of "default.smp": the
// current file name, the caption that shows it, loading and saving through the file-store port.
// The window adds only its dialogs and message boxes: each command returns the text of the
// error box to show ("Cannot open file <path>." / "Cannot create file <path>."), or an empty
// text. Window thread only.
#pragma once

#include <string>

#include "platform/FileStore.h"
#include "project/ProjectTarget.h"

namespace project {

// Reads the file at path in one go and then its text into project (ReadProjectText, which opens
// the output once for a port setting read when openOutput is set). kNotFound and kFailed leave
// project untouched.
platform::FileReadResult LoadProjectFile(platform::FileStore& files, const std::string& path,
                                         ProjectTarget& project, bool openOutput = true);

class ProjectSession {
  public:
    static constexpr const char* kStartupFileName = "default.smp";

    ProjectSession(platform::FileStore& files, ProjectTarget& project)
        : files_(files), project_(project) {}

    // The current file name: empty, or the full path of the project being edited.
    const std::string& FileName() const { return fileName_; }
    // The window caption for it: "Stepper", or "Stepper - " followed by the path.
    std::string Caption() const;

    // Start-up, once the motors exist with their defaults and the port setting is 0: loads
    // programDirectory + "default.smp" if it exists (programDirectory ends with its path
    // separator), then forgets the file name, so that a later Save asks for one, and opens the
    // output for the port setting: once, whether or not the file set it.
    std::string LoadStartupProject(const std::string& programDirectory);

    // New Project: no file name; every program and program list emptied. The port setting,
    // frequencies, reset directions and Looping flags stay as they are.
    void NewProject();

    // Open Project with the path the operator chose: a present file becomes the current file
    // and is read behind what is there (nothing is cleared); an absent one leaves no file name
    // and nothing else changed. A present file that cannot be read stays the current file name,
    // with nothing loaded.
    std::string OpenProject(const std::string& path);

    // Save: the window runs Save As instead while there is no file name. Writes the project to
    // the current file; on failure the previous file is left as it was.
    std::string Save();

    // Save As with the path the operator chose: it becomes the current file name (even when the
    // save then fails), and the project is written there.
    std::string SaveAs(const std::string& path);

  private:
    platform::FileStore& files_;
    ProjectTarget& project_;
    std::string fileName_;
};

}  // namespace project
