// The window's construction logic against a recording window, with HOME ("C:\") and APPDATA in a
// temporary folder: what it logs, which folders it makes, and how it fails.
#include <gtest/gtest.h>

#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "Sandbox.h"
#include "framework/Application.h"
#include "framework/Exception.h"
#include "installer/Qvlsetupmain.h"
#include "platform/FileSystem.h"
#include "platform/Sockets.h"

using namespace qvl;
using qvl::test::RecordingWindow;
using qvl::test::Sandbox;

namespace {

using Lines = std::vector<std::string>;

Lines Head(const std::string& datapath) {
    return {"ticker is qvl", "inipath is Quorvale", "datapath is " + datapath};
}

Lines Join(Lines a, const Lines& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

std::string ChainDir(const Sandbox& box) { return box.AppData() + "\\Quorvale\\"; }

}  // namespace

TEST(Settings, HaveTheirBuildTimeValues) {
    EXPECT_EQ(ticker, "qvl");
    EXPECT_EQ(inipath, "Quorvale");
    EXPECT_EQ(walletfile, "quorvale-qt.exe");
    EXPECT_EQ(appdir, "C:\\Quorvale\\");
    ASSERT_GE(baseurl.size(), 8u);
    EXPECT_EQ(baseurl.substr(0, 7), "http://");
    EXPECT_EQ(baseurl.back(), '/');
}

// Each of the two folders is found when it exists and made when it does not; the settings then
// name what is there to update.
TEST(FormCreate, EachFolderThatExistsIsFoundAndEachMissingOneIsCreated) {
    const std::string kFound = "attribs= 16", kMissing = "attribs= 4294967295", kCreate = "I will now create it.";
    struct Case {
        bool chainExists, appExists;
        Lines chainLines, appLines, configured;
    };
    const Case cases[] = {
        {true, true, {kFound, "AppData\\Quorvale\\ chain directory found is: true"},
         {kFound, "C:\\Quorvale\\ app directory found is: true"},
         {"configured to update the app", "configured to install the blockchain"}},
        {true, false, {kFound, "AppData\\Quorvale\\ chain directory found is: true"},
         {kMissing, "C:\\Quorvale\\ app directory found is: false", kCreate}, {"configured to update the app"}},
        {false, true, {kMissing, "AppData\\Quorvale\\ chain directory found is: false", kCreate},
         {kFound, "C:\\Quorvale\\ app directory found is: true"}, {"configured to install the blockchain"}},
        {false, false, {kMissing, "AppData\\Quorvale\\ chain directory found is: false", kCreate},
         {kMissing, "C:\\Quorvale\\ app directory found is: false", kCreate}, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string("chain directory ") + (c.chainExists ? "exists" : "missing") + ", app directory " +
                     (c.appExists ? "exists" : "missing"));
        Sandbox box;
        if (c.chainExists) Sandbox::MakeDir(box.AppData() + "/Quorvale");
        if (c.appExists) Sandbox::MakeDir(box.Home() + "/Quorvale");
        RecordingWindow window;
        TForm1 form(window);
        Lines expected = Join(Head(box.AppData()), {"looking for file " + ChainDir(box)});
        expected = Join(Join(expected, c.chainLines), {"looking for file C:\\Quorvale\\"});
        EXPECT_EQ(window.log, Join(Join(expected, c.appLines), c.configured));
        EXPECT_EQ(window.clears, 1);
        EXPECT_EQ(window.title, "Quorvale Installer - Updater");
        EXPECT_EQ(datapath, box.AppData());
        EXPECT_EQ(chaindirfound, c.chainExists);
        EXPECT_EQ(appdirfound, c.appExists);
        EXPECT_TRUE(Sandbox::IsDir(box.AppData() + "/Quorvale"));
        EXPECT_TRUE(Sandbox::IsDir(box.Home() + "/Quorvale"));
    }
}

// A file where the app directory should be is no folder ("C:\Quorvale\" with its trailing
// separator names none), and the folder cannot be made in its place.
TEST(FormCreate, AFileInThePlaceOfTheAppDirectoryIsAFolderThatCannotBeCreated) {
    Sandbox box;
    Sandbox::MakeDir(box.AppData() + "/Quorvale");
    { std::FILE* f = std::fopen((box.Home() + "/Quorvale").c_str(), "w"); ASSERT_TRUE(f); std::fclose(f); }
    RecordingWindow window;
    EXPECT_THROW(TForm1 form(window), Exception);
    EXPECT_EQ(window.log, Join(Head(box.AppData()), {
        "looking for file " + ChainDir(box), "attribs= 16",
        "AppData\\Quorvale\\ chain directory found is: true",
        "looking for file C:\\Quorvale\\", "attribs= 4294967295",
        "C:\\Quorvale\\ app directory found is: false", "I will now create it.",
        "Cannot create C:\\Quorvale\\"}));
}

TEST(FormCreate, ChainDirectoryThatCannotBeCreatedStopsBeforeTheAppDirectory) {
    Sandbox box;
    const std::string appdata = box.Path("missing/appdata");  // its parent does not exist
    box.SetEnv("APPDATA", appdata);
    const std::string chain = appdata + "\\Quorvale\\";
    RecordingWindow window;
    try {
        TForm1 form(window);
        FAIL() << "construction must fail";
    } catch (const Exception& e) {
        EXPECT_EQ(e.Message(), "Cannot create " + chain);
        EXPECT_EQ(Application::ErrorBoxText(e.Message()), "Cannot create " + chain + ".");
    }
    EXPECT_EQ(window.log, Join(Head(appdata), {
        "looking for file " + chain, "attribs= 4294967295",
        "AppData\\Quorvale\\ chain directory found is: false", "I will now create it.",
        "Cannot create " + chain}));
    EXPECT_FALSE(Sandbox::IsDir(box.Home() + "/Quorvale"));
}

TEST(FormCreate, AppDirectoryThatCannotBeCreated) {
    QVL_LINUX_ONLY("the drive C: cannot be taken away");
    Sandbox box;
    box.SetEnv("HOME", box.Path("no-such-home"));
    RecordingWindow window;
    try {
        TForm1 form(window);
        FAIL() << "construction must fail";
    } catch (const Exception& e) {
        EXPECT_EQ(Application::ErrorBoxText(e.Message()), "Cannot create C:\\Quorvale\\.");
    }
    ASSERT_FALSE(window.log.empty());
    EXPECT_EQ(window.log.back(), "Cannot create C:\\Quorvale\\");
    EXPECT_TRUE(Sandbox::IsDir(box.AppData() + "/Quorvale"));
}

// Without a usable APPDATA, unset or empty, the data home stands for it: made with its parents
// when missing (a fresh account has no ~/.local/share), then the chain directory below it is
// probed and made with the lines of any first run.
TEST(FormCreate, WithoutAppDataTheDataHomeIsMadeAndUsed) {
    QVL_LINUX_ONLY("the data home and HOME of the XDG folders");
    for (const std::optional<std::string>& appdata : {std::optional<std::string>(), std::optional<std::string>("")}) {
        Sandbox box;
        box.SetEnv("APPDATA", appdata);
        box.SetEnv("XDG_DATA_HOME", std::nullopt);
        const std::string dataHome = box.Home() + "/.local/share";
        ASSERT_FALSE(Sandbox::IsDir(box.Home() + "/.local"));
        RecordingWindow window;
        TForm1 form(window);
        EXPECT_EQ(window.log, Join(Head(dataHome), {
            "looking for file " + dataHome + "\\Quorvale\\", "attribs= 4294967295",
            "AppData\\Quorvale\\ chain directory found is: false", "I will now create it.",
            "looking for file C:\\Quorvale\\", "attribs= 4294967295",
            "C:\\Quorvale\\ app directory found is: false", "I will now create it."}))
            << (appdata ? "empty" : "unset");
        EXPECT_EQ(datapath, dataHome);
        EXPECT_TRUE(Sandbox::IsDir(dataHome + "/Quorvale"));
        EXPECT_TRUE(Sandbox::IsDir(box.Home() + "/Quorvale"));
    }
}

// A data home that cannot be made shows as the chain directory that cannot be created, named.
TEST(FormCreate, ADataHomeThatCannotBeMadeNamesTheChainDirectory) {
    QVL_LINUX_ONLY("the data home of the XDG folders");
    Sandbox box;
    box.SetEnv("APPDATA", std::string());
    const std::string blocked = box.Path("blocked");
    {
        std::FILE* f = std::fopen(blocked.c_str(), "w");
        ASSERT_NE(f, nullptr);
        std::fclose(f);
    }
    box.SetEnv("XDG_DATA_HOME", blocked + "/share");
    RecordingWindow window;
    EXPECT_THROW(TForm1 form(window), Exception);
    ASSERT_FALSE(window.log.empty());
    EXPECT_EQ(window.log.back(), "Cannot create " + blocked + "/share\\Quorvale\\");
    EXPECT_FALSE(Sandbox::IsDir(box.Home() + "/Quorvale"));
}

TEST(FormCreate, FailingSocketStartUpStopsBeforeAnyLogLine) {
    Sandbox box;
    const int users = platform::SocketServiceUsers();
    platform::FailSocketStartupForTesting(true);
    RecordingWindow window;
    try {
        TForm1 form(window);
        ADD_FAILURE() << "construction must fail";
    } catch (const Exception& e) {
        // The HTTP client's engine or the second component, whichever meets the refusal first.
        EXPECT_FALSE(e.Message().empty());
    }
    platform::FailSocketStartupForTesting(false);
    EXPECT_TRUE(window.log.empty());
    EXPECT_EQ(platform::SocketServiceUsers(), users);
    EXPECT_FALSE(Sandbox::IsDir(box.Home() + "/Quorvale"));
}

TEST(AltHttp, StartsTheSocketServiceOnceAndStopsItWithTheLast) {
    const int users = platform::SocketServiceUsers();
    {
        TAltHTTP first;
        EXPECT_EQ(platform::SocketServiceUsers(), users + 1);
        {
            TAltHTTP second;
            EXPECT_EQ(platform::SocketServiceUsers(), users + 1);
            EXPECT_EQ(second.Request.UserAgent, "Mozilla/3.0 (compatible; Quorvale Setup)");
            EXPECT_EQ(second.Request.Accept, "text/html, */*");
        }
        EXPECT_EQ(platform::SocketServiceUsers(), users + 1);
    }
    EXPECT_EQ(platform::SocketServiceUsers(), users);
}

TEST(AltHttp, RefusedSocketStartUpIsAnError) {
    const int users = platform::SocketServiceUsers();
    platform::FailSocketStartupForTesting(true);
    try {
        TAltHTTP alt;
        ADD_FAILURE() << "creation must fail";
    } catch (const Exception& e) {
        EXPECT_EQ(e.Message().rfind("Cannot start the socket service (error ", 0), 0u) << e.Message();
    }
    platform::FailSocketStartupForTesting(false);
    EXPECT_EQ(platform::SocketServiceUsers(), users);
    EXPECT_EQ(TAltHTTP::Instances(), 0);
}

TEST(HttpClient1, HasItsStoredSettings) {
    Sandbox box;
    RecordingWindow window;
    TForm1 form(window);
    THttpClient& client = *form.HttpClient1;
    EXPECT_EQ(client.Port, 0);
    EXPECT_EQ(client.ProxyPort, 0);
    EXPECT_EQ(client.ReportLevel, 0);
    EXPECT_EQ(client.Body, "Default.htm");
    EXPECT_EQ(client.Header, "Head.txt");
    EXPECT_FALSE(client.InputFileMode);
    EXPECT_FALSE(client.OutputFileMode);
    EXPECT_TRUE(client.Host.empty());
    EXPECT_TRUE(client.Proxy.empty());
    EXPECT_FALSE(client.OnStatus);
    EXPECT_TRUE(client.OnSuccess && client.OnFailure && client.OnPacketRecvd);
}

TEST(Handlers, OutcomesSetTheFlagAndFailuresLogTheirCommand) {
    Sandbox box;
    RecordingWindow window;
    TForm1 form(window);
    window.log.clear();
    downloadsucceeded = false;
    form.HttpClient1->OnSuccess(CmdGet);
    EXPECT_TRUE(downloadsucceeded);
    EXPECT_TRUE(window.log.empty());

    const std::pair<CmdType, const char*> lines[] = {
        {CmdGet, "HTTP GET Failed"},   {CmdOptions, "HTTP OPTIONS Failed"}, {CmdHead, "HTTP HEAD Failed"},
        {CmdPost, "HTTP Post Failed"}, {CmdPut, "HTTP PUT Failed"},         {CmdDelete, "HTTP Delete Failed"},
        {CmdTrace, "HTTP TRACE Failed"}};
    for (const auto& [cmd, line] : lines) {
        window.log.clear();
        downloadsucceeded = true;
        form.HttpClient1->OnFailure(cmd);
        EXPECT_FALSE(downloadsucceeded);
        EXPECT_EQ(window.log, Lines{line});
    }
    for (CmdType cmd : {CmdPatch, CmdCopy, CmdMove, CmdLink, CmdUnlink, CmdNoMethod}) {
        window.log.clear();
        downloadsucceeded = true;
        form.HttpClient1->OnFailure(cmd);
        EXPECT_FALSE(downloadsucceeded);
        EXPECT_TRUE(window.log.empty()) << int(cmd);
    }
}

TEST(Handlers, EachChunkMovesTheBarAndLogsTheTrueCounts) {
    Sandbox box;
    RecordingWindow window;
    TForm1 form(window);
    THttpClient& client = *form.HttpClient1;
    struct Case {
        int64_t total, received;
        int32_t barMax, barPosition;
        std::string line;
    } cases[] = {
        {1048576, 65536, 1048576, 65536, "Max=1048576  file posistion=65536"},
        {0, 1200, 0, 1200, "Max=0  file posistion=1200"},
        // Over 2 GiB: the bar is fed both counts scaled alike, the line keeps the true ones.
        {5000000000, 2500000000, 1250000000, 625000000, "Max=5000000000  file posistion=2500000000"},
    };
    for (const Case& c : cases) {
        window.log.clear();
        client.BytesTotal = c.total;
        client.BytesRecvd = c.received;
        client.OnPacketRecvd(&client);
        EXPECT_EQ(window.progressMax, c.barMax);
        EXPECT_EQ(window.progressPosition, c.barPosition);
        EXPECT_EQ(window.log, Lines{c.line});
    }
}

TEST(Button1Click, WithNothingTickedOnlyAsksForAChoice) {
    Sandbox box;
    RecordingWindow window;
    TForm1 form(window);
    window.log.clear();
    window.progressMax = 777;
    window.progressPosition = 333;
    form.Button1Click(nullptr);
    EXPECT_EQ(window.log, Lines{"please make a slection."});
    EXPECT_TRUE(window.boxes.empty());
    EXPECT_EQ(window.progressMax, 777);
    EXPECT_EQ(window.progressPosition, 333);
}
