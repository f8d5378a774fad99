// The "Next" button's runs end to end: the real window (offscreen) and its logic against a real
// nginx on a free loopback port serving the four files from a temporary folder, with HOME ("C:\"),
// APPDATA, XDG_DATA_HOME and XDG_DESKTOP_DIR in a temporary folder. The built-in base URL names
// another port, so the window's HTTP client reaches nginx as its proxy: the request lines then
// carry the whole URL as the installer composed it, and nginx serves the path.
#include "support/PlatformSkip.h"
#if QVL_TEST_LINUX
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QImage>
#include <QPlainTextEdit>
#include <QProcess>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTimer>
#include <QPushButton>
#include <filesystem>
#include <functional>
#include <memory>
#include <regex>
#include <string>
#include <sys/stat.h>
#include <vector>

#include "BoxWatcher.h"
#include "Sandbox.h"
#include "installer/MainWindow.h"
#include "installer/linux/MainWindowView.h"
#include "installer/linux/ProgressBar.h"
#include "installer/Qvlsetupmain.h"
#include "support/NginxFixture.h"
#include "support/ProgressLines.h"
#include "support/ScriptedServer.h"
#include "support/TempDir.h"

using namespace qvl;
using qvl::test::BoxWatcher;
using qvl::test::NginxFixture;
using qvl::test::ReadFileBytes;
using qvl::test::RecordingDisplay;
using qvl::test::Sandbox;
using qvl::test::ScriptedServer;
namespace fs = std::filesystem;

namespace {

using Lines = std::vector<std::string>;

const std::string kLauncher = "#!/bin/sh\n# the Quorvale launcher\nexec \"$(dirname \"$0\")/quorvale-qt.exe\"\n";
const std::string kVersion = "1.4.2\n";

using qvl::test::IsProgressLine;
Lines Collapsed(const Lines& lines) { return qvl::test::CollapsedProgress(lines); }

// Each run of progress lines becomes "<progress>", for replies whose size nginx decides.
Lines Shape(const Lines& lines) {
    Lines out;
    for (const std::string& line : Collapsed(lines)) out.push_back(IsProgressLine(line) ? "<progress>" : line);
    return out;
}

std::string Done(size_t size) { return qvl::test::FinishedProgress(size); }

Lines Requests(const NginxFixture& nginx) {
    Lines out;
    for (const auto& r : nginx.Requests()) out.push_back(r.requestLine);
    return out;
}

std::string Get(const std::string& name) { return "GET " + baseurl + name + " HTTP/1.0"; }

bool Exists(const std::string& path) { return fs::exists(fs::symlink_status(path)); }

// Names in a folder, hidden ones included: no temporary file may be left over.
Lines Entries(const std::string& folder) {
    Lines out;
    for (const auto& e : fs::directory_iterator(folder)) out.push_back(e.path().filename().string());
    std::sort(out.begin(), out.end());
    return out;
}

// desktop-file-validate's verdict: its exit code and what it said.
std::pair<int, std::string> Validate(const std::string& file) {
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(QStringLiteral("desktop-file-validate"), {QString::fromStdString(file)});
    if (!p.waitForFinished(20000)) return {-1, "did not finish"};
    return {p.exitCode(), p.readAll().toStdString()};
}

// One user's machine: the sandbox, a desktop folder, the error box recorded, the window. The
// window goes first, the environment it read last.
class Machine {
public:
    Machine() {
        desktop = box.Path("desktop");
        Sandbox::MakeDir(desktop);
        box.SetEnv("XDG_DESKTOP_DIR", desktop);
        MainWindow::Hooks hooks;
        hooks.onLogLine = [this](const std::string& line) {
            if (onLine) onLine(line);
        };
        window = std::make_unique<MainWindow>(std::move(hooks));
        startLines = View().LogLines().size();
    }

