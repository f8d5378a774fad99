// Unattended runs of qvlsetup as a program, offscreen, against a real nginx serving the four
// files from a temporary folder (and a real tinyproxy where a proxy is in play): the exit status,
// the files in place, the log file, what reaches standard error, and the picture of the window.
// A run that showed a modal box would never end: every run here ends by itself within its bound.
#include <gtest/gtest.h>

#include <filesystem>
#include <regex>
#include <string>
#include <vector>

#include "ReleaseFiles.h"
#include "UserMachine.h"
#include "support/Loopback.h"
#include "support/NginxFixture.h"
#include "support/ProgressLines.h"
#include "support/TempDir.h"
#include "support/TinyproxyFixture.h"

using namespace qvl::test;
namespace fs = std::filesystem;

namespace {

using Lines = std::vector<std::string>;

void Serve(const NginxFixture& nginx) {
    nginx.WriteFile("qvlloader.exe", kLauncher);
    nginx.WriteFile("quorvale-qt.exe", kWallet);
    nginx.WriteFile("version.txt", kVersion);
    nginx.WriteFile("qvlchain.exe", ChainArchive());
}

using qvl::test::IsProgressLine;
Lines Collapsed(const Lines& lines) { return qvl::test::CollapsedProgress(lines); }

std::string Done(size_t size) { return qvl::test::FinishedProgress(size); }

Lines Join(Lines a, const Lines& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// The lines of start-up on a machine where neither folder exists yet.
Lines StartUp(const UserMachine& machine) {
    return {"ticker is qvl",
            "inipath is Quorvale",
            "datapath is " + machine.AppData(),
            "looking for file " + machine.AppData() + "\\Quorvale\\",
            "attribs= 4294967295",
            "AppData\\Quorvale\\ chain directory found is: false",
            "I will now create it.",
            "looking for file C:\\Quorvale\\",
            "attribs= 4294967295",
            "C:\\Quorvale\\ app directory found is: false",
            "I will now create it."};
}

// What the "program" task writes when everything downloads, as the window's log shows it.
Lines ProgramTask(const std::string& base) {
    return {"install program is checked",
            "Downloading Launcher",
            "Downloading : " + base + "qvlloader.exe",
            Done(kLauncher.size()),
            "Making Shortcut to your Desktop",
            "Making Shortcut to your Start menu",
            "Downloading qvl Wallet",
            "app download is C:\\Quorvale\\quorvale-qt.exe",
            Done(kWallet.size()),
            "Downloading : version.txt",
            "getting version info file " + base + "/version.txt",
            Done(kVersion.size()),
            "Done."};
}

Lines BlockchainTask(const std::string& base) {
    return {"install blockchain is checked",
            "Downloading Blockchain",
            "please note that this will take a while ...",
            "once downloaded, click ok to accept the default location.",
            "trying " + base + "qvlchain.exe",
            Done(ChainArchive().size()),
            "unzipping blockchain - this will take a while...",
            "Done."};
}

// Lines of standard error that qvlsetup itself wrote (Qt and the sanitizers may add theirs).
Lines OwnLines(const std::string& err) {
    Lines out;
    size_t start = 0;
    while (start < err.size()) {
        const size_t end = err.find('\n', start);
        const std::string line = err.substr(start, end == std::string::npos ? std::string::npos : end - start);
        if (line.rfind("qvlsetup: ", 0) == 0) out.push_back(line);
        if (end == std::string::npos) break;
        start = end + 1;
    }
    return out;
}

NginxFixture::Options Missing(const std::string& path) {
    NginxFixture::Options options;
    options.statusReplies.push_back({path, 404});
    return options;
}

UserMachine::Environment Server(const NginxFixture& nginx, UserMachine::Environment more = {}) {
    more.insert(more.begin(), {"QVL_TEST_BASE_URL", nginx.BaseUrl()});
    return more;
}

// Width and height from a PNG's header; {0, 0} when the bytes are not a PNG.
std::pair<int, int> PngSize(const std::string& bytes) {
    if (bytes.size() < 24 || bytes.compare(0, 8, "\x89PNG\r\n\x1a\n") != 0 || bytes.compare(12, 4, "IHDR") != 0)
        return {0, 0};
    auto be32 = [&](size_t at) {
        int v = 0;
        for (size_t i = 0; i < 4; ++i) v = (v << 8) | static_cast<unsigned char>(bytes[at + i]);
        return v;
    };
    return {be32(16), be32(20)};
}

}  // namespace

TEST(Unattended, ProgramAndBlockchainInstallEverythingAndEndWithZero) {
    NginxFixture nginx;
    Serve(nginx);
    UserMachine machine;
    const std::string log = machine.Path("out/install.log");
    const std::string picture = machine.Path("out/window.png");
    // No display and no platform named: an unattended run takes the offscreen one by itself.
    const RunResult run = machine.Run(QVLSETUP_TESTABLE,
                                      {"--unattended", "--select", "program,blockchain", "--log", log, "--screenshot", picture},
                                      Server(nginx, {{"QT_QPA_PLATFORM", std::nullopt}}));
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_TRUE(OwnLines(run.err).empty()) << run.err;

    // The log holds exactly what the window's log shows in such a run, nothing of its own.
    const std::string base = nginx.BaseUrl();
    EXPECT_EQ(Collapsed(ReadLines(log)), Join(Join(StartUp(machine), ProgramTask(base)), BlockchainTask(base)));

    EXPECT_EQ(ReadFileBytes(machine.Home() + "/Quorvale/qvlloader.exe"), kLauncher);
    EXPECT_EQ(ReadFileBytes(machine.Home() + "/Quorvale/quorvale-qt.exe"), kWallet);
    EXPECT_EQ(ReadFileBytes(machine.AppData() + "/Quorvale/version.txt"), kVersion);
    EXPECT_EQ(ReadFileBytes(machine.AppData() + "/qvlchain.exe"), ChainArchive());
    EXPECT_EQ(ReadFileBytes(machine.AppData() + "/Quorvale/blocks/blk00000.dat"), "block 0\n");
    EXPECT_TRUE(fs::exists(machine.Desktop() + "/Quorvale.desktop"));
    EXPECT_TRUE(fs::exists(machine.Home() + "/.local/share/applications/Quorvale/Quorvale.desktop"));

    // The picture is of the whole window at its designed size.
    EXPECT_EQ(PngSize(ReadFileBytes(picture)), std::make_pair(463, 380));
}

TEST(Unattended, AWalletThatIsNotThereEndsWithOneAndTheRunGoesOn) {
    NginxFixture nginx(Missing("/quorvale-qt.exe"));
    Serve(nginx);
    UserMachine machine;
    const std::string log = machine.Path("out/install.log");
    const RunResult run = machine.Run(QVLSETUP_TESTABLE, {"--unattended", "--select=program,blockchain", "--log", log},
                                      Server(nginx));
    EXPECT_EQ(run.status, 1) << run.err;
    // The box's caption and text, instead of the box.
    EXPECT_EQ(OwnLines(run.err), Lines{"qvlsetup: Download failure: could not download wallet"});
    const Lines lines = ReadLines(log);
    const auto at = [&](const std::string& line) { return std::find(lines.begin(), lines.end(), line) - lines.begin(); };
    ASSERT_LT(at("Download failure: could not download wallet"), static_cast<long>(lines.size()));
    EXPECT_EQ(at("HTTP GET Failed") + 1, at("Download failure: could not download wallet"));
    EXPECT_EQ(lines.back(), "Done.");  // the blockchain task ran after the failure
    EXPECT_FALSE(fs::exists(machine.Home() + "/Quorvale/quorvale-qt.exe"));
    EXPECT_FALSE(fs::exists(machine.AppData() + "/Quorvale/version.txt"));
    EXPECT_EQ(ReadFileBytes(machine.Home() + "/Quorvale/qvlloader.exe"), kLauncher);
    EXPECT_EQ(ReadFileBytes(machine.AppData() + "/Quorvale/blocks/blk00000.dat"), "block 0\n");
}

TEST(Unattended, AFailedRequestThatNoBoxReportsStillEndsWithOne) {
    // The launcher's task reports a failure with its log line only.
    NginxFixture nginx(Missing("/qvlloader.exe"));
    Serve(nginx);
    UserMachine machine;
    const RunResult run = machine.Run(QVLSETUP_TESTABLE, {"--unattended", "--select", "program"}, Server(nginx));
    EXPECT_EQ(run.status, 1) << run.err;
    EXPECT_TRUE(OwnLines(run.err).empty()) << run.err;
    EXPECT_EQ(ReadFileBytes(machine.Home() + "/Quorvale/quorvale-qt.exe"), kWallet);
}

TEST(Unattended, AnUnreachableServerEndsWithTwoAndTheErrorOnStandardError) {
    UserMachine machine;
    const uint16_t closed = PickFreeLoopbackPort();
    const std::string log = machine.Path("out/install.log");
    const RunResult run =
        machine.Run(QVLSETUP_TESTABLE, {"--unattended", "--select", "program,blockchain", "--log", log},
                    {{"QVL_TEST_BASE_URL", "http://127.0.0.1:" + std::to_string(closed) + "/"}});
    EXPECT_EQ(run.status, 2) << run.err;
    // The error box's caption and text, as the box would have shown them: the engine's message
    // for a connection that was refused.
    EXPECT_EQ(OwnLines(run.err), Lines{"qvlsetup: Quorvale Setup: Connection Failed."});
    const Lines lines = ReadLines(log);
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back(), "Quorvale Setup: Connection Failed.");
    // The exception ended the run: no other task started.
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "Downloading qvl Wallet"), 0);
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "install blockchain is checked"), 0);
}

