#include "platform/MessageTarget.h"

#include <poll.h>

#include <QCoreApplication>
#include <QEvent>
#include <QObject>
#include <QSocketNotifier>
#include <QTimerEvent>
#include <chrono>
#include <map>
#include <thread>
#include <vector>

#include "platform/MessageTargetCore.h"
#include "platform/linux/Detail.h"

namespace qvl::platform {
namespace {

QEvent::Type PostedMessageType() {
    static const QEvent::Type type = static_cast<QEvent::Type>(QEvent::registerEventType());
    return type;
}

// One queued message. Qt owns it from postEvent on and deletes it after delivery, or when its
// receiver is destroyed first.
class PostedMessageEvent : public QEvent {
public:
    explicit PostedMessageEvent(detail::Envelope envelope)
        : QEvent(PostedMessageType()), envelope(std::move(envelope)) {}
    detail::Envelope envelope;
};

// The Qt side of one target: posted messages and timer events arrive at this object on the GUI
// thread. Deleting it drops the events still queued for it.
class TargetObject : public QObject, public detail::TargetCore {
public:
    using TargetCore::TargetCore;

    bool event(QEvent* e) override {
        if (e->type() != PostedMessageType()) return QObject::event(e);
        Receive(this, static_cast<PostedMessageEvent*>(e)->envelope);
        return true;
    }

    void Queue(detail::Envelope envelope) override {
        QCoreApplication::postEvent(this, new PostedMessageEvent(std::move(envelope)));
    }

    bool StartTimer(unsigned id, unsigned intervalMs) override {
        StopTimer(id);
        const int qtId = startTimer(static_cast<int>(intervalMs), Qt::PreciseTimer);
        if (qtId == 0) return false;
        timers_[id] = qtId;
        return true;
    }

    void StopTimer(unsigned id) override {
        const auto it = timers_.find(id);
        if (it == timers_.end()) return;
        killTimer(it->second);
        timers_.erase(it);
    }

    void Detach() override {
        for (const auto& [id, qtId] : timers_) killTimer(qtId);
        timers_.clear();
    }

protected:
    void timerEvent(QTimerEvent* e) override {
        if (!Alive()) return;
        for (const auto& [id, qtId] : timers_)
            if (qtId == e->timerId()) {
                Deliver(Message{kTimerMessage, id, 0});
                return;
            }
    }

private:
    std::map<unsigned, int> timers_;  // our timer id -> Qt's timer id
};

// The notifiers of the waits in progress (nested when a handler waits), GUI thread only.
std::vector<QSocketNotifier*>& WaitNotifiers() {
    static auto* notifiers = new std::vector<QSocketNotifier*>;
    return *notifiers;
}

// Watches a socket for the length of one wait.
class WaitNotifier {
public:
    WaitNotifier(int fd, QSocketNotifier::Type type) : notifier_(fd, type) { WaitNotifiers().push_back(&notifier_); }
    ~WaitNotifier() { std::erase(WaitNotifiers(), &notifier_); }
    WaitNotifier(const WaitNotifier&) = delete;
    WaitNotifier& operator=(const WaitNotifier&) = delete;

private:
    QSocketNotifier notifier_;
};

// Wakes the event loop when a wait's bound has passed.
class WakeUp : public QObject {
protected:
    void timerEvent(QTimerEvent*) override {}
};

}  // namespace

namespace detail {

std::unique_ptr<TargetCore> MakeNativeTarget(MessageTarget::Handler handler, TargetKind) {
    return std::make_unique<TargetObject>(std::move(handler));
}

void StopWaitingOn(int fd) {
    for (QSocketNotifier* notifier : WaitNotifiers())
        if (notifier->socket() == fd) notifier->setEnabled(false);
}

}  // namespace detail

void ProcessMessages() {
    QCoreApplication::sendPostedEvents();
    QCoreApplication::processEvents(QEventLoop::AllEvents);
    // Socket notifications found ready just now were queued by processEvents; deliver them in
    // this call too, so a waiting loop sees them at its next test of its flags.
    QCoreApplication::sendPostedEvents();
    detail::FreeRetiredTargets();
}

void WaitForSocketOrMessage(int fd, int maxWaitMs, SocketWait what) {
    if (maxWaitMs <= 0) {
        ProcessMessages();
        return;
    }
    const bool writable = what == SocketWait::Writable;
    if (fd >= 0) {
        // Already ready (or closed, or failed): nothing to wait for.
        pollfd p{fd, static_cast<short>(writable ? POLLOUT : POLLIN), 0};
        if (::poll(&p, 1, 0) != 0) {
            ProcessMessages();
            return;
        }
    }
    // A socket whose read event is armed wakes the loop by itself; otherwise a notifier of our
    // own does, for the length of this wait (always for writability, which the socket's own
    // notifications never watch once connected). Anything else pending (a posted message, a
    // timer, input) keeps processEvents from blocking at all, and the bound's timer ends the wait.
    std::unique_ptr<WaitNotifier> notifier;
    if (fd >= 0 && writable)
        notifier = std::make_unique<WaitNotifier>(fd, QSocketNotifier::Write);
    else if (fd >= 0 && !detail::ReadWatched(fd))
        notifier = std::make_unique<WaitNotifier>(fd, QSocketNotifier::Read);
    WakeUp bound;
    const int timer = bound.startTimer(maxWaitMs, Qt::PreciseTimer);
    QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    if (timer != 0) bound.killTimer(timer);
    notifier.reset();
    ProcessMessages();
}

void Sleep(unsigned ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

}  // namespace qvl::platform
