// What the signed manifest adds to a signed release, with qvlsetup-signed-testable run
// unattended against nginx and the scripted server: a replayed older manifest (or another one
// under the same serial) and an expired one are refused before any download; a manifest signed
// by the second built-in key installs; a download of another size than the signed one is
// refused, an endless one ended at the signed size. After every refusal the installed files are
// byte for byte what they were and nothing is left beside them.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "SignedReleaseSupport.h"
#include "support/Loopback.h"
#include "support/ScriptedServer.h"

using namespace qvl::test;
namespace fs = std::filesystem;

namespace {

// A run refused at the manifest: exit 1, the log's reason and the box, no download asked for,
// nothing on the machine changed.
void ExpectRefusedManifest(const UserMachine& machine, const NginxFixture& nginx, const std::string& logLine,
                           const std::string& box) {
    const auto before = Installed(machine);
    const size_t requestsBefore = nginx.Requests().size();
    const std::string log = machine.Path("out/refused.log");
    const RunResult run = Install(machine, nginx, log);
    EXPECT_EQ(run.status, 1) << run.err;
    EXPECT_EQ(OwnLines(run.err), Lines{"Verification failure: " + box});
    const Lines lines = ReadLines(log);
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines[lines.size() - 2], logLine);
    EXPECT_EQ(lines.back(), "Verification failure: " + box);
    EXPECT_EQ(RequestLines(nginx, requestsBefore), (Lines{"GET /RELEASE HTTP/1.0", "GET /RELEASE.sig HTTP/1.0"}));
    EXPECT_EQ(Installed(machine), before);
}

}  // namespace

TEST(ReleaseManifest, AnOlderOrAnotherManifestOfTheSameSerialIsARollbackAndRefused) {
    NginxFixture nginx;
    ServeSigned(nginx, "--serial 5");
    UserMachine machine;
    ASSERT_EQ(Install(machine, nginx, machine.Path("out/first.log")).status, 0);
    const std::string record = ReadFileBytes(AcceptedRecord(machine));
    EXPECT_EQ(record.substr(0, 24), "qvl-accepted 1\nserial 5\n");

    // The same manifest again is no rollback.
    ASSERT_EQ(Install(machine, nginx, machine.Path("out/again.log")).status, 0);
    EXPECT_EQ(ReadFileBytes(AcceptedRecord(machine)), record);

    // An older release, validly signed, with the older wallet it names.
    const std::string wallet5 = ReadFileBytes(nginx.Root() / "quorvale-qt.exe");
    nginx.WriteFile("quorvale-qt.exe", "#!/bin/sh\necho 'the wallet with the hole'\n");
    BuildKey().SignRelease(nginx.Root(), "--serial 4");
    ExpectRefusedManifest(machine, nginx, "the release list is older than the one accepted before: serial 4 is below 5",
                          "the release list is older than the one accepted before (serial 4 < 5) - nothing was downloaded");
    EXPECT_EQ(ReadFileBytes(machine.Home() + "/Quorvale/quorvale-qt.exe"), wallet5);

    // Serial 5 again, but not the manifest accepted as 5.
    BuildKey().SignRelease(nginx.Root(), "--serial 5");
    ExpectRefusedManifest(machine, nginx, "the release list is not the one accepted before under serial 5",
                          "the release list differs from the one accepted under serial 5 - nothing was downloaded");

    // A newer one installs and is remembered.
    BuildKey().SignRelease(nginx.Root(), "--serial 6");
    ASSERT_EQ(Install(machine, nginx, machine.Path("out/newer.log")).status, 0);
    EXPECT_EQ(ReadFileBytes(AcceptedRecord(machine)).substr(0, 24), "qvl-accepted 1\nserial 6\n");
    EXPECT_EQ(ReadFileBytes(machine.Home() + "/Quorvale/quorvale-qt.exe"), "#!/bin/sh\necho 'the wallet with the hole'\n");

    // A lost record is no error: the next manifest starts it again.
    fs::remove(AcceptedRecord(machine));
    BuildKey().SignRelease(nginx.Root(), "--serial 2");
    ASSERT_EQ(Install(machine, nginx, machine.Path("out/lost.log")).status, 0);
    EXPECT_EQ(ReadFileBytes(AcceptedRecord(machine)).substr(0, 24), "qvl-accepted 1\nserial 2\n");
}

TEST(ReleaseManifest, AnExpiredManifestIsRefused) {
    NginxFixture nginx;
    ServeSigned(nginx, "--serial 5");
    UserMachine machine;
    ASSERT_EQ(Install(machine, nginx, machine.Path("out/first.log")).status, 0);
    // Newer, validly signed, but kept past its date.
    std::vector<ServedFile> files = Release();
    ServeManifest(nginx, Manifest(files, "6", "2026-01-01T00:00:00Z"));
    ExpectRefusedManifest(machine, nginx, "the release list has expired: it was valid until 2026-01-01T00:00:00Z",
                          "the release list expired on 2026-01-01T00:00:00Z - nothing was downloaded");
    // The refusal recorded nothing: serial 5 is still the one accepted.
    EXPECT_EQ(ReadFileBytes(AcceptedRecord(machine)).substr(0, 24), "qvl-accepted 1\nserial 5\n");
}

TEST(ReleaseManifest, EitherBuiltInKeyMaySignAndNoOther) {
    NginxFixture nginx;
    for (const ServedFile& f : Release()) nginx.WriteFile(f.name, f.bytes);
    SecondBuildKey().SignRelease(nginx.Root(), "--serial 10");
    UserMachine machine;
    const std::string log = machine.Path("out/second-key.log");
    const RunResult run = Install(machine, nginx, log);
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_TRUE(Has(ReadLines(log), "checksum verified: quorvale-qt.exe"));
    EXPECT_EQ(ReadFileBytes(machine.Home() + "/Quorvale/quorvale-qt.exe"), kWallet);

    TempDir keys;
    const OpensslKey third = OpensslKey::Generate(keys.Path(), "third");
    third.SignRelease(nginx.Root(), "--serial 11");
    ExpectRefusedManifest(machine, nginx, "the release list failed verification: the signature matches none of the publisher's keys",
                          "the release list failed verification - nothing was downloaded");
}

