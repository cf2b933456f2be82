#include "project/ProgramEditor.h"

#include <utility>

#include "project/NumberText.h"

namespace project {

using motion::TsmProgram;
using motion::TsmProgramStep;

template <typename ProgramEdit, typename Undo>
void ProgramEditor::EditProgramOrUndo(ProgramEdit&& edit, Undo&& undo) {
    try {
        motor_.EditProgram(edit);
    } catch (...) {
        undo();
        throw;
    }
}

ProgramEditor::Update ProgramEditor::Unchanged() const {
    Update update;
    update.RowCount = list_.Count();
    update.Selection = selection_;
    return update;
}

ProgramEditor::Update ProgramEditor::RowsUpdate() const {
    Update update = Unchanged();
    update.RowsChanged = true;
    return update;
}

ProgramEditor::Update ProgramEditor::Add(const EntryFields& fields) {
    const TsmProgramStep step = ReadEntryFields(fields);
    list_.Append(fields);
    EditProgramOrUndo([&](TsmProgram& program) { program.Add() = step; },
                      [&] { list_.Delete(list_.Count() - 1); });
    Update update = RowsUpdate();
    update.ResetJogTally = true;
    return update;
}

ProgramEditor::Update ProgramEditor::Insert(const EntryFields& fields) {
    if (selection_ < 0) return Unchanged();
    const int32_t p = selection_;
    const TsmProgramStep step = ReadEntryFields(fields);
    list_.Insert(p, fields);
    EditProgramOrUndo([&](TsmProgram& program) { program.Insert(p) = step; },
                      [&] { list_.Delete(p); });
    // The selected row moved down with the rows below the new one. The entry fields are not
    // refilled from it: they still hold the texts just inserted, ready to insert again.
    selection_ = p + 1;
    Update update = RowsUpdate();
    update.SelectionChanged = true;
    return update;
}

ProgramEditor::Update ProgramEditor::Change(const EntryFields& fields) {
    if (selection_ < 0) return Unchanged();
    const int32_t p = selection_;
    const TsmProgramStep step = ReadEntryFields(fields);
    EntryFields previous = list_.RowTexts(p);
    list_.Change(p, fields);
    EditProgramOrUndo(
        [&](TsmProgram& program) {
            // The list and the program agree in length; the check keeps a program that someone
            // else shortened from being written past its end.
            if (p < program.Count()) program.Items(p) = step;
        },
        [&] { list_.Change(p, std::move(previous)); });
    return RowsUpdate();
}

ProgramEditor::Update ProgramEditor::Delete() {
    if (selection_ < 0) return Unchanged();
    const int32_t p = selection_;
    EntryFields removed = list_.RowTexts(p);
    list_.Delete(p);
    EditProgramOrUndo([&](TsmProgram& program) { program.Delete(p); },
                      [&] { list_.Insert(p, std::move(removed)); });
    Update update = RowsUpdate();
    update.SelectionChanged = true;
    if (p < list_.Count()) {
        // The removed row cannot report its deselection; the row that took its place reports
        // its selection and fills the fields.
        selection_ = p;
        update.Fill = list_.RowTexts(p);
    } else {
        selection_ = -1;  // the fields keep their texts
    }
    update.Selection = selection_;
    return update;
}

ProgramEditor::Update ProgramEditor::MoveSelection(int32_t row) {
    Update update = Unchanged();
    if (row == selection_) return update;
    if (selection_ >= 0) update.Fill = list_.RowTexts(selection_);  // old row first
    if (row >= 0) update.Fill = list_.RowTexts(row);                // new row last
    selection_ = row;
    update.SelectionChanged = true;
    update.Selection = row;
    return update;
}

ProgramEditor::Update ProgramEditor::SelectItem(int32_t row, bool selected) {
    if (selected) {
        // Whether the list reports the old row's deselection before or after this, the fields
        // end up showing the new row.
        if (row < 0 || row >= list_.Count()) return Unchanged();
        return MoveSelection(row);
    }
    // Deselection: only the row the editor holds as selected (or "every row") counts; a report
    // about any other row is the echo of a selection the editor has already moved.
    if (selection_ >= 0 && (row == selection_ || row == -1)) return MoveSelection(-1);
    return Unchanged();
}

bool ProgramEditor::RequestCurrentStep() {
    // Read-modify-write on both sides: whichever comes second in the flag's order sees the
    // other, so a step change after ShowCurrentStep has read the step index always posts again.
    return !currentStepPending_.exchange(true, std::memory_order_acq_rel);
}

void ProgramEditor::CancelCurrentStepRequest() {
    currentStepPending_.store(false, std::memory_order_release);
}

ProgramEditor::Update ProgramEditor::ShowCurrentStep() {
    currentStepPending_.exchange(false, std::memory_order_acq_rel);
    const int32_t step = motor_.StepIndex();
    return MoveSelection(step >= 0 && step < list_.Count() ? step : -1);
}

void ProgramEditor::AppendStep(const TsmProgramStep& step) {
    list_.AppendValues(step);
    EditProgramOrUndo([&](TsmProgram& program) { program.Add() = step; },
                      [&] { list_.Delete(list_.Count() - 1); });
}

ProgramEditor::Update ProgramEditor::ClearProgram() {
    list_.Clear();
    motor_.EditProgram([](TsmProgram& program) { program.Clear(); });
    Update update = RowsUpdate();
    update.SelectionChanged = selection_ >= 0;
    selection_ = -1;
    update.Selection = -1;
    return update;
}

void ProgramEditor::GetProgram(std::vector<TsmProgramStep>& steps) const {
    steps.clear();
    motor_.EditProgram([&](TsmProgram& program) {
        steps.reserve(static_cast<size_t>(program.Count()));
        for (int32_t i = 0; i < program.Count(); ++i)
            steps.push_back(program.Items(i));
    });
}

TsmProgramStep ProgramEditor::ReadEntryFields(const EntryFields& fields) {
    TsmProgramStep step{0, 0.0, 0.0, DirectionFromCaption(fields.Direction)};
    if (!ParseDecimalInteger(fields.Steps, step.Steps)) step.Steps = 0;
    if (!ParseReal(fields.Frequency, step.Frequency)) step.Frequency = 0.0;
    if (!ParseReal(fields.StartStop, step.RampTime)) step.RampTime = 0.0;
    return step;
}

uint8_t ProgramEditor::DirectionFromCaption(std::string_view caption) {
    if (caption == kRight) return motion::kDirRight;
    if (caption == kLeft) return motion::kDirLeft;
    return motion::kDirNone;
}

uint32_t ProgramEditor::Edit2KeyPress(uint32_t key) {
    const bool kept = key < 32 || key == '-' || key == '.' || (key >= '0' && key <= '9');
    return kept ? key : 0;
}

const char* ProgramEditor::NextDirectionCaption(std::string_view caption) {
    if (caption == kRight) return kLeft;
    if (caption == kLeft) return kPause;
    return kRight;
}

ProgramEditor::JogFields ProgramEditor::JogTallyFields(int32_t tally) {
    // Widened first: the magnitude of the most negative tally does not fit 32 bits.
    const int64_t value = tally;
    if (value < 0) return {std::to_string(-value), kLeft};
    return {std::to_string(value), kRight};
}

}  // namespace project
