#include "platform/StandardOutput.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace qvl::platform {

std::optional<std::string> StandardOutputFileName() {
    struct stat st {};
    if (::fstat(STDOUT_FILENO, &st) != 0) return std::nullopt;
    if (S_ISFIFO(st.st_mode) || S_ISCHR(st.st_mode)) return "/dev/fd/1";
    if (!S_ISREG(st.st_mode)) return std::nullopt;
    const int flags = ::fcntl(STDOUT_FILENO, F_GETFL);
    if (flags >= 0 && !(flags & O_APPEND) && ::lseek(STDOUT_FILENO, 0, SEEK_CUR) == 0) return "/dev/fd/1";
    return std::nullopt;
}

void UseBinaryStandardOutput() {}  // POSIX streams never translate line ends

}  // namespace qvl::platform
