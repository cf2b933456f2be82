// TMotionPreviewWindow: the modeless, resizable "Motion preview" window. For each motor a plot
// of its speed over one pass (signed by direction, one time axis in seconds and one speed scale
// for all four), drawn double-buffered from the motion preview model, with the current program
// step of a run marked; beside it a label with the motor's steps in each direction, its net
// displacement, the run time of a pass and its warnings; below, the run time of the "Run in
// order" chain and "Save image...", which writes the plots with those labels as a PNG file (a
// BMP where the system has no PNG codec).
//
// While a run plays, in every port setting, each running motor's plot carries a time cursor at
// its last step on the ideal schedule, and its label and the chain's say how much time is left
// ("2.5 s left"): of the pass, and of the chain through the motors still to come. Both come from
// the motor's place in its program (the program step and the steps taken of it), the same fields
// the main window's current row and position show; cursor and texts go when the run ends.
//
// It reads what it shows through a snapshot function of the main window, five times a second,
// and redraws when anything changed (an edited program, the port setting, a frequency, a run's
// place). When nothing runs and nothing changed, a refresh draws nothing. The snapshot copies
// each program under its motor's lock for a moment only, so a running motor is never held up.
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
#include "motion/PortSetting.h"
#include "motion/StepperMotor.h"
#include "ui/WindowClass.h"

namespace ui {

class TMotionPreviewWindow final : public WindowBase {
  public:
    static constexpr const char* kClassName = "TMotionPreview";
    static constexpr const char* kCaption = "Motion preview";
    // Child ids: the motors' labels, the chain's label, the save button.
    static constexpr int kMotorLabelId = 100;  // + motor index
    static constexpr int kChainLabelId = 110;
    static constexpr int kSaveButtonId = 120;

    struct Snapshot {
        int16_t PortSetting = motion::kUsbPortSetting;
        std::array<motion::TStepSchedule, 4> Schedules;
        std::array<double, 4> MaxFrequencies{};
        // Each motor's run: whether one goes on (streamed, played by the module or timed by the
        // host) and where it stands in the program.
        struct Run {
            bool Running = false;
            motion::TMotionPreview::RunPlace Place;
            bool operator==(const Run&) const = default;
        };
        std::array<Run, 4> Runs{};
        // "Run in order" and its "Loop" are checked.
        bool RunInOrder = false;
        bool RunInOrderLoop = false;
    };
    using Source = std::function<Snapshot()>;
    // The snapshot of the four motors: each program copied under its motor's lock, its maximum
    // frequency, and its run's place; and the chain's check boxes.
    static Snapshot Take(int16_t portSetting, const std::array<motion::TStepperMotor*, 4>& motors,
                         bool runInOrder, bool runInOrderLoop);

    static bool Register(HINSTANCE instance);
    // Opens the window owned by owner, or null when it cannot be created.
    static TMotionPreviewWindow* Create(HWND owner, Source source);

    // Reads the snapshot again and redraws when something changed.
    void Refresh();
    // Writes the plots and the labels as a PNG file (a BMP where the system has no PNG codec,
    // see WriteImageFile); the path written, or "" when the file cannot be written.
    std::string SaveImage(const std::string& path) const;

  private:
    explicit TMotionPreviewWindow(Source source) : source_(std::move(source)) {}
    ~TMotionPreviewWindow() override;
    bool OnCreate() override;
    void OnDestroy() override;
    void OnPaint(HDC dc) override;
    void OnCommand(int id, int code, HWND control) override;
    void OnSize(int width, int height) override;
    void OnTimer(UINT_PTR id) override;
    LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) override;
    void RefreshFromSource();
    void ShowFailure(const std::string& why);
    void Layout();
    RECT PlotRect(int motor) const;
    void Paint(HDC dc, const RECT& area) const;
    void OnSave();

    Source source_;
    HFONT font_ = nullptr;
    std::array<HWND, 4> labels_{};
    HWND chainLabel_ = nullptr;
    HWND saveButton_ = nullptr;
    // The labels' texts, the motor's line to the end of the summary and the warnings after it,
    // and the chain's: a run's time left goes between.
    struct MotorTexts {
        std::string Summary;
        std::string Warnings;
    };
    // The labels' texts with the runs' times left, and each running motor's cursor (seconds
    // into its pass; NaN for none), from shown_ and motors_.
    void ShowRuns();

    std::array<motion::TMotionPreview::Motor, 4> motors_;
    std::array<MotorTexts, 4> texts_;
    std::string chainText_;
    bool previewShown_ = false;  // the texts above were made from shown_ (it did not fail)
    std::array<double, 4> cursors_{};
    std::array<std::string, 4> leftTexts_;  // "2.5 s left" at each cursor
    // What the plots, texts and the runs' marks were made from; none before the first refresh.
    std::optional<Snapshot> shown_;
};

}  // namespace ui
