#include "platform/virtual/MemoryFileStore.h"

namespace platform {

FileReadResult MemoryFileStore::ReadWholeFile(const std::string& path, std::string& contents) {
    contents.clear();
    if (Unreadable.count(path) != 0) return FileReadResult::kFailed;
    const auto file = Files.find(path);
    if (file == Files.end()) return FileReadResult::kNotFound;
    contents = file->second;
    return FileReadResult::kOk;
}

bool MemoryFileStore::WriteFileAtomically(const std::string& path, std::string_view contents) {
    if (path.empty() || Unwritable.count(path) != 0) return false;
    Files[path] = std::string(contents);
    ++Writes;
    return true;
}

}  // namespace platform
