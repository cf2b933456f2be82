// The real main window, created in the test process on a virtual display and driven through its
// messages: layout against the design tables, tab order and focus, step events and the jog
// tally, the position display, the direction button, the program editor's wiring, the start-up
// project and the File menu, the port status label and closing while motors run.
#include <windows.h>
// After <windows.h>, which it needs.
#include <commctrl.h>
#include <wincodec.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <functional>
#include <memory>
#include <new>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "platform/DeviceFile.h"
#include "platform/LibraryLoader.h"
#include "platform/TimerService.h"
#include "platform/virtual/MemoryFileStore.h"
#include "platform/virtual/VirtualDesktop.h"
#include "ui/FormTestSupport.h"
#include "ui/MainForm.h"
#include "ui/MotionPreviewWindow.h"
#include "ui/resource.h"

namespace ui {
namespace {

using testing::Text;

using ::testing::ElementsAre;

// The File menu's dialogs, answered by the test.
class FakeDialogs final : public FormDialogs {
  public:
    bool ChooseOpenPath(HWND, std::string& path) override {
        ++OpenAsked;
        if (OpenAnswer.empty()) return false;
        path = OpenAnswer;
        return true;
    }
    bool ChooseSavePath(HWND, std::string& path) override {
        ++SaveAsked;
        if (SaveAnswer.empty()) return false;
        path = SaveAnswer;
        return true;
    }
    void ShowError(HWND, const std::string& text) override { Errors.push_back(text); }

    std::string OpenAnswer, SaveAnswer;  // empty: the operator cancels
    int OpenAsked = 0, SaveAsked = 0;
    std::vector<std::string> Errors;
};

std::string ExeDirectory() {
    char path[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string full(path);
    return full.substr(0, full.find_last_of("\\/") + 1);
}

std::string ItemText(HWND list, int row, int column) {
    char buffer[256] = {};
    LVITEMA item{};
    item.iSubItem = column;
    item.pszText = buffer;
    item.cchTextMax = sizeof buffer;
    SendMessageA(list, LVM_GETITEMTEXTA, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&item));
    return buffer;
}

std::vector<std::string> Row(HWND list, int row) {
    std::vector<std::string> texts;
    for (int column = 0; column < 5; ++column)
        texts.push_back(ItemText(list, row, column));
    return texts;
}

class MainFormTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() { ASSERT_TRUE(testing::RegisterMainForm()); }

    void SetUp() override {
        if (!StartupProject.empty()) files_.Files[ExeDirectory() + "default.smp"] = StartupProject;
        form_ = TMainForm::Create(GetModuleHandleA(nullptr), Ports());
        ASSERT_NE(form_, nullptr);
        window_ = form_->Handle();
        // Not shown: on a virtual display without a window manager every hidden or destroyed
        // top-level window costs Wine two seconds. The focus test shows it.
        Pump();
    }

    void TearDown() override {
        if (IsWindow(window_)) DestroyWindow(window_);
        Pump();
    }

    TMainForm::Ports Ports() {
        return {platform::SystemTimerService(),
                platform::SystemLibraryLoader(),
                desktop_,
                platform::SystemDeviceFiles(),
                files_,
                dialogs_};
    }

    static void Pump() { testing::Pump(); }

    HWND Control(const char* name) const {
        HWND control = form_->Control(name);
        EXPECT_NE(control, nullptr) << name;
        return control;
    }
    void Click(const char* name) {
        HWND control = Control(name);
        testing::SendClick(control);
        Pump();
    }
    void Steps(int motor, uint8_t direction, int count) {
        for (int i = 0; i < count; ++i)
            form_->Motor(motor).Step(direction);
        Pump();
    }
    void Menu(int id) {
        SendMessageA(window_, WM_COMMAND, MAKEWPARAM(id, 0), 0);
        Pump();
    }
    void Type(const char* name, const char* keys) {
        for (const char* k = keys; *k != '\0'; ++k)
            SendMessageA(Control(name), WM_CHAR,
                         static_cast<WPARAM>(static_cast<unsigned char>(*k)), 1);
    }
    void SetText(const char* name, const char* text) { SetWindowTextA(Control(name), text); }
    void Select(const char* list, int row) {
        LVITEMA item{};
        item.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
        item.state = row >= 0 ? LVIS_SELECTED | LVIS_FOCUSED : 0;
        SendMessageA(Control(list), LVM_SETITEMSTATE, static_cast<WPARAM>(row >= 0 ? row : -1),
                     reinterpret_cast<LPARAM>(&item));
        Pump();
    }
    int Selected(const char* list) {
        return static_cast<int>(
            SendMessageA(Control(list), LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED));
    }
    int Rows(const char* list) {
        return static_cast<int>(SendMessageA(Control(list), LVM_GETITEMCOUNT, 0, 0));
    }