    MainWindowView& View() const { return window->View(); }
    TForm1& Form() const { return window->Form(); }
    void Through(uint16_t port) const {
        Form().HttpClient1->Proxy = "127.0.0.1";
        Form().HttpClient1->ProxyPort = port;
    }
    void Press(bool program, bool blockchain) const {
        View().CheckBox1->setChecked(program);
        View().CheckBox2->setChecked(blockchain);
        View().Button1->click();
    }
    // Presses "Next" from inside the program's own message loop, which must end by itself once
    // the run is over, within `boundMs`.
    void PressInOwnLoop(bool program, bool blockchain, int boundMs) const {
        bool timedOut = false;
        QTimer bound;
        bound.setSingleShot(true);
        QObject::connect(&bound, &QTimer::timeout, [&] {
            timedOut = true;
            QCoreApplication::exit(1);
        });
        bound.start(boundMs);
        QTimer::singleShot(0, [&] { Press(program, blockchain); });
        EXPECT_EQ(QApplication::exec(), 0);
        EXPECT_FALSE(timedOut);
    }
    Lines NewLines() const {
        const Lines all = View().LogLines();
        return Lines(all.begin() + static_cast<std::ptrdiff_t>(startLines), all.end());
    }
    bool BarShown() const { return !View().ProgressBar1->isHidden(); }

    std::string AppDir() const { return box.Home() + "/Quorvale"; }
    std::string Launcher() const { return AppDir() + "/qvlloader.exe"; }
    std::string Wallet() const { return AppDir() + "/quorvale-qt.exe"; }
    std::string VersionFile() const { return box.AppData() + "/Quorvale/version.txt"; }
    std::string ChainArchive() const { return box.AppData() + "/qvlchain.exe"; }
    std::string DesktopEntry() const { return desktop + "/Quorvale.desktop"; }
    std::string MenuEntry() const { return box.Path("xdg/applications/Quorvale/Quorvale.desktop"); }

    Sandbox box;
    std::string desktop;
    RecordingDisplay errors;
    BoxWatcher boxes;
    std::function<void(const std::string& line)> onLine;  // each new log line as it appears
    std::unique_ptr<MainWindow> window;
    size_t startLines = 0;
};

// A server with the four files; the chain archive is a script that leaves a marker after a
// short while, so that a run that did not wait for it would log "Done." before the marker.
struct Server {
    explicit Server(NginxFixture::Options options = {}) : nginx(std::move(options)) {
        nginx.WriteFile("qvlloader.exe", kLauncher);
        wallet = qvl::test::GeneratedBytes(300000, 7);
        nginx.WriteFile("quorvale-qt.exe", wallet);
        nginx.WriteFile("version.txt", kVersion);
        chain = "#!/bin/sh\nsleep 0.3\necho ran >> \"$APPDATA/chain-ran\"\n";
        nginx.WriteFile("qvlchain.exe", chain);
    }
    NginxFixture nginx;
    std::string wallet, chain;
};

NginxFixture::Options NotFound(const std::string& path) {
    NginxFixture::Options options;
    options.statusReplies.push_back({path, 404});
    return options;
}

#define REQUIRE_NGINX() \
    if (!NginxFixture::Available()) GTEST_SKIP() << "nginx is not installed"

}  // namespace

