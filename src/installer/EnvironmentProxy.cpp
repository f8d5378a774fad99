#include "installer/EnvironmentProxy.h"

#include <cctype>
#include <cstdlib>

#include "framework/Text.h"
#include "installer/UserProxySettings.h"

namespace qvl {
namespace {

// Proxy settings may come with a line end from a file or the shell.
std::string Trim(const std::string& text) { return Trimmed(text, " \t\r\n"); }

bool StartsWithNoCase(const std::string& text, const std::string& prefix) {
    return text.size() >= prefix.size() && AsciiLower(text.substr(0, prefix.size())) == prefix;
}

// 1 to 65535, decimal digits only; nothing otherwise.
std::optional<int> ParsePort(const std::string& text) {
    if (text.empty() || text.size() > 5) return std::nullopt;
    int port = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        port = port * 10 + (c - '0');
    }
    if (port < 1 || port > 65535) return std::nullopt;
    return port;
}

bool IsHostName(const std::string& host) {
    if (host.empty() || host.front() == '.' || host.front() == '-') return false;
    for (char c : host) {
        const auto u = static_cast<unsigned char>(c);
        if (!std::isalnum(u) && c != '.' && c != '-' && c != '_') return false;
    }
    return true;
}

// "host[:port]" of a URL or a proxy value; `why` says what is wrong when it is not one.
std::optional<EnvironmentProxy::Address> ParseAuthority(const std::string& authority, std::string& why) {
    if (authority.find('@') != std::string::npos) {
        why = "user names and passwords are not supported";
        return std::nullopt;
    }
    if (!authority.empty() && authority.front() == '[') {
        why = "IPv6 addresses are not supported";
        return std::nullopt;
    }
    const size_t colon = authority.find(':');
    EnvironmentProxy::Address address;
    address.host = AsciiLower(authority.substr(0, colon));
    if (!IsHostName(address.host)) {
        why = address.host.empty() ? "no host name" : "'" + address.host + "' is not a host name";
        return std::nullopt;
    }
    address.port = 80;
    if (colon != std::string::npos) {
        const auto port = ParsePort(authority.substr(colon + 1));
        if (!port) {
            why = "'" + authority.substr(colon + 1) + "' is not a port number";
            return std::nullopt;
        }
        address.port = *port;
    }
    return address;
}

// The first of the two names that is set to something other than the empty text.
std::optional<EnvironmentProxy::Setting> FirstSet(const EnvironmentProxy::Lookup& lookup,
                                                            const std::string& lower, const std::string& upper) {
    for (const std::string& name : {lower, upper}) {
        if (auto value = lookup(name); value && !Trim(*value).empty()) return std::make_pair(name, *value);
    }
    return std::nullopt;
}

std::string Text(const EnvironmentProxy::Address& address) {
    return address.host + ":" + std::to_string(address.port);
}

}  // namespace

std::optional<EnvironmentProxy::Address> EnvironmentProxy::ParseProxy(const std::string& value, std::string* why) {
    std::string reason;
    std::string rest = Trim(value);
    const size_t scheme = rest.find("://");
    if (scheme != std::string::npos) {
        if (AsciiLower(rest.substr(0, scheme)) != "http") {
            reason = "only http:// proxies are supported";
            rest.clear();
        } else {
            rest = rest.substr(scheme + 3);
        }
    }
    std::optional<Address> address;
    if (reason.empty()) {
        const size_t slash = rest.find('/');
        const std::string path = slash == std::string::npos ? std::string() : rest.substr(slash);
        if (!path.empty() && path != "/") reason = "a proxy has no path ('" + path + "')";
        else address = ParseAuthority(rest.substr(0, slash), reason);
    }
    if (!address && why) *why = reason;
    return address;
}

std::optional<EnvironmentProxy::Address> EnvironmentProxy::UrlHost(const std::string& url) {
    if (!StartsWithNoCase(url, "http://")) return std::nullopt;
    const std::string rest = url.substr(7);
    std::string why;
    return ParseAuthority(rest.substr(0, rest.find('/')), why);
}

