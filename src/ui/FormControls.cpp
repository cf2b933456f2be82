#include "ui/FormControls.h"

#include <commctrl.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "project/ProgramEditor.h"
#include "project/ProgramListModel.h"
#include "ui/MotorPanel.h"

namespace ui {

namespace {

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
// Subclass id of the jog buttons' mouse and key handling (the run control's procedure).
constexpr UINT_PTR kJogButtonSubclass = 3;
// Subclass id of the position displays' focus-free clicking.
constexpr UINT_PTR kPositionDisplaySubclass = 4;

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

std::string WindowText(HWND window) {
    const int length = GetWindowTextLengthA(window);
    std::string text(static_cast<size_t>(std::max(length, 0)) + 1, '\0');
    const int copied = GetWindowTextA(window, text.data(), length + 1);
    text.resize(static_cast<size_t>(std::max(copied, 0)));
    return text;
}

TFormControls::~TFormControls() {
    if (font_ != nullptr) DeleteObject(font_);
    if (boldFont_ != nullptr) DeleteObject(boldFont_);
}

HWND TFormControls::CreateControl(HWND parent, ControlKind kind, int id, int left, int top,
                                  int width, int height, const char* caption, DWORD extraStyle) {
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
        reinterpret_cast<HINSTANCE>(GetWindowLongPtrA(form_, GWLP_HINSTANCE)), nullptr);
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

void TFormControls::Add(int id, const char* name, int tag, int motor, Handler handler,
                        HWND window) {
    entries_[id] = Entry{name, tag, motor, handler, window};
}

void TFormControls::Create(HWND form, SUBCLASSPROC jogProc, DWORD_PTR jogData) {
    form_ = form;
    font_ = CreateFontA(-11, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                        OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                        DEFAULT_PITCH | FF_SWISS, "MS Sans Serif");
    boldFont_ = CreateFontA(-12, 0, 0, 0, FW_BOLD, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                            OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                            DEFAULT_PITCH | FF_SWISS, "MS Sans Serif");

    const auto panelRows = PanelControls();
    for (int motor = 0; motor < kMotorCount; ++motor) {
        HWND panel = CreateMotorPanel(form_, kPanelLeft[motor], kPanelTop[motor], 900 + motor);
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
            Add(id, c.Names[motor], tag, motor, c.EventHandler, hwnd);
            if (c.EventHandler == Handler::kEdit2KeyPress)
                SetWindowSubclass(hwnd, EditProc, kKeyFilterSubclass, 0);
            else if (c.EventHandler == Handler::kButton6 || c.EventHandler == Handler::kButton7)
                SetWindowSubclass(hwnd, jogProc, kJogButtonSubclass, jogData);
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
            MapWindowPoints(nullptr, form_, reinterpret_cast<POINT*>(&box), 2);
            left += box.left;
            top += box.top;
        }
        const DWORD extra = c.Disabled ? WS_DISABLED : 0;
        const int id = WindowControlId(row);
        HWND hwnd =
            CreateControl(form_, c.Kind, id, left, top, c.Width, c.Height, c.Caption, extra);
        if (c.Kind == ControlKind::kGroupBox) group = hwnd;
        Add(id, c.Name, c.Tag, -1, c.EventHandler, hwnd);
    }

    // The frame may have come out another size (a wrapped menu bar): the client area is fixed.
    RECT client;
    GetClientRect(form_, &client);
    if (client.right != kClientWidth || client.bottom != kClientHeight) {
        RECT frame;
        GetWindowRect(form_, &frame);
        SetWindowPos(form_, nullptr, 0, 0, frame.right - frame.left + kClientWidth - client.right,
                     frame.bottom - frame.top + kClientHeight - client.bottom,
                     SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    }
}

HWND TFormControls::Named(std::string_view name) const {
    for (const auto& [id, entry] : entries_)
        if (entry.Name != nullptr && name == entry.Name) return entry.Window;
    return nullptr;
}

const TFormControls::Entry* TFormControls::Find(int id) const {
    const auto found = entries_.find(id);
    return found == entries_.end() ? nullptr : &found->second;
}

HWND TFormControls::Panel(int motor, PanelRow row) const {
    const Entry* entry = Find(PanelControlId(motor, row));
    return entry != nullptr ? entry->Window : nullptr;
}

HWND TFormControls::Window(WindowRow row) const {
    const Entry* entry = Find(WindowControlId(row));
    return entry != nullptr ? entry->Window : nullptr;
}

void TFormControls::RestyleStepsField(int motor, HWND& focus) {
    // ES_MULTILINE and ES_RIGHT hold only from a control's creation on: the field is made anew
    // with the added styles, with its text, font, id and place in the tab order.
    const int id = PanelControlId(motor, kRowSteps);
    auto found = entries_.find(id);
    if (found == entries_.end() || found->second.Window == nullptr) return;
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
        reinterpret_cast<HINSTANCE>(GetWindowLongPtrA(form_, GWLP_HINSTANCE)), nullptr);
    if (fresh == nullptr) return;  // the field keeps its first styles
    SendMessageA(fresh, WM_SETFONT, reinterpret_cast<WPARAM>(font_), FALSE);
    SetWindowPos(fresh, before != nullptr ? before : HWND_TOP, 0, 0, 0, 0,
                 SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    SetWindowSubclass(fresh, EditProc, kStepsFieldSubclass, 0);
    if (focus == old) focus = fresh;
    DestroyWindow(old);
    found->second.Window = fresh;
}

LRESULT CALLBACK TFormControls::EditProc(HWND edit, UINT message, WPARAM wParam, LPARAM lParam,
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

}  // namespace ui
