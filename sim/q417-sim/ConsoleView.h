// ConsoleView: the simulator's live block of text (MotorTable) kept in place on its console, with
// its messages printed above it.
//
// Active only when standard output is a console. Redrawing moves the cursor back to the block's
// first line (console cursor positioning, measured from where the last drawing left the cursor, so
// it holds when the console has scrolled meanwhile) and overwrites the block's lines, which all
// have the same width: the console keeps a fixed picture instead of filling with lines. A message
// blanks the block, takes its first line, and the block is drawn again below it.
// When standard output is not a console (a file or a pipe, as in tests), nothing is drawn and
// messages are plain lines.
//
// Runs on the simulator's I/O thread only; nothing else writes to standard output meanwhile.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace sim {

class ConsoleView {
  public:
    ConsoleView();

    // Standard output is a console: the block is drawn.
    bool Active() const { return console_ != nullptr; }

    // Draws lines in place of the block drawn last (or below the text so far, the first time).
    void Draw(const std::vector<std::string>& lines);

    // One line of text above the block ("q417-sim: " is put in front).
    void Message(const std::string& text);

  private:
    // Moves the cursor to the first line of the block on screen and blanks the block.
    void Erase();
    void Write(const std::string& text);

    HANDLE console_ = nullptr;
    int columns_ = 80;
    std::vector<std::string> lines_;  // the block on screen; empty when none is
};

}  // namespace sim
