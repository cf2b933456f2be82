// The library-loader port: binding a shared library at run time (load by name, look up a symbol,
// free).
//
// The program reaches the outside parallel-port library and the USB locator library this way,
// by file name, so that whatever library of that name the platform finds is used. The Win32
// adapter maps it one to one onto LoadLibraryA, GetProcAddress and FreeLibrary; the POSIX adapter
// onto dlopen, dlsym and dlclose, so the portable code is tested natively with small test
// libraries.
#pragma once

namespace platform {

// A loaded library; nullptr is no library.
using LibraryHandle = void*;
// The address of an exported function, to be cast to the function's real type (a generic
// function pointer type, so the cast needs no data-to-function conversion).
using LibrarySymbol = void (*)();

class LibraryLoader {
  public:
    virtual ~LibraryLoader() = default;

    // Loads the library named name (a file name searched for by the platform's rules, or a
    // path) and returns its handle, or nullptr when it cannot be loaded. Each successful Load
    // is paired with one Free; loading a library twice gives the same handle, counted twice.
    // Called on the window's thread; the adapters keep no state, so any thread may call.
    virtual LibraryHandle Load(const char* name) = 0;

    // The address of the function that library exports under name, or nullptr when it has no
    // such export. Called on the window's thread (any thread may call while library is loaded).
    virtual LibrarySymbol Symbol(LibraryHandle library, const char* name) = 0;

    // Releases one Load of library; once the last one is released the library may be unmapped,
    // so no symbol of it may be called, or be in a call, from then on. nullptr is ignored.
    // Called on the window's thread.
    virtual void Free(LibraryHandle library) = 0;
};

// The platform's real loader: kernel32 on Windows, the POSIX adapter elsewhere. Lives as long as
// the process.
LibraryLoader& SystemLibraryLoader();

}  // namespace platform
