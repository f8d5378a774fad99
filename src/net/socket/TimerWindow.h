#pragma once
// The hidden message target of a TThreadTimer: timer messages (275) run the timer's Tick inside
// the application's guard; every other message gets default handling, which is nothing.
#include <memory>

#include "platform/MessageTarget.h"

namespace qvl {

class TThreadTimer;

std::unique_ptr<platform::MessageTarget> CreateTimerWindow(TThreadTimer* owner);

}  // namespace qvl
