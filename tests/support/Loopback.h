#pragma once
// Ports on 127.0.0.1 (or ::1) for servers that tests start themselves. Nothing here touches any
// other address.
#include <cstdint>

#include "SocketApi.h"

namespace qvl::test {

// 127.0.0.1:port as a socket address (port 0: any free port when binding).
sockaddr_in LoopbackAddress(uint16_t port);

// A TCP port on 127.0.0.1 that was free a moment ago: bound with port 0, read back, released.
// Another process may take it before the caller binds it, so callers must cope with a clash.
uint16_t PickFreeLoopbackPort();

// One blocking connect to 127.0.0.1:port; true when something accepted it. The connection is
// closed again at once without sending anything.
bool CanConnectLoopback(uint16_t port);

// The same on ::1. HasIpv6Loopback: a socket can be bound to [::1] here (some containers and
// kernels have IPv6 switched off); tests that need it skip, saying so, where it cannot.
bool HasIpv6Loopback();
uint16_t PickFreeIpv6LoopbackPort();
bool CanConnectIpv6Loopback(uint16_t port);

}  // namespace qvl::test
