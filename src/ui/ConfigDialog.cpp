#include "ui/ConfigDialog.h"

#include <commctrl.h>

#include <algorithm>
#include <stdexcept>
#include <vector>

#include "ui/FormControls.h"

namespace ui {

namespace {

enum class Kind {
    kGroupBox,  // starts a radio group of its own
    kLabel,
    kField,       // a frequency field: digits only, right-aligned
    kAddress,     // the hexadecimal address field Edit1
    kFirstRadio,  // first radio button of a group
    kRadio,
    kOkButton,      // default button, result OK
    kCancelButton,  // cancel button, result Cancel
};

struct ControlRow {
    const char* Name;
    Kind ControlKind;
    int Left, Top, Width, Height;  // client coordinates of the dialog
    const char* Caption;
};

// Group boxes of the motors: 241 x 94 at left 16, one every 100 pixels; their controls are
// placed relative to the group box.
constexpr int kMotorLeft = 16;
constexpr int kMotorTop[kConfigMotorCount] = {16, 116, 216, 316};
constexpr const char* kMotorCaption[kConfigMotorCount] = {"Motor 1", "Motor 2", "Motor3",
                                                          "Motor 4"};
constexpr const char* kMotorGroup[kConfigMotorCount] = {"GroupBox1", "GroupBox2", "GroupBox3",
                                                        "GroupBox4"};
constexpr const char* kMaxField[kConfigMotorCount] = {"Edit2", "Edit4", "Edit6", "Edit8"};
constexpr const char* kControlField[kConfigMotorCount] = {"Edit3", "Edit5", "Edit7", "Edit9"};
constexpr const char* kLeftRadio[kConfigMotorCount] = {"RadioButton5", "RadioButton7",
                                                       "RadioButton9", "RadioButton11"};
constexpr const char* kRightRadio[kConfigMotorCount] = {"RadioButton6", "RadioButton8",
                                                        "RadioButton10", "RadioButton12"};

constexpr int kPortLeft = 296;
constexpr int kPortTop = 16;
// The port radio buttons in the order of PortChoice.
constexpr const char* kPortRadio[] = {"rbUSB",        "rbUSBslow",    "RadioButton1",
                                      "RadioButton2", "RadioButton3", "RadioButton4"};
constexpr const char* kHintUSB = "This mode allows high frequencies and exact intervals";
constexpr const char* kHintUSBslow =
    "This mode works like in LPT mode and does not use the USB on-chip timer and command list.";

constexpr int kButtonLeft[2] = {307, 403};
constexpr int kButtonTop = 389;
constexpr int kButtonWidth = 75;
constexpr int kButtonHeight = 25;

constexpr int kFirstControlId = 100;

// The frequency fields' added styles: only digits can be typed, the text sits at the right
// (ES_RIGHT takes effect on a multi-line edit only on older systems).
constexpr DWORD kFrequencyFieldStyles = ES_NUMBER | ES_RIGHT | ES_MULTILINE;
static_assert(kFrequencyFieldStyles == 0x2006);
constexpr UINT_PTR kFieldSubclass = 1;

// Every control in creation order, which is also the tab order.
std::vector<ControlRow> ControlRows() {
    std::vector<ControlRow> rows;
    for (int m = 0; m < kConfigMotorCount; ++m) {
        const int x = kMotorLeft;
        const int y = kMotorTop[m];
        rows.push_back({kMotorGroup[m], Kind::kGroupBox, x, y, 241, 94, kMotorCaption[m]});
        rows.push_back({nullptr, Kind::kLabel, x + 8, y + 24, 100, 13, "Maximum Frequency"});
        rows.push_back({kMaxField[m], Kind::kField, x + 112, y + 20, 97, 21, "1000"});
        rows.push_back({nullptr, Kind::kLabel, x + 8, y + 48, 100, 13, "Control Frequency"});
        rows.push_back({kControlField[m], Kind::kField, x + 112, y + 44, 97, 21, "10"});
        rows.push_back({nullptr, Kind::kLabel, x + 8, y + 72, 100, 13, "Reset direction"});
        rows.push_back({kLeftRadio[m], Kind::kFirstRadio, x + 112, y + 72, 49, 17, "Left"});
        rows.push_back({kRightRadio[m], Kind::kRadio, x + 168, y + 72, 49, 17, "Right"});
    }
    const int x = kPortLeft;
    const int y = kPortTop;
    rows.push_back({"GroupBox5", Kind::kGroupBox, x, y, 177, 157, "IO-Port"});
    rows.push_back({kPortRadio[0], Kind::kFirstRadio, x + 16, y + 24, 113, 17, "USB"});
    rows.push_back({kPortRadio[1], Kind::kRadio, x + 16, y + 40, 113, 17, "USB (slow)"});
    rows.push_back({kPortRadio[2], Kind::kRadio, x + 16, y + 56, 113, 17, "LPT 1"});
    rows.push_back({kPortRadio[3], Kind::kRadio, x + 16, y + 73, 113, 17, "LPT 2"});
    rows.push_back({kPortRadio[4], Kind::kRadio, x + 16, y + 90, 113, 17, "LPT 3"});
    rows.push_back({kPortRadio[5], Kind::kRadio, x + 16, y + 107, 27, 17, ""});
    rows.push_back({"Edit1", Kind::kAddress, x + 36, y + 106, 121, 21, "0"});
    rows.push_back({"Button1", Kind::kOkButton, kButtonLeft[0], kButtonTop, kButtonWidth,
                    kButtonHeight, "Ok"});
    rows.push_back({"Button2", Kind::kCancelButton, kButtonLeft[1], kButtonTop, kButtonWidth,
                    kButtonHeight, "Cancel"});
    return rows;
}

const std::vector<ControlRow>& Rows() {
    static const std::vector<ControlRow> rows = ControlRows();
    return rows;
}

int ControlId(size_t row) {
    switch (Rows()[row].ControlKind) {
        case Kind::kOkButton:
            return IDOK;
        case Kind::kCancelButton:
            return IDCANCEL;
        default:
            return kFirstControlId + static_cast<int>(row);
    }
}

// The dialog's in-memory template: a sizeable captioned popup without controls (they are made
// in WM_INITDIALOG from the table) and without a size (set in pixels there).
std::vector<WORD> DialogTemplate() {
    std::vector<WORD> words(sizeof(DLGTEMPLATE) / sizeof(WORD), 0);
    auto* dialog = reinterpret_cast<DLGTEMPLATE*>(words.data());
    dialog->style = WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_THICKFRAME | DS_MODALFRAME;
    dialog->cdit = 0;
    words.push_back(0);  // no menu
    words.push_back(0);  // the standard dialog class
    for (const char* c = "Configuration"; *c != '\0'; ++c)
        words.push_back(static_cast<WORD>(*c));
    words.push_back(0);
    return words;
}

HINSTANCE ModuleInstance() {
    return GetModuleHandleA(nullptr);
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Running the dialog

bool TsConfigDlg::ShowModal(HWND owner, ConfigValues& values) {
    TsConfigDlg dialog(values);
    dialog.modal_ = true;
    const std::vector<WORD> dialogTemplate = DialogTemplate();
    const INT_PTR result = DialogBoxIndirectParamA(
        ModuleInstance(), reinterpret_cast<const DLGTEMPLATE*>(dialogTemplate.data()), owner,
        DialogProc, dialog.DialogParam());
    if (result != IDOK || !dialog.accepted_) return false;
    values = dialog.values_;
    return true;
}

TsConfigDlg::TsConfigDlg(const ConfigValues& values) : values_(values) {}

TsConfigDlg::~TsConfigDlg() {
    // A modeless dialog still open when its object goes away is closed without taking anything.
    if (handle_ != nullptr && !modal_) DestroyWindow(handle_);
}

HWND TsConfigDlg::CreateModeless(HWND owner) {
    const std::vector<WORD> dialogTemplate = DialogTemplate();
    return CreateDialogIndirectParamA(ModuleInstance(),
                                      reinterpret_cast<const DLGTEMPLATE*>(dialogTemplate.data()),
                                      owner, DialogProc, DialogParam());
}

HWND TsConfigDlg::Control(std::string_view name) const {
    const auto& rows = Rows();
    for (size_t row = 0; row < rows.size(); ++row)
        if (rows[row].Name != nullptr && name == rows[row].Name) return controls_[row];
    return nullptr;
}

INT_PTR TsConfigDlg::HandleMessage(UINT message, WPARAM, LPARAM lParam) {
    switch (message) {
        case WM_SIZE:
            OnSize(LOWORD(lParam), HIWORD(lParam));
            return TRUE;
        case WM_DESTROY:
            if (font_ != nullptr) {
                DeleteObject(font_);
                font_ = nullptr;
            }
            return FALSE;
        default:
            return FALSE;
    }
}

// ---------------------------------------------------------------------------------------------
// Building

bool TsConfigDlg::OnInitDialog() {
    INITCOMMONCONTROLSEX classes{sizeof classes, ICC_WIN95_CLASSES};
    InitCommonControlsEx(&classes);
    CreateControls();
    FormCreate();
    AddToolTips();
    Fill();

    // The window holds the design's client area; centred over its owner (or the screen).
    const DWORD style = static_cast<DWORD>(GetWindowLongA(handle_, GWL_STYLE));
    const DWORD exStyle = static_cast<DWORD>(GetWindowLongA(handle_, GWL_EXSTYLE));
    RECT frame{0, 0, kClientWidth, kClientHeight};
    AdjustWindowRectEx(&frame, style, FALSE, exStyle);
    const int width = frame.right - frame.left;
    const int height = frame.bottom - frame.top;
    RECT around;
    HWND owner = GetWindow(handle_, GW_OWNER);
    if (owner == nullptr || !GetWindowRect(owner, &around))
        SystemParametersInfoA(SPI_GETWORKAREA, 0, &around, 0);
    const int left = std::max(0L, around.left + (around.right - around.left - width) / 2);
    const int top = std::max(0L, around.top + (around.bottom - around.top - height) / 2);
    SetWindowPos(handle_, nullptr, left, top, width, height, SWP_NOZORDER | SWP_NOACTIVATE);

    SetFocus(Control("Edit2"));
    return false;  // the focus is set
}

void TsConfigDlg::CreateControls() {
    font_ = CreateFontA(-11, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                        OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                        DEFAULT_PITCH | FF_SWISS, "MS Sans Serif");
    const auto& rows = Rows();
    if (rows.size() > controls_.size()) throw std::length_error("configuration controls");
    for (size_t row = 0; row < rows.size(); ++row) {
        const ControlRow& c = rows[row];
        const char* className = "BUTTON";
        DWORD style = WS_CHILD | WS_VISIBLE;
        DWORD exStyle = 0;
        switch (c.ControlKind) {
            case Kind::kGroupBox:
                // WS_GROUP ends the radio group before it.
                style |= BS_GROUPBOX | WS_GROUP;
                break;
            case Kind::kLabel:
                className = "STATIC";
                style |= SS_LEFT | SS_NOPREFIX;
                break;
            case Kind::kField:
            case Kind::kAddress:
                className = "EDIT";
                style |= WS_TABSTOP | ES_AUTOHSCROLL;
                exStyle = WS_EX_CLIENTEDGE;
                if (c.ControlKind == Kind::kAddress) style |= WS_GROUP | WS_DISABLED;
                break;
            case Kind::kFirstRadio:
                style |= BS_AUTORADIOBUTTON | WS_TABSTOP | WS_GROUP;
                break;
            case Kind::kRadio:
                style |= BS_AUTORADIOBUTTON | WS_TABSTOP;
                break;
            case Kind::kOkButton:
                style |= BS_DEFPUSHBUTTON | WS_TABSTOP | WS_GROUP;
                break;
            case Kind::kCancelButton:
                style |= BS_PUSHBUTTON | WS_TABSTOP;
                break;
        }
        HWND control =
            CreateWindowExA(exStyle, className, c.Caption, style, c.Left, c.Top, c.Width, c.Height,
                            handle_, reinterpret_cast<HMENU>(static_cast<INT_PTR>(ControlId(row))),
                            ModuleInstance(), nullptr);
        if (control == nullptr) throw std::runtime_error("configuration control");
        SendMessageA(control, WM_SETFONT, reinterpret_cast<WPARAM>(font_), FALSE);
        controls_[row] = control;
    }
    // "USB" is checked until Fill shows the port setting.
    SendMessageA(Control("rbUSB"), BM_SETCHECK, BST_CHECKED, 0);
}

void TsConfigDlg::FormCreate() {
    // ES_NUMBER, ES_RIGHT and ES_MULTILINE are read at an edit's creation only: the frequency
    // fields are made anew with them on top of their style, keeping their place in the tab
    // order (one after the other, so each new field goes where the old one was).
    const auto& rows = Rows();
    for (size_t row = 0; row < rows.size(); ++row) {
        if (rows[row].ControlKind != Kind::kField) continue;
        HWND old = controls_[row];
        const DWORD style =
            static_cast<DWORD>(GetWindowLongA(old, GWL_STYLE)) | kFrequencyFieldStyles;
        const DWORD exStyle = static_cast<DWORD>(GetWindowLongA(old, GWL_EXSTYLE));
        HWND fresh =
            CreateWindowExA(exStyle, "EDIT", WindowText(old).c_str(), style, rows[row].Left,
                            rows[row].Top, rows[row].Width, rows[row].Height, handle_,
                            reinterpret_cast<HMENU>(static_cast<INT_PTR>(ControlId(row))),
                            ModuleInstance(), nullptr);
        if (fresh == nullptr) continue;  // the field keeps its plain style
        SendMessageA(fresh, WM_SETFONT, reinterpret_cast<WPARAM>(font_), FALSE);
        SetWindowPos(fresh, old, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
        SetWindowSubclass(fresh, FieldProc, kFieldSubclass, 0);
        DestroyWindow(old);
        controls_[row] = fresh;
    }
}

void TsConfigDlg::AddToolTips() {
    toolTip_ = CreateWindowExA(WS_EX_TOPMOST, TOOLTIPS_CLASSA, nullptr, WS_POPUP | TTS_ALWAYSTIP,
                               CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, handle_,
                               nullptr, ModuleInstance(), nullptr);
    if (toolTip_ == nullptr) return;  // the dialog works without its hints
    SendMessageA(toolTip_, TTM_SETMAXTIPWIDTH, 0, 300);
    const std::pair<const char*, const char*> hints[] = {{"rbUSB", kHintUSB},
                                                         {"rbUSBslow", kHintUSBslow}};
    for (const auto& [name, hint] : hints) {
        TTTOOLINFOA tool{};
        // The size every comctl32 version accepts.
        tool.cbSize = TTTOOLINFOA_V2_SIZE;
        tool.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
        tool.hwnd = handle_;
        tool.uId = reinterpret_cast<UINT_PTR>(Control(name));
        tool.lpszText = const_cast<char*>(hint);
        SendMessageA(toolTip_, TTM_ADDTOOLA, 0, reinterpret_cast<LPARAM>(&tool));
    }
}

void TsConfigDlg::Fill() {
    const ConfigTexts texts = ConfigTextsFrom(values_);
    SetWindowTextA(Control("Edit1"), texts.Address.c_str());
    for (int m = 0; m < kConfigMotorCount; ++m) {
        const ConfigTexts::Motor& motor = texts.Motors[static_cast<size_t>(m)];
        SetWindowTextA(Control(kMaxField[m]), motor.MaxFrequency.c_str());
        SetWindowTextA(Control(kControlField[m]), motor.ControlFrequency.c_str());
        SendMessageA(Control(kLeftRadio[m]), BM_SETCHECK, motor.Left ? BST_CHECKED : BST_UNCHECKED,
                     0);
        SendMessageA(Control(kRightRadio[m]), BM_SETCHECK, motor.Left ? BST_UNCHECKED : BST_CHECKED,
                     0);
    }
    const size_t chosen = static_cast<size_t>(texts.Port);
    for (size_t i = 0; i < std::size(kPortRadio); ++i)
        SendMessageA(Control(kPortRadio[i]), BM_SETCHECK, i == chosen ? BST_CHECKED : BST_UNCHECKED,
                     0);
    RadioButton1Click();
}

// ---------------------------------------------------------------------------------------------
// Handlers

void TsConfigDlg::OnCommand(int id, int code, HWND) {
    if (id == IDOK) {
        Finish(true);
        return;
    }
    if (id == IDCANCEL) {  // "Cancel", Escape and the close box
        Finish(false);
        return;
    }
    if (code != BN_CLICKED) return;
    const auto& rows = Rows();
    const size_t row = static_cast<size_t>(id - kFirstControlId);
    if (id < kFirstControlId || row >= rows.size() || rows[row].Name == nullptr) return;
    for (const char* radio : kPortRadio)
        if (std::string_view(radio) == rows[row].Name) RadioButton1Click();
}

void TsConfigDlg::RadioButton1Click() {
    const bool address = SendMessageA(Control("RadioButton4"), BM_GETCHECK, 0, 0) == BST_CHECKED;
    EnableWindow(Control("Edit1"), address ? TRUE : FALSE);
}

void TsConfigDlg::OnSize(int width, int height) {
    // "Ok" and "Cancel" keep their distances to the right and bottom edges.
    const int dx = width - kClientWidth;
    const int dy = height - kClientHeight;
    const char* buttons[] = {"Button1", "Button2"};
    for (size_t i = 0; i < 2; ++i) {
        HWND button = Control(buttons[i]);
        if (button == nullptr) continue;
        SetWindowPos(button, nullptr, kButtonLeft[i] + dx, kButtonTop + dy, 0, 0,
                     SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    }
    InvalidateRect(handle_, nullptr, TRUE);
}

ConfigTexts TsConfigDlg::ReadTexts() const {
    ConfigTexts texts;
    texts.Address = WindowText(Control("Edit1"));
    texts.Port = PortChoice::kAddress;
    for (size_t i = 0; i < std::size(kPortRadio); ++i) {
        if (SendMessageA(Control(kPortRadio[i]), BM_GETCHECK, 0, 0) == BST_CHECKED) {
            texts.Port = static_cast<PortChoice>(i);
            break;
        }
    }
    for (int m = 0; m < kConfigMotorCount; ++m) {
        ConfigTexts::Motor& motor = texts.Motors[static_cast<size_t>(m)];
        motor.MaxFrequency = WindowText(Control(kMaxField[m]));
        motor.ControlFrequency = WindowText(Control(kControlField[m]));
        motor.Left = SendMessageA(Control(kLeftRadio[m]), BM_GETCHECK, 0, 0) == BST_CHECKED;
    }
    return texts;
}

void TsConfigDlg::Finish(bool accepted) {
    if (closed_) return;
    if (accepted) values_ = ConfigValuesFrom(ReadTexts());
    accepted_ = accepted;
    closed_ = true;
    if (modal_)
        EndDialog(handle_, accepted ? IDOK : IDCANCEL);
    else
        DestroyWindow(handle_);
}

LRESULT CALLBACK TsConfigDlg::FieldProc(HWND edit, UINT message, WPARAM wParam, LPARAM lParam,
                                        UINT_PTR id, DWORD_PTR) {
    try {
        switch (message) {
            case WM_GETDLGCODE:
                // Multi-line only for its alignment: Enter, Escape and Tab stay the dialog's
                // (Ok, Cancel, next field).
                return DefSubclassProc(edit, message, wParam, lParam) & ~DLGC_WANTALLKEYS;
            case WM_CHAR:
                if (wParam == '\r' || wParam == '\n') return 0;  // no line breaks in a field
                break;
            case WM_NCDESTROY:
                RemoveWindowSubclass(edit, FieldProc, id);
                break;
            default:
                break;
        }
    } catch (...) {
        return 0;
    }
    return DefSubclassProc(edit, message, wParam, lParam);
}

}  // namespace ui
