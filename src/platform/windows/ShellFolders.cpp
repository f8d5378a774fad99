#include "platform/ShellFolders.h"

#include "platform/windows/Win32.h"

#include <shlobj.h>

namespace qvl::platform {

std::optional<std::string> GetSpecialFolderPath(int csidl) noexcept {
    if (csidl != kCsidlDesktopDirectory && csidl != kCsidlPrograms && csidl != kCsidlAppData) return std::nullopt;
    LPITEMIDLIST list = nullptr;
    if (FAILED(SHGetSpecialFolderLocation(nullptr, csidl, &list)) || !list) return std::nullopt;
    char path[MAX_PATH] = {};
    const bool found = SHGetPathFromIDListA(list, path) && path[0] != '\0';
    CoTaskMemFree(list);
    if (!found) return std::nullopt;
    std::string folder(path);
    while (folder.size() > 3 && (folder.back() == '\\' || folder.back() == '/')) folder.pop_back();
    return folder;
}

}  // namespace qvl::platform
