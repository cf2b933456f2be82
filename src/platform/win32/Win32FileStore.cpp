#include "platform/win32/Win32FileStore.h"

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <new>

#include "platform/TempFileName.h"

namespace platform {

namespace {

class Handle {
  public:
    explicit Handle(HANDLE handle) : handle_(handle) {}
    ~Handle() {
        if (valid()) CloseHandle(handle_);
    }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    bool valid() const { return handle_ != INVALID_HANDLE_VALUE; }
    HANDLE get() const { return handle_; }
    bool Close() {
        const HANDLE handle = handle_;
        handle_ = INVALID_HANDLE_VALUE;
        return CloseHandle(handle) != FALSE;
    }

  private:
    HANDLE handle_;
};

// WriteFile takes a DWORD count: large contents go in pieces.
bool WriteAll(HANDLE file, std::string_view data) {
    constexpr size_t kChunk = 1u << 24;
    while (!data.empty()) {
        const DWORD want = static_cast<DWORD>(data.size() < kChunk ? data.size() : kChunk);
        DWORD written = 0;
        if (!WriteFile(file, data.data(), want, &written, nullptr) || written == 0) return false;
        data.remove_prefix(written);
    }
    return true;
}

std::atomic<unsigned> tempCounter{0};

}  // namespace

FileReadResult Win32FileStore::ReadWholeFile(const std::string& path, std::string& contents) {
    contents.clear();
    Handle file(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.valid()) {
        const DWORD error = GetLastError();
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ||
            error == ERROR_INVALID_NAME)
            return FileReadResult::kNotFound;
        // A directory cannot be opened this way; like a missing file it is no project file.
        const DWORD attributes = GetFileAttributesA(path.c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY))
            return FileReadResult::kNotFound;
        return FileReadResult::kFailed;
    }
    if (GetFileType(file.get()) != FILE_TYPE_DISK) return FileReadResult::kFailed;
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(file.get(), &size) || size.QuadPart < 0 ||
        static_cast<uint64_t>(size.QuadPart) > kMaxReadSize)
        return FileReadResult::kFailed;
    try {
        contents.resize(static_cast<size_t>(size.QuadPart));
    } catch (const std::bad_alloc&) {
        return FileReadResult::kFailed;
    }
    size_t done = 0;
    while (done < contents.size()) {
        DWORD got = 0;
        if (!ReadFile(file.get(), contents.data() + done,
                      static_cast<DWORD>(contents.size() - done), &got, nullptr)) {
            contents.clear();
            return FileReadResult::kFailed;
        }
        if (got == 0) break;  // the file shrank since it was measured: keep what is there
        done += got;
    }
    contents.resize(done);
    return FileReadResult::kOk;
}

bool Win32FileStore::WriteFileAtomically(const std::string& path, std::string_view contents) {
    if (path.empty()) return false;
    // A read-only target is refused, as Windows refuses to open it for writing (a rename over
    // it would replace it all the same under some file systems). Its other attributes (hidden,
    // system, archive, ...) are given to the new file.
    const DWORD old = GetFileAttributesA(path.c_str());
    if (old != INVALID_FILE_ATTRIBUTES &&
        (old & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY)) != 0)
        return false;
    constexpr DWORD kKept = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE |
                            FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;
    const DWORD kept = old == INVALID_FILE_ATTRIBUTES ? 0 : (old & kKept);

    // A fresh name beside the target, as long as its name (same folder and volume, so the move
    // is a rename, and a path that fits for the target fits for it). CREATE_NEW never opens
    // someone else's file; a name already taken is skipped.
    const uint64_t seed = static_cast<uint64_t>(GetCurrentProcessId()) * 7919u +
                          static_cast<uint64_t>(tempCounter.fetch_add(100));
    std::string temp;
    HANDLE created = INVALID_HANDLE_VALUE;
    for (uint64_t attempt = 0; attempt < 100 && created == INVALID_HANDLE_VALUE; ++attempt) {
        temp = TempFileNameFor(path, seed + attempt);
        if (temp.empty()) return false;
        created = CreateFileA(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
        if (created == INVALID_HANDLE_VALUE && GetLastError() != ERROR_FILE_EXISTS &&
            GetLastError() != ERROR_ALREADY_EXISTS && GetLastError() != ERROR_ACCESS_DENIED)
            return false;
    }
    Handle file(created);
    if (!file.valid()) return false;

    bool ok = WriteAll(file.get(), contents);
    ok = ok && FlushFileBuffers(file.get()) != FALSE;
    ok = file.Close() && ok;
    ok = ok && MoveFileExA(temp.c_str(), path.c_str(),
                           MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != FALSE;
    if (!ok) {
        DeleteFileA(temp.c_str());
        return false;
    }
    if (kept != 0) SetFileAttributesA(path.c_str(), kept);
    return true;
}

FileStore& SystemFileStore() {
    static Win32FileStore store;
    return store;
}

}  // namespace platform
