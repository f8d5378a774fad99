// The installer built with a release key (qvlsetup-signed-testable, whose key pair the build
// made), run unattended against a real nginx and the scripted server: it installs a release the
// key signed, and refuses anything else before it replaces an installed file or runs the chain
// archive. The releases are signed by scripts/sign-release and the openssl command line.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "SignedReleaseSupport.h"
#include "support/Loopback.h"
#include "support/ProgressLines.h"
#include "support/ScriptedServer.h"

using namespace qvl::test;
namespace fs = std::filesystem;

TEST(SignedRelease, ASignedReleaseInstallsAndTheLogSaysWhatWasVerified) {
    NginxFixture nginx;
    ServeSigned(nginx);
    UserMachine machine;
    const std::string log = machine.Path("out/install.log");
    const RunResult run = Install(machine, nginx, log);
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_TRUE(OwnLines(run.err).empty()) << run.err;
    for (const ServedFile& f : Release()) {
        const std::string path = f.name == "version.txt" ? machine.AppData() + "/Quorvale/version.txt"
                                 : f.name == "qvlchain.exe" ? machine.AppData() + "/qvlchain.exe"
                                                            : machine.Home() + "/Quorvale/" + f.name;
        EXPECT_EQ(ReadFileBytes(path), f.bytes) << f.name;
    }
    EXPECT_EQ(ReadFileBytes(machine.AppData() + "/Quorvale/blocks/blk00000.dat"), "block 0\n");

    // The list first, then the files, each confirmed right after its download.
    const std::string base = nginx.BaseUrl();
    EXPECT_EQ(RequestLines(nginx), (Lines{"GET /RELEASE HTTP/1.0", "GET /RELEASE.sig HTTP/1.0", "GET /qvlloader.exe HTTP/1.0",
                                          "GET /quorvale-qt.exe HTTP/1.0", "GET //version.txt HTTP/1.0", "GET /qvlchain.exe HTTP/1.0"}));
    const Lines lines = CollapsedProgress(ReadLines(log));
    const auto after = [&](const std::string& line) {
        const auto at = std::find(lines.begin(), lines.end(), line);
        return at == lines.end() || at + 1 == lines.end() ? std::string("(none)") : *(at + 1);
    };
    const auto start = std::find(lines.begin(), lines.end(), "checking the release list " + base + "RELEASE");
    ASSERT_NE(start, lines.end());
    const std::string manifest = ReadFileBytes(nginx.Root() / "RELEASE");
    const std::string serial = manifest.substr(21, manifest.find('\n', 21) - 21);
    const std::string expires = manifest.substr(manifest.find("expires ") + 8, 20);
    EXPECT_EQ(Lines(start, start + 4), (Lines{"checking the release list " + base + "RELEASE",
                                              "the release list is signed by the publisher (4 files)",
                                              "release serial " + serial + ", valid until " + expires,
                                              "install program is checked"}));
    EXPECT_EQ(after(FinishedProgress(kLauncher.size())), "checksum verified: qvlloader.exe");
    EXPECT_EQ(after(FinishedProgress(kWallet.size())), "checksum verified: quorvale-qt.exe");
    EXPECT_EQ(after(FinishedProgress(kVersion.size())), "checksum verified: version.txt");
    EXPECT_EQ(after(FinishedProgress(ChainArchive().size())), "checksum verified: qvlchain.exe");
    EXPECT_EQ(after("checksum verified: qvlchain.exe"), "unzipping blockchain - this will take a while...");
}

