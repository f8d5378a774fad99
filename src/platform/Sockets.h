#pragma once
// The socket service: TCP sockets with Windows Sockets error numbers, the service's start-up
// reference count, and socket events delivered as messages to a target (async select).
#include <cstdint>
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
constexpr int kWsaEWouldBlock = 10035;
constexpr int kWsaENotConn = 10057;
constexpr int kWsaEConnRefused = 10061;
constexpr int kWsaEConnReset = 10054;
constexpr int kWsaHostNotFound = 11001;
constexpr int kWsaTryAgain = 11002;
constexpr int kWsaNoRecovery = 11003;
constexpr int kWsaNoData = 11004;

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

// Creates a TCP stream socket (IPv4). Returns the descriptor or kNoSocket (see LastSocketError;
// 10093 while the service is not started).
int CreateSocket(int protocol);
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
// Starts connecting to an IPv4 address and port, both in network byte order. Returns 0, or -1
// with LastSocketError() 10035 while the connect goes on (the normal case) or another error.
int ConnectSocket(int fd, uint32_t addressNet, uint16_t portNet);
// Sends up to `len` bytes; returns how many, or -1 (10035 when the send queue is full).
int SendSocket(int fd, const void* data, int len);
// Receives (or with kMsgPeek copies) up to `len` bytes; returns how many, 0 when the peer has
// closed, or -1 (10035 when nothing is pending, 10057 on a socket that is not connected).
// A receive that takes bytes (not a peek) re-arms the read event.
int RecvSocket(int fd, void* data, int len, int flags);
// Closes the socket and drops its notifications. 0 or -1.
int CloseSocket(int fd);
// Accepts a pending connection; returns the new socket or kNoSocket; fills the peer's address
// and port (network byte order) when given. Re-arms the accept event of the listening socket.
int AcceptSocket(int fd, uint32_t* addressNet, uint16_t* portNet);
// Binds to an IPv4 address and port (network byte order; port 0 = any free port) and listens.
// With AsyncSelect, every pending connection is an accept event (8), re-armed by AcceptSocket.
// 0 or -1.
int ListenSocket(int fd, uint32_t addressNet, uint16_t portNet, int backlog);
// The local port of a bound socket in host byte order, or -1.
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
uint16_t Htons(uint16_t port);

}  // namespace qvl::platform
