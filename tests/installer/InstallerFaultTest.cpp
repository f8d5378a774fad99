// The installer as users run it (qvlsetup, unattended, offscreen) on a machine where the wallet
// is already installed, against downloads that go wrong on the wire and on the disk. After each
// fault the installed files are byte for byte what they were, no temporary file is left
// anywhere, the run ends by itself with one clear error, and nothing crashes.
#include "support/PlatformSkip.h"
#if QVL_TEST_LINUX
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "support/ChildProcess.h"
#include "support/NginxFixture.h"
#include "support/ScriptedServer.h"
#include "support/TempDir.h"

using qvl::test::ChildProcess;
using qvl::test::ReadFileBytes;
using qvl::test::ScriptedServer;
using qvl::test::TempDir;
using Script = ScriptedServer::Script;
namespace fs = std::filesystem;

namespace {

const std::string kLauncher = "#!/bin/sh\n# the launcher installed before\n";
const std::string kVersion = "1.4.1\n";
const std::string kChain = "#!/bin/sh\n# the chain archive fetched before\nexit 0\n";

// Every file below a folder, hidden ones included, with its bytes.
std::map<std::string, std::string> Snapshot(const fs::path& root) {
    std::map<std::string, std::string> files;
    for (const auto& e : fs::recursive_directory_iterator(root)) {
        const std::string name = fs::relative(e.path(), root).string();
        files[name] = e.is_regular_file() ? ReadFileBytes(e.path()) : std::string("<folder>");
    }
    return files;
}

struct RunResult {
    int exitCode = -1;  // -1: no normal exit (a signal, or still running at the bound)
    int signal = 0;
    std::string err;
    std::string log;
};

// A user's machine with the wallet installed: HOME ("C:\") and APPDATA in a fresh folder, with
// the launcher, the wallet program, the version file and the chain archive in place.
class Machine {
public:
    Machine() {
        wallet = qvl::test::GeneratedBytes(50000, 21);
        dir.WriteFile("home/Quorvale/qvlloader.exe", kLauncher);
        dir.WriteFile("home/Quorvale/quorvale-qt.exe", wallet);
        dir.WriteFile("appdata/Quorvale/version.txt", kVersion);
        dir.WriteFile("appdata/qvlchain.exe", kChain);
        fs::create_directories(dir / "runtime");
        fs::permissions(dir / "runtime", fs::perms::owner_all);
        fs::create_directories(dir / "out");
        installed = Installed();
    }

    fs::path AppDir() const { return dir / "home/Quorvale"; }
    std::map<std::string, std::string> Installed() const {
        auto files = Snapshot(dir / "home");
        for (auto& [name, bytes] : Snapshot(dir / "appdata")) files["appdata/" + name] = bytes;
        return files;
    }

    // qvlsetup --unattended --select WHAT, with the download server at `port`. `wrapper` runs
    // in front of it (e.g. prlimit) when not empty.
    RunResult Install(uint16_t port, const std::string& what, ChildProcess::Options options = {},
                std::vector<std::string> wrapper = {}) {
        const std::string errPath = (dir / "out/err").string(), logPath = (dir / "out/log").string();
        fs::remove(errPath);
        fs::remove(logPath);
        options.outputPath = (dir / "out/stdout").string();
        options.errorPath = errPath;
        options.workingDirectory = (dir / "out").string();
        options.environment.insert(options.environment.end(), {
            {"HOME", (dir / "home").string()},
            {"APPDATA", (dir / "appdata").string()},
            {"XDG_DATA_HOME", (dir / "xdg").string()},
            {"XDG_DESKTOP_DIR", (dir / "desktop").string()},
            {"XDG_RUNTIME_DIR", (dir / "runtime").string()},
            {"QT_QPA_PLATFORM", "offscreen"},
            {"QVL_TEST_BASE_URL", "http://127.0.0.1:" + std::to_string(port) + "/"},
            {"http_proxy", std::nullopt},
            {"HTTP_PROXY", std::nullopt},
        });
        std::vector<std::string> args = std::move(wrapper);
        args.insert(args.end(), {QVLSETUP_PATH, "--unattended", "--select", what, "--log", logPath});
        const std::string program = args.front();
        args.erase(args.begin());
        ChildProcess child(program, args, options);
        RunResult r;
        if (!child.WaitForExit(std::chrono::seconds(60))) {
            ADD_FAILURE() << "qvlsetup did not end";
            return r;
        }
        const int status = child.WaitStatus().value_or(-1);
        if (WIFEXITED(status)) r.exitCode = WEXITSTATUS(status);
        if (WIFSIGNALED(status)) r.signal = WTERMSIG(status);
        r.err = ReadFileBytes(errPath);
        r.log = ReadFileBytes(logPath);
        return r;
    }

