#pragma once
// The publisher's list of release files: SHA256SUMS in sha256sum's own format ("<64 hex
// digits>  <name>" lines; " *<name>" for binary mode is taken too), signed with the publisher's
// P-256 key (SHA256SUMS.sig, DER, as `openssl dgst -sha256 -sign` writes it). A list is only
// ever made from a text whose signature checked out, and is read strictly: one line that is not
// a file line refuses the whole list, since the publisher signed something else than we read.
#include <map>
#include <optional>
#include <string>
#include <string_view>

#include "platform/ReleaseSignature.h"

namespace qvl {

class ReleaseList {
public:
    // The most the installer fetches of the list, and of its signature.
    static constexpr size_t kMaxSize = 64 * 1024;

    // The key from its build-time form: 128 hex digits, X then Y. nullopt for any other text.
    static std::optional<platform::P256PublicKey> KeyFromHex(std::string_view hex);

    // The list, when `signature` is the key's signature of `text` and every line is a file line.
    // Otherwise nullopt, and `why` says what was wrong, for the log.
    static std::optional<ReleaseList> Verified(const platform::P256PublicKey& key, std::string_view text,
                                               std::string_view signature, std::string& why);

    // The digest listed for `name`, or nullptr when the name is not on the list.
    const platform::Sha256Digest* Find(const std::string& name) const;
    size_t Size() const { return files_.size(); }

private:
    std::map<std::string, platform::Sha256Digest> files_;
};

}  // namespace qvl
