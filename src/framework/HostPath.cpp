#include "framework/HostPath.h"

#include <cstdlib>

namespace qvl {

std::string HostPath(const std::string& path) {
    std::string out = path;
    for (char& c : out)
        if (c == '\\') c = '/';
    if (out.size() >= 2 && (out[0] == 'C' || out[0] == 'c') && out[1] == ':') {
        const char* home = std::getenv("HOME");
        std::string root = home ? home : "";
        while (!root.empty() && root.back() == '/') root.pop_back();
        std::string rest = out.substr(2);
        // "C:x" (drive-relative) is taken as relative to the drive's root, like "C:\x".
        if (!rest.empty() && rest[0] != '/') rest.insert(rest.begin(), '/');
        if (rest.empty()) rest = "/";
        out = root + rest;
    }
    return out;
}

}  // namespace qvl
