#pragma once
// The publisher's release manifest, RELEASE, signed with the publisher's P-256 key (RELEASE.sig,
// DER, as `openssl dgst -sha256 -sign` writes it). ASCII, LF line ends, a final LF:
//
//   qvl-release 1
//   serial <N>                               1 to 2^63-1, decimal; higher is newer
//   expires <YYYY-MM-DDTHH:MM:SSZ>           UTC; the manifest is refused after it
//   file <sha256, 64 lowercase hex> <size> <name>     one or more
//
// A manifest is only ever made from a text whose signature checked out, and is read strictly:
// anything else in it refuses the whole manifest, since the publisher signed something else
// than we read.
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/ReleaseSignature.h"

namespace qvl {

struct ReleaseFile {
    platform::Sha256Digest digest{};
    int64_t size = 0;
};

class ReleaseList {
public:
    // The most the installer fetches of the manifest, and of its signature.
    static constexpr size_t kMaxSize = 64 * 1024;

    // The keys from their build-time form: one or more of 128 hex digits (X then Y), separated
    // by ",". nullopt for any other text.
    static std::optional<std::vector<platform::P256PublicKey>> KeysFromHex(std::string_view hex);

    // The manifest, when one of `keys` signed `text` as `signature` and the text is a manifest.
    // Otherwise nullopt, and `why` says what was wrong, for the log.
    static std::optional<ReleaseList> Verified(const std::vector<platform::P256PublicKey>& keys, std::string_view text,
                                               std::string_view signature, std::string& why);
    // The reading alone, for a text whose signature is checked already (and for the fuzzer).
    static std::optional<ReleaseList> Parse(std::string_view text, std::string& why);

    // The file listed as `name`, or nullptr when the name is not in the manifest.
    const ReleaseFile* Find(const std::string& name) const;
    size_t Size() const { return files_.size(); }
    int64_t Serial() const { return serial_; }
    // Seconds since 1970-01-01T00:00:00Z, and the text the manifest gives.
    int64_t Expires() const { return expires_; }
    const std::string& ExpiresText() const { return expiresText_; }
    // SHA-256 of the manifest's bytes: what tells one manifest of a serial from another.
    const platform::Sha256Digest& Digest() const { return digest_; }

    // The digest as 64 lowercase hex digits, and back (nullopt for any other text).
    static std::string Hex(const platform::Sha256Digest& digest);
    static std::optional<platform::Sha256Digest> DigestFromHex(std::string_view hex);
    // A decimal number from 0 to 2^63-1 without a sign or leading zeros; nullopt otherwise.
    static std::optional<int64_t> Decimal(std::string_view text);

private:
    std::map<std::string, ReleaseFile> files_;
    int64_t serial_ = 0;
    int64_t expires_ = 0;
    std::string expiresText_;
    platform::Sha256Digest digest_{};
};

}  // namespace qvl
