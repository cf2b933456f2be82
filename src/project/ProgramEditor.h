// The editor of one motor's program: the motor's program list (the rows its list view shows)
// and the motor's TsmProgram kept in lockstep, row i belonging to program step i. Every change
// goes through here, list first, then the program under the motor's lock, so a running motor
// never sees a program that is half changed. Should the program change fail (out of memory),
// the list change is undone, and the two still agree.
//
// The window keeps its controls and forwards their events: the four entry fields come in as the
// texts they show, and each command answers with an Update that says what the window must show
// afterwards (row count, selected row, texts for the entry fields, jog tally back to 0). The
// editor keeps the selected row itself; the list view only mirrors it.
//
// Numbers: what cannot be read becomes 0 in the program step while the row shows the field's
// text as it stands ("12..5" shown, 0 Hz stored). Nothing is checked against a range.
//
// Threads: everything on the window's thread, except RequestCurrentStep, which the motor's
// step-changed callback calls on the timer thread.
#pragma once

#include <atomic>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "motion/MotorProgram.h"
#include "project/EditedMotor.h"
#include "project/ProgramListModel.h"

namespace project {

class ProgramEditor {
  public:
    // The texts of the four entry fields in the order of the list's columns: Steps field,
    // frequency field, direction button caption, start/stop field.
    using EntryFields = ProgramListModel::Texts;

    // Captions of the direction button.
    static constexpr const char* kRight = "Right";
    static constexpr const char* kLeft = "Left";
    static constexpr const char* kPause = "Pause";

    // What the window shows after an event.
    struct Update {
        // Rows were added, removed or rewritten: set the list view's item count to RowCount and
        // redraw it (the "#" column follows the rows' positions).
        bool RowsChanged = false;
        int32_t RowCount = 0;
        // The selected row moved: show Selection selected in the list view, -1 for none. Either
        // ignore the list's notifications while doing so, or set the selected state of that one
        // row (a single-selection list drops the old one itself) and clear all rows only for
        // none: the reports that causes come back to SelectItem as known and change nothing.
        bool SelectionChanged = false;
        int32_t Selection = -1;
        // Texts to put into the entry fields, when they are to change.
        std::optional<EntryFields> Fill;
        // Add: the motor's jog tally goes back to 0, so the next jog counts afresh.
        bool ResetJogTally = false;
    };

    explicit ProgramEditor(EditedMotor& motor) : motor_(motor) {}
    ProgramEditor(const ProgramEditor&) = delete;
    ProgramEditor& operator=(const ProgramEditor&) = delete;

    // The rows, for the list view's display requests.
    const ProgramListModel& List() const { return list_; }
    // The selected row, -1 for none.
    int32_t Selection() const { return selection_; }

    // "Add": a row with the fields' texts and a step with their values at the end. The selection
    // stays; the jog tally goes back to 0.
    Update Add(const EntryFields& fields);
    // "Insert": a row and step before the selected row, which stays selected at its new place.
    // The entry fields keep their texts, so repeated inserts queue up above the selected row.
    // Nothing happens without a selection.
    Update Insert(const EntryFields& fields);
    // "Change": the selected row's texts and its step's values replaced. Number and selection
    // stay. Nothing happens without a selection.
    Update Change(const EntryFields& fields);
    // "Delete": the selected row and its step removed; the row that followed becomes selected
    // and fills the entry fields. Deleting the last row leaves no selection and the entry fields
    // as they are. Nothing happens without a selection.
    Update Delete();

    // The list view reports that row's selection state changed (ListView1SelectItem); row -1
    // with selected false reports that every row was deselected. The row whose state changed
    // fills the entry fields: when the selection moves, the list reports the old row first and
    // the new one last, so the fields end up showing the new row, and a row that merely loses
    // the selection puts its own texts back into the fields. A report that matches what the
    // editor already knows (the echo of an Update applied to the list view) changes nothing.
    Update SelectItem(int32_t row, bool selected);

    // The motor left a program step (its OnStepChanged, on the timer thread or the USB receive
    // thread): true when the window should post itself a message to run ShowCurrentStep; false
    // while such a message is still pending, so the message queue holds one per motor at most.
    // Never blocks. Any thread.
    bool RequestCurrentStep();
    // The message RequestCurrentStep asked for could not be posted: the next step change asks
    // again. Any thread.
    void CancelCurrentStepRequest();
    // Selects the row of the program step the motor is carrying out, or no row when the list
    // has no row of that number; the entry fields follow as with any selection. Window thread.
    Update ShowCurrentStep();

    // For the project reader and writer (ProjectTarget): a step appended with a row showing its
    // values formatted as the file writes them; the window redraws the list once the loading
    // has finished (RenumberProgramList).
    void AppendStep(const motion::TsmProgramStep& step);
    // New Project: every row and step removed, the program's storage released, no selection.
    Update ClearProgram();
    // The program's steps, copied out under the motor's lock.
    void GetProgram(std::vector<motion::TsmProgramStep>& steps) const;

    // The step that Add, Insert and Change store for the fields: Steps as a decimal integer,
    // frequency and start/stop time as real numbers with '.' as decimal point, each 0 when the
    // text is not such a number; the direction from the button's caption.
    static motion::TsmProgramStep ReadEntryFields(const EntryFields& fields);
    // Exactly "Right" gives right, exactly "Left" left, any other caption ("Pause", or "None"
    // from a row read from a file) none.
    static uint8_t DirectionFromCaption(std::string_view caption);

    // The key filter of the frequency and start/stop fields (Edit2KeyPress): key as it came
    // (a character code), or 0 when it is to be discarded. Control characters (below 32), '-',
    // '.' and the digits pass; neither the place nor the number of '-' and '.' is checked.
    static uint32_t Edit2KeyPress(uint32_t key);

    // The direction button's click: "Right" -> "Left" -> "Pause", any other caption -> "Right".
    static const char* NextDirectionCaption(std::string_view caption);

    // What the Steps field and the direction button show for a jog tally: the magnitude and
    // "Left" when it is negative, else the tally and "Right" (0 shows "0" and "Right").
    struct JogFields {
        std::string Steps;
        const char* Direction;
    };
    static JogFields JogTallyFields(int32_t tally);

  private:
    // Runs the program half of a command; should it throw, undo restores the list.
    template <typename ProgramEdit, typename Undo>
    void EditProgramOrUndo(ProgramEdit&& edit, Undo&& undo);
    Update Unchanged() const;
    Update RowsUpdate() const;
    // Moves the selection to row (-1: none) as the list reports it: the old row first, then
    // the new one, each filling the fields.
    Update MoveSelection(int32_t row);

    EditedMotor& motor_;
    ProgramListModel list_;
    int32_t selection_ = -1;
    std::atomic<bool> currentStepPending_{false};
};

}  // namespace project