    std::string StartupProject;  // set before SetUp runs to put a "default.smp" in place
    platform::VirtualDesktop desktop_;
    platform::MemoryFileStore files_;
    FakeDialogs dialogs_;
    TMainForm* form_ = nullptr;
    HWND window_ = nullptr;
};

// ---------------------------------------------------------------------------------------------
// Layout

// One row of the design's layout tables. Size 0 x 0: sized to its text (labels); height -1: the
// height is not part of the design (edit fields).
struct Expected {
    const char* Names[4];
    int Left, Top, Width, Height;
    const char* Caption;
};

const Expected kPanel[] = {
    {{"Label5", "Label10", "Label15", "Label20"}, 9, 10, 0, 0, nullptr},
    {{"MotorIcon1", "MotorIcon2", "MotorIcon3", "MotorIcon4"}, 100, 4, 23, 23, ""},
    {{"Button7", "Button18", "Button27", "Button36"}, 136, 8, 41, 17, "<<"},
    {{"Button6", "Button17", "Button26", "Button35"}, 184, 8, 41, 17, ">>"},
    {{"SpeedButton1", "SpeedButton2", "SpeedButton3", "SpeedButton4"}, 252, 9, 56, 15, "0"},
    {{"ListView1", "ListView2", "ListView3", "ListView4"}, 8, 32, 305, 105, ""},
    {{"Edit1", "Edit4", "Edit7", "Edit10"}, 16, 160, 73, -1, "0"},
    {{"Edit2", "Edit5", "Edit8", "Edit11"}, 96, 160, 73, -1, "0"},
    {{"Button12", "Button20", "Button29", "Button38"}, 176, 160, 48, 20, "Right"},
    {{"Edit3", "Edit6", "Edit9", "Edit12"}, 232, 160, 73, -1, "0"},
    {{"Button8", "Button19", "Button28", "Button37"}, 21, 188, 64, 21, "Delete"},
    {{"Button5", "Button16", "Button25", "Button34"}, 93, 188, 64, 21, "Change"},
    {{"Button4", "Button15", "Button24", "Button33"}, 165, 188, 64, 21, "Insert"},
    {{"Button3", "Button14", "Button23", "Button32"}, 237, 188, 64, 21, "Add"},
    {{"CheckBox1", "CheckBox2", "CheckBox3", "CheckBox4"}, 8, 230, 65, 17, "Loop"},
    {{"bStop1", "Button45", "Button46", "Button47"}, 104, 228, 65, 21, "Reset"},
    {{"Button1", "Button11", "Button21", "Button30"}, 176, 228, 65, 21, "Stop"},
    {{"Button2", "Button13", "Button22", "Button31"}, 248, 228, 65, 21, "Start"},
};

const Expected kWindow[] = {
    {{"GroupBox1"}, 328, 0, 97, 77, "Synchronous"},
    {{"CheckBox5"}, 336, 88, 89, 17, "Run in order"},
    {{"CheckBox6"}, 336, 112, 81, 17, "Loop"},
    {{"Button39"}, 336, 152, 80, 20, "Reset"},
    {{"Button41"}, 324, 360, 105, 25, "ClearCommandList"},
    {{"Button42"}, 324, 388, 105, 25, "GetMotorStatus"},
    {{"Button43"}, 324, 416, 105, 25, "GetDataStack"},
    {{"Button44"}, 324, 444, 105, 25, "GetProgramStack"},
    {{"Label22"}, 328, 488, 0, 0, "Port:"},
};

const Expected kInGroup[] = {
    {{"Button9"}, 8, 19, 80, 25, "Start"},
    {{"Button10"}, 8, 43, 80, 25, "Stop"},
};

// The control's rectangle in the client coordinates of reference.
RECT PlaceIn(HWND control, HWND reference) {
    RECT place;
    GetWindowRect(control, &place);
    MapWindowPoints(nullptr, reference, reinterpret_cast<POINT*>(&place), 2);
    return place;
}

void ExpectPlace(HWND control, HWND reference, const Expected& e, const char* name) {
    const RECT r = PlaceIn(control, reference);
    EXPECT_EQ(r.left, e.Left) << name;
    EXPECT_EQ(r.top, e.Top) << name;
    if (e.Width > 0) {
        EXPECT_EQ(r.right - r.left, e.Width) << name;
    } else {
        EXPECT_GT(r.right - r.left, 0) << name << " shows its text";
    }
    if (e.Height > 0) {
        EXPECT_EQ(r.bottom - r.top, e.Height) << name;
    }
}

TEST_F(MainFormTest, WindowIsFixedWithItsCaptionAndClientArea) {
    EXPECT_EQ(Text(window_), "Stepper");
    RECT client;
    GetClientRect(window_, &client);
    EXPECT_EQ(client.right, 753);
    EXPECT_EQ(client.bottom, 519);
    const LONG style = GetWindowLongA(window_, GWL_STYLE);
    EXPECT_NE(style & WS_SYSMENU, 0);
    EXPECT_NE(style & WS_MINIMIZEBOX, 0);
    EXPECT_EQ(style & WS_MAXIMIZEBOX, 0);
    EXPECT_EQ(style & WS_THICKFRAME, 0);

    const auto fontOf = [](HWND control) {
        LOGFONTA font{};
        GetObjectA(reinterpret_cast<HFONT>(SendMessageA(control, WM_GETFONT, 0, 0)), sizeof font,
                   &font);
        return font;
    };
    const LOGFONTA normal = fontOf(Control("Edit2"));
    EXPECT_EQ(normal.lfHeight, -11);
    EXPECT_STREQ(normal.lfFaceName, "MS Sans Serif");
    const LOGFONTA heading = fontOf(Control("Label5"));
    EXPECT_EQ(heading.lfHeight, -12);
    EXPECT_GE(heading.lfWeight, FW_BOLD);
}

TEST_F(MainFormTest, PanelsAndTheirControlsSitWhereTheTablesSay) {
    const int panelLeft[] = {0, 432, 0, 432}, panelTop[] = {0, 0, 264, 264};
    for (int m = 0; m < 4; ++m) {
        HWND panel = GetParent(Control(kPanel[0].Names[m]));
        const RECT r = PlaceIn(panel, window_);
        EXPECT_EQ(r.left, panelLeft[m]);
        EXPECT_EQ(r.top, panelTop[m]);
        EXPECT_EQ(r.right - r.left, 321);
        EXPECT_EQ(r.bottom - r.top, 255);
        for (const Expected& e : kPanel) {
            HWND control = Control(e.Names[m]);
            ASSERT_NE(control, nullptr) << e.Names[m];
            EXPECT_EQ(GetParent(control), panel) << e.Names[m];
            ExpectPlace(control, panel, e, e.Names[m]);
            const std::string caption =
                e.Caption != nullptr ? e.Caption : "Motor " + std::to_string(m + 1);
            EXPECT_EQ(Text(control), caption) << e.Names[m];
        }
    }
}

TEST_F(MainFormTest, WindowWideControlsSitWhereTheTableSays) {
    for (const Expected& e : kWindow) {
        HWND control = Control(e.Names[0]);
        ASSERT_NE(control, nullptr) << e.Names[0];
        ExpectPlace(control, window_, e, e.Names[0]);
        EXPECT_EQ(Text(control), e.Caption) << e.Names[0];
    }
    for (const Expected& e : kInGroup) {
        HWND control = Control(e.Names[0]);
        ExpectPlace(control, Control("GroupBox1"), e, e.Names[0]);
        EXPECT_EQ(Text(control), e.Caption) << e.Names[0];
    }
    EXPECT_FALSE(IsWindowEnabled(Control("CheckBox6")));
    EXPECT_TRUE(IsWindowEnabled(Control("CheckBox5")));
    const RECT status = PlaceIn(Control("Label21"), window_);
    EXPECT_EQ(status.left, 328);
    EXPECT_EQ(status.top, 500);
}

TEST_F(MainFormTest, ProgramListsAreReadOnlyReportsWithTheFiveColumns) {
    struct Column {
        const char* caption;
        int width;
    };
    const Column columns[] = {
        {"#", 36}, {"Steps", 52}, {"Freq. [Hz]", 64}, {"Direction", 64}, {"Start/Stop", 64}};
    for (const char* name : {"ListView1", "ListView2", "ListView3", "ListView4"}) {
        HWND list = Control(name);
        const LONG style = GetWindowLongA(list, GWL_STYLE);
        EXPECT_EQ(style & LVS_TYPEMASK, LVS_REPORT) << name;
        EXPECT_NE(style & LVS_SINGLESEL, 0) << name;
        EXPECT_NE(style & LVS_SHOWSELALWAYS, 0) << name;
        EXPECT_NE(style & LVS_OWNERDATA, 0) << name;
        EXPECT_EQ(style & LVS_EDITLABELS, 0) << name;
        EXPECT_NE(SendMessageA(list, LVM_GETEXTENDEDLISTVIEWSTYLE, 0, 0) & LVS_EX_FULLROWSELECT, 0);
        for (int i = 0; i < 5; ++i) {
            char caption[64] = {};
            LVCOLUMNA column{};
            column.mask = LVCF_TEXT | LVCF_WIDTH;
            column.pszText = caption;
            column.cchTextMax = sizeof caption;
            ASSERT_TRUE(SendMessageA(list, LVM_GETCOLUMNA, static_cast<WPARAM>(i),
                                     reinterpret_cast<LPARAM>(&column)));
            EXPECT_STREQ(caption, columns[i].caption);
            EXPECT_EQ(column.cx, columns[i].width);
        }
    }
}

TEST_F(MainFormTest, StepsFieldsTakeDigitsOnlyRightAligned) {
    for (const char* name : {"Edit1", "Edit4", "Edit7", "Edit10"})
        EXPECT_EQ(GetWindowLongA(Control(name), GWL_STYLE) & 0x2006, 0x2006) << name;
    SetText("Edit1", "");
    Type("Edit1", "1x2-.3\r");
    EXPECT_EQ(Text(Control("Edit1")), "123");
}

TEST_F(MainFormTest, MenuHasTheDesignedCommands) {
    HMENU bar = GetMenu(window_);
    ASSERT_NE(bar, nullptr);
    const auto caption = [](HMENU menu, UINT position) {
        char text[64] = {};
        GetMenuStringA(menu, position, text, sizeof text, MF_BYPOSITION);
        return std::string(text);
    };
    ASSERT_EQ(GetMenuItemCount(bar), 3);
    EXPECT_EQ(caption(bar, 0), "&File");
    EXPECT_EQ(caption(bar, 1), "&Options");
    EXPECT_EQ(caption(bar, 2), "Help");
    HMENU file = GetSubMenu(bar, 0);
    std::vector<std::string> items;
    for (int i = 0; i < GetMenuItemCount(file); ++i)
        items.push_back(caption(file, static_cast<UINT>(i)));
    EXPECT_THAT(items, ElementsAre("&New Project", "&Open Project", "&Save", "Save &As", "E&xit"));
    EXPECT_EQ(caption(GetSubMenu(bar, 1), 0), "&Configuration");
    EXPECT_EQ(caption(GetSubMenu(bar, 1), 1), "Motion &preview");
    HMENU help = GetSubMenu(bar, 2);
    ASSERT_EQ(GetMenuItemCount(help), 5);
    EXPECT_EQ(caption(help, 0), "About");
    EXPECT_EQ(caption(help, 1), "Readme");
    EXPECT_NE(GetMenuState(help, 2, MF_BYPOSITION) & MF_SEPARATOR, 0u);
    EXPECT_EQ(caption(help, 3), "Help (English)");
    EXPECT_EQ(caption(help, 4), "Hilfe (Deutsch)");
}

// The motion preview: opened from the menu (one at a time), its texts follow the programs and
// the port setting, and it saves its plots as a bitmap.
TEST_F(MainFormTest, MotionPreviewShowsRunTimesAndWarningsAndFollowsEdits) {
    form_->AppendStep(0, motion::TsmProgramStep{400, 200.0, 0.5, motion::kDirRight});
    Menu(IDM_MOTIONPREVIEW);
    HWND preview = FindWindowA(TMotionPreviewWindow::kClassName, "Motion preview");
    ASSERT_NE(preview, nullptr);
    EXPECT_EQ(GetWindow(preview, GW_OWNER), window_);
    const auto label = [&](int id) { return Text(GetDlgItem(preview, id)); };
    EXPECT_EQ(label(TMotionPreviewWindow::kMotorLabelId),
              "Motor 1: right 400, left 0, net +400; one pass 2.500 s");
    EXPECT_EQ(label(TMotionPreviewWindow::kMotorLabelId + 1), "Motor 2: no program");
    EXPECT_EQ(label(TMotionPreviewWindow::kChainLabelId), "Run in order, motors 1 to 4: 2.500 s");

    // An edit and a host-timed port show up at the next refresh.
    form_->AppendStep(0, motion::TsmProgramStep{100, 100.0, 0.0, motion::kDirLeft});
    form_->AppendStep(2, motion::TsmProgramStep{10, 1500.0, 0.0, motion::kDirRight});
    form_->SetPortSetting(1);
    const DWORD start = GetTickCount();
    while (GetTickCount() - start < 400)
        Pump();
    // In "USB (slow)" the two motors' host-timed rates together (200 + 1000 steps/s) exceed
    // the link's 1000 reports a second.
    EXPECT_EQ(label(TMotionPreviewWindow::kMotorLabelId),
              "Motor 1: right 400, left 100, net +300; one pass 3.500 s\r\nWarning, the motors "
              "together reach 1200.0 steps/s, more than the USB link's 1000 reports/s: steps of "
              "different motors within one millisecond share a report and come late");
    EXPECT_THAT(label(TMotionPreviewWindow::kMotorLabelId + 2),
                ::testing::HasSubstr("Warning, step 1: 1500.0 Hz is faster than the host"));

    Menu(IDM_MOTIONPREVIEW);  // brings the same window to the front
    EXPECT_EQ(FindWindowExA(nullptr, preview, TMotionPreviewWindow::kClassName, nullptr), nullptr);
    DestroyWindow(preview);
    Pump();
}

// An image file decoded by the system's codecs into 32-bit BGRA rows; empty when it cannot be.
struct DecodedImage {
    UINT Width = 0, Height = 0;
    std::vector<BYTE> Pixels;
    // Pixels of r (client coordinates) darker than the window's background: drawn lines and text.
    int DarkPixelsIn(const RECT& r) const {
        int dark = 0;
        for (LONG y = std::max(r.top, 0L); y < std::min<LONG>(r.bottom, Height); ++y)
            for (LONG x = std::max(r.left, 0L); x < std::min<LONG>(r.right, Width); ++x) {
                const BYTE* p = &Pixels[(static_cast<size_t>(y) * Width + x) * 4];
                if (p[0] + p[1] + p[2] < 3 * 96) ++dark;
            }
        return dark;
    }
};

DecodedImage Decode(const std::string& path) {
    DecodedImage image;
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    IWICImagingFactory* factory = nullptr;
    IWICBitmapDecoder* decoder = nullptr;
    IWICBitmapFrameDecode* frame = nullptr;
    IWICFormatConverter* converter = nullptr;
    const std::wstring wide(path.begin(), path.end());
    if (SUCCEEDED(CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER,
                                   IID_IWICImagingFactory, reinterpret_cast<void**>(&factory))) &&
        SUCCEEDED(factory->CreateDecoderFromFilename(wide.c_str(), nullptr, GENERIC_READ,
                                                     WICDecodeMetadataCacheOnDemand, &decoder)) &&
        SUCCEEDED(decoder->GetFrame(0, &frame)) &&
        SUCCEEDED(factory->CreateFormatConverter(&converter)) &&
        SUCCEEDED(converter->Initialize(frame, GUID_WICPixelFormat32bppBGRA,
                                        WICBitmapDitherTypeNone, nullptr, 0,
                                        WICBitmapPaletteTypeCustom)) &&
        SUCCEEDED(converter->GetSize(&image.Width, &image.Height))) {
        image.Pixels.resize(static_cast<size_t>(image.Width) * image.Height * 4);
        if (FAILED(converter->CopyPixels(nullptr, image.Width * 4,
                                         static_cast<UINT>(image.Pixels.size()),
                                         image.Pixels.data())))
            image = {};
    }
    for (IUnknown* p : std::initializer_list<IUnknown*>{converter, frame, decoder, factory})
        if (p) p->Release();
    CoUninitialize();
    return image;
}

