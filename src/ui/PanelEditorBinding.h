// TPanelEditorBinding: the motor panels' program editing as the window sees it. It reads the
// entry fields for the editor's Add, Insert, Change and Delete, applies the editor's updates to
// the program list and the fields, hands the list's notifications to the editor (the list's
// reports of a selection the window sets itself are echoes and go nowhere, so one selection
// change runs one pass), and shows the current program step of a host-timed run.
//
// Threads: the window's thread, except MotorStepChanged (a motor's timer thread), which only
// posts to the window.
#pragma once

#include <windows.h>

#include <commctrl.h>

#include <array>
#include <cstdint>
#include <string>

#include "project/ProgramEditor.h"
#include "ui/FormControls.h"

namespace ui {

class TMotorViewBridge;

// The main form as the binding sees it: its panels' controls, the editors and the window.
class EditorBindingForm {
  public:
    // Handlers act only while this is true (created and not yet destroyed).
    virtual bool Ready() const = 0;
    virtual HWND Handle() const = 0;
    virtual TFormControls& Controls() = 0;
    virtual project::ProgramEditor& Editor(int motor) = 0;
    // An editor update that starts a new program empties the jog tally shown in the panel.
    virtual void ZeroJogTally(int motor) = 0;

  protected:
    ~EditorBindingForm() = default;
};

class TPanelEditorBinding {
  public:
    explicit TPanelEditorBinding(EditorBindingForm& form) : form_(form) {}
    TPanelEditorBinding(const TPanelEditorBinding&) = delete;
    TPanelEditorBinding& operator=(const TPanelEditorBinding&) = delete;

    void Button3Click(const TFormControls::Entry& sender);   // "Add"
    void Button4Click(const TFormControls::Entry& sender);   // "Insert"
    void Button5Click(const TFormControls::Entry& sender);   // "Change"
    void Button8Click(const TFormControls::Entry& sender);   // "Delete"
    void Button12Click(const TFormControls::Entry& sender);  // the direction button
    // The program lists' notifications (text requests, selection changes).
    LRESULT OnNotify(const NMHDR& header);
    // OnStepChanged (a timer thread): ShowCurrentStep is posted to the window's thread.
    void MotorStepChanged(int32_t motor);
    void ShowCurrentStep(int motor);
    // An editor's update shown in motor's panel.
    void Apply(int motor, const project::ProgramEditor::Update& update);
    // The project reader's calls for the panels' lists and loop boxes.
    void AppendStep(int motor, const motion::TsmProgramStep& step);
    void ClearProgram(int motor);
    void SetLoopCheckBox(int motor, bool checked);
    void RenumberProgramList(int motor);

  private:
    project::ProgramEditor::EntryFields ReadEntryFields(int motor) const;
    void ListView1SelectItem(int motor, int32_t row, bool selected);

    EditorBindingForm& form_;
    std::string displayText_;  // the list views' text requests point into it
    // Per list: the window is setting the list's selection from an editor update, so the list's
    // reports of it are echoes and not the operator's.
    std::array<bool, kMotorCount> applyingSelection_{};
};

}  // namespace ui
