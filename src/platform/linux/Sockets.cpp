#include "platform/Sockets.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QSocketNotifier>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <memory>
#include <mutex>
#include <unordered_map>

#include "platform/SocketWatches.h"
#include "platform/linux/Detail.h"

namespace qvl::platform {
namespace {

// ---- errors ---------------------------------------------------------------------------------

thread_local int lastError = 0;

int Fail(int err) {
    lastError = WsaErrorFromErrno(err);
    return -1;
}

constexpr int kWsaNotInitialised = 10093;

// ---- async select ---------------------------------------------------------------------------

std::atomic<uint64_t> notifierActivations{0};

enum class State {
    Unknown,     // a descriptor we did not create; found out when it is registered
    Idle,        // created, not connecting: nothing to watch (it polls as hung up)
    Connecting,  // watch for writable: the connect's outcome
    Connected,   // watch for readable: data, close or reset
    Failed,      // the connect failed: nothing more to watch
    Listening,   // watch for readable: a connection to accept
};

// What the platform knows of one socket. Notifications are watched only where the state says
// there can be one, and a read notifier is switched off from the moment its event has been
// posted until the next receive, so a socket never keeps the event loop busy.
struct Watch {
    uint64_t generation = 0;
    State state = State::Unknown;
    bool selected = false;
    TargetId target = 0;
    unsigned msg = 0;
    long mask = 0;
    bool closeReported = false;
    std::unique_ptr<QSocketNotifier> readable;
    std::unique_ptr<QSocketNotifier> writable;
};

// GUI thread only (notifiers live there).
detail::SocketWatches<Watch>& Watches() {
    static auto* watches = new detail::SocketWatches<Watch>;
    return *watches;
}

Watch* Find(int fd) { return Watches().Find(fd); }

Watch& Fresh(int fd, State state) {
    Watch& w = Watches().Fresh(fd);
    w.state = state;
    return w;
}

Watch& Known(int fd) {
    Watch* w = Find(fd);
    if (w) return *w;
    return Fresh(fd, State::Unknown);
}

bool StillCurrent(int fd, uint64_t generation) { return Watches().StillCurrent(fd, generation); }

void Post(int fd, const Watch& w, unsigned event, int error) {
    if (!w.selected || !(w.mask & event)) return;
    const uint64_t generation = w.generation;
    detail::PostMessageIf(w.target, w.msg, static_cast<uintptr_t>(fd), MakeLParam(event, static_cast<unsigned>(error)),
                          [fd, generation] { return StillCurrent(fd, generation); });
}

void OnReadable(int fd);
void OnWritable(int fd);

void ArmRead(int fd, Watch& w) {
    if (!w.selected || w.closeReported) return;
    if (w.state != State::Connected && w.state != State::Listening) return;
    if (!(w.mask & (kFdRead | kFdOob | kFdAccept | kFdClose))) return;
    if (!w.readable) {
        w.readable = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Read);
        QObject::connect(w.readable.get(), &QSocketNotifier::activated, [fd] { OnReadable(fd); });
    }
    w.readable->setEnabled(true);
}

void ArmConnect(int fd, Watch& w) {
    if (!w.selected || w.state != State::Connecting) return;
    if (!w.writable) {
        w.writable = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Write);
        QObject::connect(w.writable.get(), &QSocketNotifier::activated, [fd] { OnWritable(fd); });
    }
    w.writable->setEnabled(true);
}

void Disarm(std::unique_ptr<QSocketNotifier>& notifier) {
    if (notifier) notifier->setEnabled(false);
}

void OnWritable(int fd) {
    ++notifierActivations;
    Watch* w = Find(fd);
    if (!w) return;
    // The connect has an outcome; writable means nothing more to the engine.
    Disarm(w->writable);
    if (w->state != State::Connecting) return;
    int err = 0;
    socklen_t length = sizeof err;
    if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &length) != 0) err = errno;
    if (err == 0) {
        w->state = State::Connected;
        Post(fd, *w, kFdConnect, 0);
        ArmRead(fd, *w);
    } else if (err == ECONNRESET) {
        // Connected, then reset by the peer before we looked: the connect succeeded and the
        // close follows with its error, as when the reset comes later.
        w->state = State::Connected;
        w->closeReported = true;
        Post(fd, *w, kFdConnect, 0);
        Post(fd, *w, kFdClose, WsaErrorFromErrno(err));
    } else {
        // A failed socket polls as hung up for ever: nothing more is watched.
        w->state = State::Failed;
        Post(fd, *w, kFdConnect, WsaErrorFromErrno(err));
    }
}