TEST(ReleaseManifest, AContentLengthOtherThanTheSignedSizeIsRefused) {
    // The server's file grew after signing: nginx announces one byte more.
    NginxFixture nginx;
    ServeSigned(nginx);
    UserMachine machine;
    ASSERT_EQ(Install(machine, nginx, machine.Path("out/first.log")).status, 0);
    nginx.WriteFile("quorvale-qt.exe", kWallet + "#");
    nginx.WriteFile("qvlchain.exe", ChainArchive().substr(1));
    fs::remove_all(machine.AppData() + "/Quorvale/blocks");
    const auto withoutBlocks = Installed(machine);
    const std::string log = machine.Path("out/second.log");
    const RunResult run = Install(machine, nginx, log);
    EXPECT_EQ(run.status, 1) << run.err;
    EXPECT_EQ(OwnLines(run.err), (Lines{"Download failure: could not download wallet", "Download failure: could not download blockchain"}));
    const Lines lines = ReadLines(log);
    const std::string wallet = std::to_string(kWallet.size());
    const std::string chain = std::to_string(ChainArchive().size());
    EXPECT_TRUE(Has(lines, "size mismatch: quorvale-qt.exe was not installed (the server announced " + std::to_string(kWallet.size() + 1) +
                               " bytes, the release list says " + wallet + ")"));
    EXPECT_TRUE(Has(lines, "size mismatch: qvlchain.exe was not installed (the server announced " +
                               std::to_string(ChainArchive().size() - 1) + " bytes, the release list says " + chain + ")"));
    EXPECT_FALSE(Has(lines, "unzipping blockchain - this will take a while..."));
    EXPECT_EQ(Installed(machine), withoutBlocks);
}

namespace {

// The manifest and its signature, and one scripted connection each for the files after them.
struct ScriptedRelease {
    std::string manifest;
    std::string signature;
};

ScriptedRelease SignedChainOnly() {
    const std::string manifest = Manifest({{"qvlchain.exe", ChainArchive()}}, "3");
    return {manifest, BuildKey().Sign(manifest)};
}

ScriptedServer::Script Replying(const std::string& body) {
    return ScriptedServer::Script()
        .ReadUntil("\r\n\r\n")
        .Send("HTTP/1.0 200 OK\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body)
        .Close();
}

RunResult RunThroughProxy(const UserMachine& machine, const ScriptedServer& proxy, const std::string& log) {
    const std::string base = "http://127.0.0.1:" + std::to_string(PickFreeLoopbackPort()) + "/";
    return machine.Run(QVLSETUP_SIGNED, {"--unattended", "--select", "blockchain", "--log", log},
                       {{"QVL_TEST_BASE_URL", base}, {"http_proxy", "http://127.0.0.1:" + std::to_string(proxy.Port())}});
}

}  // namespace

TEST(ReleaseManifest, AnEndlessBodyIsEndedAtTheSignedSizeAndAShortOneRefused) {
    const ScriptedRelease release = SignedChainOnly();
    const size_t size = ChainArchive().size();
    UserMachine machine;
    struct Case {
        std::string what;
        ScriptedServer::Script chain;
        std::string reason;
    };
    // No length and no close: 8 MiB more than signed, then the connection held open; the
    // client must end it itself (the server would wait far longer than the run's bound).
    std::vector<Case> cases;
    cases.push_back({"endless",
                     ScriptedServer::Script()
                         .ReadUntil("\r\n\r\n")
                         .Send("HTTP/1.0 200 OK\r\n\r\n" + ChainArchive() + std::string(8 << 20, 'e'))
                         .WaitForRelease(),
                     "the body ran past " + std::to_string(size) + " bytes"});
    cases.push_back({"short",
                     ScriptedServer::Script()
                         .ReadUntil("\r\n\r\n")
                         .Send("HTTP/1.0 200 OK\r\n\r\n" + ChainArchive().substr(0, size - 1))
                         .Close(),
                     "the body ended after " + std::to_string(size - 1) + " bytes"});
    for (Case& c : cases) {
        SCOPED_TRACE(c.what);
        ScriptedServer proxy({Replying(release.manifest), Replying(release.signature), c.chain});
        proxy.SetStepTimeout(300000);
        const std::string log = machine.Path("out/" + c.what + ".log");
        const RunResult run = RunThroughProxy(machine, proxy, log);
        EXPECT_EQ(run.status, 1) << run.err;
        EXPECT_EQ(OwnLines(run.err), Lines{"Download failure: could not download blockchain"});
        const Lines lines = ReadLines(log);
        EXPECT_TRUE(Has(lines, "size mismatch: qvlchain.exe was not installed (" + c.reason + ", the release list says " +
                                   std::to_string(size) + ")"));
        EXPECT_FALSE(Has(lines, "unzipping blockchain - this will take a while..."));
        // The bar never went past the signed size.
        for (const std::string& line : lines) {
            if (line.rfind("Max=", 0) == 0) {
                EXPECT_EQ(line.substr(0, line.find(' ')), "Max=" + std::to_string(size)) << line;
            }
        }
        EXPECT_FALSE(fs::exists(machine.AppData() + "/qvlchain.exe"));
        // Only the record of the accepted release, no staged file.
        EXPECT_EQ(Installed(machine).size(), 1u);
        proxy.Release();
    }
}
