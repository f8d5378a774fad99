#include "platform/Sockets.h"

#include <atomic>
#include <cerrno>
#include <cstring>
#include <unordered_map>
#include <vector>

#include "platform/SocketWatches.h"
#include "platform/windows/Detail.h"

namespace qvl::platform {
namespace {

// ---- errors ---------------------------------------------------------------------------------

// The service's own numbers are what we report; they are kept per thread here too, so that
// SetLastSocketError works as on every platform.
thread_local int lastError = 0;

int Fail() {
    lastError = WSAGetLastError();
    return -1;
}


constexpr int kWsaNotInitialised = 10093;

// ---- async select ---------------------------------------------------------------------------

std::atomic<uint64_t> notifierActivations{0};

// What the platform knows of one socket: where its notifications go. GUI thread only.
struct Watch {
    bool selected = false;
    bool nonBlocking = false;
    TargetId target = 0;
    HWND hwnd = nullptr;
    unsigned msg = 0;
    long mask = 0;
    uint64_t generation = 0;
};

detail::SocketWatches<Watch>& Watches() {
    static auto* watches = new detail::SocketWatches<Watch>;
    return *watches;
}

Watch* Find(int s) { return Watches().Find(s); }

SOCKET Native(int s) { return static_cast<SOCKET>(static_cast<unsigned>(s)); }

// Stops the service's notifications for a socket and takes its queued ones off the queue, so
// that nothing of this registration reaches anyone, even when the handle is reused.
void Unselect(int s, Watch& w) {
    if (!w.selected) return;
    if (w.hwnd) {
        WSAAsyncSelect(Native(s), w.hwnd, 0, 0);
        detail::PurgeSocketMessages(w.hwnd, w.msg, static_cast<uintptr_t>(s));
    }
    w.selected = false;
}

bool StillCurrent(int s, uint64_t generation) { return Watches().StillCurrent(s, generation); }

bool IsConnectOutcome(int err) {
    return err == WSAECONNREFUSED || err == WSAETIMEDOUT || err == WSAENETUNREACH || err == WSAEHOSTUNREACH;
}

int SocketFromNative(SOCKET s) {
    // Socket handles are small numbers on every Windows version; the interface keeps them as int.
    return s == INVALID_SOCKET ? kNoSocket : static_cast<int>(s);
}

void NotInherited(SOCKET s) { SetHandleInformation(reinterpret_cast<HANDLE>(s), HANDLE_FLAG_INHERIT, 0); }

}  // namespace

// ---- errors ---------------------------------------------------------------------------------

int LastSocketError() { return lastError; }

void SetLastSocketError(int wsaError) {
    lastError = wsaError;
    WSASetLastError(wsaError);
}


// ---- service start-up -----------------------------------------------------------------------

namespace detail {

int StartSystemSockets(unsigned versionRequested, SocketServiceInfo* info) {
    WSADATA data{};
    const int rc = WSAStartup(static_cast<WORD>(versionRequested), &data);
    if (rc != 0) return rc;
    if (info) {
        info->version = data.wVersion;
        info->highVersion = data.wHighVersion;
        info->description = std::string(data.szDescription, strnlen(data.szDescription, sizeof data.szDescription));
        info->systemStatus = std::string(data.szSystemStatus, strnlen(data.szSystemStatus, sizeof data.szSystemStatus));
        info->maxSockets = data.iMaxSockets;
        info->maxUdpDatagram = data.iMaxUdpDg;
    }
    return 0;
}

void StopSystemSockets() { WSACleanup(); }

}  // namespace detail

// ---- sockets --------------------------------------------------------------------------------

int CreateSocket(int protocol, uint16_t family) {
    if (SocketServiceUsers() == 0) {
        SetLastSocketError(kWsaNotInitialised);
        return kNoSocket;
    }
    if (family != kAfInet && family != kAfInet6) {
        SetLastSocketError(WSAEAFNOSUPPORT);
        return kNoSocket;
    }
    const SOCKET s = socket(family == kAfInet6 ? AF_INET6 : AF_INET, SOCK_STREAM, protocol == IPPROTO_TCP ? IPPROTO_TCP : 0);
    if (s == INVALID_SOCKET) {
        Fail();
        return kNoSocket;
    }
    NotInherited(s);
    const int fd = SocketFromNative(s);
    Watches()[fd] = Watch{};
    return fd;
}

int SetLingerZero(int fd) {
    const linger hard{1, 0};
    if (setsockopt(Native(fd), SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&hard), sizeof hard) != 0)
        return Fail();
    return 0;
}

