#include "tests/support/Loopback.h"

#include <vector>

namespace vexil::test {

namespace {

sockaddr_in LoopbackAt(int port) {
    sockaddr_in at{};
    at.sin_family = AF_INET;
    at.sin_port = htons(static_cast<std::uint16_t>(port));
    at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return at;
}

net::UniqueSocket OpenBound(net::Kind kind, int port) {
    net::UniqueSocket socket(net::Open(kind));
    if (!socket.Valid() || net::Bind(socket.Get(), LoopbackAt(port)) != 0 ||
        (kind == net::Kind::kStream && net::Listen(socket.Get()) != 0)) {
        socket.Reset();
    }
    return socket;
}

}  // namespace

net::UniqueSocket OpenLoopbackListener(int port) {
    return OpenBound(net::Kind::kStream, port);
}

net::UniqueSocket OpenLoopbackDatagram(int port) {
    return OpenBound(net::Kind::kDatagram, port);
}

net::UniqueSocket ConnectLoopback(std::uint16_t port) {
    // The unit's sockets do not block: the connection is made, or fails, while this waits.
    net::UniqueSocket socket(net::Open(net::Kind::kStream));
    if (!socket.Valid()) {
        return socket;
    }
    if (net::Connect(socket.Get(), LoopbackAt(port)) != 0 &&
        (net::LastError() != net::Error::kInProgress ||
         net::Wait(socket.Get(), net::kWritable, 5000) != 1 ||
         net::PendingError(socket.Get()) != 0)) {
        socket.Reset();
    }
    return socket;
}

bool PeerClosed(net::Handle socket, int timeoutMs) {
    char byte = 0;
    return net::Wait(socket, net::kReadable, timeoutMs) == 1 && net::Receive(socket, &byte, 1) == 0;
}

SimPorts FreeSimPorts() {
    // Each port is held by a TCP and a UDP socket until all four are found, so they differ.
    std::vector<net::UniqueSocket> held;
    std::uint16_t found[4] = {};
    for (int i = 0, tries = 0; i < 4 && tries < 100; ++tries) {
        net::UniqueSocket tcp = OpenBound(net::Kind::kStream, 0);
        const std::uint16_t port = tcp.Valid() ? net::BoundPort(tcp.Get()) : 0;
        net::UniqueSocket udp =
            port == 0 ? net::UniqueSocket() : OpenBound(net::Kind::kDatagram, port);
        if (udp.Valid()) {
            found[i++] = port;
        }
        held.push_back(std::move(tcp));
        held.push_back(std::move(udp));
    }
    return {found[0], found[1], found[2], found[3]};
}

}  // namespace vexil::test
