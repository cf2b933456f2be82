// TMotionPreviewWindow: the modeless, resizable "Motion preview" window. For each motor a plot
// of its speed over one pass (signed by direction, one time axis in seconds and one speed scale
// for all four), drawn double-buffered from the motion preview model, with the current program
// step of a host-timed run marked; beside it a label with the motor's steps in each direction,
// its net displacement, the run time of a pass and its warnings; below, the run time of the
// "Run in order" chain and "Save image...", which writes the plots with those labels as a PNG
// file (a BMP where the system has no PNG codec).
//
// It reads what it shows through a snapshot function of the main window, five times a second,
// and redraws when anything changed (an edited program, the port setting, a frequency, the
// running step). The snapshot copies each program under its motor's lock for a moment only, so
// a running motor is never held up.
//
// A refresh that fails (a snapshot or a preview that cannot be made) shows why in place of the
// texts and is not retried until the programs change; a preview costs time linear in the
// programs' length, whatever their step counts.
//
// Threads: the window's thread only. The window frees itself when it is destroyed (with its
// owner, the main window, at the latest).
#pragma once

#include <windows.h>

#include <array>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "motion/MotionPreview.h"
#include "motion/StepperMotor.h"

namespace ui {

class TMotionPreviewWindow {
  public:
    static constexpr const char* kClassName = "TMotionPreview";
    static constexpr const char* kCaption = "Motion preview";
    // Child ids: the motors' labels, the chain's label, the save button.
    static constexpr int kMotorLabelId = 100;  // + motor index
    static constexpr int kChainLabelId = 110;
    static constexpr int kSaveButtonId = 120;

    struct Snapshot {
        int16_t PortSetting = 0;
        std::array<motion::TStepSchedule, 4> Schedules;
        std::array<double, 4> MaxFrequencies{};
        // The program step a host-timed run plays now; -1 when the motor runs none.
        std::array<int32_t, 4> CurrentSteps{-1, -1, -1, -1};
    };
    using Source = std::function<Snapshot()>;
    // The snapshot of the four motors: each program copied under its motor's lock, its maximum
    // frequency, and the program step of a host-timed run.
    static Snapshot Take(int16_t portSetting, const std::array<motion::TStepperMotor*, 4>& motors);

    static bool Register(HINSTANCE instance);
    // Opens the window owned by owner, or null when it cannot be created.
    static TMotionPreviewWindow* Create(HWND owner, Source source);

    HWND Handle() const { return handle_; }
    // Reads the snapshot again and redraws when something changed.
    void Refresh();
    // Writes the plots and the labels as a PNG file (a BMP where the system has no PNG codec,
    // see WriteImageFile); the path written, or "" when the file cannot be written.
    std::string SaveImage(const std::string& path) const;

  private:
    explicit TMotionPreviewWindow(Source source) : source_(std::move(source)) {}
    static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam);
    void RefreshFromSource();
    void ShowFailure(const std::string& why);
    void Layout();
    RECT PlotRect(int motor) const;
    void Paint(HDC dc, const RECT& area) const;
    void OnSave();

    Source source_;
    HWND handle_ = nullptr;
    HFONT font_ = nullptr;
    std::array<HWND, 4> labels_{};
    HWND chainLabel_ = nullptr;
    HWND saveButton_ = nullptr;
    std::array<motion::TMotionPreview::Motor, 4> motors_;
    // What the plots, texts and the running steps' marks were made from; none before the first
    // refresh.
    std::optional<Snapshot> shown_;
    // Set while Create waits for CreateWindowExA: WM_NCDESTROY marks the object freed there.
    bool* freedFlag_ = nullptr;
};

}  // namespace ui