TEST(Unattended, AFolderThatCannotBeMadeEndsWithTwoBeforeAnyDownload) {
    NginxFixture nginx;
    Serve(nginx);
    UserMachine machine;
    const std::string log = machine.Path("out/install.log");
    const std::string appdata = machine.Path("no/such/appdata");
    const RunResult run = machine.Run(QVLSETUP_TESTABLE, {"--unattended", "--select", "program", "--log", log},
                                      Server(nginx, {{"APPDATA", appdata}}));
    EXPECT_EQ(run.status, 2) << run.err;
    const std::string error = "Quorvale Setup: Cannot create " + appdata + "\\Quorvale\\.";
    EXPECT_EQ(OwnLines(run.err), Lines{"qvlsetup: " + error});
    const Lines lines = ReadLines(log);
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines[lines.size() - 2], "Cannot create " + appdata + "\\Quorvale\\");
    EXPECT_EQ(lines.back(), error);
    EXPECT_TRUE(nginx.Requests().empty());
}

TEST(Unattended, TheEnvironmentsProxyIsUsedAndLogged) {
    NginxFixture nginx;
    Serve(nginx);
    TinyproxyFixture proxy;
    UserMachine machine;
    const std::string log = machine.Path("out/install.log");
    const std::string proxyAt = "127.0.0.1:" + std::to_string(proxy.Port());
    const RunResult run = machine.Run(QVLSETUP_TESTABLE, {"--unattended", "--select", "program", "--log", log},
                                      Server(nginx, {{"http_proxy", "http://" + proxyAt + "/"}}));
    ASSERT_EQ(run.status, 0) << run.err;
    // Once, right after the start-up lines.
    const std::string base = nginx.BaseUrl();
    EXPECT_EQ(Collapsed(ReadLines(log)), Join(Join(StartUp(machine), {"using proxy " + proxyAt}), ProgramTask(base)));
    ASSERT_TRUE(proxy.WaitForLog(base + "/version.txt"));
    EXPECT_EQ(proxy.Requests(), (Lines{"GET " + base + "qvlloader.exe HTTP/1.0", "GET " + base + "quorvale-qt.exe HTTP/1.0",
                                       "GET " + base + "/version.txt HTTP/1.0"}));
    EXPECT_EQ(ReadFileBytes(machine.Home() + "/Quorvale/quorvale-qt.exe"), kWallet);
}

