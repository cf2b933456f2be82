#include "ui/MotionPreviewWindow.h"

#include <commdlg.h>

#include <algorithm>
#include <cmath>
#include <exception>
#include <limits>
#include <new>
#include <string>
#include <vector>

#include "motion/PortSetting.h"
#include "ui/ImageFile.h"
#include "ui/WindowClass.h"

namespace ui {

namespace {

constexpr UINT_PTR kRefreshTimer = 1;
constexpr UINT kRefreshMs = 200;
constexpr int kBottomBar = 40;
constexpr int kMargin = 6;

// Whether two snapshots give the same plots, texts and warnings (the runs aside).
bool SameInput(const TMotionPreviewWindow::Snapshot& a, const TMotionPreviewWindow::Snapshot& b) {
    if (a.PortSetting != b.PortSetting || a.MaxFrequencies != b.MaxFrequencies) return false;
    for (size_t m = 0; m < a.Schedules.size(); ++m) {
        const motion::TStepSchedule& x = a.Schedules[m];
        const motion::TStepSchedule& y = b.Schedules[m];
        if (x.Looping() != y.Looping() || x.ProgramSteps() != y.ProgramSteps()) return false;
    }
    return true;
}

// Rewrites a label only when its text changes: a label rewritten at every refresh flickers.
void SetTextIfChanged(HWND label, const std::string& text) {
    const int length = GetWindowTextLengthA(label);
    std::string shown(static_cast<size_t>(length) + 1, '\0');
    shown.resize(static_cast<size_t>(GetWindowTextA(label, shown.data(), length + 1)));
    if (shown != text) SetWindowTextA(label, text.c_str());
}

bool SameRuns(const TMotionPreviewWindow::Snapshot& a, const TMotionPreviewWindow::Snapshot& b) {
    return a.Runs == b.Runs && a.RunInOrder == b.RunInOrder && a.RunInOrderLoop == b.RunInOrderLoop;
}

// The motor's place in its program: the program step and the steps taken of it. They are two
// fields, read one after the other; a step between the reads that moves the run on to the next
// program step would pair the counter of one with the other, so the step is read again.
motion::TMotionPreview::RunPlace PlaceOf(const motion::TStepperMotor& motor) {
    motion::TMotionPreview::RunPlace place;
    for (int tries = 0; tries < 3; ++tries) {
        place.ProgramStep = motor.StepIndex();
        place.StepCounter = motor.StepCounter();
        if (motor.StepIndex() == place.ProgramStep) break;
    }
    return place;
}

}  // namespace

TMotionPreviewWindow::Snapshot TMotionPreviewWindow::Take(
    int16_t portSetting, const std::array<motion::TStepperMotor*, 4>& motors, bool runInOrder,
    bool runInOrderLoop) {
    Snapshot snapshot;
    snapshot.PortSetting = portSetting;
    snapshot.RunInOrder = runInOrder;
    snapshot.RunInOrderLoop = runInOrderLoop;
    for (size_t m = 0; m < motors.size(); ++m) {
        motion::TStepperMotor& motor = *motors[m];
        snapshot.Schedules[m] = motion::TStepSchedule::Of(*motor.LockProgram());
        snapshot.MaxFrequencies[m] = motor.MaxFrequency();
        // Any run, whoever times it: the host, or the module until it has played the end.
        if (!motor.Idle()) snapshot.Runs[m] = {true, PlaceOf(motor)};
    }
    return snapshot;
}

bool TMotionPreviewWindow::Register(HINSTANCE instance) {
    return RegisterWindowClass(instance, kClassName, WindowProc);
}

TMotionPreviewWindow* TMotionPreviewWindow::Create(HWND owner, Source source) {
    auto* preview = new TMotionPreviewWindow(std::move(source));
    HINSTANCE instance = reinterpret_cast<HINSTANCE>(GetWindowLongPtrA(owner, GWLP_HINSTANCE));
    HWND window = CreateFor(preview, 0, kClassName, kCaption, WS_OVERLAPPEDWINDOW, CW_USEDEFAULT,
                            CW_USEDEFAULT, 760, 560, owner, nullptr, instance);
    if (window == nullptr) return nullptr;
    ShowWindow(window, SW_SHOWNORMAL);
    return preview;
}

TMotionPreviewWindow::~TMotionPreviewWindow() {
    if (font_ != nullptr) DeleteObject(font_);
}

bool TMotionPreviewWindow::OnCreate() {
    font_ = CreateFontA(-11, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                        OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                        DEFAULT_PITCH | FF_SWISS, "MS Sans Serif");
    HINSTANCE instance = reinterpret_cast<HINSTANCE>(GetWindowLongPtrA(handle_, GWLP_HINSTANCE));
    auto child = [&](const char* cls, const char* text, DWORD style, int id) {
        HWND w =
            CreateWindowExA(0, cls, text, WS_CHILD | WS_VISIBLE | style, 0, 0, 10, 10, handle_,
                            reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), instance, nullptr);
        SendMessageA(w, WM_SETFONT, reinterpret_cast<WPARAM>(font_), FALSE);
        return w;
    };
    for (int m = 0; m < 4; ++m)
        labels_[static_cast<size_t>(m)] =
            child("STATIC", "", SS_LEFT | SS_NOPREFIX, kMotorLabelId + m);
    chainLabel_ = child("STATIC", "", SS_LEFT | SS_NOPREFIX, kChainLabelId);
    saveButton_ = child("BUTTON", "Save image...", BS_PUSHBUTTON | WS_TABSTOP, kSaveButtonId);
    // Without its texts the window would show nothing: it is not created at all.
    for (HWND w : labels_)
        if (w == nullptr) return false;
    if (chainLabel_ == nullptr || saveButton_ == nullptr) return false;
    SetTimer(handle_, kRefreshTimer, kRefreshMs, nullptr);
    Refresh();
    return true;
}

