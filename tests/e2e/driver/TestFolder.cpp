#include "e2e/driver/TestFolder.h"

#include <windows.h>

#include <fstream>
#include <sstream>

#include "e2e/driver/KitFiles.h"

namespace e2e {

namespace {

// Creates every missing folder of path (a path with backslashes and a drive).
bool MakeFolders(const std::string& path) {
    for (size_t slash = path.find('\\', 3);; slash = path.find('\\', slash + 1)) {
        const std::string part = path.substr(0, slash);
        if (!CreateDirectoryA(part.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS)
            return false;
        if (slash == std::string::npos) return true;
    }
}

// Removes the files a previous run left in folder (the tests make no subfolders).
void EmptyFolder(const std::string& folder) {
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((folder + "*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return;
    do {
        if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0)
            DeleteFileA((folder + found.cFileName).c_str());
    } while (FindNextFileA(search, &found));
    FindClose(search);
}

}  // namespace

bool TestFolder::Create(const std::string& name, unsigned kit) {
    path_ = kit::RunRoot() + "\\" + name;
    if (!MakeFolders(path_)) {
        error_ = "cannot make the folder " + path_;
        return false;
    }
    path_ += "\\";
    EmptyFolder(path_);
    if (!Copy(kit::StepperExe(), "Q417_Stepper.exe")) return false;
    if ((kit & kModuleLocator) != 0 && !Copy(kit::ModuleLocatorDll(), "vrexusbdrv.dll"))
        return false;
    if ((kit & kPortLibrary) != 0) {
        if (kit::PortLibraryDll().empty()) {
            error_ = "this build has no inpout32.dll of the simulator kit";
            return false;
        }
        if (!Copy(kit::PortLibraryDll(), "inpout32.dll")) return false;
    }
    return true;
}

bool TestFolder::Copy(const std::string& from, const std::string& name) {
    if (!CopyFileA(from.c_str(), FilePath(name).c_str(), FALSE)) {
        error_ = "cannot copy " + from + " to " + FilePath(name);
        return false;
    }
    return true;
}

bool TestFolder::Write(const std::string& name, const std::string& bytes) const {
    std::ofstream out(FilePath(name), std::ios::binary | std::ios::trunc);
    out << bytes;
    out.close();
    return !out.fail();
}

std::optional<std::string> TestFolder::Read(const std::string& name) const {
    std::ifstream in(FilePath(name), std::ios::binary);
    if (!in) return std::nullopt;
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

bool TestFolder::Exists(const std::string& name) const {
    return GetFileAttributesA(FilePath(name).c_str()) != INVALID_FILE_ATTRIBUTES;
}

}  // namespace e2e
