#pragma once
// The two pieces of cryptography a signed release needs, from the platform's own library:
// an incremental SHA-256 and the check of an ECDSA P-256 signature over SHA-256. Linux uses
// OpenSSL's libcrypto, Windows CNG (BCrypt); nothing here is written by hand.
//
// Forms chosen so that both libraries take them without a parser of our own:
// - The public key is the curve point, uncompressed, without the 0x04 prefix: X || Y, 32 bytes
//   each, big-endian (64 bytes). The build extracts it from the publisher's PEM with the openssl
//   command line. CNG imports it as BCRYPT_ECCPUBLIC_BLOB (a header, then X, then Y); OpenSSL
//   as an encoded point (0x04 || X || Y) on prime256v1.
// - The signature is DER (SEQUENCE of the INTEGERs r and s), as `openssl dgst -sha256 -sign`
//   writes it. CNG wants r || s, 32 bytes each: the Windows side converts (strictly: a DER
//   that is not canonical is refused there as OpenSSL refuses it).
#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>

namespace qvl::platform {

using Sha256Digest = std::array<uint8_t, 32>;
using P256PublicKey = std::array<uint8_t, 64>;

class Sha256 {
public:
    Sha256();
    ~Sha256();
    Sha256(const Sha256&) = delete;
    Sha256& operator=(const Sha256&) = delete;

    // Starts over, as a fresh hasher.
    void Reset();
    void Update(const void* data, size_t length);
    // The digest of everything given since the last Reset; the hasher then starts over.
    Sha256Digest Final();
    // Bytes given since the last Reset.
    uint64_t Length() const { return length_; }

private:
    struct State;
    std::unique_ptr<State> state_;
    uint64_t length_ = 0;
};

// True only when `derSignature` is a valid ECDSA signature of SHA-256(`message`) by `key`.
// Any malformed input (a key not on the curve, a signature that is not DER) is false.
bool VerifyP256Sha256(const P256PublicKey& key, std::string_view message, std::string_view derSignature);

}  // namespace qvl::platform
