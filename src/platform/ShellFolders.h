#pragma once
// The user's special folders that the installer puts shortcuts into, looked up by the numbers
// the Windows shell gives them.
#include <optional>
#include <string>

namespace qvl::platform {

constexpr int kCsidlPrograms = 2;            // the applications (Start-menu programs) folder
constexpr int kCsidlDesktopDirectory = 16;   // the desktop folder
constexpr int kCsidlAppData = 26;            // the per-user application-data folder

// The host file-system path of a special folder, without a trailing "/"; nothing when the
// folder is unknown or cannot be used, which callers treat as "no shortcut here".
//  - 16, desktop: $XDG_DESKTOP_DIR when it is set to an absolute path, otherwise the desktop
//    folder of the XDG user directories ($XDG_CONFIG_HOME/user-dirs.dirs, else ~/Desktop).
//    The folder must exist: a desktop that is not there is not created behind the user's back.
//  - 2, programs: the applications folder, $XDG_DATA_HOME/applications (default
//    ~/.local/share/applications). It is created (0700 for each missing level) when missing,
//    as any program writing below the data home is expected to do.
//  - 26, application data: the XDG data home, $XDG_DATA_HOME when it is an absolute path,
//    otherwise $HOME/.local/share; nothing when neither is known. It is created (0700 for each
//    missing level) when missing. The path is given even when it cannot be made, so that what
//    the caller then fails to make below it names where.
//  - any other number: nothing.
// Never throws.
std::optional<std::string> GetSpecialFolderPath(int csidl) noexcept;

}  // namespace qvl::platform
