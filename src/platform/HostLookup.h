#pragma once
// Asynchronous host lookup: IPv4 through getaddrinfo on a worker thread, completion delivered as
// a message to a target.
#include <cstdint>
#include <string>

#include "platform/MessageTarget.h"

namespace qvl::platform {

// Starts looking `name` up. When done, `msg` is posted to `target` with wParam = the first IPv4
// address in network byte order (0 when none) and lParam = MakeLParam(0, error), error being 0,
// 11001 (host not found), 11002 (try again) or 11004 (no data).
//
// One lookup per target is live: starting another for the same target, CancelHostLookup, or
// destroying the target gives the earlier one up, and its completion is then never delivered.
// Returns a handle (never 0).
uint64_t AsyncGetHostByName(TargetId target, unsigned msg, const std::string& name);
void CancelHostLookup(uint64_t handle);

// Lookups whose worker has not finished yet, given up or not. Tests wait for 0 to know that
// nothing more can arrive.
int RunningHostLookupsForTesting();

}  // namespace qvl::platform
