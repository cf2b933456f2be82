// The Win32 device-file adapter against a named pipe in message mode that the test serves itself,
// as the simulator serves the virtual module: one 16-byte report per message each way, several
// listening instances so that two handles can be opened on the one path.
#include <gtest/gtest.h>

#include <windows.h>

#include <array>
#include <atomic>
#include <chrono>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "platform/win32/Win32DeviceFile.h"

namespace platform {
namespace {

using Report = std::array<uint8_t, 16>;

Report Numbered(uint32_t n) {
    Report report{};
    for (size_t i = 0; i < report.size(); ++i)
        report[i] = static_cast<uint8_t>(n * 7 + i);
    report[0] = 0;  // report id
    std::memcpy(&report[2], &n, sizeof n);
    return report;
}

uint32_t NumberOf(const std::vector<uint8_t>& message) {
    uint32_t n = 0;
    std::memcpy(&n, &message[2], sizeof n);
    return n;
}

// The server end: instances listening with overlapped ConnectNamedPipe; Accept() names the one
// a client has just connected to.
class PipeServer {
  public:
    static constexpr DWORD kInstances = 4;

    PipeServer() {
        static std::atomic<int> serial{0};
        path_ = "\\\\.\\pipe\\q417-devicefile-" + std::to_string(GetCurrentProcessId()) + "-" +
                std::to_string(serial++);
        for (DWORD i = 0; i < kInstances; ++i) {
            Instance& in = instances_[i];
            // Small buffers: a server that stops reading soon blocks the writer.
            in.pipe = CreateNamedPipeA(path_.c_str(), PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED,
                                       PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT,
                                       kInstances, 64, 64, 0, nullptr);
            in.connect.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
            in.io = CreateEventA(nullptr, TRUE, FALSE, nullptr);
            if (!ConnectNamedPipe(in.pipe, &in.connect) && GetLastError() == ERROR_PIPE_CONNECTED) {
                SetEvent(in.connect.hEvent);
            }
        }
    }
    ~PipeServer() {
        for (Instance& in : instances_) {
            CancelIo(in.pipe);
            CloseHandle(in.pipe);
            CloseHandle(in.connect.hEvent);
            CloseHandle(in.io);
        }
    }

    const std::string& Path() const { return path_; }

    // The instance a client connected to since the last call, or -1.
    int Accept() {
        for (DWORD i = 0; i < kInstances; ++i) {
            Instance& in = instances_[i];
            if (!in.accepted && WaitForSingleObject(in.connect.hEvent, 1000) == WAIT_OBJECT_0) {
                in.accepted = true;
                return static_cast<int>(i);
            }
        }
        return -1;
    }

    // One message from the client, or empty when none comes within timeoutMs.
    std::vector<uint8_t> Receive(int instance, DWORD timeoutMs) {
        Instance& in = instances_[instance];
        std::vector<uint8_t> buffer(256);
        OVERLAPPED ov{};
        ov.hEvent = in.io;
        ResetEvent(in.io);
        DWORD count = 0;
        if (!ReadFile(in.pipe, buffer.data(), static_cast<DWORD>(buffer.size()), nullptr, &ov) &&
            GetLastError() != ERROR_IO_PENDING) {
            return {};
        }
        if (WaitForSingleObject(in.io, timeoutMs) != WAIT_OBJECT_0) {
            CancelIo(in.pipe);
            GetOverlappedResult(in.pipe, &ov, &count, TRUE);
            return {};
        }
        if (!GetOverlappedResult(in.pipe, &ov, &count, TRUE)) return {};
        buffer.resize(count);
        return buffer;
    }

    bool Send(int instance, const Report& report) {
        Instance& in = instances_[instance];
        OVERLAPPED ov{};
        ov.hEvent = in.io;
        ResetEvent(in.io);
        DWORD count = 0;
        if (!WriteFile(in.pipe, report.data(), static_cast<DWORD>(report.size()), nullptr, &ov) &&
            GetLastError() != ERROR_IO_PENDING) {
            return false;
        }
        return GetOverlappedResult(in.pipe, &ov, &count, TRUE) && count == report.size();
    }

  private:
    struct Instance {
        HANDLE pipe = INVALID_HANDLE_VALUE;
        OVERLAPPED connect{};
        HANDLE io = nullptr;
        bool accepted = false;
    };
    std::string path_;
    std::array<Instance, kInstances> instances_;
};

class Win32DeviceFileTest : public ::testing::Test {
  protected:
    // Opens a file on the server's path and learns which instance serves it.
    std::unique_ptr<DeviceFile> Open(int* instance) {
        std::unique_ptr<DeviceFile> file = files_.Open(server_.Path());
        *instance = file != nullptr ? server_.Accept() : -1;
        return file;
    }

