// The transfer handlers as replies drive them: the window's logic (recording window) runs the
// launcher download against a server scripted byte by byte, so that the shape of the reply
// (no length, no body, a length no bar takes) is exactly what the test says.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <sys/stat.h>
#include <vector>

#include "Sandbox.h"
#include "framework/Exception.h"
#include "installer/Qvlsetupmain.h"
#include "installer/StagedFile.h"
#include "support/ScriptedServer.h"
#include "support/TempDir.h"

using namespace qvl;
using qvl::test::ReadFileBytes;
using qvl::test::RecordingWindow;
using qvl::test::Sandbox;
using qvl::test::ScriptedServer;
namespace fs = std::filesystem;

namespace {

using Lines = std::vector<std::string>;

ScriptedServer::Script Reply(const std::string& head, const std::string& body, size_t piece = 0) {
    ScriptedServer::Script script;
    script.ReadUntil("\r\n\r\n");
    if (piece) script.SendInPieces(head + body, piece, 11);
    else script.Send(head + body);
    return script.Close();
}

Lines Entries(const std::string& folder) {
    Lines out;
    for (const auto& e : fs::directory_iterator(folder)) out.push_back(e.path().filename().string());
    std::sort(out.begin(), out.end());
    return out;
}

// The logic with a recording window, its downloads sent to `port`; the desktop folder exists.
struct Logic {
    explicit Logic(uint16_t port) {
        box.SetEnv("XDG_DESKTOP_DIR", box.Path("desktop"));
        Sandbox::MakeDir(box.Path("desktop"));
        form = std::make_unique<TForm1>(window);
        form->HttpClient1->Proxy = "127.0.0.1";
        form->HttpClient1->ProxyPort = port;
        window.log.clear();
    }
    std::string Launcher() const { return box.Home() + "/Quorvale/qvlloader.exe"; }
    Lines After(const std::string& first) const {
        const auto it = std::find(window.log.begin(), window.log.end(), first);
        return Lines(it == window.log.end() ? it : it + 1, window.log.end());
    }

    Sandbox box;
    RecordingWindow window;
    std::unique_ptr<TForm1> form;
};

}  // namespace

TEST(TransferHandlers, AReplyWithoutLengthGivesTheEmptyRangeAndGrowingCounts) {
    const std::string body(5000, 'L');
    ScriptedServer server(Reply("HTTP/1.0 200 OK\r\n\r\n", body, 700));
    Logic logic(server.Port());
    logic.form->DownloadLauncher();
    const Lines progress = logic.After("Downloading : " + baseurl + "qvlloader.exe");
    ASSERT_GE(progress.size(), 3u);  // the two shortcut lines, and at least one chunk
    int64_t last = 0;
    for (size_t i = 0; i + 2 < progress.size(); ++i) {
        const std::string prefix = "Max=0  file posistion=";
        ASSERT_EQ(progress[i].rfind(prefix, 0), 0u) << progress[i];
        const int64_t count = std::stoll(progress[i].substr(prefix.size()));
        EXPECT_GT(count, last);
        last = count;
    }
    EXPECT_EQ(last, 5000);
    EXPECT_EQ(logic.window.progressMax, 0);
    EXPECT_TRUE(downloadsucceeded);
    EXPECT_EQ(ReadFileBytes(logic.Launcher()), body);
}

// No chunk, no progress line: the bar keeps what the download before it left.
TEST(TransferHandlers, AnEmptyBodyLeavesTheBarAsItWas) {
    ScriptedServer server(Reply("HTTP/1.0 200 OK\r\nContent-Length: 0\r\n\r\n", ""));
    Logic logic(server.Port());
    logic.window.progressMax = 777;
    logic.window.progressPosition = 333;
    logic.form->DownloadLauncher();
    EXPECT_EQ(logic.window.log, (Lines{"Downloading Launcher", "Downloading : " + baseurl + "qvlloader.exe",
                                       "Making Shortcut to your Desktop", "Making Shortcut to your Start menu"}));
    EXPECT_EQ(logic.window.progressMax, 777);
    EXPECT_EQ(logic.window.progressPosition, 333);
    EXPECT_EQ(ReadFileBytes(logic.Launcher()), "");
    EXPECT_TRUE(fs::exists(logic.box.DesktopShortcut()));
}

