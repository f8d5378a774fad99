#include "platform/FileSystem.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cstdlib>
#include <cstring>

#include "framework/HostPath.h"

extern char** environ;

namespace qvl::platform {
namespace {

bool SameIgnoringCase(const char* a, size_t aLength, const std::string& b) {
    if (aLength != b.size()) return false;
    for (size_t i = 0; i < aLength; ++i)
        if (std::toupper(static_cast<unsigned char>(a[i])) != std::toupper(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

}  // namespace

std::optional<std::string> GetEnvironmentVariable(const std::string& name) {
    if (name.empty() || name.find('=') != std::string::npos) return std::nullopt;
    // An exact match wins over one that differs only in case (the host allows both at once).
    if (const char* exact = std::getenv(name.c_str())) return std::string(exact);
    for (char** entry = environ; entry && *entry; ++entry) {
        const char* equals = std::strchr(*entry, '=');
        if (equals && SameIgnoringCase(*entry, static_cast<size_t>(equals - *entry), name))
            return std::string(equals + 1);
    }
    return std::nullopt;
}

uint32_t GetFileAttributes(const std::string& path) {
    if (path.empty()) return kInvalidFileAttributes;
    struct stat info {};
    if (::stat(HostPath(path).c_str(), &info) != 0) return kInvalidFileAttributes;
    if (S_ISDIR(info.st_mode)) return kFileAttributeDirectory;
    // Read-only is a property of the file, as on the original platform: no write permission for
    // its owner. (Whether this process could write it, as root say, is another question.)
    return kFileAttributeArchive | ((info.st_mode & S_IWUSR) ? 0 : kFileAttributeReadOnly);
}

bool CreateDirectory(const std::string& path) {
    std::string host = HostPath(path);
    while (host.size() > 1 && host.back() == '/') host.pop_back();
    if (host.empty()) return false;
    return ::mkdir(host.c_str(), 0777) == 0;
}

}  // namespace qvl::platform
