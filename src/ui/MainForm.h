// TMainForm: the main window, the whole operator surface. It owns the four motors with their
// symbols and program editors, the port setting, the USB link (with its receive thread) and
// protocol, and the parallel-port drive; it keeps the window's handlers, the order of creation
// and destruction, the menu (File, Options, Help) and thin adapters of its three interfaces.
// The rest lives in rooms named for their roles: TFormControls (the controls), TPanelEditorBinding
// (program editing in the panels), TRunControl (run control, with TResetDrive), and
// TMotorViewBridge (what the motors' steps show). A control's click is dispatched from one table
// of handlers (FindCommand).
//
// Threads: every method runs on the window's thread, except the motor callbacks (StepEvent, and
// the rooms' MotorStepChanged and ProgramFinished), the output update and the UsbProtocolWindow
// calls, which arrive on timer threads or the USB receive thread. Those never touch a window:
// they keep what changed in a guarded snapshot (angle, jog tally) or in the editor, and post one
// notification per motor until the window thread has taken it. Closing the window stops the
// motors first (each stop waits for the motor's timer event in progress, which never waits for
// the window), ends the receive thread, then frees the motors.
#pragma once

#include <windows.h>

#include <array>
#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

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
#include "ui/FormControls.h"
#include "ui/FormDialogs.h"
#include "ui/MainFormLayout.h"
#include "ui/MotorViewBridge.h"
#include "ui/PanelEditorBinding.h"
#include "ui/PostedTextDisplay.h"
#include "ui/RunControl.h"
#include "ui/WindowClass.h"
#include "ui/WindowPost.h"
#include "usb/UsbLink.h"
#include "usb/UsbProtocol.h"
#include "usb/UsbProtocolWindow.h"

namespace ui {

class TMainForm final : public WindowBase,
                        public project::ProjectTarget,
                        public usb::UsbLinkClient,
                        public usb::UsbProtocolWindow,
                        public RunControlForm,
                        public EditorBindingForm {
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
        kMsgEnableRunInOrder,        // "Run in order" follows the motors' state as it is then
        kMsgProgramFinished,         // wParam motor: its host-timed program ended or wrapped
    };
    static constexpr WPARAM kPortStatusDisplay = 4;
    // A fast motor's symbol, tally and position follow its steps every this many ms: each
    // notification from a timer thread is a call into the system on the thread that times the
    // steps. A notification that comes sooner after the last one shown is shown, and the next
    // is held back until a window timer (kStepViewTimer + motor) shows the latest view.
    static constexpr UINT kStepViewMs = 20;
    static constexpr UINT_PTR kStepViewTimer = 1;

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

    HWND Handle() const override { return handle_; }
    // The control with the given form name ("Button2", "Edit4", "ListView3", ...), or null.
    HWND Control(std::string_view name) const { return controls_.Named(name); }
    // The window's state, for its tests.
    motion::TStepperMotor& Motor(int motor) override {
        return *motors_[static_cast<size_t>(motor)];
    }
    TAnimatedMotorIcon& Icon(int motor) { return *icons_[static_cast<size_t>(motor)]; }
    int32_t JogTally(int motor) const { return view_.Tally(motor); }
    const std::string& FileName() const { return session_.FileName(); }
    const std::string& ProgramDirectory() const { return programDirectory_; }
    project::ProgramEditor& Editor(int motor) override {
        return *editors_[static_cast<size_t>(motor)];
    }

