#pragma once
// The socket service: TCP sockets with Windows Sockets error numbers, the service's start-up
// reference count, and socket events delivered as messages to a target (async select).
#include <cstdint>
#include <cstring>
#include <string>

#include "platform/MessageTarget.h"

namespace qvl::platform {

constexpr int kNoSocket = -1;
constexpr unsigned kSocketEventMessage = 1125;  // wParam = socket, lParam = event | error << 16
constexpr unsigned kLookupDoneMessage = 1126;   // see HostLookup.h

// Socket events (low word of lParam) and the mask the engine registers (61).
constexpr unsigned kFdRead = 1, kFdWrite = 2, kFdOob = 4, kFdAccept = 8, kFdConnect = 16, kFdClose = 32;
constexpr long kEngineEventMask = kFdRead | kFdOob | kFdAccept | kFdConnect | kFdClose;

constexpr int kMsgPeek = 2;  // recv flag: copy pending bytes without taking them

// Windows Sockets error numbers used by the engine.
constexpr int kWsaEIntr = 10004;
constexpr int kWsaEWouldBlock = 10035;
constexpr int kWsaENotConn = 10057;
constexpr int kWsaEConnRefused = 10061;
constexpr int kWsaEConnReset = 10054;
constexpr int kWsaETimedOut = 10060;
constexpr int kWsaHostNotFound = 11001;
constexpr int kWsaTryAgain = 11002;
constexpr int kWsaNoRecovery = 11003;
constexpr int kWsaNoData = 11004;

// Address families, with the Windows Sockets numbers.
constexpr uint16_t kAfInet = 2;
constexpr uint16_t kAfInet6 = 23;

// An IPv4 or IPv6 socket address in a form that no one platform's headers define, so that this
// interface has one shape on every platform.
struct SocketAddress {
    uint16_t family = 0;      // kAfInet or kAfInet6; 0 = no address
    uint16_t port = 0;        // network byte order
    uint8_t bytes[16] = {};   // network byte order; an IPv4 address fills the first 4
    uint32_t scopeId = 0;     // zone of a link-local IPv6 address; 0 otherwise
    bool operator==(const SocketAddress&) const = default;
};

// An IPv4 address and port, both in network byte order.
inline SocketAddress Ipv4Address(uint32_t addressNet, uint16_t portNet = 0) {
    SocketAddress a;
    a.family = kAfInet;
    a.port = portNet;
    std::memcpy(a.bytes, &addressNet, 4);
    return a;
}
// The IPv4 address in network byte order; 0 when `a` is not IPv4.
inline uint32_t Ipv4Of(const SocketAddress& a) {
    uint32_t addressNet = 0;
    if (a.family == kAfInet) std::memcpy(&addressNet, a.bytes, 4);
    return addressNet;
}

// What the service tells about itself at start-up.
struct SocketServiceInfo {
    uint16_t version = 0;       // high byte major, low byte minor... as words: 0x0101 = 1.1
    uint16_t highVersion = 0;
    std::string description;    // at most 256 characters
    std::string systemStatus;   // at most 128 characters
    uint16_t maxSockets = 0;
    uint16_t maxUdpDatagram = 0;
};

// Start-up and shut-down of the service, reference-counted across the process. StartupSockets
// fills `info` and returns 0, or returns a non-zero error number when start-up fails (only when
// a test asked for it with FailSocketStartupForTesting).
int StartupSockets(unsigned versionRequested, SocketServiceInfo* info);
void CleanupSockets();
int SocketServiceUsers();
void FailSocketStartupForTesting(bool fail);

// Every call below except SendSocket, the error calls and the address helpers runs on the GUI
// thread, where the notifications are watched.

// Creates a TCP stream socket of `family` (kAfInet or kAfInet6). Returns the descriptor or
// kNoSocket (see LastSocketError; 10093 while the service is not started, 10047 when the host
// has no such family).
int CreateSocket(int protocol, uint16_t family = kAfInet);
// Linger on with time 0, so that closing resets the connection at once. 0 or -1.
int SetLingerZero(int fd);
// Makes `fd` non-blocking and delivers the events of `mask` as message `msg` to `target`
// (connect once with its error; read when bytes are pending, re-armed by the next recv; close
// once, when the peer has closed and nothing is pending, or with its error such as a reset;
// accept on a listening socket, re-armed by the next AcceptSocket). Write readiness (2) is not
// reported. A socket is watched only from its connect (or listen) on: a fresh one has nothing
// to tell. A mask of 0 stops the notifications. Closing the socket stops them too, and no
// notification of a closed socket is ever delivered, even when a new socket gets the same
// number.
int AsyncSelect(int fd, TargetId target, unsigned msg, long mask);
// Starts connecting to `address` (its family must be the socket's). Returns 0, or -1 with
// LastSocketError() 10035 while the connect goes on (the normal case) or another error.
int ConnectSocket(int fd, const SocketAddress& address);
inline int ConnectSocket(int fd, uint32_t addressNet, uint16_t portNet) {
    return ConnectSocket(fd, Ipv4Address(addressNet, portNet));
}
// Sends up to `len` bytes; returns how many, or -1 (10035 when the send queue is full: wait
// with WaitForSocketOrMessage(fd, ..., SocketWait::Writable) before trying again).
int SendSocket(int fd, const void* data, int len);
// Receives (or with kMsgPeek copies) up to `len` bytes; returns how many, 0 when the peer has
// closed, or -1 (10035 when nothing is pending, 10057 on a socket that is not connected).
// A receive that takes bytes (not a peek) re-arms the read event.
int RecvSocket(int fd, void* data, int len, int flags);
// Closes the socket and drops its notifications. 0 or -1.
int CloseSocket(int fd);
// Accepts a pending connection; returns the new socket or kNoSocket; fills the peer's address
// when given. Re-arms the accept event of the listening socket.
int AcceptSocket(int fd, SocketAddress* peer);
// The same for IPv4 callers: the peer's address and port in network byte order (0 for an IPv6
// peer's address).
inline int AcceptSocket(int fd, uint32_t* addressNet, uint16_t* portNet) {
    SocketAddress peer;
    const int accepted = AcceptSocket(fd, &peer);
    if (accepted != kNoSocket) {
        if (addressNet) *addressNet = Ipv4Of(peer);
        if (portNet) *portNet = peer.port;
    }
    return accepted;
}
// Binds to `address` (port 0 = any free port; an IPv6 socket takes IPv6 connections only) and
// listens. With AsyncSelect, every pending connection is an accept event (8), re-armed by
// AcceptSocket. 0 or -1.
int ListenSocket(int fd, const SocketAddress& address, int backlog);
inline int ListenSocket(int fd, uint32_t addressNet, uint16_t portNet, int backlog) {
    return ListenSocket(fd, Ipv4Address(addressNet, portNet), backlog);
}
// The local port of a bound socket (either family) in host byte order, or -1.
int LocalPortOf(int fd);

// How often a socket notifier has woken the event loop in this process. Tests use it to show
// that an idle socket costs nothing.
uint64_t SocketNotifierActivationsForTesting();

// The Windows Sockets error number of this thread's last failed call.
int LastSocketError();
void SetLastSocketError(int wsaError);
// errno → Windows Sockets number (EWOULDBLOCK/EAGAIN/EINPROGRESS → 10035, ENOTCONN → 10057,
// ECONNREFUSED → 10061, ...). An errno with no counterpart gives a number above 10000 that is not
// in the engine's table, so its message reads "Unknown Error No. ...".
int WsaErrorFromErrno(int err);

// Dotted IPv4 text → address in network byte order; 0xFFFFFFFF when it is not a dotted address.
uint32_t InetAddr(const std::string& text);
// An IPv6 literal without brackets ("::1", "fe80::1%2") → address (port 0); false when `text`
// is not one.
bool ParseIpv6Literal(const std::string& text, SocketAddress* address);
// The address as text, without port: "127.0.0.1", "::1".
std::string AddressText(const SocketAddress& address);
uint16_t Htons(uint16_t port);

}  // namespace qvl::platform
