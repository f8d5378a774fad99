#include "installer/ReleaseState.h"

#include "framework/Exception.h"
#include "framework/FileStream.h"
#include "installer/ReleaseList.h"
#include "installer/StagedFile.h"

namespace qvl {

namespace {

constexpr const char* kHeading = "qvl-accepted 1\n";
// Far more than a record takes; a longer file is no record.
constexpr int64_t kMaxRecord = 256;

}  // namespace

std::optional<ReleaseState::Accepted> ReleaseState::Load() const {
    std::string text(kMaxRecord + 1, '\0');
    try {
        TFileStream file(path_, TFileStream::Mode::OpenRead);
        int64_t got = 0;
        while (got <= kMaxRecord) {
            const int64_t n = file.Read(text.data() + got, kMaxRecord + 1 - got);
            if (n <= 0) break;
            got += n;
        }
        text.resize(static_cast<size_t>(got));
    } catch (const Exception&) {
        return std::nullopt;
    }
    // qvl-accepted 1 / serial N / sha256 HEX, each with its LF.
    const std::string heading = kHeading;
    if (text.size() > static_cast<size_t>(kMaxRecord) || text.rfind(heading, 0) != 0) return std::nullopt;
    const size_t serialEnd = text.find('\n', heading.size());
    if (serialEnd == std::string::npos || text.compare(heading.size(), 7, "serial ") != 0) return std::nullopt;
    const std::optional<int64_t> serial =
        ReleaseList::Decimal(std::string_view(text).substr(heading.size() + 7, serialEnd - heading.size() - 7));
    const std::string digestLine = text.substr(serialEnd + 1);
    if (!serial || digestLine.size() != 7 + 64 + 1 || digestLine.rfind("sha256 ", 0) != 0 || digestLine.back() != '\n')
        return std::nullopt;
    const std::optional<platform::Sha256Digest> digest = ReleaseList::DigestFromHex(digestLine.substr(7, 64));
    if (!digest) return std::nullopt;
    return Accepted{*serial, *digest};
}

void ReleaseState::Store(const Accepted& accepted) const {
    const std::string text =
        std::string(kHeading) + "serial " + std::to_string(accepted.serial) + "\nsha256 " + ReleaseList::Hex(accepted.digest) + "\n";
    StagedFile staged(path_);
    {
        TFileStream file(staged.Path(), TFileStream::Mode::Create);
        file.WriteBuffer(text.data(), static_cast<int64_t>(text.size()));
        file.Close();
    }
    staged.Commit(false);
}

}  // namespace qvl