void TMotionPreviewWindow::OnDestroy() {
    KillTimer(handle_, kRefreshTimer);
}

void TMotionPreviewWindow::OnSize(int, int) {
    Layout();
    InvalidateRect(handle_, nullptr, FALSE);
}

void TMotionPreviewWindow::OnTimer(UINT_PTR id) {
    if (id == kRefreshTimer) Refresh();
}

void TMotionPreviewWindow::OnCommand(int id, int code, HWND) {
    if (id == kSaveButtonId && code == BN_CLICKED) OnSave();
}

void TMotionPreviewWindow::OnPaint(HDC dc) {
    RECT client;
    GetClientRect(handle_, &client);
    // Into a memory bitmap first, then in one copy: no flicker while it redraws.
    HDC memory = CreateCompatibleDC(dc);
    HBITMAP bitmap = CreateCompatibleBitmap(dc, client.right, client.bottom);
    HGDIOBJ old = SelectObject(memory, bitmap);
    FillRect(memory, &client, GetSysColorBrush(COLOR_BTNFACE));
    Paint(memory, client);
    BitBlt(dc, 0, 0, client.right, client.bottom, memory, 0, 0, SRCCOPY);
    SelectObject(memory, old);
    DeleteObject(bitmap);
    DeleteDC(memory);
}

LRESULT TMotionPreviewWindow::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    // The plots are painted whole, double-buffered.
    if (message == WM_ERASEBKGND) return 1;
    return DefWindowProcA(handle_, message, wParam, lParam);
}

void TMotionPreviewWindow::Refresh() {
    // Whatever fails (a program too large to copy, memory running out) is shown in the window
    // instead of the plots, and the window stays as responsive as before.
    std::string failure;
    try {
        RefreshFromSource();
        return;
    } catch (const std::bad_alloc&) {
        failure = "not enough memory";
    } catch (const std::exception& error) {
        failure = error.what();
    } catch (...) {
        failure = "an unknown error";
    }
    ShowFailure(failure);
}

