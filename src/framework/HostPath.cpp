#include "framework/HostPath.h"

#include <cstdlib>

namespace qvl {

std::string HostPath(const std::string& path) {
#ifdef _WIN32
    // On Windows the installer's paths are the system's own.
    return path;
#else
    std::string out = path;
    for (char& c : out)
        if (c == '\\') c = '/';
    if (out.size() >= 2 && (out[0] == 'C' || out[0] == 'c') && out[1] == ':') {
        const char* home = std::getenv("HOME");
        std::string mapped = home ? home : "";
        while (!mapped.empty() && mapped.back() == '/') mapped.pop_back();
        // "C:x" (drive-relative) is taken as relative to the drive's root, like "C:\x".
        if (out.size() == 2 || out[2] != '/') mapped.push_back('/');
        mapped.append(out, 2, std::string::npos);
        out.swap(mapped);
    }
    return out;
#endif
}

}  // namespace qvl
