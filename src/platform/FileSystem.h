#pragma once
// The process's environment and the file-system probes of the installer. Paths may be Windows
// paths; they are mapped with HostPath.
#include <cstdint>
#include <optional>
#include <string>

namespace qvl::platform {

constexpr uint32_t kInvalidFileAttributes = 0xFFFFFFFFu;
constexpr uint32_t kFileAttributeDirectory = 16;
constexpr uint32_t kFileAttributeArchive = 32;
constexpr uint32_t kFileAttributeReadOnly = 1;

// The value of an environment variable, the name matched without regard to letter case;
// nothing when it is not set. (Where APPDATA is missing, GetSpecialFolderPath(kCsidlAppData)
// names the folder that stands for it.)
std::optional<std::string> GetEnvironmentVariable(const std::string& name);

// Attribute bits of an existing file (32, plus 1 when it cannot be written) or folder (16);
// on Windows every bit the system reports, as it reports them. kInvalidFileAttributes when
// nothing exists at the path.
uint32_t GetFileAttributes(const std::string& path);

// Creates one folder level; false when it cannot (missing parent, no permission, name taken).
bool CreateDirectory(const std::string& path);

}  // namespace qvl::platform
