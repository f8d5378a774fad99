#pragma once
// Hooks between the parts of the platform layer that every platform has; not for use outside
// src/platform. Each platform's own hooks are in its folder's Detail.h, which includes this.
#include <functional>

#include "platform/MessageTarget.h"
#include "platform/Sockets.h"
#include "SystemSockets.h"

namespace qvl::platform::detail {

// PostMessage with a test made at delivery time, on the GUI thread: when `stillWanted` says no,
// the message is dropped. Socket and lookup notifications use it so that one whose socket was
// closed, or whose lookup was given up, after it was queued never arrives.
void PostMessageIf(TargetId target, unsigned msg, uintptr_t wParam, intptr_t lParam,
                   std::function<bool()> stillWanted);

// Socket addresses between the interface's record and the system's (SocketAddresses.cpp):
// ToHost is false for a family the record does not hold; FromHost gives family 0 for any
// family but IPv4 and IPv6.
bool ToHost(const SocketAddress& a, sockaddr_storage* out, socklen_t* length);
SocketAddress FromHost(const sockaddr* address);

// The system's part of the service's start-up and shut-down (SocketService.cpp keeps the count):
// 0 or the start-up's error number; `info` filled on success.
int StartSystemSockets(unsigned versionRequested, SocketServiceInfo* info);
void StopSystemSockets();

}  // namespace qvl::platform::detail
