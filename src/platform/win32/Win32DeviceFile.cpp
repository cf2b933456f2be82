#include "platform/win32/Win32DeviceFile.h"

#include <windows.h>

#include <atomic>
#include <cstring>
#include <vector>

namespace platform {

namespace {

// How long Cancel() and the close wait for the system to end a cancelled operation. A cancelled
// read or write of a present device ends at once; one that does not end in this time is left to
// the system (its channel is never freed, see ~Win32DeviceFile).
constexpr DWORD kCancelGraceMs = 1000;

// One direction of a file: the OVERLAPPED record, its manual-reset event and the data buffer of
// the operation in flight. The system writes to the record and the buffer until the operation
// ends, so they belong to the file, not to the caller.
struct Channel {
    HANDLE event = nullptr;
    OVERLAPPED overlapped{};
    std::vector<uint8_t> buffer;
    bool outstanding = false;  // an operation was started and has not been seen to end
    DWORD startedBy = 0;       // thread that started it (CancelIo cancels only its own)
    std::atomic<bool> inUse{false};
};

// Holds a channel for one caller; a second one meanwhile is refused.
class ChannelUse {
  public:
    explicit ChannelUse(Channel& channel)
        : channel_(channel), owned_(!channel.inUse.exchange(true, std::memory_order_acquire)) {}
    ~ChannelUse() {
        if (owned_) channel_.inUse.store(false, std::memory_order_release);
    }
    ChannelUse(const ChannelUse&) = delete;
    ChannelUse& operator=(const ChannelUse&) = delete;
    explicit operator bool() const { return owned_; }

  private:
    Channel& channel_;
    bool owned_;
};

class Win32DeviceFile final : public DeviceFile {
  public:
    Win32DeviceFile(HANDLE handle, std::unique_ptr<Channel> write, std::unique_ptr<Channel> read)
        : handle_(handle), write_(std::move(write)), read_(std::move(read)) {}
    ~Win32DeviceFile() override;

    DeviceWait Write(const uint8_t* report, uint32_t length, uint32_t timeoutMs) override;
    DeviceWait Read(uint8_t* buffer, uint32_t length, uint32_t timeoutMs) override;
    bool Cancel() override;
    void Interrupt() override;

  private:
    DeviceWait Transfer(Channel& channel, bool write, uint32_t length, uint32_t timeoutMs,
                        DWORD* transferred);
    void Collect(Channel& channel, DWORD* transferred, bool* succeeded);
    bool Settle(Channel& channel, DWORD waitMs);
    bool CancelOwn(Channel& channel);

