// Library-loader adapter on dlopen, dlsym and dlclose, for native runs of the portable core.
//
// A bare file name (no slash) is looked for beside the executable first, as LoadLibraryA does
// on Windows, so that a library shipped (or placed by a test) next to the program is the one
// found; otherwise the dynamic linker's own search rules apply. Symbols are bound at once
// (RTLD_NOW), so a library with unresolved references fails to load instead of failing later.
#pragma once

#include "platform/LibraryLoader.h"

namespace platform {

class PosixLibraryLoader final : public LibraryLoader {
  public:
    LibraryHandle Load(const char* name) override;
    LibrarySymbol Symbol(LibraryHandle library, const char* name) override;
    void Free(LibraryHandle library) override;
};

}  // namespace platform