TEST(SignedRelease, AFlippedByteInAnyFileIsRefusedAndTheInstalledFileStays) {
    for (const ServedFile& tampered : Release()) {
        SCOPED_TRACE(tampered.name);
        NginxFixture nginx;
        ServeSigned(nginx);
        UserMachine machine;
        ASSERT_EQ(Install(machine, nginx, machine.Path("out/first.log")).status, 0);
        // The chain archive's block file is made again only if the archive runs again; it
        // does when only another file was refused.
        const bool archive = tampered.name == "qvlchain.exe";
        if (archive) fs::remove_all(machine.AppData() + "/Quorvale/blocks");
        const auto before = Installed(machine);

        std::string bytes = tampered.bytes;
        bytes[bytes.size() / 2] ^= 0x20;
        nginx.WriteFile(tampered.name, bytes);
        const std::string log = machine.Path("out/second.log");
        const RunResult run = Install(machine, nginx, log);
        EXPECT_EQ(run.status, 1) << run.err;
        EXPECT_TRUE(Has(ReadLines(log), "checksum mismatch: " + tampered.name + " was not installed"));
        // Nothing changed, nothing left behind, a refused archive did not run.
        EXPECT_EQ(Installed(machine), before);
        if (archive) {
            EXPECT_FALSE(Has(ReadLines(log), "unzipping blockchain - this will take a while..."));
        }
        // The other files were still verified and installed (but for the version file, which
        // the wallet's task fetches only after the wallet).
        for (const ServedFile& f : Release()) {
            const bool skipped = tampered.name == "quorvale-qt.exe" && f.name == "version.txt";
            if (f.name != tampered.name && !skipped) {
                EXPECT_TRUE(Has(ReadLines(log), "checksum verified: " + f.name)) << f.name;
            }
        }
    }
}

