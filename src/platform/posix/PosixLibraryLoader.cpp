#include "platform/posix/PosixLibraryLoader.h"

#include <dlfcn.h>
#include <unistd.h>

#include <cstring>
#include <string>

namespace platform {

namespace {

// The folder of the running executable with a trailing '/', or empty where it cannot be told.
std::string ExecutableFolder() {
    char path[4096];
    const ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
    if (length <= 0) return std::string();
    std::string folder(path, static_cast<size_t>(length));
    const size_t slash = folder.rfind('/');
    return slash == std::string::npos ? std::string() : folder.substr(0, slash + 1);
}

}  // namespace

LibraryHandle PosixLibraryLoader::Load(const char* name) {
    // dlopen(nullptr) would hand out the main program itself; no name is no library.
    if (name == nullptr || *name == '\0') return nullptr;
    if (std::strchr(name, '/') == nullptr) {
        static const std::string folder = ExecutableFolder();
        if (!folder.empty()) {
            const std::string beside = folder + name;
            if (access(beside.c_str(), F_OK) == 0)
                return dlopen(beside.c_str(), RTLD_NOW | RTLD_LOCAL);
        }
    }
    return dlopen(name, RTLD_NOW | RTLD_LOCAL);
}

LibrarySymbol PosixLibraryLoader::Symbol(LibraryHandle library, const char* name) {
    if (library == nullptr || name == nullptr) return nullptr;
    // POSIX guarantees that a dlsym result converts to a function pointer.
    return reinterpret_cast<LibrarySymbol>(dlsym(library, name));
}

void PosixLibraryLoader::Free(LibraryHandle library) {
    if (library != nullptr) dlclose(library);
}

LibraryLoader& SystemLibraryLoader() {
    static PosixLibraryLoader loader;
    return loader;
}

}  // namespace platform
