// TMainForm: the main window, the whole operator surface. It owns the four motors with their
// symbols and program editors, the port setting, the jog tallies, the USB link (with its receive
// thread) and protocol, and the parallel-port drive; it lays out the four motor panels and the
// window-wide controls, loads "default.smp" at start-up and runs the File menu.
//
// Threads: every method runs on the window's thread, except the motor callbacks (StepEvent,
// MotorStepChanged), the output update and the UsbProtocolWindow calls, which arrive on timer
// threads or the USB receive thread. Those never touch a window: they keep what changed in a
// guarded snapshot (angle, jog tally) or in the editor, and post one notification per motor
// until the window thread has taken it. Closing the window stops the motors first (each stop
// waits for the motor's timer event in progress, which never waits for the window), ends the
// receive thread, then frees the motors.
#pragma once

#include <windows.h>

#include <array>
#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>

#include "motion/ParallelPort.h"
#include "motion/StepperMotor.h"
#include "platform/Desktop.h"
#include "platform/DeviceFile.h"
#include "platform/FileStore.h"
#include "platform/LibraryLoader.h"
#include "platform/TimerService.h"
#include "project/EditedStepperMotor.h"
#include "project/ProgramEditor.h"
#include "project/ProjectSession.h"
#include "project/ProjectTarget.h"
#include "ui/AnimatedMotorIcon.h"
#include "ui/FormDialogs.h"
#include "ui/MainFormLayout.h"
#include "ui/MotorViewBridge.h"
#include "ui/PostedTextDisplay.h"
#include "usb/UsbLink.h"
#include "usb/UsbProtocol.h"
#include "usb/UsbProtocolWindow.h"

namespace ui {

class TMainForm final : public project::ProjectTarget,
                        public usb::UsbLinkClient,
                        public usb::UsbProtocolWindow {
  public:
    static constexpr const char* kClassName = "TMainForm";
    // The caption stored with the form; FormCreate replaces it with "Stepper".
    static constexpr const char* kDesignCaption = "Q417-Stepper";

    // Notifications the window posts to itself from other threads.
    enum : UINT {
        kMsgMotorView = WM_APP + 1,  // wParam motor: angle / jog tally changed
        kMsgTextDisplay,             // wParam display: 0-3 position, 4 port status
        kMsgShowCurrentStep,         // wParam motor
        kMsgResetCaption,            // wParam Reset button 0-4
        kMsgResetIdle,               //
        kMsgEnableRunInOrder,        // wParam 0 or 1
        kMsgProgramFinished,         // wParam motor: its host-timed program ended or wrapped
    };
    static constexpr WPARAM kPortStatusDisplay = 4;

    struct Ports {
        platform::TimerService& timers;
        platform::LibraryLoader& loader;
        platform::Desktop& desktop;
        platform::DeviceFiles& deviceFiles;
        platform::FileStore& files;
        FormDialogs& dialogs;
    };

    // Registers the window classes of the form, its panels and motor symbols.
    static bool Register(HINSTANCE instance);
    // Creates the window (not shown yet) and runs FormCreate. The form belongs to its window and
    // is deleted when the window is destroyed. Null when the window cannot be created.
    static TMainForm* Create(HINSTANCE instance, const Ports& ports);

    HWND Handle() const { return handle_; }
    // The control with the given form name ("Button2", "Edit4", "ListView3", ...), or null.
    HWND Control(std::string_view name) const;
    // The window's state, for its tests.
    motion::TStepperMotor& Motor(int motor) { return *motors_[static_cast<size_t>(motor)]; }
    TAnimatedMotorIcon& Icon(int motor) { return *icons_[static_cast<size_t>(motor)]; }
    int32_t JogTally(int motor) const;
    const std::string& FileName() const { return session_.FileName(); }
    const std::string& ProgramDirectory() const { return programDirectory_; }
    project::ProgramEditor& Editor(int motor) { return *editors_[static_cast<size_t>(motor)]; }

    // ProjectTarget (window thread).
    int16_t PortSetting() const override { return portSetting_.load(); }
    void SetPortSetting(int16_t value) override;
    void OpenOutputPort() override;
    double ControlFrequency(int motor) const override;
    void SetControlFrequency(int motor, double value) override;
    double MaxFrequency(int motor) const override;
    void SetMaxFrequency(int motor, double value) override;
    uint8_t ResetDirection(int motor) const override;
    void SetResetDirection(int motor, uint8_t value) override;
    bool Looping(int motor) const override;
    void SetLooping(int motor, bool value) override;
    void GetProgram(int motor, std::vector<motion::TsmProgramStep>& steps) const override;
    void AppendStep(int motor, const motion::TsmProgramStep& step) override;
    void ClearProgram(int motor) override;
    void SetLoopCheckBox(int motor, bool checked) override;
    void RenumberProgramList(int motor) override;

    // UsbLinkClient: the parallel port for itself, the rest for the protocol.
    void ReleaseParallelPort() override;
    void ClearSegmentRings() override;
    void ResetUsbBuffers() override;
    void ReceiveThreadStarted() override;
    void BeginPass() override;
    void DispatchReport(const usb::UsbReport& report, double hostSeconds) override;

    // UsbProtocolWindow (receive thread): posted to the window's thread.
    void ShowResetCaption(int32_t button) override;
    void SetResetIdle() override;
    void EnableRunInOrder(bool enabled) override;

    // The motors' callbacks (timer thread, receive thread or window thread).
    // Step event: the symbol turns 6 degrees (right -6, left +6), the jog tally counts while the
    // motor is not running, and the output is updated. Any other direction does nothing at all.
    void StepEvent(int32_t motor, uint8_t direction);
    // OnStepChanged: ShowCurrentStep on the window's thread.
    void MotorStepChanged(int32_t motor);
    // OnFinished (a motor's timer thread, or the thread that started an empty program): the
    // program-finished handler runs on the window's thread, where the check boxes live.
    void ProgramFinished(int32_t motor);

    // The output update: the output byte packed from the four motors' phases goes to the module
    // as a direct-output report in both USB modes while the module is open, else to the parallel
    // port while inpout32 is bound, else nowhere. Any thread.
    void OutputUpdate();
    uint8_t OutputByte() const { return outputByte_.load(); }

  private:
    struct ControlEntry {
        const char* Name = nullptr;
        int Tag = 0;
        int Motor = -1;  // the panel's motor index; -1 for window-wide controls
        Handler EventHandler = Handler::kNone;
        HWND Window = nullptr;
    };
    explicit TMainForm(const Ports& ports);
    // True from FormCreate's creation of the protocol (the last object it needs) until
    // FormDestroy: handlers of window messages do nothing outside that time.
    bool Ready() const { return protocol_ != nullptr && !closed_; }
    ~TMainForm();

    static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    static LRESULT CALLBACK EditProc(HWND edit, UINT message, WPARAM wParam, LPARAM lParam,
                                     UINT_PTR id, DWORD_PTR form);
    LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam);

