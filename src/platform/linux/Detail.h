#pragma once
// Hooks between the parts of the platform layer; not for use outside src/platform.
#include <functional>

#include "platform/MessageTarget.h"
#include "platform/Sockets.h"

struct sockaddr;

namespace qvl::platform::detail {

// PostMessage with a test made at delivery time, on the GUI thread: when `stillWanted` says no,
// the message is dropped. Socket and lookup notifications use it so that one whose socket was
// closed, or whose lookup was given up, after it was queued never arrives.
void PostMessageIf(TargetId target, unsigned msg, uintptr_t wParam, intptr_t lParam,
                   std::function<bool()> stillWanted);

// The host's IPv4 or IPv6 socket address as a SocketAddress (family 0 for any other).
SocketAddress FromHost(const sockaddr* address);

// Whether an enabled read notifier already watches `fd` (so a wait needs no second one).
bool ReadWatched(int fd);

// Called when `fd` is closed: a WaitForSocketOrMessage that is watching it (further up the
// stack, while a handler runs) stops, since the number may soon belong to another socket.
void StopWaitingOn(int fd);

}  // namespace qvl::platform::detail
