#pragma once
// TThreadTimer: a periodic timer component on the GUI thread (no thread of its own despite the
// name). Its ticks are messages to a hidden target, delivered while messages are dispatched.
#include <cstdint>
#include <memory>

#include "framework/Component.h"
#include "platform/MessageTarget.h"

namespace qvl {

class TThreadTimer : public TComponent {
public:
    // Enabled = true, Interval = 1000, no OnTimer: so no system timer runs yet.
    explicit TThreadTimer(TComponent* owner = nullptr);
    // Stops the system timer; no tick is delivered afterwards.
    ~TThreadTimer() override;

    // A system timer runs exactly while Enabled is true, Interval is not 0 and OnTimer is set.
    // Setting Enabled or Interval to the value it already has does nothing (a running timer keeps
    // its period); a new value restarts the timer from now. Setting OnTimer always restarts it.
    // Each setter raises Exception "No Timer" when the platform refuses the timer.
    bool Enabled() const { return enabled_; }
    void SetEnabled(bool value);
    uint32_t Interval() const { return interval_; }
    void SetInterval(uint32_t value);
    const TNotifyEvent& OnTimer() const { return onTimer_; }
    void SetOnTimer(TNotifyEvent handler);

    // True while a system timer runs.
    bool Running() const { return running_; }

    // Fires OnTimer with this timer as Sender. Called for every timer message; an exception from
    // the handler goes to the application's error report (the target guards it), and later
    // ticks still fire.
    void Tick();

private:
    void UpdateTimer();

    uint32_t interval_ = 1000;
    std::unique_ptr<platform::MessageTarget> window_;
    TNotifyEvent onTimer_;
    bool enabled_ = true;
    bool running_ = false;
};

}  // namespace qvl
