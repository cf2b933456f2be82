#include "ui/MainForm.h"

#include <commctrl.h>

#include <algorithm>
#include <cstring>
#include <optional>
#include <vector>

#include "motion/PortSetting.h"
#include "motion/RoundHalfEven.h"
#include "ui/ConfigDialog.h"
#include "ui/HelpMenu.h"
#include "ui/MotionPreviewWindow.h"
#include "ui/MotorIconGeometry.h"
#include "ui/MotorPanel.h"
#include "ui/WindowClass.h"
#include "ui/resource.h"
#include "usb/UsbReport.h"

namespace ui {

namespace {

constexpr DWORD kWindowStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;

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

}  // namespace

// ---------------------------------------------------------------------------------------------
// Window class and procedure

bool TMainForm::Register(HINSTANCE instance) {
    const bool form = RegisterWindowClass(instance, kClassName, WindowProc,
                                          reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1),
                                          LoadIcon(nullptr, IDI_APPLICATION));
    return form && RegisterMotorPanel(instance) && TAnimatedMotorIcon::Register(instance) &&
           TMotionPreviewWindow::Register(instance);
}

TMainForm* TMainForm::Create(HINSTANCE instance, const Ports& ports) {
    auto* form = new TMainForm(ports);
    RECT frame{0, 0, kClientWidth, kClientHeight};
    AdjustWindowRectEx(&frame, kWindowStyle, TRUE, 0);
    HMENU menu = LoadMenuA(instance, MAKEINTRESOURCEA(IDR_MAINMENU));
    HWND window = CreateFor(form, WS_EX_CONTROLPARENT, kClassName, kDesignCaption, kWindowStyle,
                            CW_USEDEFAULT, CW_USEDEFAULT, frame.right - frame.left,
                            frame.bottom - frame.top, nullptr, menu, instance);
    if (window == nullptr) {
        if (menu != nullptr) DestroyMenu(menu);
        return nullptr;
    }
    return form;
}

TMainForm::TMainForm(const Ports& ports)
    : ports_(ports), parallel_(ports.loader, ports.desktop), session_(ports.files, *this) {}

TMainForm::~TMainForm() {
    ReleaseObjects();
}

bool TMainForm::OnCreate() {
    controls_.Create(handle_, TRunControl::JogButtonProc, reinterpret_cast<DWORD_PTR>(&run_));
    FormCreate();
    return true;
}

void TMainForm::OnDestroy() {
    FormDestroy();
    PostQuitMessage(0);
}

void TMainForm::OnCommand(int id, int code, HWND control) {
    // Esc reaches the window through the dialog keyboard as IDCANCEL: the emergency stop.
    if (id == IDCANCEL && control == nullptr) {
        if (Ready()) run_.EmergencyStop();
    } else if (control == nullptr) {
        OnMenu(id);
    } else if (code == BN_CLICKED) {  // the edits' notifications need no handling
        OnButtonClick(id);
    }
}

LRESULT TMainForm::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_NOTIFY:
            return Ready() ? editing_.OnNotify(*reinterpret_cast<const NMHDR*>(lParam)) : 0;
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
            editing_.ShowCurrentStep(static_cast<int>(wParam));
            return 0;
        case kMsgResetCaption:
            run_.OnResetCaption(wParam);
            return 0;
        case kMsgResetIdle:
            run_.OnResetIdle();
            return 0;
        case kMsgEnableRunInOrder:
            run_.OnEnableRunInOrder();
            return 0;
        case kMsgProgramFinished:
            run_.OnProgramFinished(static_cast<int>(wParam), static_cast<uint32_t>(lParam));
            return 0;
        default:
            return DefWindowProcA(handle_, message, wParam, lParam);
    }
}

// ---------------------------------------------------------------------------------------------
// Creation and destruction

