#include "e2e/driver/MainWindow.h"

#include <commctrl.h>

#include <utility>

#include "e2e/driver/RemoteControls.h"
#include "e2e/driver/RemoteListView.h"

namespace e2e {

namespace {

// The four panels' top left corners in the window's client area, and their size.
constexpr POINT kPanelPlace[MainWindow::kMotors] = {{0, 0}, {432, 0}, {0, 264}, {432, 264}};
constexpr int kPanelWidth = 321, kPanelHeight = 255;

UINT FindInMenu(HMENU bar, const std::string& menu, const std::string& item) {
    char text[256];
    const int menus = GetMenuItemCount(bar);
    for (int i = 0; i < menus; ++i) {
        if (GetMenuStringA(bar, static_cast<UINT>(i), text, sizeof text, MF_BYPOSITION) <= 0 ||
            menu != text)
            continue;
        HMENU popup = GetSubMenu(bar, i);
        const int items = popup != nullptr ? GetMenuItemCount(popup) : 0;
        for (int j = 0; j < items; ++j) {
            if (GetMenuStringA(popup, static_cast<UINT>(j), text, sizeof text, MF_BYPOSITION) > 0 &&
                item == text)
                return GetMenuItemID(popup, j);
        }
    }
    return 0;
}

struct ResourceMenuSearch {
    const std::string* menu;
    const std::string* item;
    UINT id = 0;
};

BOOL CALLBACK SearchMenuResource(HMODULE module, LPCSTR, LPSTR name, LONG_PTR data) {
    auto& search = *reinterpret_cast<ResourceMenuSearch*>(data);
    HMENU bar = LoadMenuA(module, name);
    if (bar == nullptr) return TRUE;
    search.id = FindInMenu(bar, *search.menu, *search.item);
    DestroyMenu(bar);
    return search.id == 0;  // go on until found
}

}  // namespace

MainWindow::MainWindow(HWND window, HANDLE process, std::string exePath)
    : window_(window), process_(process), exePath_(std::move(exePath)) {}

std::string MainWindow::Caption() const {
    return Text(window_);
}

HWND MainWindow::Panel(int motor) const {
    if (motor < 0 || motor >= kMotors) return nullptr;
    for (HWND child : Children(window_)) {
        const RECT place = PlaceIn(child, window_);
        if (place.left == kPanelPlace[motor].x && place.top == kPanelPlace[motor].y &&
            place.right - place.left == kPanelWidth && place.bottom - place.top == kPanelHeight)
            return child;
    }
    return nullptr;
}

HWND MainWindow::PanelControl(int motor, const char* className, int left, int top) const {
    HWND panel = Panel(motor);
    if (panel == nullptr) return nullptr;
    return FindChild(panel, {className, std::nullopt, POINT{left, top}});
}

HWND MainWindow::WindowControl(const char* className, int left, int top) const {
    return FindChild(window_, {className, std::nullopt, POINT{left, top}});
}

HWND MainWindow::JogLeft(int motor) const {
    return PanelControl(motor, "Button", 136, 8);
}
HWND MainWindow::JogRight(int motor) const {
    return PanelControl(motor, "Button", 184, 8);
}
HWND MainWindow::PositionDisplay(int motor) const {
    return PanelControl(motor, "Button", 252, 9);
}
HWND MainWindow::List(int motor) const {
    return PanelControl(motor, WC_LISTVIEWA, 8, 32);
}
HWND MainWindow::StepsField(int motor) const {
    return PanelControl(motor, "Edit", 16, 160);
}
HWND MainWindow::FrequencyField(int motor) const {
    return PanelControl(motor, "Edit", 96, 160);
}
HWND MainWindow::DirectionButton(int motor) const {
    return PanelControl(motor, "Button", 176, 160);
}
HWND MainWindow::StartStopField(int motor) const {
    return PanelControl(motor, "Edit", 232, 160);
}
HWND MainWindow::DeleteButton(int motor) const {
    return PanelControl(motor, "Button", 21, 188);
}
HWND MainWindow::ChangeButton(int motor) const {
    return PanelControl(motor, "Button", 93, 188);
}
HWND MainWindow::InsertButton(int motor) const {
    return PanelControl(motor, "Button", 165, 188);
}
HWND MainWindow::AddButton(int motor) const {
    return PanelControl(motor, "Button", 237, 188);
}
HWND MainWindow::LoopBox(int motor) const {
    return PanelControl(motor, "Button", 8, 230);
}
HWND MainWindow::ResetButton(int motor) const {
    return PanelControl(motor, "Button", 104, 228);
}
HWND MainWindow::StopButton(int motor) const {
    return PanelControl(motor, "Button", 176, 228);
}
HWND MainWindow::StartButton(int motor) const {
    return PanelControl(motor, "Button", 248, 228);
}

HWND MainWindow::SynchronousStart() const {
    HWND group = FindChild(window_, {"Button", std::string("Synchronous"), std::nullopt});
    if (group == nullptr) return nullptr;
    // The group's "Start" sits 8, 19 inside the group box, as its child or placed over it.
    const RECT box = PlaceIn(group, window_);
    if (HWND inside = FindChild(group, {"Button", std::nullopt, POINT{8, 19}})) return inside;
    return WindowControl("Button", box.left + 8, box.top + 19);
}
HWND MainWindow::SynchronousStop() const {
    HWND group = FindChild(window_, {"Button", std::string("Synchronous"), std::nullopt});
    if (group == nullptr) return nullptr;
    const RECT box = PlaceIn(group, window_);
    if (HWND inside = FindChild(group, {"Button", std::nullopt, POINT{8, 43}})) return inside;
    return WindowControl("Button", box.left + 8, box.top + 43);
}
HWND MainWindow::RunInOrder() const {
    return WindowControl("Button", 336, 88);
}
HWND MainWindow::RunInOrderLoop() const {
    return WindowControl("Button", 336, 112);
}
HWND MainWindow::ResetAll() const {
    return WindowControl("Button", 336, 152);
}
HWND MainWindow::PortStatus() const {
    return WindowControl("Static", 328, 500);
}
std::string MainWindow::PortStatusText() const {
    HWND label = PortStatus();
    return label != nullptr ? Text(label) : std::string();
}

bool MainWindow::AddProgramStep(int motor, const TypedStep& step) {
    HWND steps = StepsField(motor), frequency = FrequencyField(motor);
    HWND direction = DirectionButton(motor), startStop = StartStopField(motor);
    HWND add = AddButton(motor);
    if (!steps || !frequency || !direction || !startStop || !add) return false;
    if (!TypeText(steps, step.Steps) || !TypeText(frequency, step.Frequency) ||
        !TypeText(startStop, step.StartStop))
        return false;
    // The direction button steps through its three captions, one per click.
    for (int clicks = 0; Text(direction) != step.Direction; ++clicks)
        if (clicks == 3 || !Click(direction)) return false;
    return Click(add);
}

std::vector<std::vector<std::string>> MainWindow::ProgramRows(int motor) const {
    HWND list = List(motor);
    if (list == nullptr) return {};
    return RemoteListView(process_, list).Rows(kListColumns);
}

int MainWindow::SelectedRow(int motor) const {
    HWND list = List(motor);
    return list != nullptr ? RemoteListView(process_, list).Selected() : -1;
}

UINT MainWindow::MenuCommandId(const std::string& menu, const std::string& item) const {
    if (HMENU bar = GetMenu(window_)) {
        if (const UINT id = FindInMenu(bar, menu, item)) return id;
    }
    // Where the window's menu cannot be read from another process, the program's own menu
    // resource names the same items and ids.
    HMODULE module = LoadLibraryExA(exePath_.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    if (module == nullptr) return 0;
    ResourceMenuSearch search{&menu, &item};
    EnumResourceNamesA(module, RT_MENU, SearchMenuResource, reinterpret_cast<LONG_PTR>(&search));
    FreeLibrary(module);
    return search.id;
}

bool MainWindow::PostMenuCommand(const std::string& menu, const std::string& item) const {
    const UINT id = MenuCommandId(menu, item);
    return id != 0 && PostMessageA(window_, WM_COMMAND, MAKEWPARAM(id, 0), 0) != 0;
}

}  // namespace e2e