// A negative length never reaches the bar: the client refuses the reply, the task ends with the
// exception, and the launcher that was there stays.
TEST(TransferHandlers, ANegativeLengthEndsTheTaskWithAnErrorAndKeepsTheLauncher) {
    ScriptedServer server(Reply("HTTP/1.0 200 OK\r\nContent-Length: -5\r\n\r\n", "abc"));
    Logic logic(server.Port());
    qvl::test::WriteFileBytes(logic.Launcher(), "old launcher");
    logic.window.progressMax = 100;
    downloadsucceeded = true;
    EXPECT_THROW(logic.form->DownloadLauncher(), Exception);
    EXPECT_FALSE(downloadsucceeded);
    EXPECT_EQ(logic.window.progressMax, 100);
    EXPECT_EQ(logic.window.log.back(), "Downloading : " + baseurl + "qvlloader.exe");
    EXPECT_EQ(ReadFileBytes(logic.Launcher()), "old launcher");
    EXPECT_EQ(Entries(logic.box.Home() + "/Quorvale"), Lines{"qvlloader.exe"});
}

// Only the last pass decides: a redirect and then a 200 is a success, a redirect and then a
// 404 a failure that replaces nothing.
TEST(TransferHandlers, AfterARedirectTheLastPassDecides) {
    const std::string moved = "HTTP/1.0 302 Found\r\nLocation: http://127.0.0.1/moved\r\nContent-Length: 4\r\n\r\n";
    {
        ScriptedServer server({Reply(moved, "gone"), Reply("HTTP/1.0 200 OK\r\nContent-Length: 3\r\n\r\n", "new")});
        Logic logic(server.Port());
        logic.form->DownloadLauncher();
        EXPECT_TRUE(downloadsucceeded);
        EXPECT_EQ(ReadFileBytes(logic.Launcher()), "new");
        EXPECT_EQ(logic.window.log.back(), "Making Shortcut to your Start menu");
    }
    {
        ScriptedServer server({Reply(moved, "gone"), Reply("HTTP/1.0 404 Not Found\r\nContent-Length: 4\r\n\r\n", "nope")});
        Logic logic(server.Port());
        qvl::test::WriteFileBytes(logic.Launcher(), "old launcher");
        logic.form->DownloadLauncher();
        EXPECT_FALSE(downloadsucceeded);
        EXPECT_EQ(logic.window.log.back(), "HTTP GET Failed");
        EXPECT_EQ(ReadFileBytes(logic.Launcher()), "old launcher");
        EXPECT_EQ(Entries(logic.box.Home() + "/Quorvale"), Lines{"qvlloader.exe"});
    }
}

// The version file's outcome is its own: a failing version request after a good wallet logs
// its failure line and "Done.", keeps the version file that was there, and shows no box.
TEST(TransferHandlers, AFailedVersionFileKeepsTheOldOneAndStillEndsWithDone) {
    ScriptedServer server({Reply("HTTP/1.0 200 OK\r\nContent-Length: 6\r\n\r\n", "wallet"),
                           Reply("HTTP/1.0 500 Oops\r\nContent-Length: 4\r\n\r\n", "oops")});
    Logic logic(server.Port());
    const std::string version = logic.box.AppData() + "/Quorvale/version.txt";
    qvl::test::WriteFileBytes(version, "1.0\n");
    logic.form->DownloadWallet();
    const Lines tail = logic.After("getting version info file " + baseurl + "/version.txt");
    EXPECT_EQ(tail, (Lines{"Max=4  file posistion=4", "HTTP GET Failed", "Done."}));
    EXPECT_EQ(ReadFileBytes(version), "1.0\n");
    EXPECT_TRUE(logic.window.boxes.empty());
    EXPECT_FALSE(logic.window.progressVisible);
}

