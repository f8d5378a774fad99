// Waiting for a socket or a message without spending processor time.
#include "platform/MessageTarget.h"

#include <memory>

#include "platform/windows/Detail.h"

namespace qvl::platform {
namespace {

// Readable (or writable), closed or failed, without waiting.
bool ReadyNow(int s, SocketWait what) {
    fd_set ready, failed;
    FD_ZERO(&ready);
    FD_ZERO(&failed);
    FD_SET(static_cast<SOCKET>(s), &ready);
    FD_SET(static_cast<SOCKET>(s), &failed);
    timeval now{0, 0};
    const bool writable = what == SocketWait::Writable;
    return select(0, writable ? nullptr : &ready, writable ? &ready : nullptr, &failed, &now) != 0;
}

// For the length of one wait, an event set when a socket that no target watches becomes
// readable or closes. WSAEventSelect makes the socket non-blocking; one that was blocking is
// made so again afterwards.
class SocketEvent {
public:
    SocketEvent(int s, SocketWait what) : socket_(static_cast<SOCKET>(s)), event_(WSACreateEvent()) {
        const long events = (what == SocketWait::Writable ? FD_WRITE : FD_READ) | FD_CLOSE;
        if (event_ != WSA_INVALID_EVENT && WSAEventSelect(socket_, event_, events) != 0) {
            WSACloseEvent(event_);
            event_ = WSA_INVALID_EVENT;
        }
        restoreBlocking_ = !detail::NonBlocking(s);
    }
    ~SocketEvent() {
        if (event_ == WSA_INVALID_EVENT) return;
        WSAEventSelect(socket_, nullptr, 0);
        if (restoreBlocking_) {
            u_long blocking = 0;
            ioctlsocket(socket_, FIONBIO, &blocking);
        }
        WSACloseEvent(event_);
    }
    SocketEvent(const SocketEvent&) = delete;
    SocketEvent& operator=(const SocketEvent&) = delete;

    HANDLE Handle() const { return event_; }
    bool Valid() const { return event_ != WSA_INVALID_EVENT; }

private:
    SOCKET socket_;
    HANDLE event_;
    bool restoreBlocking_ = false;
};

}  // namespace

void WaitForSocketOrMessage(int fd, int maxWaitMs, SocketWait what) {
    if (maxWaitMs <= 0 || (fd >= 0 && ReadyNow(fd, what))) {
        ProcessMessages();
        return;
    }
    {
        // A socket registered with a target wakes the wait by its own message (its read event
        // is armed again by the receive that found nothing, its write event by the send that
        // found no room); any other socket gets an event for this wait. Posted messages, timers
        // and input end the wait too.
        std::unique_ptr<SocketEvent> event;
        const bool watched = fd >= 0 && detail::Watched(fd, what);
        if (fd >= 0 && !watched) event = std::make_unique<SocketEvent>(fd, what);
        const bool writes = watched && what == SocketWait::Writable;
        if (writes) detail::WatchWrites(fd, true);
        HANDLE handle = event && event->Valid() ? event->Handle() : nullptr;
        MsgWaitForMultipleObjectsEx(handle ? 1 : 0, handle ? &handle : nullptr, static_cast<DWORD>(maxWaitMs),
                                    QS_ALLINPUT, MWMO_INPUTAVAILABLE);
        if (writes) detail::WatchWrites(fd, false);
    }
    // The socket's watch is gone before any handler runs, so a handler that closes it leaves
    // nothing behind.
    ProcessMessages();
}

}  // namespace qvl::platform
