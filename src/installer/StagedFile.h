#pragma once
// The temporary file a download is written to, beside its target. The body goes there and is
// moved over the target only once the download has succeeded, so that a failed or interrupted
// download never replaces the file that was installed before; on every other way out the
// temporary file is removed.
#include <string>

namespace qvl {

class StagedFile {
public:
    // `target` is a Windows or host path. Creates an empty file under a fresh hidden name in the
    // target's folder ("." + name + "." + six random characters). When it cannot be created (no
    // such folder, no permission) Path() still names it, so that whoever writes it meets the
    // failure. Never throws but for allocation.
    explicit StagedFile(const std::string& target);
    // Removes the temporary file unless it has been committed.
    ~StagedFile();
    StagedFile(const StagedFile&) = delete;
    StagedFile& operator=(const StagedFile&) = delete;

    // Host path of the temporary file.
    const std::string& Path() const { return path_; }

    // Moves the temporary file over the target, flushed to disk first. The file keeps the mode
    // of the file it replaces; a new one gets 0666 less the umask. `executable` adds an execute
    // bit for everyone who may read it, and for the owner in any case. Raises EFCreateError "Cannot create file " +
    // target (the target as given) when the move fails; the temporary file is then removed.
    void Commit(bool executable);

private:
    std::string target_;
    std::string hostTarget_;
    std::string path_;
    bool pending_ = true;
};

}  // namespace qvl
