// Reading a signed RELEASE manifest: only a manifest one of the keys signed is read, and it is
// read strictly (a line the installer does not understand refuses the whole manifest). And the
// record of the accepted serial, which survives a run and a lost file alike.
#include "support/PlatformSkip.h"
#if QVL_TEST_LINUX
#include <gtest/gtest.h>

#include <string>

#include "framework/Exception.h"
#include "installer/ReleaseList.h"
#include "installer/ReleaseState.h"
#include "support/OpensslSigner.h"
#include "support/TempDir.h"

using namespace qvl;
using namespace qvl::test;

namespace {

const std::string kDigestA = "ca978112ca1bbdcafac231b39a23dc4da786eff8147c4e72b9807785afee48bb";  // "a"
const std::string kDigestB = "3e23e8160039594a33894f6564e1b1348bbd7a0088d42c4acb73eeaed59c009d";  // "b"
const std::string kHead = "qvl-release 1\nserial 7\nexpires 2030-02-28T23:59:59Z\n";

class ReleaseListTest : public ::testing::Test {
protected:
    std::optional<ReleaseList> Read(const std::string& text) {
        why.clear();
        return ReleaseList::Verified({key.PublicPoint()}, text, key.Sign(text), why);
    }
    TempDir dir;
    OpensslKey key = OpensslKey::Generate(dir.Path());
    std::string why;
};

}  // namespace

TEST_F(ReleaseListTest, ReadsTheManifestAndFindsByExactName) {
    const std::string text = kHead + "file " + kDigestA + " 1 qvlloader.exe\nfile " + kDigestB + " 9223372036854775807 my wallet\n";
    const std::optional<ReleaseList> list = Read(text);
    ASSERT_TRUE(list) << why;
    EXPECT_EQ(list->Serial(), 7);
    EXPECT_EQ(list->ExpiresText(), "2030-02-28T23:59:59Z");
    EXPECT_EQ(list->Expires(), 1898553599);  // date -u -d 2030-02-28T23:59:59Z +%s
    EXPECT_EQ(list->Size(), 2u);
    ASSERT_NE(list->Find("qvlloader.exe"), nullptr);
    EXPECT_EQ(list->Find("qvlloader.exe")->digest[0], 0xca);
    EXPECT_EQ(list->Find("qvlloader.exe")->size, 1);
    EXPECT_EQ(list->Find("my wallet")->size, INT64_MAX);
    EXPECT_EQ(list->Find("QVLLOADER.EXE"), nullptr);
    EXPECT_EQ(list->Find("qvlloader.ex"), nullptr);
    EXPECT_EQ(ReleaseList::Hex(list->Digest()), Shell("printf '%s' '" + text + "' | sha256sum | cut -c1-64").substr(0, 64));
    // A leap day, the epoch, the largest serial.
    EXPECT_TRUE(Read("qvl-release 1\nserial 9223372036854775807\nexpires 2028-02-29T00:00:00Z\nfile " + kDigestA + " 0 x\n")) << why;
    ASSERT_TRUE(Read("qvl-release 1\nserial 1\nexpires 1970-01-01T00:00:00Z\nfile " + kDigestA + " 0 x\n")) << why;
    EXPECT_EQ(Read("qvl-release 1\nserial 1\nexpires 1970-01-01T00:00:00Z\nfile " + kDigestA + " 0 x\n")->Expires(), 0);
}

TEST_F(ReleaseListTest, RefusesTheWholeManifestForOneThingItDoesNotUnderstand) {
    const std::string file = "file " + kDigestA + " 3 qvlloader.exe\n";
    const std::string good = kHead + file;
    ASSERT_TRUE(Read(good)) << why;
    const auto with = [&](const std::string& from, const std::string& to) {
        std::string text = good;
        text.replace(text.find(from), from.size(), to);
        return text;
    };
    for (const std::string& bad : {
             good.substr(0, good.size() - 1),                         // no final LF
             with("\n", "\r\n"),                                      // CR LF
             with("qvl-release 1", "qvl-release 2"),                  // another format
             with("qvl-release 1\n", ""),                             // no heading
             with("serial 7", "serial 0"), with("serial 7", "serial 07"), with("serial 7", "serial -7"),
             with("serial 7", "serial 9223372036854775808"),          // 2^63
             with("serial 7", "serial  7"), with("serial 7", "serial 7 "), with("serial 7", "Serial 7"),
             with("2030-02-28T23:59:59Z", "2029-02-29T00:00:00Z"),    // no leap day that year
             with("2030-02-28T23:59:59Z", "2030-02-28 23:59:59Z"), with("2030-02-28T23:59:59Z", "2030-02-28T23:59:59"),
             with("2030-02-28T23:59:59Z", "2030-02-28T24:00:00Z"), with("2030-02-28T23:59:59Z", "2030-13-01T00:00:00Z"),
             with("2030-02-28T23:59:59Z", "2030-02-28T23:59:59+01:00"),
             with("expires", "valid"),                                // line 3 another word
             with(file, ""),                                          // no file
             with(file, "file " + kDigestA + "  3 qvlloader.exe\n"),  // two spaces
             with(file, "file " + kDigestA.substr(1) + " 3 x\n"),     // 63 digits
             with(file, "file " + std::string(64, 'A') + " 3 x\n"),   // uppercase hex
             with(file, "file " + kDigestA + " 03 x\n"), with(file, "file " + kDigestA + " 3\n"),
             with(file, "file " + kDigestA + " 3 \n"),                // no name
             with(file, "file " + kDigestA + " 3 ../x\n"), with(file, "file " + kDigestA + " 3 a\\b\n"),
             with(file, "file " + kDigestA + " 3 x\tz\n"), with(file, "file " + kDigestA + " 3 caf\xc3\xa9\n"),
             good + "\n",                                             // an empty line
             good + "comment\n",                                      // an unknown line
             good + "file " + kDigestB + " 3 qvlloader.exe\n",        // one name twice
             good + good.substr(0, kHead.find('\n') + 1),             // a second heading
         }) {
        EXPECT_FALSE(Read(bad)) << bad;
        EXPECT_FALSE(why.empty());
    }
    EXPECT_FALSE(Read(good + "comment\n"));
    EXPECT_EQ(why, "line 5 is not a file line (file <sha256> <size> <name>)");
}

