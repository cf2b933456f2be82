// The program editor: the four commands on list and program together, the selection filling the
// entry fields, the number rules, the key filter, the current-step display, and editing a motor
// that runs on the platform's real timer.
#include "project/ProgramEditor.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <climits>
#include <new>
#include <string>
#include <thread>
#include <vector>

#include "motion/StepperMotor.h"
#include "project/EditedStepperMotor.h"

namespace project {
namespace {

using motion::kDirLeft;
using motion::kDirNone;
using motion::kDirRight;
using motion::TsmProgram;
using motion::TsmProgramStep;
using Fields = ProgramEditor::EntryFields;
using Strings = std::vector<std::string>;

// A motor reduced to its program; can be told to fail the next program edit as an allocation
// failure would.
class FakeMotor : public EditedMotor {
  public:
    void EditProgram(const std::function<void(TsmProgram&)>& edit) override {
        ++edits;
        if (failNextEdit) {
            failNextEdit = false;
            throw std::bad_alloc();
        }
        edit(program);
    }
    int32_t StepIndex() const override { return stepIndex; }

    TsmProgram program;
    int edits = 0;
    bool failNextEdit = false;
    int32_t stepIndex = 0;
};

bool SameStep(const TsmProgramStep& a, const TsmProgramStep& b) {
    return a.Steps == b.Steps && a.Frequency == b.Frequency && a.RampTime == b.RampTime &&
           a.Direction == b.Direction;
}

class ProgramEditorTest : public ::testing::Test {
  protected:
    Strings Row(int32_t row) const {
        Strings texts;
        for (int c = 0; c < ProgramListModel::kColumnCount; ++c)
            texts.push_back(editor.List().Text(row, c));
        return texts;
    }
    Strings StepsColumn() const {
        Strings texts;
        for (int32_t i = 0; i < editor.List().Count(); ++i)
            texts.push_back(editor.List().Text(i, ProgramListModel::kSteps));
        return texts;
    }
    std::vector<int32_t> ProgramSteps() const {
        std::vector<int32_t> steps;
        for (int32_t i = 0; i < motor.program.Count(); ++i)
            steps.push_back(motor.program.Items(i).Steps);
        return steps;
    }
    // Rows "1", "2", ... with as many steps, one a row.
    void AddRows(int n) {
        for (int i = 1; i <= n; ++i)
            editor.Add({std::to_string(i), "100", "Right", "0"});
    }
    // Row i holds step i: same count, and each typed row reads back as its step.
    void ExpectLockstep() const {
        ASSERT_EQ(editor.List().Count(), motor.program.Count());
        for (int32_t i = 0; i < motor.program.Count(); ++i) {
            EXPECT_EQ(editor.List().Text(i, ProgramListModel::kNumber), std::to_string(i + 1));
            const TsmProgramStep shown = ProgramEditor::ReadEntryFields(editor.List().RowTexts(i));
            EXPECT_TRUE(SameStep(shown, motor.program.Items(i))) << "row " << i;
        }
        EXPECT_GE(editor.Selection(), -1);
        EXPECT_LT(editor.Selection(), editor.List().Count());
    }