int AsyncSelect(int fd, TargetId target, unsigned msg, long mask) {
    Watch& w = Watches()[fd];
    // A new registration replaces the old one, and what the old one queued is no longer wanted.
    Unselect(fd, w);
    w.generation = Watches().NextGeneration();
    HWND hwnd = target != 0 && mask != 0 ? detail::TargetWindow(target) : nullptr;
    if (!hwnd) {
        u_long on = 1;
        if (ioctlsocket(Native(fd), FIONBIO, &on) != 0) return Fail();
        w.nonBlocking = true;
        return 0;
    }
    // The service reports connect, read (armed again by each recv), accept (by each accept)
    // and close once; a socket that is not connecting or connected has nothing to report.
    if (WSAAsyncSelect(Native(fd), hwnd, msg, mask) != 0) return Fail();
    w.nonBlocking = true;
    w.selected = true;
    w.target = target;
    w.hwnd = hwnd;
    w.msg = msg;
    w.mask = mask;
    return 0;
}

int ConnectSocket(int fd, const SocketAddress& to) {
    sockaddr_storage address;
    socklen_t length = 0;
    if (!detail::ToHost(to, &address, &length)) {
        SetLastSocketError(WSAEAFNOSUPPORT);
        return -1;
    }
    if (connect(Native(fd), reinterpret_cast<const sockaddr*>(&address), length) == 0) return 0;
    const int err = WSAGetLastError();
    if (err == WSAEWOULDBLOCK) {
        SetLastSocketError(kWsaEWouldBlock);
        return -1;
    }
    Watch* w = Find(fd);
    if (IsConnectOutcome(err) && w && w->selected && (w->mask & kFdConnect)) {
        // A registered non-blocking connect learns its outcome from the connect event, even
        // when the service knew it at once.
        const uint64_t generation = w->generation;
        detail::PostMessageIf(w->target, w->msg, static_cast<uintptr_t>(fd),
                              MakeLParam(kFdConnect, static_cast<unsigned>(err)),
                              [fd, generation] { return StillCurrent(fd, generation); });
        SetLastSocketError(kWsaEWouldBlock);
        return -1;
    }
    return Fail();
}

int SendSocket(int fd, const void* data, int len) {
    if (len < 0) {
        SetLastSocketError(WSAEINVAL);
        return -1;
    }
    const int n = send(Native(fd), static_cast<const char*>(data), len, 0);
    return n == SOCKET_ERROR ? Fail() : n;
}

int RecvSocket(int fd, void* data, int len, int flags) {
    if (len < 0) {
        SetLastSocketError(WSAEINVAL);
        return -1;
    }
    const int n = recv(Native(fd), static_cast<char*>(data), len, (flags & kMsgPeek) ? MSG_PEEK : 0);
    return n == SOCKET_ERROR ? Fail() : n;
}

int CloseSocket(int fd) {
    if (Watch* w = Find(fd)) {
        Unselect(fd, *w);
        Watches().Erase(fd);
    }
    if (closesocket(Native(fd)) != 0) return Fail();
    return 0;
}