    PipeServer server_;
    Win32DeviceFiles files_;
};

TEST_F(Win32DeviceFileTest, OpenFailsOnAMissingPath) {
    EXPECT_EQ(files_.Open(server_.Path() + "-missing"), nullptr);
    EXPECT_EQ(files_.Open(""), nullptr);
}

// Two handles on one path, as the link opens them: reports go out on one and come in on the
// other, each exactly as sent, none mixed with the one before.
TEST_F(Win32DeviceFileTest, SixteenByteReportsRoundTrip) {
    int readSide = -1;
    int writeSide = -1;
    auto readFile = Open(&readSide);
    auto writeFile = Open(&writeSide);
    ASSERT_NE(readFile, nullptr);
    ASSERT_NE(writeFile, nullptr);
    ASSERT_GE(readSide, 0);
    ASSERT_GE(writeSide, 0);
    ASSERT_NE(readSide, writeSide);

    for (uint32_t n = 1; n <= 5; ++n) {
        const Report out = Numbered(n);
        ASSERT_EQ(writeFile->Write(out.data(), 16, 100), DeviceWait::Done);
        EXPECT_EQ(server_.Receive(writeSide, 1000), std::vector<uint8_t>(out.begin(), out.end()));

        const Report in = Numbered(100 + n);
        ASSERT_TRUE(server_.Send(readSide, in));
        Report got{};
        ASSERT_EQ(readFile->Read(got.data(), 16, 1000), DeviceWait::Done);
        EXPECT_EQ(got, in);
    }
}

// A read with nothing to read times out and stays outstanding (a second read is refused) until
// Cancel ends it; the cancelled read takes nothing away from the next one.
TEST_F(Win32DeviceFileTest, ReadWithoutDataTimesOutAndCancelEndsIt) {
    int side = -1;
    auto file = Open(&side);
    ASSERT_NE(file, nullptr);
    Report untouched;
    untouched.fill(0xEE);
    Report got = untouched;
    EXPECT_EQ(file->Read(got.data(), 16, 150), DeviceWait::TimedOut);
    EXPECT_EQ(file->Read(got.data(), 16, 0), DeviceWait::Failed);
    EXPECT_TRUE(file->Cancel());
    EXPECT_EQ(got, untouched) << "a read that did not complete leaves the buffer alone";

    const Report in = Numbered(42);
    ASSERT_TRUE(server_.Send(side, in));
    ASSERT_EQ(file->Read(got.data(), 16, 1000), DeviceWait::Done);
    EXPECT_EQ(got, in);
}

// A server that stops reading makes a write time out; the write stays outstanding until Cancel.
// Meanwhile a second writer is refused rather than started beside the first. Whatever reached the
// server is whole and in order.
TEST_F(Win32DeviceFileTest, WriteToAServerThatStopsReadingTimesOut) {
    int side = -1;
    auto file = Open(&side);
    ASSERT_NE(file, nullptr);

    uint32_t sent = 0;
    DeviceWait result = DeviceWait::Done;
    while (sent < 4096 && result == DeviceWait::Done) {
        const Report out = Numbered(sent);
        result = file->Write(out.data(), 16, 100);
        if (result == DeviceWait::Done) ++sent;
    }
    ASSERT_EQ(result, DeviceWait::TimedOut) << "the pipe took " << sent << " reports unread";
    const Report next = Numbered(sent + 1);
    EXPECT_EQ(file->Write(next.data(), 16, 100), DeviceWait::Failed) << "earlier write pending";
    ASSERT_TRUE(file->Cancel());

    // A writer blocked on the full pipe on another thread: a second writer is refused.
    std::atomic<int> blocked{-1};
    std::thread writer([&] {
        const Report out = Numbered(sent + 1);
        blocked = static_cast<int>(file->Write(out.data(), 16, 5000));
    });
    Sleep(200);
    EXPECT_EQ(file->Write(next.data(), 16, 100), DeviceWait::Failed) << "a write is in progress";

    // The server reads again: every report that was accepted arrives whole and in order; the
    // cancelled one at most once; then the blocked writer's report.
    std::vector<uint32_t> numbers;
    for (;;) {
        const std::vector<uint8_t> message = server_.Receive(side, 500);
        if (message.empty()) break;
        ASSERT_EQ(message.size(), 16u);
        numbers.push_back(NumberOf(message));
    }
    writer.join();
    EXPECT_EQ(blocked.load(), static_cast<int>(DeviceWait::Done));
    ASSERT_GE(numbers.size(), sent + 1);
    for (uint32_t n = 0; n < sent; ++n)
        EXPECT_EQ(numbers[n], n);
    EXPECT_EQ(numbers.back(), sent + 1);
    EXPECT_LE(numbers.size(), sent + 2);

    // And the channel works as before.
    const Report last = Numbered(9999);
    EXPECT_EQ(file->Write(last.data(), 16, 100), DeviceWait::Done);
    EXPECT_EQ(NumberOf(server_.Receive(side, 1000)), 9999u);
}

// Interrupt lets a reader blocked on another thread go at once, and every later call returns
// Interrupted without touching the device.
TEST_F(Win32DeviceFileTest, InterruptEndsABlockedRead) {
    int side = -1;
    auto file = Open(&side);
    ASSERT_NE(file, nullptr);
    std::atomic<int> result{-1};
    const auto start = std::chrono::steady_clock::now();
    std::thread reader([&] {
        Report got{};
        result = static_cast<int>(file->Read(got.data(), 16, 20000));
    });
    Sleep(100);
    file->Interrupt();
    reader.join();
    EXPECT_EQ(result.load(), static_cast<int>(DeviceWait::Interrupted));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));

    const Report out = Numbered(1);
    EXPECT_EQ(file->Write(out.data(), 16, 100), DeviceWait::Interrupted);
    EXPECT_EQ(server_.Receive(side, 200), std::vector<uint8_t>{});
}

// Closing a file with a read still outstanding leaves nothing behind that a late report could
// land in; a new file on the path works.
TEST_F(Win32DeviceFileTest, CloseWithAnOutstandingReadIsSafe) {
    int side = -1;
    auto file = Open(&side);
    ASSERT_NE(file, nullptr);
    Report got{};
    EXPECT_EQ(file->Read(got.data(), 16, 50), DeviceWait::TimedOut);
    file.reset();
    server_.Send(side, Numbered(5));  // the client is gone: may fail, must not disturb

    int again = -1;
    auto next = Open(&again);
    ASSERT_NE(next, nullptr);
    ASSERT_GE(again, 0);
    ASSERT_TRUE(server_.Send(again, Numbered(6)));
    ASSERT_EQ(next->Read(got.data(), 16, 1000), DeviceWait::Done);
    EXPECT_EQ(got, Numbered(6));
}

}  // namespace
}  // namespace platform