TEST(SignedRelease, AListThatDoesNotVerifyStopsTheRunBeforeAnyDownload) {
    TempDir keys;
    const OpensslKey other = OpensslKey::Generate(keys.Path(), "other");
    struct Case {
        std::string what;
        std::function<void(const NginxFixture&)> spoil;
        std::string reason;
    };
    const std::string sums = "RELEASE";
    const std::vector<Case> cases = {
        {"a flipped byte in the list",
         [&](const NginxFixture& n) {
             std::string list = ReadFileBytes(n.Root() / sums);
             list[3] = list[3] == '0' ? '1' : '0';
             n.WriteFile(sums, list);
         },
         "the signature matches none of the publisher's keys"},
        {"a signature by a key that is not built in", [&](const NginxFixture& n) { other.SignRelease(n.Root()); },
         "the signature matches none of the publisher's keys"},
        {"no signature", [&](const NginxFixture& n) { fs::remove(n.Root() / "RELEASE.sig"); },
         "RELEASE.sig could not be fetched (status 404)"},
        {"no list", [&](const NginxFixture& n) { fs::remove(n.Root() / sums); },
         "RELEASE could not be fetched (status 404)"},
        {"an unknown line, rightly signed",
         [&](const NginxFixture& n) { ServeManifest(n, ReadFileBytes(n.Root() / sums) + "mirror http://elsewhere/\n"); },
         "line 8 is not a file line (file <sha256> <size> <name>)"},
        {"a list over the size bound, rightly signed",
         [&](const NginxFixture& n) {
             std::string list = ReadFileBytes(n.Root() / sums);
             const std::string line = list.substr(0, list.find('\n') + 1);
             while (list.size() <= 64 * 1024) list += line;
             n.WriteFile(sums, list);
             n.WriteFile("RELEASE.sig", BuildKey().Sign(list));
         },
         "RELEASE is larger than 65536 bytes"},
        {"a signature over the size bound",
         [&](const NginxFixture& n) { n.WriteGeneratedFile("RELEASE.sig", 64 * 1024 + 1); },
         "RELEASE.sig is larger than 65536 bytes"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        NginxFixture nginx;
        ServeSigned(nginx);
        UserMachine machine;
        ASSERT_EQ(Install(machine, nginx, machine.Path("out/first.log")).status, 0);
        const auto before = Installed(machine);
        const size_t requestsBefore = nginx.Requests().size();

        c.spoil(nginx);
        const std::string log = machine.Path("out/second.log");
        const RunResult run = Install(machine, nginx, log);
        EXPECT_EQ(run.status, 1) << run.err;
        EXPECT_EQ(OwnLines(run.err), Lines{kRefusedList});
        const Lines lines = ReadLines(log);
        ASSERT_GE(lines.size(), 2u);
        EXPECT_EQ(lines[lines.size() - 2], "the release list failed verification: " + c.reason);
        EXPECT_EQ(lines.back(), kRefusedList);
        EXPECT_FALSE(Has(lines, "install program is checked"));
        EXPECT_EQ(Installed(machine), before);
        for (const std::string& request : RequestLines(nginx, requestsBefore))
            EXPECT_TRUE(request.rfind("GET /RELEASE", 0) == 0) << request;
    }
}

TEST(SignedRelease, AFileTheListDoesNotNameIsNotInstalled) {
    NginxFixture nginx;
    for (const ServedFile& f : Release()) nginx.WriteFile(f.name, f.bytes);
    // A list of the launcher alone.
    ServeManifest(nginx, Manifest({{"qvlloader.exe", kLauncher}}));
    UserMachine machine;
    const std::string log = machine.Path("out/install.log");
    const RunResult run = Install(machine, nginx, log, "program");
    EXPECT_EQ(run.status, 1) << run.err;
    EXPECT_EQ(OwnLines(run.err), Lines{"Download failure: could not download wallet"});
    const Lines lines = ReadLines(log);
    EXPECT_TRUE(Has(lines, "the release list is signed by the publisher (1 file)"));
    EXPECT_TRUE(Has(lines, "checksum verified: qvlloader.exe"));
    EXPECT_TRUE(Has(lines, "not on the release list: quorvale-qt.exe was not installed"));
    EXPECT_EQ(ReadFileBytes(machine.Home() + "/Quorvale/qvlloader.exe"), kLauncher);
    EXPECT_FALSE(fs::exists(machine.Home() + "/Quorvale/quorvale-qt.exe"));
    // The launcher and the record of the accepted release, no temporary file; the wallet was
    // not asked for.
    EXPECT_EQ(Installed(machine).size(), 2u);
    for (const std::string& request : RequestLines(nginx)) EXPECT_NE(request, "GET /quorvale-qt.exe HTTP/1.0");
}

TEST(SignedRelease, ARefusedLauncherAloneStillEndsWithOne) {
    // The launcher's task has no failure box; the refusal counts all the same.
    NginxFixture nginx;
    ServeSigned(nginx);
    nginx.WriteFile("qvlloader.exe", kLauncher + "#");
    UserMachine machine;
    const std::string log = machine.Path("out/install.log");
    const RunResult run = Install(machine, nginx, log, "program");
    EXPECT_EQ(run.status, 1) << run.err;
    EXPECT_TRUE(OwnLines(run.err).empty()) << run.err;
    EXPECT_FALSE(fs::exists(machine.Home() + "/Quorvale/qvlloader.exe"));
    EXPECT_FALSE(fs::exists(machine.Desktop() + "/Quorvale.desktop"));  // no shortcut to it
    EXPECT_EQ(ReadFileBytes(machine.Home() + "/Quorvale/quorvale-qt.exe"), kWallet);
}

TEST(SignedRelease, ARedirectedDownloadIsCheckedOnTheBytesOfItsLastPass) {
    // nginx's 302 carries a body of its own, written to the staged file before the next pass.
    NginxFixture::Options options;
    options.redirects.push_back({"/quorvale-qt.exe", 302, "/files/quorvale-qt.exe"});
    NginxFixture nginx(options);
    ServeSigned(nginx);
    nginx.WriteFile("files/quorvale-qt.exe", kWallet);
    UserMachine machine;
    const std::string log = machine.Path("out/install.log");
    const RunResult run = Install(machine, nginx, log, "program");
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_TRUE(Has(ReadLines(log), "checksum verified: quorvale-qt.exe"));
    EXPECT_EQ(ReadFileBytes(machine.Home() + "/Quorvale/quorvale-qt.exe"), kWallet);
}

TEST(SignedRelease, AKeylessBuildAsksForNoListAndLogsNoVerification) {
    NginxFixture nginx;
    ServeSigned(nginx);
    UserMachine machine;
    const std::string log = machine.Path("out/install.log");
    const RunResult run =
        machine.Run(QVLSETUP_TESTABLE, {"--unattended", "--select", "program,blockchain", "--log", log}, Server(nginx));
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(RequestLines(nginx), (Lines{"GET /qvlloader.exe HTTP/1.0", "GET /quorvale-qt.exe HTTP/1.0",
                                          "GET //version.txt HTTP/1.0", "GET /qvlchain.exe HTTP/1.0"}));
    for (const std::string& line : ReadLines(log)) {
        EXPECT_EQ(line.find("release"), std::string::npos) << line;
        EXPECT_EQ(line.find("checksum"), std::string::npos) << line;
        EXPECT_EQ(line.find("size mismatch"), std::string::npos) << line;
    }
    EXPECT_FALSE(fs::exists(AcceptedRecord(machine)));
}

namespace {

std::string Reply(const std::string& body) {
    return "HTTP/1.0 200 OK\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
}

// One connection per request, in the order the program task makes them: the list, its
// signature, the launcher, the wallet, the version file; each body sent in random pieces.
std::vector<ScriptedServer::Script> ProgramTaskScripts(const std::vector<std::string>& bodies) {
    std::vector<ScriptedServer::Script> scripts;
    uint32_t seed = 1;
    for (const std::string& body : bodies)
        scripts.push_back(ScriptedServer::Script().ReadUntil("\r\n\r\n").SendInPieces(Reply(body), 700, seed++).Close());
    return scripts;
}

std::string SignedList(const std::vector<ServedFile>& files) {
    TempDir dir;
    for (const ServedFile& f : files) dir.WriteFile(f.name, f.bytes);
    BuildKey().SignRelease(dir.Path());
    return ReadFileBytes(dir / "RELEASE") + '\0' + ReadFileBytes(dir / "RELEASE.sig");
}

}  // namespace

TEST(SignedRelease, AProxyThatRewritesBodiesCannotChangeWhatIsInstalled) {
    const std::vector<ServedFile> files = {{"qvlloader.exe", kLauncher}, {"quorvale-qt.exe", kWallet}, {"version.txt", kVersion}};
    const std::string both = SignedList(files);
    const std::string list = both.substr(0, both.find('\0'));
    const std::string signature = both.substr(both.find('\0') + 1);
    const std::string base = "http://127.0.0.1:" + std::to_string(PickFreeLoopbackPort()) + "/";

    // First a faithful proxy: the release installs, and the bodies arrived in pieces.
    UserMachine machine;
    {
        ScriptedServer proxy(ProgramTaskScripts({list, signature, kLauncher, kWallet, kVersion}));
        const RunResult run = machine.Run(QVLSETUP_SIGNED, {"--unattended", "--select", "program"},
                                          {{"QVL_TEST_BASE_URL", base}, {"http_proxy", "http://127.0.0.1:" + std::to_string(proxy.Port())}});
        ASSERT_EQ(run.status, 0) << run.err;
        EXPECT_EQ(proxy.Received(3).substr(0, proxy.Received(3).find("\r\n")), "GET " + base + "quorvale-qt.exe HTTP/1.0");
    }
    const auto before = Installed(machine);
    ASSERT_EQ(ReadFileBytes(machine.Home() + "/Quorvale/quorvale-qt.exe"), kWallet);

    // Then one that hands out another wallet of the same length, and a launcher one byte off.
    std::string evilWallet = kWallet;
    evilWallet.replace(evilWallet.find("wallet"), 6, "thief!");
    std::string evilLauncher = kLauncher;
    evilLauncher.back() = ' ';
    {
        ScriptedServer proxy(ProgramTaskScripts({list, signature, evilLauncher, evilWallet, kVersion}));
        const std::string log = machine.Path("out/install.log");
        const RunResult run = machine.Run(QVLSETUP_SIGNED, {"--unattended", "--select", "program", "--log", log},
                                          {{"QVL_TEST_BASE_URL", base}, {"http_proxy", "http://127.0.0.1:" + std::to_string(proxy.Port())}});
        EXPECT_EQ(run.status, 1) << run.err;
        EXPECT_TRUE(Has(ReadLines(log), "checksum mismatch: qvlloader.exe was not installed"));
        EXPECT_TRUE(Has(ReadLines(log), "checksum mismatch: quorvale-qt.exe was not installed"));
    }
    EXPECT_EQ(Installed(machine), before);

    // And one that rewrites the list itself (its own hashes for its own files): refused whole.
    {
        std::string forged = list;
        const size_t digit = forged.find("file ") + 5;
        forged[digit] = forged[digit] == '0' ? '1' : '0';
        ScriptedServer proxy(ProgramTaskScripts({forged, signature}));
        const RunResult run = machine.Run(QVLSETUP_SIGNED, {"--unattended", "--select", "program"},
                                          {{"QVL_TEST_BASE_URL", base}, {"http_proxy", "http://127.0.0.1:" + std::to_string(proxy.Port())}});
        EXPECT_EQ(run.status, 1) << run.err;
        EXPECT_EQ(OwnLines(run.err), Lines{kRefusedList});
        EXPECT_EQ(proxy.ConnectionCount(), 2u);
    }
    EXPECT_EQ(Installed(machine), before);
}
