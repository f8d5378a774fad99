// The platform's SHA-256 and P-256 signature check against the openssl command line: digests
// of known texts, and signatures that `openssl dgst -sha256 -sign` made at test time.
#include <gtest/gtest.h>

#include <string>

#include "platform/ReleaseSignature.h"
#include "support/OpensslSigner.h"
#include "support/TempDir.h"

using namespace qvl;
using namespace qvl::test;

namespace {

std::string Hex(const platform::Sha256Digest& d) {
    static const char* digits = "0123456789abcdef";
    std::string out;
    for (const uint8_t b : d) out += {digits[b >> 4], digits[b & 15]};
    return out;
}

bool Verify(const platform::P256PublicKey& key, const std::string& message, const std::string& signature) {
    return platform::VerifyP256Sha256(key, message, signature);
}

}  // namespace

TEST(Sha256, KnownAnswersWholeAndInPiecesAndAfterReset) {
    platform::Sha256 hasher;
    EXPECT_EQ(Hex(hasher.Final()), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    hasher.Update("abc", 3);
    EXPECT_EQ(hasher.Length(), 3u);
    EXPECT_EQ(Hex(hasher.Final()), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    // Final starts over; so does Reset, dropping what was given.
    EXPECT_EQ(hasher.Length(), 0u);
    hasher.Update("garbage", 7);
    hasher.Reset();
    // A million "a" in uneven pieces (the long FIPS 180-2 vector).
    const std::string a(1000000, 'a');
    size_t done = 0;
    for (size_t piece = 1; done < a.size(); piece = piece * 3 % 65537) {
        const size_t n = std::min(piece, a.size() - done);
        hasher.Update(a.data() + done, n);
        done += n;
    }
    EXPECT_EQ(Hex(hasher.Final()), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
}

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
