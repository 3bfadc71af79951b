#include "tests/support/Loopback.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <vector>

namespace vexil::test {

namespace {

int OpenBound(int type, int port) {
    const int fd = ::socket(AF_INET, type | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return -1;
    }
    const int one = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in at{};
    at.sin_family = AF_INET;
    at.sin_port = htons(static_cast<std::uint16_t>(port));
    at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::bind(fd, reinterpret_cast<sockaddr*>(&at), sizeof at) != 0 ||
        (type == SOCK_STREAM && ::listen(fd, 64) != 0)) {
        ::close(fd);
        return -1;
    }
    return fd;
}

}  // namespace

int OpenLoopbackListener(int port) {
    return OpenBound(SOCK_STREAM, port);
}

int OpenLoopbackDatagram(int port) {
    return OpenBound(SOCK_DGRAM, port);
}

int ConnectLoopback(std::uint16_t port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in at{};
    at.sin_family = AF_INET;
    at.sin_port = htons(port);
    at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (fd >= 0 && ::connect(fd, reinterpret_cast<sockaddr*>(&at), sizeof at) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

bool PeerClosed(int fd, int timeoutMs) {
    pollfd p{fd, POLLIN, 0};
    char byte = 0;
    return ::poll(&p, 1, timeoutMs) > 0 && ::recv(fd, &byte, 1, MSG_DONTWAIT) == 0;
}

std::uint16_t BoundPort(int fd) {
    sockaddr_in at{};
    socklen_t size = sizeof at;
    if (::getsockname(fd, reinterpret_cast<sockaddr*>(&at), &size) != 0) {
        return 0;
    }
    return ntohs(at.sin_port);
}

SimPorts FreeSimPorts() {
    // Each port is held by a TCP and a UDP socket until all four are found, so they differ.
    std::vector<int> held;
    std::uint16_t found[4] = {};
    for (int i = 0, tries = 0; i < 4 && tries < 100; ++tries) {
        const int tcp = OpenBound(SOCK_STREAM, 0);
        const std::uint16_t port = tcp < 0 ? 0 : BoundPort(tcp);
        const int udp = port == 0 ? -1 : OpenBound(SOCK_DGRAM, port);
        for (int fd : {tcp, udp}) {
            if (fd >= 0) {
                held.push_back(fd);
            }
        }
        if (udp >= 0) {
            found[i++] = port;
        }
    }
    for (int fd : held) {
        ::close(fd);
    }
    return {found[0], found[1], found[2], found[3]};
}

}  // namespace vexil::test
