// The platform's P-256 signature check against signatures that `openssl dgst -sha256 -sign`
// makes at test time, with new keys each run (Linux: the openssl command line runs beside the
// test; the fixed vectors of ReleaseSignatureTest.cpp cover Windows too).
#include "support/PlatformSkip.h"
#if QVL_TEST_LINUX
#include <gtest/gtest.h>

#include <string>

#include "platform/ReleaseSignature.h"
#include "support/OpensslSigner.h"
#include "support/TempDir.h"

using namespace qvl;
using namespace qvl::test;

namespace {

bool Verify(const platform::P256PublicKey& key, const std::string& message, const std::string& signature) {
    return platform::VerifyP256Sha256(key, message, signature);
}

}  // namespace

TEST(P256Signature, AcceptsOpensslsSignatureAndNothingElse) {
    TempDir dir;
    const OpensslKey key = OpensslKey::Generate(dir.Path(), "publisher");
    const OpensslKey other = OpensslKey::Generate(dir.Path(), "other");
    const std::string message = "ab3f  quorvale-qt.exe\n" + std::string(100000, 'x');
    const std::string signature = key.Sign(message);
    const platform::P256PublicKey point = key.PublicPoint();

    EXPECT_TRUE(Verify(point, message, signature));
    // Another key's signature of the same text, the right signature with the other key.
    EXPECT_FALSE(Verify(point, message, other.Sign(message)));
    EXPECT_FALSE(Verify(other.PublicPoint(), message, signature));
    // Every byte of the message counts, first, middle and last.
    for (const size_t at : {size_t{0}, message.size() / 2, message.size() - 1}) {
        std::string changed = message;
        changed[at] ^= 0x01;
        EXPECT_FALSE(Verify(point, changed, signature)) << at;
    }
    EXPECT_FALSE(Verify(point, message + "\n", signature));
    // A signature cut short, lengthened, emptied, with a flipped byte anywhere, or not DER.
    EXPECT_FALSE(Verify(point, message, signature.substr(0, signature.size() - 1)));
    EXPECT_FALSE(Verify(point, message, signature + '\0'));
    EXPECT_FALSE(Verify(point, message, ""));
    for (size_t at = 0; at < signature.size(); ++at) {
        std::string changed = signature;
        changed[at] ^= 0x40;
        EXPECT_FALSE(Verify(point, message, changed)) << at;
    }
    EXPECT_FALSE(Verify(point, message, std::string(64, '\x11')));
}

TEST(P256Signature, APointOffTheCurveIsNoKey) {
    TempDir dir;
    const OpensslKey key = OpensslKey::Generate(dir.Path());
    const std::string signature = key.Sign("list");
    platform::P256PublicKey point = key.PublicPoint();
    point[63] ^= 0x01;
    EXPECT_FALSE(Verify(point, "list", signature));
    EXPECT_FALSE(Verify(platform::P256PublicKey{}, "list", signature));
}

#else
QVL_TESTS_SKIPPED_HERE(OpensslSignature, "signatures made at test time need the openssl program on the Linux side")
#endif