    // Construction and destruction.
    void CreateControls();
    HWND CreateControl(HWND parent, ControlKind kind, int id, int left, int top, int width,
                       int height, const char* caption, DWORD extraStyle);
    void RegisterControl(int id, const char* name, int tag, int motor, Handler handler, HWND hwnd);
    void FormCreate();
    void FormDestroy();
    // Frees the motors and what calls them, in the order FormDestroy's shutdown needs; run by
    // the destructor, once no handler is left on the stack.
    void ReleaseObjects();
    void RestyleStepsField(int motor);

    // Message handlers.
    void OnCommand(int id, int code, HWND sender);
    LRESULT OnNotify(const NMHDR& header);
    void OnMenu(int id);
    void OnMotorView(int motor);
    void OnTextDisplay(WPARAM display);
    void OnActivate(bool active);
    void OnSetFocus();

    // Control handlers (window thread).
    void SpeedButton1Click(const ControlEntry& sender);
    void Button12Click(const ControlEntry& sender);
    void Button3Click(const ControlEntry& sender);
    void Button4Click(const ControlEntry& sender);
    void Button5Click(const ControlEntry& sender);
    void Button8Click(const ControlEntry& sender);
    void ListView1SelectItem(int motor, int32_t row, bool selected);
    void ShowCurrentStep(int motor);

