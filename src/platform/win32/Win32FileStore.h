// File-store adapter on kernel32: CreateFileA / GetFileSizeEx / ReadFile for loading;
// CreateFileA (CREATE_NEW, beside the target) / WriteFile / FlushFileBuffers / MoveFileExA with
// MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH for saving.
#pragma once

#include "platform/FileStore.h"

namespace platform {

class Win32FileStore final : public FileStore {
  public:
    FileReadResult ReadWholeFile(const std::string& path, std::string& contents) override;
    bool WriteFileAtomically(const std::string& path, std::string_view contents) override;
};

}  // namespace platform
