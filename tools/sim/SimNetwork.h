// The simulator's sockets: for each print server it plays the two UDP query ports and the TCP
// download port on its address, and the IPX tunnel of the first one, all served from one loop
// that waits on them all at once. Requests go to the behaviour of the print server whose socket
// they came on; its replies go back in the framing they came in, at once or when their delay is up.
// The loop holds at its limits: silent connections are closed, at the descriptor limit the
// connection silent longest makes room for a new one, and the replies held back are bounded in
// number.
#pragma once

#include <chrono>
#include <csignal>
#include <cstdint>
#include <map>
#include <memory>
#include <vector>

#include "protocol/Socket.h"
#include "protocol/Wire.h"
#include "tools/sim/PrintServer.h"

namespace vexil::sim {

// One print server the simulator plays: its options, its log, its behaviour and its sockets.
struct Station {
    // Its log lines name its address when the simulator plays several.
    Station(const Options& given, bool named)
        : options(given),
          log(given.quiet, stderr, named ? given.listen : std::string()),
          server(options, log) {}
    Station(const Station&) = delete;
    Station& operator=(const Station&) = delete;

    const Options options;
    const SimLog log;
    PrintServer server;
    net::UniqueSocket vantrel, bramble, listener;
};

class SimNetwork {
  public:
    // The print servers of `printers`, one per address; the options of the whole simulator (the
    // ports, the IPX card, --once, --ready-fd, --idle-seconds) are the first one's. What
    // concerns them all goes to `log`.
    SimNetwork(const std::vector<Options>& printers, const SimLog& log);
    // Opens every socket and says where it listens; false (with the reason said) when the
    // descriptor limit leaves no room for them or one cannot be opened.
    bool Start();
    // Serves until `stop` is set, or after one finished download with --once. The exit status.
    int Run(const volatile std::sig_atomic_t& stop);

    // At most this many replies wait for their delay at once beside one for each print server;
    // more are dropped as lost.
    static constexpr std::size_t kMaxPending = 256;

  private:
    struct Connection {
        net::UniqueSocket socket;
        Station* station;  // the print server whose download port took it
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

    net::UniqueSocket OpenSocket(const Station& station, net::Kind kind, int port);
    void OnDatagram(Station& station, net::Handle socket, Door door);
    void OnAccept(Station& station);
    bool OnTcpReadable(std::uint64_t serial, Connection& connection);
    void Close(std::uint64_t serial, const char* why);
    void RestListeners(bool resting);
    bool ShedOne();
    void CloseSilent();
    void Schedule(Pending pending, int delayMs);
    void SendPending(const Pending& pending);
    void FlushDue();
    bool AnyFinished() const;

    std::vector<std::unique_ptr<Station>> stations_;
    const Options& o_;  // the first print server's, for those of the whole simulator
    const SimLog& log_;
    net::UniqueSocket tunnel_;  // the first print server's
    net::Poller poller_;
    std::map<std::uint64_t, Connection> connections_;  // by serial, the oldest first
    std::uint64_t nextSerial_ = 1;
    std::vector<Pending> pending_;
    std::size_t maxConnections_ = 0;  // as many as the descriptor limit leaves room for
    // At the limit with nothing to shed, the listeners rest until a connection closes or this
    // time comes.
    bool listenerResting_ = false;
    Clock::time_point restUntil_{};
    bool saidLimit_ = false;
    bool saidQueueFull_ = false;
};

}  // namespace vexil::sim