TEST_F(ReleaseListTest, TakesAManifestAnyOfTheKeysSignedAndNoOther) {
    const std::string text = kHead + "file " + kDigestA + " 1 qvlloader.exe\n";
    const OpensslKey second = OpensslKey::Generate(dir.Path(), "second");
    const OpensslKey third = OpensslKey::Generate(dir.Path(), "third");
    const std::vector<platform::P256PublicKey> both = {key.PublicPoint(), second.PublicPoint()};
    EXPECT_TRUE(ReleaseList::Verified(both, text, key.Sign(text), why)) << why;
    EXPECT_TRUE(ReleaseList::Verified(both, text, second.Sign(text), why)) << why;
    EXPECT_FALSE(ReleaseList::Verified(both, text, third.Sign(text), why));
    EXPECT_EQ(why, "the signature matches none of the publisher's keys");
    EXPECT_FALSE(ReleaseList::Verified({key.PublicPoint()}, text, third.Sign(text), why));
    EXPECT_EQ(why, "the signature does not match the publisher's key");
    EXPECT_FALSE(ReleaseList::Verified(both, text + " ", key.Sign(text), why));
    EXPECT_FALSE(ReleaseList::Verified(both, text, "", why));
}

TEST(ReleaseKey, TakesExactlyTheBuildsHexFormOfOneKeyOrMore) {
    const std::string hex(128, 'a');
    ASSERT_TRUE(ReleaseList::KeysFromHex(hex));
    EXPECT_EQ(ReleaseList::KeysFromHex(hex)->size(), 1u);
    EXPECT_EQ((*ReleaseList::KeysFromHex(hex))[0][0], 0xaa);
    const auto two = ReleaseList::KeysFromHex(hex + "," + std::string(64, '0') + std::string(64, 'F'));
    ASSERT_TRUE(two);
    ASSERT_EQ(two->size(), 2u);
    EXPECT_EQ((*two)[1][63], 0xff);
    for (const std::string& bad : {std::string(), hex.substr(1), hex + "a", std::string(127, 'a') + "g", hex + ",",
                                   "," + hex, hex + ",," + hex, hex + ";" + hex})
        EXPECT_FALSE(ReleaseList::KeysFromHex(bad)) << bad;
}

TEST(ReleaseState, KeepsTheAcceptedSerialAndTakesALostOrForeignRecordAsNone) {
    TempDir dir;
    const ReleaseState state((dir / "release-accepted").string());
    EXPECT_FALSE(state.Load());
    ReleaseState::Accepted accepted{9223372036854775807, {}};
    accepted.digest[0] = 0xab;
    accepted.digest[31] = 0x01;
    state.Store(accepted);
    ASSERT_TRUE(state.Load());
    EXPECT_EQ(state.Load()->serial, accepted.serial);
    EXPECT_EQ(state.Load()->digest, accepted.digest);
    const std::string stored = ReadFileBytes(dir / "release-accepted");
    EXPECT_EQ(stored, "qvl-accepted 1\nserial 9223372036854775807\nsha256 ab" + std::string(60, '0') + "01\n");
    // Replaced whole, nothing left beside it.
    state.Store({5, accepted.digest});
    EXPECT_EQ(state.Load()->serial, 5);
    size_t files = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(dir.Path())) ++files;
    EXPECT_EQ(files, 1u);
    for (const std::string& foreign : {std::string(), stored.substr(0, stored.size() - 1), "x" + stored,
                                       stored + "more\n", std::string(300, 'a')}) {
        WriteFileBytes(dir / "release-accepted", foreign);
        EXPECT_FALSE(state.Load()) << foreign;
    }
    // A folder that is not there: the store says so.
    const ReleaseState nowhere((dir / "missing" / "release-accepted").string());
    EXPECT_THROW(nowhere.Store(accepted), Exception);
}

#else
QVL_TESTS_SKIPPED_HERE(ReleaseList, "signatures made at test time need the openssl program on the Linux side")
#endif