TEST(ProgramTask, InstallsLauncherWalletVersionFileAndShortcuts) {
    REQUIRE_NGINX();
    Server server;
    Machine m;
    m.Through(server.nginx.Port());
    m.Press(true, false);

    EXPECT_EQ(Collapsed(m.NewLines()), (Lines{
        "install program is checked",
        "Downloading Launcher",
        "Downloading : " + baseurl + "qvlloader.exe",
        Done(kLauncher.size()),
        "Making Shortcut to your Desktop",
        "Making Shortcut to your Start menu",
        "Downloading qvl Wallet",
        "app download is C:\\Quorvale\\quorvale-qt.exe",
        Done(server.wallet.size()),
        "Downloading : version.txt",
        "getting version info file " + baseurl + "/version.txt",
        Done(kVersion.size()),
        "Done."}));
    // The wallet comes in several chunks, each with its line.
    EXPECT_GT(m.NewLines().size(), Collapsed(m.NewLines()).size());
    EXPECT_EQ(Requests(server.nginx), (Lines{Get("qvlloader.exe"), Get("quorvale-qt.exe"), Get("/version.txt")}));

    EXPECT_EQ(ReadFileBytes(m.Launcher()), kLauncher);
    EXPECT_EQ(ReadFileBytes(m.Wallet()), server.wallet);
    EXPECT_EQ(ReadFileBytes(m.VersionFile()), kVersion);
    struct stat st {};
    ASSERT_EQ(::stat(m.Launcher().c_str(), &st), 0);
    EXPECT_TRUE(st.st_mode & S_IXUSR) << "the shortcuts start the launcher";
    ASSERT_EQ(::stat(m.Wallet().c_str(), &st), 0);
    EXPECT_TRUE(st.st_mode & S_IXUSR) << "the launcher starts the wallet";
    EXPECT_EQ(Entries(m.AppDir()), (Lines{"quorvale-qt.exe", "qvlloader.exe"}));
    EXPECT_EQ(Entries(m.box.AppData() + "/Quorvale"), Lines{"version.txt"});

    for (const std::string& entry : {m.DesktopEntry(), m.MenuEntry()}) {
        ASSERT_TRUE(Exists(entry)) << entry;
        const std::string text = ReadFileBytes(entry);
        EXPECT_NE(text.find("\nName=Quorvale\n"), std::string::npos) << text;
        EXPECT_NE(text.find("\nComment=qvl QT Wallet\n"), std::string::npos) << text;
        EXPECT_NE(text.find("\nExec=" + m.Launcher() + "\n"), std::string::npos) << text;
        const auto [code, said] = Validate(entry);
        EXPECT_EQ(code, 0) << said;
        EXPECT_EQ(said.find("error"), std::string::npos) << said;
    }
    EXPECT_FALSE(m.BarShown());
    EXPECT_TRUE(m.boxes.Seen().empty());
    EXPECT_TRUE(m.errors.shown.empty());
}

TEST(ProgramTask, ASecondRunReplacesEverythingAndKeepsTheMenuFolder) {
    REQUIRE_NGINX();
    Server server;
    Machine m;
    m.Through(server.nginx.Port());
    m.Press(true, false);
    const std::string firstEntry = ReadFileBytes(m.MenuEntry());
    server.nginx.WriteFile("quorvale-qt.exe", "the next wallet");
    m.Press(true, false);
    EXPECT_EQ(ReadFileBytes(m.Wallet()), "the next wallet");
    EXPECT_EQ(ReadFileBytes(m.MenuEntry()), firstEntry);
    EXPECT_EQ(ReadFileBytes(m.DesktopEntry()), firstEntry);
    EXPECT_EQ(Requests(server.nginx).size(), 6u);
    EXPECT_TRUE(m.errors.shown.empty());
}

TEST(BlockchainTask, DownloadsTheArchiveIntoAppDataAndWaitsForIt) {
    REQUIRE_NGINX();
    Server server;
    Machine m;
    m.Through(server.nginx.Port());
    const std::string marker = m.box.AppData() + "/chain-ran";
    bool barShownAtUnzip = true, ranBeforeDone = false;
    m.onLine = [&](const std::string& line) {
        if (line == "unzipping blockchain - this will take a while...") barShownAtUnzip = m.BarShown();
        if (line == "Done.") ranBeforeDone = Exists(marker);
    };
    m.Press(false, true);

    EXPECT_EQ(Collapsed(m.NewLines()), (Lines{
        "install blockchain is checked",
        "Downloading Blockchain",
        "please note that this will take a while ...",
        "once downloaded, click ok to accept the default location.",
        "trying " + baseurl + "qvlchain.exe",
        Done(server.chain.size()),
        "unzipping blockchain - this will take a while...",
        "Done."}));
    EXPECT_EQ(Requests(server.nginx), Lines{Get("qvlchain.exe")});
    EXPECT_EQ(ReadFileBytes(m.ChainArchive()), server.chain);
    EXPECT_EQ(ReadFileBytes(marker), "ran\n") << "run exactly once";
    EXPECT_TRUE(ranBeforeDone);
    EXPECT_FALSE(barShownAtUnzip);
    EXPECT_FALSE(m.BarShown());
    EXPECT_TRUE(m.boxes.Seen().empty());
    EXPECT_TRUE(m.errors.shown.empty());
}

