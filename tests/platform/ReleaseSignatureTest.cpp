// The platform's SHA-256 and P-256 signature check on fixed vectors, the same on Linux
// (libcrypto) and Windows (CNG, under wine in the tests), where no openssl program runs.
#include <gtest/gtest.h>

#include <string>

#include "platform/ReleaseSignature.h"

using namespace qvl;

namespace {

std::string Hex(const platform::Sha256Digest& d) {
    static const char* digits = "0123456789abcdef";
    std::string out;
    for (const uint8_t b : d) out += {digits[b >> 4], digits[b & 15]};
    return out;
}

std::string Bytes(std::string_view hex) {
    std::string out;
    for (size_t i = 0; i + 1 < hex.size(); i += 2)
        out += static_cast<char>(std::stoi(std::string(hex.substr(i, 2)), nullptr, 16));
    return out;
}

platform::P256PublicKey Point(std::string_view hex) {
    const std::string bytes = Bytes(hex);
    platform::P256PublicKey key{};
    std::copy(bytes.begin(), bytes.end(), key.begin());
    return key;
}

// Made once with the openssl command line and kept: two keys (`openssl ecparam -name prime256v1
// -genkey`, their points from `openssl ec -pubout -outform DER -conv_form uncompressed`) and
// `openssl dgst -sha256 -sign` of kMessage, signed until each DER form of the integers turned up:
// both 32 bytes, both with the 0x00 their high bit needs (33), and s one byte short (31).
const std::string kMessage = "ab3f  quorvale-qt.exe\n";
const platform::P256PublicKey kKey = Point(
    "6f907efc112ec740a1382f4f871afef6c042d8962845d9f4ba52056394db0849"
    "a7c0f730b5cf44b9dfe24507a0f35a8da07ed3f405e8f9b847cad7221b8a9102");
const platform::P256PublicKey kOtherKey = Point(
    "a8312bae6c32611baf1837458c57654ebe00a906e6ed0ac3fc4fe79f402709e6"
    "0996518fc32b32a5758807c071933dd85c0e4288086bf042ac66f54b72b329ec");
const std::string kR = Bytes("5b8f3fba038b16005e871713edd0e72af68a4c507235077eab34c98e6bc355f5");
const std::string kS = Bytes("51a98acace412b18b7bcbf87e89758f68cf315325b46cee7545bd46fe1c7b73c");
const std::string kPlain = Bytes(
    "304402205b8f3fba038b16005e871713edd0e72af68a4c507235077eab34c98e6bc355f5"
    "022051a98acace412b18b7bcbf87e89758f68cf315325b46cee7545bd46fe1c7b73c");
const std::string kPadded = Bytes(
    "3046022100b18e75f2b39520408c163760402b3aea925922cfb00778e1a83a92da4c3fd2b1"
    "022100ef037abad2b130b5e1264d563b8079e82061d4b0498610a201832039000197d6");
const std::string kShortS = Bytes(
    "304302202a2304fa71993a3d0fdcba09be01e652002b677f7bd3db30dcb4de54317b3b56"
    "021f6ad3d0823c63d97a60e27d56871c8e408e524231df4954e3af9e4deaa5d4ef");
const std::string kByOtherKey = Bytes(
    "3044022077c681fd967d564c72f37647bc9992d2994bbe3dbc6d520f0bb6949c0481791d"
    "02204090de7b72f5511fbdb6298a2250b7ce1486a12a59def99d83a4eb78e5af4adf");

// SEQUENCE { INTEGER r, INTEGER s } with the integers' bytes as given.
std::string Der(const std::string& r, const std::string& s) {
    const std::string body = std::string{'\x02', static_cast<char>(r.size())} + r +
                             std::string{'\x02', static_cast<char>(s.size())} + s;
    return std::string{'\x30', static_cast<char>(body.size())} + body;
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

TEST(P256FixedVectors, AcceptsOpensslsSignaturesInEveryIntegerWidth) {
    EXPECT_TRUE(Verify(kKey, kMessage, kPlain));
    EXPECT_TRUE(Verify(kKey, kMessage, kPadded));
    EXPECT_TRUE(Verify(kKey, kMessage, kShortS));
    // The builder below writes exactly what openssl wrote.
    EXPECT_EQ(Der(kR, kS), kPlain);
}

TEST(P256FixedVectors, RefusesAnotherKeyAChangedTextAndEveryFlippedByte) {
    EXPECT_FALSE(Verify(kKey, kMessage, kByOtherKey));
    EXPECT_FALSE(Verify(kOtherKey, kMessage, kPlain));
    EXPECT_TRUE(Verify(kOtherKey, kMessage, kByOtherKey));
    for (size_t at = 0; at < kMessage.size(); ++at) {
        std::string changed = kMessage;
        changed[at] ^= 0x01;
        EXPECT_FALSE(Verify(kKey, changed, kPlain)) << at;
    }
    EXPECT_FALSE(Verify(kKey, kMessage + "\n", kPlain));
    for (const std::string& signature : {kPlain, kPadded, kShortS}) {
        for (size_t at = 0; at < signature.size(); ++at) {
            for (const char bit : {'\x01', '\x80'}) {
                std::string changed = signature;
                changed[at] ^= bit;
                EXPECT_FALSE(Verify(kKey, kMessage, changed)) << at;
            }
        }
    }
    // A point off the curve, and no point at all, verify nothing.
    platform::P256PublicKey offCurve = kKey;
    offCurve[63] ^= 0x01;
    EXPECT_FALSE(Verify(offCurve, kMessage, kPlain));
    EXPECT_FALSE(Verify(platform::P256PublicKey{}, kMessage, kPlain));
}

// The signature is taken only in its one DER encoding: the same r and s written any other way,
// or not in DER at all, is refused (OpenSSL does so; the Windows side converts to r || s and must
// not be laxer).
TEST(P256FixedVectors, RefusesEveryOtherEncodingOfTheSameNumbers) {
    const std::string body = kPlain.substr(2);
    EXPECT_FALSE(Verify(kKey, kMessage, std::string("\x30\x81\x44", 3) + body));  // long length form
    EXPECT_FALSE(Verify(kKey, kMessage, Der(std::string(1, '\0') + kR, kS)));     // a zero not needed
    EXPECT_FALSE(Verify(kKey, kMessage, Der(kR, std::string(1, '\0') + kS)));
    // r of kPadded without its 0x00: a negative number.
    EXPECT_FALSE(Verify(kKey, kMessage, Der(kPadded.substr(5, 32), kPadded.substr(39, 33))));
    EXPECT_FALSE(Verify(kKey, kMessage, kPlain + '\0'));                          // bytes after it
    EXPECT_FALSE(Verify(kKey, kMessage, kPlain.substr(0, kPlain.size() - 1)));
    EXPECT_FALSE(Verify(kKey, kMessage, "\x31" + body));                          // a SET
    EXPECT_FALSE(Verify(kKey, kMessage, kR + kS));                                // r || s, not DER
    EXPECT_FALSE(Verify(kKey, kMessage, ""));
    // Numbers the curve cannot have: zero, and wider than 32 bytes.
    EXPECT_FALSE(Verify(kKey, kMessage, Der(std::string(1, '\0'), kS)));
    EXPECT_FALSE(Verify(kKey, kMessage, Der("\x01" + kR, kS)));
}
