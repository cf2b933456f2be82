#include "platform/posix/PosixFileStore.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <new>

#include "platform/TempFileName.h"

namespace platform {

namespace {

class Descriptor {
  public:
    explicit Descriptor(int fd) : fd_(fd) {}
    ~Descriptor() {
        if (fd_ >= 0) ::close(fd_);
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int get() const { return fd_; }
    // Closes now and reports whether the close succeeded (a delayed write error shows here).
    bool Close() {
        const int fd = fd_;
        fd_ = -1;
        return ::close(fd) == 0;
    }

  private:
    int fd_;
};

bool WriteAll(int fd, std::string_view data) {
    while (!data.empty()) {
        const ssize_t n = ::write(fd, data.data(), data.size());
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        data.remove_prefix(static_cast<size_t>(n));
    }
    return true;
}

std::string DirectoryOf(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

}  // namespace

FileReadResult PosixFileStore::ReadWholeFile(const std::string& path, std::string& contents) {
    contents.clear();
    // O_NONBLOCK: opening a FIFO must not wait for a writer; it is refused below anyway.
    Descriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (file.get() < 0) {
        return (errno == ENOENT || errno == ENOTDIR) ? FileReadResult::kNotFound
                                                     : FileReadResult::kFailed;
    }
    struct stat info {};
    if (::fstat(file.get(), &info) != 0) return FileReadResult::kFailed;
    if (S_ISDIR(info.st_mode)) return FileReadResult::kNotFound;
    if (!S_ISREG(info.st_mode)) return FileReadResult::kFailed;
    const uint64_t size = static_cast<uint64_t>(info.st_size);
    if (size > kMaxReadSize) return FileReadResult::kFailed;
    try {
        contents.resize(static_cast<size_t>(size));
    } catch (const std::bad_alloc&) {
        return FileReadResult::kFailed;
    }
    size_t done = 0;
    while (done < contents.size()) {
        const ssize_t n = ::read(file.get(), contents.data() + done, contents.size() - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            contents.clear();
            return FileReadResult::kFailed;
        }
        if (n == 0) break;  // the file shrank since fstat: keep what is there
        done += static_cast<size_t>(n);
    }
    contents.resize(done);
    return FileReadResult::kOk;
}

bool PosixFileStore::WriteFileAtomically(const std::string& path, std::string_view contents) {
    if (path.empty()) return false;
    // A target that nobody may write (no write bit at all: the read-only attribute of this
    // file system) is refused rather than replaced by the rename.
    struct stat old {};
    const bool exists = ::stat(path.c_str(), &old) == 0;
    if (exists && (old.st_mode & 0222) == 0) return false;

    // A fresh name beside the target, as long as its name, so that it fits wherever the
    // target's fits; O_EXCL never opens someone else's file, a name already taken is skipped.
    static std::atomic<uint64_t> counter{0};
    const uint64_t seed = static_cast<uint64_t>(::getpid()) * 7919u + counter.fetch_add(100);
    std::string temp;
    int fd = -1;
    for (uint64_t attempt = 0; attempt < 100 && fd < 0; ++attempt) {
        temp = TempFileNameFor(path, seed + attempt);
        if (temp.empty()) return false;
        fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd < 0 && errno != EEXIST) return false;
    }
    Descriptor file(fd);
    if (file.get() < 0) return false;

    // Created for its owner only; a replaced file keeps its permissions, a new one gets the
    // usual rw-r--r--.
    const mode_t mode = exists ? (old.st_mode & 07777) : 0644;
    bool ok = ::fchmod(file.get(), mode) == 0;
    ok = ok && WriteAll(file.get(), contents);
    ok = ok && ::fsync(file.get()) == 0;
    ok = file.Close() && ok;
    ok = ok && ::rename(temp.c_str(), path.c_str()) == 0;
    if (!ok) {
        ::unlink(temp.c_str());
        return false;
    }
    // Makes the rename itself durable; the new file is in place whether or not this succeeds.
    Descriptor directory(::open(DirectoryOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (directory.get() >= 0) ::fsync(directory.get());
    return true;
}

FileStore& SystemFileStore() {
    static PosixFileStore store;
    return store;
}

}  // namespace platform
