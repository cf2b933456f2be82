// ControlChannel: the simulator's control pipe, through which tests in other processes plug and
// pull the virtual module, make it deaf and end the simulator.
//
// Message-mode pipe with two instances; each message from a client is one text command, and
// each gets one message back: "ok" or "error: <reason>" (CallNamedPipeA does the round trip).
// The pipe buffers nothing (sizes 0), so a reply counts as sent only once its client has read
// it: a "quit" answered "ok" has really reached its client before the simulator ends.
//
// All calls run on the simulator's one I/O thread, which owns every operation on these pipes.
#pragma once

#include <windows.h>

#include <array>
#include <functional>
#include <string>
#include <vector>

#include "sim/common/ControlCommand.h"

namespace sim {

class ControlChannel {
  public:
    explicit ControlChannel(std::string path);
    ~ControlChannel();

    ControlChannel(const ControlChannel&) = delete;
    ControlChannel& operator=(const ControlChannel&) = delete;

    // Creates the instances and starts listening. False, with the reason in error, when the
    // pipe cannot be created (its name is taken by another process).
    bool Open(std::string& error);

    // Appends the events of the operations in progress, for the I/O thread's wait.
    void AddWaitEvents(std::vector<HANDLE>& events) const;

    // Moves every instance whose operation has ended on; each command received goes to execute,
    // and its answer back to the client.
    void Service(const std::function<std::string(ControlCommand, uint64_t)>& execute);

    // True while a reply has not yet been read by its client.
    bool ReplyPending() const;

  private:
    enum class State { Idle, Listening, Reading, Writing };
    struct Instance {
        HANDLE pipe = INVALID_HANDLE_VALUE;
        OVERLAPPED io{};
        State state = State::Idle;
        std::array<char, 256> buffer{};
        std::string reply;
        bool discarding = false;  // reading the rest of an overlong message
    };

    void Listen(Instance& in);
    void StartRead(Instance& in);
    void Restart(Instance& in);  // drops the client and listens again
    void Step(Instance& in, const std::function<std::string(ControlCommand, uint64_t)>& execute);

    std::string path_;
    std::array<Instance, 2> instances_;
};

}  // namespace sim
