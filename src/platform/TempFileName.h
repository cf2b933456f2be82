// The name of the temporary file a save writes before it replaces its target: in the target's
// folder, and exactly as long as the target's own name. So wherever the target's path fits
// (MAX_PATH on Windows, NAME_MAX and PATH_MAX elsewhere), the temporary one fits too, and the
// final rename stays within one folder and one volume.
//
// Names begin with '~' (a one-letter target gets one letter or digit) and never equal the
// target's name in any letter case, nor a reserved device name (CON, NUL, COM1, ... have no '~').
// The adapters try successive numbers with an exclusive create until a name is free.
#pragma once

#include <cctype>
#include <cstdint>
#include <string>
#include <string_view>

namespace platform {

// The folder part of path, with its trailing separator ('/' or '\\'), and the file's name.
inline std::string_view FolderOf(std::string_view path) {
    const size_t slash = path.find_last_of("/\\");
    return slash == std::string_view::npos ? std::string_view() : path.substr(0, slash + 1);
}

// Candidate number `number` for a temporary file beside path; empty when path names no file.
inline std::string TempFileNameFor(std::string_view path, uint64_t number) {
    static constexpr char kDigits[] = "0123456789abcdefghijklmnopqrstuvwxyz";
    const std::string_view folder = FolderOf(path);
    const std::string_view name = path.substr(folder.size());
    if (name.empty()) return {};
    std::string temp(name.size(), '~');
    // One-letter names use every digit and letter; longer ones '~' and base-36 digits.
    for (size_t i = name.size() == 1 ? 0 : 1; i < temp.size(); ++i) {
        temp[i] = kDigits[number % 36];
        number /= 36;
    }
    bool same = temp.size() == name.size();
    for (size_t i = 0; same && i < temp.size(); ++i)
        same = std::tolower(static_cast<unsigned char>(temp[i])) ==
               std::tolower(static_cast<unsigned char>(name[i]));
    if (same) temp[temp.size() - 1] = temp[temp.size() - 1] == '0' ? '1' : '0';
    return std::string(folder) + temp;
}

}  // namespace platform
