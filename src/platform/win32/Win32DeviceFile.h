// Device-file adapter on kernel32's overlapped file I/O: CreateFileA with FILE_FLAG_OVERLAPPED,
// WriteFile and ReadFile with an OVERLAPPED record and its manual-reset event,
// WaitForSingleObject, GetOverlappedResult, CancelIo (CancelIoEx for Interrupt) and CloseHandle.
#pragma once

#include "platform/DeviceFile.h"

namespace platform {

class Win32DeviceFiles final : public DeviceFiles {
  public:
    std::unique_ptr<DeviceFile> Open(const std::string& path) override;
};

}  // namespace platform
