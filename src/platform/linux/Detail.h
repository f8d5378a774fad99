#pragma once
// Hooks between the parts of the platform layer; not for use outside src/platform.
#include <functional>

#include "platform/MessageTarget.h"
#include "platform/Sockets.h"
#include "platform/linux/SystemSockets.h"

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

// Whether an enabled read notifier already watches `fd` (so a wait needs no second one).
bool ReadWatched(int fd);

// Called when `fd` is closed: a WaitForSocketOrMessage that is watching it (further up the
// stack, while a handler runs) stops, since the number may soon belong to another socket.
void StopWaitingOn(int fd);

}  // namespace qvl::platform::detail