void OnReadable(int fd) {
    ++notifierActivations;
    Watch* w = Find(fd);
    if (!w) return;
    if (w->state == State::Listening) {
        Disarm(w->readable);  // until AcceptSocket takes the connection
        Post(fd, *w, kFdAccept, 0);
        return;
    }
    char byte;
    const ssize_t n = ::recv(fd, &byte, 1, MSG_PEEK | MSG_DONTWAIT);
    if (n > 0) {
        Disarm(w->readable);  // until the next receive
        Post(fd, *w, kFdRead, 0);
    } else if (n == 0) {
        // The peer has closed and every byte has been read: report it once, and stop watching,
        // since the socket stays readable from now on.
        Disarm(w->readable);
        w->closeReported = true;
        Post(fd, *w, kFdClose, 0);
    } else if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
        Disarm(w->readable);
        w->closeReported = true;
        Post(fd, *w, kFdClose, WsaErrorFromErrno(errno));
    }
}

State Probe(int fd) {
    int listening = 0;
    socklen_t length = sizeof listening;
    if (::getsockopt(fd, SOL_SOCKET, SO_ACCEPTCONN, &listening, &length) == 0 && listening) return State::Listening;
    sockaddr_storage peer{};
    length = sizeof peer;
    if (::getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &length) == 0) return State::Connected;
    return State::Idle;
}

bool IsConnectOutcome(int err) {
    return err == ECONNREFUSED || err == ETIMEDOUT || err == ENETUNREACH || err == EHOSTUNREACH;
}

}  // namespace

// ---- errors ---------------------------------------------------------------------------------

int LastSocketError() { return lastError; }

void SetLastSocketError(int wsaError) { lastError = wsaError; }


// ---- service start-up -----------------------------------------------------------------------

namespace detail {

// Nothing to start on POSIX: the service is always there; what it tells of itself is ours.
int StartSystemSockets(unsigned versionRequested, SocketServiceInfo* info) {
    constexpr int kWsaVerNotSupported = 10092;
    if ((versionRequested & 0xFFu) < 1) return kWsaVerNotSupported;
    if (info) {
        info->version = 0x0101;
        info->highVersion = 0x0101;
        info->description = "Quorvale POSIX sockets 1.1";
        info->systemStatus = "Running";
        info->maxSockets = 32767;
        info->maxUdpDatagram = 65467;
    }
    return 0;
}

void StopSystemSockets() {}

}  // namespace detail

// ---- sockets --------------------------------------------------------------------------------

int CreateSocket(int protocol, uint16_t family) {
    if (SocketServiceUsers() == 0) {
        lastError = kWsaNotInitialised;
        return kNoSocket;
    }
    if (family != kAfInet && family != kAfInet6) {
        Fail(EAFNOSUPPORT);
        return kNoSocket;
    }
    const int fd = ::socket(family == kAfInet6 ? AF_INET6 : AF_INET, SOCK_STREAM | SOCK_CLOEXEC, protocol == IPPROTO_TCP ? IPPROTO_TCP : 0);
    if (fd < 0) {
        Fail(errno);
        return kNoSocket;
    }
    Fresh(fd, State::Idle);
    return fd;
}

int SetLingerZero(int fd) {
    const linger hard{1, 0};
    if (::setsockopt(fd, SOL_SOCKET, SO_LINGER, &hard, sizeof hard) != 0) return Fail(errno);
    return 0;
}

int AsyncSelect(int fd, TargetId target, unsigned msg, long mask) {
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags < 0 || ::fcntl(fd, F_SETFL, flags | O_NONBLOCK) != 0) return Fail(errno);
    Watch& w = Known(fd);
    // A new registration replaces the old one, and what the old one queued is no longer wanted.
    w.generation = Watches().NextGeneration();
    w.readable.reset();
    w.writable.reset();
    w.selected = mask != 0 && target != 0;
    if (!w.selected) return 0;
    w.target = target;
    w.msg = msg;
    w.mask = mask;
    if (w.state == State::Unknown) w.state = Probe(fd);
    ArmConnect(fd, w);
    ArmRead(fd, w);
    return 0;
}

