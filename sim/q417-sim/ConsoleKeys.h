// ConsoleKeys: the keys pressed in the simulator's console window, handed to its I/O thread.
//
// A thread of its own blocks in ReadConsoleInputA and queues the character of every key press;
// each queued key signals an event that the I/O thread waits on. Without a console on standard
// input (started by a test, input redirected) no thread is started and no key ever arrives.
// The reading thread cannot be woken from ReadConsoleInputA, so it is detached and ends with the
// process; the queue it writes to is shared with it, so it never outlives what it touches.
#pragma once

#include <windows.h>

#include <memory>
#include <mutex>
#include <string>

namespace sim {

class ConsoleKeys {
  public:
    ConsoleKeys();

    // Starts reading when standard input is a console; false when it is not.
    bool Start();

    // Auto-reset event, signalled when keys are queued. Valid as long as the process runs.
    HANDLE Event() const { return queue_->event; }

    // The keys pressed since the last call, in order, in lower case.
    std::string Take();

  private:
    struct Queue {
        HANDLE event = nullptr;
        std::mutex mutex;
        std::string keys;
        ~Queue() { CloseHandle(event); }
    };
    static void Run(HANDLE input, std::shared_ptr<Queue> queue);

    std::shared_ptr<Queue> queue_;
};

}  // namespace sim