// An archive that takes its time: while it runs, the window goes on dispatching (a posted event
// is handled), its picture shows the "unzipping" line without anything forcing it, a second
// "Next" is refused with a line, and a close waits for the run's end and then ends the program.
TEST(BlockchainTask, TheWindowAnswersWhileTheArchiveRuns) {
    REQUIRE_NGINX();
    Server server;
    server.chain = "#!/bin/sh\nsleep 3\necho ran >> \"$APPDATA/chain-ran\"\n";
    server.nginx.WriteFile("qvlchain.exe", server.chain);
    Machine m;
    m.Through(server.nginx.Port());
    m.View().show();
    const std::string marker = m.box.AppData() + "/chain-ran";
    const std::string unzipping = "unzipping blockchain - this will take a while...";
    struct Seen {
        bool handled = false, archiveRunning = false, inRun = false, lineInPicture = false;
        bool shownAfterClose = false;
    } seen;
    // Looks at the window once the frame that shows the line has been put into the log; it
    // runs from the event queue, and comes back through it until then.
    std::function<void()> look = [&] {
        const QTextBlock last = m.View().Memo1->document()->lastBlock().previous();
        if (last.text() != QString::fromStdString(unzipping)) {
            QTimer::singleShot(0, m.View().Memo1, look);
            return;
        }
        seen.handled = true;
        seen.archiveRunning = !Exists(marker);
        seen.inRun = m.Form().RunInProgress();
        const QImage picture = m.View().grab().toImage();
        const QRect box = m.View().Memo1->cursorRect(QTextCursor(last));
        const QRect line = QRect(0, box.top(), m.View().Memo1->viewport()->width(), box.height())
                               .translated(m.View().Memo1->viewport()->mapTo(&m.View(), QPoint(0, 0)));
        const QImage part = picture.copy(line);
        bool text = false;
        for (int y = 0; y < part.height() && !text; ++y)
            for (int x = 0; x < part.width() && !text; ++x) text = part.pixel(x, y) != part.pixel(0, 0);
        seen.lineInPicture = m.View().Memo1->viewport()->rect().contains(box) && text;
        m.View().Button1->click();
        m.View().close();
        seen.shownAfterClose = m.View().isVisible();
    };
    m.onLine = [&](const std::string& line) {
        if (line == unzipping) QTimer::singleShot(0, m.View().Memo1, look);
    };
    m.PressInOwnLoop(false, true, 60000);
    EXPECT_TRUE(seen.handled) << "nothing was dispatched while the archive ran";
    EXPECT_TRUE(seen.archiveRunning);
    EXPECT_TRUE(seen.inRun);
    EXPECT_TRUE(seen.lineInPicture);
    EXPECT_TRUE(seen.shownAfterClose);
    EXPECT_EQ(ReadFileBytes(marker), "ran\n") << "run exactly once";
    const Lines lines = Collapsed(m.NewLines());
    ASSERT_GE(lines.size(), 3u);
    EXPECT_EQ(lines[lines.size() - 3], unzipping);
    EXPECT_EQ(lines[lines.size() - 2], "a run is already in progress - please wait.");
    EXPECT_EQ(lines.back(), "Done.");
    EXPECT_FALSE(m.View().isVisible());
    EXPECT_EQ(Requests(server.nginx), Lines{Get("qvlchain.exe")});
    EXPECT_TRUE(m.errors.shown.empty());
}

