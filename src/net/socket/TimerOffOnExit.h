#pragma once
// Stops the engine's time-out timer on every way out of a transfer operation, so that a timer
// left running after an exception cannot cancel the next operation.
#include "net/socket/SocketEngine.h"

namespace qvl {

class TimerOffOnExit {
public:
    explicit TimerOffOnExit(TSocketEngine& engine) : engine_(engine) {}
    ~TimerOffOnExit() { engine_.TimerOff(); }
    TimerOffOnExit(const TimerOffOnExit&) = delete;
    TimerOffOnExit& operator=(const TimerOffOnExit&) = delete;

private:
    TSocketEngine& engine_;
};

}  // namespace qvl
