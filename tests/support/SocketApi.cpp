#include "SocketApi.h"

#include <cerrno>
#include <cstring>
#include <mutex>

#ifndef _WIN32
#include <fcntl.h>
#include <unistd.h>
#endif

namespace qvl::test {

#ifdef _WIN32

namespace {

SOCKET Native(int fd) { return static_cast<SOCKET>(static_cast<unsigned>(fd)); }

// The helpers may run before anything of the product has started the service; started once,
// for the life of the test program.
void StartService() {
    static std::once_flag once;
    std::call_once(once, [] {
        WSADATA data;
        WSAStartup(MAKEWORD(2, 2), &data);
    });
}

void SetNonBlocking(SOCKET s, bool on) {
    u_long value = on ? 1 : 0;
    ioctlsocket(s, FIONBIO, &value);
}

}  // namespace

int OpenTcpSocket(bool nonBlocking, int family) {
    StartService();
    const SOCKET s = socket(family, SOCK_STREAM, 0);
    if (s == INVALID_SOCKET) return -1;
    SetHandleInformation(reinterpret_cast<HANDLE>(s), HANDLE_FLAG_INHERIT, 0);
    if (nonBlocking) SetNonBlocking(s, true);
    return static_cast<int>(s);
}

int AcceptNonBlocking(int listening) {
    const SOCKET s = accept(Native(listening), nullptr, nullptr);
    if (s == INVALID_SOCKET) return -1;
    SetHandleInformation(reinterpret_cast<HANDLE>(s), HANDLE_FLAG_INHERIT, 0);
    SetNonBlocking(s, true);
    return static_cast<int>(s);
}

void CloseSocketFd(int fd) { closesocket(Native(fd)); }

int PollOne(int fd, short events, int ms) {
    WSAPOLLFD p{Native(fd), events, 0};
    return WSAPoll(&p, 1, ms);
}

long RecvBytes(int fd, char* buffer, size_t len) { return recv(Native(fd), buffer, static_cast<int>(len), 0); }

long SendBytes(int fd, const char* data, size_t len) { return send(Native(fd), data, static_cast<int>(len), 0); }

void ShutdownWrite(int fd) { shutdown(Native(fd), SD_SEND); }

int SetIntOption(int fd, int level, int name, int value) {
    return setsockopt(Native(fd), level, name, reinterpret_cast<const char*>(&value), sizeof value);
}

void SetLingerZero(int fd) {
    const linger hard{1, 0};
    setsockopt(Native(fd), SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&hard), sizeof hard);
}

bool LastCallWouldBlock() {
    const int err = WSAGetLastError();
    return err == WSAEWOULDBLOCK || err == WSAEINTR;
}

bool LastCallInterrupted() { return WSAGetLastError() == WSAEINTR; }

std::string LastSocketErrorText() { return "socket error " + std::to_string(WSAGetLastError()); }

#else

int OpenTcpSocket(bool nonBlocking, int family) {
    return ::socket(family, SOCK_STREAM | SOCK_CLOEXEC | (nonBlocking ? SOCK_NONBLOCK : 0), 0);
}

int AcceptNonBlocking(int listening) { return ::accept4(listening, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC); }

void CloseSocketFd(int fd) { ::close(fd); }

int PollOne(int fd, short events, int ms) {
    pollfd p{fd, events, 0};
    return ::poll(&p, 1, ms);
}

long RecvBytes(int fd, char* buffer, size_t len) { return ::recv(fd, buffer, len, 0); }

long SendBytes(int fd, const char* data, size_t len) { return ::send(fd, data, len, MSG_NOSIGNAL); }

void ShutdownWrite(int fd) { ::shutdown(fd, SHUT_WR); }

int SetIntOption(int fd, int level, int name, int value) { return ::setsockopt(fd, level, name, &value, sizeof value); }

void SetLingerZero(int fd) {
    const linger hard{1, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
}

bool LastCallWouldBlock() { return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR; }

bool LastCallInterrupted() { return errno == EINTR; }

std::string LastSocketErrorText() { return std::strerror(errno); }

#endif

}  // namespace qvl::test