TEST_F(MainFormTest, MotionPreviewSavesItsPlotsAndLabelsAsAPng) {
    TMotionPreviewWindow* preview = TMotionPreviewWindow::Create(window_, [] {
        TMotionPreviewWindow::Snapshot snapshot;
        snapshot.Schedules[1] = motion::TStepSchedule({{300, 300.0, 0.3, motion::kDirLeft}});
        return snapshot;
    });
    ASSERT_NE(preview, nullptr);
    char folder[MAX_PATH];
    GetTempPathA(sizeof folder, folder);
    const std::string path = std::string(folder) + "q417-preview-test.png";
    ASSERT_EQ(preview->SaveImage(path), path);
    char magic[8] = {};
    std::ifstream(path, std::ios::binary).read(magic, sizeof magic);
    EXPECT_EQ(std::string(magic, sizeof magic), "\x89PNG\r\n\x1a\n");

    const DecodedImage image = Decode(path);
    RECT client;
    GetClientRect(preview->Handle(), &client);
    ASSERT_EQ(image.Width, static_cast<UINT>(client.right));
    ASSERT_EQ(image.Height, static_cast<UINT>(client.bottom));
    // The plot and the texts beside and below it are in the picture, not only on the screen.
    for (int id : {TMotionPreviewWindow::kMotorLabelId + 1, TMotionPreviewWindow::kChainLabelId}) {
        HWND label = GetDlgItem(preview->Handle(), id);
        ASSERT_GT(GetWindowTextLengthA(label), 0) << id;
        RECT r;
        GetWindowRect(label, &r);
        MapWindowPoints(nullptr, preview->Handle(), reinterpret_cast<POINT*>(&r), 2);
        EXPECT_GT(image.DarkPixelsIn(r), 20) << "label " << id;
    }
    EXPECT_TRUE(preview->SaveImage(std::string(folder) + "no-such-folder\\x.png").empty());
    DestroyWindow(preview->Handle());
    DeleteFileA(path.c_str());
    Pump();
}

// The longest program step there is, and a ramp time whose ramp cannot be played: the preview
// opens at once with texts that make sense.
TEST_F(MainFormTest, MotionPreviewOfExtremeProgramsOpensWithSaneTexts) {
    form_->AppendStep(0, motion::TsmProgramStep{2147483647, 1000.0, 0.5, motion::kDirRight});
    form_->AppendStep(1, motion::TsmProgramStep{100, 2.0, 1e-320, motion::kDirLeft});
    Menu(IDM_MOTIONPREVIEW);
    HWND preview = FindWindowA(TMotionPreviewWindow::kClassName, "Motion preview");
    ASSERT_NE(preview, nullptr);
    const auto label = [&](int id) { return Text(GetDlgItem(preview, id)); };
    EXPECT_EQ(label(TMotionPreviewWindow::kMotorLabelId),
              "Motor 1: right 2147483647, left 0, net +2147483647; one pass 2147484.147 s");
    EXPECT_THAT(label(TMotionPreviewWindow::kMotorLabelId + 1),
                ::testing::StartsWith("Motor 2: right 0, left 100, net -100; one pass 50.000 s\r\n"
                                      "Warning, step 1: the start/stop time "));
    DestroyWindow(preview);
    Pump();
}

// A refresh that fails shows why, in the window that stays open.
TEST_F(MainFormTest, MotionPreviewShowsWhyItCannotShowThePrograms) {
    const std::pair<std::function<void()>, const char*> cases[] = {
        {[] { throw std::bad_alloc(); }, "The preview cannot be shown: not enough memory"},
        {[] { throw std::runtime_error("no copy"); }, "The preview cannot be shown: no copy"},
    };
    for (const auto& [fail, text] : cases) {
        TMotionPreviewWindow* preview = TMotionPreviewWindow::Create(
            window_, [fail = fail]() -> TMotionPreviewWindow::Snapshot {
                fail();
                return {};
            });
        ASSERT_NE(preview, nullptr) << text;
        EXPECT_EQ(Text(GetDlgItem(preview->Handle(), TMotionPreviewWindow::kChainLabelId)), text);
        EXPECT_EQ(Text(GetDlgItem(preview->Handle(), TMotionPreviewWindow::kMotorLabelId)),
                  "Motor 1: -");
        DestroyWindow(preview->Handle());
        Pump();
    }
}

