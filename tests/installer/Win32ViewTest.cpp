// The Win32 window under wine (a display is needed for a normal window): layout to the pixel,
// fonts, focus and Tab order, the log, the progress bar's range rules, the boxes, and the logic
// driven through the window.
#include "support/PlatformSkip.h"
#if QVL_TEST_WINDOWS
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "WinBoxWatcher.h"
#include <commctrl.h>

#include "Sandbox.h"
#include "framework/Application.h"
#include "framework/Exception.h"
#include "installer/ErrorBox.h"
#include "installer/MainWindow.h"
#include "installer/Qvlsetupmain.h"
#include "installer/SetupProgram.h"
#include "installer/windows/MainWindowView.h"

using namespace qvl;
using qvl::test::Sandbox;
using qvl::test::WinBoxWatcher;

namespace {

using Lines = std::vector<std::string>;

struct Rect {
    LONG left, top, width, height;
    bool operator==(const Rect&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Rect& r) {
    return out << "(" << r.left << ", " << r.top << ", " << r.width << " x " << r.height << ")";
}

// A control's place in its parent's client area.
Rect PlaceOf(HWND control) {
    RECT r;
    GetWindowRect(control, &r);
    MapWindowPoints(HWND_DESKTOP, GetParent(control), reinterpret_cast<POINT*>(&r), 2);
    return {r.left, r.top, r.right - r.left, r.bottom - r.top};
}

LOGFONTA FontOf(HWND control) {
    LOGFONTA font{};
    const auto handle = reinterpret_cast<HFONT>(SendMessageA(control, WM_GETFONT, 0, 0));
    EXPECT_NE(handle, nullptr);
    if (handle) GetObjectA(handle, sizeof font, &font);
    return font;
}

void ExpectFont(HWND control, const char* face, int height, bool bold, BYTE charset) {
    const LOGFONTA font = FontOf(control);
    EXPECT_STREQ(font.lfFaceName, face);
    EXPECT_EQ(font.lfHeight, height) << face;
    EXPECT_EQ(font.lfWeight >= FW_BOLD, bold) << face;
    EXPECT_EQ(font.lfCharSet, charset) << face;
}

std::string TextOf(HWND hwnd) {
    std::string text(static_cast<size_t>(GetWindowTextLengthA(hwnd)) + 1, '\0');
    text.resize(static_cast<size_t>(GetWindowTextA(hwnd, text.data(), static_cast<int>(text.size()))));
    return text;
}

// Lets the window handle what is queued for it (sizes, timers, paints).
void Pump() {
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
}

}  // namespace

TEST(Win32View, ControlsSitWhereTheLayoutPutsThem) {
    MainWindowView v;
    RECT client;
    GetClientRect(v.Handle(), &client);
    EXPECT_EQ(client.right, 463);
    EXPECT_EQ(client.bottom, 380);
    // The outer size is what the system adds to that client area for this frame.
    RECT outer{0, 0, 463, 380};
    AdjustWindowRectEx(&outer, static_cast<DWORD>(GetWindowLongPtrA(v.Handle(), GWL_STYLE)), FALSE,
                       static_cast<DWORD>(GetWindowLongPtrA(v.Handle(), GWL_EXSTYLE)));
    RECT frame;
    GetWindowRect(v.Handle(), &frame);
    EXPECT_EQ(frame.right - frame.left, outer.right - outer.left);
    EXPECT_EQ(frame.bottom - frame.top, outer.bottom - outer.top);
    // Centred on the desktop.
    EXPECT_LE(std::abs((frame.left + frame.right) / 2 - GetSystemMetrics(SM_CXSCREEN) / 2), 1);
    EXPECT_LE(std::abs((frame.top + frame.bottom) / 2 - GetSystemMetrics(SM_CYSCREEN) / 2), 1);

    EXPECT_EQ(PlaceOf(v.Panel1), (Rect{0, 0, 463, 181}));
    EXPECT_EQ(PlaceOf(v.Panel2), (Rect{0, 352, 463, 28}));
    EXPECT_EQ(PlaceOf(v.Memo1), (Rect{0, 181, 463, 171}));
    EXPECT_EQ(PlaceOf(v.ProgressBar1->Handle()), (Rect{1, 0, 461, 27}));
    EXPECT_EQ(PlaceOf(v.Label1), (Rect{1, 1, 461, 26}));
    // The labels are at least their design width, wider only where the text needs it.
    for (auto [label, design] : {std::pair{v.Label2, Rect{24, 64, 254, 18}}, std::pair{v.Label3, Rect{24, 144, 174, 18}}}) {
        const Rect place = PlaceOf(label);
        EXPECT_EQ(place.left, design.left);
        EXPECT_EQ(place.top, design.top);
        EXPECT_EQ(place.height, design.height);
        EXPECT_GE(place.width, design.width);
        EXPECT_LE(place.width, design.width + 40);
    }
    EXPECT_EQ(PlaceOf(v.CheckBox1), (Rect{24, 40, 245, 20}));
    EXPECT_EQ(PlaceOf(v.CheckBox2), (Rect{24, 116, 229, 20}));
    EXPECT_EQ(PlaceOf(v.Button1), (Rect{352, 140, 75, 25}));
    EXPECT_EQ(GetParent(v.ProgressBar1->Handle()), v.Panel2);
    for (HWND child : {v.Label1, v.Label2, v.Label3, v.CheckBox1, v.CheckBox2, v.Button1}) EXPECT_EQ(GetParent(child), v.Panel1);

    EXPECT_EQ(TextOf(v.Handle()), "QVL Installer - Updater");
    EXPECT_EQ(TextOf(v.Label1), "Please make your selections and click 'next'");
    EXPECT_EQ(TextOf(v.Label2), "This will install / update the wallet program");
    EXPECT_EQ(TextOf(v.Label3), "This will install the blockchain");
    EXPECT_EQ(TextOf(v.CheckBox1), "program");
    EXPECT_EQ(TextOf(v.CheckBox2), "blockchain");
    EXPECT_EQ(TextOf(v.Button1), "Next");
    EXPECT_EQ(TextOf(v.Memo1), "waiting...");
    EXPECT_FALSE(v.IsProgramTicked());
    EXPECT_FALSE(v.IsBlockchainTicked());
    // "Next" is not the window's default button; the heading is centred both ways.
    EXPECT_EQ(GetWindowLongA(v.Button1, GWL_STYLE) & BS_TYPEMASK, BS_PUSHBUTTON);
    EXPECT_EQ(GetWindowLongA(v.Label1, GWL_STYLE) & (SS_TYPEMASK | SS_CENTERIMAGE), SS_CENTER | SS_CENTERIMAGE);
}

TEST(Win32View, FontsAreTheDesignsFonts) {
    MainWindowView v;
    for (HWND control : {v.Handle(), v.Panel1, v.Panel2, v.Memo1, v.ProgressBar1->Handle()})
        ExpectFont(control, "MS Sans Serif", -11, false, DEFAULT_CHARSET);
    ExpectFont(v.Label1, "Open Sans", -19, false, ANSI_CHARSET);
    ExpectFont(v.Label2, "Open Sans", -13, false, ANSI_CHARSET);
    ExpectFont(v.Label3, "Open Sans", -13, false, ANSI_CHARSET);
    ExpectFont(v.CheckBox1, "Open Sans", -16, false, ANSI_CHARSET);
    ExpectFont(v.CheckBox2, "Open Sans", -16, false, ANSI_CHARSET);
    ExpectFont(v.Button1, "Open Sans", -16, true, ANSI_CHARSET);
}

TEST(Win32View, TabCyclesLogProgramBlockchainNextAndTheLogHasTheFocusFirst) {
    MainWindowView v;
    v.Show();
    Pump();
    EXPECT_EQ(GetFocus(), v.Memo1);
    const HWND order[] = {v.Memo1, v.CheckBox1, v.CheckBox2, v.Button1, v.Memo1};
    for (size_t i = 0; i + 1 < std::size(order); ++i)
        EXPECT_EQ(GetNextDlgTabItem(v.Handle(), order[i], FALSE), order[i + 1]) << i;
    EXPECT_EQ(GetNextDlgTabItem(v.Handle(), v.Memo1, TRUE), v.Button1);
    // Tab in the log moves on instead of typing a tab.
    SetFocus(v.Memo1);
    MSG tab{v.Memo1, WM_KEYDOWN, VK_TAB, 0, 0, {}};
    EXPECT_TRUE(IsDialogMessageA(v.Handle(), &tab));
    EXPECT_EQ(GetFocus(), v.CheckBox1);
    EXPECT_EQ(TextOf(v.Memo1), "waiting...");
}

TEST(Win32View, ResizingChangesOnlyTheLogHeightAndTheWidths) {
    MainWindowView v;
    RECT frame;
    GetWindowRect(v.Handle(), &frame);
    SetWindowPos(v.Handle(), nullptr, 0, 0, frame.right - frame.left + 100, frame.bottom - frame.top + 50,
                 SWP_NOMOVE | SWP_NOZORDER);
    EXPECT_EQ(PlaceOf(v.Panel1), (Rect{0, 0, 563, 181}));
    EXPECT_EQ(PlaceOf(v.Label1), (Rect{1, 1, 561, 26}));
    EXPECT_EQ(PlaceOf(v.Memo1), (Rect{0, 181, 563, 221}));
    EXPECT_EQ(PlaceOf(v.Panel2), (Rect{0, 402, 563, 28}));
    EXPECT_EQ(PlaceOf(v.ProgressBar1->Handle()), (Rect{1, 0, 561, 27}));
    EXPECT_EQ(PlaceOf(v.Button1), (Rect{352, 140, 75, 25}));
}

TEST(Win32View, TheLogIsAMultiLineEditThatScrollsVerticallyAndWraps) {
    MainWindowView v;
    const LONG style = GetWindowLongA(v.Memo1, GWL_STYLE);
    EXPECT_TRUE(style & ES_MULTILINE);
    EXPECT_TRUE(style & WS_VSCROLL);
    EXPECT_FALSE(style & WS_HSCROLL);
    EXPECT_FALSE(style & ES_AUTOHSCROLL);  // long lines wrap
    EXPECT_FALSE(style & ES_READONLY);
    EXPECT_TRUE(GetWindowLongA(v.ProgressBar1->Handle(), GWL_STYLE) & PBS_SMOOTH);
    v.ClearLog();
    v.AppendLog(std::string(300, 'x'));
    v.FlushLog();
    EXPECT_GT(SendMessageA(v.Memo1, EM_GETLINECOUNT, 0, 0), 2);  // one line of text, shown on several
    EXPECT_EQ(v.LogLines(), Lines{std::string(300, 'x')});
}

// A 1 GiB download logs one line per 64 KiB: 16384 lines, far past the control's own limit.
TEST(Win32View, TwentyThousandLinesAreAllKeptAndTheLastIsInView) {
    MainWindowView v;
    v.Show();
    v.ClearLog();
    Lines expected;
    for (int i = 0; i < 20000; ++i) {
        expected.push_back("Max=1073741824  file posistion=" + std::to_string(i * 65536));
        v.AppendLog(expected.back());
        if (i % 1000 == 0) Pump();
    }
    EXPECT_EQ(v.LogLines(), expected);
    EXPECT_EQ(TextOf(v.Memo1).substr(0, expected[0].size() + 2), expected[0] + "\r\n");
    const LRESULT lines = SendMessageA(v.Memo1, EM_GETLINECOUNT, 0, 0);
    const LRESULT first = SendMessageA(v.Memo1, EM_GETFIRSTVISIBLELINE, 0, 0);
    EXPECT_GE(first + 13, lines - 2) << "the last line is scrolled out of view";
}

// Lines come faster than the window paints: they are collected and written into the control at
// most once per pause, and all of them are there when the log is read.
TEST(Win32View, ABurstOfLinesIsWrittenInOneGo) {
    MainWindowView v;
    v.ClearLog();
    v.AppendLog("first");
    EXPECT_EQ(TextOf(v.Memo1), "first\r\n");  // the first line of a burst at once
    for (int i = 0; i < 100; ++i) v.AppendLog("line " + std::to_string(i));
    EXPECT_EQ(TextOf(v.Memo1), "first\r\n");  // the rest with the next paint
    EXPECT_EQ(v.LogLines().size(), 101u);
    EXPECT_EQ(TextOf(v.Memo1).substr(TextOf(v.Memo1).size() - 9), "line 99\r\n");
}

TEST(Win32View, AnAppendedLineAfterTypedTextStartsALineOfItsOwn) {
    MainWindowView v;
    v.ClearLog();
    SetWindowTextA(v.Memo1, "typed");
    v.AppendLog("logged");
    EXPECT_EQ(v.LogLines(), (Lines{"typed", "logged"}));
}

TEST(Win32View, ProgressBarRangeRules) {
    MainWindowView v;
    EXPECT_EQ(v.GetProgressMax(), 100);
    EXPECT_EQ(v.GetProgressPosition(), 0);
    v.SetProgressMax(2000000000);
    v.SetProgressPosition(1999999999);
    EXPECT_EQ(SendMessageA(v.ProgressBar1->Handle(), PBM_GETRANGE, FALSE, 0), 2000000000);
    EXPECT_EQ(v.GetProgressPosition(), 1999999999);
    EXPECT_EQ(test::RangeErrorOf([&] { v.SetProgressMax(-1); }), "TProgressBar property out of range")
        << "a negative maximum was taken";
    EXPECT_EQ(v.GetProgressMax(), 2000000000);
    // A step too small to change the drawn bar is held back from painting, not from the control,
    // and leaves the bar shown.
    v.Show();
    v.SetProgressMax(1 << 30);
    for (int32_t position : {65536, 131072, 131073}) {
        v.SetProgressPosition(position);
        EXPECT_EQ(SendMessageA(v.ProgressBar1->Handle(), PBM_GETPOS, 0, 0), position);
    }
    EXPECT_TRUE(IsWindowVisible(v.ProgressBar1->Handle()));
    v.SetProgressMax(2000000000);
    v.SetProgressMax(10);  // the position is pulled back into the new range
    EXPECT_EQ(v.GetProgressPosition(), 10);
    v.SetProgressMax(0);
    v.SetProgressPosition(5);
    EXPECT_EQ(v.GetProgressMax(), 0);
    EXPECT_EQ(v.GetProgressPosition(), 0);
    v.SetProgressVisible(false);
    EXPECT_FALSE(GetWindowLongA(v.ProgressBar1->Handle(), GWL_STYLE) & WS_VISIBLE);
    EXPECT_TRUE(GetWindowLongA(v.Panel2, GWL_STYLE) & WS_VISIBLE);
    v.SetProgressVisible(true);
    EXPECT_TRUE(GetWindowLongA(v.ProgressBar1->Handle(), GWL_STYLE) & WS_VISIBLE);
}

TEST(Win32View, AMessageBoxWithFlagsZeroHasOneOkNoIconAndTheWindowAsOwner) {
    MainWindowView v;
    v.Show();
    WinBoxWatcher watcher;
    EXPECT_EQ(v.ShowMessageBox("could not download wallet", "Download failure", 0), kIdOk);
    const auto* box = watcher.OnlyOkBox("Download failure", "could not download wallet");
    ASSERT_TRUE(box);
    EXPECT_FALSE(box->hasIcon);
    EXPECT_EQ(box->owner, v.Handle());
    EXPECT_FALSE(box->ownerEnabled);  // modal: the window takes no input while the box is up
    EXPECT_TRUE(IsWindowEnabled(v.Handle()));
}

TEST(Win32View, TheErrorBoxHasTheTitleAStopIconAndOneOk) {
    TSetupProgram::InitApplication();
    MainWindowView v;
    v.Show();
    SetActiveWindow(v.Handle());
    WinBoxWatcher watcher;
    Application::ShowException(std::make_exception_ptr(Exception("Cannot create C:\\Quorvale\\")));
    const auto* box = watcher.OnlyOkBox("Quorvale Setup", "Cannot create C:\\Quorvale\\.");
    ASSERT_TRUE(box);
    EXPECT_TRUE(box->hasIcon);
}

// The logic against the Win32 window: start-up writes only its own lines, the choices are read
// from the check boxes, and "Next" reaches the logic through the guard.
TEST(Win32Window, AfterStartUpTheLogHoldsOnlyTheStartUpLines) {
    Sandbox box;
    MainWindow form1;
    const Lines lines = form1.View().LogLines();
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.front(), "ticker is qvl");
    EXPECT_EQ(lines.back(), "I will now create it.");
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "waiting..."), 0);
    EXPECT_EQ(TextOf(form1.View().Handle()), "Quorvale Installer - Updater");
    EXPECT_TRUE(Sandbox::IsDir("C:\\Quorvale"));
}

