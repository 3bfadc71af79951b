// The transport library: version queries and the download-mode switch as UDP request/reply
// exchanges, the download connection as one TCP connection carrying length-prefixed messages,
// and everything over IPX as IPX packets tunnelled in UDP datagrams. Every wait polls its
// socket in short slices and runs the caller's wait hook between them.
//
// Threads: the session table sits behind one lock, taken only to find, add or remove a session;
// a session is held by a shared pointer while a call uses it, so closing it from another thread
// (or from the hook) only marks it closed, and its descriptor goes when the last user lets go.
// One call at a time may use a session; a second one meanwhile fails without touching it.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "protocol/Socket.h"
#include "protocol/Wire.h"
#include "tavdl/tavdl.h"

namespace {

namespace wire = tavdl::wire;
using Clock = std::chrono::steady_clock;

// The wire owns the print server's socket number; the C header names it for the library's
// callers. Both say the one number.
static_assert(wire::kPrintServerIpxSocket == TAVDL_PRINT_SERVER_IPX_SOCKET);

// How long one slice of a wait may take before the hook runs again, unless the caller sets
// another with TavDL_SetWaitSlice.
constexpr int kSliceMs = 10;
constexpr unsigned long kMaxSliceMs = 1000;

std::atomic<TAVDL_WAIT_HOOK> g_hook{nullptr};
std::atomic<int> g_sliceMs{kSliceMs};

// The client's own IPX address; the print server answers to it.
constexpr wire::IpxAddress kClientIpx = {
    {0, 0, 0, 0}, {0x02, 0, 0, 0, 0, 0x01}, wire::kClientIpxSocket};

struct Session {
    bool ipx = false;
    net::UniqueSocket fd;  // TCP connection or UDP tunnel socket; none while not connected
    std::atomic<bool> closed{false};
    std::atomic<bool> inUse{false};  // a call is using the session
    wire::StreamReader received;     // TCP bytes not yet taken as messages
};

std::mutex g_lock;  // guards the session table and the handle counter
std::map<unsigned int, std::shared_ptr<Session>> g_sessions;
unsigned int g_nextHandle = 0;  // the handle given last
std::atomic<std::uint32_t> g_nextExchange{1};
// The length of the reply the thread's last call took, before it was cut to the caller's buffer.
thread_local unsigned long t_replyLength = 0;

std::shared_ptr<Session> Find(const unsigned int* handle) {
    if (handle == nullptr) {
        return nullptr;
    }
    const std::lock_guard<std::mutex> lock(g_lock);
    const auto found = g_sessions.find(*handle);
    return found == g_sessions.end() ? nullptr : found->second;
}

// The session behind `handle` for the length of one call, or none when there is no such session
// or another call is using it.
class SessionUse {
  public:
    explicit SessionUse(const unsigned int* handle) : session_(Find(handle)) {
        if (session_ && session_->inUse.exchange(true)) {
            session_.reset();
        }
    }
    ~SessionUse() {
        if (session_) {
            session_->inUse = false;
        }
    }
    SessionUse(const SessionUse&) = delete;
    SessionUse& operator=(const SessionUse&) = delete;
    Session* operator->() const { return session_.get(); }
    Session& operator*() const { return *session_; }
    explicit operator bool() const { return session_ != nullptr; }