// A preview window whose creation fails after it has taken its object (here: its labels cannot
// be created) frees that object once, and Create reports the failure.
LRESULT CALLBACK RefuseStaticControls(int code, WPARAM wParam, LPARAM lParam) {
    if (code == HCBT_CREATEWND) {
        const char* name = reinterpret_cast<CBT_CREATEWNDA*>(lParam)->lpcs->lpszClass;
        if (HIWORD(reinterpret_cast<ULONG_PTR>(name)) != 0 && lstrcmpiA(name, "STATIC") == 0)
            return 1;
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

TEST_F(MainFormTest, MotionPreviewWhoseCreationFailsIsFreedOnce) {
    auto token = std::make_shared<int>(0);
    HHOOK hook = SetWindowsHookExA(WH_CBT, RefuseStaticControls, nullptr, GetCurrentThreadId());
    ASSERT_NE(hook, nullptr);
    TMotionPreviewWindow* preview =
        TMotionPreviewWindow::Create(window_, [token] { return TMotionPreviewWindow::Snapshot{}; });
    UnhookWindowsHookEx(hook);
    EXPECT_EQ(preview, nullptr);
    // The source (and its copy of the token) was destroyed with the object, exactly once.
    EXPECT_EQ(token.use_count(), 1);
    EXPECT_EQ(FindWindowA(TMotionPreviewWindow::kClassName, nullptr), nullptr);
    Pump();
}

TEST_F(MainFormTest, TabOrderFollowsThePanelsThenTheWindowControls) {
    std::vector<std::string> names;
    const auto panel = [&](std::vector<std::string> p) {
        names.insert(names.end(), p.begin(), p.end());
    };
    panel({"Button7", "Button6", "ListView1", "Edit1", "Edit2", "Button12", "Edit3", "Button8",
           "Button5", "Button4", "Button3", "CheckBox1", "bStop1", "Button1", "Button2"});
    panel({"Button18", "Button17", "ListView2", "Edit4", "Edit5", "Button20", "Edit6", "Button19",
           "Button16", "Button15", "Button14", "CheckBox2", "Button11", "Button13", "Button45"});
    panel({"Button27", "Button26", "ListView3", "Edit7", "Edit8", "Button29", "Edit9", "Button28",
           "Button25", "Button24", "Button23", "CheckBox3", "Button21", "Button22", "Button46"});
    panel({"Button36", "Button35", "ListView4", "Edit10", "Edit11", "Button38", "Edit12",
           "Button37", "Button34", "Button33", "Button32", "CheckBox4", "Button30", "Button31",
           "Button47"});
    // CheckBox6 ("Loop" of the run in order) is disabled at start and so skipped.
    panel({"Button9", "Button10", "CheckBox5", "Button39", "Button41", "Button42", "Button43",
           "Button44"});

    HWND current = Control("Button7");
    for (size_t i = 1; i <= names.size(); ++i) {
        current = GetNextDlgTabItem(window_, current, FALSE);
        const std::string& expected = names[i % names.size()];  // wraps round to the first
        ASSERT_EQ(current, Control(expected.c_str()))
            << "after " << names[i - 1] << " comes " << expected;
    }
}

TEST_F(MainFormTest, FocusStartsOnMotorOnesJogLeftButton) {
    ShowWindow(window_, SW_SHOW);  // activates it
    Pump();
    EXPECT_EQ(GetFocus(), Control("Button7"));
}

// ---------------------------------------------------------------------------------------------
// Step events and the jog tally

TEST_F(MainFormTest, TenStepsRightCountTenAndTurnTheSymbol) {
    Steps(0, motion::kDirRight, 10);
    EXPECT_EQ(form_->JogTally(0), 10);
    EXPECT_EQ(Text(Control("Edit1")), "10");
    EXPECT_EQ(Text(Control("Button12")), "Right");
    EXPECT_EQ(form_->Icon(0).Angle(), 300.0f);
    EXPECT_EQ(Text(Control("SpeedButton1")), "10");  // the motor's position display
}

TEST_F(MainFormTest, ThreeStepsLeftFromTwoShowOneLeft) {
    Steps(1, motion::kDirRight, 2);
    Steps(1, motion::kDirLeft, 3);
    EXPECT_EQ(form_->JogTally(1), -1);
    EXPECT_EQ(Text(Control("Edit4")), "1");
    EXPECT_EQ(Text(Control("Button20")), "Left");
    EXPECT_EQ(Text(Control("SpeedButton2")), "-1");
}

TEST_F(MainFormTest, StepWhileRunningTurnsTheSymbolButLeavesTheFields) {
    SetText("Edit1", "77");
    SetText("Button12", "Pause");
    form_->Motor(0).SetRunning(true);
    Steps(0, motion::kDirRight, 1);
    form_->Motor(0).SetRunning(false);
    EXPECT_EQ(form_->JogTally(0), 0);
    EXPECT_EQ(Text(Control("Edit1")), "77");
    EXPECT_EQ(Text(Control("Button12")), "Pause");
    EXPECT_EQ(form_->Icon(0).Angle(), 354.0f);
    EXPECT_EQ(form_->OutputByte(), form_->Motor(0).Phase());  // the output was updated
}

TEST_F(MainFormTest, OutputByteCarriesEveryMotorsPhase) {
    Steps(1, motion::kDirRight, 1);
    Steps(3, motion::kDirLeft, 1);
    const uint8_t expected =
        static_cast<uint8_t>(form_->Motor(1).Phase() << 2 | form_->Motor(3).Phase() << 6);
    EXPECT_NE(expected, 0);
    EXPECT_EQ(form_->OutputByte(), expected);
}

TEST_F(MainFormTest, StepEventWithoutDirectionChangesNothing) {
    form_->Motor(2).SetPhase(3);
    form_->StepEvent(2, motion::kDirNone);
    form_->StepEvent(2, 7);
    Pump();
    EXPECT_EQ(form_->OutputByte(), 0);  // no output update
    EXPECT_EQ(form_->JogTally(2), 0);
    EXPECT_EQ(form_->Icon(2).Angle(), 0.0f);
    EXPECT_EQ(Text(Control("Edit7")), "0");
}

TEST_F(MainFormTest, SymbolAngleWrapsAsDesigned) {
    Steps(0, motion::kDirRight, 1);
    EXPECT_EQ(form_->Icon(0).Angle(), 354.0f);
    Steps(0, motion::kDirLeft, 1);
    EXPECT_EQ(form_->Icon(0).Angle(), 360.0f);
    Steps(0, motion::kDirLeft, 1);
    EXPECT_EQ(form_->Icon(0).Angle(), 6.0f);
    EXPECT_THAT(form_->Icon(0).Points(),
                ElementsAre(IconPoint{21, 16}, IconPoint{10, 1}, IconPoint{3, 18}));
}

TEST_F(MainFormTest, PositionClickZeroesThatMotorAndShowsEveryTallySigned) {
    Steps(1, motion::kDirRight, 3);
    Steps(2, motion::kDirLeft, 4);
    ASSERT_EQ(Text(Control("SpeedButton2")), "3");
    ASSERT_EQ(Text(Control("Button29")), "Left");
    Click("SpeedButton2");
    EXPECT_EQ(Text(Control("SpeedButton2")), "0");
    EXPECT_EQ(form_->Motor(1).Position(), 0);
    EXPECT_EQ(form_->Icon(1).Angle(), 0.0f);
    EXPECT_EQ(form_->JogTally(1), 0);
    EXPECT_EQ(Text(Control("Edit4")), "0");
    EXPECT_EQ(Text(Control("Edit7")), "-4");       // signed, as the click writes every field
    EXPECT_EQ(Text(Control("Button29")), "Left");  // no direction button changes
    EXPECT_EQ(form_->JogTally(2), -4);
    EXPECT_EQ(form_->Motor(2).Position(), -4);
}

TEST_F(MainFormTest, DirectionButtonCycles) {
    const char* expected[] = {"Left", "Pause", "Right", "Left"};
    for (const char* caption : expected) {
        Click("Button20");
        EXPECT_EQ(Text(Control("Button20")), caption);
    }
    SetText("Button20", "None");  // from a row read from a file
    Click("Button20");
    EXPECT_EQ(Text(Control("Button20")), "Right");
}

// ---------------------------------------------------------------------------------------------
// Program editor wiring

TEST_F(MainFormTest, AddWithDefaultFieldsAppendsARowAndAStep) {
    Steps(0, motion::kDirLeft, 2);  // Add also zeroes the jog tally
    SetText("Edit1", "0");
    SetText("Button12", "Right");
    Click("Button3");
    ASSERT_EQ(Rows("ListView1"), 1);
    EXPECT_THAT(Row(Control("ListView1"), 0), ElementsAre("1", "0", "0", "Right", "0"));
    std::vector<motion::TsmProgramStep> steps;
    form_->GetProgram(0, steps);
    ASSERT_EQ(steps.size(), 1u);
    EXPECT_EQ(steps[0].Steps, 0);
    EXPECT_EQ(steps[0].Frequency, 0.0);
    EXPECT_EQ(steps[0].Direction, motion::kDirRight);
    EXPECT_EQ(form_->JogTally(0), 0);
    Steps(0, motion::kDirRight, 1);
    EXPECT_EQ(Text(Control("Edit1")), "1");  // the next jog counts from 0
}

TEST_F(MainFormTest, KeyFilterOfTheFrequencyAndRampFields) {
    for (const char* name : {"Edit2", "Edit3", "Edit11"}) {
        SetText(name, "");
        // Letters are discarded; Backspace (a control character) passes and takes the '-' back.
        Type(name, "1a2.-x\b-5");
        EXPECT_EQ(Text(Control(name)), "12.-5") << name;
    }
}

TEST_F(MainFormTest, InsertAboveTheSelectedRowKeepsItSelected) {
    for (const char* steps : {"1", "2", "3"}) {
        SetText("Edit4", steps);
        Click("Button14");
    }
    ASSERT_EQ(Rows("ListView2"), 3);
    Select("ListView2", 1);
    EXPECT_EQ(Text(Control("Edit4")), "2");  // the selection fills the fields
    SetText("Edit4", "9");
    SetText("Edit5", "12..5");
    Click("Button15");
    ASSERT_EQ(Rows("ListView2"), 4);
    EXPECT_EQ(Selected("ListView2"), 2);
    EXPECT_THAT(Row(Control("ListView2"), 1), ElementsAre("2", "9", "12..5", "Right", "0"));
    EXPECT_EQ(ItemText(Control("ListView2"), 2, 1), "2");
    std::vector<motion::TsmProgramStep> steps;
    form_->GetProgram(1, steps);
    ASSERT_EQ(steps.size(), 4u);
    EXPECT_EQ(steps[1].Steps, 9);
    EXPECT_EQ(steps[1].Frequency, 0.0);  // "12..5" is no number
}

TEST_F(MainFormTest, DeleteWithoutSelectionDoesNothingAndDeletingTheLastRowClearsIt) {
    SetText("Edit7", "5");
    Click("Button23");
    Click("Button28");  // nothing selected
    ASSERT_EQ(Rows("ListView3"), 1);
    Select("ListView3", 0);
    Click("Button28");
    EXPECT_EQ(Rows("ListView3"), 0);
    EXPECT_EQ(Selected("ListView3"), -1);
    std::vector<motion::TsmProgramStep> steps;
    form_->GetProgram(2, steps);
    EXPECT_TRUE(steps.empty());
}

TEST_F(MainFormTest, ChangeReplacesTheSelectedRowAndSelectionFillsTheFields) {
    SetText("Edit10", "7");
    Click("Button32");
    SetText("Edit10", "8");
    Click("Button32");
    Select("ListView4", 0);
    EXPECT_EQ(Text(Control("Edit10")), "7");
    SetText("Edit10", "70");
    SetText("Button38", "Pause");
    Click("Button34");
    EXPECT_THAT(Row(Control("ListView4"), 0), ElementsAre("1", "70", "0", "Pause", "0"));
    EXPECT_EQ(Selected("ListView4"), 0);
    std::vector<motion::TsmProgramStep> steps;
    form_->GetProgram(3, steps);
    ASSERT_EQ(steps.size(), 2u);
    EXPECT_EQ(steps[0].Steps, 70);
    EXPECT_EQ(steps[0].Direction, motion::kDirNone);
    Select("ListView4", 1);
    EXPECT_EQ(Text(Control("Edit10")), "8");
    EXPECT_EQ(Text(Control("Button38")), "Right");
}

TEST_F(MainFormTest, RunningMotorSelectsItsCurrentStepAndSurvivesNewProject) {
    form_->AppendStep(0, motion::TsmProgramStep{2, 1000.0, 0.0, motion::kDirRight});
    form_->AppendStep(0, motion::TsmProgramStep{1000000, 100.0, 0.0, motion::kDirRight});
    form_->RenumberProgramList(0);
    form_->Motor(0).StartProgram();
    const DWORD start = GetTickCount();
    while (form_->Motor(0).StepIndex() != 1 && GetTickCount() - start < 5000)
        Pump();
    Pump();
    EXPECT_EQ(Selected("ListView1"), 1);
    EXPECT_EQ(Text(Control("Edit1")), "1000000");  // the row's texts in the entry fields
    EXPECT_EQ(Text(Control("Edit2")), "100.00");

    // The programs are emptied under the motors' locks while the motor runs on.
    Menu(IDM_NEWPROJECT);
    EXPECT_EQ(Rows("ListView1"), 0);
    std::vector<motion::TsmProgramStep> steps;
    form_->GetProgram(0, steps);
    EXPECT_TRUE(steps.empty());
    for (int i = 0; i < 20; ++i)
        Pump();
    form_->Motor(0).Stop();
}

// ---------------------------------------------------------------------------------------------
// Start-up project and the File menu

class StartupProjectTest : public MainFormTest {
  protected:
    StartupProjectTest() {
        StartupProject =
            "Port = 1\r\n[Motor_program_2]\r\nlooping = 1\r\nSteps = 400 250.00 0.50 left\r\n"
            "Steps = 5 10 0\r\n[Motor_program_4]\r\n";
        // A long program: the list shows its rows without holding a text per cell.
        for (int i = 1; i <= 100000; ++i)
            StartupProject += "Steps = " + std::to_string(i) + " 100 0 right\r\n";
    }
};

TEST_F(StartupProjectTest, DefaultProjectIsLoadedAndNoFileNameKept) {
    EXPECT_EQ(form_->FileName(), "");
    EXPECT_EQ(Text(window_), "Stepper");
    EXPECT_EQ(form_->PortSetting(), 1);
    ASSERT_EQ(Rows("ListView2"), 2);
    EXPECT_THAT(Row(Control("ListView2"), 0), ElementsAre("1", "400", "250.00", "Left", "0.50"));
    EXPECT_THAT(Row(Control("ListView2"), 1), ElementsAre("2", "5", "10.00", "None", "0.00"));
    EXPECT_EQ(SendMessageA(Control("CheckBox2"), BM_GETCHECK, 0, 0), BST_CHECKED);
    EXPECT_EQ(SendMessageA(Control("CheckBox1"), BM_GETCHECK, 0, 0), BST_UNCHECKED);
    EXPECT_EQ(Text(Control("Label21")), "USB (no Device)");
    EXPECT_TRUE(dialogs_.Errors.empty());
    ASSERT_EQ(Rows("ListView4"), 100000);
    EXPECT_THAT(Row(Control("ListView4"), 99999),
                ElementsAre("100000", "100000", "100.00", "Right", "0.00"));

    // "&Save" without a file name asks for one; cancelled, nothing is written.
    Menu(IDM_SAVE);
    EXPECT_EQ(dialogs_.SaveAsked, 1);
    EXPECT_EQ(files_.Writes, 0);
    EXPECT_EQ(Text(window_), "Stepper");
}

TEST_F(MainFormTest, SaveAsOpenAndNewProjectKeepFileNameAndCaption) {
    SetText("Edit1", "400");
    Click("Button3");
    dialogs_.SaveAnswer = "C:\\work\\one.smp";
    Menu(IDM_SAVEAS);
    EXPECT_EQ(form_->FileName(), "C:\\work\\one.smp");
    EXPECT_EQ(Text(window_), "Stepper - C:\\work\\one.smp");
    ASSERT_EQ(files_.Files.count("C:\\work\\one.smp"), 1u);
    EXPECT_EQ(files_.Files["C:\\work\\one.smp"].rfind("Port = 0\r\n[Motor_program_1]\r\n", 0), 0u);

    Menu(IDM_NEWPROJECT);
    EXPECT_EQ(form_->FileName(), "");
    EXPECT_EQ(Text(window_), "Stepper");
    EXPECT_EQ(Rows("ListView1"), 0);

    dialogs_.OpenAnswer = "C:\\work\\one.smp";
    Menu(IDM_OPENPROJECT);
    EXPECT_EQ(Text(window_), "Stepper - C:\\work\\one.smp");
    ASSERT_EQ(Rows("ListView1"), 1);
    EXPECT_EQ(ItemText(Control("ListView1"), 0, 1), "400");

    dialogs_.OpenAnswer = "C:\\work\\absent.smp";
    Menu(IDM_OPENPROJECT);
    EXPECT_EQ(form_->FileName(), "");
    EXPECT_EQ(Text(window_), "Stepper");
    EXPECT_EQ(Rows("ListView1"), 1);  // nothing changed
    EXPECT_TRUE(dialogs_.Errors.empty());
}

TEST_F(MainFormTest, FileErrorsShowTheErrorBox) {
    files_.Unwritable.insert("C:\\locked.smp");
    dialogs_.SaveAnswer = "C:\\locked.smp";
    Menu(IDM_SAVE);
    EXPECT_EQ(Text(window_), "Stepper - C:\\locked.smp");  // the new name all the same
    files_.Files["C:\\unreadable.smp"] = "Port = 378\r\n";
    files_.Unreadable.insert("C:\\unreadable.smp");
    dialogs_.OpenAnswer = "C:\\unreadable.smp";
    Menu(IDM_OPENPROJECT);
    EXPECT_THAT(dialogs_.Errors, ElementsAre("Cannot create file C:\\locked.smp.",
                                             "Cannot open file C:\\unreadable.smp."));
    EXPECT_EQ(form_->PortSetting(), 0);  // nothing of it was loaded
}

// A file of many "Port" lines: the output is opened once, for the last one, so the missing port
// library is reported in one box per load.
TEST_F(MainFormTest, OpeningAProjectOfManyPortLinesShowsOneBox) {
    files_.Files["C:\\ports.smp"] =
        "Port = 0\r\nPort = 378\r\nPort = 0\r\nPort = 378\r\n"
        "Port = 0\r\nPort = 278\r\n";
    dialogs_.OpenAnswer = "C:\\ports.smp";
    Menu(IDM_OPENPROJECT);
    EXPECT_EQ(form_->PortSetting(), 632);
    EXPECT_EQ(Text(Control("Label21")), "LPT2 (0278)");
    EXPECT_EQ(desktop_.Messages().size(), 1u);
    Menu(IDM_OPENPROJECT);  // a second load: its own box
    EXPECT_EQ(desktop_.Messages().size(), 2u);
}

// ---------------------------------------------------------------------------------------------
// Output opening, device change, closing

TEST_F(MainFormTest, ParallelPortWithoutInpout32StillSteps) {
    form_->SetPortSetting(888);
    form_->OpenOutputPort();
    Pump();
    EXPECT_EQ(Text(Control("Label21")), "LPT1 (0378)");
    ASSERT_EQ(desktop_.Messages().size(), 1u);
    EXPECT_EQ(desktop_.Messages()[0].caption, "Error");
    Steps(3, motion::kDirRight, 2);
    EXPECT_EQ(form_->Icon(3).Angle(), 348.0f);
    EXPECT_EQ(form_->JogTally(3), 2);

    // A device change with a parallel port selected runs the output selection again; the load
    // is tried again, but the box was shown for this selection already.
    EXPECT_EQ(SendMessageA(window_, WM_DEVICECHANGE, 0x0007 /* DBT_DEVNODES_CHANGED */, 0), TRUE);
    Pump();
    EXPECT_EQ(Text(Control("Label21")), "LPT1 (0378)");
    EXPECT_EQ(desktop_.Messages().size(), 1u);

    form_->SetPortSetting(0);
    SendMessageA(window_, WM_DEVICECHANGE, 0x0007, 0);
    Pump();
    EXPECT_EQ(Text(Control("Label21")), "USB (no Device)");
}

TEST_F(MainFormTest, ClosingWhileFourMotorsRunEndsCleanly) {
    for (int m = 0; m < 4; ++m) {
        form_->AppendStep(m, motion::TsmProgramStep{1000000, 500.0, 0.0, motion::kDirRight});
        form_->Motor(m).StartProgram();
    }
    const DWORD start = GetTickCount();
    while (GetTickCount() - start < 300)
        Pump();
    for (int m = 0; m < 4; ++m) {
        EXPECT_TRUE(form_->Motor(m).Running());
        EXPECT_GT(form_->Motor(m).Position(), 0);
    }
    SendMessageA(window_, WM_CLOSE, 0, 0);
    EXPECT_FALSE(IsWindow(window_));
    Pump();  // notifications still queued for the closed window go nowhere
}

TEST_F(MainFormTest, FileExitClosesTheWindow) {
    Menu(IDM_EXIT);
    EXPECT_FALSE(IsWindow(window_));
}

// ---------------------------------------------------------------------------------------------
// The window's keyboard, the lists' selection and the message boxes, through the program's own
// message loop: keys go through IsDialogMessageA, list reports come from the list itself as a
// click or an arrow key makes it report. The window is shown, so that it has the focus.

class KeyboardTest : public MainFormTest {
  protected:
    void SetUp() override {
        MainFormTest::SetUp();
        ShowWindow(window_, SW_SHOW);
        Pump();
    }
    void Key(UINT key, bool shift = false) { testing::PressKey(window_, key, shift); }
    void MouseClick(const char* name) { testing::MouseClick(window_, Control(name)); }
    // A click on a row of a program list, where the mouse would press it.
    void ClickRow(const char* list, int row) {
        RECT item{};
        item.left = LVIR_BOUNDS;
        SendMessageA(Control(list), LVM_GETITEMRECT, static_cast<WPARAM>(row),
                     reinterpret_cast<LPARAM>(&item));
        testing::MouseClick(window_, Control(list), {item.left + 20, (item.top + item.bottom) / 2});
    }
    void AddRows(int motor, const char* steps, std::initializer_list<const char*> rows) {
        for (const char* r : rows) {
            SetText(steps, r);
            Click(kAddButtons[motor]);
        }
    }
    static constexpr const char* kAddButtons[] = {"Button3", "Button14", "Button23", "Button32"};
};

TEST_F(KeyboardTest, EscAndEnterInTheStepsFieldDoWhatTheyDoInEveryOtherField) {
    for (const char* field : {"Edit1", "Edit2", "Edit7"}) {
        for (UINT key : {VK_ESCAPE, VK_RETURN}) {
            SCOPED_TRACE(std::string(field) + (key == VK_ESCAPE ? " Esc" : " Enter"));
            HWND edit = Control(field);
            SetText(field, "12");
            SetFocus(edit);
            Key(key);
            // The panel and its controls are all still there: the field, its motor's symbol.
            EXPECT_TRUE(IsWindow(GetParent(edit)));
            EXPECT_EQ(form_->Control(field), edit);
            EXPECT_TRUE(IsWindow(edit));
            EXPECT_EQ(GetFocus(), edit);
            EXPECT_EQ(Text(edit), "12");
            EXPECT_EQ(Rows("ListView1") + Rows("ListView3"), 0);
        }
    }
    // Such keys that reach the field itself, by a loop without dialog keys, change nothing.
    for (UINT key : {VK_ESCAPE, VK_RETURN, VK_TAB})
        PostMessageA(Control("Edit4"), WM_KEYDOWN, key, 1);
    Pump();
    EXPECT_TRUE(IsWindow(Control("ListView2")));
    EXPECT_EQ(Text(Control("Edit4")), "0");
    // The symbol the motor writes to is alive: the steps turn it.
    Steps(1, motion::kDirRight, 1);
    EXPECT_EQ(form_->Icon(1).Angle(), 354.0f);
}

TEST_F(KeyboardTest, TabAndShiftTabMoveOnFromEveryEntryField) {
    struct Case {
        const char* From;
        bool Shift;
        const char* To;
    };
    const Case cases[] = {
        {"Edit1", false, "Edit2"},   {"Edit1", true, "ListView1"}, {"Edit2", false, "Button12"},
        {"Edit2", true, "Edit1"},    {"Edit10", false, "Edit11"},  {"Edit10", true, "ListView4"},
        {"Edit3", false, "Button8"}, {"Edit4", true, "ListView2"},
    };
    for (const Case& c : cases) {
        SetFocus(Control(c.From));
        Key(VK_TAB, c.Shift);
        EXPECT_EQ(GetFocus(), Control(c.To)) << c.From << (c.Shift ? " Shift+Tab" : " Tab");
    }
}

TEST_F(KeyboardTest, OneSelectionChangeRunsOnePass) {
    AddRows(1, "Edit4", {"1", "2", "3"});
    HWND list = Control("ListView2");
    // What the window sets on the list, and what the list reports back.
    testing::MessageCounter sets(list, LVM_SETITEMSTATE);
    testing::MessageCounter reports(GetParent(list), WM_NOTIFY, LVN_ITEMCHANGED);
    struct Action {
        const char* What;
        std::function<void()> Run;
        int Selected;
        const char* Steps;  // what the Steps field shows afterwards
    };
    const Action actions[] = {
        {"click on row 1", [&] { ClickRow("ListView2", 0); }, 0, "1"},
        {"arrow down", [&] { Key(VK_DOWN); }, 1, "2"},
        {"arrow down", [&] { Key(VK_DOWN); }, 2, "3"},
        {"arrow up", [&] { Key(VK_UP); }, 1, "2"},
        {"click on row 3", [&] { ClickRow("ListView2", 2); }, 2, "3"},
        {"Delete", [&] { Click("Button19"); }, -1, "3"},
    };
    for (const Action& a : actions) {
        SCOPED_TRACE(a.What);
        sets.Reset();
        reports.Reset();
        a.Run();
        // One answer to the operator's change, and no echo that starts another.
        EXPECT_LE(sets.Count(), 2);
        EXPECT_LE(reports.Count(), 8);
        EXPECT_EQ(Selected("ListView2"), a.Selected);
        EXPECT_EQ(form_->Editor(1).Selection(), a.Selected);
        EXPECT_EQ(Text(Control("Edit4")), a.Steps);
    }
    EXPECT_EQ(Rows("ListView2"), 2);
}

TEST_F(KeyboardTest, InsertLeavesTheFieldsAsTyped) {
    AddRows(0, "Edit1", {"1", "2"});
    ClickRow("ListView1", 0);
    ASSERT_EQ(Text(Control("Edit1")), "1");
    SetText("Edit1", "7");
    SetText("Edit2", "33");
    for (int i = 0; i < 2; ++i) {
        Click("Button4");
        EXPECT_EQ(Text(Control("Edit1")), "7");
        EXPECT_EQ(Text(Control("Edit2")), "33");
    }
    EXPECT_EQ(Selected("ListView1"), 2);
    std::vector<motion::TsmProgramStep> steps;
    form_->GetProgram(0, steps);
    ASSERT_EQ(steps.size(), 4u);
    EXPECT_EQ(steps[0].Steps, 7);
    EXPECT_EQ(steps[1].Steps, 7);
    EXPECT_EQ(steps[1].Frequency, 33.0);
    EXPECT_EQ(steps[2].Steps, 1);
}

TEST_F(KeyboardTest, PositionDisplayClickLeavesTheFocusWhereItWas) {
    Steps(0, motion::kDirRight, 3);
    SetFocus(Control("Button6"));
    MouseClick("SpeedButton1");
    EXPECT_EQ(Text(Control("SpeedButton1")), "0");  // the click still zeroes it
    EXPECT_EQ(form_->Motor(0).Position(), 0);
    ASSERT_EQ(GetFocus(), Control("Button6"));
    // The space bar steps the motor from the jog button that kept the focus.
    Key(VK_SPACE);
    EXPECT_EQ(form_->Motor(0).Position(), 1);
    // Arrow keys among the panel's controls do not stop on a display either.
    for (UINT key : {VK_RIGHT, VK_LEFT, VK_DOWN, VK_UP}) {
        SetFocus(Control("Button6"));
        Key(key);
        EXPECT_NE(GetFocus(), Control("SpeedButton1"));
    }
}

TEST_F(KeyboardTest, SpaceStepsHeldByTheRateLimitNeverHoldTheWindow) {
    // 2 Hz: the second press's step may come 0.5 s after the first. The window answers at
    // once, and the motor's timer takes the step when the limit lets it through.
    form_->SetMaxFrequency(0, 2.0);
    SetFocus(Control("Button6"));
    const DWORD start = GetTickCount();
    Key(VK_SPACE);
    Key(VK_SPACE);
    EXPECT_LT(GetTickCount() - start, 300u);
    EXPECT_EQ(form_->Motor(0).Position(), 1);
    for (DWORD waited = GetTickCount(); form_->Motor(0).Position() < 2;) {
        ASSERT_LT(GetTickCount() - waited, 5000u);
        Pump();
        Sleep(10);
    }
    EXPECT_GE(GetTickCount() - start, 450u);
}

TEST_F(MainFormTest, PositionClickKeepsAnotherMotorsPendingJogView) {
    // Motor 2 steps left; its view is posted but not yet handled when motor 1's display is
    // clicked.
    form_->Motor(1).Step(motion::kDirLeft);
    testing::SendClick(Control("SpeedButton1"));
    Pump();
    EXPECT_EQ(Text(Control("Edit4")), "1");
    EXPECT_EQ(Text(Control("Button20")), "Left");
}

// ---------------------------------------------------------------------------------------------
// Message boxes: owned by the main window; the port library's box once per selection; a window
// closed while a box is up.

TEST_F(MainFormTest, MessageBoxesAreOwnedByTheMainWindow) {
    Menu(IDM_ABOUT);
    form_->SetPortSetting(888);
    form_->OpenOutputPort();
    const auto messages = desktop_.Messages();
    ASSERT_EQ(messages.size(), 2u);
    for (const auto& m : messages)
        EXPECT_EQ(m.owner, static_cast<void*>(window_)) << m.caption;
}

TEST_F(MainFormTest, ClosingTheWindowUnderTheBoxOfADeviceChangeEndsCleanly) {
    form_->SetPortSetting(888);
    form_->OpenOutputPort();
    ASSERT_EQ(desktop_.Messages().size(), 1u);
    // Another port selected: the box of the next opening (here a device change) is up when the
    // window is closed; the opening goes on after it.
    form_->SetPortSetting(632);
    desktop_.WhileShown([this] { SendMessageA(window_, WM_CLOSE, 0, 0); });
    EXPECT_EQ(SendMessageA(window_, WM_DEVICECHANGE, 0x0007 /* DBT_DEVNODES_CHANGED */, 0), TRUE);
    EXPECT_EQ(desktop_.Messages().size(), 2u);
    EXPECT_FALSE(IsWindow(window_));
    Pump();
}

class StartupParallelPortTest : public MainFormTest {
  protected:
    StartupParallelPortTest() { StartupProject = "Port = 378\r\n"; }
};

TEST_F(StartupParallelPortTest, PortLibraryBoxShowsOncePerSelection) {
    // The project's "Port" line and the start-up's own opening are one selection.
    ASSERT_EQ(desktop_.Messages().size(), 1u);
    EXPECT_EQ(desktop_.Messages()[0].caption, "Error");
    // Device changes (a USB stick plugged in) reopen the port without a box, also while one is
    // up (the box's message loop handles the broadcast).
    for (int i = 0; i < 3; ++i)
        SendMessageA(window_, WM_DEVICECHANGE, 0x0007, 0);
    EXPECT_EQ(desktop_.Messages().size(), 1u);
    EXPECT_EQ(Text(Control("Label21")), "LPT1 (0378)");
    // A new selection of the port shows it again, once, never stacked.
    desktop_.WhileShown([this] { SendMessageA(window_, WM_DEVICECHANGE, 0x0007, 0); });
    form_->SetPortSetting(888);
    form_->OpenOutputPort();
    EXPECT_EQ(desktop_.Messages().size(), 2u);
}

}  // namespace
}  // namespace ui

