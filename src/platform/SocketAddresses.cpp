// Socket addresses between the interface's own record and the system's: the same BSD socket
// records on every platform.
#include "platform/Sockets.h"

#include <cstring>

#include "platform/Detail.h"
#include "SystemSockets.h"

namespace qvl::platform {

namespace detail {

bool ToHost(const SocketAddress& a, sockaddr_storage* out, socklen_t* length) {
    *out = {};
    if (a.family == kAfInet) {
        auto* in = reinterpret_cast<sockaddr_in*>(out);
        in->sin_family = AF_INET;
        in->sin_port = a.port;
        std::memcpy(&in->sin_addr, a.bytes, 4);
        *length = sizeof *in;
        return true;
    }
    if (a.family == kAfInet6) {
        auto* in6 = reinterpret_cast<sockaddr_in6*>(out);
        in6->sin6_family = AF_INET6;
        in6->sin6_port = a.port;
        std::memcpy(&in6->sin6_addr, a.bytes, 16);
        in6->sin6_scope_id = a.scopeId;
        *length = sizeof *in6;
        return true;
    }
    return false;
}

SocketAddress FromHost(const sockaddr* address) {
    SocketAddress a;
    if (address->sa_family == AF_INET) {
        const auto* in = reinterpret_cast<const sockaddr_in*>(address);
        a.family = kAfInet;
        a.port = in->sin_port;
        std::memcpy(a.bytes, &in->sin_addr, 4);
    } else if (address->sa_family == AF_INET6) {
        const auto* in6 = reinterpret_cast<const sockaddr_in6*>(address);
        a.family = kAfInet6;
        a.port = in6->sin6_port;
        std::memcpy(a.bytes, &in6->sin6_addr, 16);
        a.scopeId = in6->sin6_scope_id;
    }
    return a;
}
}  // namespace detail

bool ParseIpv6Literal(const std::string& text, SocketAddress* address) {
    // getaddrinfo rather than inet_pton: it also reads a zone ("fe80::1%2", "fe80::1%eth0").
    addrinfo hints{};
    hints.ai_family = AF_INET6;
    hints.ai_flags = AI_NUMERICHOST;
    addrinfo* result = nullptr;
    // Some resolvers take the URL form "[::1]" as well; the brackets belong to the URL only.
    if (text.find(':') == std::string::npos || text.find_first_of("[]") != std::string::npos ||
        ::getaddrinfo(text.c_str(), nullptr, &hints, &result) != 0)
        return false;
    if (address) *address = detail::FromHost(result->ai_addr);
    ::freeaddrinfo(result);
    return true;
}

std::string AddressText(const SocketAddress& address) {
    char text[INET6_ADDRSTRLEN] = {};
    const int family = address.family == kAfInet6 ? AF_INET6 : AF_INET;
    if (address.family == 0 || !::inet_ntop(family, address.bytes, text, sizeof text)) return std::string();
    return text;
}

}  // namespace qvl::platform
