// TSocketEngine: finding the peer's addresses and connecting to one of them.
#include <cstring>

#include "net/socket/SocketEngine.h"
#include "platform/HostLookup.h"

namespace qvl {

namespace {

constexpr uint32_t kNoDottedAddress = 0xFFFFFFFFu;

}  // namespace

void TSocketEngine::ResolveHost() {
    StatusMessage(8, "Resolve Host");
    std::string name = Proxy.empty() ? Host : Proxy;
    // The name is used as a NUL-terminated string: anything after a NUL byte is not part of it.
    name.resize(std::strlen(name.c_str()));

    RemoteAddresses.clear();
    RemoteAddress.address = platform::InetAddr(name);
    if (RemoteAddress.address != kNoDottedAddress) {
        RemoteAddresses.push_back(platform::Ipv4Address(RemoteAddress.address));
        SetRemoteHost(RemoteAddresses.front());
        return;
    }
    platform::SocketAddress literal;
    if (platform::ParseIpv6Literal(name, &literal)) {
        RemoteAddresses.push_back(literal);
        SetRemoteHost(literal);
        return;
    }

    SetRemoteHost(platform::SocketAddress{});
    TimerOn();
    WaitDone = false;
    LookupAddresses.clear();
    LookupAddress = 0;
    lookupHandle_ = platform::AsyncGetHostByName(NotifyWindow ? NotifyWindow->Id() : 0,
                                                 platform::kLookupDoneMessage, name);
    while (!WaitDone && !TimedOut && !Canceled) WaitTurn();
    TimerOff();
    // A lookup we stop waiting for must not report back later, into some other wait.
    platform::CancelHostLookup(lookupHandle_);
    lookupHandle_ = 0;

    // Numbered as the socket service numbers a time-out and a canceled call, so that Connect
    // tells them from a failed lookup.
    if (TimedOut) throw ESockError("Host Lookup Timed Out", platform::kWsaETimedOut);
    if (Canceled) throw ESockError("Host Lookup Canceled", platform::kWsaEIntr);
    if (!LastNotifyOK) throw ESockError("Host Lookup Failed");
    RemoteAddresses = LookupAddresses;
    if (!RemoteAddresses.empty()) SetRemoteHost(RemoteAddresses.front());
    if (OnHostResolved) {
        const TOnHostResolved handler = OnHostResolved;
        handler(this);
    }
}

void TSocketEngine::Connect() {
    StatusMessage(8, "Connecting");
    Canceled = false;
    if (Connected) throw ESockError("Already connected");
    CloseErrorNo = 0;

    int retries = 0;
    for (;;) {
        try {
            ResolveHost();
        } catch (const ESockError& e) {
            if (e.ErrorNo() == platform::kWsaETimedOut || e.ErrorNo() == platform::kWsaEIntr) throw;
            // A failed lookup leaves the address 0, which the test below deals with.
        }
        if (!RemoteAddresses.empty()) break;
        if (retries > 0 || !OnInvalidHost) throw ESockError("Null Remote Address");
        bool handled = false;
        const THandlerEvent handler = OnInvalidHost;
        handler(handled);
        if (!handled) throw ESockError("Null Remote Address");
        ++retries;
    }

    const uint16_t port = platform::Htons(static_cast<uint16_t>(Proxy.empty() ? Port : ProxyPort));
    // One attempt per address, in the resolver's order, until one connects; the time-out runs
    // from the first attempt and covers them all. A refused or unreachable address (its connect
    // event carries the error) moves on to the next; a time-out or a cancel ends the whole.
    bool timerOn = false;
    for (size_t i = 0; i < RemoteAddresses.size(); ++i) {
        const bool last = i + 1 == RemoteAddresses.size();
        platform::SocketAddress to = RemoteAddresses[i];
        to.port = port;
        RemoteAddress.family = to.family;
        RemoteAddress.port = port;
        SetRemoteHost(to);
        // The socket was made before the address was known, and a failed attempt leaves one
        // that cannot connect again: each further attempt gets a fresh socket of its family.
        if ((i > 0 || to.family != socketFamily_) && !ReplaceSocket(to.family)) {
            if (!last) continue;
            CheckSocketError(platform::kWsaEWouldBlock);
        }
        WaitDone = false;
        LastNotifyOK = true;
        if (platform::ConnectSocket(SocketHandle, to) != 0) {
            if (!last && platform::LastSocketError() != platform::kWsaEWouldBlock) {
                LastErrorNo = platform::LastSocketError();
                continue;
            }
            CheckSocketError(platform::kWsaEWouldBlock);
        }
        if (!timerOn) TimerOn();
        timerOn = true;
        // WaitDone too: a peer that accepts and closes at once gets its connect and its close
        // handled in one dispatch, and the close has already taken Connected back.
        while (!Connected && !WaitDone && !TimedOut && !Canceled && LastNotifyOK) WaitTurn();
        if (Connected || TimedOut || Canceled || (WaitDone && LastNotifyOK)) break;
    }
    TimerOff();
    if (!TimedOut && !Canceled && LastNotifyOK && (Connected || WaitDone)) return;

    if (OnConnectionFailed) {
        const TNotifyEvent handler = OnConnectionFailed;
        handler(this);
    }
    if (TimedOut) throw ESockError("Connection Timed out");
    if (Canceled) throw ESockError("Connection Canceled");
    throw ESockError("Connection Failed");
}

bool TSocketEngine::ReplaceSocket(uint16_t family) {
    // The new socket first: when it cannot be had, the engine keeps a socket to close later.
    const int fd = platform::CreateSocket(0, family);
    if (fd == platform::kNoSocket) return false;
    // Closing drops every notification of the old socket still queued, so nothing of the
    // attempt it made reaches the wait for the new one.
    if (SocketHandle != platform::kNoSocket) platform::CloseSocket(SocketHandle);
    SocketHandle = fd;
    socketFamily_ = family;
    if (lingerZero_) platform::SetLingerZero(fd);
    RegisterSocket(fd);
    PlainTransportOn();
    return true;
}

void TSocketEngine::SetRemoteHost(const platform::SocketAddress& address) {
    RemoteAddress.address = platform::Ipv4Of(address);
    std::memset(RemoteAddress.address6, 0, sizeof RemoteAddress.address6);
    if (address.family == platform::kAfInet6) std::memcpy(RemoteAddress.address6, address.bytes, 16);
    RemoteAddress.scopeId = address.scopeId;
}

}  // namespace qvl
