#include "tools/sim/SimNetwork.h"

#include <arpa/inet.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace vexil::sim {

namespace {

namespace wire = tavdl::wire;

}  // namespace

tavdl::UniqueFd SimNetwork::OpenSocket(int type, int port) {
    tavdl::UniqueFd fd(::socket(AF_INET, type | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    if (!fd.Valid()) {
        return fd;
    }
    const int one = 1;
    ::setsockopt(fd.Get(), SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in at{};
    at.sin_family = AF_INET;
    at.sin_port = htons(static_cast<std::uint16_t>(port));
    ::inet_pton(AF_INET, o_.listen.c_str(), &at.sin_addr);
    if (::bind(fd.Get(), reinterpret_cast<sockaddr*>(&at), sizeof at) != 0 ||
        (type == SOCK_STREAM && ::listen(fd.Get(), 8) != 0)) {
        log_.Always("cannot listen on %s:%d: %s", o_.listen.c_str(), port, std::strerror(errno));
        fd.Reset();
    }
    return fd;
}

bool SimNetwork::Start() {
    vantrel_ = OpenSocket(SOCK_DGRAM, o_.vantrelPort);
    bramble_ = OpenSocket(SOCK_DGRAM, o_.bramblePort);
    listener_ = OpenSocket(SOCK_STREAM, o_.downloadPort);
    if (o_.tunnelPort != 0) {
        tunnel_ = OpenSocket(SOCK_DGRAM, o_.tunnelPort);
        if (!tunnel_.Valid()) {
            return false;
        }
    }
    if (!vantrel_.Valid() || !bramble_.Valid() || !listener_.Valid()) {
        return false;
    }
    log_.Always(
        "listening on %s (version %d/udp, switch %d/udp, download %d/tcp, IPX tunnel %d/udp as "
        "%02X%02X%02X%02X:%02X%02X%02X%02X%02X%02X), model code %02x%02x, firmware %x.%02x",
        o_.listen.c_str(), o_.vantrelPort, o_.bramblePort, o_.downloadPort, o_.tunnelPort,
        o_.network[0], o_.network[1], o_.network[2], o_.network[3], o_.node[0], o_.node[1],
        o_.node[2], o_.node[3], o_.node[4], o_.node[5], o_.modelCode[0], o_.modelCode[1],
        o_.version[0], o_.version[1]);
    return true;
}

void SimNetwork::Schedule(Pending pending, int delayMs) {
    if (delayMs <= 0) {
        SendPending(pending);
        return;
    }
    pending.due = Clock::now() + std::chrono::milliseconds(delayMs);
    pending_.push_back(std::move(pending));
}

void SimNetwork::SendPending(const Pending& pending) {
    if (!pending.tcp) {
        ::sendto(pending.udpFd, pending.bytes.data(), pending.bytes.size(), 0,
                 reinterpret_cast<const sockaddr*>(&pending.peer), sizeof pending.peer);
        return;
    }
    for (const Connection& connection : connections_) {
        if (connection.serial == pending.connection) {
            // Replies are small; a full socket buffer means the peer stopped reading.
            ::send(connection.fd.Get(), pending.bytes.data(), pending.bytes.size(), MSG_NOSIGNAL);
            return;
        }
    }
}

void SimNetwork::FlushDue() {
    const auto now = Clock::now();
    for (std::size_t i = 0; i < pending_.size();) {
        if (pending_[i].due <= now) {
            SendPending(pending_[i]);
            pending_.erase(pending_.begin() + static_cast<long>(i));
        } else {
            ++i;
        }
    }
}

void SimNetwork::OnQueryDatagram(int fd, std::uint8_t expected) {
    std::uint8_t in[wire::kMaxMessage + 1];
    sockaddr_in peer{};
    socklen_t peerSize = sizeof peer;
    const ssize_t got =
        ::recvfrom(fd, in, sizeof in, 0, reinterpret_cast<sockaddr*>(&peer), &peerSize);
    if (got < 0) {
        return;
    }
    wire::Message request;
    if (!wire::DecodeDatagram(wire::Framing::kDatagram, in, static_cast<std::size_t>(got),
                              request)) {
        log_.Note("udp datagram of %zd bytes ignored", got);
        return;
    }
    // The Vantrel port takes its query; the Bramble port its query and the mode switch.
    const bool fits = expected == wire::kVantrelVersion ? request.type == wire::kVantrelVersion
                                                        : (request.type == wire::kBrambleVersion ||
                                                           request.type == wire::kJampEprom);
    if (!fits) {
        log_.Note("udp request type 0x%02x on the wrong port ignored", request.type);
        return;
    }
    const auto reply = server_.Handle(request.type, request.data, request.length, Via::kUdp);
    if (!reply) {
        return;
    }
    Pending out{{}, false, 0, fd, peer, std::vector<std::uint8_t>(wire::kMaxFrame)};
    out.bytes.resize(wire::EncodeFrame(
        wire::Framing::kDatagram,
        wire::ReplyTo(request, reply->status, reply->data.data(), reply->data.size()),
        out.bytes.data()));
    Schedule(std::move(out), reply->delayMs);
}

void SimNetwork::OnTunnelDatagram() {
    std::uint8_t in[wire::kMaxFrame + 1];
    sockaddr_in peer{};
    socklen_t peerSize = sizeof peer;
    const ssize_t got =
        ::recvfrom(tunnel_.Get(), in, sizeof in, 0, reinterpret_cast<sockaddr*>(&peer), &peerSize);
    if (got < 0) {
        return;
    }
    const auto size = static_cast<std::size_t>(got);
    wire::Message request;
    wire::IpxAddress to{};
    wire::IpxAddress from{};
    if (!wire::DecodeDatagram(wire::Framing::kIpx, in, size, request, &to, &from)) {
        log_.Note("ipx datagram of %zu bytes ignored: not an IPX packet of ours", size);
        return;
    }
    if (std::memcmp(to.network, o_.network, 4) != 0 || std::memcmp(to.node, o_.node, 6) != 0 ||
        to.socket != wire::kPrintServerIpxSocket) {
        log_.Note(
            "ipx packet for %02X%02X%02X%02X:%02X%02X%02X%02X%02X%02X socket 0x%04X ignored: "
            "not this card",
            to.network[0], to.network[1], to.network[2], to.network[3], to.node[0], to.node[1],
            to.node[2], to.node[3], to.node[4], to.node[5], to.socket);
        return;
    }
    const auto reply = server_.Handle(request.type, request.data, request.length, Via::kIpx);
    if (!reply) {
        return;
    }
    const wire::IpxAddress self{
        {o_.network[0], o_.network[1], o_.network[2], o_.network[3]},
        {o_.node[0], o_.node[1], o_.node[2], o_.node[3], o_.node[4], o_.node[5]},
        wire::kPrintServerIpxSocket};
    Pending out{{}, false, 0, tunnel_.Get(), peer, std::vector<std::uint8_t>(wire::kMaxFrame)};
    out.bytes.resize(wire::EncodeFrame(
        wire::Framing::kIpx,
        wire::ReplyTo(request, reply->status, reply->data.data(), reply->data.size()),
        out.bytes.data(), &from, &self));
    Schedule(std::move(out), reply->delayMs);
}

void SimNetwork::OnAccept() {
    tavdl::UniqueFd fd(::accept4(listener_.Get(), nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK));
    if (!fd.Valid()) {
        return;
    }
    const int one = 1;
    ::setsockopt(fd.Get(), IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    connections_.push_back({std::move(fd), nextSerial_++, {}});
    log_.Note("tcp connection opened");
}

// Returns false when the connection is to be closed.
bool SimNetwork::OnTcpReadable(Connection& connection) {
    std::uint8_t chunk[4096];
    const ssize_t got = ::recv(connection.fd.Get(), chunk, sizeof chunk, 0);
    if (got == 0) {
        log_.Note("tcp connection closed by the program");
        return false;
    }
    if (got < 0) {
        return errno == EAGAIN || errno == EINTR;
    }
    connection.received.Append(chunk, static_cast<std::size_t>(got));
    for (;;) {
        wire::Message request;
        const auto next = connection.received.Next(request);
        if (next == wire::StreamReader::Result::kNeedMore) {
            return true;
        }
        if (next == wire::StreamReader::Result::kGarbled) {
            log_.Note("tcp message of garbled length: connection closed");
            return false;
        }
        const auto reply = server_.Handle(request.type, request.data, request.length, Via::kTcp);
        if (!reply) {
            continue;
        }
        Pending out{{}, true, connection.serial,
                    -1, {},   std::vector<std::uint8_t>(wire::kMaxFrame)};
        out.bytes.resize(wire::EncodeFrame(
            wire::Framing::kStream,
            wire::ReplyTo(request, reply->status, reply->data.data(), reply->data.size()),
            out.bytes.data()));
        Schedule(std::move(out), reply->delayMs);
        if (request.type == wire::kConnect && reply->status != 0) {
            return false;  // a refused connection is closed after its answer
        }
    }
}

int SimNetwork::Run(const volatile sig_atomic_t& stop) {
    while (!stop) {
        std::vector<pollfd> fds = {{vantrel_.Get(), POLLIN, 0},
                                   {bramble_.Get(), POLLIN, 0},
                                   {listener_.Get(), POLLIN, 0},
                                   {tunnel_.Get(), POLLIN, 0}};
        for (const Connection& connection : connections_) {
            fds.push_back({connection.fd.Get(), POLLIN, 0});
        }
        int timeout = 50;
        for (const Pending& pending : pending_) {
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(pending.due - Clock::now())
                    .count();
            timeout = static_cast<int>(std::max<long long>(0, std::min<long long>(timeout, left)));
        }
        const int ready = ::poll(fds.data(), fds.size(), timeout);
        if (ready < 0 && errno != EINTR) {
            log_.Always("poll: %s", std::strerror(errno));
            return 1;
        }
        FlushDue();
        if (ready <= 0) {
            continue;
        }
        if (fds[0].revents & POLLIN)
            OnQueryDatagram(vantrel_.Get(), wire::kVantrelVersion);
        if (fds[1].revents & POLLIN)
            OnQueryDatagram(bramble_.Get(), wire::kBrambleVersion);
        if (fds[3].revents & POLLIN)
            OnTunnelDatagram();
        // Connections are checked from the back so that closing one keeps the others' indexes.
        for (std::size_t i = fds.size(); i-- > 4;) {
            const std::size_t index = i - 4;
            if ((fds[i].revents & (POLLIN | POLLHUP | POLLERR)) &&
                !OnTcpReadable(connections_[index])) {
                connections_.erase(connections_.begin() + static_cast<long>(index));
            }
        }
        if (fds[2].revents & POLLIN)
            OnAccept();
        if (o_.once && server_.Finished() && pending_.empty()) {
            return 0;
        }
    }
    log_.Note("stopped");
    return 0;
}

}  // namespace vexil::sim
