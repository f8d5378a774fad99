#pragma once
// The installer composes Windows paths ("C:\Quorvale\qvlloader.exe") and logs them as they
// are; this is the one place where such a path becomes a path of the host file system.
#include <string>

namespace qvl {

// "\" and "/" are both separators; the drive "C:" is the user's home folder ($HOME), so
// "C:\Quorvale\" is "$HOME/Quorvale/". Any other path is used as it stands after the separators
// are turned into "/". A trailing separator is kept. On Windows the path is used as it stands.
std::string HostPath(const std::string& path);

}  // namespace qvl