TEST(Unattended, NoProxyNamingTheServerGoesDirect) {
    NginxFixture nginx;
    Serve(nginx);
    TinyproxyFixture proxy;
    const std::string proxyAt = "127.0.0.1:" + std::to_string(proxy.Port());
    struct Case {
        UserMachine::Environment environment;
        std::string logged;
    };
    const std::vector<Case> cases = {
        {{{"http_proxy", proxyAt}, {"no_proxy", "localhost, 127.0.0.1"}},
         "not using proxy " + proxyAt + " for 127.0.0.1 (no_proxy)"},
        {{{"HTTP_PROXY", proxyAt}, {"NO_PROXY", "127.0.0.1:" + std::to_string(nginx.Port())}},
         "not using proxy " + proxyAt + " for 127.0.0.1 (NO_PROXY)"},
        // A value the installer cannot use is left aside, and said so.
        {{{"http_proxy", "https://" + proxyAt + "/"}},
         "ignoring http_proxy \"https://" + proxyAt + "/\": only http:// proxies are supported"},
    };
    for (const Case& c : cases) {
        UserMachine machine;
        const std::string log = machine.Path("out/install.log");
        const RunResult run =
            machine.Run(QVLSETUP_TESTABLE, {"--unattended", "--select", "program", "--log", log}, Server(nginx, c.environment));
        EXPECT_EQ(run.status, 0) << c.logged << run.err;
        const Lines lines = ReadLines(log);
        ASSERT_GT(lines.size(), StartUp(machine).size()) << c.logged;
        EXPECT_EQ(lines[StartUp(machine).size()], c.logged);
        EXPECT_EQ(ReadFileBytes(machine.Home() + "/Quorvale/quorvale-qt.exe"), kWallet) << c.logged;
    }
    EXPECT_TRUE(proxy.Requests().empty()) << proxy.Log();
    // nginx had the requests straight from the installer, in origin form.
    const auto requests = nginx.Requests();
    ASSERT_EQ(requests.size(), 9u);
    EXPECT_EQ(requests[0].requestLine, "GET /qvlloader.exe HTTP/1.0");
}

TEST(Unattended, APictureThatCannotBeSavedIsReportedAndTheStatusStands) {
    NginxFixture nginx;
    Serve(nginx);
    UserMachine machine;
    const std::string picture = machine.Path("no/such/folder/window.png");
    const RunResult run =
        machine.Run(QVLSETUP_TESTABLE, {"--unattended", "--select", "program", "--screenshot", picture}, Server(nginx));
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(OwnLines(run.err), Lines{"qvlsetup: cannot save the picture of the window to " + picture});
    EXPECT_EQ(ReadFileBytes(machine.Home() + "/Quorvale/quorvale-qt.exe"), kWallet);
}
