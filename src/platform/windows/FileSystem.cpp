#include "platform/FileSystem.h"

#include <vector>

#include "platform/windows/Win32.h"

namespace qvl::platform {

std::optional<std::string> GetEnvironmentVariable(const std::string& name) {
    if (name.empty() || name.find('=') != std::string::npos) return std::nullopt;
    // The system matches names without regard to case; APPDATA is always set by it.
    std::vector<char> value(256);
    for (;;) {
        SetLastError(0);
        const DWORD n = GetEnvironmentVariableA(name.c_str(), value.data(), static_cast<DWORD>(value.size()));
        if (n == 0) {
            if (GetLastError() == ERROR_ENVVAR_NOT_FOUND) return std::nullopt;
            return std::string();
        }
        if (n < value.size()) return std::string(value.data(), n);
        value.resize(n);  // n is the size needed, terminating NUL included
    }
}

uint32_t GetFileAttributes(const std::string& path) {
    if (path.empty()) return kInvalidFileAttributes;
    // The system's value as it stands: the installer logs every bit of it.
    return GetFileAttributesA(path.c_str());
}

bool CreateDirectory(const std::string& path) {
    if (path.empty()) return false;
    return CreateDirectoryA(path.c_str(), nullptr) != 0;
}

}  // namespace qvl::platform