// The shortcuts do not depend on each other: without a desktop folder the menu entry is still
// made, and without an applications folder the desktop entry is.
TEST(Shortcuts, EachIsMadeWithoutTheOther) {
    QVL_LINUX_ONLY("the folders are chosen through the XDG variables");
    {
        Sandbox box;
        box.SetEnv("XDG_DESKTOP_DIR", box.Path("no-desktop"));
        RecordingWindow window;
        TForm1 form(window);
        const size_t lines = window.log.size();
        form.CreateDesktopShortcut("C:\\Quorvale\\qvlloader.exe");
        form.CreateStartMenuShortcut("C:\\Quorvale\\qvlloader.exe");
        EXPECT_FALSE(fs::exists(box.Path("no-desktop")));
        EXPECT_TRUE(fs::exists(box.Path("xdg/applications/Quorvale/Quorvale.desktop")));
        EXPECT_EQ(window.log.size(), lines);
        EXPECT_TRUE(window.boxes.empty());
    }
    {
        Sandbox box;
        box.SetEnv("XDG_DESKTOP_DIR", box.Path("desktop"));
        Sandbox::MakeDir(box.Path("desktop"));
        qvl::test::WriteFileBytes(box.Path("xdg"), "a file where the data folder should be");
        RecordingWindow window;
        TForm1 form(window);
        const size_t lines = window.log.size();
        form.CreateStartMenuShortcut("C:\\Quorvale\\qvlloader.exe");
        form.CreateDesktopShortcut("C:\\Quorvale\\qvlloader.exe");
        const std::string entry = ReadFileBytes(box.Path("desktop/Quorvale.desktop"));
        EXPECT_NE(entry.find("\nExec=" + box.Home() + "/Quorvale/qvlloader.exe\n"), std::string::npos) << entry;
        EXPECT_EQ(window.log.size(), lines);
    }
}

TEST(StagedFile, ReplacesOnlyOnCommitAndKeepsTheReplacedFilesMode) {
    QVL_LINUX_ONLY("Windows files have no mode bits");
    qvl::test::TempDir dir;
    const std::string target = (dir / "program").string();
    qvl::test::WriteFileBytes(target, "old");
    ASSERT_EQ(::chmod(target.c_str(), 0640), 0);
    {
        StagedFile staged(target);
        EXPECT_EQ(fs::path(staged.Path()).parent_path(), dir.Path());
        EXPECT_EQ(fs::path(staged.Path()).filename().string().rfind(".program.", 0), 0u);
        qvl::test::WriteFileBytes(staged.Path(), "new");
        EXPECT_EQ(ReadFileBytes(target), "old");
    }
    EXPECT_EQ(Entries(dir.Path().string()), Lines{"program"});
    EXPECT_EQ(ReadFileBytes(target), "old");
    {
        StagedFile staged(target);
        qvl::test::WriteFileBytes(staged.Path(), "new");
        staged.Commit(true);
    }
    EXPECT_EQ(ReadFileBytes(target), "new");
    EXPECT_EQ(Entries(dir.Path().string()), Lines{"program"});
    struct stat st {};
    ASSERT_EQ(::stat(target.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0750u);  // execute for whoever could read it
}

TEST(StagedFile, AMoveThatFailsNamesTheTargetAsGiven) {
    Sandbox box;
    Sandbox::MakeDir(box.Home() + "/Quorvale/quorvale-qt.exe");
    try {
        StagedFile staged("C:\\Quorvale\\quorvale-qt.exe");
        staged.Commit(false);
        ADD_FAILURE() << "a folder cannot be replaced by a file";
    } catch (const EFCreateError& e) {
        EXPECT_EQ(e.Message(), "Cannot create file C:\\Quorvale\\quorvale-qt.exe");
    }
    EXPECT_EQ(Entries(box.Home() + "/Quorvale"), Lines{"quorvale-qt.exe"});
}
