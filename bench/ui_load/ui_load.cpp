// Window load benchmark (Windows, run under Wine on a display): opens a project of 4 x 25,000
// program steps through File > Open Project in the running main window and measures the time
// until all four program lists show it (item counts set and the window painted), and the
// process's peak memory.
//
// Last line: RESULT load_ms=<x> peak_mb=<x>
#include <windows.h>
// After <windows.h>, which it needs.
#include <commctrl.h>
#include <psapi.h>

#include <cstdio>
#include <string>

#include "platform/DeviceFile.h"
#include "platform/FileStore.h"
#include "platform/virtual/VirtualDesktop.h"
#include "resource.h"
#include "ui/MainForm.h"

namespace {

constexpr int kStepsPerMotor = 25000;

// Answers the open dialog with the benchmark's project; no box may wait for a person.
class BenchDialogs final : public ui::FormDialogs {
  public:
    explicit BenchDialogs(std::string path) : path_(std::move(path)) {}
    bool ChooseOpenPath(HWND, std::string& path) override {
        path = path_;
        return true;
    }
    bool ChooseSavePath(HWND, std::string&) override { return false; }
    void ShowError(HWND, const std::string& text) override {
        std::fprintf(stderr, "ui_load: %s\n", text.c_str());
    }

  private:
    std::string path_;
};

double Now() {
    LARGE_INTEGER frequency, now;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&now);
    return static_cast<double>(now.QuadPart) / static_cast<double>(frequency.QuadPart);
}

}  // namespace

int main() {
    std::setvbuf(stdout, nullptr, _IONBF, 0);
    char temp[MAX_PATH] = {};
    GetTempPathA(MAX_PATH, temp);
    const std::string path = std::string(temp) + "q417-ui-load.smp";
    std::string text = "Port = 0\r\n";
    for (int m = 1; m <= 4; ++m) {
        text += "[Motor_program_" + std::to_string(m) + "]\r\n";
        for (int i = 0; i < kStepsPerMotor; ++i) {
            text += "Steps = " + std::to_string(100 + i) + " 250.00 0.50 " +
                    (i % 2 ? "left" : "right") + "\r\n";
        }
    }
    if (!platform::SystemFileStore().WriteFileAtomically(path, text)) {
        std::fprintf(stderr, "ui_load: cannot write %s\n", path.c_str());
        return 1;
    }

    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_LISTVIEW_CLASSES | ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&controls);
    const HINSTANCE instance = GetModuleHandleA(nullptr);
    ui::TMainForm::Register(instance);
    platform::VirtualDesktop desktop;  // the start-up's "no inpout32" box must not wait
    BenchDialogs dialogs(path);
    ui::TMainForm* form = ui::TMainForm::Create(
        instance, {platform::SystemTimerService(), platform::SystemLibraryLoader(), desktop,
                   platform::SystemDeviceFiles(), platform::SystemFileStore(), dialogs});
    if (form == nullptr) {
        std::fprintf(stderr, "ui_load: the window could not be created\n");
        return 1;
    }
    const HWND window = form->Handle();
    ShowWindow(window, SW_SHOWNORMAL);
    UpdateWindow(window);

    const double start = Now();
    SendMessageA(window, WM_COMMAND, IDM_OPENPROJECT, 0);
    bool shown = true;
    for (const char* list : {"ListView1", "ListView2", "ListView3", "ListView4"}) {
        shown =
            shown && SendMessageA(form->Control(list), LVM_GETITEMCOUNT, 0, 0) == kStepsPerMotor;
    }
    RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE))
        DispatchMessageA(&message);
    const double loadMs = (Now() - start) * 1000;

    PROCESS_MEMORY_COUNTERS memory{};
    memory.cb = sizeof memory;
    GetProcessMemoryInfo(GetCurrentProcess(), &memory, sizeof memory);
    const double peakMb = memory.PeakWorkingSetSize / (1024.0 * 1024.0);

    DestroyWindow(window);
    DeleteFileA(path.c_str());
    std::printf("opened %d program steps in four lists%s\n", 4 * kStepsPerMotor,
                shown ? "" : " (the lists do NOT show them all)");
    std::printf("RESULT load_ms=%.1f peak_mb=%.1f\n", loadMs, peakMb);
    return shown ? 0 : 1;
}
