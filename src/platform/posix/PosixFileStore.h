// File-store adapter on POSIX file descriptors: open / fstat / read for loading, mkstemp beside
// the target / write / fsync / rename for saving.
#pragma once

#include "platform/FileStore.h"

namespace platform {

class PosixFileStore final : public FileStore {
  public:
    FileReadResult ReadWholeFile(const std::string& path, std::string& contents) override;
    bool WriteFileAtomically(const std::string& path, std::string_view contents) override;
};

}  // namespace platform
