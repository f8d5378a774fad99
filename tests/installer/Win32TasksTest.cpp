// The download tasks through the Win32 window against a scripted server: the program task's
// files and its real .lnk shortcuts read back through the shell link object, and the wallet's
// failure box with the installed wallet kept.
#include "support/PlatformSkip.h"
#if QVL_TEST_WINDOWS
#include <gtest/gtest.h>

#include "WinBoxWatcher.h"

#include <objbase.h>
#include <shlguid.h>
#include <shobjidl.h>

#include <string>
#include <vector>

#include "Sandbox.h"
#include "installer/MainWindow.h"
#include "installer/Qvlsetupmain.h"
#include "installer/windows/MainWindowView.h"
#include "support/ScriptedServer.h"
#include "support/TempDir.h"
#include "support/Wine.h"

using namespace qvl;
using qvl::test::ReadFileBytes;
using qvl::test::Sandbox;
using qvl::test::ScriptedServer;
using qvl::test::WinBoxWatcher;

namespace {

using Lines = std::vector<std::string>;

ScriptedServer::Script Reply(const std::string& status, const std::string& body) {
    ScriptedServer::Script script;
    script.ReadUntil("\r\n\r\n");
    script.Send("HTTP/1.0 " + status + "\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body);
    return script.Close();
}

struct Shortcut {
    bool loaded = false;
    std::string target, description;
    int showCmd = 0;
};

// A .lnk file as the shell reads it back.
Shortcut ReadShortcut(const std::string& file) {
    Shortcut out;
    const HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    IShellLinkA* link = nullptr;
    IPersistFile* persist = nullptr;
    if (SUCCEEDED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkA,
                                   reinterpret_cast<void**>(&link))) &&
        SUCCEEDED(link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&persist)))) {
        const std::wstring wide(file.begin(), file.end());
        if (SUCCEEDED(persist->Load(wide.c_str(), STGM_READ))) {
            out.loaded = true;
            char text[MAX_PATH] = {};
            link->GetPath(text, MAX_PATH, nullptr, SLGP_RAWPATH);
            out.target = text;
            char description[INFOTIPSIZE] = {};
            link->GetDescription(description, INFOTIPSIZE);
            out.description = description;
            link->GetShowCmd(&out.showCmd);
        }
    }
    if (persist) persist->Release();
    if (link) link->Release();
    if (SUCCEEDED(com)) CoUninitialize();
    return out;
}

// The show command as the file stores it: the 32-bit field at offset 60 of the link header.
uint32_t StoredShowCmd(const std::string& file) {
    const std::string bytes = ReadFileBytes(file);
    if (bytes.size() < 64) return 0;
    uint32_t value = 0;
    for (int i = 3; i >= 0; --i) value = (value << 8) | static_cast<unsigned char>(bytes[60 + static_cast<size_t>(i)]);
    return value;
}

// Form1 with its downloads sent to `port` (as a proxy, so the base URL stays as built).
struct Form1Against {
    explicit Form1Against(uint16_t port, MainWindow::Hooks hooks = {}) : form1(std::move(hooks)) {
        form1.Form().HttpClient1->Proxy = "127.0.0.1";
        form1.Form().HttpClient1->ProxyPort = port;
        start = form1.View().LogLines().size();
    }
    Lines Log() {
        const Lines all = form1.View().LogLines();
        return Lines(all.begin() + static_cast<long>(start), all.end());
    }
    Sandbox box;
    MainWindow form1;
    size_t start = 0;
};

}  // namespace