TEST(Win32Window, NextWithNothingTickedAsksForAChoice) {
    Sandbox box;
    MainWindow form1;
    const size_t before = form1.View().LogLines().size();
    form1.PressNext();
    const Lines lines = form1.View().LogLines();
    ASSERT_EQ(lines.size(), before + 1);
    EXPECT_EQ(lines.back(), "please make a slection.");
}

TEST(Win32Window, AnExceptionOfATaskGoesToTheErrorBoxAndTheWindowStays) {
    Sandbox box;
    std::vector<std::string> shown;
    TSetupProgram::InitApplication();
    Application::SetExceptionDisplay([&](const std::string& text) { shown.push_back(text); });
    MainWindow form1;
    // Nothing listens on this port: the first download fails with a socket error.
    form1.Form().HttpClient1->Proxy = "127.0.0.1";
    form1.Form().HttpClient1->ProxyPort = 1;
    form1.Tick(true, false);
    EXPECT_TRUE(form1.View().IsProgramTicked());
    form1.PressNext();
    TSetupProgram::InitApplication();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_FALSE(form1.Form().RunInProgress());
    const Lines lines = form1.View().LogLines();
    EXPECT_EQ(lines[lines.size() - 2], "Downloading Launcher");
    EXPECT_EQ(lines.back().rfind("Downloading : ", 0), 0u);
}

TEST(Win32Window, RendersToAPicture) {
    Sandbox box;
    MainWindow form1;
    form1.Show();
    Pump();
    const std::string file = box.Path("window.png");
    ASSERT_TRUE(form1.SavePicture(file));
    const std::string bytes = qvl::test::ReadFileBytes(file);
    ASSERT_GT(bytes.size(), 24u);
    EXPECT_EQ(bytes.substr(1, 3), "PNG");
    // Width and height in the header: the client area.
    auto be32 = [&](size_t at) {
        return (static_cast<unsigned char>(bytes[at]) << 24) | (static_cast<unsigned char>(bytes[at + 1]) << 16) |
               (static_cast<unsigned char>(bytes[at + 2]) << 8) | static_cast<unsigned char>(bytes[at + 3]);
    };
    EXPECT_EQ(be32(16), 463);
    EXPECT_EQ(be32(20), 380);
    EXPECT_FALSE(form1.SavePicture(box.Path("no-such-folder/window.png")));
}

#else
QVL_TESTS_SKIPPED_HERE(Win32View, "the Win32 window is the Windows side's; MainWindowView tests the Qt window")
#endif
