#include "platform/MessageTargetCore.h"

#include <mutex>
#include <unordered_map>
#include <vector>

#include "framework/Application.h"

namespace qvl::platform::detail {
namespace {

// Targets by id, for PostMessage from any thread. Never destroyed, so a worker thread that posts
// while the process exits finds it intact.
struct Registry {
    std::mutex mutex;
    std::unordered_map<TargetId, TargetCore*> targets;
    TargetId nextId = 1;
};

Registry& Targets() {
    static auto* registry = new Registry;
    return *registry;
}

// Targets retired while their handler was running, freed once it has returned. GUI thread only.
std::vector<std::unique_ptr<TargetCore>>& Zombies() {
    static auto* zombies = new std::vector<std::unique_ptr<TargetCore>>;
    return *zombies;
}

}  // namespace

void TargetCore::Deliver(const Message& message) {
    ++depth_;
    // Our handlers do not throw (the socket engine swallows, the timer reports); should one do so
    // anyway, it must not unwind through the platform's dispatch, so it is shown as any other
    // failure of the program would be.
    Application::Guarded([&] {
        if (handler_) handler_(message);
    });
    --depth_;
}

void TargetCore::Receive(TargetCore* target, const Envelope& envelope) {
    const bool wanted = !envelope.stillWanted || envelope.stillWanted();
    if (target && target->alive_ && wanted) target->Deliver(envelope.message);
}

void TargetCore::Drop(const Envelope& envelope) {
    if (envelope.stillWanted) envelope.stillWanted();
}

TargetId RegisterTarget(TargetCore* target) {
    auto& registry = Targets();
    std::lock_guard lock(registry.mutex);
    target->id_ = registry.nextId++;
    registry.targets.emplace(target->id_, target);
    return target->id_;
}

bool WithTarget(TargetId id, const std::function<void(TargetCore&)>& use) {
    auto& registry = Targets();
    std::lock_guard lock(registry.mutex);
    const auto it = registry.targets.find(id);
    if (it == registry.targets.end()) return false;
    use(*it->second);
    return true;
}

void RetireTarget(std::unique_ptr<TargetCore> target) {
    {
        auto& registry = Targets();
        std::lock_guard lock(registry.mutex);
        registry.targets.erase(target->id_);
    }
    // From here on nothing more is posted to it by our code; what is queued goes.
    target->alive_ = false;
    target->Detach();
    if (target->InHandler()) Zombies().push_back(std::move(target));
    target.reset();
    FreeRetiredTargets();
}

void FreeRetiredTargets() {
    std::erase_if(Zombies(), [](const std::unique_ptr<TargetCore>& z) { return !z->InHandler(); });
}

}  // namespace qvl::platform::detail
