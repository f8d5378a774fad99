#pragma once
// Hooks between the parts of the Windows platform layer; not for use outside src/platform.
#include "platform/Detail.h"
#include "platform/windows/Win32.h"

namespace qvl::platform::detail {

// The message-only window of a live target; nullptr when there is none.
HWND TargetWindow(TargetId target);

// Asked by a target's window procedure for every message that the socket service posts itself
// (WSAAsyncSelect): true when socket `s` is still registered with that target and message.
// A message of a socket that was closed, or registered anew, meanwhile is dropped.
bool SocketEventWanted(TargetId target, unsigned msg, uintptr_t s);

// Whether event `event` is one the owner of socket `s` asked for. Write readiness is registered
// during a wait for room to send (to wake it), but delivered only when asked for.
bool EventWanted(uintptr_t s, unsigned event);

// Adds the write event to a registered socket's registration for the length of a wait for room
// to send (on), or takes it away again (off). Registered for good, it would cost every
// notification of the socket dearly on some implementations of the service.
void WatchWrites(int s, bool on);

// Whether socket `s` is registered with a live target for the events that end a wait of kind
// `what`, so that the wait is woken by its messages and needs no watch of its own.
bool Watched(int s, SocketWait what);

// Removes the queued messages `msg` of window `hwnd` whose wParam is socket `s`; the others
// are queued again in their order.
void PurgeSocketMessages(HWND hwnd, unsigned msg, uintptr_t s);

// Whether socket `s` was made non-blocking by us (AsyncSelect does that, as WSAAsyncSelect does).
bool NonBlocking(int s);

}  // namespace qvl::platform::detail
