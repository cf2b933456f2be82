#include "ui/MainForm.h"

#include <commctrl.h>

#include <algorithm>
#include <cstring>
#include <optional>
#include <vector>

#include "motion/RoundHalfEven.h"
#include "ui/ConfigDialog.h"
#include "ui/HelpMenu.h"
#include "ui/MotorIconGeometry.h"
#include "ui/MotorPanel.h"
#include "ui/resource.h"
#include "usb/UsbReport.h"

namespace ui {

namespace {

constexpr DWORD kWindowStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
// The Steps fields' extra styles: ES_NUMBER | ES_RIGHT | ES_MULTILINE, so only digits can be
// typed and the text sits at the right (a single-line edit ignores ES_RIGHT on older systems).
constexpr DWORD kStepsFieldStyles = ES_NUMBER | ES_RIGHT | ES_MULTILINE;
static_assert(kStepsFieldStyles == 0x2006);

// Tab, Esc and Enter: virtual keys, or (chars) the characters they type, line feed included.
bool IsDialogKey(WPARAM key, bool chars = false) {
    if (chars) return key == '\t' || key == 0x1B || key == '\r' || key == '\n';
    return key == VK_TAB || key == VK_ESCAPE || key == VK_RETURN;
}

// Subclass ids of the edit fields' key filters.
constexpr UINT_PTR kKeyFilterSubclass = 1;
constexpr UINT_PTR kStepsFieldSubclass = 2;
// Subclass id of the jog buttons' mouse and key handling.
constexpr UINT_PTR kJogButtonSubclass = 3;
// Subclass id of the position displays' focus-free clicking.
constexpr UINT_PTR kPositionDisplaySubclass = 4;
constexpr WPARAM kSpaceKey = 32;

bool PointInside(HWND window, LPARAM point) {
    RECT client;
    GetClientRect(window, &client);
    const POINT p{static_cast<short>(LOWORD(point)), static_cast<short>(HIWORD(point))};
    return PtInRect(&client, p) != 0;
}

// The position displays are buttons that never take the keyboard focus. A button focuses itself
// when it is pressed; a click on a display would then take the focus from the jog button, and
// the space bar would zero the display instead of stepping the motor. So the display presses,
// follows and clicks itself, and hands on a focus it gets by other means (arrow keys).
LRESULT CALLBACK PositionDisplayProc(HWND button, UINT message, WPARAM wParam, LPARAM lParam,
                                     UINT_PTR id, DWORD_PTR) {
    switch (message) {
        case WM_LBUTTONDOWN:
        case WM_LBUTTONDBLCLK:
            SetCapture(button);
            SendMessageA(button, BM_SETSTATE, TRUE, 0);
            return 0;
        case WM_MOUSEMOVE:
            if (GetCapture() == button)
                SendMessageA(button, BM_SETSTATE, PointInside(button, lParam) ? TRUE : FALSE, 0);
            return 0;
        case WM_LBUTTONUP:
            if (GetCapture() == button) {
                const bool inside = PointInside(button, lParam);
                ReleaseCapture();
                SendMessageA(button, BM_SETSTATE, FALSE, 0);
                if (inside)
                    SendMessageA(GetParent(button), WM_COMMAND,
                                 MAKEWPARAM(GetDlgCtrlID(button), BN_CLICKED),
                                 reinterpret_cast<LPARAM>(button));
            }
            return 0;
        case WM_CAPTURECHANGED:
            SendMessageA(button, BM_SETSTATE, FALSE, 0);
            return 0;
        case WM_SETFOCUS: {
            HWND previous = reinterpret_cast<HWND>(wParam);
            HWND next = previous != nullptr && previous != button && IsWindow(previous)
                            ? previous
                            : GetNextDlgTabItem(GetAncestor(button, GA_ROOT), button, FALSE);
            if (next != nullptr && next != button) SetFocus(next);
            return 0;
        }
        case WM_NCDESTROY:
            RemoveWindowSubclass(button, PositionDisplayProc, id);
            break;
        default:
            break;
    }
    return DefSubclassProc(button, message, wParam, lParam);
}

std::string WindowText(HWND window) {
    const int length = GetWindowTextLengthA(window);
    std::string text(static_cast<size_t>(std::max(length, 0)) + 1, '\0');
    const int copied = GetWindowTextA(window, text.data(), length + 1);
    text.resize(static_cast<size_t>(std::max(copied, 0)));
    return text;
}

// The directory of the running program with its trailing separator.
std::string ModuleDirectory() {
    std::vector<char> path(MAX_PATH);
    for (;;) {
        const DWORD length =
            GetModuleFileNameA(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (length == 0) return {};
        if (length < path.size()) {
            std::string full(path.data(), length);
            const size_t slash = full.find_last_of("\\/");
            return slash == std::string::npos ? std::string() : full.substr(0, slash + 1);
        }
        path.resize(path.size() * 2);  // the name was cut: try with more room
    }
}

// The size a label takes for its text in font.
SIZE TextSize(HWND window, HFONT font, const char* text) {
    SIZE size{0, 0};
    HDC dc = GetDC(window);
    HGDIOBJ old = SelectObject(dc, font);
    GetTextExtentPoint32A(dc, text, static_cast<int>(std::strlen(text)), &size);
    SelectObject(dc, old);
    ReleaseDC(window, dc);
    return size;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Window class and procedure

bool TMainForm::Register(HINSTANCE instance) {
    WNDCLASSEXA wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = WindowProc;
    wc.hInstance = instance;
    wc.hCursor = LoadCursor(nullptr, IDC_ARROW);
    wc.hIcon = LoadIcon(nullptr, IDI_APPLICATION);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    wc.lpszClassName = kClassName;
    const bool form = RegisterClassExA(&wc) != 0 || GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
    return form && RegisterMotorPanel(instance) && TAnimatedMotorIcon::Register(instance);
}

TMainForm* TMainForm::Create(HINSTANCE instance, const Ports& ports) {
    auto* form = new TMainForm(ports);
    // Set by the form's destructor: a creation that fails after WM_NCCREATE has freed it.
    bool destroyed = false;
    form->destroyedFlag_ = &destroyed;
    RECT frame{0, 0, kClientWidth, kClientHeight};
    AdjustWindowRectEx(&frame, kWindowStyle, TRUE, 0);
    HMENU menu = LoadMenuA(instance, MAKEINTRESOURCEA(IDR_MAINMENU));
    HWND window = CreateWindowExA(WS_EX_CONTROLPARENT, kClassName, kDesignCaption, kWindowStyle,
                                  CW_USEDEFAULT, CW_USEDEFAULT, frame.right - frame.left,
                                  frame.bottom - frame.top, nullptr, menu, instance, form);
    if (!destroyed) form->destroyedFlag_ = nullptr;
    if (window == nullptr) {
        // Without WM_NCCREATE the window never took the form over; with it, WM_NCDESTROY freed it.
        if (!destroyed) delete form;
        if (menu != nullptr) DestroyMenu(menu);
        return nullptr;
    }
    return form;
}

TMainForm::TMainForm(const Ports& ports)
    : ports_(ports), parallel_(ports.loader, ports.desktop), session_(ports.files, *this) {}

TMainForm::~TMainForm() {
    ReleaseObjects();
    if (destroyedFlag_ != nullptr) *destroyedFlag_ = true;
    if (font_ != nullptr) DeleteObject(font_);
    if (boldFont_ != nullptr) DeleteObject(boldFont_);
}

LRESULT CALLBACK TMainForm::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    TMainForm* self;
    if (message == WM_NCCREATE) {
        self = static_cast<TMainForm*>(reinterpret_cast<CREATESTRUCTA*>(lParam)->lpCreateParams);
        self->handle_ = window;
        SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
    } else {
        self = reinterpret_cast<TMainForm*>(GetWindowLongPtrA(window, GWLP_USERDATA));
    }
    if (self == nullptr) return DefWindowProcA(window, message, wParam, lParam);
    if (message == WM_NCDESTROY) {
        SetWindowLongPtrA(window, GWLP_USERDATA, 0);
        // A handler further down this thread's stack may still be in a modal loop (a message
        // box, a dialog, the reset drive) in which the window was closed: it returns into the
        // form, and the outermost one frees it.
        if (self->messageDepth_ > 0)
            self->deleteWhenUnwound_ = true;
        else
            delete self;
        return DefWindowProcA(window, message, wParam, lParam);
    }
    ++self->messageDepth_;
    LRESULT result;
    try {
        result = self->HandleMessage(message, wParam, lParam);
    } catch (...) {
        // Nothing may leave a window procedure. A creation that failed (out of memory) fails the
        // window's creation; any other handler that failed has done nothing visible, and the
        // window goes on.
        result = message == WM_CREATE ? -1 : 0;
    }
    if (--self->messageDepth_ == 0 && self->deleteWhenUnwound_) delete self;
    return result;
}

LRESULT TMainForm::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_CREATE:
            CreateControls();
            FormCreate();
            return 0;
        case WM_DESTROY:
            FormDestroy();
            PostQuitMessage(0);
            return 0;
        case WM_COMMAND:
            if (lParam == 0)
                OnMenu(LOWORD(wParam));
            else
                OnCommand(LOWORD(wParam), HIWORD(wParam), reinterpret_cast<HWND>(lParam));
            return 0;
        case WM_NOTIFY:
            return OnNotify(*reinterpret_cast<const NMHDR*>(lParam));
        case WM_DEVICECHANGE:
            // The link probes or notices the module's absence; then the whole output selection
            // runs again (for a parallel port every time, its half does not hold the link).
            if (Ready() && link_->DeviceChange()) OpenOutputPort();
            return TRUE;
        case WM_ACTIVATE:
            // Saves the focused control on deactivation; on activation the default handling
            // focuses the window, whose WM_SETFOCUS hands the focus back to that control.
            OnActivate(LOWORD(wParam) != WA_INACTIVE);
            return DefWindowProcA(handle_, message, wParam, lParam);
        case WM_SETFOCUS:
            OnSetFocus();
            return 0;
        case kMsgMotorView:
            OnMotorView(static_cast<int>(wParam));
            return 0;
        case kMsgTextDisplay:
            OnTextDisplay(wParam);
            return 0;
        case kMsgShowCurrentStep:
            ShowCurrentStep(static_cast<int>(wParam));
            return 0;
        case kMsgResetCaption: {
            static constexpr const char* kResetButtons[] = {"Button39", "bStop1", "Button45",
                                                            "Button46", "Button47"};
            if (wParam < std::size(kResetButtons))
                SetWindowTextA(Control(kResetButtons[wParam]), "Reset");
            return 0;
        }
        case kMsgResetIdle:
            resetIdle_ = true;
            return 0;
        case kMsgEnableRunInOrder:
            EnableWindow(Control("CheckBox5"), wParam != 0);
            return 0;
        case kMsgProgramFinished:
            OnProgramFinished(static_cast<int>(wParam), static_cast<uint32_t>(lParam));
            return 0;
        default:
            return DefWindowProcA(handle_, message, wParam, lParam);
    }
}

// ---------------------------------------------------------------------------------------------
// Controls

HWND TMainForm::CreateControl(HWND parent, ControlKind kind, int id, int left, int top, int width,
                              int height, const char* caption, DWORD extraStyle) {
    const char* className = "STATIC";
    DWORD style = WS_CHILD | WS_VISIBLE | extraStyle;
    DWORD exStyle = 0;
    HFONT font = font_;
    switch (kind) {
        case ControlKind::kBoldLabel:
            font = boldFont_;
            [[fallthrough]];
        case ControlKind::kLabel:
            style |= SS_LEFT | SS_NOPREFIX;
            if (width == 0) {
                // Sized to its text, as a label that sizes itself.
                const SIZE size = TextSize(parent, font, caption);
                width = size.cx;
                height = size.cy;
            }
            break;
        case ControlKind::kButton:
            className = "BUTTON";
            style |= BS_PUSHBUTTON | WS_TABSTOP;
            break;
        case ControlKind::kFlatButton:
            className = "BUTTON";
            style |= BS_PUSHBUTTON | BS_FLAT;  // shows the position; not in the tab order
            break;
        case ControlKind::kEdit:
            className = "EDIT";
            style |= ES_AUTOHSCROLL | WS_TABSTOP;
            exStyle = WS_EX_CLIENTEDGE;
            break;
        case ControlKind::kListView:
            className = WC_LISTVIEWA;
            style |= LVS_REPORT | LVS_SINGLESEL | LVS_SHOWSELALWAYS | LVS_OWNERDATA | WS_TABSTOP;
            exStyle = WS_EX_CLIENTEDGE;
            break;
        case ControlKind::kCheckBox:
            className = "BUTTON";
            style |= BS_AUTOCHECKBOX | WS_TABSTOP;
            break;
        case ControlKind::kGroupBox:
            className = "BUTTON";
            style |= BS_GROUPBOX;
            break;
        case ControlKind::kMotorIcon:
            return nullptr;  // created by FormCreate
    }
    HWND control = CreateWindowExA(
        exStyle, className, caption, style, left, top, width, height, parent,
        reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
        reinterpret_cast<HINSTANCE>(GetWindowLongPtrA(handle_, GWLP_HINSTANCE)), nullptr);
    if (control == nullptr) return nullptr;
    SendMessageA(control, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
    if (kind == ControlKind::kListView) {
        ListView_SetExtendedListViewStyle(control, LVS_EX_FULLROWSELECT);
        for (int column = 0; column < project::ProgramListModel::kColumnCount; ++column) {
            const auto& info = project::ProgramListModel::kColumns[column];
            LVCOLUMNA lvc{};
            lvc.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_SUBITEM;
            lvc.pszText = const_cast<char*>(info.Caption);
            lvc.cx = info.Width;
            lvc.iSubItem = column;
            SendMessageA(control, LVM_INSERTCOLUMNA, static_cast<WPARAM>(column),
                         reinterpret_cast<LPARAM>(&lvc));
        }
    }
    return control;
}

void TMainForm::RegisterControl(int id, const char* name, int tag, int motor, Handler handler,
                                HWND hwnd) {
    controls_[id] = ControlEntry{name, tag, motor, handler, hwnd};
}

void TMainForm::CreateControls() {
    font_ = CreateFontA(-11, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                        OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                        DEFAULT_PITCH | FF_SWISS, "MS Sans Serif");
    boldFont_ = CreateFontA(-12, 0, 0, 0, FW_BOLD, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                            OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                            DEFAULT_PITCH | FF_SWISS, "MS Sans Serif");

    const auto panelRows = PanelControls();
    for (int motor = 0; motor < kMotorCount; ++motor) {
        HWND panel = CreateMotorPanel(handle_, kPanelLeft[motor], kPanelTop[motor], 900 + motor);
        panels_[static_cast<size_t>(motor)] = panel;
        // Creation order is tab order. Panel 1 has "Reset" before "Stop" and "Start"; panels 2
        // to 4 have it after them.
        std::vector<int> order;
        for (int row = 0; row < kPanelRowCount; ++row)
            if (motor == 0 || row != kRowReset) order.push_back(row);
        if (motor != 0) order.push_back(kRowReset);

        const std::string heading = "Motor " + std::to_string(motor + 1);
        for (int row : order) {
            const ui::PanelControl& c = panelRows[static_cast<size_t>(row)];
            const int id = PanelControlId(motor, row);
            const char* caption = row == kRowHeading ? heading.c_str() : c.Caption;
            HWND hwnd =
                CreateControl(panel, c.Kind, id, c.Left, c.Top, c.Width, c.Height, caption, 0);
            const int tag = c.Tag == TagRule::kMotorIndex    ? motor
                            : c.Tag == TagRule::kMotorNumber ? motor + 1
                                                             : 0;
            RegisterControl(id, c.Names[motor], tag, motor, c.EventHandler, hwnd);
            if (c.EventHandler == Handler::kEdit2KeyPress)
                SetWindowSubclass(hwnd, EditProc, kKeyFilterSubclass,
                                  reinterpret_cast<DWORD_PTR>(this));
            else if (c.EventHandler == Handler::kButton6 || c.EventHandler == Handler::kButton7)
                SetWindowSubclass(hwnd, JogButtonProc, kJogButtonSubclass,
                                  reinterpret_cast<DWORD_PTR>(this));
            else if (c.EventHandler == Handler::kSpeedButton1Click)
                SetWindowSubclass(hwnd, PositionDisplayProc, kPositionDisplaySubclass, 0);
        }
    }

    HWND group = nullptr;
    const auto windowRows = WindowControls();
    for (int row = 0; row < kWindowRowCount; ++row) {
        const WindowControl& c = windowRows[static_cast<size_t>(row)];
        int left = c.Left, top = c.Top;
        if (c.InGroup && group != nullptr) {
            // Inside the group box; the buttons are the window's children, so that their
            // notifications come here, placed over the group.
            RECT box;
            GetWindowRect(group, &box);
            MapWindowPoints(nullptr, handle_, reinterpret_cast<POINT*>(&box), 2);
            left += box.left;
            top += box.top;
        }
        const DWORD extra = c.Disabled ? WS_DISABLED : 0;
        const int id = WindowControlId(row);
        HWND hwnd =
            CreateControl(handle_, c.Kind, id, left, top, c.Width, c.Height, c.Caption, extra);
        if (c.Kind == ControlKind::kGroupBox) group = hwnd;
        RegisterControl(id, c.Name, c.Tag, -1, c.EventHandler, hwnd);
    }

    // The frame may have come out another size (a wrapped menu bar): the client area is fixed.
    RECT client;
    GetClientRect(handle_, &client);
    if (client.right != kClientWidth || client.bottom != kClientHeight) {
        RECT frame;
        GetWindowRect(handle_, &frame);
        SetWindowPos(handle_, nullptr, 0, 0, frame.right - frame.left + kClientWidth - client.right,
                     frame.bottom - frame.top + kClientHeight - client.bottom,
                     SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    }
}

HWND TMainForm::Control(std::string_view name) const {
    for (const auto& [id, entry] : controls_)
        if (entry.Name != nullptr && name == entry.Name) return entry.Window;
    return nullptr;
}

HWND TMainForm::PanelControl(int motor, int row) const {
    const auto found = controls_.find(PanelControlId(motor, row));
    return found == controls_.end() ? nullptr : found->second.Window;
}

void TMainForm::RestyleStepsField(int motor) {
    // ES_MULTILINE and ES_RIGHT hold only from a control's creation on: the field is made anew
    // with the added styles, with its text, font, id and place in the tab order.
    const int id = PanelControlId(motor, kRowSteps);
    auto found = controls_.find(id);
    if (found == controls_.end() || found->second.Window == nullptr) return;
    HWND old = found->second.Window;
    HWND panel = panels_[static_cast<size_t>(motor)];
    RECT place;
    GetWindowRect(old, &place);
    MapWindowPoints(nullptr, panel, reinterpret_cast<POINT*>(&place), 2);
    const std::string text = WindowText(old);
    const DWORD style = static_cast<DWORD>(GetWindowLongA(old, GWL_STYLE)) | kStepsFieldStyles;
    const DWORD exStyle = static_cast<DWORD>(GetWindowLongA(old, GWL_EXSTYLE));
    HWND before = GetWindow(old, GW_HWNDPREV);
    HWND fresh = CreateWindowExA(
        exStyle, "EDIT", text.c_str(), style, place.left, place.top, place.right - place.left,
        place.bottom - place.top, panel, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
        reinterpret_cast<HINSTANCE>(GetWindowLongPtrA(handle_, GWLP_HINSTANCE)), nullptr);
    if (fresh == nullptr) return;  // the field keeps its first styles
    SendMessageA(fresh, WM_SETFONT, reinterpret_cast<WPARAM>(font_), FALSE);
    SetWindowPos(fresh, before != nullptr ? before : HWND_TOP, 0, 0, 0, 0,
                 SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    SetWindowSubclass(fresh, EditProc, kStepsFieldSubclass, reinterpret_cast<DWORD_PTR>(this));
    if (lastFocus_ == old) lastFocus_ = fresh;
    DestroyWindow(old);
    found->second.Window = fresh;
}

LRESULT CALLBACK TMainForm::EditProc(HWND edit, UINT message, WPARAM wParam, LPARAM lParam,
                                     UINT_PTR id, DWORD_PTR) {
    try {
        if (message == WM_CHAR) {
            if (id == kKeyFilterSubclass) {
                // Edit2KeyPress: what the filter turns into 0 is discarded.
                const uint32_t key =
                    project::ProgramEditor::Edit2KeyPress(static_cast<uint32_t>(wParam));
                if (key == 0) return 0;
                wParam = key;
            } else if (id == kStepsFieldSubclass && IsDialogKey(wParam, true)) {
                // The Steps field is multi-line only for its alignment: no line breaks, tabs
                // or escapes in it.
                return 0;
            }
        } else if (id == kStepsFieldSubclass && message == WM_GETDLGCODE) {
            // A multi-line edit asks for every key, Tab, Esc and Enter included, and acts on
            // them itself: Esc closes its parent, Tab asks its parent for the next control.
            // This one leaves them to the window's keyboard handling like every other field.
            const LRESULT code = DefSubclassProc(edit, message, wParam, lParam);
            return code & ~static_cast<LRESULT>(DLGC_WANTALLKEYS | DLGC_WANTTAB);
        } else if (id == kStepsFieldSubclass && message == WM_KEYDOWN && IsDialogKey(wParam)) {
            // Such a key that reaches the field itself (a message loop without dialog keys, as
            // the reset drive's) does nothing, as in a single-line field.
            return 0;
        } else if (message == WM_NCDESTROY) {
            RemoveWindowSubclass(edit, EditProc, id);
        }
    } catch (...) {
        return 0;
    }
    return DefSubclassProc(edit, message, wParam, lParam);
}

// ---------------------------------------------------------------------------------------------
// Creation and destruction

void TMainForm::FormCreate() {
    // Every message box and help document is the main window's, also while it is not active.
    ports_.desktop.SetOwnerWindow(handle_);
    // 1. The program directory, base of "default.smp" and the help documents.
    programDirectory_ = ModuleDirectory();
    // 2. Number texts: every conversion goes through project/NumberText (std::to_chars and
    //    std::from_chars), which writes and reads '.' as decimal separator and no thousands
    //    separators whatever the regional settings; nothing here depends on the C locale.
    // 3. No reset is in progress.
    resetIdle_ = true;
    // 4. The link with its receive thread, created suspended; a successful USB opening resumes it.
    link_ = std::make_unique<usb::TUsbLink>(
        usb::TUsbLink::Ports{ports_.loader, ports_.deviceFiles, ports_.desktop, ports_.timers},
        *this, &portStatus_);
    portStatus_.Bind(handle_, kMsgTextDisplay, kPortStatusDisplay);
    // 5. The motors with their callbacks, their symbols, their editors; tallies 0.
    view_.Clear();
    for (int m = 0; m < kMotorCount; ++m) {
        const size_t i = static_cast<size_t>(m);
        motors_[i] = std::make_unique<motion::TStepperMotor>(m, ports_.timers);
        motors_[i]->SetOnStep(motion::TStepperMotor::StepEvent::Bind<&TMainForm::StepEvent>(this));
        motors_[i]->SetOnStepChanged(
            motion::TStepperMotor::MotorEvent::Bind<&TMainForm::MotorStepChanged>(this));
        motors_[i]->SetOnFinished(
            motion::TStepperMotor::MotorEvent::Bind<&TMainForm::ProgramFinished>(this));
        edited_[i] = std::make_unique<project::EditedStepperMotor>(*motors_[i]);
        editors_[i] = std::make_unique<project::ProgramEditor>(*edited_[i]);
        // 7. The symbol lives in the motor's panel.
        icons_[i] = TAnimatedMotorIcon::Create(panels_[i], PanelControlId(m, kRowIcon));
        RegisterControl(PanelControlId(m, kRowIcon), PanelControls()[kRowIcon].Names[m], m, m,
                        Handler::kNone, icons_[i] != nullptr ? icons_[i]->Handle() : nullptr);
    }
    protocol_ = std::make_unique<usb::TUsbProtocol>(
        usb::TUsbProtocol::Ports{*link_, ports_.timers, *this},
        std::array<motion::TStepperMotor*, 4>{motors_[0].get(), motors_[1].get(), motors_[2].get(),
                                              motors_[3].get()});
    // 6. Each motor shows its position on its panel's position display.
    for (int m = 0; m < kMotorCount; ++m) {
        positionDisplays_[static_cast<size_t>(m)].Bind(handle_, kMsgTextDisplay,
                                                       static_cast<WPARAM>(m));
        motors_[static_cast<size_t>(m)]->SetPositionDisplay(
            &positionDisplays_[static_cast<size_t>(m)]);
    }
    // 8. to 10. Port setting 0, "default.smp" from the program directory, no current file
    //    name afterwards, and the output opened for the port setting (it writes Label21).
    SetPortSetting(0);
    const std::string error = session_.LoadStartupProject(programDirectory_);
    // 11. The caption.
    UpdateCaption();
    // 12. The Steps fields take digits only, right-aligned.
    for (int m = 0; m < kMotorCount; ++m)
        RestyleStepsField(m);
    // 13. Empty USB command queues, all motors stopped.
    ResetUsbBuffers();
    if (!error.empty()) ShowError(error);  // a "default.smp" that exists but cannot be read
}

void TMainForm::FormDestroy() {
    closed_ = true;
    ports_.desktop.SetOwnerWindow(nullptr);
    // 1. No timer steps or port writes after this; each Stop waits for its motor's timer event
    //    in progress, which only posts to this window and never waits for it.
    for (auto& motor : motors_)
        if (motor) motor->Stop();
    // 2. to 6. The link wakes a waiting writer, ends the receive thread (also one in a read) and
    //    closes both handles; the parallel-port library is released.
    if (link_) link_->Shutdown();
    parallel_.Release();
    // Nothing posts to the window any more.
    portStatus_.Bind(nullptr, 0, 0);
    for (auto& display : positionDisplays_)
        display.Bind(nullptr, 0, 0);
    // The symbols go with their panels, right after this.
    icons_.fill(nullptr);
    // 7. The motors go after everything that calls them, when the form is freed: a handler in a
    //    modal loop further down the stack may still return into code that reads them.
}

void TMainForm::ReleaseObjects() {
    for (auto& motor : motors_)
        if (motor) motor->Stop();
    protocol_.reset();
    for (auto& motor : motors_)
        if (motor) motor->SetPositionDisplay(nullptr);
    for (auto& editor : editors_)
        editor.reset();
    for (auto& edited : edited_)
        edited.reset();
    for (auto& motor : motors_)
        motor.reset();
    link_.reset();
}

// ---------------------------------------------------------------------------------------------
// Focus: the control that had it gets it back when the window is activated again; the first
// time that is motor 1's "<<".

void TMainForm::OnActivate(bool active) {
    if (active) return;
    HWND focus = GetFocus();
    if (focus != nullptr && IsChild(handle_, focus)) lastFocus_ = focus;
}

void TMainForm::OnSetFocus() {
    HWND target = lastFocus_ != nullptr && IsWindow(lastFocus_) ? lastFocus_ : Control("Button7");
    if (target != nullptr) SetFocus(target);
}

// ---------------------------------------------------------------------------------------------
// Dispatch

void TMainForm::OnCommand(int id, int code, HWND) {
    if (!Ready()) return;
    const auto found = controls_.find(id);
    if (found == controls_.end()) return;
    const ControlEntry& sender = found->second;
    if (code != BN_CLICKED) return;  // the edits' notifications need no handling
    switch (sender.EventHandler) {
        case Handler::kSpeedButton1Click:
            SpeedButton1Click(sender);
            break;
        case Handler::kButton12Click:
            Button12Click(sender);
            break;
        case Handler::kButton3Click:
            Button3Click(sender);
            break;
        case Handler::kButton4Click:
            Button4Click(sender);
            break;
        case Handler::kButton5Click:
            Button5Click(sender);
            break;
        case Handler::kButton8Click:
            Button8Click(sender);
            break;
        case Handler::kButton2Click:
            Button2Click(sender);
            break;
        case Handler::kButton1Click:
            Button1Click(sender);
            break;
        case Handler::kCheckBox1Click:
            CheckBox1Click(sender);
            break;
        case Handler::kButton9Click:
            Button9Click();
            break;
        case Handler::kButton10Click:
            Button10Click();
            break;
        case Handler::kCheckBox5Click:
            CheckBox5Click();
            break;
        case Handler::kCheckBox6:
            CheckBox6Click();
            break;
        case Handler::kButton41Click:
            Button41Click();
            break;
        case Handler::kButton42Click:
            Button42Click();
            break;
        case Handler::kButton43Click:
            Button43Click();
            break;
        case Handler::kButton44Click:
            Button44Click();
            break;
        case Handler::kbResetClick:
            bResetClick(sender);
            break;
        default:
            // The jog buttons act on mouse and key events (JogButtonProc), not on clicks.
            break;
    }
}

LRESULT TMainForm::OnNotify(const NMHDR& header) {
    // The lists may still notify while they are destroyed, after FormDestroy.
    if (!Ready()) return 0;
    const auto found = controls_.find(static_cast<int>(header.idFrom));
    if (found == controls_.end() || found->second.EventHandler != Handler::kListView1) return 0;
    const int motor = found->second.Tag;
    const project::ProgramEditor& editor = *editors_[static_cast<size_t>(motor)];
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

void TMainForm::OnMenu(int id) {
    if (!Ready()) return;
    switch (id) {
        case IDM_NEWPROJECT:
            NewProject1Click();
            break;
        case IDM_OPENPROJECT:
            OpenProject1Click();
            break;
        case IDM_SAVE:
            Save1Click();
            break;
        case IDM_SAVEAS:
            SaveAs1Click();
            break;
        case IDM_EXIT:
            Exit1Click();
            break;
        case IDM_CONFIGURATION:
            Parallelportsettings1Click();
            break;
        case IDM_ABOUT:
            HelpMenu(ports_.desktop, programDirectory_).About1Click();
            break;
        case IDM_README:
            HelpMenu(ports_.desktop, programDirectory_).Readme1Click();
            break;
        case IDM_HELPENGLISH:
            HelpMenu(ports_.desktop, programDirectory_).Help2Click();
            break;
        case IDM_HILFEDEUTSCH:
            HelpMenu(ports_.desktop, programDirectory_).HilfeDeutsch1Click();
            break;
        default:
            break;
    }
}

void TMainForm::Parallelportsettings1Click() {
    ConfigValues values;
    values.PortSetting = PortSetting();
    for (int m = 0; m < kMotorCount; ++m) {
        values.Motors[static_cast<size_t>(m)] = {MaxFrequency(m), ControlFrequency(m),
                                                 ResetDirection(m)};
    }
    // Cancel, Escape, close box; or the window was closed while the dialog was up.
    if (!TsConfigDlg::ShowModal(handle_, values) || !Ready()) return;
    SetPortSetting(values.PortSetting);
    OpenOutputPort();  // also when nothing changed
    for (int m = 0; m < kMotorCount; ++m) {
        const auto& motor = values.Motors[static_cast<size_t>(m)];
        SetMaxFrequency(m, motor.MaxFrequency);
        SetControlFrequency(m, motor.ControlFrequency);
        SetResetDirection(m, motor.ResetDirection);
    }
}

// ---------------------------------------------------------------------------------------------
// Step events, jog tally, output

void TMainForm::StepEvent(int32_t motor, uint8_t direction) {
    if (motor < 0 || motor >= kMotorCount) return;
    if (direction != motion::kDirRight && direction != motion::kDirLeft)
        return;  // no step: nothing turns, counts or is written
    if (view_.Step(motor, direction, motors_[static_cast<size_t>(motor)]->Running()) &&
        PostMessageA(handle_, kMsgMotorView, static_cast<WPARAM>(motor), 0) == 0)
        view_.NotifyFailed(motor);
    OutputUpdate();
}

void TMainForm::OutputUpdate() {
    const int16_t port = portSetting_.load();
    if (motion::TParallelPort::IsParallelPort(port)) {
        outputByte_.store(parallel_.WriteOutput(MotorPointers()));
        return;
    }
    std::array<uint8_t, 4> phases{};
    for (size_t i = 0; i < phases.size(); ++i)
        phases[i] = motors_[i]->Phase();
    const uint8_t byte = motion::TParallelPort::PackOutputByte(phases);
    outputByte_.store(byte);
    if (link_->Connected()) protocol_->DirectOutput(byte);
}

std::array<const motion::TStepperMotor*, 4> TMainForm::MotorPointers() const {
    return {motors_[0].get(), motors_[1].get(), motors_[2].get(), motors_[3].get()};
}

void TMainForm::OnMotorView(int motor) {
    if (!Ready() || motor < 0 || motor >= kMotorCount) return;
    const TMotorViewBridge::View view = view_.Take(motor);
    if (TAnimatedMotorIcon* icon = icons_[static_cast<size_t>(motor)]) icon->SetAngle(view.Angle);
    if (view.TallyChanged) ShowJogTally(motor, view.Tally);
}

void TMainForm::ShowJogTally(int motor, int32_t tally) {
    const auto fields = project::ProgramEditor::JogTallyFields(tally);
    SetWindowTextA(PanelControl(motor, kRowSteps), fields.Steps.c_str());
    SetWindowTextA(PanelControl(motor, kRowDirection), fields.Direction);
}

int32_t TMainForm::JogTally(int motor) const {
    return view_.Tally(motor);
}

void TMainForm::OnTextDisplay(WPARAM display) {
    if (display == kPortStatusDisplay) {
        SetWindowTextA(Control("Label21"), portStatus_.TakeText().c_str());
    } else if (display < kMotorCount) {
        SetWindowTextA(PanelControl(static_cast<int>(display), kRowPosition),
                       positionDisplays_[display].TakeText().c_str());
    }
}

void TMainForm::SpeedButton1Click(const ControlEntry& sender) {
    const int m = sender.Tag;
    // The text the display shows last is "0", also should a position text still be on its way.
    positionDisplays_[static_cast<size_t>(m)].SetText("0");
    SetWindowTextA(sender.Window, "0");
    motors_[static_cast<size_t>(m)]->SetPosition(0);
    view_.ZeroAngle(m);
    view_.ZeroTally(m);
    if (TAnimatedMotorIcon* icon = icons_[static_cast<size_t>(m)]) icon->SetAngle(0.0f);
    // Every panel's Steps field shows its tally as a signed number; no direction button changes.
    // A change of another motor's tally still on its way shows with its direction as it comes.
    for (int i = 0; i < kMotorCount; ++i)
        SetWindowTextA(PanelControl(i, kRowSteps), std::to_string(view_.Tally(i)).c_str());
}

void TMainForm::Button12Click(const ControlEntry& sender) {
    SetWindowTextA(sender.Window,
                   project::ProgramEditor::NextDirectionCaption(WindowText(sender.Window)));
}

void TMainForm::Exit1Click() {
    PostMessageA(handle_, WM_CLOSE, 0, 0);
}

// ---------------------------------------------------------------------------------------------
// Run control

bool TMainForm::IsChecked(const char* name) const {
    return SendMessageA(Control(name), BM_GETCHECK, 0, 0) == BST_CHECKED;
}

void TMainForm::StopMotor(int motor) {
    // Stop returns after the motor's timer event in progress: a finish it posted carries the
    // count from before.
    motors_[static_cast<size_t>(motor)]->Stop();
    ++stopCount_[static_cast<size_t>(motor)];
}

void TMainForm::EnableRunInOrderIfIdle() {
    // Idle also means that the module has played what it was sent of a "USB" run.
    bool anyBusy = false;
    for (const auto& motor : motors_)
        anyBusy = anyBusy || !motor->Idle();
    EnableWindow(Control("CheckBox5"), !anyBusy);
}

void TMainForm::StopAndClearList(int motor) {
    StopMotor(motor);
    protocol_->ClearCommandList(motor + 1);
}

void TMainForm::EndRunInModule(int motor) {
    // The host must not step a motor under a run that the module plays.
    if (!motors_[static_cast<size_t>(motor)]->RunsInModule()) return;
    StopAndClearList(motor);
    EnableRunInOrderIfIdle();
}

void TMainForm::StartMotor(int motor) {
    if (motor < 0 || motor >= kMotorCount) return;
    if (portSetting_.load() == usb::TUsbProtocol::kPortUsb) {
        // The module runs it: queue discarded, Stop, Running set, status asked (nothing for an
        // empty program); the receive thread streams the program.
        protocol_->StartMotor(motor);
    } else {
        // Host-timed: the first step at once, the motor's timer paces the rest. An empty program
        // finishes at once.
        motors_[static_cast<size_t>(motor)]->StartProgram();
    }
}

void TMainForm::Button2Click(const ControlEntry& sender) {
    const int m = sender.Tag;
    if (motors_[static_cast<size_t>(m)]->LockProgram()->Count() == 0) return;
    EnableWindow(Control("CheckBox5"), FALSE);
    StartMotor(m);
    // A start that started nothing (no module in "USB") leaves "Run in order" usable.
    EnableRunInOrderIfIdle();
}

void TMainForm::Button1Click(const ControlEntry& sender) {
    // The motor first: a running motor would otherwise refill its ring right after the clear.
    StopAndClearList(sender.Tag);
    EnableRunInOrderIfIdle();
}

void TMainForm::CheckBox1Click(const ControlEntry& sender) {
    // Takes effect at the program's end, also during a run.
    SetLooping(sender.Tag, SendMessageA(sender.Window, BM_GETCHECK, 0, 0) == BST_CHECKED);
}

void TMainForm::CheckBox5Click() {
    const bool checked = IsChecked("CheckBox5");
    // A disabled "Loop" keeps its check mark, for the next time "Run in order" is checked.
    EnableWindow(Control("CheckBox6"), checked);
    protocol_->SetRunInOrder(checked);
}

void TMainForm::CheckBox6Click() {
    protocol_->SetRunInOrderLoop(IsChecked("CheckBox6"));
}

void TMainForm::Button9Click() {
    EnableWindow(Control("CheckBox5"), FALSE);
    if (portSetting_.load() == usb::TUsbProtocol::kPortUsb) {
        protocol_->StartAll();
    } else {
        // Motor 1 alone heads a chain; otherwise all four start together, in this order.
        const int last = IsChecked("CheckBox5") ? 0 : kMotorCount - 1;
        for (int m = 0; m <= last; ++m)
            motors_[static_cast<size_t>(m)]->StartProgram();
    }
    EnableRunInOrderIfIdle();  // nothing started without a module in "USB"
}

void TMainForm::Button10Click() {
    // The chain ends first, so that no motor it would start slips in behind the Stops.
    protocol_->EndRunInOrder();
    for (int m = 0; m < kMotorCount; ++m)
        StopMotor(m);
    EnableWindow(Control("CheckBox5"), TRUE);
    protocol_->ClearCommandList(0);
}

void TMainForm::ProgramFinished(int32_t motor) {
    if (motor < 0 || motor >= kMotorCount) return;
    PostMessageA(handle_, kMsgProgramFinished, static_cast<WPARAM>(motor),
                 static_cast<LPARAM>(stopCount_[static_cast<size_t>(motor)].load()));
}

void TMainForm::OnProgramFinished(int motor, uint32_t stopCount) {
    if (!Ready() || motor < 0 || motor >= kMotorCount) return;
    if (stopCount != stopCount_[static_cast<size_t>(motor)].load()) {
        EnableRunInOrderIfIdle();  // stopped since: the chain ends there
        return;
    }
    // In "USB" the receive thread carries "Run in order" on; a finish reported here belongs to a
    // host-timed run only.
    if (portSetting_.load() != usb::TUsbProtocol::kPortUsb && IsChecked("CheckBox5")) {
        int next = motor + 1;
        if (next == kMotorCount) next = IsChecked("CheckBox6") ? 0 : -1;
        // A chain in which no motor holds a program step would pass empty programs on for ever
        // (each finishes at once): it ends instead.
        bool anySteps = false;
        for (const auto& m : motors_)
            anySteps = anySteps || m->LockProgram()->Count() > 0;
        if (next >= 0 && anySteps) StartMotor(next);
    }
    EnableRunInOrderIfIdle();
}

void TMainForm::Button41Click() {
    protocol_->ClearCommandList(0);
}
void TMainForm::Button42Click() {
    protocol_->GetMotorStatus();
}
void TMainForm::Button43Click() {
    protocol_->RequestStack(usb::kDataStack);
}
void TMainForm::Button44Click() {
    protocol_->RequestStack(usb::kProgramStack);
}

void TMainForm::bResetClick(const ControlEntry& sender) {
    const int t = sender.Tag;  // 0: all motors, 1-4: one motor
    resetIdle_ = !resetIdle_;
    if (resetIdle_) {
        // Cancelling the reset in progress. The caption goes back to "Reset" also when no
        // module took the reset (neither port nor module available), so that the button never
        // keeps offering a "Cancel" of nothing.
        if (link_->Connected()) protocol_->CancelReset(t);
        SetWindowTextA(sender.Window, "Reset");
        return;
    }
    SetWindowTextA(sender.Window, "Cancel");
    if (motion::TParallelPort::IsParallelPort(portSetting_.load()) && parallel_.Bound() &&
        !ResetDrive(t, sender.Window))
        return;  // the window was closed during the drive
    // The module drives the motors to their reference positions; the receive thread ends it.
    // The runs of the motors it resets end first, and with them any chain.
    if (link_->Connected()) {
        for (int m = 0; m < kMotorCount; ++m)
            if (t < 1 || t > kMotorCount || t == m + 1) StopMotor(m);
        protocol_->StartReset(t);
    }
    // Every position is unknown until the motor's next step.
    for (int m = 0; m < kMotorCount; ++m) {
        const size_t i = static_cast<size_t>(m);
        motors_[i]->SetPosition(0);
        positionDisplays_[i].SetText("X");
        view_.ZeroAngle(m);
        if (TAnimatedMotorIcon* icon = icons_[i]) icon->SetAngle(0.0f);
    }
    EnableWindow(Control("CheckBox5"), TRUE);
}

bool TMainForm::ResetDrive(int t, HWND button) {
    // Every motor stops; the slowest positive maximum frequency below 1000 Hz paces all.
    float limit = 1000.0f;
    std::array<bool, kMotorCount> taking{};
    for (int i = 0; i < kMotorCount; ++i) {
        StopMotor(i);
        const double maxFrequency = motors_[static_cast<size_t>(i)]->MaxFrequency();
        if (maxFrequency > 0 && maxFrequency < limit) limit = static_cast<float>(maxFrequency);
        taking[static_cast<size_t>(i)] = t == 0 || t == i + 1;
    }
    const uint32_t pause = static_cast<uint32_t>(motion::RoundHalfEven(800.0 / limit));
    const uint32_t start = ports_.timers.TickCount();
    const uint32_t number = ++resetDriveNumber_;
    bool quit = false;
    WPARAM quitCode = 0;
    for (;;) {
        if (std::none_of(taking.begin(), taking.end(), [](bool b) { return b; })) break;
        const std::optional<uint8_t> status = parallel_.ReadStatus();
        if (!status) break;  // the port was released (another port setting): nothing to read
        // A switch once reached ends that motor's part for good.
        for (int i = 0; i < kMotorCount; ++i)
            if (motion::TParallelPort::AtResetPosition(*status, i))
                taking[static_cast<size_t>(i)] = false;
        for (int i = 0; i < kMotorCount; ++i) {
            if (!taking[static_cast<size_t>(i)]) continue;
            motion::TStepperMotor& motor = *motors_[static_cast<size_t>(i)];
            motor.Step(motor.ResetDirection());
        }
        if (ports_.timers.TickCount() - start > 10000) {
            ports_.desktop.ShowMessage("Reset time exceeded (10 seconds)", "Warning");
            break;
        }
        // Other controls stay usable; a Reset click here cancels the drive.
        MSG message;
        while (!quit && PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
            if (message.message == WM_QUIT) {
                quit = true;  // handed on to the message loop that waits for it
                quitCode = message.wParam;
                break;
            }
            TranslateMessage(&message);
            DispatchMessageA(&message);
        }
        if (quit || !Ready() || resetIdle_ || number != resetDriveNumber_) break;
        ports_.timers.Sleep(pause);
    }
    if (quit) PostQuitMessage(static_cast<int>(quitCode));
    // Closed meanwhile: the form stays until the outermost message handler returns.
    if (!Ready()) return false;
    // A newer drive (started by a click during this one) owns the reset state now.
    if (number == resetDriveNumber_) resetIdle_ = true;
    if (IsWindow(button)) SetWindowTextA(button, "Reset");
    return true;
}

void TMainForm::JogMouseDown(int motor, uint8_t direction) {
    motion::TStepperMotor& m = *motors_[static_cast<size_t>(motor)];
    // The release would end the run anyway.
    EndRunInModule(motor);
    // The first step at once; when the rate limiter would make it wait, the jog's timer takes
    // it, so that the window never sleeps.
    const bool stepped = m.TryStep(direction);
    m.StartJog(direction, !stepped);
}

void TMainForm::JogMouseUp(int motor) {
    // Also ends a program the motor was running.
    StopMotor(motor);
}

void TMainForm::JogKeyDown(int motor, uint8_t direction, WPARAM key) {
    // One step per key-down, the keyboard's auto-repeat included; no jog.
    if (key != kSpaceKey) return;
    EndRunInModule(motor);
    motors_[static_cast<size_t>(motor)]->Step(direction);
}

LRESULT CALLBACK TMainForm::JogButtonProc(HWND button, UINT message, WPARAM wParam, LPARAM lParam,
                                          UINT_PTR id, DWORD_PTR data) {
    try {
        auto* self = reinterpret_cast<TMainForm*>(data);
        if (message == WM_NCDESTROY) {
            RemoveWindowSubclass(button, JogButtonProc, id);
            if (self->jogPressed_ == button) self->jogPressed_ = nullptr;
        } else if (self->Ready()) {
            const auto found = self->controls_.find(GetDlgCtrlID(button));
            if (found != self->controls_.end()) {
                const int motor = found->second.Motor;
                const uint8_t direction = found->second.EventHandler == Handler::kButton6
                                              ? motion::kDirRight
                                              : motion::kDirLeft;
                switch (message) {
                    case WM_LBUTTONDOWN:
                    case WM_RBUTTONDOWN:
                    case WM_MBUTTONDOWN:
                    case WM_LBUTTONDBLCLK:
                    case WM_RBUTTONDBLCLK:
                    case WM_MBUTTONDBLCLK: {
                        self->jogPressed_ = button;
                        self->JogMouseDown(motor, direction);
                        // Any button: the release is to come here, also off the button.
                        const LRESULT result = DefSubclassProc(button, message, wParam, lParam);
                        if (GetCapture() != button) SetCapture(button);
                        return result;
                    }
                    case WM_LBUTTONUP:
                    case WM_RBUTTONUP:
                    case WM_MBUTTONUP:
                        if (self->jogPressed_ == button) {
                            self->jogPressed_ = nullptr;
                            self->JogMouseUp(motor);
                            if (GetCapture() == button && message != WM_LBUTTONUP) ReleaseCapture();
                        }
                        break;
                    case WM_CAPTURECHANGED:
                        // The release can no longer arrive (another window took the mouse): a
                        // jog must not run on unattended.
                        if (self->jogPressed_ == button) {
                            self->jogPressed_ = nullptr;
                            self->JogMouseUp(motor);
                        }
                        break;
                    case WM_KEYDOWN:
                        self->JogKeyDown(motor, direction, wParam);
                        break;
                    default:
                        break;
                }
            }
        }
    } catch (...) {
        return 0;
    }
    return DefSubclassProc(button, message, wParam, lParam);
}

// ---------------------------------------------------------------------------------------------
// Program editor

project::ProgramEditor::EntryFields TMainForm::ReadEntryFields(int motor) const {
    return {WindowText(PanelControl(motor, kRowSteps)),
            WindowText(PanelControl(motor, kRowFrequency)),
            WindowText(PanelControl(motor, kRowDirection)),
            WindowText(PanelControl(motor, kRowStartStop))};
}

void TMainForm::ApplyEditorUpdate(int motor, const project::ProgramEditor::Update& update) {
    HWND list = PanelControl(motor, kRowList);
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
        SetWindowTextA(PanelControl(motor, kRowSteps), update.Fill->Steps.c_str());
        SetWindowTextA(PanelControl(motor, kRowFrequency), update.Fill->Frequency.c_str());
        SetWindowTextA(PanelControl(motor, kRowDirection), update.Fill->Direction.c_str());
        SetWindowTextA(PanelControl(motor, kRowStartStop), update.Fill->StartStop.c_str());
    }
    if (update.ResetJogTally) view_.ZeroTally(motor);
}

void TMainForm::Button3Click(const ControlEntry& sender) {
    const int m = sender.Tag;
    ApplyEditorUpdate(m, editors_[static_cast<size_t>(m)]->Add(ReadEntryFields(m)));
}

void TMainForm::Button4Click(const ControlEntry& sender) {
    const int m = sender.Tag;
    ApplyEditorUpdate(m, editors_[static_cast<size_t>(m)]->Insert(ReadEntryFields(m)));
}

void TMainForm::Button5Click(const ControlEntry& sender) {
    const int m = sender.Tag;
    ApplyEditorUpdate(m, editors_[static_cast<size_t>(m)]->Change(ReadEntryFields(m)));
}

void TMainForm::Button8Click(const ControlEntry& sender) {
    const int m = sender.Tag;
    ApplyEditorUpdate(m, editors_[static_cast<size_t>(m)]->Delete());
}

void TMainForm::ListView1SelectItem(int motor, int32_t row, bool selected) {
    ApplyEditorUpdate(motor, editors_[static_cast<size_t>(motor)]->SelectItem(row, selected));
}

void TMainForm::MotorStepChanged(int32_t motor) {
    if (motor < 0 || motor >= kMotorCount) return;
    project::ProgramEditor& editor = *editors_[static_cast<size_t>(motor)];
    // A post that fails (a full message queue) leaves nothing pending: the next step change
    // posts again, and the highlight catches up.
    if (editor.RequestCurrentStep() &&
        PostMessageA(handle_, kMsgShowCurrentStep, static_cast<WPARAM>(motor), 0) == 0)
        editor.CancelCurrentStepRequest();
}

void TMainForm::ShowCurrentStep(int motor) {
    if (!Ready() || motor < 0 || motor >= kMotorCount) return;
    ApplyEditorUpdate(motor, editors_[static_cast<size_t>(motor)]->ShowCurrentStep());
}

// ---------------------------------------------------------------------------------------------
// File menu

void TMainForm::UpdateCaption() {
    SetWindowTextA(handle_, session_.Caption().c_str());
}

void TMainForm::ShowError(const std::string& text) {
    if (!closed_) ports_.dialogs.ShowError(handle_, text);
}

void TMainForm::NewProject1Click() {
    session_.NewProject();
    UpdateCaption();
}

void TMainForm::OpenProject1Click() {
    std::string path;
    // The window may have been closed while the dialog was up.
    if (!ports_.dialogs.ChooseOpenPath(handle_, path) || !Ready()) return;
    const std::string error = session_.OpenProject(path);
    UpdateCaption();
    if (!error.empty()) ShowError(error);
}

void TMainForm::Save1Click() {
    if (session_.FileName().empty()) {
        SaveAs1Click();
        return;
    }
    const std::string error = session_.Save();
    if (!error.empty()) ShowError(error);
}

void TMainForm::SaveAs1Click() {
    std::string path;
    if (!ports_.dialogs.ChooseSavePath(handle_, path) || !Ready()) return;
    const std::string error = session_.SaveAs(path);
    UpdateCaption();
    if (!error.empty()) ShowError(error);
}

// ---------------------------------------------------------------------------------------------
// ProjectTarget

void TMainForm::SetPortSetting(int16_t value) {
    portSetting_.store(value);
    parallel_.NewSelection();
    if (protocol_) protocol_->SetPortSetting(value);
}

void TMainForm::OpenOutputPort() {
    // Not after the window was closed (a project still being read after a box).
    if (closed_) return;
    const int16_t port = portSetting_.load();
    if (motion::TParallelPort::IsParallelPort(port)) {
        // The parallel-port half: the link's handles closed (its thread parks itself), the
        // library bound if it is not yet, the label showing the port. A module reset in
        // progress can no longer end in the module.
        link_->Close();
        protocol_->AbandonReset();
        portStatus_.SetText(parallel_.Open(port));
    } else {
        // The USB half releases the parallel port itself and writes the label.
        link_->OpenUsb();
    }
}

double TMainForm::ControlFrequency(int motor) const {
    return motors_[static_cast<size_t>(motor)]->ControlFrequency();
}
void TMainForm::SetControlFrequency(int motor, double value) {
    motors_[static_cast<size_t>(motor)]->SetControlFrequency(value);
}
double TMainForm::MaxFrequency(int motor) const {
    return motors_[static_cast<size_t>(motor)]->MaxFrequency();
}
void TMainForm::SetMaxFrequency(int motor, double value) {
    motors_[static_cast<size_t>(motor)]->SetMaxFrequency(value);
}
uint8_t TMainForm::ResetDirection(int motor) const {
    return motors_[static_cast<size_t>(motor)]->ResetDirection();
}
void TMainForm::SetResetDirection(int motor, uint8_t value) {
    motors_[static_cast<size_t>(motor)]->SetResetDirection(value);
}
bool TMainForm::Looping(int motor) const {
    return motors_[static_cast<size_t>(motor)]->LockProgram()->Looping;
}
void TMainForm::SetLooping(int motor, bool value) {
    motors_[static_cast<size_t>(motor)]->LockProgram()->Looping = value;
}
void TMainForm::GetProgram(int motor, std::vector<motion::TsmProgramStep>& steps) const {
    editors_[static_cast<size_t>(motor)]->GetProgram(steps);
}
void TMainForm::AppendStep(int motor, const motion::TsmProgramStep& step) {
    // The list view learns the new row count once the whole file is read (RenumberProgramList).
    editors_[static_cast<size_t>(motor)]->AppendStep(step);
}
void TMainForm::ClearProgram(int motor) {
    ApplyEditorUpdate(motor, editors_[static_cast<size_t>(motor)]->ClearProgram());
}
void TMainForm::SetLoopCheckBox(int motor, bool checked) {
    SendMessageA(PanelControl(motor, kRowLoop), BM_SETCHECK, checked ? BST_CHECKED : BST_UNCHECKED,
                 0);
}
void TMainForm::RenumberProgramList(int motor) {
    // "#" is each row's position: the list needs only its row count and a redraw.
    HWND list = PanelControl(motor, kRowList);
    ListView_SetItemCountEx(list, editors_[static_cast<size_t>(motor)]->List().Count(),
                            LVSICF_NOSCROLL);
    InvalidateRect(list, nullptr, FALSE);
}

// ---------------------------------------------------------------------------------------------
// USB link and protocol

void TMainForm::ReleaseParallelPort() {
    parallel_.Release();
}
void TMainForm::ClearSegmentRings() {
    protocol_->ClearSegmentRings();
}
void TMainForm::ResetUsbBuffers() {
    protocol_->ResetUsbBuffers();
}
void TMainForm::ReceiveThreadStarted() {
    protocol_->ReceiveThreadStarted();
}
void TMainForm::BeginPass() {
    protocol_->BeginPass();
}
void TMainForm::DispatchReport(const usb::UsbReport& report, double hostSeconds) {
    protocol_->DispatchReport(report, hostSeconds);
}

void TMainForm::ShowResetCaption(int32_t button) {
    PostMessageA(handle_, kMsgResetCaption, static_cast<WPARAM>(button), 0);
}
void TMainForm::SetResetIdle() {
    PostMessageA(handle_, kMsgResetIdle, 0, 0);
}
void TMainForm::EnableRunInOrder(bool enabled) {
    PostMessageA(handle_, kMsgEnableRunInOrder, enabled ? 1 : 0, 0);
}

}  // namespace ui
