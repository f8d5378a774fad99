#include "installer/StagedFile.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "framework/Exception.h"
#include "framework/HostPath.h"

namespace qvl {

namespace {

// The process's umask; reading it means setting it, so it is put back at once (nothing else of
// the installer creates files meanwhile: it runs on one thread).
mode_t CurrentUmask() {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return mask;
}

// Flushes the file's contents, so that a crash after the rename cannot leave an empty program.
bool Flush(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    const bool ok = ::fsync(fd) == 0;
    ::close(fd);
    return ok;
}

}  // namespace

StagedFile::StagedFile(const std::string& target) : target_(target), hostTarget_(HostPath(target)) {
    const std::size_t slash = hostTarget_.rfind('/');
    const std::string folder = slash == std::string::npos ? std::string() : hostTarget_.substr(0, slash + 1);
    const std::string name = slash == std::string::npos ? hostTarget_ : hostTarget_.substr(slash + 1);
    // Same folder, so that the move is a rename on one file system; hidden, so that nobody
    // takes the unfinished file for the program.
    path_ = folder + "." + name + ".XXXXXX";
    const int fd = ::mkstemp(path_.data());
    if (fd >= 0) ::close(fd);
}

StagedFile::~StagedFile() {
    if (pending_) ::unlink(path_.c_str());
}

void StagedFile::Commit(bool executable) {
    const mode_t mask = CurrentUmask();
    struct stat old {};
    mode_t mode = ::stat(hostTarget_.c_str(), &old) == 0 && S_ISREG(old.st_mode) ? (old.st_mode & 07777)
                                                                              : (0666 & ~mask);
    // Whoever may read the program may run it; the owner in any case.
    if (executable) mode |= ((mode & 0444) >> 2) | S_IXUSR;
    if (::chmod(path_.c_str(), mode) != 0 || !Flush(path_) || ::rename(path_.c_str(), hostTarget_.c_str()) != 0)
        throw EFCreateError(target_);
    pending_ = false;
}

}  // namespace qvl
