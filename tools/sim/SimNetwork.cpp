#include "tools/sim/SimNetwork.h"

#include <algorithm>
#include <cstddef>
#include <string>

#include "platform/StandardStreams.h"

namespace vexil::sim {

namespace {

namespace wire = tavdl::wire;

// Connections taken at most, whatever the descriptor limit: each costs a poll entry and a buffer.
constexpr std::size_t kMaxConnections = 1024;
// Descriptors kept free beside the connections: the flash file written when a download
// finishes, and one to spare.
constexpr std::size_t kSpareDescriptors = 2;
// Connections accepted in one round of the loop, so that a burst is taken quickly without
// starving the other sockets.
constexpr int kAcceptsPerRound = 64;
// How long the listener rests when the descriptor limit leaves nothing to shed.
constexpr auto kListenerRest = std::chrono::seconds(1);

// A UDP sender as a client: its address and port, apart from every TCP connection's serial.
std::uint64_t UdpClient(const sockaddr_in& peer) {
    return (std::uint64_t{1} << 63) | (std::uint64_t{ntohl(peer.sin_addr.s_addr)} << 16) |
           ntohs(peer.sin_port);
}

Clock::duration Seconds(double seconds) {
    return std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
}

// How many connections the descriptor limit leaves room for, beside those open now.
std::size_t ConnectionRoom() {
    const std::size_t room = net::SocketRoom();
    return std::clamp<std::size_t>(room > kSpareDescriptors ? room - kSpareDescriptors : 1, 1,
                                   kMaxConnections);
}

// The entries of the wait in Run: the four sockets of their own, then one per connection.
enum Entry : std::size_t { kVantrel, kBramble, kListener, kTunnel, kConnections };

}  // namespace

net::UniqueSocket SimNetwork::OpenSocket(net::Kind kind, int port) {
    net::UniqueSocket socket(net::Open(kind));
    sockaddr_in at{};
    at.sin_family = AF_INET;
    at.sin_port = htons(static_cast<std::uint16_t>(port));
    net::ParseIpv4(o_.listen.c_str(), at.sin_addr);
    // The backlog holds a burst of connections while the loop takes them.
    if (!socket.Valid() || net::Bind(socket.Get(), at) != 0 ||
        (kind == net::Kind::kStream && net::Listen(socket.Get()) != 0)) {
        log_.Always("cannot listen on %s:%d: %s", o_.listen.c_str(), port,
                    net::LastErrorText().c_str());
        socket.Reset();
    }
    return socket;
}

bool SimNetwork::Start() {
    vantrel_ = OpenSocket(net::Kind::kDatagram, o_.vantrelPort);
    bramble_ = OpenSocket(net::Kind::kDatagram, o_.bramblePort);
    listener_ = OpenSocket(net::Kind::kStream, o_.downloadPort);
    if (o_.tunnelPort != 0) {
        tunnel_ = OpenSocket(net::Kind::kDatagram, o_.tunnelPort);
        if (!tunnel_.Valid()) {
            return false;
        }
    }
    if (!vantrel_.Valid() || !bramble_.Valid() || !listener_.Valid()) {
        return false;
    }
    maxConnections_ = ConnectionRoom();
    log_.Note(
        "listening on %s (version %d/udp, switch %d/udp, download %d/tcp, IPX tunnel %d/udp as "
        "%02X%02X%02X%02X:%02X%02X%02X%02X%02X%02X), model code %02x%02x, firmware %x.%02x",
        o_.listen.c_str(), o_.vantrelPort, o_.bramblePort, o_.downloadPort, o_.tunnelPort,
        o_.network[0], o_.network[1], o_.network[2], o_.network[3], o_.node[0], o_.node[1],
        o_.node[2], o_.node[3], o_.node[4], o_.node[5], o_.modelCode[0], o_.modelCode[1],
        o_.version[0], o_.version[1]);
    if (o_.readyFd >= 0) {
        if (std::string why; !vexil::SayOnDescriptor(o_.readyFd, "ready\n", why)) {
            log_.Always("cannot say ready on descriptor %d: %s", o_.readyFd, why.c_str());
            return false;
        }
    }
    return true;
}

void SimNetwork::Schedule(Pending pending, int delayMs) {
    if (delayMs <= 0) {
        SendPending(pending);
        return;
    }
    if (pending_.size() >= kMaxPending) {
        // A flood of requests must not grow the queue without end; the reply is lost as a
        // datagram may be, and the client's retry deals with it.
        if (!saidQueueFull_) {
            log_.Note("%llu replies already wait for their delay: further ones are dropped",
                      Count(pending_.size()));
            saidQueueFull_ = true;
        }
        return;
    }
    pending.due = Clock::now() + std::chrono::milliseconds(delayMs);
    if (pending.tcp) {
        for (Connection& connection : connections_) {
            if (connection.serial == pending.connection) {
                connection.quietSince = std::max(connection.quietSince, pending.due);
            }
        }
    }
    pending_.push_back(std::move(pending));
}

void SimNetwork::SendPending(const Pending& pending) {
    if (!pending.tcp) {
        net::SendTo(pending.udpSocket, pending.bytes.data(), pending.bytes.size(), pending.peer);
        return;
    }
    for (const Connection& connection : connections_) {
        if (connection.serial == pending.connection) {
            // Replies are small; a full socket buffer means the peer stopped reading.
            net::Send(connection.socket.Get(), pending.bytes.data(), pending.bytes.size());
            return;
        }
    }
}

void SimNetwork::FlushDue() {
    const auto now = Clock::now();
    for (std::size_t i = 0; i < pending_.size();) {
        if (pending_[i].due <= now) {
            SendPending(pending_[i]);
            pending_.erase(pending_.begin() + static_cast<std::ptrdiff_t>(i));
        } else {
            ++i;
        }
    }
}

void SimNetwork::OnDatagram(net::Handle socket, Door door) {
    std::uint8_t in[wire::kMaxFrame + 1];
    sockaddr_in peer{};
    const long got = net::ReceiveFrom(socket, in, sizeof in, peer);
    if (got < 0) {
        return;
    }
    auto answer = server_.AnswerDatagram(door, in, static_cast<std::size_t>(got),
                                         {UdpClient(peer), Clock::now()});
    if (answer) {
        Schedule({{}, false, 0, socket, peer, std::move(answer->bytes)}, answer->delayMs);
    }
}

void SimNetwork::Close(std::size_t index, const char* why) {
    const std::uint64_t serial = connections_[index].serial;
    if (why != nullptr) {
        log_.Note("tcp connection %s", why);
    }
    connections_.erase(connections_.begin() + static_cast<std::ptrdiff_t>(index));
    std::erase_if(pending_, [serial](const Pending& p) { return p.tcp && p.connection == serial; });
    server_.Leave(serial);
    listenerResting_ = false;  // a descriptor is free again
}

// Closes the connection silent longest that carries no download and waits for no reply; false
// when there is none.
bool SimNetwork::ShedOne() {
    const auto now = Clock::now();
    const auto owner = server_.DownloadClient();
    std::size_t chosen = connections_.size();
    for (std::size_t i = 0; i < connections_.size(); ++i) {
        const Connection& c = connections_[i];
        if (c.serial != owner && c.quietSince <= now &&
            (chosen == connections_.size() || c.quietSince < connections_[chosen].quietSince)) {
            chosen = i;
        }
    }
    if (chosen == connections_.size()) {
        return false;
    }
    Close(chosen, "silent longest closed to make room for a new one");
    return true;
}

void SimNetwork::OnAccept() {
    for (int round = 0; round < kAcceptsPerRound; ++round) {
        if (connections_.size() >= maxConnections_ && !ShedOne()) {
            listenerResting_ = true;
            restUntil_ = Clock::now() + kListenerRest;
            return;
        }
        net::UniqueSocket socket(net::Accept(listener_.Get()));
        if (!socket.Valid()) {
            if (net::LastError() == net::Error::kNoRoom) {
                // The limit is lower than counted (or other descriptors are open): no more
                // connections than now from here on, and room made as at the counted limit.
                maxConnections_ = std::max<std::size_t>(1, connections_.size());
                if (!saidLimit_) {
                    log_.Note(
                        "descriptor limit reached at %llu connections: from now on the "
                        "one silent longest is closed for each new one",
                        Count(connections_.size()));
                    saidLimit_ = true;
                }
                if (!ShedOne()) {
                    listenerResting_ = true;
                    restUntil_ = Clock::now() + kListenerRest;
                    return;
                }
                continue;
            }
            return;  // nothing more waiting, or a connection that went away at once
        }
        if (connections_.size() + 1 >= maxConnections_ && !saidLimit_) {
            log_.Note(
                "%llu connections, as many as the descriptor limit allows: from now on the one "
                "silent longest is closed for each new one",
                Count(maxConnections_));
            saidLimit_ = true;
        }
        net::SetNoDelay(socket.Get());
        connections_.push_back({std::move(socket), nextSerial_++, {}, Clock::now()});
        log_.Note("tcp connection opened");
    }
}

// Returns false when the connection is to be closed.
bool SimNetwork::OnTcpReadable(Connection& connection) {
    std::uint8_t chunk[4096];
    const long got = net::Receive(connection.socket.Get(), chunk, sizeof chunk);
    if (got == 0) {
        log_.Note("tcp connection closed by the program");
        return false;
    }
    if (got < 0) {
        const net::Error error = net::LastError();
        return error == net::Error::kWouldBlock || error == net::Error::kInterrupted;
    }
    const auto now = Clock::now();
    connection.quietSince = std::max(connection.quietSince, now);
    std::vector<Outgoing> answers;
    const bool keep =
        server_.AnswerStream(connection.received, chunk, static_cast<std::size_t>(got),
                             {connection.serial, now}, answers);
    for (Outgoing& answer : answers) {
        Schedule({{}, true, connection.serial, net::kNoSocket, {}, std::move(answer.bytes)},
                 answer.delayMs);
    }
    return keep;
}

void SimNetwork::CloseSilent() {
    const auto limit = Clock::now() - Seconds(o_.idleSeconds);
    for (std::size_t i = connections_.size(); i-- > 0;) {
        if (connections_[i].quietSince < limit) {
            Close(i, "silent too long: closed");
        }
    }
}

int SimNetwork::Run(const volatile std::sig_atomic_t& stop) {
    std::vector<net::Waiting> waiting;
    while (!stop) {
        const auto now = Clock::now();
        if (listenerResting_ && now >= restUntil_) {
            listenerResting_ = false;
        }
        // kNoSocket is left out of the wait: the resting listener, the tunnel turned off.
        waiting = {{vantrel_.Get(), net::kReadable},
                   {bramble_.Get(), net::kReadable},
                   {listenerResting_ ? net::kNoSocket : listener_.Get(), net::kReadable},
                   {tunnel_.Get(), net::kReadable}};
        for (const Connection& connection : connections_) {
            waiting.push_back({connection.socket.Get(), net::kReadable});
        }
        // Asleep until the next thing falls due: a held-back reply, the listener's rest, a
        // connection's idle time. A simulator that waits for its client costs no CPU, so that a
        // fleet of a thousand of them measures the program rather than its peers; on POSIX a
        // signal ends the wait at once, elsewhere the wait is a second at most.
        auto wake = now + std::chrono::seconds(1);
        for (const Pending& pending : pending_) {
            wake = std::min(wake, pending.due);
        }
        if (listenerResting_) {
            wake = std::min(wake, restUntil_);
        }
        for (const Connection& connection : connections_) {
            wake = std::min(wake, connection.quietSince + Seconds(o_.idleSeconds));
        }
        const int timeout = static_cast<int>(std::max<long long>(
            0, std::chrono::duration_cast<std::chrono::milliseconds>(wake - now).count()));
        const int ready = net::WaitAny(waiting, timeout);
        if (ready < 0 && net::LastError() != net::Error::kInterrupted) {
            log_.Always("waiting for the sockets: %s", net::LastErrorText().c_str());
            return 1;
        }
        FlushDue();
        if (ready > 0) {
            // Connections first (from the back, so that closing one keeps the others'
            // indexes), so that a client that left has ended its download before the next
            // client's datagrams are read.
            for (std::size_t i = waiting.size(); i-- > kConnections;) {
                const std::size_t index = i - kConnections;
                if (waiting[i].ready && !OnTcpReadable(connections_[index])) {
                    Close(index, nullptr);
                }
            }
            if (waiting[kVantrel].ready)
                OnDatagram(vantrel_.Get(), Door::kVantrelPort);
            if (waiting[kBramble].ready)
                OnDatagram(bramble_.Get(), Door::kBramblePort);
            if (waiting[kTunnel].ready)
                OnDatagram(tunnel_.Get(), Door::kTunnel);
            if (waiting[kListener].ready)
                OnAccept();
        }
        CloseSilent();
        if (o_.once && server_.Finished() && pending_.empty()) {
            return 0;
        }
    }
    log_.Note("stopped");
    return 0;
}

}  // namespace vexil::sim