void TMainForm::FormCreate() {
    // Every message box and help document is the main window's, also while it is not active.
    ports_.desktop.SetOwnerWindow(handle_);
    // The program directory is the base of "default.smp" and the help documents.
    programDirectory_ = ModuleDirectory();
    // Number texts need no set-up: every conversion goes through project/NumberText, which
    // writes and reads '.' as decimal separator whatever the regional settings.
    // The link comes before the motors, which its client calls reach; its receive thread is
    // created suspended, as nothing may be read before a USB opening succeeds.
    link_ = std::make_unique<usb::TUsbLink>(
        usb::TUsbLink::Ports{ports_.loader, ports_.deviceFiles, ports_.desktop, ports_.timers},
        *this, &portStatus_);
    portStatus_.Bind(handle_, kMsgTextDisplay, kPortStatusDisplay);
    // The motors with their callbacks, their symbols, their editors; tallies 0.
    view_.Clear();
    for (int m = 0; m < kMotorCount; ++m) {
        const size_t i = static_cast<size_t>(m);
        motors_[i] = std::make_unique<motion::TStepperMotor>(m, ports_.timers);
        motors_[i]->SetOnStep(motion::TStepperMotor::StepEvent::Bind<&TMainForm::StepEvent>(this));
        motors_[i]->SetOnPlayed(
            motion::TStepperMotor::PlayedEvent::Bind<&TMainForm::PlayedEvent>(this));
        motors_[i]->SetOnStepChanged(
            motion::TStepperMotor::MotorEvent::Bind<&TPanelEditorBinding::MotorStepChanged>(
                &editing_));
        motors_[i]->SetOnFinished(
            motion::TStepperMotor::MotorEvent::Bind<&TRunControl::ProgramFinished>(&run_));
        edited_[i] = std::make_unique<project::EditedStepperMotor>(*motors_[i]);
        editors_[i] = std::make_unique<project::ProgramEditor>(*edited_[i]);
        // The symbol lives in the motor's panel, so that it moves and hides with it.
        icons_[i] =
            TAnimatedMotorIcon::Create(controls_.PanelWindow(m), PanelControlId(m, kRowIcon));
        controls_.Add(PanelControlId(m, kRowIcon), PanelControls()[kRowIcon].Names[m], m, m,
                      Handler::kNone, icons_[i] != nullptr ? icons_[i]->Handle() : nullptr);
    }
    protocol_ = std::make_unique<usb::TUsbProtocol>(
        usb::TUsbProtocol::Ports{*link_, ports_.timers, *this}, MotorArray());
    lifetime_ = Lifetime::kReady;
    // The steps' direct outputs go to the module from a writer thread of their own, so that no
    // timer thread waits for the link; each motor's step waits while its last one is on the way.
    protocol_->StartDirectOutputWriter();
    // The lists in the module are refilled by a streamer thread of its own as their segments
    // play, so that no hold-up of the receive thread starves them.
    protocol_->StartStreamer();
    for (auto& motor : motors_)
        motor->SetStepGate(protocol_.get());
    // Each motor shows its position on its panel's position display.
    for (int m = 0; m < kMotorCount; ++m) {
        positionDisplays_[static_cast<size_t>(m)].Bind(handle_, kMsgTextDisplay,
                                                       static_cast<WPARAM>(m));
        motors_[static_cast<size_t>(m)]->SetPositionDisplay(
            &positionDisplays_[static_cast<size_t>(m)]);
    }
    // The "USB" port setting until "default.smp" names another; opening the output for it
    // writes the port status label. The start-up project leaves no current file name.
    SetPortSetting(motion::kUsbPortSetting);
    const std::string error = session_.LoadStartupProject(programDirectory_);
    UpdateCaption();
    // The Steps fields take digits only, right-aligned.
    for (int m = 0; m < kMotorCount; ++m)
        controls_.RestyleStepsField(m, lastFocus_);
    // The host's account of the module starts empty (no segments queued, no clock, no status
    // request outstanding), with every motor stopped.
    ResetUsbBuffers();
    if (!error.empty()) ShowError(error);  // a "default.smp" that exists but cannot be read
}

void TMainForm::FormDestroy() {
    lifetime_ = Lifetime::kClosed;
    *alive_ = false;
    ports_.desktop.SetOwnerWindow(nullptr);
    // No timer steps or port writes after this; each Stop waits for its motor's timer event
    // in progress, which only posts to this window and never waits for it.
    for (auto& motor : motors_)
        if (motor) motor->Stop();
    // The motors are stopped before the link goes, so that no step waits for a link that is
    // gone: the link wakes a waiting writer, ends the receive thread (also one in a read) and
    // closes both handles; the parallel-port library is released.
    if (link_) link_->Shutdown();
    // The direct-output writer and the streamer end too (a write either had begun has returned
    // with the handles).
    if (protocol_) {
        protocol_->StopStreamer();
        protocol_->StopDirectOutputWriter();
    }
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
    for (auto& motor : motors_) {
        if (motor) motor->Stop();
        if (motor) motor->SetStepGate(nullptr);
    }
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
    HWND target = lastFocus_ != nullptr && IsWindow(lastFocus_) ? lastFocus_
                                                                : controls_.Panel(0, kRowJogLeft);
    if (target != nullptr) SetFocus(target);
}