// An archive that fails, or is no program at all, still ends with "Done.".
TEST(BlockchainTask, TheArchivesExitCodeAndAFailedStartAreNotReported) {
    REQUIRE_NGINX();
    Server server;
    Machine m;
    m.Through(server.nginx.Port());
    for (const std::string& archive : {std::string("#!/bin/sh\nexit 3\n"), std::string("MZ not a program here")}) {
        server.nginx.WriteFile("qvlchain.exe", archive);
        const size_t before = m.NewLines().size();
        m.Press(false, true);
        const Lines lines = m.NewLines();
        ASSERT_GT(lines.size(), before);
        EXPECT_EQ(lines.back(), "Done.");
        EXPECT_EQ(ReadFileBytes(m.ChainArchive()), archive);
    }
    EXPECT_TRUE(m.errors.shown.empty());
    EXPECT_TRUE(m.boxes.Seen().empty());
}

TEST(Button1Click, BothTasksRunProgramFirst) {
    REQUIRE_NGINX();
    Server server;
    Machine m;
    m.Through(server.nginx.Port());
    m.Press(true, true);
    const Lines lines = Shape(m.NewLines());
    const auto at = [&](const std::string& line) { return std::find(lines.begin(), lines.end(), line) - lines.begin(); };
    ASSERT_EQ(lines.front(), "install program is checked");
    EXPECT_LT(at("getting version info file " + baseurl + "/version.txt"), at("install blockchain is checked"));
    EXPECT_LT(at("install blockchain is checked"), at("Downloading Blockchain"));
    EXPECT_EQ(lines.back(), "Done.");
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "please make a slection."), 0);
    EXPECT_EQ(Requests(server.nginx),
              (Lines{Get("qvlloader.exe"), Get("quorvale-qt.exe"), Get("/version.txt"), Get("qvlchain.exe")}));
    EXPECT_TRUE(m.errors.shown.empty());
}

TEST(Button1Click, NothingTickedAsksForAChoiceAndFetchesNothing) {
    REQUIRE_NGINX();
    Server server;
    Machine m;
    m.Through(server.nginx.Port());
    m.Press(false, false);
    EXPECT_EQ(m.NewLines(), Lines{"please make a slection."});
    EXPECT_TRUE(Requests(server.nginx).empty());
    EXPECT_TRUE(m.BarShown());
    EXPECT_EQ(m.View().GetProgressMax(), 100);
}

TEST(LauncherTask, A404MakesNoShortcutAndNoBoxAndTheWalletFollows) {
    REQUIRE_NGINX();
    Server server(NotFound("/qvlloader.exe"));
    Machine m;
    m.Through(server.nginx.Port());
    m.Press(true, false);
    EXPECT_EQ(Shape(m.NewLines()), (Lines{
        "install program is checked",
        "Downloading Launcher",
        "Downloading : " + baseurl + "qvlloader.exe",
        "<progress>",
        "HTTP GET Failed",
        "Downloading qvl Wallet",
        "app download is C:\\Quorvale\\quorvale-qt.exe",
        "<progress>",
        "Downloading : version.txt",
        "getting version info file " + baseurl + "/version.txt",
        "<progress>",
        "Done."}));
    EXPECT_FALSE(Exists(m.DesktopEntry()));
    EXPECT_FALSE(Exists(m.MenuEntry()));
    // The error page is not the launcher.
    EXPECT_EQ(Entries(m.AppDir()), Lines{"quorvale-qt.exe"});
    EXPECT_EQ(ReadFileBytes(m.Wallet()), server.wallet);
    EXPECT_TRUE(m.boxes.Seen().empty());
    EXPECT_TRUE(m.errors.shown.empty());
}

