#include "ConsoleView.h"

#include <cstdio>

namespace sim {

ConsoleView::ConsoleView() {
    const HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
    DWORD mode = 0;
    CONSOLE_SCREEN_BUFFER_INFO info{};
    if (output != nullptr && output != INVALID_HANDLE_VALUE && GetConsoleMode(output, &mode) &&
        GetConsoleScreenBufferInfo(output, &info)) {
        console_ = output;
        columns_ = info.dwSize.X > 1 ? info.dwSize.X : 80;
    }
}

void ConsoleView::Draw(const std::vector<std::string>& lines) {
    if (!Active()) return;
    Erase();
    CONSOLE_SCREEN_BUFFER_INFO info{};
    if (GetConsoleScreenBufferInfo(console_, &info) && info.dwSize.X > 1) columns_ = info.dwSize.X;
    std::string text;
    for (const std::string& line : lines) {
        // One column short of the width: a full line would wrap the cursor by itself.
        text += line.size() < static_cast<size_t>(columns_) ? line : line.substr(0, columns_ - 1);
        text += '\n';
    }
    Write(text);
    lines_ = lines;
}

void ConsoleView::Message(const std::string& text) {
    if (!Active()) {
        std::printf("q417-sim: %s\n", text.c_str());
        std::fflush(stdout);
        return;
    }
    const std::vector<std::string> block = lines_;
    Erase();
    lines_.clear();
    Write("q417-sim: " + text + "\n");
    if (!block.empty()) Draw(block);
}

void ConsoleView::Erase() {
    if (lines_.empty()) return;
    std::fflush(stdout);
    CONSOLE_SCREEN_BUFFER_INFO info{};
    if (!GetConsoleScreenBufferInfo(console_, &info)) return;
    const int rows = static_cast<int>(lines_.size());
    COORD top{0, static_cast<SHORT>(info.dwCursorPosition.Y >= rows ? info.dwCursorPosition.Y - rows
                                                                    : 0)};
    DWORD written = 0;
    FillConsoleOutputCharacterA(console_, ' ', static_cast<DWORD>(info.dwSize.X * rows), top,
                                &written);
    SetConsoleCursorPosition(console_, top);
}

void ConsoleView::Write(const std::string& text) {
    std::fputs(text.c_str(), stdout);
    std::fflush(stdout);
}

}  // namespace sim
