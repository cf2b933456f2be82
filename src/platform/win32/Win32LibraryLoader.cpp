#include "platform/win32/Win32LibraryLoader.h"

#include <windows.h>

namespace platform {

LibraryHandle Win32LibraryLoader::Load(const char* name) {
    if (name == nullptr) return nullptr;
    return LoadLibraryA(name);
}

LibrarySymbol Win32LibraryLoader::Symbol(LibraryHandle library, const char* name) {
    if (library == nullptr || name == nullptr) return nullptr;
    // FARPROC and LibrarySymbol are both function pointers; void (*)() takes any of them.
    return reinterpret_cast<LibrarySymbol>(GetProcAddress(static_cast<HMODULE>(library), name));
}

void Win32LibraryLoader::Free(LibraryHandle library) {
    if (library != nullptr) FreeLibrary(static_cast<HMODULE>(library));
}

LibraryLoader& SystemLibraryLoader() {
    static Win32LibraryLoader loader;
    return loader;
}

}  // namespace platform