TEST(Win32Tasks, TheProgramTaskInstallsItsFilesAndRealShortcuts) {
    const std::string launcher(70000, 'L'), wallet = "MZ wallet\r\n\n", version = "1.0.0\n";
    ScriptedServer server({Reply("200 OK", launcher), Reply("200 OK", wallet), Reply("200 OK", version)});
    Form1Against w(server.Port());
    w.form1.Tick(true, false);
    w.form1.PressNext();
    EXPECT_EQ(w.Log(), (Lines{"install program is checked", "Downloading Launcher",
                              "Downloading : " + baseurl + "qvlloader.exe", "Max=70000  file posistion=65536",
                              "Max=70000  file posistion=70000", "Making Shortcut to your Desktop",
                              "Making Shortcut to your Start menu", "Downloading qvl Wallet",
                              "app download is C:\\Quorvale\\quorvale-qt.exe", "Max=12  file posistion=12",
                              "Downloading : version.txt", "getting version info file " + baseurl + "/version.txt",
                              "Max=6  file posistion=6", "Done."}));
    // Bytes as they came: no line ends turned into CR LF.
    EXPECT_EQ(ReadFileBytes("C:\\Quorvale\\qvlloader.exe"), launcher);
    EXPECT_EQ(ReadFileBytes("C:\\Quorvale\\quorvale-qt.exe"), wallet);
    EXPECT_EQ(ReadFileBytes(w.box.AppData() + "\\Quorvale\\version.txt"), version);
    EXPECT_FALSE(IsWindowVisible(w.form1.View().ProgressBar1->Handle()));
    for (const std::string& file : {w.box.DesktopShortcut(), w.box.MenuShortcut()}) {
        const Shortcut link = ReadShortcut(file);
        ASSERT_TRUE(link.loaded) << file;
        EXPECT_EQ(link.target, "C:\\Quorvale\\qvlloader.exe");
        EXPECT_EQ(link.description, "qvl QT Wallet");
        EXPECT_EQ(StoredShowCmd(file), static_cast<uint32_t>(SW_SHOW));
        // Wine's shell link object reads any show command but 3 and 7 back as "normal" (1).
        if (qvl::test::RunningUnderWine()) EXPECT_TRUE(link.showCmd == SW_SHOW || link.showCmd == SW_SHOWNORMAL);
        else EXPECT_EQ(link.showCmd, SW_SHOW);
    }
}

TEST(Win32Tasks, AWalletThatIsNotThereShowsItsBoxAndKeepsTheInstalledOne) {
    ScriptedServer server({Reply("200 OK", "launcher"), Reply("404 Not Found", "<html>gone</html>")});
    Form1Against w(server.Port());
    qvl::test::WriteFileBytes("C:\\Quorvale\\quorvale-qt.exe", "the installed wallet");
    w.form1.View().Show();
    w.form1.Tick(true, false);
    WinBoxWatcher watcher;
    w.form1.PressNext();
    const auto* box = watcher.OnlyOkBox("Download failure", "could not download wallet");
    ASSERT_TRUE(box);
    EXPECT_EQ(box->owner, w.form1.View().Handle());
    const Lines log = w.Log();
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(log.back(), "HTTP GET Failed");
    EXPECT_EQ(ReadFileBytes("C:\\Quorvale\\quorvale-qt.exe"), "the installed wallet");
    EXPECT_EQ(server.ConnectionCount(), 2u);  // no version file after a failed wallet
}

int g_ticks = 0;
void CALLBACK CountTick(HWND, UINT, UINT_PTR, DWORD) { ++g_ticks; }

// The archive runs while the window keeps answering: timers fire and the window paints while it
// runs, and "Done." comes only once it has ended.
TEST(Win32Tasks, TheWindowAnswersWhileTheChainArchiveRuns) {
    const std::string archive = ReadFileBytes(QVL_SLOW_ARCHIVE_PATH);
    ScriptedServer server(Reply("200 OK", archive));
    g_ticks = 0;
    int ticksAtStart = -1, ticksAtDone = -1;
    MainWindow::Hooks hooks;
    hooks.onLogLine = [&](const std::string& line) {
        if (line == "unzipping blockchain - this will take a while...") ticksAtStart = g_ticks;
        if (line == "Done.") ticksAtDone = g_ticks;
    };
    Form1Against w(server.Port(), std::move(hooks));
    w.form1.Show();
    const UINT_PTR timer = SetTimer(nullptr, 0, 50, &CountTick);
    w.form1.Tick(false, true);
    w.form1.PressNext();
    KillTimer(nullptr, timer);
    ASSERT_GE(ticksAtStart, 0);
    ASSERT_GE(ticksAtDone, 0);
    // 800 ms at one tick per 50 ms: well over a handful, however loaded the machine.
    EXPECT_GE(ticksAtDone - ticksAtStart, 5);
    EXPECT_EQ(ReadFileBytes(w.box.AppData() + "\\qvlchain.exe"), archive);
    EXPECT_EQ(w.Log().back(), "Done.");
}

#else
QVL_TESTS_SKIPPED_HERE(Win32Tasks, "the Win32 window is the Windows side's; DownloadTasks tests the Qt window's downloads")
#endif
