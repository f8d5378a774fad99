#include "platform/MessageTarget.h"

#include <poll.h>

#include <QCoreApplication>
#include <QEvent>
#include <QObject>
#include <QSocketNotifier>
#include <QTimerEvent>
#include <chrono>
#include <map>
#include <mutex>
#include <thread>
#include <unordered_map>
#include <vector>

#include "framework/Application.h"
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
    PostedMessageEvent(const Message& message, std::function<bool()> stillWanted)
        : QEvent(PostedMessageType()), message(message), stillWanted(std::move(stillWanted)) {}
    Message message;
    std::function<bool()> stillWanted;
};

// The Qt side of one target: posted messages and timer events arrive at this object on the GUI
// thread. It outlives its MessageTarget only while the target's own handler is still running.
class TargetObject : public QObject {
public:
    explicit TargetObject(MessageTarget::Handler handler) : handler_(std::move(handler)) {}

    bool alive = true;
    int depth = 0;  // handlers of this target currently running (nested dispatch)
    std::map<unsigned, int> timers;  // our timer id -> Qt's timer id

    bool event(QEvent* e) override {
        if (e->type() != PostedMessageType()) return QObject::event(e);
        auto* posted = static_cast<PostedMessageEvent*>(e);
        // The test runs even for a target that is gone, so that whoever asked for it can forget
        // what it kept for this message.
        const bool wanted = !posted->stillWanted || posted->stillWanted();
        if (alive && wanted) Deliver(posted->message);
        return true;
    }

protected:
    void timerEvent(QTimerEvent* e) override {
        if (!alive) return;
        for (const auto& [id, qtId] : timers)
            if (qtId == e->timerId()) {
                Deliver(Message{kTimerMessage, id, 0});
                return;
            }
    }

private:
    void Deliver(const Message& message) {
        ++depth;
        // Our handlers do not throw (the socket engine swallows, the timer reports); should one
        // do so anyway, it must not unwind through Qt's event loop, so it is shown as any other
        // failure of the program would be.
        Application::Guarded([&] {
            if (handler_) handler_(message);
        });
        --depth;
    }

    MessageTarget::Handler handler_;
};

// Targets by id, for PostMessage from any thread. Never destroyed, so a worker thread that posts
// while the process exits finds it intact.
struct Registry {
    std::mutex mutex;
    std::unordered_map<TargetId, TargetObject*> targets;
    TargetId nextId = 1;
};

Registry& Targets() {
    static auto* registry = new Registry;
    return *registry;
}

// Targets destroyed while their handler was running, freed once it has returned. GUI thread only.
std::vector<std::unique_ptr<TargetObject>>& Zombies() {
    static auto* zombies = new std::vector<std::unique_ptr<TargetObject>>;
    return *zombies;
}

void FreeZombies() {
    auto& zombies = Zombies();
    std::erase_if(zombies, [](const std::unique_ptr<TargetObject>& z) { return z->depth == 0; });
}

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

struct MessageTarget::Impl {
    TargetId id = 0;
    std::unique_ptr<TargetObject> object;
};

MessageTarget::MessageTarget(Handler handler, Kind) : impl_(std::make_unique<Impl>()) {
    impl_->object = std::make_unique<TargetObject>(std::move(handler));
    auto& registry = Targets();
    std::lock_guard lock(registry.mutex);
    impl_->id = registry.nextId++;
    registry.targets.emplace(impl_->id, impl_->object.get());
}

MessageTarget::~MessageTarget() {
    {
        auto& registry = Targets();
        std::lock_guard lock(registry.mutex);
        registry.targets.erase(impl_->id);
    }
    TargetObject* object = impl_->object.get();
    object->alive = false;
    for (const auto& [id, qtId] : object->timers) object->killTimer(qtId);
    object->timers.clear();
    // Deleting the object drops the events still queued for it. If its handler is running (the
    // owner is being destroyed from inside it), the object must survive until that returns.
    if (object->depth > 0) Zombies().push_back(std::move(impl_->object));
    impl_->object.reset();
    FreeZombies();
}

TargetId MessageTarget::Id() const { return impl_->id; }

bool MessageTarget::SetTimer(unsigned id, unsigned intervalMs) {
    if (intervalMs == 0 || intervalMs > static_cast<unsigned>(INT32_MAX)) return false;
    KillTimer(id);
    const int qtId = impl_->object->startTimer(static_cast<int>(intervalMs), Qt::PreciseTimer);
    if (qtId == 0) return false;
    impl_->object->timers[id] = qtId;
    return true;
}

void MessageTarget::KillTimer(unsigned id) {
    auto& timers = impl_->object->timers;
    const auto it = timers.find(id);
    if (it == timers.end()) return;
    impl_->object->killTimer(it->second);
    timers.erase(it);
}

namespace detail {

void PostMessageIf(TargetId target, unsigned msg, uintptr_t wParam, intptr_t lParam,
                   std::function<bool()> stillWanted) {
    auto& registry = Targets();
    // Posting under the lock keeps the target from being destroyed half-way through.
    std::lock_guard lock(registry.mutex);
    const auto it = registry.targets.find(target);
    if (it == registry.targets.end()) return;
    QCoreApplication::postEvent(it->second,
                                new PostedMessageEvent(Message{msg, wParam, lParam}, std::move(stillWanted)));
}

void StopWaitingOn(int fd) {
    for (QSocketNotifier* notifier : WaitNotifiers())
        if (notifier->socket() == fd) notifier->setEnabled(false);
}

}  // namespace detail

void PostMessage(TargetId target, unsigned msg, uintptr_t wParam, intptr_t lParam) {
    detail::PostMessageIf(target, msg, wParam, lParam, nullptr);
}

void ProcessMessages() {
    QCoreApplication::sendPostedEvents();
    QCoreApplication::processEvents(QEventLoop::AllEvents);
    // Socket notifications found ready just now were queued by processEvents; deliver them in
    // this call too, so a waiting loop sees them at its next test of its flags.
    QCoreApplication::sendPostedEvents();
    FreeZombies();
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
