#include "platform/ShellFolders.h"

#include <QFile>
#include <QStandardPaths>
#include <QString>

#include <cerrno>
#include <cstdlib>
#include <sys/stat.h>

namespace qvl::platform {

namespace {

bool IsDirectory(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// mkdir -p with mode 0700 for the levels it has to make.
bool MakePath(const std::string& path) {
    if (path.empty()) return false;
    if (IsDirectory(path)) return true;
    for (std::size_t i = 1; i <= path.size(); ++i) {
        if (i != path.size() && path[i] != '/') continue;
        const std::string level = path.substr(0, i);
        if (::mkdir(level.c_str(), 0700) != 0 && errno != EEXIST && !IsDirectory(level))
            return false;
    }
    return IsDirectory(path);
}

std::string WithoutTrailingSlash(std::string path) {
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    return path;
}

std::optional<std::string> DesktopFolder() {
    std::string path;
    // The environment wins over user-dirs.dirs, so that a session (or a test) can point the
    // desktop elsewhere without rewriting the user's configuration. A relative value is
    // invalid for an XDG directory and is ignored.
    const char* env = std::getenv("XDG_DESKTOP_DIR");
    if (env != nullptr && env[0] == '/') {
        path = env;
    } else {
        path = QFile::encodeName(QStandardPaths::writableLocation(QStandardPaths::DesktopLocation))
                   .toStdString();
    }
    path = WithoutTrailingSlash(path);
    if (path.empty() || path[0] != '/' || !IsDirectory(path)) return std::nullopt;
    return path;
}

std::optional<std::string> ApplicationsFolder() {
    std::string path = WithoutTrailingSlash(
        QFile::encodeName(QStandardPaths::writableLocation(QStandardPaths::ApplicationsLocation))
            .toStdString());
    if (path.empty() || path[0] != '/' || !MakePath(path)) return std::nullopt;
    return path;
}

std::optional<std::string> NonEmpty(const char* value) {
    if (!value || !*value) return std::nullopt;
    return std::string(value);
}

// The XDG data home; a relative XDG_DATA_HOME is invalid and ignored.
std::optional<std::string> ApplicationDataFolder() {
    std::optional<std::string> path = NonEmpty(std::getenv("XDG_DATA_HOME"));
    if (!path || (*path)[0] != '/') {
        path = NonEmpty(std::getenv("HOME"));
        if (!path || (*path)[0] != '/') return std::nullopt;
        while (!path->empty() && path->back() == '/') path->pop_back();
        *path += "/.local/share";
    }
    *path = WithoutTrailingSlash(*path);
    (void)MakePath(*path);  // a failure shows when the caller makes its folder below it
    return path;
}

}  // namespace

std::optional<std::string> GetSpecialFolderPath(int csidl) noexcept {
    try {
        switch (csidl) {
        case kCsidlDesktopDirectory: return DesktopFolder();
        case kCsidlPrograms: return ApplicationsFolder();
        case kCsidlAppData: return ApplicationDataFolder();
        default: return std::nullopt;
        }
    } catch (...) {
        // Only allocation can fail here; a folder we cannot name is a folder we do not use.
        return std::nullopt;
    }
}

}  // namespace qvl::platform