  private:
    std::shared_ptr<Session> session_;
};

void CloseFd(Session& session) {
    session.fd.Reset();
    session.received.Clear();
}

// When a call that starts now must have its answer: waitSeconds from now, at least a second.
Clock::time_point Deadline(const TAVDL_ADDR* addr) {
    return Clock::now() + std::chrono::seconds(addr->waitSeconds < 1 ? 1 : addr->waitSeconds);
}

// Waits until `fd` is ready for `events` or the deadline passes, running the hook at least
// every slice. Returns 1 when ready, 0 at the deadline, -1 when the session was closed (from
// the hook or another thread; the fd must then not be touched again) or poll failed.
int Wait(net::Handle fd, short events, Clock::time_point deadline, void* window,
         const Session* session) {
    for (;;) {
        if (const TAVDL_WAIT_HOOK hook = g_hook.load(); hook != nullptr) {
            hook(window);
        }
        if (session != nullptr && session->closed) {
            return -1;
        }
        // Rounded up, so that the wait lasts its whole time and never ends a moment early.
        const auto left =
            std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0) {
            return 0;
        }
        const int slice = g_sliceMs.load();
        const int ready = net::Wait(fd, events, static_cast<int>(left < slice ? left : slice));
        if (ready > 0) {
            return 1;
        }
        // A signal that interrupts the wait runs the hook at once: it may carry a cancel.
        if (ready < 0 && net::LastError() != net::Error::kInterrupted) {
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

constexpr char kTunnelVariable[] = "TAVDL_IPX_TUNNEL";

// host:port, host a dotted IPv4 address or "localhost", port 1 to 65535 in decimal digits;
// nothing else.
bool ParseTunnel(const std::string& text, sockaddr_in& to) {
    const auto colon = text.find(':');
    if (colon == std::string::npos) {
        return false;
    }
    const std::string host = text.substr(0, colon);
    const std::string digits = text.substr(colon + 1);
    if (digits.empty() || digits.size() > 5 ||
        digits.find_first_not_of("0123456789") != std::string::npos) {
        return false;
    }
    const unsigned long port = std::stoul(digits);
    if (port == 0 || port > 65535) {
        return false;
    }
    if (host == "localhost") {
        to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    } else if (!net::ParseIpv4(host.c_str(), to.sin_addr)) {
        return false;
    }
    to.sin_port = htons(static_cast<std::uint16_t>(port));
    return true;
}

// The tunnel endpoint: TAVDL_IPX_TUNNEL, or the loopback address and the default port when it is
// unset or empty. A value that does not parse is said once on stderr (once for each new value),
// since otherwise every IPX call would only go unanswered.
bool TunnelEndpoint(sockaddr_in& to) {
    to = {};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    to.sin_port = htons(wire::kDefaultTunnelPort);
    const char* setting = std::getenv(kTunnelVariable);
    if (setting == nullptr || *setting == '\0' || ParseTunnel(setting, to)) {
        return true;
    }
    static std::string reported;
    const std::lock_guard<std::mutex> lock(g_lock);
    if (reported != setting) {
        reported = setting;
        std::fprintf(stderr,
                     "tavdl: %s=\"%s\" is not HOST:PORT (an IPv4 address or localhost, a port "
                     "from 1 to 65535); IPX calls are not sent\n",
                     kTunnelVariable, setting);
    }
    return false;
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

net::UniqueSocket OpenUdp(const sockaddr_in& to) {
    net::UniqueSocket fd(net::Open(net::Kind::kDatagram));
    // Connected, so the kernel passes on datagrams from this peer only.
    if (fd.Valid() && net::Connect(fd.Get(), to) != 0) {
        fd.Reset();
    }
    return fd;
}

struct Request {
    std::uint8_t type;
    const std::uint8_t* data;
    std::size_t length;
};

// Copies a reply's data into the caller's buffer, never past its size, and keeps its whole
// length for TavDL_LastReplyLength.
void CopyReply(const std::uint8_t* data, std::size_t length, unsigned long replySize, void* reply) {
    if (reply != nullptr && replySize > 0) {
        std::memcpy(reply, data, length < replySize ? length : replySize);
    }
    t_replyLength = static_cast<unsigned long>(length);
}

// One exchange over a UDP socket, plain or as IPX packets. Returns 0 or 1 (the status of the
// reply) with the reply copied, or -1 when nothing fitting arrived by the deadline.
int UdpExchange(net::Handle fd, const wire::IpxAddress* ipx, const Request& request,
                Clock::time_point deadline, void* window, const Session* session,
                unsigned long replySize, void* reply) {
    if (request.length > wire::kMaxData) {
        return -1;
    }
    const std::uint32_t id = g_nextExchange++;
    const wire::Framing framing = ipx ? wire::Framing::kIpx : wire::Framing::kDatagram;
    std::uint8_t out[wire::kMaxFrame];
    const std::size_t total = wire::EncodeFrame(
        framing, {request.type, id, 0, request.data, request.length}, out, ipx, &kClientIpx);
    if (net::Send(fd, out, total) != static_cast<long>(total)) {
        return -1;
    }
    std::uint8_t in[wire::kMaxFrame + 1];
    for (;;) {
        const int ready = Wait(fd, net::kReadable, deadline, window, session);
        if (ready <= 0) {
            return -1;
        }
        const long got = net::Receive(fd, in, sizeof in);
        if (got < 0) {
            if (const net::Error error = net::LastError(); error == net::Error::kWouldBlock ||
                                                           error == net::Error::kInterrupted ||
                                                           error == net::Error::kRefused) {
                continue;  // nothing there after all, or an ICMP error from an earlier send
            }
            return -1;
        }
        // Garbage, a late reply to an earlier exchange, another card's packet: passed over.
        wire::Message message;
        if (!wire::TakeDatagramReply(in, static_cast<std::size_t>(got), request.type, id, ipx,
                                     kClientIpx.socket, message)) {
            continue;
        }
        CopyReply(message.data, message.length, replySize, reply);
        return message.status == 0 ? 0 : 1;
    }
}

// The version queries and the download-mode switch: no session, a socket of their own.
int Query(std::uint8_t type, TAVDL_ADDR* addr, void* window, unsigned long replySize, void* reply) {
    t_replyLength = 0;
    if (reply != nullptr && replySize > 0) {
        std::memset(reply, 0, replySize);
    }
    int result = -1;
    if (addr != nullptr) {
        const bool ipx = addr->mode == TAVDL_MODE_IPX;
        sockaddr_in to = InetTarget(addr);
        net::UniqueSocket fd;
        if (!ipx || TunnelEndpoint(to)) {
            fd = OpenUdp(to);
        }
        if (fd.Valid()) {
            const wire::IpxAddress target = IpxTarget(addr);
            result = UdpExchange(fd.Get(), ipx ? &target : nullptr, {type, nullptr, 0},
                                 Deadline(addr), window, nullptr, replySize, reply);
        }
    }
    if (result < 0 && reply != nullptr && replySize > 0) {
        static_cast<std::uint8_t*>(reply)[0] = TAVDL_NO_ANSWER;
    }
    return result;
}

// The version queries of many print servers over a few unconnected UDP sockets. Each exchange is
// known by its id; a datagram counts only as the reply of the running exchange with that id, from
// that exchange's address and port, on the socket it was sent from, with the reply type. Sends
// are interleaved with receives; and since a reply that finds its socket's buffer full is dropped
// by the system without a word, no socket has more exchanges running than its buffer holds
// replies, however long the caller is kept from reading.
class VersionSweep {
  public:
    VersionSweep(const TAVDL_ADDR* addrs, unsigned long count, std::uint8_t type,
                 unsigned long inFlight, TAVDL_VERSION_REPLY onReply, void* context)
        : addrs_(addrs),
          count_(count),
          type_(type),
          inFlight_(inFlight),
          onReply_(onReply),
          context_(context) {}

    int Run(void* window, const int* stop) {
        const unsigned long most = std::min(inFlight_, count_);
        const std::size_t sockets = std::max<std::size_t>(1, (most + kPerSocket - 1) / kPerSocket);
        for (std::size_t i = 0; i < sockets; ++i) {
            net::UniqueSocket fd(net::Open(net::Kind::kDatagram));
            if (!fd.Valid()) {
                return -1;
            }
            waiting_.push_back({fd.Get(), net::kReadable, 0});
            fds_.push_back(std::move(fd));
        }
        load_.assign(sockets, 0);
        while (next_ < count_ || !running_.empty()) {
            while (running_.size() < inFlight_ && next_ < count_) {
                const std::size_t socket = static_cast<std::size_t>(
                    std::find_if(load_.begin(), load_.end(),
                                 [](unsigned long load) { return load < kPerSocket; }) -
                    load_.begin());
                ++load_[socket];
                running_.push_back({next_++, 0, {}, false, socket});
                Send(running_.size() - 1);
                Drain();
            }
            for (std::size_t i = 0; i < running_.size(); ++i) {
                if (!running_[i].sent) {
                    Send(i);  // the socket's buffer had no room before
                }
            }
            Drain();
            Expire();
            if (running_.empty()) {
                continue;
            }
            Clock::time_point until = Clock::now() + std::chrono::milliseconds(g_sliceMs.load());
            for (const Exchange& exchange : running_) {
                until = exchange.deadline < until ? exchange.deadline : until;
            }
            if (WaitReadable(until, window, stop) < 0) {
                return -1;
            }
            if (stop != nullptr && *stop != 0) {
                return 1;
            }
        }
        return 0;
    }

  private:
    // The exchanges one socket runs at most: their replies take a quarter of the smallest
    // receive buffer a system gives by default (Linux's holds 256 of them).
    static constexpr unsigned long kPerSocket = 64;

    struct Exchange {
        unsigned long index;
        std::uint32_t id;
        Clock::time_point deadline;
        bool sent;
        std::size_t socket;  // the one of fds_ it is sent from and answered on
    };

    // Runs the hook, then waits until a socket has a datagram or `until`, at most a slice.
    int WaitReadable(Clock::time_point until, void* window, const int* stop) {
        if (const TAVDL_WAIT_HOOK hook = g_hook.load(); hook != nullptr) {
            hook(window);
        }
        const auto left =
            std::chrono::ceil<std::chrono::milliseconds>(until - Clock::now()).count();
        if ((stop != nullptr && *stop != 0) || left <= 0) {
            return 0;
        }
        const int ready = net::WaitAny(waiting_, static_cast<int>(left));
        return ready < 0 && net::LastError() != net::Error::kInterrupted ? -1 : 0;
    }

    // Starts exchange `i` afresh: a new id and a whole wait of its own. A send that finds no
    // room is tried again on the next pass; one that fails otherwise goes unanswered.
    void Send(std::size_t i) {
        Exchange& exchange = running_[i];
        if (exchange.id != 0) {
            byId_.erase(exchange.id);
        }
        exchange.id = g_nextExchange++;
        if (exchange.id == 0) {
            exchange.id = g_nextExchange++;  // 0 marks an exchange not yet started
        }
        exchange.deadline = Deadline(&addrs_[exchange.index]);
        byId_[exchange.id] = i;
        std::uint8_t out[wire::kMaxFrame];
        const std::size_t total =
            wire::EncodeFrame(wire::Framing::kDatagram, {type_, exchange.id, 0, nullptr, 0}, out);
        const long sent = net::SendTo(fds_[exchange.socket].Get(), out, total,
                                      InetTarget(&addrs_[exchange.index]));
        exchange.sent = sent == static_cast<long>(total) ||
                        (sent < 0 && net::LastError() != net::Error::kWouldBlock);
    }

    // Takes every datagram waiting on the sockets.
    void Drain() {
        for (std::size_t socket = 0; socket < fds_.size(); ++socket) {
            Drain(socket);
        }
    }
    void Drain(std::size_t socket) {
        std::uint8_t in[wire::kMaxFrame + 1];
        for (;;) {
            sockaddr_in from{};
            const long got = net::ReceiveFrom(fds_[socket].Get(), in, sizeof in, from);
            if (got < 0) {
                const net::Error error = net::LastError();
                if (error == net::Error::kRefused || error == net::Error::kInterrupted) {
                    continue;  // an ICMP error from an earlier send: its exchange waits on
                }
                return;
            }
            wire::Message message;
            if (!wire::DecodeDatagram(wire::Framing::kDatagram, in, static_cast<std::size_t>(got),
                                      message)) {
                continue;
            }
            const auto found = byId_.find(message.id);
            if (found == byId_.end() || running_[found->second].socket != socket) {
                continue;  // late, repeated, or no exchange of ours
            }
            const sockaddr_in to = InetTarget(&addrs_[running_[found->second].index]);
            if (from.sin_addr.s_addr != to.sin_addr.s_addr || from.sin_port != to.sin_port ||
                wire::Judge(message, type_, message.id) != wire::Verdict::kReply) {
                continue;
            }
            End(found->second, message.status == 0 ? 0 : 1, message.data, message.length);
        }
    }

    void Expire() {
        const Clock::time_point now = Clock::now();
        for (std::size_t i = running_.size(); i-- > 0;) {
            if (running_[i].deadline <= now) {
                End(i, -1, nullptr, 0);
            }
        }
    }

    // Hands the exchange's end to the caller, who may ask the address again.
    void End(std::size_t i, int result, const std::uint8_t* data, std::size_t length) {
        const bool again = onReply_(context_, running_[i].index, result, data,
                                    static_cast<unsigned long>(length)) != 0;
        if (again) {
            Send(i);
            return;
        }
        byId_.erase(running_[i].id);
        --load_[running_[i].socket];
        if (i + 1 != running_.size()) {
            running_[i] = running_.back();
            byId_[running_[i].id] = i;
        }
        running_.pop_back();
    }

    const TAVDL_ADDR* addrs_;
    unsigned long count_;
    std::uint8_t type_;
    unsigned long inFlight_;
    TAVDL_VERSION_REPLY onReply_;
    void* context_;
    std::vector<net::UniqueSocket> fds_;
    std::vector<net::Waiting> waiting_;  // the same sockets, for the wait
    std::vector<unsigned long> load_;    // the exchanges each socket runs
    unsigned long next_ = 0;
    std::vector<Exchange> running_;
    std::unordered_map<std::uint32_t, std::size_t> byId_;
};

// Sends all of `data` on the TCP connection, waiting for room as needed.
bool SendAll(Session& session, const std::uint8_t* data, std::size_t length,
             Clock::time_point deadline, void* window) {
    while (length > 0) {
        const long sent = net::Send(session.fd.Get(), data, length);
        if (sent > 0) {
            data += sent;
            length -= static_cast<std::size_t>(sent);
            continue;
        }
        if (sent < 0 && net::LastError() != net::Error::kWouldBlock &&
            net::LastError() != net::Error::kInterrupted) {
            return false;
        }
        if (Wait(session.fd.Get(), net::kWritable, deadline, window, &session) <= 0) {
            return false;
        }
    }
    return true;
}

int TcpExchange(Session& session, const Request& request, Clock::time_point deadline, void* window,
                unsigned long replySize, void* reply) {
    if (!session.fd.Valid() || request.length > wire::kMaxData) {
        return -1;
    }
    const std::uint32_t id = g_nextExchange++;
    std::uint8_t out[wire::kMaxFrame];
    const std::size_t total = wire::EncodeFrame(
        wire::Framing::kStream, {request.type, id, 0, request.data, request.length}, out);
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
        const auto next = session.received.NextReply(request.type, id, message);
        if (next == wire::StreamReader::Result::kGarbled) {
            return broken();  // garbled framing: the stream cannot be trusted any more
        }
        if (next == wire::StreamReader::Result::kMessage) {
            CopyReply(message.data, message.length, replySize, reply);
            return message.status == 0 ? 0 : 1;
        }
        const int ready = Wait(session.fd.Get(), net::kReadable, deadline, window, &session);
        if (ready < 0) {
            return session.closed ? -1 : broken();
        }
        if (ready == 0) {
            return -1;  // no answer in time; a late one is recognised by its id and dropped
        }
        std::uint8_t chunk[4096];
        const long got = net::Receive(session.fd.Get(), chunk, sizeof chunk);
        if (got == 0) {
            return broken();  // the print server closed the connection
        }
        if (got < 0) {
            if (net::LastError() == net::Error::kWouldBlock ||
                net::LastError() == net::Error::kInterrupted) {
                continue;
            }
            return broken();
        }
        session.received.Append(chunk, static_cast<std::size_t>(got));
    }
}

int SessionExchange(Session& session, std::uint8_t type, TAVDL_ADDR* addr, void* window,
                    const void* data, unsigned long dataLength, unsigned long replySize,
                    void* reply, Clock::time_point deadline) {
    const Request request{type, static_cast<const std::uint8_t*>(data), dataLength};
    if (session.ipx) {
        const wire::IpxAddress target = IpxTarget(addr);
        return UdpExchange(session.fd.Get(), &target, request, deadline, window, &session,
                           replySize, reply);
    }
    return TcpExchange(session, request, deadline, window, replySize, reply);
}

// Erase, data and finish: one exchange on the session, with the whole wait its own.
int SessionCall(std::uint8_t type, TAVDL_ADDR* addr, void* window, const void* data,
                unsigned long dataLength, unsigned long replySize, void* reply,
                unsigned int* socket) {
    t_replyLength = 0;
    const SessionUse session(socket);
    if (addr == nullptr || !session || (dataLength > 0 && data == nullptr)) {
        return -1;
    }
    return SessionExchange(*session, type, addr, window, data, dataLength, replySize, reply,
                           Deadline(addr));
}

// Opens the TCP connection of a session that has none.
bool Connect(Session& session, const TAVDL_ADDR* addr, void* window, Clock::time_point deadline) {
    const sockaddr_in to = InetTarget(addr);
    net::UniqueSocket fd(net::Open(net::Kind::kStream));
    if (!fd.Valid()) {
        return false;
    }
    net::SetNoDelay(fd.Get());
    if (net::Connect(fd.Get(), to) != 0) {
        if (net::LastError() != net::Error::kInProgress) {
            return false;
        }
        if (Wait(fd.Get(), net::kWritable, deadline, window, &session) <= 0 || session.closed) {
            return false;
        }
        if (net::PendingError(fd.Get()) != 0) {
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

int TavDL_QueryVersions(const TAVDL_ADDR* addrs, unsigned long count, int query,
                        unsigned long inFlight, void* window, const int* stop,
                        TAVDL_VERSION_REPLY onReply, void* context) {
    const std::uint8_t type = query == TAVDL_QUERY_VANTREL   ? wire::kVantrelVersion
                              : query == TAVDL_QUERY_BRAMBLE ? wire::kBrambleVersion
                                                             : 0;
    if (type == 0 || onReply == nullptr || inFlight == 0 || (addrs == nullptr && count > 0)) {
        return -1;
    }
    for (unsigned long i = 0; i < count; ++i) {
        if (addrs[i].mode != TAVDL_MODE_TCP_QUERY) {
            return -1;  // IPX addresses are network and node pairs: nothing to sweep
        }
    }
    return VersionSweep(addrs, count, type, inFlight, onReply, context).Run(window, stop);
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
    const std::lock_guard<std::mutex> lock(g_lock);
    do {
        ++g_nextHandle;  // 0 stands for no socket; a handle still open is never given twice
    } while (g_nextHandle == 0 || g_sessions.count(g_nextHandle) != 0);
    g_sessions[g_nextHandle] = std::move(session);
    *socket = g_nextHandle;
    return 1;
}

int TavDL_Download_Connection(TAVDL_ADDR* addr, void* window, unsigned long replySize, void* reply,
                              unsigned int* socket) {
    t_replyLength = 0;
    const SessionUse session(socket);
    if (addr == nullptr || !session) {
        return -1;
    }
    // The connect and the exchange share the one wait the caller gives.
    const Clock::time_point deadline = Deadline(addr);
    if (!session->ipx && !session->fd.Valid() && !Connect(*session, addr, window, deadline)) {
        return -1;
    }
    const int result = SessionExchange(*session, wire::kConnect, addr, window, nullptr, 0,
                                       replySize, reply, deadline);
    if (result != 0 && !session->ipx && !session->closed) {
        CloseFd(*session);  // refused: the next attempt connects afresh
    }
    return result;
}

int TavDL_Download_EraseFlash(TAVDL_ADDR* addr, void* window, unsigned long replySize, void* reply,
                              unsigned int* socket) {
    return SessionCall(wire::kErase, addr, window, nullptr, 0, replySize, reply, socket);
}

int TavDL_Download_SendData(TAVDL_ADDR* addr, void* window, unsigned long dataLength, void* data,
                            unsigned long replySize, void* reply, unsigned int* socket) {
    return SessionCall(wire::kData, addr, window, data, dataLength, replySize, reply, socket);
}

int TavDL_Download_Finish(TAVDL_ADDR* addr, void* window, unsigned long dataLength, void* data,
                          unsigned long replySize, void* reply, unsigned int* socket) {
    return SessionCall(wire::kFinish, addr, window, data, dataLength, replySize, reply, socket);
}

void TavDL_CloseSocket(unsigned int* socket) {
    if (socket == nullptr) {
        return;
    }
    std::shared_ptr<Session> session;
    {
        const std::lock_guard<std::mutex> lock(g_lock);
        const auto found = g_sessions.find(*socket);
        if (found != g_sessions.end()) {
            session = std::move(found->second);
            g_sessions.erase(found);
        }
    }
    // A call using the session (from the hook, or in another thread) sees the flag within a
    // wait slice and stops there; the descriptor closes when the last user lets go, here when
    // there is none.
    if (session) {
        session->closed = true;
    }
    *socket = 0;
}

unsigned long TavDL_LastReplyLength(void) {
    return t_replyLength;
}

void TavDL_SetWaitHook(TAVDL_WAIT_HOOK hook) {
    g_hook = hook;
}

void TavDL_SetWaitSlice(unsigned long milliseconds) {
    g_sliceMs =
        milliseconds == 0 ? kSliceMs : static_cast<int>(std::min(milliseconds, kMaxSliceMs));
}

}  // extern "C"