    TempDir dir{"qvl-installer-fault"};
    std::string wallet;
    std::map<std::string, std::string> installed;
};

Script Reply(const std::string& bytes) { return Script().ReadUntil("\r\n\r\n").Send(bytes).Close(); }

std::string Ok(const std::string& body) {
    return "HTTP/1.0 200 OK\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
}

// One error stopped the run: exit status 2, and exactly one line on standard error, which the
// log ends with as well.
void ExpectOneError(const RunResult& r, const std::vector<std::string>& acceptable) {
    EXPECT_EQ(r.signal, 0) << "killed by signal " << r.signal;
    EXPECT_EQ(r.exitCode, 2) << r.err;
    bool matched = false;
    for (const std::string& message : acceptable)
        matched = matched || r.err == "qvlsetup: Quorvale Setup: " + message + "\n";
    EXPECT_TRUE(matched) << "standard error: " << r.err;
    const std::string lastLine = r.log.substr(r.log.rfind('\n', r.log.size() - 2) + 1);
    EXPECT_EQ("qvlsetup: " + lastLine, r.err);
}

struct Fault {
    std::string name;
    Script script;  // what the server does with the faulty request
    std::vector<std::string> messages;  // the error, one of these
};

std::vector<Fault> WireFaults(const std::string& target) {
    const std::string body = qvl::test::GeneratedBytes(300000, 22);
    std::string manyLines = "HTTP/1.0 200 OK\r\n";
    for (int i = 0; i < 10000; ++i) manyLines += "X-Line-" + std::to_string(i) + ": value\r\n";
    return {
        {"reset in the middle of the body",
         Script().ReadUntil("\r\n\r\n").Send(Ok(body).substr(0, 40000)).Reset(),
         {"10054:Connection reset by peer.",
          "Reply body too short: " + std::to_string(40000 - (Ok(body).size() - body.size())) + " of 300000 bytes received."}},
        {"close in the middle of the header",
         Reply("HTTP/1.0 200 OK\r\nContent-Length: 300000\r\nServer: scripted\r\n"),
         {"Connection closed in the reply header."}},
        {"a header line of 1 MiB",
         Reply("HTTP/1.0 200 OK\r\nX-Huge: " + std::string(1024 * 1024, 'h') + "\r\n\r\n" + body),
         {"Line too long: no line end within 65536 bytes."}},
        {"10,000 header lines and no end", Reply(manyLines), {"Connection closed in the reply header."}},
        {"a status line of garbage",
         Reply(std::string("\x16\x03\x01\x02\x00\x01\xfc\x03\x03 garbage\r\n\r\n", 22) + body),
         // Control bytes are shown escaped; a message that ends in a quote gets no full stop.
         {"Invalid reply status line: '\\x16\\x03\\x01\\x02\\x00\\x01\xfc\\x03\\x03 garbage'"}},
        {"a Content-Length of 2^63",
         Reply("HTTP/1.0 200 OK\r\nContent-Length: 9223372036854775808\r\n\r\n" + body),
         {"Invalid Content-Length in reply: '9223372036854775808'"}},
        {"a redirect to a host that does not resolve",
         Reply("HTTP/1.0 302 Found\r\nLocation: http://qvl-no-such-host.invalid/" + target + "\r\n\r\n"),
         {"Null Remote Address."}},
    };
}

#define REQUIRE_PROGRAM()                                                                  \
    if (!fs::exists(QVLSETUP_PATH)) GTEST_SKIP() << "qvlsetup-testable is not built"

}  // namespace

