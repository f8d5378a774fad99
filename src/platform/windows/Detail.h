#pragma once
// Hooks between the parts of the platform layer; not for use outside src/platform.
#include <functional>

#include "platform/MessageTarget.h"
#include "platform/windows/Win32.h"

namespace qvl::platform::detail {

// PostMessage with a test made at delivery time, on the GUI thread: when `stillWanted` says no,
// the message is dropped. Lookup notifications use it so that one whose lookup was given up
// after it was queued never arrives.
void PostMessageIf(TargetId target, unsigned msg, uintptr_t wParam, intptr_t lParam,
                   std::function<bool()> stillWanted);

// The message-only window of a live target; nullptr when there is none.
HWND TargetWindow(TargetId target);

// Asked by a target's window procedure for every message that the socket service posts itself
// (WSAAsyncSelect): true when socket `s` is still registered with that target and message.
// A message of a socket that was closed, or registered anew, meanwhile is dropped.
bool SocketEventWanted(TargetId target, unsigned msg, uintptr_t s);

// Whether socket `s` is registered for read and close events with a live target, so that a wait
// is woken by its messages and needs no watch of its own.
bool ReadWatched(int s);

// Removes the queued messages `msg` of window `hwnd` whose wParam is socket `s`; the others
// are queued again in their order.
void PurgeSocketMessages(HWND hwnd, unsigned msg, uintptr_t s);

// Whether socket `s` was made non-blocking by us (AsyncSelect does that, as WSAAsyncSelect does).
bool NonBlocking(int s);

}  // namespace qvl::platform::detail
