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
    socklen_t length = sizeof address;
    if (::getsockname(fd.get(), reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        throw std::runtime_error("getsockname: " + LastSocketErrorText());
    }
    return ntohs(address.sin_port);
}

bool CanConnectLoopback(uint16_t port) {
    Fd fd(OpenTcpSocket(false));
    if (fd.get() < 0) return false;
    const sockaddr_in address = LoopbackAddress(port);
    int result;
    do {
        result = ::connect(fd.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address);
    } while (result != 0 && LastCallInterrupted());
    return result == 0;
}

}  // namespace qvl::test
