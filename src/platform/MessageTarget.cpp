#include "platform/MessageTarget.h"

#include <cstdint>

#include "platform/Detail.h"
#include "platform/MessageTargetCore.h"

namespace qvl::platform {

struct MessageTarget::Impl {
    std::unique_ptr<detail::TargetCore> object;
};

MessageTarget::MessageTarget(Handler handler, TargetKind kind) : impl_(std::make_unique<Impl>()) {
    impl_->object = detail::MakeNativeTarget(std::move(handler), kind);
    detail::RegisterTarget(impl_->object.get());
}

MessageTarget::~MessageTarget() { detail::RetireTarget(std::move(impl_->object)); }

TargetId MessageTarget::Id() const { return impl_->object->Id(); }

bool MessageTarget::SetTimer(unsigned id, unsigned intervalMs) {
    if (intervalMs == 0 || intervalMs > static_cast<unsigned>(INT32_MAX)) return false;
    return impl_->object->StartTimer(id, intervalMs);
}

void MessageTarget::KillTimer(unsigned id) { impl_->object->StopTimer(id); }

namespace detail {

void PostMessageIf(TargetId target, unsigned msg, uintptr_t wParam, intptr_t lParam,
                   std::function<bool()> stillWanted) {
    // Queued under the registry's lock, which keeps the target from being retired half-way.
    WithTarget(target, [&](TargetCore& core) {
        core.Queue(Envelope{Message{msg, wParam, lParam}, std::move(stillWanted)});
    });
}

}  // namespace detail

void PostMessage(TargetId target, unsigned msg, uintptr_t wParam, intptr_t lParam) {
    detail::PostMessageIf(target, msg, wParam, lParam, nullptr);
}

}  // namespace qvl::platform