namespace ui {
namespace {

// The Help menu opens the documents from the program directory, with the designed fallbacks,
// and About shows its box; Options > Configuration opens a fresh dialog (closed with Escape,
// nothing taken).
TEST_F(MainFormTest, HelpMenuOpensDocumentsFromTheProgramDirectory) {
    desktop_.MakeOpenable("help.html");
    Menu(IDM_HELPENGLISH);
    Menu(IDM_README);  // readme.html cannot be opened: readme.txt is tried once
    const auto documents = desktop_.Documents();
    ASSERT_EQ(documents.size(), 3u);
    EXPECT_EQ(documents[0].file, "help.html");
    EXPECT_EQ(documents[1].file, "readme.html");
    EXPECT_EQ(documents[2].file, "readme.txt");
    for (const auto& d : documents)
        EXPECT_EQ(d.directory, form_->ProgramDirectory());

    Menu(IDM_ABOUT);
    ASSERT_FALSE(desktop_.Messages().empty());
    EXPECT_EQ(desktop_.Messages().back().caption, "About");
}

void CALLBACK CancelConfiguration(HWND, UINT, UINT_PTR id, DWORD) {
    KillTimer(nullptr, id);
    if (HWND dialog = FindWindowA(nullptr, "Configuration")) {
        PostMessageA(dialog, WM_COMMAND, IDCANCEL, 0);
    }
}

TEST_F(MainFormTest, ConfigurationCancelledTakesNothingAndDoesNotReopen) {
    const int16_t port = form_->PortSetting();
    const double maxFrequency = form_->MaxFrequency(0);
    // The modal dialog is cancelled from a timer while it runs.
    SetTimer(nullptr, 0, 300, CancelConfiguration);
    Menu(IDM_CONFIGURATION);
    EXPECT_EQ(FindWindowA(nullptr, "Configuration"), nullptr);
    EXPECT_EQ(form_->PortSetting(), port);
    EXPECT_EQ(form_->MaxFrequency(0), maxFrequency);
}

}  // namespace
}  // namespace ui

