// The simulator's sockets: the two UDP query ports, the TCP download port and the IPX tunnel,
// served from one poll loop. Requests go to the print server's behaviour; its replies go back
// in the framing they came in, at once or when their delay is up. The loop holds at its limits:
// silent connections are closed, at the descriptor limit the connection silent longest makes
// room for a new one, and the replies held back are bounded in number.
#pragma once

#include <chrono>
#include <csignal>
#include <cstdint>
#include <vector>

#include "protocol/Socket.h"
#include "protocol/Wire.h"
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
    int Run(const volatile std::sig_atomic_t& stop);

    // At most this many replies wait for their delay at once; more are dropped as lost.
    static constexpr std::size_t kMaxPending = 256;

  private:
    struct Connection {
        net::UniqueSocket socket;
        std::uint64_t serial;
        tavdl::wire::StreamReader received;
        Clock::time_point quietSince;  // its last request, or the reply held back for it
    };
    struct Pending {
        Clock::time_point due;
        bool tcp;
        std::uint64_t connection;  // TCP: the connection's serial
        net::Handle udpSocket;     // UDP: the socket and the peer to answer
        sockaddr_in peer;
        std::vector<std::uint8_t> bytes;
    };

    net::UniqueSocket OpenSocket(net::Kind kind, int port);
    void OnDatagram(net::Handle socket, Door door);
    void OnAccept();
    bool OnTcpReadable(Connection& connection);
    void Close(std::size_t index, const char* why);
    bool ShedOne();
    void CloseSilent();
    void Schedule(Pending pending, int delayMs);
    void SendPending(const Pending& pending);
    void FlushDue();

    const Options& o_;
    PrintServer& server_;
    const SimLog& log_;
    net::UniqueSocket vantrel_, bramble_, listener_, tunnel_;
    std::vector<Connection> connections_;
    std::uint64_t nextSerial_ = 1;
    std::vector<Pending> pending_;
    std::size_t maxConnections_ = 0;  // as many as the descriptor limit leaves room for
    // At the limit with nothing to shed, the listener rests until a connection closes or this
    // time comes.
    bool listenerResting_ = false;
    Clock::time_point restUntil_{};
    bool saidLimit_ = false;
    bool saidQueueFull_ = false;
};

}  // namespace vexil::sim