TEST(WalletTask, A404ShowsItsBoxAndAsksForNoVersionFile) {
    REQUIRE_NGINX();
    Server server(NotFound("/quorvale-qt.exe"));
    Machine m;
    qvl::test::WriteFileBytes(m.Wallet(), "the wallet installed before");
    m.Through(server.nginx.Port());
    m.Press(true, false);

    EXPECT_EQ(Shape(m.NewLines()), (Lines{
        "install program is checked",
        "Downloading Launcher",
        "Downloading : " + baseurl + "qvlloader.exe",
        "<progress>",
        "Making Shortcut to your Desktop",
        "Making Shortcut to your Start menu",
        "Downloading qvl Wallet",
        "app download is C:\\Quorvale\\quorvale-qt.exe",
        "<progress>",
        "HTTP GET Failed"}));
    const auto* seen = m.boxes.OnlyOkBox(QStringLiteral("Download failure"), QStringLiteral("could not download wallet"));
    ASSERT_TRUE(seen);
    EXPECT_EQ(seen->icon, QMessageBox::NoIcon);
    EXPECT_FALSE(m.BarShown());
    for (const std::string& request : Requests(server.nginx))
        EXPECT_EQ(request.find("version.txt"), std::string::npos) << request;
    EXPECT_EQ(Requests(server.nginx).size(), 2u);
    EXPECT_EQ(ReadFileBytes(m.Wallet()), "the wallet installed before");
    EXPECT_EQ(Entries(m.AppDir()), (Lines{"quorvale-qt.exe", "qvlloader.exe"}));
    EXPECT_FALSE(Exists(m.VersionFile()));
    EXPECT_TRUE(m.errors.shown.empty());
}

TEST(BlockchainTask, A404ShowsItsBoxAndRunsNothing) {
    REQUIRE_NGINX();
    Server server(NotFound("/qvlchain.exe"));
    Machine m;
    m.Through(server.nginx.Port());
    m.Press(false, true);
    const Lines lines = Shape(m.NewLines());
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back(), "HTTP GET Failed");
    ASSERT_TRUE(m.boxes.OnlyOkBox(QStringLiteral("Download failure"), QStringLiteral("could not download blockchain")));
    EXPECT_FALSE(Exists(m.ChainArchive()));
    EXPECT_FALSE(Exists(m.box.AppData() + "/chain-ran"));
    EXPECT_FALSE(m.BarShown());
}

TEST(Button1Click, AServerThatIsDownGivesOneErrorBoxAndNoLaterTask) {
    Machine m;
    m.Through(ScriptedServer::UnusedPort());
    m.Press(true, true);
    EXPECT_EQ(m.NewLines(), (Lines{
        "install program is checked",
        "Downloading Launcher",
        "Downloading : " + baseurl + "qvlloader.exe"}));
    ASSERT_EQ(m.errors.shown.size(), 1u);
    EXPECT_EQ(m.errors.shown[0], "Connection Failed.");
    EXPECT_TRUE(m.boxes.Seen().empty());
    EXPECT_TRUE(m.BarShown());
    EXPECT_TRUE(Entries(m.AppDir()).empty());
}

namespace {

ScriptedServer::Script Reply(const std::string& bytes) {
    return ScriptedServer::Script().ReadUntil("\r\n\r\n").Send(bytes).Close();
}

}  // namespace

// The wallet's reply ends long before its Content-Length: the wallet installed before stays as
// it was, and nothing is left behind.
TEST(WalletTask, ABodyCutShortKeepsTheInstalledWallet) {
    ScriptedServer server({Reply("HTTP/1.0 200 OK\r\nContent-Length: 5\r\n\r\nhello"),
                           Reply("HTTP/1.0 200 OK\r\nContent-Length: 100000\r\n\r\n" + std::string(3000, 'w'))});
    Machine m;
    const std::string before = qvl::test::GeneratedBytes(20000, 3);
    qvl::test::WriteFileBytes(m.Wallet(), before);
    m.Through(server.Port());
    m.Press(true, true);
    ASSERT_EQ(m.errors.shown.size(), 1u);
    EXPECT_EQ(m.errors.shown[0], "Reply body too short: 3000 of 100000 bytes received.");
    EXPECT_EQ(ReadFileBytes(m.Wallet()), before);
    EXPECT_EQ(Entries(m.AppDir()), (Lines{"quorvale-qt.exe", "qvlloader.exe"}));
    const Lines lines = Collapsed(m.NewLines());
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back(), "Max=100000  file posistion=3000");
    EXPECT_TRUE(m.BarShown());
    EXPECT_TRUE(m.boxes.Seen().empty());
    EXPECT_EQ(server.ConnectionCount(), 2u) << "no blockchain task after the exception";
}

