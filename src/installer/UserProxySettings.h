#pragma once
// The proxy the user chose in the system's own Internet settings, where the system keeps such
// settings (Windows); nothing elsewhere and when none is chosen.
#include <optional>
#include <string>

namespace qvl {

struct UserProxySettings {
    // "host:port" for every scheme, or per scheme: "http=host:port;https=host:port".
    std::string proxy;
    // Hosts to reach directly, separated by ";" (or blanks); "<local>" stands for every host
    // name without a dot.
    std::string bypass;
};

std::optional<UserProxySettings> ReadUserProxySettings();

}  // namespace qvl
