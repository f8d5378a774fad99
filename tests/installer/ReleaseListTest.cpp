// Reading a signed SHA256SUMS: only a list whose signature checks out is read, and it is read
// strictly (a line the installer does not understand refuses the whole list).
#include "support/PlatformSkip.h"
#if QVL_TEST_LINUX
#include <gtest/gtest.h>

#include <string>

#include "installer/ReleaseList.h"
#include "support/OpensslSigner.h"
#include "support/TempDir.h"

using namespace qvl;
using namespace qvl::test;

namespace {

const std::string kDigestA = "ca978112ca1bbdcafac231b39a23dc4da786eff8147c4e72b9807785afee48bb";  // "a"
const std::string kDigestB = "3e23e8160039594a33894f6564e1b1348bbd7a0088d42c4acb73eeaed59c009d";  // "b"

class ReleaseListTest : public ::testing::Test {
protected:
    std::optional<ReleaseList> Read(const std::string& text) {
        why.clear();
        return ReleaseList::Verified(key.PublicPoint(), text, key.Sign(text), why);
    }
    TempDir dir;
    OpensslKey key = OpensslKey::Generate(dir.Path());
    std::string why;
};

}  // namespace

TEST_F(ReleaseListTest, ReadsSha256sumsOwnFormatAndFindsByExactName) {
    const std::optional<ReleaseList> list = Read(kDigestA + "  qvlloader.exe\n" + kDigestB + " *quorvale-qt.exe\n");
    ASSERT_TRUE(list) << why;
    EXPECT_EQ(list->Size(), 2u);
    ASSERT_NE(list->Find("qvlloader.exe"), nullptr);
    EXPECT_EQ((*list->Find("qvlloader.exe"))[0], 0xca);
    EXPECT_EQ((*list->Find("quorvale-qt.exe"))[31], 0x9d);
    EXPECT_EQ(list->Find("QVLLOADER.EXE"), nullptr);
    EXPECT_EQ(list->Find("qvlloader.ex"), nullptr);
    EXPECT_EQ(list->Find(""), nullptr);
    // The last line may lack its line end; the same file twice with the same digest is fine.
    EXPECT_TRUE(Read(kDigestA + "  x\n" + kDigestA + "  x")) << why;
}

TEST_F(ReleaseListTest, RefusesTheWholeListForOneLineItDoesNotUnderstand) {
    const std::string good = kDigestA + "  qvlloader.exe\n";
    for (const std::string& bad : {
             kDigestA + " qvlloader.exe\n",             // one space
             kDigestA.substr(1) + "  x\n",              // 63 digits
             "g" + kDigestA.substr(1) + "  x\n",        // not hex
             kDigestA + "  \n",                         // no name
             std::string("\n"),                         // empty line
             kDigestA + "  x\r\n",                      // a CR in the name
             kDigestA + "  ../quorvale-qt.exe\n",       // a folder part
             kDigestA + "  sub/x\n",
             "\\" + kDigestA + "  a\\\\b\n",            // sha256sum's escaped name
             kDigestA + "  x\n" + kDigestB + "  x\n",   // one name, two digests
         }) {
        EXPECT_FALSE(Read(good + bad)) << bad;
        EXPECT_FALSE(why.empty());
    }
    EXPECT_FALSE(Read(""));
    EXPECT_EQ(why, "the list names no file");
}

TEST_F(ReleaseListTest, RefusesATextTheKeyDidNotSign) {
    const std::string text = kDigestA + "  qvlloader.exe\n";
    const OpensslKey other = OpensslKey::Generate(dir.Path(), "other");
    EXPECT_FALSE(ReleaseList::Verified(key.PublicPoint(), text, other.Sign(text), why));
    EXPECT_EQ(why, "the signature does not match the publisher's key");
    EXPECT_FALSE(ReleaseList::Verified(key.PublicPoint(), text + " ", key.Sign(text), why));
    EXPECT_FALSE(ReleaseList::Verified(key.PublicPoint(), text, "", why));
}

TEST(ReleaseKey, TakesExactlyTheBuildsHexForm) {
    const std::string hex(128, 'a');
    ASSERT_TRUE(ReleaseList::KeyFromHex(hex));
    EXPECT_EQ((*ReleaseList::KeyFromHex(hex))[0], 0xaa);
    EXPECT_EQ((*ReleaseList::KeyFromHex(std::string(64, '0') + std::string(64, 'F')))[63], 0xff);
    EXPECT_FALSE(ReleaseList::KeyFromHex(""));
    EXPECT_FALSE(ReleaseList::KeyFromHex(hex.substr(1)));
    EXPECT_FALSE(ReleaseList::KeyFromHex(hex + "a"));
    EXPECT_FALSE(ReleaseList::KeyFromHex(std::string(127, 'a') + "g"));
}

#else
QVL_TESTS_SKIPPED_HERE(ReleaseList, "signatures made at test time need the openssl program on the Linux side")
#endif
