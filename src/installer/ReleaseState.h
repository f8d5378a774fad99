#pragma once
// What the installer remembers of the release manifests it accepted: the highest serial and the
// digest of the manifest that carried it, in a small file of its data folder. A manifest with a
// lower serial, or the same serial and other bytes, is a replay (a rollback to a release with a
// known hole). The file is replaced whole and flushed to disk before it replaces the old one,
// so a crash leaves the old record or the new one.
#include <cstdint>
#include <optional>
#include <string>

#include "platform/ReleaseSignature.h"

namespace qvl {

class ReleaseState {
public:
    struct Accepted {
        int64_t serial = 0;
        platform::Sha256Digest digest{};
    };

    // `path`: a Windows or host path of the record.
    explicit ReleaseState(std::string path) : path_(std::move(path)) {}

    // The record, or nullopt when there is none (a new user, a wiped folder) or the file holds
    // something else: losing the record is not an error, the next manifest starts it again.
    std::optional<Accepted> Load() const;
    // Replaces the record. Raises EFCreateError "Cannot create file <path>" or EWriteError when
    // it cannot be written.
    void Store(const Accepted& accepted) const;

    const std::string& Path() const { return path_; }

private:
    std::string path_;
};

}  // namespace qvl
