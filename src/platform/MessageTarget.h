#pragma once
// Message targets: what a hidden window with a window procedure is on the original platform.
// A target's handler runs on the GUI thread while messages are dispatched; messages can be
// posted to it from any thread. Each platform builds it on its own message loop (a hidden
// message-only window on Windows, an object of the Qt event loop elsewhere); nothing here shows
// which.
#include <cstdint>
#include <functional>
#include <memory>

namespace qvl::platform {

// Identifies a target; 0 is no target. Ids are never reused within a process.
using TargetId = uint64_t;

struct Message {
    unsigned msg = 0;
    uintptr_t wParam = 0;
    intptr_t lParam = 0;
};

constexpr unsigned kTimerMessage = 275;  // WM_TIMER; wParam = timer id

// Low and high 16-bit halves of a message parameter, as the original platform packs them.
constexpr unsigned LoWord(intptr_t v) { return static_cast<unsigned>(v) & 0xFFFFu; }
constexpr unsigned HiWord(intptr_t v) { return (static_cast<unsigned>(v) >> 16) & 0xFFFFu; }
constexpr intptr_t MakeLParam(unsigned lo, unsigned hi) {
    return static_cast<intptr_t>(((hi & 0xFFFFu) << 16) | (lo & 0xFFFFu));
}

// What a target is for. On Windows it names the hidden window's class, which anything that lists
// the process's windows sees: "SocketWindowClass" for notifications, "TmrWindowClass" for a
// timer's window. Elsewhere it changes nothing.
enum class TargetKind { Notifications, Timer };

// Owns one target. Create and destroy it on the GUI thread (the thread that dispatches messages:
// the one that made the QCoreApplication, on Windows the one that made the target).
// Destroying it stops its timers and drops every message still queued for it, so a handler never
// runs for an owner that is gone; it may even be destroyed from inside its own handler.
// A handler should not throw; if one does, the exception is shown in the application's error
// box and dispatch goes on. Not copyable.
class MessageTarget {
public:
    using Handler = std::function<void(const Message&)>;

    explicit MessageTarget(Handler handler, TargetKind kind = TargetKind::Notifications);
    ~MessageTarget();
    MessageTarget(const MessageTarget&) = delete;
    MessageTarget& operator=(const MessageTarget&) = delete;

    TargetId Id() const;

    // Starts periodic timer `id` (or restarts it with a new interval): every `intervalMs`
    // milliseconds message 275 with wParam = id is delivered to this target during dispatch,
    // until KillTimer. Returns false when the platform refuses (interval 0 is refused).
    bool SetTimer(unsigned id, unsigned intervalMs);
    // Stops timer `id`; harmless when it does not run.
    void KillTimer(unsigned id);

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// Queues a message for `target`, from any thread. A message whose target is gone by the time it
// would be delivered is dropped.
void PostMessage(TargetId target, unsigned msg, uintptr_t wParam, intptr_t lParam);

// Delivers every pending message and event of the GUI thread (posted messages, socket
// notifications, timers, repaints, input), then returns. Off Windows it needs a QCoreApplication
// (or a subclass) to exist.
void ProcessMessages();

enum class SocketWait { Readable, Writable };

// Waits until `fd` has something to read (or, with SocketWait::Writable, room to send; either
// way also when it has closed or failed), any message or event is pending, or `maxWaitMs`
// passes, whichever is first; then dispatches as ProcessMessages does. The receive and send
// loops use it so that a silent peer, or one that does not read, costs no processor time. With
// `fd` < 0 it waits for messages and events only.
void WaitForSocketOrMessage(int fd, int maxWaitMs, SocketWait what = SocketWait::Readable);

// Sleeps the calling thread (the wait loops' 2 ms turn).
void Sleep(unsigned ms);

}  // namespace qvl::platform