// ---------------------------------------------------------------------------------------------
// Dispatch

// Which room of the window handles a control's click: one row per handler of the layout tables.
// The jog buttons act on mouse and key events (TRunControl::JogButtonProc), the entry fields and
// lists on their own notifications: they have no row here.
using Entry = TFormControls::Entry;
struct TMainForm::CommandRow {
    Handler EventHandler;
    void (*Run)(TMainForm& form, const Entry& sender);
};

const TMainForm::CommandRow* TMainForm::FindCommand(Handler handler) {
    static constexpr CommandRow kCommands[] = {
        {Handler::kSpeedButton1Click, [](TMainForm& f, const Entry& e) { f.SpeedButton1Click(e); }},
        {Handler::kButton12Click,
         [](TMainForm& f, const Entry& e) { f.editing_.Button12Click(e); }},
        {Handler::kButton3Click, [](TMainForm& f, const Entry& e) { f.editing_.Button3Click(e); }},
        {Handler::kButton4Click, [](TMainForm& f, const Entry& e) { f.editing_.Button4Click(e); }},
        {Handler::kButton5Click, [](TMainForm& f, const Entry& e) { f.editing_.Button5Click(e); }},
        {Handler::kButton8Click, [](TMainForm& f, const Entry& e) { f.editing_.Button8Click(e); }},
        {Handler::kButton2Click, [](TMainForm& f, const Entry& e) { f.run_.Button2Click(e); }},
        {Handler::kButton1Click, [](TMainForm& f, const Entry& e) { f.run_.Button1Click(e); }},
        {Handler::kCheckBox1Click, [](TMainForm& f, const Entry& e) { f.run_.CheckBox1Click(e); }},
        {Handler::kButton9Click, [](TMainForm& f, const Entry&) { f.run_.Button9Click(); }},
        {Handler::kButton10Click, [](TMainForm& f, const Entry&) { f.run_.Button10Click(); }},
        {Handler::kCheckBox5Click, [](TMainForm& f, const Entry&) { f.run_.CheckBox5Click(); }},
        {Handler::kCheckBox6, [](TMainForm& f, const Entry&) { f.run_.CheckBox6Click(); }},
        {Handler::kButton41Click, [](TMainForm& f, const Entry&) { f.run_.Button41Click(); }},
        {Handler::kButton42Click, [](TMainForm& f, const Entry&) { f.run_.Button42Click(); }},
        {Handler::kButton43Click, [](TMainForm& f, const Entry&) { f.run_.Button43Click(); }},
        {Handler::kButton44Click, [](TMainForm& f, const Entry&) { f.run_.Button44Click(); }},
        {Handler::kbResetClick, [](TMainForm& f, const Entry& e) { f.run_.bResetClick(e); }},
    };
    for (const CommandRow& row : kCommands)
        if (row.EventHandler == handler) return &row;
    return nullptr;
}

