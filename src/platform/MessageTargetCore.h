#pragma once
// What the message targets of every platform share: the registry that PostMessage finds targets
// in, the delivery of a message with its nesting depth, and the retiring of a target whose
// handler may still be running. Each platform derives its native target from TargetCore and
// keeps only its queue, its timers and its wait. Not for use outside src/platform.
#include <functional>
#include <memory>

#include "platform/MessageTarget.h"

namespace qvl::platform::detail {

// One posted message with its delivery-time test (see PostMessageIf). The native queue holds it
// until it is delivered or dropped.
struct Envelope {
    Message message;
    std::function<bool()> stillWanted;
};

class TargetCore {
public:
    explicit TargetCore(MessageTarget::Handler handler) : handler_(std::move(handler)) {}
    virtual ~TargetCore() = default;
    TargetCore(const TargetCore&) = delete;
    TargetCore& operator=(const TargetCore&) = delete;

    TargetId Id() const { return id_; }
    // False from the moment its MessageTarget is being destroyed.
    bool Alive() const { return alive_; }
    // Whether one of its handlers is running (further up the stack).
    bool InHandler() const { return depth_ > 0; }

    // Runs the handler on the GUI thread.
    void Deliver(const Message& message);
    // An envelope taken from the native queue: delivered when the target (nullptr: gone) is alive
    // and the envelope's test says yes. The test runs even for a target that is gone, so that
    // whoever asked for it can forget what it kept for this message.
    static void Receive(TargetCore* target, const Envelope& envelope);
    // An envelope the native queue throws away unseen: its test is told, as above.
    static void Drop(const Envelope& envelope);

    // Puts the envelope in the native queue; called from any thread, under the registry's lock.
    virtual void Queue(Envelope envelope) = 0;
    // Starts or restarts native timer `id` (interval already checked); false when refused.
    virtual bool StartTimer(unsigned id, unsigned intervalMs) = 0;
    virtual void StopTimer(unsigned id) = 0;
    // Called once the target is out of the registry and no longer alive: stops its timers and
    // drops what is queued for it, as far as the platform can before the object is freed.
    virtual void Detach() = 0;

private:
    friend TargetId RegisterTarget(TargetCore* target);
    friend void RetireTarget(std::unique_ptr<TargetCore> target);

    MessageTarget::Handler handler_;
    TargetId id_ = 0;
    bool alive_ = true;
    int depth_ = 0;  // handlers of this target currently running (nested dispatch)
};

// The platform's native target (made on the GUI thread).
std::unique_ptr<TargetCore> MakeNativeTarget(MessageTarget::Handler handler, TargetKind kind);

// Gives the target its id (never reused) and makes it reachable by PostMessage.
TargetId RegisterTarget(TargetCore* target);
// Runs `use` on live target `id` under the registry's lock, from any thread; false when there is
// no such target. The target cannot be retired while `use` runs.
bool WithTarget(TargetId id, const std::function<void(TargetCore&)>& use);
// Takes the target out of the registry, detaches it and frees it; one whose handler is running
// (its owner destroyed from inside it) is kept until that handler has returned.
void RetireTarget(std::unique_ptr<TargetCore> target);
// Frees the retired targets whose handlers have returned; each dispatch turn ends with it.
void FreeRetiredTargets();

}  // namespace qvl::platform::detail
