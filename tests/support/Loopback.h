// Sockets a test opens itself on the loopback device, and ports nobody uses: sockets of the
// socket unit, so the same on every platform (net::BoundPort says where one is bound).
#pragma once

#include <cstdint>

#include "protocol/Socket.h"

namespace vexil::test {

// A TCP socket listening on 127.0.0.1:`port` (0: a free port the system picks), or none.
net::UniqueSocket OpenLoopbackListener(int port);
// A UDP socket bound to 127.0.0.1:`port` (0: a free port the system picks), or none.
net::UniqueSocket OpenLoopbackDatagram(int port);
// A TCP connection to 127.0.0.1:`port` made within 5 seconds, or none.
net::UniqueSocket ConnectLoopback(std::uint16_t port);
// Whether the peer of a connection closes it within `timeoutMs` (0: has closed it already).
bool PeerClosed(net::Handle socket, int timeoutMs);

// Ports on 127.0.0.1 that no TCP and no UDP socket uses at the moment, all different. Another
// process may take one before the caller binds it; SimProcess chooses again when that happens.
struct SimPorts {
    std::uint16_t vantrel = 0;
    std::uint16_t bramble = 0;
    std::uint16_t download = 0;
    std::uint16_t tunnel = 0;
};
SimPorts FreeSimPorts();

}  // namespace vexil::test
