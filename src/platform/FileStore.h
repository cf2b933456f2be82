// The file-store port: whole files read in one go and written so that a failed save never
// destroys the file it was meant to replace.
//
// The project commands (src/project) use nothing else to reach files. The Win32 adapter maps it
// onto CreateFileA / ReadFile / WriteFile / MoveFileExA, the POSIX adapter onto open / read /
// write / rename, and the memory adapter (virtual/) keeps files in a map for tests.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace platform {

enum class FileReadResult {
    kOk,        // contents holds the whole file
    kNotFound,  // no file of that name (a directory of that name counts as none)
    kFailed,    // it exists but cannot be opened or read, is no regular file, or is too large
};

class FileStore {
  public:
    // Files larger than this are refused with kFailed rather than risking an allocation that
    // cannot succeed in a 32-bit process.
    static constexpr uint64_t kMaxReadSize = 512u * 1024u * 1024u;

    virtual ~FileStore() = default;

    // Reads the whole of a regular file into contents (replacing what it held; left empty
    // unless kOk). The file is opened for reading with others allowed to read but not to write
    // meanwhile. Reads exactly the size the file has when opened, so a device or a file that
    // keeps growing cannot make it read forever. Runs on the calling (window) thread.
    virtual FileReadResult ReadWholeFile(const std::string& path, std::string& contents) = 0;

    // Replaces (or creates) path with a file holding exactly contents. The bytes go to a
    // temporary file beside the target first (its name as long as the target's, so it fits
    // wherever the target's fits), which then replaces the target in one atomic rename; the
    // target's attributes (permissions; hidden, system, archive) are kept. A read-only target is
    // refused. False when any step fails; the previous file is then untouched and no temporary
    // file is left behind. Runs on the calling (window) thread.
    virtual bool WriteFileAtomically(const std::string& path, std::string_view contents) = 0;
};

// The platform's real file system: Win32 on Windows, POSIX elsewhere. Lives as long as the
// process.
FileStore& SystemFileStore();

}  // namespace platform