void TMotionPreviewWindow::RefreshFromSource() {
    Snapshot snapshot = source_();
    // Most refreshes find the programs as they were: only the runs may have moved on.
    // A snapshot whose preview failed is not tried again until the programs change.
    if (shown_ && SameInput(*shown_, snapshot)) {
        if (previewShown_ && !SameRuns(*shown_, snapshot)) {
            shown_->Runs = snapshot.Runs;
            shown_->RunInOrder = snapshot.RunInOrder;
            shown_->RunInOrderLoop = snapshot.RunInOrderLoop;
            ShowRuns();
        }
        return;
    }
    // The input is kept first: should its preview fail, the same programs are not tried again
    // at every refresh.
    motors_ = {};
    previewShown_ = false;
    shown_ = std::move(snapshot);
    const Snapshot& input = *shown_;
    const bool hostTimed =
        input.PortSetting != motion::kUsbPortSetting;  // "USB" alone is timed by the module
    std::array<motion::TMotionPreview::Motor, 4> motors;
    for (size_t m = 0; m < 4; ++m)
        motors[m] =
            motion::TMotionPreview::Of(input.Schedules[m], hostTimed, input.MaxFrequencies[m]);
    if (input.PortSetting ==
        motion::kUsbSlowPortSetting)  // "USB (slow)": the phases share the link's reports
        motion::TMotionPreview::AddUsbLinkWarnings(motors, input.MaxFrequencies);
    std::array<MotorTexts, 4> texts;
    for (size_t m = 0; m < 4; ++m) {
        texts[m].Summary = "Motor " + std::to_string(m + 1) + ": " + motors[m].Summary();
        for (const std::string& warning : motors[m].Warnings)
            texts[m].Warnings += "\r\nWarning, " + warning;
    }
    std::string chain =
        "Run in order, motors 1 to 4: " +
        motion::TMotionPreview::Seconds(motion::TMotionPreview::ChainSeconds(motors));
    motors_ = std::move(motors);
    texts_ = std::move(texts);
    chainText_ = std::move(chain);
    previewShown_ = true;
    ShowRuns();
}

void TMotionPreviewWindow::ShowRuns() {
    using motion::TMotionPreview;
    const Snapshot& input = *shown_;
    std::array<std::string, 4> lefts;
    size_t last = motors_.size();  // the last motor that runs, as the chain has come to it
    double lastLeft = 0;
    for (size_t m = 0; m < 4; ++m) {
        const Snapshot::Run& run = input.Runs[m];
        cursors_[m] = std::numeric_limits<double>::quiet_NaN();
        leftTexts_[m].clear();
        if (!run.Running || motors_[m].Empty) continue;
        const motion::TStepSchedule& schedule = input.Schedules[m];
        const double left = TMotionPreview::SecondsLeft(schedule, run.Place);
        cursors_[m] = TMotionPreview::ElapsedSeconds(schedule, run.Place);
        leftTexts_[m] = TMotionPreview::TimeLeft(left);
        // On a line of its own, which no label width breaks apart. A looping program plays on
        // after the pass: what is left is the pass's.
        lefts[m] = "\r\n" + leftTexts_[m] +
                   (motors_[m].Loops && std::isfinite(left) ? " of this pass" : "");
        last = m;
        lastLeft = left;
    }
    for (size_t m = 0; m < 4; ++m)
        SetTextIfChanged(labels_[m], texts_[m].Summary + lefts[m] + texts_[m].Warnings);
    std::string chain = chainText_;
    if (input.RunInOrder && last < motors_.size()) {
        const double left = TMotionPreview::ChainSecondsLeft(motors_, last, lastLeft);
        // With its "Loop" the chain starts over after motor 4: what is left is this round's.
        chain += "; " + TMotionPreview::TimeLeft(left) +
                 (input.RunInOrderLoop && std::isfinite(left) ? " of this round" : "");
    }
    SetTextIfChanged(chainLabel_, chain);
    InvalidateRect(handle_, nullptr, FALSE);
}

void TMotionPreviewWindow::ShowFailure(const std::string& why) {
    motors_ = {};
    previewShown_ = false;
    for (std::string& text : leftTexts_)
        text.clear();
    for (size_t m = 0; m < 4; ++m)
        SetWindowTextA(labels_[m], ("Motor " + std::to_string(m + 1) + ": -").c_str());
    SetWindowTextA(chainLabel_, ("The preview cannot be shown: " + why).c_str());
    InvalidateRect(handle_, nullptr, FALSE);
}

