// TestFolder: a fresh folder for one test with a copy of Q417_Stepper.exe and, as the case needs,
// the simulator kit's DLLs beside it, exactly as a user lays the kit out. The program loads
// "vrexusbdrv.dll", "inpout32.dll" and "default.smp" from its own folder, so what is copied (or
// written) here decides what it meets. Leftovers of an earlier run of the same test are removed
// first; the folder stays after the test for inspection.
#pragma once

#include <optional>
#include <string>

namespace e2e {

class TestFolder {
  public:
    // The kit's DLLs to copy beside the program.
    enum Kit : unsigned {
        kNoKit = 0,
        kModuleLocator = 1,  // vrexusbdrv.dll of the simulator kit
        kPortLibrary = 2,    // inpout32.dll of the simulator kit
    };

    // Lays out <run root>\<name>: emptied, the program copied, the DLLs of kit copied. False, with
    // Error() set, when something could not be made or copied (also a kit DLL this build lacks).
    bool Create(const std::string& name, unsigned kit);

    // The folder with its trailing backslash.
    const std::string& Path() const { return path_; }
    std::string FilePath(const std::string& name) const { return path_ + name; }
    std::string ExePath() const { return FilePath("Q417_Stepper.exe"); }

    // Writes (replaces) a file in the folder with exactly these bytes.
    bool Write(const std::string& name, const std::string& bytes) const;
    // The bytes of a file in the folder; nothing when it cannot be read.
    std::optional<std::string> Read(const std::string& name) const;
    bool Exists(const std::string& name) const;

    const std::string& Error() const { return error_; }

  private:
    bool Copy(const std::string& from, const std::string& name);

    std::string path_;
    std::string error_;
};

}  // namespace e2e
