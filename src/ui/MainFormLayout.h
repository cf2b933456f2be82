// The main window's controls as data: every control of the four motor panels and of the window
// itself with its form name, kind, place, caption, tag and the handler its events go to. The
// window is built from these tables, and its WM_COMMAND / WM_NOTIFY dispatch looks the sending
// control up by id in them (no chain of ifs over control names).
//
// Control ids: panel controls 1000 + 100 * motor index + row of kPanelControls; window-wide
// controls 2000 + row of kWindowControls. No Windows header here: the tables are plain data.
#pragma once

#include <cstdint>
#include <span>

namespace ui {

enum class ControlKind {
    kLabel,       // static text, sized to its text
    kBoldLabel,   // the panel heading
    kButton,      // push button
    kFlatButton,  // the position display: a flat button outside the tab order
    kEdit,        // single-line edit with a sunken border
    kListView,    // the program list: report view, owner data, single whole-row selection
    kCheckBox,
    kGroupBox,
    kMotorIcon,  // TAnimatedMotorIcon
};

// The handler a control's events go to, named after the control that first used it.
enum class Handler {
    kNone,
    kButton2Click,       // panel "Start"
    kButton1Click,       // panel "Stop"
    kCheckBox1Click,     // panel "Loop"
    kbResetClick,        // the five "Reset" buttons
    kButton6,            // ">>": Button6MouseDown / MouseUp / KeyDown
    kButton7,            // "<<": Button7MouseDown / MouseUp / KeyDown
    kSpeedButton1Click,  // position display
    kButton12Click,      // direction button
    kButton3Click,       // "Add"
    kButton4Click,       // "Insert"
    kButton5Click,       // "Change"
    kButton8Click,       // "Delete"
    kListView1,          // ListView1Insert / ListView1SelectItem
    kEdit2KeyPress,      // frequency and ramp time fields
    kSteps,              // Steps field (no handler of its own; digits only)
    kButton9Click,       // synchronous "Start"
    kButton10Click,      // synchronous "Stop"
    kCheckBox5Click,     // "Run in order"
    kCheckBox6,          // its "Loop"
    kButton41Click,
    kButton42Click,
    kButton43Click,
    kButton44Click,
};

// How a panel control's tag is set: the motor index 0-3, the motor number 1-4 (the panel
// "Reset" buttons), or no tag.
enum class TagRule { kNone, kMotorIndex, kMotorNumber };

struct PanelControl {
    const char* Names[4];  // motor 1 .. 4; null for the unnamed labels of the entry frame
    ControlKind Kind;
    int Left, Top, Width, Height;  // panel client coordinates; 0 size = sized to the text
    const char* Caption;
    Handler EventHandler;
    TagRule Tag;
};

struct WindowControl {
    const char* Name;
    ControlKind Kind;
    int Left, Top, Width, Height;  // window client coordinates (group buttons: group's)
    const char* Caption;
    Handler EventHandler;
    int Tag;
    bool InGroup;  // placed inside GroupBox1 (coordinates relative to the group box)
    bool Disabled;
};

constexpr int kMotorCount = 4;
constexpr int kPanelWidth = 321;
constexpr int kPanelHeight = 255;
constexpr int kPanelLeft[kMotorCount] = {0, 432, 0, 432};
constexpr int kPanelTop[kMotorCount] = {0, 0, 264, 264};
constexpr int kClientWidth = 753;
constexpr int kClientHeight = 519;
// The frame of the entry fields inside each panel.
constexpr int kBevelLeft = 8, kBevelTop = 142, kBevelWidth = 305, kBevelHeight = 77;

constexpr int kPanelIdBase = 1000;
constexpr int kPanelIdStride = 100;
constexpr int kWindowIdBase = 2000;

// Panel controls, in panel 1's creation (= tab) order. Panels 2 to 4 create their "Reset" last.
std::span<const PanelControl> PanelControls();
// Window-wide controls in creation (= tab) order, after the four panels.
std::span<const WindowControl> WindowControls();

// Rows of PanelControls with a role the window code needs by position.
enum PanelRow : int {
    kRowHeading,
    kRowIcon,
    kRowJogLeft,
    kRowJogRight,
    kRowPosition,
    kRowList,
    kRowLabelSteps,
    kRowLabelFrequency,
    kRowLabelDirection,
    kRowLabelStartStop,
    kRowSteps,
    kRowFrequency,
    kRowDirection,
    kRowStartStop,
    kRowDelete,
    kRowChange,
    kRowInsert,
    kRowAdd,
    kRowLoop,
    kRowReset,
    kRowStop,
    kRowStart,
    kPanelRowCount
};

// Rows of WindowControls.
enum WindowRow : int {
    kRowGroupBox,
    kRowSyncStart,
    kRowSyncStop,
    kRowRunInOrder,
    kRowRunInOrderLoop,
    kRowResetAll,
    kRowClearCommandList,
    kRowGetMotorStatus,
    kRowGetDataStack,
    kRowGetProgramStack,
    kRowPortCaption,
    kRowPortStatus,
    kWindowRowCount
};

inline int PanelControlId(int motor, int row) {
    return kPanelIdBase + kPanelIdStride * motor + row;
}
inline int WindowControlId(int row) {
    return kWindowIdBase + row;
}

}  // namespace ui
