// Library-loader adapter on kernel32: LoadLibraryA, GetProcAddress, FreeLibrary. No state.
#pragma once

#include "platform/LibraryLoader.h"

namespace platform {

class Win32LibraryLoader final : public LibraryLoader {
  public:
    LibraryHandle Load(const char* name) override;
    LibrarySymbol Symbol(LibraryHandle library, const char* name) override;
    void Free(LibraryHandle library) override;
};

}  // namespace platform
