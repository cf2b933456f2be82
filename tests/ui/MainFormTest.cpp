// The real main window, created in the test process on a virtual display and driven through its
// messages: its caption and client area, the layout against the design tables, the menu, the
// motion preview, tab order and focus, the message boxes' owner, the Help menu and the
// configuration dialog, and closing (also while motors run).
#include <windows.h>
// After <windows.h>, which they need.
#include <commctrl.h>
#include <wincodec.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <functional>
#include <memory>
#include <new>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "MainFormFixture.h"
#include "ui/MotionPreviewWindow.h"
#include "ui/resource.h"

namespace ui {
namespace {

using testing::MainFormTest;
using testing::Text;

using ::testing::ElementsAre;

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
        if (HIWORD(reinterpret_cast<ULONG_PTR>(name)) != 0) {
            // With the common controls' manifest the class comes versioned:
            // "6.0.2600.2982!Static".
            const char* bang = std::strrchr(name, '!');
            if (lstrcmpiA(bang != nullptr ? bang + 1 : name, "STATIC") == 0) return 1;
        }
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

TEST_F(MainFormTest, MessageBoxesAreOwnedByTheMainWindow) {
    Menu(IDM_ABOUT);
    form_->SetPortSetting(888);
    form_->OpenOutputPort();
    const auto messages = desktop_.Messages();
    ASSERT_EQ(messages.size(), 2u);
    for (const auto& m : messages)
        EXPECT_EQ(m.owner, static_cast<void*>(window_)) << m.caption;
}

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
