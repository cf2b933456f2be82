#include "ui/PanelEditorBinding.h"

#include <algorithm>
#include <cstring>

#include "ui/MainForm.h"

namespace ui {

project::ProgramEditor::EntryFields TPanelEditorBinding::ReadEntryFields(int motor) const {
    return {WindowText(form_.Controls().Panel(motor, kRowSteps)),
            WindowText(form_.Controls().Panel(motor, kRowFrequency)),
            WindowText(form_.Controls().Panel(motor, kRowDirection)),
            WindowText(form_.Controls().Panel(motor, kRowStartStop))};
}

void TPanelEditorBinding::Apply(int motor, const project::ProgramEditor::Update& update) {
    HWND list = form_.Controls().Panel(motor, kRowList);
    if (update.RowsChanged) {
        ListView_SetItemCountEx(list, update.RowCount, LVSICF_NOSCROLL);
        InvalidateRect(list, nullptr, FALSE);
    }
    if (update.SelectionChanged) {
        // Only the one row is set (the single-selection list drops the old one itself); all
        // rows are cleared only for no selection. Clearing all first would be reported as every
        // row deselected, which the editor takes for the operator's deselection, and the row set
        // next would clear them all again, and so on. The list's reports of this are the
        // editor's own echoes: they are not handed to it.
        const bool applying = applyingSelection_[static_cast<size_t>(motor)];
        applyingSelection_[static_cast<size_t>(motor)] = true;
        if (update.Selection >= 0) {
            ListView_SetItemState(list, update.Selection, LVIS_SELECTED | LVIS_FOCUSED,
                                  LVIS_SELECTED | LVIS_FOCUSED);
            ListView_EnsureVisible(list, update.Selection, FALSE);
        } else {
            ListView_SetItemState(list, -1, 0, LVIS_SELECTED);
        }
        applyingSelection_[static_cast<size_t>(motor)] = applying;
    }
    if (update.Fill) {
        SetWindowTextA(form_.Controls().Panel(motor, kRowSteps), update.Fill->Steps.c_str());
        SetWindowTextA(form_.Controls().Panel(motor, kRowFrequency),
                       update.Fill->Frequency.c_str());
        SetWindowTextA(form_.Controls().Panel(motor, kRowDirection),
                       update.Fill->Direction.c_str());
        SetWindowTextA(form_.Controls().Panel(motor, kRowStartStop),
                       update.Fill->StartStop.c_str());
    }
    if (update.ResetJogTally) form_.ZeroJogTally(motor);
}

void TPanelEditorBinding::Button3Click(const TFormControls::Entry& sender) {
    const int m = sender.Tag;
    Apply(m, form_.Editor(m).Add(ReadEntryFields(m)));
}

void TPanelEditorBinding::Button4Click(const TFormControls::Entry& sender) {
    const int m = sender.Tag;
    Apply(m, form_.Editor(m).Insert(ReadEntryFields(m)));
}

void TPanelEditorBinding::Button5Click(const TFormControls::Entry& sender) {
    const int m = sender.Tag;
    Apply(m, form_.Editor(m).Change(ReadEntryFields(m)));
}

void TPanelEditorBinding::Button8Click(const TFormControls::Entry& sender) {
    const int m = sender.Tag;
    Apply(m, form_.Editor(m).Delete());
}

void TPanelEditorBinding::ListView1SelectItem(int motor, int32_t row, bool selected) {
    Apply(motor, form_.Editor(motor).SelectItem(row, selected));
}

void TPanelEditorBinding::MotorStepChanged(int32_t motor) {
    if (motor < 0 || motor >= kMotorCount) return;
    project::ProgramEditor& editor = form_.Editor(motor);
    // A post that fails (a full message queue) leaves nothing pending: the next step change
    // posts again, and the highlight catches up.
    if (editor.RequestCurrentStep() &&
        !PostToWindow(form_.Handle(), TMainForm::kMsgShowCurrentStep, static_cast<WPARAM>(motor)))
        editor.CancelCurrentStepRequest();
}

void TPanelEditorBinding::ShowCurrentStep(int motor) {
    if (!form_.Ready() || motor < 0 || motor >= kMotorCount) return;
    Apply(motor, form_.Editor(motor).ShowCurrentStep());
}

LRESULT TPanelEditorBinding::OnNotify(const NMHDR& header) {
    // The lists may still notify while they are destroyed, after FormDestroy.
    if (!form_.Ready()) return 0;
    const TFormControls::Entry* found = form_.Controls().Find(static_cast<int>(header.idFrom));
    if (found == nullptr || found->EventHandler != Handler::kListView1) return 0;
    const int motor = found->Tag;
    const project::ProgramEditor& editor = form_.Editor(motor);
    switch (header.code) {
        case LVN_GETDISPINFOA: {
            auto& info = reinterpret_cast<NMLVDISPINFOA&>(const_cast<NMHDR&>(header));
            if ((info.item.mask & LVIF_TEXT) != 0 && info.item.pszText != nullptr &&
                info.item.cchTextMax > 0) {
                displayText_ = editor.List().Text(info.item.iItem, info.item.iSubItem);
                const size_t room = static_cast<size_t>(info.item.cchTextMax) - 1;
                const size_t length = std::min(displayText_.size(), room);
                std::memcpy(info.item.pszText, displayText_.data(), length);
                info.item.pszText[length] = '\0';
            }
            return 0;
        }
        case LVN_ITEMCHANGED: {
            const auto& change = reinterpret_cast<const NMLISTVIEW&>(header);
            if (applyingSelection_[static_cast<size_t>(motor)]) return 0;  // an echo
            if ((change.uChanged & LVIF_STATE) != 0 &&
                ((change.uOldState ^ change.uNewState) & LVIS_SELECTED) != 0)
                ListView1SelectItem(motor, change.iItem, (change.uNewState & LVIS_SELECTED) != 0);
            return 0;
        }
        default:
            return 0;
    }
}

void TPanelEditorBinding::Button12Click(const TFormControls::Entry& sender) {
    SetWindowTextA(sender.Window,
                   project::ProgramEditor::NextDirectionCaption(WindowText(sender.Window)));
}

void TPanelEditorBinding::AppendStep(int motor, const motion::TsmProgramStep& step) {
    // The list view learns the new row count once the whole file is read (RenumberProgramList).
    form_.Editor(motor).AppendStep(step);
}
void TPanelEditorBinding::ClearProgram(int motor) {
    Apply(motor, form_.Editor(motor).ClearProgram());
}
void TPanelEditorBinding::SetLoopCheckBox(int motor, bool checked) {
    SendMessageA(form_.Controls().Panel(motor, kRowLoop), BM_SETCHECK,
                 checked ? BST_CHECKED : BST_UNCHECKED, 0);
}
void TPanelEditorBinding::RenumberProgramList(int motor) {
    // "#" is each row's position: the list needs only its row count and a redraw.
    HWND list = form_.Controls().Panel(motor, kRowList);
    ListView_SetItemCountEx(list, form_.Editor(motor).List().Count(), LVSICF_NOSCROLL);
    InvalidateRect(list, nullptr, FALSE);
}

}  // namespace ui
