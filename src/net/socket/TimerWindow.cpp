#include "net/socket/TimerWindow.h"

#include "framework/Application.h"
#include "net/socket/ThreadTimer.h"

namespace qvl {

std::unique_ptr<platform::MessageTarget> CreateTimerWindow(TThreadTimer* owner) {
    return std::make_unique<platform::MessageTarget>(
        [owner](const platform::Message& message) {
            if (owner == nullptr || message.msg != platform::kTimerMessage) return;
            // A failing OnTimer handler is reported like any other error of the program and must
            // not stop the timer's later ticks.
            Application::Guarded([owner] { owner->Tick(); });
        },
        platform::TargetKind::Timer);
}

}  // namespace qvl
