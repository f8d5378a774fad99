#include "installer/ReleaseList.h"

namespace qvl {

namespace {

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Exactly 2 * N hex digits into N bytes.
template <size_t N>
std::optional<std::array<uint8_t, N>> Bytes(std::string_view hex) {
    if (hex.size() != 2 * N) return std::nullopt;
    std::array<uint8_t, N> out{};
    for (size_t i = 0; i < N; ++i) {
        const int high = HexDigit(hex[2 * i]);
        const int low = HexDigit(hex[2 * i + 1]);
        if (high < 0 || low < 0) return std::nullopt;
        out[i] = static_cast<uint8_t>(high << 4 | low);
    }
    return out;
}

// A name as sha256sum writes it for a file of the folder: no folder part, nothing a line or a
// path could be bent by. (sha256sum marks names with a backslash or a line break by a leading
// "\"; those are not release names.)
bool PlainName(std::string_view name) {
    if (name.empty() || name == "." || name == "..") return false;
    for (const char c : name)
        if (c == '/' || c == '\\' || static_cast<unsigned char>(c) < 0x20 || c == 0x7f) return false;
    return true;
}

}  // namespace

std::optional<platform::P256PublicKey> ReleaseList::KeyFromHex(std::string_view hex) { return Bytes<64>(hex); }

std::optional<ReleaseList> ReleaseList::Verified(const platform::P256PublicKey& key, std::string_view text,
                                                 std::string_view signature, std::string& why) {
    if (!platform::VerifyP256Sha256(key, text, signature)) {
        why = "the signature does not match the publisher's key";
        return std::nullopt;
    }
    ReleaseList list;
    size_t lineNumber = 0;
    for (size_t start = 0; start < text.size();) {
        ++lineNumber;
        const size_t end = text.find('\n', start);
        const std::string_view line = text.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start);
        start = end == std::string_view::npos ? text.size() : end + 1;
        const std::optional<platform::Sha256Digest> digest = Bytes<32>(line.substr(0, 64));
        const bool separator = line.size() > 66 && line[64] == ' ' && (line[65] == ' ' || line[65] == '*');
        const std::string name(separator ? line.substr(66) : std::string_view());
        if (!digest || !separator || !PlainName(name)) {
            why = "line " + std::to_string(lineNumber) + " is not a file line";
            return std::nullopt;
        }
        const auto [place, added] = list.files_.emplace(name, *digest);
        if (!added && place->second != *digest) {
            why = name + " is listed twice with different digests";
            return std::nullopt;
        }
    }
    if (list.files_.empty()) {
        why = "the list names no file";
        return std::nullopt;
    }
    return list;
}

const platform::Sha256Digest* ReleaseList::Find(const std::string& name) const {
    const auto found = files_.find(name);
    return found == files_.end() ? nullptr : &found->second;
}

}  // namespace qvl
