#pragma once
// The HTTP proxy named by the system's Internet settings where it has them (Windows: proxy and
// bypass list), else by the environment, as most Unix programs read it:
//
//   http_proxy, else HTTP_PROXY (an empty value counts as unset): "host:port",
//     "http://host:port" or "http://host:port/". Without a port, 80 (the http default). Refused as
//     malformed, and then not used: another scheme, a user name or password, a path, an IPv6
//     literal, an empty or odd host name, a port that is not 1 to 65535.
//   no_proxy, else NO_PROXY: comma-separated entries, blanks around them ignored, compared
//     without regard to letter case. "*" matches every host. "name" matches the host "name" and
//     every host below it ("example.org" matches "example.org" and "dl.example.org", not
//     "badexample.org"); a leading "." or "*." changes nothing. "name:PORT" matches only when
//     the download server's port (80 when its URL gives none) is PORT. Address ranges
//     ("10.0.0.0/8") are compared as names, so they match nothing.
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace qvl {

struct EnvironmentProxy {
    struct Address {
        std::string host;
        int port = 0;
        bool operator==(const Address&) const = default;
    };

    // The proxy to use; nothing for a direct connection.
    std::optional<Address> proxy;
    // What to log about it, in order: "using proxy HOST:PORT"; or why a proxy that is set is not
    // used ("ignoring http_proxy ...: <reason>", "not using proxy HOST:PORT for HOST (no_proxy)").
    // Empty when no proxy variable is set.
    std::vector<std::string> logLines;

    // A variable's value, or nothing when it is not set.
    using Lookup = std::function<std::optional<std::string>(const std::string& name)>;

    // The proxy for requests to `baseUrl` (an http URL), from the variables `lookup` gives.
    static EnvironmentProxy Resolve(const std::string& baseUrl, const Lookup& lookup);
    // The same from the user's Internet settings when they name an http proxy, else from the
    // process's own environment (names matched exactly, as POSIX has them).
    static EnvironmentProxy FromProcess(const std::string& baseUrl);

    // A setting's name (as the log names it) and value.
    using Setting = std::pair<std::string, std::string>;
    // The decision for one proxy setting and, when one is set, its no_proxy-style list.
    static EnvironmentProxy Decide(const std::string& baseUrl, const Setting& proxy,
                                   const std::optional<Setting>& noProxy);
    // The http proxy of the Internet settings' proxy text ("host:port", or the "http=" entry of
    // a per-scheme list); empty when it names none for http.
    static std::string HttpProxyOf(const std::string& settingsProxy);
    // The Internet settings' bypass list as a no_proxy list for requests to `host`: ";" and
    // blanks become ",", "<local>" names `host` when it has no dot.
    static std::string NoProxyOf(const std::string& bypass, const std::string& host);

    // A proxy value; nothing, with the reason in `why`, when it is malformed.
    static std::optional<Address> ParseProxy(const std::string& value, std::string* why = nullptr);
    // Host (lower case) and port of an http URL ("http://host[:port]/..."); nothing when it is
    // not one.
    static std::optional<Address> UrlHost(const std::string& url);
    // Whether a no_proxy list names the host and port.
    static bool NoProxyMatches(const std::string& list, const std::string& host, int port);
};

}  // namespace qvl