    // ProjectTarget (window thread).
    // The setting is held by the protocol, whose receive thread reads it; "USB" before the
    // protocol exists. Any thread.
    int16_t PortSetting() const override {
        return protocol_ ? protocol_->PortSetting() : motion::kUsbPortSetting;
    }
    void SetPortSetting(int16_t value) override;
    void OpenOutputPort() override;
    double ControlFrequency(int motor) const override { return MotorAt(motor).ControlFrequency(); }
    void SetControlFrequency(int motor, double value) override {
        MotorAt(motor).SetControlFrequency(value);
    }
    double MaxFrequency(int motor) const override { return MotorAt(motor).MaxFrequency(); }
    void SetMaxFrequency(int motor, double value) override {
        MotorAt(motor).SetMaxFrequency(value);
    }
    uint8_t ResetDirection(int motor) const override { return MotorAt(motor).ResetDirection(); }
    void SetResetDirection(int motor, uint8_t value) override {
        MotorAt(motor).SetResetDirection(value);
    }
    bool Looping(int motor) const override { return MotorAt(motor).LockProgram()->Looping; }
    void SetLooping(int motor, bool value) override {
        MotorAt(motor).LockProgram()->Looping = value;
    }
    void GetProgram(int motor, std::vector<motion::TsmProgramStep>& steps) const override {
        editors_[static_cast<size_t>(motor)]->GetProgram(steps);
    }
    void AppendStep(int motor, const motion::TsmProgramStep& step) override {
        editing_.AppendStep(motor, step);
    }
    void ClearProgram(int motor) override { editing_.ClearProgram(motor); }
    void SetLoopCheckBox(int motor, bool checked) override {
        editing_.SetLoopCheckBox(motor, checked);
    }
    void RenumberProgramList(int motor) override { editing_.RenumberProgramList(motor); }

    // RunControlForm and EditorBindingForm (window thread): what the form's rooms work on.
    // Ready: from FormCreate's creation of the protocol (the last object it needs) until
    // FormDestroy; handlers of window messages do nothing outside that time.
    bool Ready() const override { return lifetime_ == Lifetime::kReady; }
    std::shared_ptr<const bool> AliveToken() const override { return alive_; }
    TFormControls& Controls() override { return controls_; }
    std::array<motion::TStepperMotor*, 4> MotorArray() override {
        return {motors_[0].get(), motors_[1].get(), motors_[2].get(), motors_[3].get()};
    }
    usb::TUsbProtocol& Protocol() override { return *protocol_; }
    usb::TUsbLink& Link() override { return *link_; }
    motion::TParallelPort& Parallel() override { return parallel_; }
    platform::TimerService& Timers() override { return ports_.timers; }
    platform::Desktop& Desktop() override { return ports_.desktop; }
    void ShowPositionUnknown(int motor) override;
    void ZeroJogTally(int motor) override { view_.ZeroTally(motor); }

    // UsbLinkClient: the parallel port for itself, the rest for the protocol.
    void ReleaseParallelPort() override { parallel_.Release(); }
    void ClearSegmentRings() override { protocol_->ClearSegmentRings(); }
    void ResetUsbBuffers() override { protocol_->ResetUsbBuffers(); }
    void ReceiveThreadStarted() override { protocol_->ReceiveThreadStarted(); }
    void BeginPass() override { protocol_->BeginPass(); }
    void DispatchReport(const usb::UsbReport& report, double hostSeconds) override {
        protocol_->DispatchReport(report, hostSeconds);
    }

    // UsbProtocolWindow (receive thread): posted to the window's thread.
    void ShowResetCaption(int32_t button) override {
        PostToWindow(handle_, kMsgResetCaption, static_cast<WPARAM>(button));
    }
    void SetResetIdle() override { PostToWindow(handle_, kMsgResetIdle); }
    void EnableRunInOrder(bool) override { PostToWindow(handle_, kMsgEnableRunInOrder); }

    // The motors' callbacks (timer thread, receive thread or window thread).
    // Step event: the symbol turns 6 degrees (right -6, left +6), the jog tally counts while the
    // motor is not running, and the output is updated. Any other direction does nothing at all.
    void StepEvent(int32_t motor, uint8_t direction);
    // The module played steps of a "USB" run (the USB receive thread, or the window's thread
    // when the run is cut short): the symbol turns.
    void PlayedEvent(int32_t motor, int32_t steps);
    // OnStepChanged goes to the panel editor binding, OnFinished to the run control.

