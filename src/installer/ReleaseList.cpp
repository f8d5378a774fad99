#include "installer/ReleaseList.h"

namespace qvl {

namespace {

int HexDigit(char c, bool upperToo) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (upperToo && c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Exactly 2 * N hex digits into N bytes.
template <size_t N>
std::optional<std::array<uint8_t, N>> Bytes(std::string_view hex, bool upperToo) {
    if (hex.size() != 2 * N) return std::nullopt;
    std::array<uint8_t, N> out{};
    for (size_t i = 0; i < N; ++i) {
        const int high = HexDigit(hex[2 * i], upperToo);
        const int low = HexDigit(hex[2 * i + 1], upperToo);
        if (high < 0 || low < 0) return std::nullopt;
        out[i] = static_cast<uint8_t>(high << 4 | low);
    }
    return out;
}

// A name for a file of the release folder: no folder part, nothing a line or a path could be
// bent by.
bool PlainName(std::string_view name) {
    if (name.empty() || name == "." || name == "..") return false;
    for (const char c : name)
        if (c == '/' || c == '\\' || static_cast<unsigned char>(c) < 0x20 || c >= 0x7f) return false;
    return true;
}

// The fixed-width digits of a time field, within [low, high].
std::optional<int> Field(std::string_view text, size_t at, size_t width, int low, int high) {
    int value = 0;
    for (size_t i = at; i < at + width; ++i) {
        if (text[i] < '0' || text[i] > '9') return std::nullopt;
        value = value * 10 + (text[i] - '0');
    }
    if (value < low || value > high) return std::nullopt;
    return value;
}

// Days from 1970-01-01 to the civil date (proleptic Gregorian).
int64_t DaysFromCivil(int64_t y, int m, int d) {
    y -= m <= 2 ? 1 : 0;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const int64_t yoe = y - era * 400;
    const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

// "YYYY-MM-DDTHH:MM:SSZ" as seconds since the epoch; nullopt for any other text or an
// impossible date.
std::optional<int64_t> UtcTime(std::string_view text) {
    if (text.size() != 20 || text[4] != '-' || text[7] != '-' || text[10] != 'T' || text[13] != ':' ||
        text[16] != ':' || text[19] != 'Z')
        return std::nullopt;
    const auto year = Field(text, 0, 4, 1970, 9999);
    const auto month = Field(text, 5, 2, 1, 12);
    const auto day = Field(text, 8, 2, 1, 31);
    const auto hour = Field(text, 11, 2, 0, 23);
    const auto minute = Field(text, 14, 2, 0, 59);
    const auto second = Field(text, 17, 2, 0, 59);
    if (!year || !month || !day || !hour || !minute || !second) return std::nullopt;
    const bool leap = (*year % 4 == 0 && *year % 100 != 0) || *year % 400 == 0;
    static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (*day > kDays[*month - 1] + (*month == 2 && leap ? 1 : 0)) return std::nullopt;
    return DaysFromCivil(*year, *month, *day) * 86400 + *hour * 3600 + *minute * 60 + *second;
}

// The text after `word` and one space, when the line starts so.
std::optional<std::string_view> After(std::string_view line, std::string_view word) {
    if (line.size() <= word.size() || line.substr(0, word.size()) != word || line[word.size()] != ' ')
        return std::nullopt;
    return line.substr(word.size() + 1);
}

}  // namespace

std::optional<int64_t> ReleaseList::Decimal(std::string_view text) {
    if (text.empty() || text.size() > 19 || (text.size() > 1 && text[0] == '0')) return std::nullopt;
    uint64_t value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        value = value * 10 + static_cast<uint64_t>(c - '0');
    }
    if (value > static_cast<uint64_t>(INT64_MAX)) return std::nullopt;
    return static_cast<int64_t>(value);
}

std::string ReleaseList::Hex(const platform::Sha256Digest& digest) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string out;
    for (const uint8_t b : digest) {
        out += kDigits[b >> 4];
        out += kDigits[b & 15];
    }
    return out;
}

std::optional<platform::Sha256Digest> ReleaseList::DigestFromHex(std::string_view hex) { return Bytes<32>(hex, false); }

std::optional<std::vector<platform::P256PublicKey>> ReleaseList::KeysFromHex(std::string_view hex) {
    std::vector<platform::P256PublicKey> keys;
    for (size_t start = 0;;) {
        const size_t comma = hex.find(',', start);
        const std::optional<platform::P256PublicKey> key = Bytes<64>(hex.substr(start, comma - start), true);
        if (!key) return std::nullopt;
        keys.push_back(*key);
        if (comma == std::string_view::npos) return keys;
        start = comma + 1;
    }
}

std::optional<ReleaseList> ReleaseList::Verified(const std::vector<platform::P256PublicKey>& keys,
                                                 std::string_view text, std::string_view signature, std::string& why) {
    bool signedByOne = false;
    for (const platform::P256PublicKey& key : keys)
        if (!signedByOne && platform::VerifyP256Sha256(key, text, signature)) signedByOne = true;
    if (!signedByOne) {
        why = keys.size() == 1 ? "the signature does not match the publisher's key"
                               : "the signature matches none of the publisher's keys";
        return std::nullopt;
    }
    return Parse(text, why);
}

std::optional<ReleaseList> ReleaseList::Parse(std::string_view text, std::string& why) {
    if (text.empty() || text.back() != '\n') {
        why = "the manifest does not end with a line end";
        return std::nullopt;
    }
    ReleaseList list;
    size_t lineNumber = 0;
    for (size_t start = 0; start < text.size();) {
        ++lineNumber;
        const size_t end = text.find('\n', start);
        const std::string_view line = text.substr(start, end - start);
        start = end + 1;
        const std::string bad = "line " + std::to_string(lineNumber) + " is not ";
        for (const char c : line)
            if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) >= 0x7f) {
                why = bad + "plain ASCII text";
                return std::nullopt;
            }
        if (lineNumber == 1) {
            if (line != "qvl-release 1") {
                why = bad + "\"qvl-release 1\"";
                return std::nullopt;
            }
        } else if (lineNumber == 2) {
            const auto value = After(line, "serial");
            const std::optional<int64_t> serial = value ? Decimal(*value) : std::nullopt;
            if (!serial || *serial < 1) {
                why = bad + "a serial from 1 to 2^63-1";
                return std::nullopt;
            }
            list.serial_ = *serial;
        } else if (lineNumber == 3) {
            const auto value = After(line, "expires");
            const std::optional<int64_t> expires = value ? UtcTime(*value) : std::nullopt;
            if (!expires) {
                why = bad + "an expiry time (expires YYYY-MM-DDTHH:MM:SSZ)";
                return std::nullopt;
            }
            list.expires_ = *expires;
            list.expiresText_ = std::string(*value);
        } else {
            // file <64 hex> <size> <name>
            const auto rest = After(line, "file");
            const auto digest = rest && rest->size() > 65 && (*rest)[64] == ' ' ? Bytes<32>(rest->substr(0, 64), false)
                                                                                 : std::nullopt;
            const std::string_view tail = digest ? rest->substr(65) : std::string_view();
            const size_t space = tail.find(' ');
            const auto size = space == std::string_view::npos ? std::nullopt : Decimal(tail.substr(0, space));
            const std::string name(size ? tail.substr(space + 1) : std::string_view());
            if (!size || !PlainName(name)) {
                why = bad + "a file line (file <sha256> <size> <name>)";
                return std::nullopt;
            }
            if (!list.files_.emplace(name, ReleaseFile{*digest, *size}).second) {
                why = name + " is listed twice";
                return std::nullopt;
            }
        }
    }
    if (list.files_.empty()) {
        why = "the manifest names no file";
        return std::nullopt;
    }
    platform::Sha256 hasher;
    hasher.Update(text.data(), text.size());
    list.digest_ = hasher.Final();
    return list;
}

const ReleaseFile* ReleaseList::Find(const std::string& name) const {
    const auto found = files_.find(name);
    return found == files_.end() ? nullptr : &found->second;
}

}  // namespace qvl
