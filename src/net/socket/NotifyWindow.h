#pragma once
// The hidden message target of a TSocketEngine: socket and lookup notifications (messages 1125,
// 1126, and any number from 1125 up) go to the engine's HandleNotification; lower numbers get
// default handling, which is nothing.
#include <memory>

#include "platform/MessageTarget.h"

namespace qvl {

class TSocketEngine;

std::unique_ptr<platform::MessageTarget> CreateNotifyWindow(TSocketEngine* owner);

}  // namespace qvl