void TMainForm::OnButtonClick(int id) {
    if (!Ready()) return;
    const Entry* sender = controls_.Find(id);
    if (sender == nullptr) return;
    if (const CommandRow* command = FindCommand(sender->EventHandler)) command->Run(*this, *sender);
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
        case IDM_MOTIONPREVIEW:
            MotionPreview1Click();
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

void TMainForm::MotionPreview1Click() {
    // One at a time: the menu brings an open one to the front.
    if (preview_ == nullptr || !IsWindow(preview_)) {
        TMotionPreviewWindow* preview = TMotionPreviewWindow::Create(handle_, [this] {
            const auto checked = [this](WindowRow row) {
                return SendMessageA(controls_.Window(row), BM_GETCHECK, 0, 0) == BST_CHECKED;
            };
            return TMotionPreviewWindow::Take(PortSetting(), MotorArray(), checked(kRowRunInOrder),
                                              checked(kRowRunInOrderLoop));
        });
        preview_ = preview != nullptr ? preview->Handle() : nullptr;
    }
    if (preview_ != nullptr) SetForegroundWindow(preview_);
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
    const bool notify =
        view_.Step(motor, direction, motors_[static_cast<size_t>(motor)]->Running());
    // The coils first: posting to the window is a call into the system that may take a while,
    // and the step's time is when its output is written.
    OutputUpdate();
    if (notify && !PostToWindow(handle_, kMsgMotorView, static_cast<WPARAM>(motor)))
        view_.NotifyFailed(motor);
}

void TMainForm::PlayedEvent(int32_t motor, int32_t steps) {
    // The module played these steps: the symbol follows; no output (the coils are the
    // module's) and no tally (a run's steps).
    if (view_.Turn(motor, steps) &&
        !PostToWindow(handle_, kMsgMotorView, static_cast<WPARAM>(motor)))
        view_.NotifyFailed(motor);
}

void TMainForm::ShowPositionUnknown(int motor) {
    ShowPositionFromZero(motor, "X");
}

void TMainForm::ShowPositionFromZero(int motor, const char* text) {
    const size_t i = static_cast<size_t>(motor);
    // Shown at once, and the text the display shows last, also should a position text still be
    // on its way or held back.
    positionDisplays_[i].SetText(text);
    SetWindowTextA(controls_.Panel(motor, kRowPosition), text);
    view_.ZeroAngle(motor);
    if (TAnimatedMotorIcon* icon = icons_[i]) icon->SetAngle(0.0f);
}

void TMainForm::OutputUpdate() {
    const int16_t port = PortSetting();
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

void TMainForm::OnMotorView(int motor) {
    if (!Ready() || motor < 0 || motor >= kMotorCount) return;
    // Shown now. A motor that stepped a moment ago steps fast: what its steps change from here
    // waits for the timer (unless it cannot be set).
    const DWORD now = GetTickCount();
    DWORD& shown = stepViewShownMs_[static_cast<size_t>(motor)];
    const bool held =
        now - shown < kStepViewMs &&
        SetTimer(handle_, kStepViewTimer + static_cast<UINT_PTR>(motor), kStepViewMs, nullptr) != 0;
    shown = now;
    ShowStepView(motor, !held);
}

void TMainForm::ShowStepView(int motor, bool release) {
    const TMotorViewBridge::View view = view_.Take(motor, release);
    if (TAnimatedMotorIcon* icon = icons_[static_cast<size_t>(motor)]) icon->SetAngle(view.Angle);
    if (view.TallyChanged) ShowJogTally(motor, view.Tally);
    SetWindowTextA(controls_.Panel(motor, kRowPosition),
                   positionDisplays_[static_cast<size_t>(motor)].TakeText(release).c_str());
}

void TMainForm::OnTimer(UINT_PTR id) {
    if (id < kStepViewTimer || id >= kStepViewTimer + kMotorCount) return;
    KillTimer(handle_, id);
    if (!Ready()) return;
    const int motor = static_cast<int>(id - kStepViewTimer);
    stepViewShownMs_[static_cast<size_t>(motor)] = GetTickCount();
    ShowStepView(motor, true);
}

void TMainForm::ShowJogTally(int motor, int32_t tally) {
    const auto fields = project::ProgramEditor::JogTallyFields(tally);
    SetWindowTextA(controls_.Panel(motor, kRowSteps), fields.Steps.c_str());
    SetWindowTextA(controls_.Panel(motor, kRowDirection), fields.Direction);
}

void TMainForm::OnTextDisplay(WPARAM display) {
    if (display == kPortStatusDisplay) {
        SetWindowTextA(controls_.Window(kRowPortStatus), portStatus_.TakeText().c_str());
    } else if (display < kMotorCount) {
        OnMotorView(static_cast<int>(display));
    }
}

void TMainForm::SpeedButton1Click(const TFormControls::Entry& sender) {
    const int m = sender.Tag;
    ShowPositionFromZero(m, "0");
    motors_[static_cast<size_t>(m)]->SetPosition(0);
    view_.ZeroTally(m);
    // Every panel's Steps field shows its tally as a signed number; no direction button changes.
    // A change of another motor's tally still on its way shows with its direction as it comes.
    for (int i = 0; i < kMotorCount; ++i)
        SetWindowTextA(controls_.Panel(i, kRowSteps), std::to_string(view_.Tally(i)).c_str());
}

void TMainForm::Exit1Click() {
    PostToWindow(handle_, WM_CLOSE);
}

// ---------------------------------------------------------------------------------------------
// File menu

void TMainForm::UpdateCaption() {
    SetWindowTextA(handle_, session_.Caption().c_str());
}

void TMainForm::ShowError(const std::string& text) {
    if (lifetime_ != Lifetime::kClosed) ports_.dialogs.ShowError(handle_, text);
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
    parallel_.NewSelection();
    if (protocol_) protocol_->SetPortSetting(value);
}

void TMainForm::OpenOutputPort() {
    // Not after the window was closed (a project still being read after a box).
    if (lifetime_ == Lifetime::kClosed) return;
    const int16_t port = PortSetting();
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

}  // namespace ui