int AcceptSocket(int fd, SocketAddress* peerAddress) {
    sockaddr_storage peer{};
    int length = sizeof peer;
    const SOCKET s = accept(Native(fd), reinterpret_cast<sockaddr*>(&peer), &length);
    if (s == INVALID_SOCKET) {
        Fail();
        return kNoSocket;
    }
    NotInherited(s);
    const int accepted = SocketFromNative(s);
    // The new socket inherits the listening socket's registration; as everywhere, it is watched
    // only once its owner registers it, and it starts out blocking.
    Watch inherited;
    if (const Watch* listening = Find(fd); listening && listening->selected) {
        inherited = *listening;
        Unselect(accepted, inherited);
    }
    u_long blocking = 0;
    ioctlsocket(s, FIONBIO, &blocking);
    Watches()[accepted] = Watch{};
    if (peerAddress) *peerAddress = detail::FromHost(reinterpret_cast<const sockaddr*>(&peer));
    return accepted;
}

int ListenSocket(int fd, const SocketAddress& on, int backlog) {
    sockaddr_storage address;
    socklen_t length = 0;
    if (!detail::ToHost(on, &address, &length)) {
        SetLastSocketError(WSAEAFNOSUPPORT);
        return -1;
    }
    if (on.family == kAfInet6) {
        // An IPv6 listener hears IPv6 only (the system's default too, said out loud).
        const DWORD only = 1;
        setsockopt(Native(fd), IPPROTO_IPV6, IPV6_V6ONLY, reinterpret_cast<const char*>(&only), sizeof only);
    }
    if (bind(Native(fd), reinterpret_cast<const sockaddr*>(&address), length) != 0) return Fail();
    if (listen(Native(fd), backlog) != 0) return Fail();
    return 0;
}

int LocalPortOf(int fd) {
    sockaddr_storage address{};
    int length = sizeof address;
    if (getsockname(Native(fd), reinterpret_cast<sockaddr*>(&address), &length) != 0) return Fail();
    return ntohs(detail::FromHost(reinterpret_cast<const sockaddr*>(&address)).port);
}

uint64_t SocketNotifierActivationsForTesting() { return notifierActivations.load(); }

uint32_t InetAddr(const std::string& text) {
    // Older versions of the service took "" for 0.0.0.0; it is no dotted address.
    if (text.empty()) return INADDR_NONE;
    return inet_addr(text.c_str());
}

uint16_t Htons(uint16_t port) { return htons(port); }

namespace detail {

bool SocketEventWanted(TargetId target, unsigned msg, uintptr_t s) {
    ++notifierActivations;
    const Watch* w = Find(static_cast<int>(s));
    return w && w->selected && w->target == target && w->msg == msg;
}

bool EventWanted(uintptr_t s, unsigned event) {
    const Watch* w = Find(static_cast<int>(s));
    return w && (w->mask & event);
}

bool Watched(int s, SocketWait what) {
    const Watch* w = Find(s);
    if (!w || !w->selected || TargetWindow(w->target) == nullptr) return false;
    return what == SocketWait::Writable || (w->mask & (kFdRead | kFdClose));
}

void WatchWrites(int s, bool on) {
    const Watch* w = Find(s);
    if (!w || !w->selected || !w->hwnd) return;
    // Registering again keeps what is queued; only the write event is added or taken away.
    WSAAsyncSelect(Native(s), w->hwnd, w->msg, w->mask | (on ? FD_WRITE : 0));
}

bool NonBlocking(int s) {
    const Watch* w = Find(s);
    return w && w->nonBlocking;
}

void PurgeSocketMessages(HWND hwnd, unsigned msg, uintptr_t s) {
    struct Kept {
        WPARAM wParam;
        LPARAM lParam;
    };
    std::vector<Kept> kept;
    MSG m;
    while (PeekMessageA(&m, hwnd, msg, msg, PM_REMOVE | PM_NOYIELD))
        if (m.wParam != s) kept.push_back({m.wParam, m.lParam});
    for (const Kept& k : kept) PostMessageA(hwnd, msg, k.wParam, k.lParam);
}

}  // namespace detail

}  // namespace qvl::platform
