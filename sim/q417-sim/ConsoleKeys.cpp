#include "ConsoleKeys.h"

#include <cctype>
#include <thread>

namespace sim {

ConsoleKeys::ConsoleKeys() : queue_(std::make_shared<Queue>()) {
    queue_->event = CreateEventA(nullptr, FALSE, FALSE, nullptr);
}

bool ConsoleKeys::Start() {
    const HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    DWORD mode = 0;
    if (input == nullptr || input == INVALID_HANDLE_VALUE || !GetConsoleMode(input, &mode)) {
        return false;
    }
    std::thread(Run, input, queue_).detach();
    return true;
}

std::string ConsoleKeys::Take() {
    std::lock_guard<std::mutex> lock(queue_->mutex);
    std::string keys;
    keys.swap(queue_->keys);
    return keys;
}

void ConsoleKeys::Run(HANDLE input, std::shared_ptr<Queue> queue) {
    for (;;) {
        INPUT_RECORD record{};
        DWORD count = 0;
        if (!ReadConsoleInputA(input, &record, 1, &count)) return;
        if (count != 1 || record.EventType != KEY_EVENT || !record.Event.KeyEvent.bKeyDown) {
            continue;
        }
        const char c = record.Event.KeyEvent.uChar.AsciiChar;
        if (c == 0) continue;
        {
            std::lock_guard<std::mutex> lock(queue->mutex);
            queue->keys += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        }
        SetEvent(queue->event);
    }
}

}  // namespace sim