TEST(InstallerFaults, OnTheWireDuringTheWalletDownload) {
    REQUIRE_PROGRAM();
    for (Fault& fault : WireFaults("quorvale-qt.exe")) {
        SCOPED_TRACE(fault.name);
        Machine m;
        // The launcher comes as it was installed; then the wallet's download goes wrong.
        ScriptedServer server({Reply(Ok(kLauncher)), fault.script});
        server.SetStepTimeout(5000);
        const RunResult r = m.Install(server.Port(), "program");
        ExpectOneError(r, fault.messages);
        EXPECT_EQ(m.Installed(), m.installed) << "installed files changed, or a temporary file was left";
        EXPECT_TRUE(server.WaitUntilFinished(server.ConnectionCount(), 10000));
        EXPECT_EQ(server.ConnectionCount(), 2u) << "no version file after the failed wallet";
    }
}

TEST(InstallerFaults, OnTheWireDuringTheChainArchiveDownload) {
    REQUIRE_PROGRAM();
    for (Fault& fault : WireFaults("qvlchain.exe")) {
        SCOPED_TRACE(fault.name);
        Machine m;
        ScriptedServer server(fault.script);
        server.SetStepTimeout(5000);
        const RunResult r = m.Install(server.Port(), "blockchain");
        ExpectOneError(r, fault.messages);
        EXPECT_EQ(m.Installed(), m.installed) << "installed files changed, or a temporary file was left";
        EXPECT_TRUE(server.WaitUntilFinished(1, 10000));
        EXPECT_EQ(server.ConnectionCount(), 1u);
    }
}

// The disk fills up in the middle of the wallet: played by a file-size limit that the new wallet
// passes and the installed files do not. A full disk fails the write the same way (ENOSPC
// instead of EFBIG).
TEST(InstallerFaults, TheDiskFillingUpDuringTheWallet) {
    REQUIRE_PROGRAM();
    const std::string body = qvl::test::GeneratedBytes(400000, 23);
    constexpr unsigned long long kLimit = 128 * 1024;
    const std::string message = "Cannot write file C:\\Quorvale\\quorvale-qt.exe: File too large.";
    {
        Machine m;
        ScriptedServer server({Reply(Ok(kLauncher)), Reply(Ok(body))});
        server.SetStepTimeout(5000);
        ChildProcess::Options limited;
        limited.fileSizeLimit = kLimit;
        ExpectOneError(m.Install(server.Port(), "program", limited), {message});
        EXPECT_EQ(m.Installed(), m.installed);
        server.WaitUntilFinished(2, 10000);
    }
    {
        // The limit with the signal left as it is: the installer is not killed by it.
        Machine m;
        ScriptedServer server({Reply(Ok(kLauncher)), Reply(Ok(body))});
        server.SetStepTimeout(5000);
        ExpectOneError(m.Install(server.Port(), "program", {}, {"/usr/bin/prlimit", "--fsize=" + std::to_string(kLimit)}),
                       {message});
        EXPECT_EQ(m.Installed(), m.installed);
        server.WaitUntilFinished(2, 10000);
    }
}

// The folder that holds the wallet cannot be written. Permissions do not stop root, so as root
// the folder is bound read-only over itself in a mount namespace of the installer's own (which
// goes away with it); otherwise its write permission is taken away.
TEST(InstallerFaults, TheTargetFolderReadOnly) {
    REQUIRE_PROGRAM();
    const bool root = ::geteuid() == 0;
    if (root && !qvl::test::ReadOnlyFolderWrapperWorks()) GTEST_SKIP() << "no mount namespace for a read-only folder";
    for (const std::string what : {"program", "blockchain"}) {
        SCOPED_TRACE(what);
        Machine m;
        const fs::path folder = what == "program" ? m.AppDir() : m.dir / "appdata";
        ScriptedServer server(Reply(Ok(what == "program" ? kLauncher : kChain)));
        std::vector<std::string> wrapper;
        if (root) wrapper = qvl::test::ReadOnlyFolderWrapper(folder.string());
        else fs::permissions(folder, fs::perms::owner_read | fs::perms::owner_exec);
        const RunResult r = m.Install(server.Port(), what, {}, wrapper);
        if (!root) fs::permissions(folder, fs::perms::owner_all);
        ExpectOneError(r, {what == "program" ? "Cannot create file C:\\Quorvale\\qvlloader.exe."
                                             : "Cannot create file " + (m.dir / "appdata").string() + "\\qvlchain.exe."});
        EXPECT_EQ(m.Installed(), m.installed);
        server.WaitUntilFinished(1, 10000);
    }
}

#else
QVL_TESTS_SKIPPED_HERE(InstallerFault, "qvlsetup runs as a POSIX child process against nginx")
#endif
