// MainWindow: the program's main window as the operator sees it, for a test driver in another
// process. Panels are told apart by their place in the window (motor 1 top left, 2 top right,
// 3 bottom left, 4 bottom right); controls inside a panel or the window by class, caption and
// place. Menu commands are sent as the menu sends them (WM_COMMAND with the item's id, found by
// the menu's and the item's captions).
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace e2e {

// One program step as the operator types it into a panel's entry fields.
struct TypedStep {
    std::string Steps;
    std::string Frequency;
    std::string Direction;  // the direction button's caption: "Right", "Left" or "Pause"
    std::string StartStop;
};

class MainWindow {
  public:
    static constexpr int kMotors = 4;
    static constexpr int kListColumns = 5;

    // window: the main window; process: the program's process handle (for reading its lists);
    // exePath: the program file (its menu resource, should the menu not be readable from here).
    MainWindow(HWND window, HANDLE process, std::string exePath);

    HWND Handle() const { return window_; }
    std::string Caption() const;

    // Panel of motor 0..3, or null.
    HWND Panel(int motor) const;
    // Panel controls, by place (their captions change while the program runs).
    HWND JogLeft(int motor) const;   // "<<"
    HWND JogRight(int motor) const;  // ">>"
    HWND PositionDisplay(int motor) const;
    HWND List(int motor) const;
    HWND StepsField(int motor) const;
    HWND FrequencyField(int motor) const;
    HWND DirectionButton(int motor) const;
    HWND StartStopField(int motor) const;
    HWND DeleteButton(int motor) const;
    HWND ChangeButton(int motor) const;
    HWND InsertButton(int motor) const;
    HWND AddButton(int motor) const;
    HWND LoopBox(int motor) const;
    HWND ResetButton(int motor) const;
    HWND StopButton(int motor) const;
    HWND StartButton(int motor) const;

    // Window-wide controls.
    HWND SynchronousStart() const;
    HWND SynchronousStop() const;
    HWND RunInOrder() const;
    HWND RunInOrderLoop() const;
    HWND ResetAll() const;
    HWND PortStatus() const;
    std::string PortStatusText() const;

    // Types a program step into the motor's entry fields (the direction button clicked until it
    // shows the wanted caption) and presses "Add". False when a control is missing or the
    // caption cannot be reached.
    bool AddProgramStep(int motor, const TypedStep& step);
    // The texts of every row of the motor's program list, columns "#" to "Start/Stop".
    std::vector<std::vector<std::string>> ProgramRows(int motor) const;
    int SelectedRow(int motor) const;

    // Posts the menu command menu > item (captions with their '&'); false when no such item.
    bool PostMenuCommand(const std::string& menu, const std::string& item) const;
    // The item's command id, or 0.
    UINT MenuCommandId(const std::string& menu, const std::string& item) const;

  private:
    HWND PanelControl(int motor, const char* className, int left, int top) const;
    HWND WindowControl(const char* className, int left, int top) const;

    HWND window_;
    HANDLE process_;
    std::string exePath_;
};

}  // namespace e2e
