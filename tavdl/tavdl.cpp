// The transport library: version queries and the download-mode switch as UDP request/reply
// exchanges, the download connection as one TCP connection carrying length-prefixed messages,
// and everything over IPX as IPX packets tunnelled in UDP datagrams. Every wait polls its
// socket in short slices and runs the caller's wait hook between them.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "tavdl/TavdlWire.h"
#include "tavdl/UniqueFd.h"
#include "tavdl/tavdl.h"

namespace {

namespace wire = tavdl::wire;
using Clock = std::chrono::steady_clock;

// How long one slice of a wait may take before the hook runs again.
constexpr int kSliceMs = 10;
constexpr std::uint8_t kNoAnswer = 0xFF;

TAVDL_WAIT_HOOK g_hook = nullptr;

// The client's own IPX address; the print server answers to it.
constexpr wire::IpxAddress kClientIpx = {
    {0, 0, 0, 0}, {0x02, 0, 0, 0, 0, 0x01}, wire::kClientIpxSocket};

struct Session {
    bool ipx = false;
    tavdl::UniqueFd fd;  // TCP connection or UDP tunnel socket; none while not connected
    bool closed = false;
    wire::StreamReader received;  // TCP bytes not yet taken as messages
};

std::map<unsigned int, std::shared_ptr<Session>> g_sessions;
unsigned int g_nextHandle = 1;
std::uint32_t g_nextExchange = 1;

std::shared_ptr<Session> Find(const unsigned int* handle) {
    if (handle == nullptr) {
        return nullptr;
    }
    const auto found = g_sessions.find(*handle);
    return found == g_sessions.end() ? nullptr : found->second;
}

void CloseFd(Session& session) {
    session.fd.Reset();
    session.received.Clear();
}

int Seconds(const TAVDL_ADDR* addr) {
    return addr->waitSeconds < 1 ? 1 : addr->waitSeconds;
}

// Waits until `fd` is ready for `events` or the deadline passes, running the hook at least
// every kSliceMs. Returns 1 when ready, 0 at the deadline, -1 when the session was closed from
// the hook (the fd must then not be touched again) or poll failed.
int Wait(int fd, short events, Clock::time_point deadline, void* window, const Session* session) {
    for (;;) {
        if (g_hook != nullptr) {
            g_hook(window);
            if (session != nullptr && session->closed) {
                return -1;
            }
        }
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0) {
            return 0;
        }
        pollfd p{fd, events, 0};
        const int ready = ::poll(&p, 1, static_cast<int>(left < kSliceMs ? left : kSliceMs));
        if (ready > 0) {
            return 1;
        }
        if (ready < 0 && errno != EINTR) {
            return -1;
        }
    }
}

sockaddr_in InetTarget(const TAVDL_ADDR* addr) {
    sockaddr_in to{};
    to.sin_family = AF_INET;
    std::memcpy(&to.sin_port, addr->inetAddr + 2, 2);
    std::memcpy(&to.sin_addr, addr->inetAddr + 4, 4);
    return to;
}

// TAVDL_IPX_TUNNEL=host:port, host a dotted IPv4 address or "localhost".
bool TunnelEndpoint(sockaddr_in& to) {
    to = {};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    to.sin_port = htons(wire::kDefaultTunnelPort);
    const char* setting = std::getenv("TAVDL_IPX_TUNNEL");
    if (setting == nullptr || *setting == '\0') {
        return true;
    }
    const std::string text(setting);
    const auto colon = text.rfind(':');
    if (colon == std::string::npos) {
        return false;
    }
    const std::string host = text.substr(0, colon);
    char* end = nullptr;
    const unsigned long port = std::strtoul(text.c_str() + colon + 1, &end, 10);
    if (*end != '\0' || port == 0 || port > 65535) {
        return false;
    }
    if (host != "localhost" && ::inet_pton(AF_INET, host.c_str(), &to.sin_addr) != 1) {
        return false;
    }
    to.sin_port = htons(static_cast<std::uint16_t>(port));
    return true;
}