    HANDLE handle_;
    std::unique_ptr<Channel> write_;
    std::unique_ptr<Channel> read_;
    std::atomic<bool> interrupted_{false};
};

// Collects the result of the channel's operation, which has ended, and frees the channel.
void Win32DeviceFile::Collect(Channel& channel, DWORD* transferred, bool* succeeded) {
    // GetOverlappedResult with a wait also covers a system that signals the event a moment
    // before it fills in the record (it returns at once otherwise).
    DWORD count = 0;
    const BOOL ok = GetOverlappedResult(handle_, &channel.overlapped, &count, TRUE);
    ResetEvent(channel.event);
    channel.outstanding = false;
    if (transferred != nullptr) *transferred = count;
    if (succeeded != nullptr) *succeeded = ok != FALSE;
}

// Waits up to waitMs for the channel's operation to end, then collects it. True when it has
// ended (the channel is free again); false when it is still in the system's hands.
bool Win32DeviceFile::Settle(Channel& channel, DWORD waitMs) {
    if (WaitForSingleObject(channel.event, waitMs) != WAIT_OBJECT_0) return false;
    Collect(channel, nullptr, nullptr);
    return true;
}

// Cancels the calling thread's operation on this channel and waits for it to end.
bool Win32DeviceFile::CancelOwn(Channel& channel) {
    if (!channel.outstanding) return true;
    if (!CancelIo(handle_)) return false;
    return Settle(channel, kCancelGraceMs);
}

// Starts the channel's operation on its buffer and waits for it. The caller holds the channel
// and has made sure no earlier operation is outstanding on it.
DeviceWait Win32DeviceFile::Transfer(Channel& channel, bool write, uint32_t length,
                                     uint32_t timeoutMs, DWORD* transferred) {
    channel.overlapped = OVERLAPPED{};
    channel.overlapped.hEvent = channel.event;
    channel.startedBy = GetCurrentThreadId();
    const BOOL started =
        write ? WriteFile(handle_, channel.buffer.data(), length, nullptr, &channel.overlapped)
              : ReadFile(handle_, channel.buffer.data(), length, nullptr, &channel.overlapped);
    if (!started && GetLastError() != ERROR_IO_PENDING) {
        ResetEvent(channel.event);
        return DeviceWait::Failed;
    }
    channel.outstanding = true;
    bool succeeded = false;
    if (started) {
        Collect(channel, transferred, &succeeded);  // completed synchronously
        return succeeded ? DeviceWait::Done : DeviceWait::Failed;
    }

    // Interrupt() sets the flag before it cancels: either it sees this operation and cancels it,
    // or this check sees the flag.
    if (interrupted_.load()) {
        CancelOwn(channel);
        return DeviceWait::Interrupted;
    }
    const DWORD wait = WaitForSingleObject(channel.event, timeoutMs);
    if (wait == WAIT_TIMEOUT) return DeviceWait::TimedOut;
    if (wait != WAIT_OBJECT_0) {
        CancelOwn(channel);
        return DeviceWait::Failed;
    }
    Collect(channel, transferred, &succeeded);
    if (succeeded) return DeviceWait::Done;
    return interrupted_.load() ? DeviceWait::Interrupted : DeviceWait::Failed;
}

DeviceWait Win32DeviceFile::Write(const uint8_t* report, uint32_t length, uint32_t timeoutMs) {
    ChannelUse use(*write_);
    if (!use) return DeviceWait::Failed;
    if (interrupted_.load()) return DeviceWait::Interrupted;
    // An earlier write that timed out and was not cancelled: go on only if it has ended since.
    if (write_->outstanding && !Settle(*write_, 0)) return DeviceWait::Failed;
    write_->buffer.assign(report, report + length);
    return Transfer(*write_, true, length, timeoutMs, nullptr);
}

DeviceWait Win32DeviceFile::Read(uint8_t* buffer, uint32_t length, uint32_t timeoutMs) {
    ChannelUse use(*read_);
    if (!use) return DeviceWait::Failed;
    if (interrupted_.load()) return DeviceWait::Interrupted;
    if (read_->outstanding && !Settle(*read_, 0)) return DeviceWait::Failed;
    read_->buffer.assign(length, 0);
    DWORD transferred = 0;
    const DeviceWait result = Transfer(*read_, false, length, timeoutMs, &transferred);
    if (result == DeviceWait::Done) {
        // A shorter report leaves zeros behind it, never an older report's bytes.
        std::memcpy(buffer, read_->buffer.data(), transferred < length ? transferred : length);
        if (transferred < length) std::memset(buffer + transferred, 0, length - transferred);
    }
    return result;
}

bool Win32DeviceFile::Cancel() {
    const DWORD self = GetCurrentThreadId();
    bool clear = true;
    for (Channel* channel : {write_.get(), read_.get()}) {
        ChannelUse use(*channel);  // a channel busy on another thread is not this thread's
        if (use && channel->outstanding && channel->startedBy == self) {
            clear = CancelOwn(*channel) && clear;
        }
    }
    return clear;
}

void Win32DeviceFile::Interrupt() {
    interrupted_.store(true);
    // Cancels the operations of every thread on this handle; their waits end with the
    // cancellation's completion, as for a real end of the operation.
    CancelIoEx(handle_, nullptr);
}

Win32DeviceFile::~Win32DeviceFile() {
    // An operation still outstanding here was started by a thread that is gone or done with the
    // file: cancel it and let it end before its record and buffer are freed. One the system
    // will not let go of keeps its channel for the rest of the process.
    for (std::unique_ptr<Channel>* channel : {&write_, &read_}) {
        if ((*channel)->outstanding) {
            CancelIoEx(handle_, &(*channel)->overlapped);
            if (!Settle(**channel, kCancelGraceMs)) {
                // Deliberately leaked: the system may still write to its record and buffer.
                Channel* leaked = channel->release();
                (void)leaked;
                continue;
            }
        }
        CloseHandle((*channel)->event);
    }
    CloseHandle(handle_);
}

std::unique_ptr<Channel> NewChannel() {
    auto channel = std::make_unique<Channel>();
    channel->event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (channel->event == nullptr) return nullptr;
    return channel;
}

}  // namespace

std::unique_ptr<DeviceFile> Win32DeviceFiles::Open(const std::string& path) {
    HANDLE handle =
        CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                    nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return nullptr;
    auto write = NewChannel();
    auto read = NewChannel();
    if (write == nullptr || read == nullptr) {
        if (write != nullptr) CloseHandle(write->event);
        if (read != nullptr) CloseHandle(read->event);
        CloseHandle(handle);
        return nullptr;
    }
    return std::make_unique<Win32DeviceFile>(handle, std::move(write), std::move(read));
}

DeviceFiles& SystemDeviceFiles() {
    static Win32DeviceFiles files;
    return files;
}

}  // namespace platform