RECT TMotionPreviewWindow::PlotRect(int motor) const {
    RECT client;
    GetClientRect(handle_, &client);
    const int rowHeight = std::max(1, static_cast<int>(client.bottom - kBottomBar) / 4);
    const int width = std::max(1, static_cast<int>(client.right) * 3 / 5);
    return {kMargin, motor * rowHeight + kMargin, width - kMargin, (motor + 1) * rowHeight};
}

void TMotionPreviewWindow::Layout() {
    RECT client;
    GetClientRect(handle_, &client);
    for (int m = 0; m < 4; ++m) {
        const RECT plot = PlotRect(m);
        MoveWindow(labels_[static_cast<size_t>(m)], plot.right + kMargin, plot.top,
                   client.right - plot.right - 2 * kMargin, plot.bottom - plot.top, TRUE);
    }
    const int top = client.bottom - kBottomBar + 8;
    MoveWindow(chainLabel_, kMargin, top + 4, client.right - 150, 20, TRUE);
    MoveWindow(saveButton_, client.right - 130, top, 120, 25, TRUE);
}

void TMotionPreviewWindow::Paint(HDC dc, const RECT&) const {
    // One time axis and one speed scale for all four plots.
    const motion::TMotionPreview::Scales scales = motion::TMotionPreview::ScalesOf(motors_);
    const double timeScale = scales.Time;
    const double speedScale = scales.Speed;

    SetBkMode(dc, TRANSPARENT);
    HGDIOBJ oldFont = SelectObject(dc, font_);
    HPEN axis = CreatePen(PS_SOLID, 1, RGB(128, 128, 128));
    HPEN line = CreatePen(PS_SOLID, 1, RGB(0, 0, 160));
    HPEN current = CreatePen(PS_SOLID, 3, RGB(200, 0, 0));
    HPEN cursor = CreatePen(PS_SOLID, 2, RGB(0, 140, 0));
    const COLORREF oldColor = GetTextColor(dc);
    for (int m = 0; m < 4; ++m) {
        const auto& motor = motors_[static_cast<size_t>(m)];
        const RECT r = PlotRect(m);
        FillRect(dc, &r, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
        FrameRect(dc, &r, static_cast<HBRUSH>(GetStockObject(GRAY_BRUSH)));
        const int zero = (r.top + r.bottom) / 2;
        const double half = (r.bottom - r.top) / 2.0 - 4;
        auto x = [&](double t) {
            // Clamped: a cast of a value beyond int is undefined, whatever the plot holds.
            return r.left +
                   static_cast<int>(std::clamp(t / timeScale, 0.0, 1.0) * (r.right - r.left));
        };
        auto y = [&](double v) {
            return zero - static_cast<int>(std::clamp(v / speedScale, -1.0, 1.0) * half);
        };
        HGDIOBJ oldPen = SelectObject(dc, axis);
        MoveToEx(dc, r.left, zero, nullptr);
        LineTo(dc, r.right, zero);
        const std::string title = "Motor " + std::to_string(m + 1);
        TextOutA(dc, r.left + 4, r.top + 2, title.c_str(), static_cast<int>(title.size()));
        const size_t i = static_cast<size_t>(m);
        const bool running = !leftTexts_[i].empty();  // a run, with its cursor
        const int32_t marked = running ? shown_->Runs[i].Place.ProgramStep : -1;
        for (int pass = 0; pass < 2; ++pass) {  // the whole pass, then the step being played
            SelectObject(dc, pass == 0 ? line : current);
            bool drawing = false;
            for (const auto& point : motor.Plot) {
                if (pass == 1 && point.ProgramStep != marked) {
                    drawing = false;
                    continue;
                }
                const int px = x(point.Time), py = y(point.Speed);
                if (drawing) {
                    LineTo(dc, px, py);
                } else {
                    MoveToEx(dc, px, py, nullptr);
                    SetPixel(dc, px, py, pass == 0 ? RGB(0, 0, 160) : RGB(200, 0, 0));
                }
                drawing = true;
            }
        }
        if (running) {
            // The time cursor at the run's last step, with the time left beside it (on its left
            // where the plot's right edge leaves no room).
            const int cx = x(std::isnan(cursors_[i]) ? 0.0 : cursors_[i]);
            SelectObject(dc, cursor);
            MoveToEx(dc, cx, r.top + 1, nullptr);
            LineTo(dc, cx, r.bottom - 1);
            const std::string& left = leftTexts_[i];
            SIZE extent{};
            GetTextExtentPoint32A(dc, left.c_str(), static_cast<int>(left.size()), &extent);
            const int tx = cx + 4 + extent.cx < r.right ? cx + 4 : cx - 4 - extent.cx;
            SetTextColor(dc, RGB(0, 110, 0));
            TextOutA(dc, tx, r.bottom - extent.cy - 2, left.c_str(), static_cast<int>(left.size()));
            SetTextColor(dc, oldColor);
        }
        SelectObject(dc, oldPen);
    }
    const RECT last = PlotRect(3);
    const std::string axisText = motion::TMotionPreview::AxisText(scales);
    TextOutA(dc, last.left, last.bottom + 2, axisText.c_str(), static_cast<int>(axisText.size()));
    SelectObject(dc, oldFont);
    DeleteObject(axis);
    DeleteObject(line);
    DeleteObject(current);
    DeleteObject(cursor);
}

std::string TMotionPreviewWindow::SaveImage(const std::string& path) const {
    RECT client;
    GetClientRect(handle_, &client);
    const int width = std::max<LONG>(client.right, 1);
    const int height = std::max<LONG>(client.bottom, 1);
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;  // top-down, as the image file takes the rows
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 24;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HDC screen = GetDC(handle_);
    HDC memory = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    ReleaseDC(handle_, screen);
    if (bitmap == nullptr || bits == nullptr) {
        DeleteDC(memory);
        return {};
    }
    HGDIOBJ old = SelectObject(memory, bitmap);
    const RECT area{0, 0, width, height};
    FillRect(memory, &area, GetSysColorBrush(COLOR_BTNFACE));
    Paint(memory, area);
    // The labels are child windows: their texts (run times, warnings) are drawn where they stand.
    HGDIOBJ oldFont = SelectObject(memory, font_);
    SetBkMode(memory, TRANSPARENT);
    SetTextColor(memory, GetSysColor(COLOR_WINDOWTEXT));
    std::vector<HWND> labels(labels_.begin(), labels_.end());
    labels.push_back(chainLabel_);
    for (HWND label : labels) {
        RECT r;
        GetWindowRect(label, &r);
        MapWindowPoints(nullptr, handle_, reinterpret_cast<POINT*>(&r), 2);
        const int length = GetWindowTextLengthA(label);
        std::string text(static_cast<size_t>(length) + 1, '\0');
        text.resize(static_cast<size_t>(GetWindowTextA(label, text.data(), length + 1)));
        DrawTextA(memory, text.c_str(), static_cast<int>(text.size()), &r,
                  DT_LEFT | DT_WORDBREAK | DT_NOPREFIX);
    }
    SelectObject(memory, oldFont);
    GdiFlush();
    const std::string written = WriteImageFile(path, {bits, width, height});
    SelectObject(memory, old);
    DeleteObject(bitmap);
    DeleteDC(memory);
    return written;
}

void TMotionPreviewWindow::OnSave() {
    char file[MAX_PATH] = "motion-preview.png";
    OPENFILENAMEA dialog{};
    dialog.lStructSize = sizeof dialog;
    dialog.hwndOwner = handle_;
    dialog.lpstrFilter = "PNG image (*.png)\0*.png\0";
    dialog.lpstrFile = file;
    dialog.nMaxFile = sizeof file;
    dialog.lpstrDefExt = "png";
    dialog.Flags = OFN_OVERWRITEPROMPT | OFN_PATHMUSTEXIST;
    // The window may be destroyed while the dialog is up (the object stays until this returns).
    HWND window = handle_;
    if (!GetSaveFileNameA(&dialog) || !IsWindow(window)) return;
    if (SaveImage(file).empty())
        MessageBoxA(window, ("Cannot create file " + std::string(file)).c_str(), "Error",
                    MB_OK | MB_ICONERROR);
}

}  // namespace ui