// A target that cannot be written is reported by its own name, not the temporary file's.
TEST(WalletTask, ATargetThatCannotBeReplacedIsNamedInTheErrorBox) {
    ScriptedServer server({Reply("HTTP/1.0 200 OK\r\nContent-Length: 5\r\n\r\nhello"),
                           Reply("HTTP/1.0 200 OK\r\nContent-Length: 6\r\n\r\nwallet")});
    Machine m;
    Sandbox::MakeDir(m.Wallet() + "/in-the-way");  // a folder where the wallet goes
    m.Through(server.Port());
    m.Press(true, false);
    ASSERT_EQ(m.errors.shown.size(), 1u);
    EXPECT_EQ(m.errors.shown[0], "Cannot create file C:\\Quorvale\\quorvale-qt.exe.");
    EXPECT_EQ(Entries(m.AppDir()), (Lines{"quorvale-qt.exe", "qvlloader.exe"}));
    EXPECT_TRUE(m.BarShown());
    EXPECT_TRUE(m.boxes.Seen().empty());
}

// Closing the window while the wallet comes in: the run goes on with the window shown (a
// second "Next" meanwhile starts nothing), then the window closes and the program would end.
TEST(Button1Click, ClosingDuringARunWaitsForItsEnd) {
    const std::string body(200000, 'q');
    ScriptedServer server({Reply("HTTP/1.0 200 OK\r\nContent-Length: 5\r\n\r\nhello"),
                           ScriptedServer::Script()
                               .ReadUntil("\r\n\r\n")
                               .Send("HTTP/1.0 200 OK\r\nContent-Length: " + std::to_string(body.size()) +
                                     "\r\n\r\n" + body.substr(0, 1000))
                               .WaitForRelease()
                               .Send(body.substr(1000))
                               .Close(),
                           Reply("HTTP/1.0 200 OK\r\nContent-Length: 3\r\n\r\n1.5")});
    Machine m;
    m.Through(server.Port());
    m.View().show();
    bool shownAfterClose = false, acted = false;
    m.onLine = [&](const std::string& line) {
        if (acted || line != "Max=200000  file posistion=1000") return;
        acted = true;
        m.View().close();
        shownAfterClose = m.View().isVisible();
        m.View().Button1->click();
        server.Release();
    };
    m.PressInOwnLoop(true, false, 30000);
    EXPECT_TRUE(acted);
    EXPECT_TRUE(shownAfterClose);
    const Lines lines = Collapsed(m.NewLines());
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "a run is already in progress - please wait."), 1);
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back(), "Done.");
    EXPECT_EQ(ReadFileBytes(m.Wallet()), body);
    EXPECT_EQ(ReadFileBytes(m.VersionFile()), "1.5");
    EXPECT_EQ(server.ConnectionCount(), 3u);
    EXPECT_FALSE(m.View().isVisible());
    EXPECT_TRUE(m.errors.shown.empty());
}

TEST(Button1Click, ClosingWhenIdleClosesAtOnce) {
    Machine m;
    m.View().show();
    EXPECT_TRUE(m.View().close());
    EXPECT_FALSE(m.View().isVisible());
    EXPECT_FALSE(m.View().CloseRequested());
}

#else
QVL_TESTS_SKIPPED_HERE(DownloadTasks, "the Qt window and nginx are the Linux side's; Win32Tasks tests the Win32 window's downloads")
#endif
