// The rows of one motor's program list, as the window's list view shows them: one row per
// program step, columns "#", "Steps", "Freq. [Hz]", "Direction", "Start/Stop".
//
// Two kinds of row: a row made by the editor shows the entry fields' texts exactly as typed
// (they may disagree with the stored step: "1.2.3" while the step holds 0 Hz); a row read from a
// project file shows its step's values formatted as the file writes them ("250.00", "None").
// The latter keeps only the values and formats them when asked, so loading a large file costs
// a few words per row, not five strings.
//
// The "#" column is the row's position (1 to n), computed when asked: renumbering after an
// insert or delete costs nothing, and loading n rows stays linear. Window thread only.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "motion/MotorProgram.h"

namespace project {

class ProgramListModel {
  public:
    enum Column : int { kNumber, kSteps, kFrequency, kDirection, kStartStop, kColumnCount };

    struct ColumnInfo {
        const char* Caption;
        int Width;  // pixels
    };
    static constexpr ColumnInfo kColumns[kColumnCount] = {
        {"#", 36}, {"Steps", 52}, {"Freq. [Hz]", 64}, {"Direction", 64}, {"Start/Stop", 64}};

    // The texts of a row made by the editor, in column order after "#".
    struct Texts {
        std::string Steps;
        std::string Frequency;
        std::string Direction;
        std::string StartStop;
    };

    int32_t Count() const { return static_cast<int32_t>(rows_.size()); }

    // Appends a row showing step's values as a project file writes them.
    void AppendValues(const motion::TsmProgramStep& step);
    // Appends a row showing texts as typed.
    void Append(Texts texts);
    // A new row at index showing texts, the rows from index on moving down one place. An index
    // outside 0 to Count - 1 appends.
    void Insert(int32_t index, Texts texts);
    // Replaces the texts of row index; outside the list nothing changes.
    void Change(int32_t index, Texts texts);
    // Removes row index; outside the list nothing changes.
    void Delete(int32_t index);
    void Clear();

    // The text of a cell; empty outside the list. "#" is the row's position from 1.
    std::string Text(int32_t row, int column) const;
    // Texts of row index (for copying a selected row into the entry fields).
    Texts RowTexts(int32_t index) const;

    // The words the "Direction" column shows for a step read from a file.
    static const char* DirectionText(uint8_t direction);

  private:
    struct Row {
        motion::TsmProgramStep values{};
        std::unique_ptr<Texts> typed;  // null: formatted from values
    };

    std::vector<Row> rows_;
};

}  // namespace project
