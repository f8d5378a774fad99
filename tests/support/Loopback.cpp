#include "Loopback.h"

#include <stdexcept>
#include <string>

namespace qvl::test {

namespace {

class Fd {
public:
    explicit Fd(int fd) : fd_(fd) {}
    ~Fd() {
        if (fd_ >= 0) CloseSocketFd(fd_);
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return fd_; }

private:
    int fd_;
};

// The port a bound socket of either family got.
uint16_t LocalPort(int fd) {
    sockaddr_in6 address{};  // the port sits at the same place in both families' records
    socklen_t length = sizeof address;
    if (::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        throw std::runtime_error("getsockname: " + LastSocketErrorText());
    }
    return ntohs(address.sin6_port);
}

// One blocking connect; true when something accepted it.
bool CanConnect(const sockaddr* address, socklen_t length) {
    Fd fd(OpenTcpSocket(false, address->sa_family));
    if (fd.get() < 0) return false;
    int result;
    do {
        result = ::connect(fd.get(), address, length);
    } while (result != 0 && LastCallInterrupted());
    return result == 0;
}

}  // namespace

sockaddr_in LoopbackAddress(uint16_t port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}

uint16_t PickFreeLoopbackPort() {
    Fd fd(OpenTcpSocket(false));
    if (fd.get() < 0) throw std::runtime_error("socket: " + LastSocketErrorText());
    sockaddr_in address = LoopbackAddress(0);
    if (::bind(fd.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        throw std::runtime_error("bind 127.0.0.1:0: " + LastSocketErrorText());
    }
    return LocalPort(fd.get());
}

bool CanConnectLoopback(uint16_t port) {
    const sockaddr_in address = LoopbackAddress(port);
    return CanConnect(reinterpret_cast<const sockaddr*>(&address), sizeof address);
}

namespace {

sockaddr_in6 Ipv6LoopbackAddress(uint16_t port) {
    sockaddr_in6 address{};
    address.sin6_family = AF_INET6;
    address.sin6_addr = in6addr_loopback;
    address.sin6_port = htons(port);
    return address;
}

// A socket bound to [::1]:0, or -1.
int BoundIpv6Socket() {
    const int fd = OpenTcpSocket(false, AF_INET6);
    if (fd < 0) return -1;
    const sockaddr_in6 address = Ipv6LoopbackAddress(0);
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        CloseSocketFd(fd);
        return -1;
    }
    return fd;
}

}  // namespace

bool HasIpv6Loopback() {
    Fd fd(BoundIpv6Socket());
    return fd.get() >= 0;
}

uint16_t PickFreeIpv6LoopbackPort() {
    Fd fd(BoundIpv6Socket());
    if (fd.get() < 0) throw std::runtime_error("bind [::1]:0: " + LastSocketErrorText());
    return LocalPort(fd.get());
}

bool CanConnectIpv6Loopback(uint16_t port) {
    const sockaddr_in6 address = Ipv6LoopbackAddress(port);
    return CanConnect(reinterpret_cast<const sockaddr*>(&address), sizeof address);
}

}  // namespace qvl::test
