// File-store adapter holding files in memory, for tests: files can be put in place, read back,
// and made to fail on reading or writing.
#pragma once

#include <map>
#include <set>
#include <string>

#include "platform/FileStore.h"

namespace platform {

class MemoryFileStore final : public FileStore {
  public:
    FileReadResult ReadWholeFile(const std::string& path, std::string& contents) override;
    bool WriteFileAtomically(const std::string& path, std::string_view contents) override;

    // The files by path. Tests put files here and read saved ones back.
    std::map<std::string, std::string> Files;
    // Paths that exist but cannot be read (kFailed), and paths whose saving fails.
    std::set<std::string> Unreadable;
    std::set<std::string> Unwritable;
    int Writes = 0;  // successful saves
};

}  // namespace platform