    // Run control (window thread).
    void Button2Click(const ControlEntry& sender);  // panel "Start"
    void Button1Click(const ControlEntry& sender);  // panel "Stop"
    void CheckBox1Click(const ControlEntry& sender);
    void Button9Click();   // synchronous "Start"
    void Button10Click();  // synchronous "Stop"
    void CheckBox5Click();
    void CheckBox6Click();
    void Button41Click();
    void Button42Click();
    void Button43Click();
    void Button44Click();
    void bResetClick(const ControlEntry& sender);
    // The parallel-port reset drive for target t (0: all motors). It handles window messages
    // between its passes; false when the window was destroyed meanwhile (the form is then gone
    // or about to go: the caller touches nothing more).
    bool ResetDrive(int t, HWND button);
    // Jog on ">>" (right) and "<<" (left): one step at once and the jog on a mouse press, Stop
    // on its release, one step per space key-down.
    void JogMouseDown(int motor, uint8_t direction);
    void JogMouseUp(int motor);
    void JogKeyDown(int motor, uint8_t direction, WPARAM key);
    static LRESULT CALLBACK JogButtonProc(HWND button, UINT message, WPARAM wParam, LPARAM lParam,
                                          UINT_PTR id, DWORD_PTR form);
    // The common start of one motor in the current port setting.
    void StartMotor(int motor);
    // The program-finished handler: "Run in order" goes on with the next motor.
    void OnProgramFinished(int motor, uint32_t stopCount);
    // "Run in order" is enabled exactly when no motor runs.
    void EnableRunInOrderIfIdle();
    bool IsChecked(const char* name) const;
    void StopMotor(int motor);
    // Stop, and in "USB" the motor's list in the module cleared (the panel's Stop).
    void StopAndClearList(int motor);
    // A jog on a motor whose run the module plays ends that run first.
    void EndRunInModule(int motor);

    // Menu handlers.
    void NewProject1Click();
    void OpenProject1Click();
    void Parallelportsettings1Click();  // Options > Configuration
    void Save1Click();
    void SaveAs1Click();
    void Exit1Click();

    project::ProgramEditor::EntryFields ReadEntryFields(int motor) const;
    void ApplyEditorUpdate(int motor, const project::ProgramEditor::Update& update);
    void ShowJogTally(int motor, int32_t tally);
    void ShowError(const std::string& text);
    void UpdateCaption();
    HWND PanelControl(int motor, int row) const;
    std::array<const motion::TStepperMotor*, 4> MotorPointers() const;

    Ports ports_;
    HWND handle_ = nullptr;
    bool* destroyedFlag_ = nullptr;  // Create's, while it waits for CreateWindowExA
    HFONT font_ = nullptr;
    HFONT boldFont_ = nullptr;
    std::array<HWND, kMotorCount> panels_{};
    std::unordered_map<int, ControlEntry> controls_;
    HWND lastFocus_ = nullptr;
    HWND jogPressed_ = nullptr;  // the jog button a mouse press started a jog on
    // The newest reset drive's number ends every older one (a Reset click during one may start
    // another inside its message handling).
    uint32_t resetDriveNumber_ = 0;
    // Message handlers of the form running on the window thread, nested when a handler runs a
    // modal loop (message box, dialog, reset drive). A window destroyed inside one is freed only
    // when the outermost returns, so code after a modal loop still finds the form; it sees
    // !Ready() and touches no window.
    int messageDepth_ = 0;
    bool deleteWhenUnwound_ = false;
    bool closed_ = false;  // FormDestroy has run
    // Counted up by every Stop from the window: a finish posted before it (still queued when the
    // operator stopped the motor) carries the old count and starts no further motor.
    std::array<std::atomic<uint32_t>, kMotorCount> stopCount_{};

    std::string programDirectory_;
    bool resetIdle_ = true;
    std::atomic<int16_t> portSetting_{0};
    std::atomic<uint8_t> outputByte_{0};

    TPostedTextDisplay portStatus_;
    std::array<TPostedTextDisplay, kMotorCount> positionDisplays_;
    TMotorViewBridge view_;  // what the timer threads leave for the window: angles, tallies
    std::array<TAnimatedMotorIcon*, kMotorCount> icons_{};  // owned by their windows
    std::string displayText_;  // the list views' text requests point into it
    // Per list: the window is setting the list's selection from an editor update, so the list's
    // reports of it are echoes and not the operator's.
    std::array<bool, kMotorCount> applyingSelection_{};

    motion::TParallelPort parallel_;
    project::ProjectSession session_;
    // Created in FormCreate in this order, released in FormDestroy: the link (with its suspended
    // receive thread) exists before the motors; the motors outlive everything that calls them.
    std::unique_ptr<usb::TUsbLink> link_;
    std::array<std::unique_ptr<motion::TStepperMotor>, kMotorCount> motors_;
    std::array<std::unique_ptr<project::EditedStepperMotor>, kMotorCount> edited_;
    std::array<std::unique_ptr<project::ProgramEditor>, kMotorCount> editors_;
    std::unique_ptr<usb::TUsbProtocol> protocol_;
};

}  // namespace ui