int ConnectSocket(int fd, const SocketAddress& to) {
    sockaddr_storage address;
    socklen_t length = 0;
    if (!detail::ToHost(to, &address, &length)) return Fail(EAFNOSUPPORT);
    const int r = ::connect(fd, reinterpret_cast<sockaddr*>(&address), length);
    const int err = r == 0 ? 0 : errno;
    if (r == 0 || err == EINPROGRESS) {
        // Done at once or under way: either way the outcome arrives as the connect event.
        Watch& w = Known(fd);
        w.state = State::Connecting;
        ArmConnect(fd, w);
        if (r == 0) return 0;
        lastError = kWsaEWouldBlock;
        return -1;
    }
    Watch* w = Find(fd);
    if (IsConnectOutcome(err) && w && w->selected && (w->mask & kFdConnect)) {
        // A registered non-blocking connect learns its outcome from the connect event, even
        // when the host knew it at once.
        w->state = State::Failed;
        Post(fd, *w, kFdConnect, WsaErrorFromErrno(err));
        lastError = kWsaEWouldBlock;
        return -1;
    }
    return Fail(err);
}

int SendSocket(int fd, const void* data, int len) {
    if (len < 0) return Fail(EINVAL);
    // MSG_NOSIGNAL: a peer that has gone is an error to report, never a signal that ends us.
    const ssize_t n = ::send(fd, data, static_cast<size_t>(len), MSG_NOSIGNAL);
    if (n < 0) return Fail(errno);
    return static_cast<int>(n);
}

int RecvSocket(int fd, void* data, int len, int flags) {
    if (len < 0) return Fail(EINVAL);
    const bool peek = (flags & kMsgPeek) != 0;
    const ssize_t n = ::recv(fd, data, static_cast<size_t>(len), peek ? MSG_PEEK : 0);
    const int err = errno;
    if (!peek)
        if (Watch* w = Find(fd); w && w->state == State::Connected) ArmRead(fd, *w);
    if (n < 0) return Fail(err);
    return static_cast<int>(n);
}

int CloseSocket(int fd) {
    // Forgetting the record stops the notifiers and turns away whatever they queued.
    Watches().Erase(fd);
    detail::StopWaitingOn(fd);
    if (::close(fd) != 0) {
        const int err = errno;
        lastError = err == EBADF ? 10038 : WsaErrorFromErrno(err);
        return -1;
    }
    return 0;
}

int AcceptSocket(int fd, SocketAddress* peerAddress) {
    sockaddr_storage peer{};
    socklen_t length = sizeof peer;
    const int accepted = ::accept4(fd, reinterpret_cast<sockaddr*>(&peer), &length, SOCK_CLOEXEC);
    const int err = errno;
    if (Watch* w = Find(fd); w && w->state == State::Listening) ArmRead(fd, *w);
    if (accepted < 0) {
        Fail(err);
        return kNoSocket;
    }
    Fresh(accepted, State::Connected);
    if (peerAddress) *peerAddress = detail::FromHost(reinterpret_cast<const sockaddr*>(&peer));
    return accepted;
}

int ListenSocket(int fd, const SocketAddress& on, int backlog) {
    sockaddr_storage address;
    socklen_t length = 0;
    if (!detail::ToHost(on, &address, &length)) return Fail(EAFNOSUPPORT);
    if (on.family == kAfInet6) {
        // An IPv6 listener hears IPv6 only, as on Windows: no mapped IPv4 connections.
        const int on6 = 1;
        ::setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &on6, sizeof on6);
    }
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), length) != 0) return Fail(errno);
    if (::listen(fd, backlog) != 0) return Fail(errno);
    Watch& w = Known(fd);
    w.state = State::Listening;
    ArmRead(fd, w);
    return 0;
}

int LocalPortOf(int fd) {
    sockaddr_storage address{};
    socklen_t length = sizeof address;
    if (::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) return Fail(errno);
    return ntohs(detail::FromHost(reinterpret_cast<const sockaddr*>(&address)).port);
}

uint64_t SocketNotifierActivationsForTesting() { return notifierActivations.load(); }

uint32_t InetAddr(const std::string& text) { return ::inet_addr(text.c_str()); }



uint16_t Htons(uint16_t port) { return htons(port); }

namespace detail {

bool ReadWatched(int fd) {
    const Watch* w = Find(fd);
    return w && w->readable && w->readable->isEnabled();
}

}  // namespace detail

}  // namespace qvl::platform