    FakeMotor motor;
    ProgramEditor editor{motor};
};

TEST_F(ProgramEditorTest, AddWithAllFieldsZeroAppendsARowAndAStepAndResetsTheJogTally) {
    const ProgramEditor::Update update = editor.Add({"0", "0", "Right", "0"});
    EXPECT_EQ(Row(0), (Strings{"1", "0", "0", "Right", "0"}));
    ASSERT_EQ(motor.program.Count(), 1);
    EXPECT_TRUE(SameStep(motor.program.Items(0), {0, 0.0, 0.0, kDirRight}));
    EXPECT_TRUE(update.RowsChanged);
    EXPECT_EQ(update.RowCount, 1);
    EXPECT_TRUE(update.ResetJogTally);
    EXPECT_FALSE(update.SelectionChanged);
    EXPECT_FALSE(update.Fill.has_value());

    // With a row selected, Add still appends and the selection stays.
    editor.SelectItem(0, true);
    const ProgramEditor::Update second = editor.Add({"5", "7", "Left", "1"});
    EXPECT_EQ(Row(1), (Strings{"2", "5", "7", "Left", "1"}));
    EXPECT_EQ(editor.Selection(), 0);
    EXPECT_FALSE(second.SelectionChanged);
    EXPECT_EQ(second.Selection, 0);
}

// The row shows each field's text as it stands; the step holds what reads as a number, else 0.
TEST_F(ProgramEditorTest, RowsShowTheTextsAsTypedAndStepsHoldWhatReadsAsANumber) {
    struct Case {
        Fields fields;
        TsmProgramStep stored;
    };
    const Case cases[] = {
        {{"400", "250.5", "Right", "0.25"}, {400, 250.5, 0.25, kDirRight}},
        {{"10", "", "Right", "0"}, {10, 0.0, 0.0, kDirRight}},           // emptied frequency
        {{"10", "12..5", "Left", "0"}, {10, 0.0, 0.0, kDirLeft}},        // two points
        {{"10", "1.2.3", "Right", "5-"}, {10, 0.0, 0.0, kDirRight}},     // typed, yet no number
        {{"10", "-", "Right", "."}, {10, 0.0, 0.0, kDirRight}},          // sign or point alone
        {{"10", "-2.5", "Right", ".5"}, {10, -2.5, 0.5, kDirRight}},     // negative, no range check
        {{"10", "5000", "Right", "-1"}, {10, 5000.0, -1.0, kDirRight}},  // above MaxFrequency
        {{"", "1", "Right", "0"}, {0, 1.0, 0.0, kDirRight}},             // emptied Steps field
        {{"007", "1", "Right", "0"}, {7, 1.0, 0.0, kDirRight}},
        {{"12a", "1", "Right", "0"}, {0, 1.0, 0.0, kDirRight}},          // pasted, not a number
        {{"99999999999", "1", "Right", "0"}, {0, 1.0, 0.0, kDirRight}},  // beyond 32 bits
        {{"1", "1", "Pause", "0"}, {1, 1.0, 0.0, kDirNone}},
        {{"1", "1", "None", "0"}, {1, 1.0, 0.0, kDirNone}},
        {{"1", "1", "right", "0"}, {1, 1.0, 0.0, kDirNone}},  // captions compare exactly
    };
    int32_t row = 0;
    for (const Case& c : cases) {
        editor.Add(c.fields);
        const Fields& f = c.fields;
        EXPECT_EQ(Row(row), (Strings{std::to_string(row + 1), f.Steps, f.Frequency, f.Direction,
                                     f.StartStop}));
        EXPECT_TRUE(SameStep(motor.program.Items(row), c.stored))
            << f.Steps << " | " << f.Frequency << " | " << f.Direction << " | " << f.StartStop;
        ++row;
    }
}

TEST_F(ProgramEditorTest, NoneFromAFileRowGoesToTheButtonAndIsStoredAsNoneAgain) {
    editor.AppendStep({100, 50.0, 0.0, kDirNone});  // as the project reader adds it
    const ProgramEditor::Update selected = editor.SelectItem(0, true);
    ASSERT_TRUE(selected.Fill.has_value());
    EXPECT_EQ(selected.Fill->Steps, "100");
    EXPECT_EQ(selected.Fill->Frequency, "50.00");
    EXPECT_EQ(selected.Fill->Direction, "None");
    EXPECT_EQ(selected.Fill->StartStop, "0.00");

    editor.Add(*selected.Fill);
    EXPECT_EQ(Row(1), (Strings{"2", "100", "50.00", "None", "0.00"}));
    EXPECT_TRUE(SameStep(motor.program.Items(1), {100, 50.0, 0.0, kDirNone}));
}

TEST_F(ProgramEditorTest, InsertGoesAboveTheSelectedRowWhichStaysSelected) {
    AddRows(3);
    editor.SelectItem(1, true);
    const ProgramEditor::Update update = editor.Insert({"new", "1", "Left", "0"});
    EXPECT_EQ(StepsColumn(), (Strings{"1", "new", "2", "3"}));
    EXPECT_EQ(Row(1)[0], "2");
    EXPECT_EQ(Row(3)[0], "4");
    EXPECT_EQ(ProgramSteps(), (std::vector<int32_t>{1, 0, 2, 3}));
    EXPECT_EQ(motor.program.Items(1).Direction, kDirLeft);
    EXPECT_EQ(editor.Selection(), 2);
    EXPECT_TRUE(update.RowsChanged);
    EXPECT_TRUE(update.SelectionChanged);
    EXPECT_EQ(update.Selection, 2);
    EXPECT_FALSE(update.Fill.has_value());  // the fields keep the inserted texts
    EXPECT_FALSE(update.ResetJogTally);

    // The list view follows: it reports the old place's deselection and the new place's
    // selection. Both are known already and refill nothing.
    EXPECT_FALSE(editor.SelectItem(1, false).Fill.has_value());
    EXPECT_FALSE(editor.SelectItem(2, true).Fill.has_value());
    EXPECT_EQ(editor.Selection(), 2);

    // Inserting again queues up just above the selected row.
    editor.Insert({"newer", "1", "Left", "0"});
    EXPECT_EQ(StepsColumn(), (Strings{"1", "new", "newer", "2", "3"}));
    EXPECT_EQ(editor.Selection(), 3);
    ExpectLockstep();
}

TEST_F(ProgramEditorTest, ChangeReplacesTextsAndValuesAndKeepsNumberAndSelection) {
    AddRows(3);
    editor.SelectItem(1, true);
    const ProgramEditor::Update update = editor.Change({"9", "1.2.3", "Pause", "0.5"});
    EXPECT_EQ(Row(1), (Strings{"2", "9", "1.2.3", "Pause", "0.5"}));
    EXPECT_TRUE(SameStep(motor.program.Items(1), {9, 0.0, 0.5, kDirNone}));
    EXPECT_EQ(editor.Selection(), 1);
    EXPECT_FALSE(update.SelectionChanged);
    EXPECT_FALSE(update.Fill.has_value());
    EXPECT_FALSE(update.ResetJogTally);
    ExpectLockstep();
}

TEST_F(ProgramEditorTest, WithoutASelectionInsertChangeAndDeleteDoNothing) {
    const Fields fields{"9", "9", "Left", "9"};
    using Command = ProgramEditor::Update (*)(ProgramEditor&, const Fields&);
    const Command commands[] = {
        [](ProgramEditor& e, const Fields& f) { return e.Insert(f); },
        [](ProgramEditor& e, const Fields& f) { return e.Change(f); },
        [](ProgramEditor& e, const Fields&) { return e.Delete(); },
    };
    AddRows(3);
    editor.SelectItem(2, true);
    editor.SelectItem(2, false);  // selected once, then deselected
    ASSERT_EQ(editor.Selection(), -1);
    for (const Command& command : commands) {
        const int editsBefore = motor.edits;
        const ProgramEditor::Update update = command(editor, fields);
        EXPECT_FALSE(update.RowsChanged);
        EXPECT_FALSE(update.SelectionChanged);
        EXPECT_FALSE(update.Fill.has_value());
        EXPECT_FALSE(update.ResetJogTally);
        EXPECT_EQ(motor.edits, editsBefore);
        EXPECT_EQ(StepsColumn(), (Strings{"1", "2", "3"}));
        EXPECT_EQ(ProgramSteps(), (std::vector<int32_t>{1, 2, 3}));
    }
}

TEST_F(ProgramEditorTest, DeleteSelectsTheFollowingRowOrNoneAfterTheLastRow) {
    AddRows(3);
    editor.SelectItem(0, true);
    ProgramEditor::Update update = editor.Delete();
    EXPECT_EQ(StepsColumn(), (Strings{"2", "3"}));
    EXPECT_EQ(Row(0)[0], "1");  // renumbered
    EXPECT_EQ(ProgramSteps(), (std::vector<int32_t>{2, 3}));
    EXPECT_EQ(editor.Selection(), 0);
    EXPECT_EQ(update.Selection, 0);
    ASSERT_TRUE(update.Fill.has_value());  // the row that followed fills the fields
    EXPECT_EQ(update.Fill->Steps, "2");

    editor.SelectItem(1, true);  // the last row
    update = editor.Delete();
    EXPECT_EQ(StepsColumn(), (Strings{"2"}));
    EXPECT_EQ(editor.Selection(), -1);
    EXPECT_TRUE(update.SelectionChanged);
    EXPECT_EQ(update.Selection, -1);
    EXPECT_FALSE(update.Fill.has_value());  // the fields keep their texts
    ExpectLockstep();

    editor.SelectItem(0, true);  // the only row
    editor.Delete();
    EXPECT_EQ(editor.List().Count(), 0);
    EXPECT_EQ(motor.program.Count(), 0);
    EXPECT_EQ(editor.Selection(), -1);
}

// What the list view reports, in the order it reports it, and what the fields show after it.
TEST_F(ProgramEditorTest, SelectionReportsFillTheFieldsOldRowFirstNewRowLast) {
    struct Report {
        int32_t row;
        bool selected;
    };
    struct Case {
        const char* name;
        int32_t selectedBefore;
        std::vector<Report> reports;
        int32_t selectedAfter;
        const char* fieldsShow;  // Steps text of the last fill, nullptr: no fill
    };
    const Case cases[] = {
        {"click a row", -1, {{2, true}}, 2, "3"},
        {"move down", 0, {{0, false}, {2, true}}, 2, "3"},
        {"move, new row reported first", 0, {{2, true}, {0, false}}, 2, "3"},
        {"click empty space", 1, {{1, false}}, -1, "2"},  // the old row's texts return
        {"every row deselected", 1, {{-1, false}}, -1, "2"},
        {"the selected row again", 1, {{1, true}}, 1, nullptr},
        {"another row's echo", 1, {{0, false}}, 1, nullptr},
        {"nothing selected, all deselected", -1, {{-1, false}}, -1, nullptr},
        {"a row beyond the list", 1, {{7, true}}, 1, nullptr},
    };
    for (const Case& c : cases) {
        ProgramEditor fresh(motor);
        for (int i = 1; i <= 3; ++i)
            fresh.Add({std::to_string(i), "1", "Right", "0"});
        if (c.selectedBefore >= 0) fresh.SelectItem(c.selectedBefore, true);
        const char* shown = nullptr;
        std::string last;
        for (const Report& r : c.reports) {
            const ProgramEditor::Update update = fresh.SelectItem(r.row, r.selected);
            EXPECT_EQ(update.Selection, fresh.Selection()) << c.name;
            if (update.Fill) {
                last = update.Fill->Steps;
                shown = last.c_str();
            }
        }
        EXPECT_EQ(fresh.Selection(), c.selectedAfter) << c.name;
        if (c.fieldsShow == nullptr) {
            EXPECT_EQ(shown, nullptr) << c.name;
        } else {
            EXPECT_EQ(last, c.fieldsShow) << c.name;
        }
    }
}

TEST(ProgramEditorKeys, FrequencyAndStartStopFieldsTakeDigitsPointMinusAndControlKeys) {
    const uint32_t kept[] = {8 /*Backspace*/, 13, 22 /*Ctrl+V*/, 31, '-', '.', '0', '5', '9'};
    const uint32_t discarded[] = {'a',   'e', 'E', 'x', ',',  ' ',
                                  '+',   '/', ':', 127, 0xE4, 0x0660 /*Arabic-Indic zero*/,
                                  0xFF10 /*full-width zero*/};
    for (const uint32_t key : kept)
        EXPECT_EQ(ProgramEditor::Edit2KeyPress(key), key) << key;
    for (const uint32_t key : discarded)
        EXPECT_EQ(ProgramEditor::Edit2KeyPress(key), 0u) << key;
}

TEST(ProgramEditorJog, DirectionButtonCycleAndJogTallyFields) {
    EXPECT_STREQ(ProgramEditor::NextDirectionCaption("Right"), "Left");
    EXPECT_STREQ(ProgramEditor::NextDirectionCaption("Left"), "Pause");
    EXPECT_STREQ(ProgramEditor::NextDirectionCaption("Pause"), "Right");
    EXPECT_STREQ(ProgramEditor::NextDirectionCaption("None"), "Right");
    EXPECT_STREQ(ProgramEditor::NextDirectionCaption(""), "Right");

    struct Case {
        int32_t tally;
        const char* steps;
        const char* direction;
    };
    const Case cases[] = {{10, "10", "Right"},
                          {0, "0", "Right"},
                          {-1, "1", "Left"},
                          {-50, "50", "Left"},
                          {INT_MIN, "2147483648", "Left"}};
    for (const Case& c : cases) {
        const ProgramEditor::JogFields fields = ProgramEditor::JogTallyFields(c.tally);
        EXPECT_EQ(fields.Steps, c.steps) << c.tally;
        EXPECT_STREQ(fields.Direction, c.direction) << c.tally;
    }
}

TEST_F(ProgramEditorTest, JoggedDistanceRecordedByAddButNotByInsertOrChange) {
    const ProgramEditor::JogFields jogged = ProgramEditor::JogTallyFields(-50);
    EXPECT_TRUE(editor.Add({jogged.Steps, "100", jogged.Direction, "0"}).ResetJogTally);
    EXPECT_TRUE(SameStep(motor.program.Items(0), {50, 100.0, 0.0, kDirLeft}));
    editor.SelectItem(0, true);
    EXPECT_FALSE(editor.Insert({"1", "1", "Right", "0"}).ResetJogTally);
    EXPECT_FALSE(editor.Change({"1", "1", "Right", "0"}).ResetJogTally);
}

TEST_F(ProgramEditorTest, ShowCurrentStepSelectsTheRunningStepsRow) {
    AddRows(3);
    struct Case {
        int32_t stepIndex;
        int32_t selection;
        const char* fieldsShow;  // nullptr: no fill
    };
    const Case cases[] = {
        {1, 1, "2"},       // a run reaches step 1
        {1, 1, nullptr},   // the same step again: nothing changes
        {2, 2, "3"},       // next step
        {0, 0, "1"},       // past the last step, StepIndex is 0 again
        {3, -1, "1"},      // beyond the last row: deselected, its texts back in the fields
        {7, -1, nullptr},  // still nothing to select
        {-1, -1, nullptr},
    };
    for (const Case& c : cases) {
        motor.stepIndex = c.stepIndex;
        const ProgramEditor::Update update = editor.ShowCurrentStep();
        EXPECT_EQ(editor.Selection(), c.selection) << c.stepIndex;
        EXPECT_EQ(update.Selection, c.selection) << c.stepIndex;
        if (c.fieldsShow == nullptr) {
            EXPECT_FALSE(update.Fill.has_value()) << c.stepIndex;
        } else {
            ASSERT_TRUE(update.Fill.has_value()) << c.stepIndex;
            EXPECT_EQ(update.Fill->Steps, c.fieldsShow) << c.stepIndex;
        }
    }
}

TEST_F(ProgramEditorTest, CurrentStepRequestsCoalesceUntilShown) {
    EXPECT_TRUE(editor.RequestCurrentStep());   // post a message
    EXPECT_FALSE(editor.RequestCurrentStep());  // one is on its way already
    EXPECT_FALSE(editor.RequestCurrentStep());
    editor.ShowCurrentStep();
    EXPECT_TRUE(editor.RequestCurrentStep());
    // The message could not be posted: nothing is on its way, so the next change posts again.
    editor.CancelCurrentStepRequest();
    EXPECT_TRUE(editor.RequestCurrentStep());
    EXPECT_FALSE(editor.RequestCurrentStep());
}

TEST_F(ProgramEditorTest, AFailedProgramEditLeavesListAndProgramAsTheyWere) {
    AddRows(3);
    editor.SelectItem(1, true);
    using Command = void (*)(ProgramEditor&);
    const Command commands[] = {
        [](ProgramEditor& e) {
            e.Add({"9", "1", "Right", "0"});
        },
        [](ProgramEditor& e) {
            e.Insert({"9", "1", "Right", "0"});
        },
        [](ProgramEditor& e) {
            e.Change({"9", "1", "Right", "0"});
        },
        [](ProgramEditor& e) { e.Delete(); },
        [](ProgramEditor& e) {
            e.AppendStep({9, 1.0, 0.0, kDirRight});
        },
    };
    for (const Command& command : commands) {
        motor.failNextEdit = true;
        EXPECT_THROW(command(editor), std::bad_alloc);
        EXPECT_EQ(StepsColumn(), (Strings{"1", "2", "3"}));
        EXPECT_EQ(ProgramSteps(), (std::vector<int32_t>{1, 2, 3}));
        EXPECT_EQ(editor.Selection(), 1);
    }
}

TEST_F(ProgramEditorTest, ProjectLoadingAndNewProjectKeepListAndProgramTogether) {
    editor.AppendStep({400, 250.0, 0.5, kDirRight});
    editor.AppendStep({400, 250.0, 0.5, kDirLeft});
    EXPECT_EQ(Row(1), (Strings{"2", "400", "250.00", "Left", "0.50"}));
    std::vector<TsmProgramStep> saved;
    editor.GetProgram(saved);
    ASSERT_EQ(saved.size(), 2u);
    EXPECT_TRUE(SameStep(saved[1], {400, 250.0, 0.5, kDirLeft}));
    ExpectLockstep();

    editor.SelectItem(1, true);
    const ProgramEditor::Update cleared = editor.ClearProgram();
    EXPECT_EQ(cleared.RowCount, 0);
    EXPECT_TRUE(cleared.SelectionChanged);
    EXPECT_EQ(editor.Selection(), -1);
    EXPECT_EQ(motor.program.Capacity(), 0);  // storage released
    editor.AppendStep({1, 1.0, 0.0, kDirNone});
    EXPECT_EQ(editor.Selection(), -1);  // no old selection comes back with new rows
    ExpectLockstep();
}

// A long, fixed sequence of every event the window forwards; after each one the list and the
// program agree row for row and the selection lies inside the list.
TEST_F(ProgramEditorTest, ListAndProgramStayInLockstepThroughAnySequence) {
    enum Op { kAdd, kInsert, kChange, kDelete, kSelect, kDeselect, kShowStep, kAppend, kClear };
    struct Step {
        Op op;
        int32_t arg;
    };
    const Step script[] = {
        {kDelete, 0},   {kAdd, 1},    {kAdd, 2},      {kInsert, 3},   {kSelect, 0},  {kInsert, 4},
        {kInsert, 5},   {kChange, 6}, {kSelect, 3},   {kDelete, 0},   {kDelete, 0},  {kAppend, 7},
        {kShowStep, 1}, {kChange, 8}, {kShowStep, 9}, {kInsert, 9},   {kSelect, 0},  {kDelete, 0},
        {kDeselect, 0}, {kDelete, 0}, {kAdd, 10},     {kClear, 0},    {kInsert, 11}, {kAdd, 12},
        {kSelect, 0},   {kDelete, 0}, {kAdd, 13},     {kShowStep, 0}, {kInsert, 14}, {kDelete, 0},
    };
    auto run = [&](const Step& s) {
        const Fields fields{std::to_string(s.arg), std::to_string(s.arg) + ".5",
                            s.arg % 3 == 0 ? "Pause" : (s.arg % 3 == 1 ? "Right" : "Left"),
                            "0." + std::to_string(s.arg % 10)};
        switch (s.op) {
            case kAdd:
                editor.Add(fields);
                break;
            case kInsert:
                editor.Insert(fields);
                break;
            case kChange:
                editor.Change(fields);
                break;
            case kDelete:
                editor.Delete();
                break;
            case kSelect:
                editor.SelectItem(s.arg % (editor.List().Count() + 1), true);
                break;
            case kDeselect:
                editor.SelectItem(-1, false);
                break;
            case kShowStep:
                motor.stepIndex = s.arg;
                editor.ShowCurrentStep();
                break;
            case kAppend:
                editor.AppendStep({s.arg, s.arg + 0.5, 0.25, kDirLeft});
                break;
            case kClear:
                editor.ClearProgram();
                break;
        }
    };
    int i = 0;
    for (const Step& s : script) {
        run(s);
        ExpectLockstep();
        if (HasFailure()) FAIL() << "after script step " << i;
        ++i;
    }
    // Then a few thousand pseudo-random events over the same operations.
    uint32_t seed = 12345;
    for (int n = 0; n < 3000; ++n) {
        seed = seed * 1103515245u + 12345u;
        const Step s{static_cast<Op>((seed >> 16) % 9), static_cast<int32_t>((seed >> 8) % 13)};
        if (s.op == kClear && n % 7 != 0) continue;  // keep the lists from staying short
        run(s);
        ExpectLockstep();
        if (HasFailure()) FAIL() << "after random event " << n;
    }
}

// The editor on a real motor that runs a looping program on the platform's timer while the
// "window thread" (this test) adds, inserts, changes, deletes and shows the current step; the
// motor's step-changed callback asks for the display from the timer thread.
struct StepChangedReceiver {
    ProgramEditor* editor = nullptr;
    std::atomic<int> posted{0};
    std::atomic<int> changes{0};
    void StepChanged(int32_t) {
        ++changes;
        if (editor->RequestCurrentStep()) ++posted;
    }
};

TEST(ProgramEditorThreads, EditingWhileTheMotorRunsOnARealTimerIsSafe) {
    motion::TStepperMotor motor(0, platform::SystemTimerService());
    EditedStepperMotor edited(motor);
    ProgramEditor editor(edited);
    StepChangedReceiver receiver;
    receiver.editor = &editor;
    motor.SetOnStepChanged(
        motion::TStepperMotor::MotorEvent::Bind<&StepChangedReceiver::StepChanged>(&receiver));

    for (int i = 0; i < 4; ++i)
        editor.Add({"2", "900", i % 2 ? "Left" : "Right", "0"});
    motor.LockProgram()->Looping = true;
    motor.StartProgram();

    int handled = 0;
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(500);
    for (int round = 0; std::chrono::steady_clock::now() < end; ++round) {
        const Fields fields{std::to_string(1 + round % 3), "800", round % 2 ? "Left" : "Pause",
                            round % 4 ? "0" : "0.002"};
        switch (round % 6) {
            case 0:
                editor.Add(fields);
                break;
            case 1:
                editor.SelectItem(round % editor.List().Count(), true);
                break;
            case 2:
                editor.Insert(fields);
                break;
            case 3:
                editor.Change(fields);
                break;
            case 4:
                if (editor.List().Count() > 4) editor.Delete();
                break;
            case 5:
                // The posted message arrives: one pending at most, however many steps passed.
                if (receiver.posted.load() > handled) {
                    editor.ShowCurrentStep();
                    ++handled;
                }
                EXPECT_LE(receiver.posted.load() - handled, 1);
                break;
        }
        std::this_thread::sleep_for(std::chrono::microseconds(300));
    }
    motor.Stop();

    EXPECT_GT(receiver.changes.load(), 10);
    EXPECT_GT(handled, 0);
    std::vector<TsmProgramStep> program;
    editor.GetProgram(program);
    ASSERT_EQ(static_cast<int32_t>(program.size()), editor.List().Count());
    for (int32_t i = 0; i < editor.List().Count(); ++i)
        EXPECT_TRUE(SameStep(ProgramEditor::ReadEntryFields(editor.List().RowTexts(i)), program[i]))
            << "row " << i;
}

}  // namespace
}  // namespace project
