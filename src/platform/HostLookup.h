#pragma once
// Asynchronous host lookup: IPv6 and IPv4 through getaddrinfo on a worker thread, completion
// delivered as a message to a target.
#include <cstdint>
#include <string>
#include <vector>

#include "platform/MessageTarget.h"
#include "platform/Sockets.h"

namespace qvl::platform {

// Starts looking `name` up, for both families. When done, `msg` is posted to `target` with
// wParam = the lookup's handle and lParam = MakeLParam(0, error), error being 0, 11001 (host
// not found), 11002 (try again) or 11004 (no data). The addresses travel with the message: the
// handler takes them with TakeHostLookupAddresses(wParam).
//
// One lookup per target is live: starting another for the same target, CancelHostLookup, or
// destroying the target gives the earlier one up, and its completion is then never delivered.
// Returns a handle (never 0).
uint64_t AsyncGetHostByName(TargetId target, unsigned msg, const std::string& name);
void CancelHostLookup(uint64_t handle);

// The addresses the lookup `handle` found, in the resolver's order (IPv6 and IPv4 as it sorts
// them; port 0), once its message has been delivered. Taken once: empty before delivery, after
// CancelHostLookup, on a second call, and when the lookup failed.
std::vector<SocketAddress> TakeHostLookupAddresses(uint64_t handle);

// From now on, lookups of `name` (compared ignoring case) answer `addresses` in that order
// without asking the resolver; an empty list restores the resolver. Tests use it for answers
// no machine's configuration gives reliably (two addresses, the first refusing).
void SetHostLookupAnswerForTesting(const std::string& name, const std::vector<SocketAddress>& addresses);

// Lookups whose worker has not finished yet, given up or not. Tests wait for 0 to know that
// nothing more can arrive.
int RunningHostLookupsForTesting();

}  // namespace qvl::platform
