#pragma once
// Hooks between the parts of the Linux platform layer; not for use outside src/platform.
#include "platform/Detail.h"

namespace qvl::platform::detail {

// Whether an enabled read notifier already watches `fd` (so a wait needs no second one).
bool ReadWatched(int fd);

// Called when `fd` is closed: a WaitForSocketOrMessage that is watching it (further up the
// stack, while a handler runs) stops, since the number may soon belong to another socket.
void StopWaitingOn(int fd);

}  // namespace qvl::platform::detail
