#include "ControlChannel.h"

#include <string_view>

namespace sim {

ControlChannel::ControlChannel(std::string path) : path_(std::move(path)) {
    for (Instance& in : instances_)
        in.io.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
}

ControlChannel::~ControlChannel() {
    for (Instance& in : instances_) {
        if (in.pipe != INVALID_HANDLE_VALUE) {
            if (in.state != State::Idle) {
                CancelIo(in.pipe);
                DWORD count = 0;
                GetOverlappedResult(in.pipe, &in.io, &count, TRUE);
            }
            CloseHandle(in.pipe);
        }
        CloseHandle(in.io.hEvent);
    }
}

bool ControlChannel::Open(std::string& error) {
    for (size_t i = 0; i < instances_.size(); ++i) {
        Instance& in = instances_[i];
        const DWORD firstFlag = i == 0 ? FILE_FLAG_FIRST_PIPE_INSTANCE : 0;
        in.pipe =
            CreateNamedPipeA(path_.c_str(), PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED | firstFlag,
                             PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT,
                             static_cast<DWORD>(instances_.size()), 0, 0, 0, nullptr);
        if (in.pipe == INVALID_HANDLE_VALUE) {
            const DWORD code = GetLastError();
            error = code == ERROR_ACCESS_DENIED || code == ERROR_PIPE_BUSY
                        ? "the control pipe " + path_ + " is in use by another process"
                        : "cannot create the control pipe " + path_ + " (error " +
                              std::to_string(code) + ")";
            return false;
        }
        Listen(in);
    }
    return true;
}

void ControlChannel::AddWaitEvents(std::vector<HANDLE>& events) const {
    for (const Instance& in : instances_) {
        if (in.state != State::Idle) events.push_back(in.io.hEvent);
    }
}

bool ControlChannel::ReplyPending() const {
    for (const Instance& in : instances_) {
        if (in.state == State::Writing) return true;
    }
    return false;
}

void ControlChannel::Service(const std::function<std::string(ControlCommand, uint64_t)>& execute) {
    for (Instance& in : instances_) {
        if (in.state != State::Idle && HasOverlappedIoCompleted(&in.io)) Step(in, execute);
    }
}

void ControlChannel::Listen(Instance& in) {
    ResetEvent(in.io.hEvent);
    in.state = State::Listening;
    if (ConnectNamedPipe(in.pipe, &in.io)) return;  // completes through the event
    switch (GetLastError()) {
        case ERROR_IO_PENDING:
            return;
        case ERROR_PIPE_CONNECTED:  // a client came between the instance's creation and now
            StartRead(in);
            return;
        default:  // a client connected and left at once: drop it, listen once more
            DisconnectNamedPipe(in.pipe);
            ResetEvent(in.io.hEvent);
            if (!ConnectNamedPipe(in.pipe, &in.io) && GetLastError() != ERROR_IO_PENDING) {
                in.state = State::Idle;
            }
            return;
    }
}

void ControlChannel::StartRead(Instance& in) {
    ResetEvent(in.io.hEvent);
    in.state = State::Reading;
    if (!ReadFile(in.pipe, in.buffer.data(), static_cast<DWORD>(in.buffer.size()), nullptr,
                  &in.io) &&
        GetLastError() != ERROR_IO_PENDING && GetLastError() != ERROR_MORE_DATA) {
        Restart(in);
    }
}

void ControlChannel::Restart(Instance& in) {
    in.discarding = false;
    DisconnectNamedPipe(in.pipe);
    Listen(in);
}

void ControlChannel::Step(Instance& in,
                          const std::function<std::string(ControlCommand, uint64_t)>& execute) {
    DWORD count = 0;
    const bool ok = GetOverlappedResult(in.pipe, &in.io, &count, FALSE);
    const DWORD code = ok ? ERROR_SUCCESS : GetLastError();
    switch (in.state) {
        case State::Listening:
            if (ok || code == ERROR_PIPE_CONNECTED) {
                StartRead(in);
            } else {
                Restart(in);
            }
            return;
        case State::Reading: {
            if (!ok && code != ERROR_MORE_DATA) {  // the client has gone
                Restart(in);
                return;
            }
            // A message longer than the buffer is no command: its rest is read and dropped,
            // and the whole message gets one answer.
            if (!ok) {
                in.discarding = true;
                StartRead(in);
                return;
            }
            uint64_t argument = 0;
            const ControlCommand command =
                in.discarding
                    ? ControlCommand::Unknown
                    : ParseControlCommand(std::string_view(in.buffer.data(), count), &argument);
            in.discarding = false;
            in.reply = command == ControlCommand::Unknown
                           ? "error: unknown command (plug, pull, deaf, hear, quit, stall MS)"
                           : execute(command, argument);
            ResetEvent(in.io.hEvent);
            in.state = State::Writing;
            if (!WriteFile(in.pipe, in.reply.data(), static_cast<DWORD>(in.reply.size()), nullptr,
                           &in.io) &&
                GetLastError() != ERROR_IO_PENDING) {
                Restart(in);
            }
            return;
        }
        case State::Writing:
            if (ok) {
                StartRead(in);
            } else {
                Restart(in);
            }
            return;
        case State::Idle:
            return;
    }
}

}  // namespace sim