    // The output update: the output byte packed from the four motors' phases goes to the module
    // as a direct-output report in both USB modes while the module is open, else to the parallel
    // port while inpout32 is bound, else nowhere. Any thread.
    void OutputUpdate();
    uint8_t OutputByte() const { return outputByte_.load(); }

  private:
    struct CommandRow;

    explicit TMainForm(const Ports& ports);
    ~TMainForm() override;

    // The window's messages (WindowBase): creation and destruction, commands, the rest.
    bool OnCreate() override;
    void OnDestroy() override;
    void OnCommand(int id, int code, HWND control) override;
    LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) override;

    // Construction and destruction.
    void FormCreate();
    void FormDestroy();
    // Frees the motors and what calls them, in the order FormDestroy's shutdown needs; run by
    // the destructor, once no handler is left on the stack.
    void ReleaseObjects();

    // Message handlers.
    static const CommandRow* FindCommand(Handler handler);
    // A click on one of the form's buttons: the handler its row names.
    void OnButtonClick(int id);
    void OnMenu(int id);
    void OnMotorView(int motor);
    void OnTextDisplay(WPARAM display);
    // Shows motor's view and position as they are now; release: its next step notifies again,
    // else the notifications stay held until the step view timer releases them.
    void ShowStepView(int motor, bool release);
    // The position display shows text at once and the symbol stands at 0 (a reset, a click on
    // the display).
    void ShowPositionFromZero(int motor, const char* text);
    void OnTimer(UINT_PTR id) override;
    void OnActivate(bool active);
    void OnSetFocus();
    // A click on a position display: the position and the symbol back to 0.
    void SpeedButton1Click(const TFormControls::Entry& sender);

    // Menu handlers.
    void NewProject1Click();
    void OpenProject1Click();
    void Parallelportsettings1Click();  // Options > Configuration
    void MotionPreview1Click();         // Options > Motion preview
    void Save1Click();
    void SaveAs1Click();
    void Exit1Click();

    void ShowJogTally(int motor, int32_t tally);
    void ShowError(const std::string& text);
    void UpdateCaption();
    std::array<const motion::TStepperMotor*, 4> MotorPointers() const {
        return {motors_[0].get(), motors_[1].get(), motors_[2].get(), motors_[3].get()};
    }
    motion::TStepperMotor& MotorAt(int motor) const { return *motors_[static_cast<size_t>(motor)]; }

    Ports ports_;
    // The window's rooms: its controls, the program editing in its panels, its run control.
    TFormControls controls_;
    TPanelEditorBinding editing_{*this};
    TRunControl run_{*this};
    HWND lastFocus_ = nullptr;
    HWND preview_ = nullptr;  // the motion preview window (owned by this one), while open
    // Where the form is in its life. Handlers act only while it is ready; a window destroyed
    // inside a modal loop of a handler is freed only when the outermost handler returns
    // (WindowBase), so code after a modal loop still finds the form, sees it closed and
    // touches no window.
    enum class Lifetime {
        kCreating,  // FormCreate has not yet made the objects the handlers need
        kReady,     // from the protocol's creation (the last of them) on
        kClosed,    // FormDestroy has run
    };
    Lifetime lifetime_ = Lifetime::kCreating;
    // The closing as modal loops that may outlive the form see it: false once it is closed.
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);

    std::string programDirectory_;
    std::atomic<uint8_t> outputByte_{0};

    TPostedTextDisplay portStatus_;
    std::array<TPostedTextDisplay, kMotorCount> positionDisplays_;
    TMotorViewBridge view_;  // what the timer threads leave for the window: angles, tallies
    std::array<DWORD, kMotorCount> stepViewShownMs_{};      // tick count of each motor's last view
    std::array<TAnimatedMotorIcon*, kMotorCount> icons_{};  // owned by their windows

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