bool EnvironmentProxy::NoProxyMatches(const std::string& list, const std::string& host, int port) {
    std::string wanted = AsciiLower(host);
    while (!wanted.empty() && wanted.back() == '.') wanted.pop_back();
    size_t start = 0;
    while (start <= list.size()) {
        const size_t comma = list.find(',', start);
        std::string entry = AsciiLower(Trim(list.substr(start, comma == std::string::npos ? std::string::npos : comma - start)));
        start = comma == std::string::npos ? list.size() + 1 : comma + 1;
        if (entry.empty()) continue;
        if (entry == "*") return true;
        std::optional<int> entryPort;
        if (const size_t colon = entry.rfind(':'); colon != std::string::npos && entry.find(':') == colon) {
            entryPort = ParsePort(entry.substr(colon + 1));
            if (!entryPort) continue;  // "name:" or "name:x" names no port we could be on
            entry.resize(colon);
        }
        if (entry.compare(0, 2, "*.") == 0) entry.erase(0, 2);
        else if (entry.compare(0, 1, ".") == 0) entry.erase(0, 1);
        while (!entry.empty() && entry.back() == '.') entry.pop_back();
        if (entry.empty()) continue;
        const bool hostMatches =
            wanted == entry ||
            (wanted.size() > entry.size() && wanted.compare(wanted.size() - entry.size(), entry.size(), entry) == 0 &&
             wanted[wanted.size() - entry.size() - 1] == '.');
        if (hostMatches && (!entryPort || *entryPort == port)) return true;
    }
    return false;
}

EnvironmentProxy EnvironmentProxy::Resolve(const std::string& baseUrl, const Lookup& lookup) {
    const auto setting = FirstSet(lookup, "http_proxy", "HTTP_PROXY");
    if (!setting) return EnvironmentProxy();
    return Decide(baseUrl, *setting, FirstSet(lookup, "no_proxy", "NO_PROXY"));
}

EnvironmentProxy EnvironmentProxy::Decide(const std::string& baseUrl, const Setting& setting,
                                          const std::optional<Setting>& noProxy) {
    EnvironmentProxy result;
    const auto& [name, value] = setting;
    std::string why;
    const auto proxy = ParseProxy(value, &why);
    if (!proxy) {
        result.logLines.push_back("ignoring " + name + " \"" + value + "\": " + why);
        return result;
    }
    const auto server = UrlHost(baseUrl);
    if (server && noProxy && NoProxyMatches(noProxy->second, server->host, server->port)) {
        result.logLines.push_back("not using proxy " + Text(*proxy) + " for " + server->host + " (" + noProxy->first + ")");
        return result;
    }
    result.proxy = proxy;
    result.logLines.push_back("using proxy " + Text(*proxy));
    return result;
}

std::string EnvironmentProxy::HttpProxyOf(const std::string& settingsProxy) {
    if (settingsProxy.find('=') == std::string::npos) return Trim(settingsProxy);
    size_t start = 0;
    while (start < settingsProxy.size()) {
        const size_t end = settingsProxy.find_first_of("; ", start);
        const std::string entry = settingsProxy.substr(start, end == std::string::npos ? std::string::npos : end - start);
        if (StartsWithNoCase(entry, "http=")) return entry.substr(5);
        if (end == std::string::npos) break;
        start = end + 1;
    }
    return std::string();
}

std::string EnvironmentProxy::NoProxyOf(const std::string& bypass, const std::string& host) {
    std::string list;
    size_t start = 0;
    while (start <= bypass.size()) {
        const size_t end = bypass.find_first_of("; ", start);
        std::string entry = bypass.substr(start, end == std::string::npos ? std::string::npos : end - start);
        start = end == std::string::npos ? bypass.size() + 1 : end + 1;
        if (AsciiLower(entry) == "<local>") entry = host.find('.') == std::string::npos ? host : std::string();
        if (entry.empty()) continue;
        if (!list.empty()) list += ",";
        list += entry;
    }
    return list;
}

EnvironmentProxy EnvironmentProxy::FromProcess(const std::string& baseUrl) {
    // The system's own setting comes first: it is what the user chose for every program.
    if (const auto user = ReadUserProxySettings()) {
        const std::string proxy = HttpProxyOf(user->proxy);
        if (!proxy.empty()) {
            const auto server = UrlHost(baseUrl);
            const std::string bypass = NoProxyOf(user->bypass, server ? server->host : std::string());
            std::optional<Setting> noProxy;
            if (!bypass.empty()) noProxy = Setting{"Internet settings", bypass};
            return Decide(baseUrl, Setting{"the Internet settings' proxy", proxy}, noProxy);
        }
    }
    return Resolve(baseUrl, [](const std::string& name) -> std::optional<std::string> {
        const char* value = std::getenv(name.c_str());
        if (!value) return std::nullopt;
        return std::string(value);
    });
}

}  // namespace qvl
