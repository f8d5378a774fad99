// Fuzzes the reading of a release manifest (ReleaseList::Parse, what the installer does with a
// RELEASE whose signature checked out). A refused text must say why; an accepted one must be
// exactly what the format allows: printable ASCII lines ending in LF, the heading, a serial of
// 1 to 2^63-1, a valid expiry, one file line per file, every file found by its name with the
// size its line gives, and the digest the SHA-256 of the text.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "installer/ReleaseList.h"

namespace {

[[noreturn]] void Fail(const char* what, size_t size) {
    std::fprintf(stderr, "manifest property broken: %s (text of %zu bytes)\n", what, size);
    std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    std::string why;
    const std::optional<qvl::ReleaseList> list = qvl::ReleaseList::Parse(text, why);
    if (!list) {
        if (why.empty()) Fail("a refusal without a reason", size);
        return 0;
    }
    if (text.back() != '\n') Fail("accepted without a final line end", size);
    for (const char c : text)
        if (c != '\n' && (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) >= 0x7f))
            Fail("accepted a byte that is not printable ASCII", size);
    if (text.substr(0, 14) != "qvl-release 1\n") Fail("accepted without the heading", size);
    if (list->Serial() < 1) Fail("accepted a serial below 1", size);
    if (text.find("\nserial " + std::to_string(list->Serial()) + "\n") != 13) Fail("the serial is not line 2's", size);
    if (list->ExpiresText().size() != 20 || text.find("\nexpires " + list->ExpiresText() + "\n") == std::string_view::npos)
        Fail("the expiry is not line 3's", size);
    if (list->Expires() < 0 || list->Expires() > 253402300799) Fail("an expiry out of the years 1970 to 9999", size);

    // Every line after the third is a file line the list holds.
    size_t lines = 0;
    for (size_t start = 0; start < text.size();) {
        const size_t end = text.find('\n', start);
        const std::string_view line = text.substr(start, end - start);
        start = end + 1;
        if (++lines <= 3) continue;
        if (line.substr(0, 5) != "file " || line.size() < 5 + 64 + 3) Fail("a line that is no file line", size);
        const std::string_view rest = line.substr(5 + 64 + 1);
        const std::string name(rest.substr(rest.find(' ') + 1));
        const qvl::ReleaseFile* file = list->Find(name);
        if (!file) Fail("a listed name is not found", size);
        if (qvl::ReleaseList::Hex(file->digest) != line.substr(5, 64)) Fail("a digest differs from its line", size);
        if (std::to_string(file->size) != rest.substr(0, rest.find(' '))) Fail("a size differs from its line", size);
        if (name.find('/') != std::string::npos || name.find('\\') != std::string::npos || name == "." || name == "..")
            Fail("a name with a folder part", size);
    }
    if (lines - 3 != list->Size()) Fail("the file count differs from the file lines", size);
    qvl::platform::Sha256 hasher;
    hasher.Update(text.data(), text.size());
    if (hasher.Final() != list->Digest()) Fail("the digest is not the text's", size);
    return 0;
}