// ---------------------------------------------------------------------------------------------
// Run control: host-timed runs on the parallel port (without inpout32 the steps still run),
// "Run in order" with its "Loop", Start and Stop, jogging and the diagnostic buttons.

namespace ui {
namespace {

class RunControlTest : public MainFormTest {
  protected:
    void SetUp() override {
        MainFormTest::SetUp();
        form_->SetPortSetting(888);
        form_->OpenOutputPort();  // inpout32 missing: its error box goes to the virtual desktop
        Pump();
    }
    void TearDown() override {
        if (IsWindow(window_)) Click("Button10");
        MainFormTest::TearDown();
    }

    void Check(const char* name, bool checked) {
        SendMessageA(Control(name), BM_SETCHECK, checked ? BST_CHECKED : BST_UNCHECKED, 0);
        Click(name);
    }
    bool Checked(const char* name) {
        return SendMessageA(Control(name), BM_GETCHECK, 0, 0) == BST_CHECKED;
    }
    void Program(int motor, int32_t steps, double frequency) {
        testing::AppendProgramStep(*form_, motor, steps, frequency);
    }
    bool AnyRunning() { return testing::AnyMotorRunning(*form_); }
    // The motors in the order they were seen running, each run once per entry, until no motor
    // has run for a while, `limit` runs were seen or the time is up. Also checks that no two
    // motors ever ran at once.
    std::vector<int> WatchChain(size_t limit, DWORD timeoutMs) {
        std::vector<int> order;
        const DWORD start = GetTickCount();
        DWORD idleSince = GetTickCount();
        while (GetTickCount() - start < timeoutMs && order.size() < limit) {
            Pump();
            int running = -1, count = 0;
            for (int m = 0; m < 4; ++m)
                if (form_->Motor(m).Running()) {
                    running = m;
                    ++count;
                }
            EXPECT_LE(count, 1);
            if (running >= 0) {
                idleSince = GetTickCount();
                if (order.empty() || order.back() != running) order.push_back(running);
            } else if (GetTickCount() - idleSince > 300) {
                break;
            }
        }
        return order;
    }
};

TEST_F(RunControlTest, RunInOrderRunsOneToFourThenEnds) {
    for (int m = 0; m < 4; ++m)
        Program(m, 10, 100.0);  // 100 ms each: long enough that a busy pump sees every motor
    Check("CheckBox5", true);
    EXPECT_TRUE(IsWindowEnabled(Control("CheckBox6")));
    Click("Button9");
    EXPECT_FALSE(IsWindowEnabled(Control("CheckBox5")));
    EXPECT_THAT(WatchChain(8, 5000), ElementsAre(0, 1, 2, 3));
    for (int m = 0; m < 4; ++m)
        EXPECT_EQ(form_->Motor(m).Position(), 10) << m;
    EXPECT_TRUE(IsWindowEnabled(Control("CheckBox5")));  // no motor runs any more
}

TEST_F(RunControlTest, RunInOrderWithLoopGoesOnWithMotorOne) {
    for (int m = 0; m < 4; ++m)
        Program(m, 6, 50.0);  // 120 ms each: long enough that a busy pump sees every motor
    Check("CheckBox5", true);
    Check("CheckBox6", true);
    Click("Button9");
    EXPECT_THAT(WatchChain(6, 5000), ElementsAre(0, 1, 2, 3, 0, 1));
    Click("Button10");
    EXPECT_FALSE(AnyRunning());
    EXPECT_TRUE(IsWindowEnabled(Control("CheckBox5")));
    // The stop ends the chain: a finish still queued starts nothing.
    EXPECT_TRUE(WatchChain(4, 500).empty());
}

TEST_F(RunControlTest, StartOnMotorThreeRunsThreeAndFour) {
    for (int m = 0; m < 4; ++m)
        Program(m, 10, 200.0);
    Check("CheckBox5", true);
    Click("Button22");  // motor 3's "Start"
    EXPECT_THAT(WatchChain(8, 5000), ElementsAre(2, 3));
    EXPECT_EQ(form_->Motor(0).Position(), 0);
    EXPECT_EQ(form_->Motor(1).Position(), 0);
}

TEST_F(RunControlTest, WithoutRunInOrderTheSynchronousStartRunsAllFour) {
    for (int m = 0; m < 4; ++m)
        Program(m, 1000000, 100.0);
    Click("Button9");
    for (int m = 0; m < 4; ++m)
        EXPECT_TRUE(form_->Motor(m).Running()) << m;
    Click("Button10");
    EXPECT_FALSE(AnyRunning());
}

TEST_F(RunControlTest, LoopChainOverEmptyProgramsEnds) {
    Check("CheckBox5", true);
    Check("CheckBox6", true);
    Click("Button9");  // motor 1's empty program finishes at once, and so would every other
    for (int i = 0; i < 20; ++i)
        Pump();
    MSG message;
    EXPECT_FALSE(PeekMessageA(&message, window_, TMainForm::kMsgProgramFinished,
                              TMainForm::kMsgProgramFinished, PM_NOREMOVE));
    EXPECT_FALSE(AnyRunning());
    EXPECT_TRUE(IsWindowEnabled(Control("CheckBox5")));
}

TEST_F(RunControlTest, StartWithAnEmptyProgramDoesNothing) {
    Click("Button2");
    EXPECT_FALSE(form_->Motor(0).Running());
    EXPECT_TRUE(IsWindowEnabled(Control("CheckBox5")));
}

TEST_F(RunControlTest, StopAndStartAgainBeginsWithTheFirstStep) {
    // 10 Hz: the restarted run's second step comes 100 ms after its first, long after the check
    // of the first (at 1000 Hz a busy host saw both).
    form_->AppendStep(0, motion::TsmProgramStep{2, 10.0, 0.0, motion::kDirRight});
    form_->AppendStep(0, motion::TsmProgramStep{1000000, 100.0, 0.0, motion::kDirLeft});
    form_->RenumberProgramList(0);
    Click("Button2");
    EXPECT_FALSE(IsWindowEnabled(Control("CheckBox5")));
    const DWORD start = GetTickCount();
    while (form_->Motor(0).StepIndex() != 1 && GetTickCount() - start < 5000)
        Pump();
    ASSERT_EQ(form_->Motor(0).StepIndex(), 1);
    Click("Button1");
    EXPECT_FALSE(form_->Motor(0).Running());
    EXPECT_EQ(form_->Motor(0).StepIndex(), 0);
    EXPECT_TRUE(IsWindowEnabled(Control("CheckBox5")));
    // The first step of the new run is taken at once: to the right, as the first record says.
    const int32_t before = form_->Motor(0).Position();
    HWND startButton = Control("Button2");
    testing::SendClick(startButton);
    EXPECT_EQ(form_->Motor(0).Position(), before + 1);
    Click("Button1");
}

TEST_F(RunControlTest, UncheckingRunInOrderKeepsItsLoopCheckMark) {
    EXPECT_FALSE(IsWindowEnabled(Control("CheckBox6")));
    Check("CheckBox5", true);
    Check("CheckBox6", true);
    Check("CheckBox5", false);
    EXPECT_FALSE(IsWindowEnabled(Control("CheckBox6")));
    EXPECT_TRUE(Checked("CheckBox6"));
    Check("CheckBox5", true);
    EXPECT_TRUE(IsWindowEnabled(Control("CheckBox6")));
    EXPECT_TRUE(Checked("CheckBox6"));
}

TEST_F(RunControlTest, PanelLoopSetsTheProgramsLooping) {
    Check("CheckBox3", true);
    EXPECT_TRUE(form_->Looping(2));
    Check("CheckBox3", false);
    EXPECT_FALSE(form_->Looping(2));
}

TEST_F(RunControlTest, JogPressStepsAtOnceAndReleaseStops) {
    // Any mouse button: one step at once, then one every 1 / ControlFrequency seconds.
    const struct {
        UINT down, up;
    } kButtons[] = {{WM_LBUTTONDOWN, WM_LBUTTONUP}, {WM_RBUTTONDOWN, WM_RBUTTONUP}};
    for (const auto& b : kButtons) {
        // 10 Hz: the jog timer's first step is 100 ms away, so a busy host cannot slip it in
        // before the check of the step taken at once.
        form_->SetControlFrequency(1, 10.0);
        const int32_t before = form_->JogTally(1);
        HWND right = Control("Button17");  // motor 2's ">>"
        SendMessageA(right, b.down, 0, MAKELPARAM(5, 5));
        EXPECT_EQ(form_->JogTally(1), before + 1);
        EXPECT_TRUE(form_->Motor(1).Jogging());
        const DWORD start = GetTickCount();
        while (GetTickCount() - start < 600)
            Pump();
        SendMessageA(right, b.up, 0, MAKELPARAM(5, 5));
        EXPECT_FALSE(form_->Motor(1).Jogging());
        const int32_t after = form_->JogTally(1);
        EXPECT_GT(after, before + 3);
        Pump();
        Sleep(100);
        Pump();
        EXPECT_EQ(form_->JogTally(1), after);  // no step after the release
    }
}

TEST_F(RunControlTest, JogReleaseEndsARunningProgram) {
    Program(0, 1000000, 100.0);
    Click("Button2");
    ASSERT_TRUE(form_->Motor(0).Running());
    HWND left = Control("Button7");
    SendMessageA(left, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(5, 5));
    SendMessageA(left, WM_LBUTTONUP, 0, MAKELPARAM(5, 5));
    EXPECT_FALSE(form_->Motor(0).Running());
    EXPECT_FALSE(form_->Motor(0).Jogging());
}

TEST_F(RunControlTest, SpaceOnAJogButtonStepsOncePerKeyDown) {
    HWND left = Control("Button7");
    const LPARAM repeat = 1 | (1 << 30);  // auto-repeat: the key was down before
    SendMessageA(left, WM_KEYDOWN, VK_SPACE, 1);
    SendMessageA(left, WM_KEYDOWN, VK_SPACE, repeat);
    SendMessageA(left, WM_KEYDOWN, VK_SPACE, repeat);
    SendMessageA(left, WM_KEYDOWN, 'A', 1);  // other keys do nothing
    EXPECT_EQ(form_->JogTally(0), -3);
    EXPECT_FALSE(form_->Motor(0).Jogging());
    SendMessageA(left, WM_KEYUP, VK_SPACE, static_cast<LPARAM>(0xC0000001u));
    Pump();
    EXPECT_EQ(form_->JogTally(0), -3);  // key release does nothing
}

TEST_F(RunControlTest, DiagnosticButtonsLeaveAHostTimedRunAlone) {
    // Commands to the module: without it nothing is sent and nothing on the host changes.
    Program(3, 1000000, 100.0);
    Click("Button31");
    for (const char* name : {"Button41", "Button42", "Button43", "Button44"})
        Click(name);
    EXPECT_TRUE(form_->Motor(3).Running());
    EXPECT_TRUE(IsWindowEnabled(Control("CheckBox5")) == FALSE);
}

TEST_F(RunControlTest, ResetWithoutPortOrModuleShowsXAndTogglesBack) {
    Steps(1, motion::kDirRight, 3);
    Click("Button45");  // motor 2's "Reset"
    EXPECT_EQ(Text(Control("Button45")), "Cancel");
    for (const char* display : {"SpeedButton1", "SpeedButton2", "SpeedButton3", "SpeedButton4"})
        EXPECT_EQ(Text(Control(display)), "X") << display;
    EXPECT_EQ(form_->Motor(1).Position(), 0);
    EXPECT_EQ(form_->Icon(1).Angle(), 0.0f);
    EXPECT_TRUE(IsWindowEnabled(Control("CheckBox5")));
    Click("Button45");  // the second click ends the reset state and restores the caption
    EXPECT_EQ(Text(Control("Button45")), "Reset");
    Click("Button45");  // and the next starts one again
    EXPECT_EQ(Text(Control("Button45")), "Cancel");
}

// The motion preview follows a host-timed "Run in order" chain: the running motor's time left and
// the chain's (the running motor's and motor 2's whole pass) count down, and go with the run.
TEST_F(RunControlTest, MotionPreviewCountsDownTheTimeLeftOfARunningChain) {
    Program(0, 40, 20.0);  // 2 s each
    Program(1, 40, 20.0);
    Check("CheckBox5", true);
    Menu(IDM_MOTIONPREVIEW);
    HWND preview = FindWindowA(TMotionPreviewWindow::kClassName, "Motion preview");
    ASSERT_NE(preview, nullptr);
    // The seconds of "x.y s left" in a label; -1 when it has none.
    const auto left = [&](int id) {
        const std::string text = Text(GetDlgItem(preview, id));
        const size_t end = text.find(" s left");
        if (end == std::string::npos) return -1.0;
        const size_t begin = text.find_last_not_of("0123456789.", end - 1) + 1;
        return std::stod(text.substr(begin, end - begin));
    };
    const auto pumpFor = [](DWORD ms) {
        const DWORD start = GetTickCount();
        while (GetTickCount() - start < ms)
            Pump();
    };
    EXPECT_EQ(left(TMotionPreviewWindow::kMotorLabelId), -1.0);
    Click("Button9");
    pumpFor(450);
    const double first = left(TMotionPreviewWindow::kMotorLabelId);
    const double chain = left(TMotionPreviewWindow::kChainLabelId);
    EXPECT_GT(first, 0.5);
    EXPECT_LE(first, 2.0);
    EXPECT_NEAR(chain, first + 2.0, 0.21);  // both read from one snapshot, each to a tenth
    EXPECT_EQ(left(TMotionPreviewWindow::kMotorLabelId + 1), -1.0);  // still to come
    pumpFor(600);
    const double later = left(TMotionPreviewWindow::kMotorLabelId);
    EXPECT_GE(later, 0.0);
    EXPECT_LT(later, first);
    EXPECT_LT(left(TMotionPreviewWindow::kChainLabelId), chain);

    Click("Button10");
    pumpFor(450);
    for (int id : {TMotionPreviewWindow::kMotorLabelId, TMotionPreviewWindow::kMotorLabelId + 1,
                   TMotionPreviewWindow::kChainLabelId})
        EXPECT_EQ(left(id), -1.0) << Text(GetDlgItem(preview, id));
    DestroyWindow(preview);
    Pump();
}

}  // namespace
}  // namespace ui
