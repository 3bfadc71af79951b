#include "tools/sim/SimNetwork.h"

#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <string>

#include "platform/StandardStreams.h"
#include "resources/Reasons.h"
#include "resources/Text.h"

namespace vexil::sim {

namespace {

namespace wire = tavdl::wire;

// Connections taken at most beside one for each print server, whatever the descriptor limit:
// each costs a poll entry and a buffer.
constexpr std::size_t kMaxConnections = 1024;
// The sockets of each print server: its two query ports and its download port.
constexpr std::size_t kSocketsPerStation = 3;
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
std::size_t ConnectionRoom(std::size_t stations) {
    const std::size_t room = net::SocketRoom();
    return std::clamp<std::size_t>(room > kSpareDescriptors ? room - kSpareDescriptors : 1, 1,
                                   kMaxConnections + stations);
}

// What a socket the loop waits on is, in the top byte of its token; below it the print server's
// place, or the connection's serial.
enum class Source : std::uint64_t { kTunnel, kVantrel, kBramble, kListener, kConnection };
constexpr int kSourceShift = 56;
std::uint64_t Token(Source source, std::uint64_t value) {
    return (static_cast<std::uint64_t>(source) << kSourceShift) | value;
}
Source SourceOf(std::uint64_t token) {
    return static_cast<Source>(token >> kSourceShift);
}
std::uint64_t ValueOf(std::uint64_t token) {
    return token & ((std::uint64_t{1} << kSourceShift) - 1);
}

}  // namespace

SimNetwork::SimNetwork(const std::vector<Options>& printers, const SimLog& log)
    : stations_([&printers] {
          std::vector<std::unique_ptr<Station>> stations;
          stations.reserve(printers.size());
          for (const Options& printer : printers) {
              stations.push_back(std::make_unique<Station>(printer, printers.size() > 1));
          }
          return stations;
      }()),
      o_(stations_.front()->options),
      log_(log) {}

net::UniqueSocket SimNetwork::OpenSocket(const Station& station, net::Kind kind, int port) {
    net::UniqueSocket socket(net::Open(kind));
    sockaddr_in at{};
    at.sin_family = AF_INET;
    at.sin_port = htons(static_cast<std::uint16_t>(port));
    net::ParseIpv4(station.options.listen.c_str(), at.sin_addr);
    // The backlog holds a burst of connections while the loop takes them.
    if (!socket.Valid() || net::Bind(socket.Get(), at) != 0 ||
        (kind == net::Kind::kStream && net::Listen(socket.Get()) != 0)) {
        log_.Always(
            "%s", Tr("sim.start.cannot-listen",
                     {station.options.listen, std::to_string(port), Words(net::LastErrorReason())})
                      .c_str());
        socket.Reset();
    }
    return socket;
}

bool SimNetwork::Start() {
    // Each print server holds three sockets, and each download a connection beside them.
    const std::size_t sockets = kSocketsPerStation * stations_.size() + (o_.tunnelPort != 0);
    if (const std::size_t room = net::SocketRoom(); room < sockets + kSpareDescriptors + 1) {
        log_.Always(
            "%s",
            Tr("sim.start.descriptors",
               {std::to_string(stations_.size()), std::to_string(sockets + kSpareDescriptors + 1),
                std::to_string(sockets), std::to_string(kSpareDescriptors), std::to_string(room)})
                .c_str());
        return false;
    }
    const auto watch = [this](const net::UniqueSocket& socket, Source source, std::uint64_t value) {
        if (!socket.Valid()) {
            return false;
        }
        if (!poller_.Watch(socket.Get(), net::kReadable, Token(source, value))) {
            log_.Always("%s", Tr("sim.start.cannot-wait", {Words(net::LastErrorReason())}).c_str());
            return false;
        }
        return true;
    };
    for (std::size_t i = 0; i < stations_.size(); ++i) {
        Station& station = *stations_[i];
        station.vantrel = OpenSocket(station, net::Kind::kDatagram, o_.vantrelPort);
        station.bramble = OpenSocket(station, net::Kind::kDatagram, o_.bramblePort);
        station.listener = OpenSocket(station, net::Kind::kStream, o_.downloadPort);
        if (!watch(station.vantrel, Source::kVantrel, i) ||
            !watch(station.bramble, Source::kBramble, i) ||
            !watch(station.listener, Source::kListener, i)) {
            return false;
        }
    }
    if (o_.tunnelPort != 0) {
        tunnel_ = OpenSocket(*stations_.front(), net::Kind::kDatagram, o_.tunnelPort);
        if (!watch(tunnel_, Source::kTunnel, 0)) {
            return false;
        }
    }
    maxConnections_ = ConnectionRoom(stations_.size());
    const auto& first = o_;
    // The IPX card, or that there is none (--ipx-tunnel-port 0).
    std::string ipx(Tr("sim.start.no-ipx"));
    if (o_.tunnelPort != 0) {
        char card[32];
        std::snprintf(card, sizeof card, "%02X%02X%02X%02X:%02X%02X%02X%02X%02X%02X",
                      first.network[0], first.network[1], first.network[2], first.network[3],
                      first.node[0], first.node[1], first.node[2], first.node[3], first.node[4],
                      first.node[5]);
        const std::string port = std::to_string(first.tunnelPort);
        ipx = stations_.size() == 1 ? Tr("sim.start.ipx", {port, card})
                                    : Tr("sim.start.ipx-on", {port, first.listen, card});
    }
    const auto model = [](const Options& o) {
        char code[8];
        std::snprintf(code, sizeof code, "%02x%02x", o.modelCode[0], o.modelCode[1]);
        return std::string(code);
    };
    const auto firmware = [](const Options& o) {
        char version[8];
        std::snprintf(version, sizeof version, "%x.%02x", o.version[0], o.version[1]);
        return std::string(version);
    };
    const std::string vantrel = std::to_string(first.vantrelPort);
    const std::string bramble = std::to_string(first.bramblePort);
    const std::string download = std::to_string(first.downloadPort);
    if (stations_.size() == 1) {
        log_.Note("%s", Tr("sim.start.listening", {first.listen, vantrel, bramble, download, ipx,
                                                   model(first), firmware(first)})
                            .c_str());
    } else {
        for (const auto& station : stations_) {
            const Options& o = station->options;
            station->log.Note("%s", Tr("sim.start.station", {model(o), firmware(o)}).c_str());
        }
        log_.Note("%s", Tr("sim.start.listening-many",
                           {std::to_string(stations_.size()), first.listen,
                            stations_.back()->options.listen, vantrel, bramble, download, ipx})
                            .c_str());
    }
    if (maxConnections_ < stations_.size()) {
        log_.Note("%s", Tr("sim.start.few-descriptors", {std::to_string(maxConnections_)}).c_str());
    }
    if (o_.readyFd >= 0) {
        if (Reason why; !vexil::SayOnDescriptor(o_.readyFd, "ready\n", why)) {
            log_.Always(
                "%s",
                Tr("sim.start.cannot-say-ready", {std::to_string(o_.readyFd), Words(why)}).c_str());
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
    if (pending_.size() >= kMaxPending + stations_.size()) {
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
        if (const auto found = connections_.find(pending.connection); found != connections_.end()) {
            found->second.quietSince = std::max(found->second.quietSince, pending.due);
        }
    }
    pending_.push_back(std::move(pending));
}

void SimNetwork::SendPending(const Pending& pending) {
    if (!pending.tcp) {
        net::SendTo(pending.udpSocket, pending.bytes.data(), pending.bytes.size(), pending.peer);
        return;
    }
    if (const auto found = connections_.find(pending.connection); found != connections_.end()) {
        // Replies are small; a full socket buffer means the peer stopped reading.
        net::Send(found->second.socket.Get(), pending.bytes.data(), pending.bytes.size());
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

void SimNetwork::OnDatagram(Station& station, net::Handle socket, Door door) {
    std::uint8_t in[wire::kMaxFrame + 1];
    sockaddr_in peer{};
    const long got = net::ReceiveFrom(socket, in, sizeof in, peer);
    if (got < 0) {
        return;
    }
    auto answer = station.server.AnswerDatagram(door, in, static_cast<std::size_t>(got),
                                                {UdpClient(peer), Clock::now()});
    if (answer) {
        Schedule({{}, false, 0, socket, peer, std::move(answer->bytes)}, answer->delayMs);
    }
}

void SimNetwork::Close(std::uint64_t serial, const char* why) {
    const auto found = connections_.find(serial);
    Station& station = *found->second.station;
    if (why != nullptr) {
        station.log.Note("tcp connection %s", why);
    }
    poller_.Forget(found->second.socket.Get());
    connections_.erase(found);
    std::erase_if(pending_, [serial](const Pending& p) { return p.tcp && p.connection == serial; });
    station.server.Leave(serial);
    RestListeners(false);  // a descriptor is free again
}

void SimNetwork::RestListeners(bool resting) {
    if (resting == listenerResting_) {
        return;
    }
    listenerResting_ = resting;
    if (resting) {
        restUntil_ = Clock::now() + kListenerRest;
    }
    for (std::size_t i = 0; i < stations_.size(); ++i) {
        poller_.Watch(stations_[i]->listener.Get(), resting ? 0 : net::kReadable,
                      Token(Source::kListener, i));
    }
}

// Closes the connection silent longest that carries no download and waits for no reply; false
// when there is none.
bool SimNetwork::ShedOne() {
    const auto now = Clock::now();
    auto chosen = connections_.end();
    for (auto c = connections_.begin(); c != connections_.end(); ++c) {
        if (c->first != c->second.station->server.DownloadClient() && c->second.quietSince <= now &&
            (chosen == connections_.end() || c->second.quietSince < chosen->second.quietSince)) {
            chosen = c;
        }
    }
    if (chosen == connections_.end()) {
        return false;
    }
    Close(chosen->first, "silent longest closed to make room for a new one");
    return true;
}

void SimNetwork::OnAccept(Station& station) {
    for (int round = 0; round < kAcceptsPerRound; ++round) {
        if (connections_.size() >= maxConnections_ && !ShedOne()) {
            RestListeners(true);
            return;
        }
        net::UniqueSocket socket(net::Accept(station.listener.Get()));
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
                    RestListeners(true);
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
        const std::uint64_t serial = nextSerial_++;
        if (!poller_.Watch(socket.Get(), net::kReadable, Token(Source::kConnection, serial))) {
            station.log.Note("tcp connection not taken: %s", net::LastErrorText().c_str());
            continue;
        }
        connections_.emplace(serial, Connection{std::move(socket), &station, {}, Clock::now()});
        station.log.Note("tcp connection opened");
    }
}

// Returns false when the connection is to be closed.
bool SimNetwork::OnTcpReadable(std::uint64_t serial, Connection& connection) {
    std::uint8_t chunk[4096];
    const long got = net::Receive(connection.socket.Get(), chunk, sizeof chunk);
    if (got == 0) {
        connection.station->log.Note("tcp connection closed by the program");
        return false;
    }
    if (got < 0) {
        const net::Error error = net::LastError();
        return error == net::Error::kWouldBlock || error == net::Error::kInterrupted;
    }
    const auto now = Clock::now();
    connection.quietSince = std::max(connection.quietSince, now);
    std::vector<Outgoing> answers;
    const bool keep = connection.station->server.AnswerStream(
        connection.received, chunk, static_cast<std::size_t>(got), {serial, now}, answers);
    for (Outgoing& answer : answers) {
        Schedule({{}, true, serial, net::kNoSocket, {}, std::move(answer.bytes)}, answer.delayMs);
    }
    return keep;
}

void SimNetwork::CloseSilent() {
    const auto limit = Clock::now() - Seconds(o_.idleSeconds);
    for (auto c = connections_.begin(); c != connections_.end();) {
        const std::uint64_t serial = c->first;
        const bool silent = c->second.quietSince < limit;
        ++c;
        if (silent) {
            Close(serial, "silent too long: closed");
        }
    }
}

bool SimNetwork::AnyFinished() const {
    return std::any_of(stations_.begin(), stations_.end(),
                       [](const auto& station) { return station->server.Finished(); });
}

int SimNetwork::Run(const volatile std::sig_atomic_t& stop) {
    std::vector<net::Poller::Ready> ready;
    while (!stop) {
        const auto now = Clock::now();
        if (listenerResting_ && now >= restUntil_) {
            RestListeners(false);
        }
        // Asleep until the next thing falls due: a held-back reply, the listeners' rest, a
        // connection's idle time. A simulator that waits for its clients costs no CPU, so that a
        // fleet of a thousand print servers measures the program rather than its peers; on POSIX
        // a signal ends the wait at once, elsewhere the wait is a second at most.
        auto wake = now + std::chrono::seconds(1);
        for (const Pending& pending : pending_) {
            wake = std::min(wake, pending.due);
        }
        if (listenerResting_) {
            wake = std::min(wake, restUntil_);
        }
        for (const auto& [serial, connection] : connections_) {
            wake = std::min(wake, connection.quietSince + Seconds(o_.idleSeconds));
        }
        const int timeout = static_cast<int>(std::max<long long>(
            0, std::chrono::duration_cast<std::chrono::milliseconds>(wake - now).count()));
        if (poller_.Wait(ready, timeout) < 0 && net::LastError() != net::Error::kInterrupted) {
            log_.Always("%s", Tr("sim.run.wait-failed", {Words(net::LastErrorReason())}).c_str());
            return 1;
        }
        FlushDue();
        // Connections first, so that a client that left has ended its download before the next
        // client's datagrams are read.
        for (const net::Poller::Ready& one : ready) {
            if (SourceOf(one.token) != Source::kConnection) {
                continue;
            }
            const std::uint64_t serial = ValueOf(one.token);
            const auto found = connections_.find(serial);  // gone when shed meanwhile
            if (found != connections_.end() && !OnTcpReadable(serial, found->second)) {
                Close(serial, nullptr);
            }
        }
        for (const net::Poller::Ready& one : ready) {
            const std::uint64_t value = ValueOf(one.token);
            switch (SourceOf(one.token)) {
                case Source::kTunnel:
                    OnDatagram(*stations_.front(), tunnel_.Get(), Door::kTunnel);
                    break;
                case Source::kVantrel:
                    OnDatagram(*stations_[value], stations_[value]->vantrel.Get(),
                               Door::kVantrelPort);
                    break;
                case Source::kBramble:
                    OnDatagram(*stations_[value], stations_[value]->bramble.Get(),
                               Door::kBramblePort);
                    break;
                case Source::kListener:
                    if (!listenerResting_) {
                        OnAccept(*stations_[value]);
                    }
                    break;
                case Source::kConnection:
                    break;
            }
        }
        CloseSilent();
        if (o_.once && pending_.empty() && AnyFinished()) {
            return 0;
        }
    }
    log_.Note("stopped");
    return 0;
}

}  // namespace vexil::sim