wire::IpxAddress IpxTarget(const TAVDL_ADDR* addr) {
    wire::IpxAddress to{};
    std::memcpy(to.network, addr->ipxAddr + 2, 4);
    std::memcpy(to.node, addr->ipxAddr + 6, 6);
    to.socket = static_cast<std::uint16_t>((addr->ipxAddr[12] << 8) | addr->ipxAddr[13]);
    // Before the first download-mode switch the record carries no socket number; the print
    // server listens on its one socket.
    if (to.socket == 0) {
        to.socket = wire::kPrintServerIpxSocket;
    }
    return to;
}

tavdl::UniqueFd OpenUdp(const sockaddr_in& to) {
    tavdl::UniqueFd fd(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    // Connected, so the kernel passes on datagrams from this peer only.
    if (fd.Valid() && ::connect(fd.Get(), reinterpret_cast<const sockaddr*>(&to), sizeof to) != 0) {
        fd.Reset();
    }
    return fd;
}

struct Request {
    std::uint8_t type;
    const std::uint8_t* data;
    std::size_t length;
};

// Copies a reply's data into the caller's buffer, never past its size.
void CopyReply(const std::uint8_t* data, std::size_t length, unsigned long replySize, void* reply) {
    if (reply != nullptr && replySize > 0) {
        std::memcpy(reply, data, length < replySize ? length : replySize);
    }
}

// One exchange over a UDP socket, plain or as IPX packets. Returns 0 or 1 (the status of the
// reply) with the reply copied, or -1 when nothing fitting arrived in time.
int UdpExchange(int fd, const wire::IpxAddress* ipx, const Request& request, int seconds,
                void* window, const Session* session, unsigned long replySize, void* reply) {
    if (request.length > wire::kMaxData) {
        return -1;
    }
    const std::uint32_t id = g_nextExchange++;
    const wire::Framing framing = ipx ? wire::Framing::kIpx : wire::Framing::kDatagram;
    std::uint8_t out[wire::kMaxFrame];
    const std::size_t total = wire::EncodeFrame(
        framing, {request.type, id, 0, request.data, request.length}, out, ipx, &kClientIpx);
    if (::send(fd, out, total, MSG_NOSIGNAL) != static_cast<ssize_t>(total)) {
        return -1;
    }
    const auto deadline = Clock::now() + std::chrono::seconds(seconds);
    std::uint8_t in[wire::kMaxFrame + 1];
    for (;;) {
        const int ready = Wait(fd, POLLIN, deadline, window, session);
        if (ready <= 0) {
            return -1;
        }
        const ssize_t got = ::recv(fd, in, sizeof in, 0);
        if (got < 0) {
            if (errno == EAGAIN || errno == EINTR || errno == ECONNREFUSED) {
                continue;  // nothing there after all, or an ICMP error from an earlier send
            }
            return -1;
        }
        wire::Message message;
        wire::IpxAddress to{};
        wire::IpxAddress from{};
        if (!wire::DecodeDatagram(framing, in, static_cast<std::size_t>(got), message, &to,
                                  &from)) {
            continue;  // not one of our messages
        }
        // Over IPX only packets from the print server we asked, to our own socket, count.
        if (ipx && (std::memcmp(from.network, ipx->network, 4) != 0 ||
                    std::memcmp(from.node, ipx->node, 6) != 0 || to.socket != kClientIpx.socket)) {
            continue;
        }
        if (message.id != id || message.type != (request.type | wire::kReplyBit)) {
            continue;  // a late reply to an earlier exchange, or another peer's
        }
        CopyReply(message.data, message.length, replySize, reply);
        return message.status == 0 ? 0 : 1;
    }
}

// The version queries and the download-mode switch: no session, a socket of their own.
int Query(std::uint8_t type, TAVDL_ADDR* addr, void* window, unsigned long replySize, void* reply) {
    if (reply != nullptr && replySize > 0) {
        std::memset(reply, 0, replySize);
    }
    int result = -1;
    if (addr != nullptr) {
        const bool ipx = addr->mode == TAVDL_MODE_IPX;
        sockaddr_in to = InetTarget(addr);
        tavdl::UniqueFd fd;
        if (!ipx || TunnelEndpoint(to)) {
            fd = OpenUdp(to);
        }
        if (fd.Valid()) {
            const wire::IpxAddress target = IpxTarget(addr);
            result = UdpExchange(fd.Get(), ipx ? &target : nullptr, {type, nullptr, 0},
                                 Seconds(addr), window, nullptr, replySize, reply);
        }
    }
    if (result < 0 && reply != nullptr && replySize > 0) {
        static_cast<std::uint8_t*>(reply)[0] = kNoAnswer;
    }
    return result;
}

// Sends all of `data` on the TCP connection, waiting for room as needed.
bool SendAll(Session& session, const std::uint8_t* data, std::size_t length,
             Clock::time_point deadline, void* window) {
    while (length > 0) {
        const ssize_t sent = ::send(session.fd.Get(), data, length, MSG_NOSIGNAL);
        if (sent > 0) {
            data += sent;
            length -= static_cast<std::size_t>(sent);
            continue;
        }
        if (sent < 0 && errno != EAGAIN && errno != EINTR) {
            return false;
        }
        if (Wait(session.fd.Get(), POLLOUT, deadline, window, &session) <= 0) {
            return false;
        }
    }
    return true;
}

int TcpExchange(Session& session, const Request& request, int seconds, void* window,
                unsigned long replySize, void* reply) {
    if (!session.fd.Valid() || request.length > wire::kMaxData) {
        return -1;
    }
    const std::uint32_t id = g_nextExchange++;
    std::uint8_t out[wire::kMaxFrame];
    const std::size_t total = wire::EncodeFrame(
        wire::Framing::kStream, {request.type, id, 0, request.data, request.length}, out);
    const auto deadline = Clock::now() + std::chrono::seconds(seconds);
    auto broken = [&session] {
        CloseFd(session);
        return -1;
    };
    if (!SendAll(session, out, total, deadline, window)) {
        return session.closed ? -1 : broken();
    }
    for (;;) {
        // Take every whole message already received; stale replies are dropped.
        wire::Message message;
        for (;;) {
            const auto next = session.received.Next(message);
            if (next == wire::StreamReader::Result::kGarbled) {
                return broken();  // garbled framing: the stream cannot be trusted any more
            }
            if (next == wire::StreamReader::Result::kNeedMore) {
                break;
            }
            if (message.id != id) {
                continue;
            }
            if (message.type != (request.type | wire::kReplyBit)) {
                return broken();
            }
            CopyReply(message.data, message.length, replySize, reply);
            return message.status == 0 ? 0 : 1;
        }
        const int ready = Wait(session.fd.Get(), POLLIN, deadline, window, &session);
        if (ready < 0) {
            return session.closed ? -1 : broken();
        }
        if (ready == 0) {
            return -1;  // no answer in time; a late one is recognised by its id and dropped
        }
        std::uint8_t chunk[4096];
        const ssize_t got = ::recv(session.fd.Get(), chunk, sizeof chunk, 0);
        if (got == 0) {
            return broken();  // the print server closed the connection
        }
        if (got < 0) {
            if (errno == EAGAIN || errno == EINTR) {
                continue;
            }
            return broken();
        }
        session.received.Append(chunk, static_cast<std::size_t>(got));
    }
}

int SessionExchange(std::uint8_t type, TAVDL_ADDR* addr, void* window, const void* data,
                    unsigned long dataLength, unsigned long replySize, void* reply,
                    unsigned int* socket) {
    const std::shared_ptr<Session> session = Find(socket);
    if (addr == nullptr || !session || (dataLength > 0 && data == nullptr)) {
        return -1;
    }
    const Request request{type, static_cast<const std::uint8_t*>(data), dataLength};
    if (session->ipx) {
        const wire::IpxAddress target = IpxTarget(addr);
        return UdpExchange(session->fd.Get(), &target, request, Seconds(addr), window,
                           session.get(), replySize, reply);
    }
    return TcpExchange(*session, request, Seconds(addr), window, replySize, reply);
}

// Opens the TCP connection of a session that has none.
bool Connect(Session& session, const TAVDL_ADDR* addr, void* window) {
    const sockaddr_in to = InetTarget(addr);
    tavdl::UniqueFd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    if (!fd.Valid()) {
        return false;
    }
    const int one = 1;
    ::setsockopt(fd.Get(), IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    if (::connect(fd.Get(), reinterpret_cast<const sockaddr*>(&to), sizeof to) != 0) {
        if (errno != EINPROGRESS) {
            return false;
        }
        const auto deadline = Clock::now() + std::chrono::seconds(Seconds(addr));
        if (Wait(fd.Get(), POLLOUT, deadline, window, &session) <= 0 || session.closed) {
            return false;
        }
        int error = 0;
        socklen_t size = sizeof error;
        if (::getsockopt(fd.Get(), SOL_SOCKET, SO_ERROR, &error, &size) != 0 || error != 0) {
            return false;
        }
    }
    session.fd = std::move(fd);
    session.received.Clear();
    return true;
}

}  // namespace

extern "C" {

int TavDL_Vantrel_GetVersion(TAVDL_ADDR* addr, void* window, unsigned long replySize, void* reply) {
    return Query(wire::kVantrelVersion, addr, window, replySize, reply);
}

int TavDL_Bramble_GetVersion(TAVDL_ADDR* addr, void* window, unsigned long replySize, void* reply) {
    return Query(wire::kBrambleVersion, addr, window, replySize, reply);
}

int TavDL_Bramble_JampEprom(TAVDL_ADDR* addr, void* window, unsigned long replySize, void* reply) {
    return Query(wire::kJampEprom, addr, window, replySize, reply);
}

int TavDL_OpenSocket(TAVDL_ADDR* addr, unsigned int* socket) {
    if (addr == nullptr || socket == nullptr) {
        return 0;
    }
    TavDL_CloseSocket(socket);  // never two sessions behind one handle
    auto session = std::make_shared<Session>();
    session->ipx = addr->mode == TAVDL_MODE_IPX;
    if (session->ipx) {
        sockaddr_in tunnel{};
        if (TunnelEndpoint(tunnel)) {
            session->fd = OpenUdp(tunnel);
        }
        if (!session->fd.Valid()) {
            return 0;
        }
    }
    // A TCP session connects in TavDL_Download_Connection.
    if (g_nextHandle == 0) {
        g_nextHandle = 1;  // 0 stands for no socket
    }
    const unsigned int handle = g_nextHandle++;
    g_sessions[handle] = session;
    *socket = handle;
    return 1;
}

int TavDL_Download_Connection(TAVDL_ADDR* addr, void* window, unsigned long replySize, void* reply,
                              unsigned int* socket) {
    const std::shared_ptr<Session> session = Find(socket);
    if (addr == nullptr || !session) {
        return -1;
    }
    if (!session->ipx && !session->fd.Valid() && !Connect(*session, addr, window)) {
        return -1;
    }
    const int result =
        SessionExchange(wire::kConnect, addr, window, nullptr, 0, replySize, reply, socket);
    if (result != 0 && !session->ipx && !session->closed) {
        CloseFd(*session);  // refused: the next attempt connects afresh
    }
    return result;
}

int TavDL_Download_EraseFlash(TAVDL_ADDR* addr, void* window, unsigned long replySize, void* reply,
                              unsigned int* socket) {
    return SessionExchange(wire::kErase, addr, window, nullptr, 0, replySize, reply, socket);
}

int TavDL_Download_SendData(TAVDL_ADDR* addr, void* window, unsigned long dataLength, void* data,
                            unsigned long replySize, void* reply, unsigned int* socket) {
    return SessionExchange(wire::kData, addr, window, data, dataLength, replySize, reply, socket);
}

int TavDL_Download_Finish(TAVDL_ADDR* addr, void* window, unsigned long dataLength, void* data,
                          unsigned long replySize, void* reply, unsigned int* socket) {
    return SessionExchange(wire::kFinish, addr, window, data, dataLength, replySize, reply, socket);
}

void TavDL_CloseSocket(unsigned int* socket) {
    if (socket == nullptr) {
        return;
    }
    const auto found = g_sessions.find(*socket);
    if (found != g_sessions.end()) {
        // A call waiting on this session sees the flag when the hook returns and stops there.
        found->second->closed = true;
        CloseFd(*found->second);
        g_sessions.erase(found);
    }
    *socket = 0;
}

void TavDL_SetWaitHook(TAVDL_WAIT_HOOK hook) {
    g_hook = hook;
}

}  // extern "C"
