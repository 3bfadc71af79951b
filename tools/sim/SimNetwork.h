// The simulator's sockets: the two UDP query ports, the TCP download port and the IPX tunnel,
// served from one poll loop. Requests go to the print server's behaviour; its replies go back
// in the framing they came in, at once or when their delay is up.
#pragma once

#include <netinet/in.h>
#include <signal.h>

#include <chrono>
#include <cstdint>
#include <vector>

#include "tavdl/TavdlWire.h"
#include "tavdl/UniqueFd.h"
#include "tools/sim/PrintServer.h"

namespace vexil::sim {

class SimNetwork {
  public:
    SimNetwork(const Options& options, PrintServer& server, const SimLog& log)
        : o_(options), server_(server), log_(log) {}
    // Opens every socket and says where it listens; false (with the reason said) when one
    // cannot be opened.
    bool Start();
    // Serves until `stop` is set, or after one finished download with --once. The exit status.
    int Run(const volatile sig_atomic_t& stop);

  private:
    using Clock = std::chrono::steady_clock;
    struct Connection {
        tavdl::UniqueFd fd;
        std::uint64_t serial;
        tavdl::wire::StreamReader received;
    };
    struct Pending {
        Clock::time_point due;
        bool tcp;
        std::uint64_t connection;  // TCP: the connection's serial
        int udpFd;                 // UDP: the socket and the peer to answer
        sockaddr_in peer;
        std::vector<std::uint8_t> bytes;
    };

    tavdl::UniqueFd OpenSocket(int type, int port);
    void OnQueryDatagram(int fd, std::uint8_t expected);
    void OnTunnelDatagram();
    void OnAccept();
    bool OnTcpReadable(Connection& connection);
    void Schedule(Pending pending, int delayMs);
    void SendPending(const Pending& pending);
    void FlushDue();

    const Options& o_;
    PrintServer& server_;
    const SimLog& log_;
    tavdl::UniqueFd vantrel_, bramble_, listener_, tunnel_;
    std::vector<Connection> connections_;
    std::uint64_t nextSerial_ = 1;
    std::vector<Pending> pending_;
};

}  // namespace vexil::sim
