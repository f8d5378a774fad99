#include "installer/LogFile.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace qvl {

LogFile::~LogFile() {
    if (fd_ >= 0) ::close(static_cast<int>(fd_));
}

bool LogFile::Open(const std::string& path, std::string& why) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd < 0) {
        why = std::strerror(errno);
        return false;
    }
    if (fd_ >= 0) ::close(static_cast<int>(fd_));
    fd_ = fd;
    path_ = path;
    failureReported_ = false;
    return true;
}

void LogFile::WriteLine(const std::string& line) noexcept {
    if (fd_ < 0) return;
    try {
        const std::string bytes = line + "\n";
        size_t done = 0;
        while (done < bytes.size()) {
            const ssize_t n = ::write(static_cast<int>(fd_), bytes.data() + done, bytes.size() - done);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) {
                if (!failureReported_) {
                    failureReported_ = true;
                    std::fprintf(stderr, "qvlsetup: cannot write to the log file %s: %s\n", path_.c_str(),
                                 n < 0 ? std::strerror(errno) : "nothing was written");
                }
                return;
            }
            done += static_cast<size_t>(n);
        }
    } catch (...) {
        // Out of memory for the line: the log file misses it, the installer goes on.
    }
}

}  // namespace qvl
