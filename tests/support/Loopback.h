// Sockets a test opens itself on the loopback device, and ports nobody uses.
#pragma once

#include <cstdint>

namespace vexil::test {

// A TCP socket listening on 127.0.0.1:`port` (0: a free port the system picks), or -1.
int OpenLoopbackListener(int port);
// A UDP socket bound to 127.0.0.1:`port` (0: a free port the system picks), or -1.
int OpenLoopbackDatagram(int port);
// A TCP connection to 127.0.0.1:`port`, or -1.
int ConnectLoopback(std::uint16_t port);
// Whether the peer of a connection closes it within `timeoutMs` (0: has closed it already).
bool PeerClosed(int fd, int timeoutMs);
// The port a socket is bound to.
std::uint16_t BoundPort(int fd);

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
