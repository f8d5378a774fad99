#include "net/socket/ThreadTimer.h"

#include "framework/Exception.h"
#include "net/socket/TimerWindow.h"

namespace qvl {

namespace {
constexpr unsigned kTimerId = 1;
}

TThreadTimer::TThreadTimer(TComponent* owner) : TComponent(owner) {
    window_ = CreateTimerWindow(this);
}

TThreadTimer::~TThreadTimer() {
    BeginDestroy();
    enabled_ = false;
    if (window_) window_->KillTimer(kTimerId);
    running_ = false;
}

void TThreadTimer::SetEnabled(bool value) {
    if (value == enabled_) return;
    enabled_ = value;
    UpdateTimer();
}

void TThreadTimer::SetInterval(uint32_t value) {
    if (value == interval_) return;
    interval_ = value;
    UpdateTimer();
}

void TThreadTimer::SetOnTimer(TNotifyEvent handler) {
    onTimer_ = std::move(handler);
    UpdateTimer();
}

void TThreadTimer::Tick() {
    // A copy, so that a handler may replace OnTimer while it runs.
    const TNotifyEvent handler = onTimer_;
    if (handler) handler(this);
}

void TThreadTimer::UpdateTimer() {
    if (!window_) return;
    window_->KillTimer(kTimerId);
    running_ = false;
    if (interval_ != 0 && enabled_ && onTimer_) {
        if (!window_->SetTimer(kTimerId, interval_)) throw Exception("No Timer");
        running_ = true;
    }
}

}  // namespace qvl
