#include <mutex>
#include <unordered_map>
#include <vector>

#include "protocol/Socket.h"

namespace net {

namespace {

// SIO_UDP_CONNRESET, which MinGW-w64's headers leave out.
constexpr DWORD kUdpConnectionReset = _WSAIOW(IOC_VENDOR, 12);

}  // namespace

bool Start() {
    // Winsock 2.2 for the life of the process; the DLL that uses it stays loaded as long.
    static std::once_flag once;
    static bool started = false;
    std::call_once(once, [] {
        WSADATA data;
        started = ::WSAStartup(MAKEWORD(2, 2), &data) == 0;
    });
    return started;
}

Handle Open(Kind kind) {
    if (!Start()) {
        return kNoSocket;
    }
    const SOCKET socket = ::WSASocketW(AF_INET, kind == Kind::kStream ? SOCK_STREAM : SOCK_DGRAM, 0,
                                       nullptr, 0, WSA_FLAG_NO_HANDLE_INHERIT);
    if (socket == INVALID_SOCKET) {
        return kNoSocket;
    }
    u_long nonBlocking = 1;
    if (::ioctlsocket(socket, FIONBIO, &nonBlocking) != 0) {
        ::closesocket(socket);
        return kNoSocket;
    }
    if (kind == Kind::kDatagram) {
        // An ICMP "port unreachable" would otherwise fail the next receive on this socket
        // for good rather than once.
        BOOL report = FALSE;
        DWORD unused = 0;
        ::WSAIoctl(socket, kUdpConnectionReset, &report, sizeof report, nullptr, 0, &unused,
                   nullptr, nullptr);
    }
    return static_cast<Handle>(socket);
}

void Close(Handle socket) {
    ::closesocket(static_cast<SOCKET>(socket));
}

Error LastError() {
    switch (::WSAGetLastError()) {
        case WSAEWOULDBLOCK:
            return Error::kWouldBlock;
        case WSAEINTR:
            return Error::kInterrupted;
        case WSAECONNREFUSED:
        case WSAECONNRESET:
            return Error::kRefused;
        case WSAEINPROGRESS:
            return Error::kInProgress;
        case WSAEMFILE:
        case WSAENOBUFS:
            return Error::kNoRoom;
        default:
            return Error::kOther;
    }
}

std::string LastErrorText() {
    const int error = ::WSAGetLastError();
    char text[256];
    DWORD length =
        ::FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                         static_cast<DWORD>(error), 0, text, sizeof text, nullptr);
    // The system's text ends its sentence and its line.
    while (length > 0 && (text[length - 1] == '\n' || text[length - 1] == '\r' ||
                          text[length - 1] == ' ' || text[length - 1] == '.')) {
        --length;
    }
    const std::string number = "error " + std::to_string(error);
    return length == 0 ? number : std::string(text, length) + " (" + number + ")";
}

vexil::Reason LastErrorReason() {
    // The socket errors that a person may meet in a line, as their errno values, so that they
    // are worded as on POSIX; any other by its number.
    const int error = ::WSAGetLastError();
    switch (error) {
        case WSAEMFILE:
            return vexil::Reason::System(EMFILE);
        case WSAEACCES:
            return vexil::Reason::System(EACCES);
        case WSAEADDRINUSE:
            return vexil::Reason::System(EADDRINUSE);
        case WSAEADDRNOTAVAIL:
            return vexil::Reason::System(EADDRNOTAVAIL);
        case WSAENOBUFS:
            return vexil::Reason::System(ENOBUFS);
        default:
            return vexil::Reason::Numbered(vexil::ReasonKind::kWindowsError, error);
    }
}

int Connect(Handle socket, const sockaddr_in& to) {
    if (::connect(static_cast<SOCKET>(socket), reinterpret_cast<const sockaddr*>(&to), sizeof to) ==
        0) {
        return 0;
    }
    // A non-blocking stream connection under way says WSAEWOULDBLOCK on Windows.
    if (::WSAGetLastError() == WSAEWOULDBLOCK) {
        ::WSASetLastError(WSAEINPROGRESS);
    }
    return -1;
}

long Send(Handle socket, const void* data, std::size_t length) {
    return ::send(static_cast<SOCKET>(socket), static_cast<const char*>(data),
                  static_cast<int>(length), 0);
}

long Receive(Handle socket, void* buffer, std::size_t size) {
    const int got =
        ::recv(static_cast<SOCKET>(socket), static_cast<char*>(buffer), static_cast<int>(size), 0);
    // A datagram longer than the buffer (on a connected datagram socket) is cut to it, as on
    // POSIX and as in ReceiveFrom.
    if (got < 0 && ::WSAGetLastError() == WSAEMSGSIZE) {
        return static_cast<long>(size);
    }
    return got;
}

int Wait(Handle socket, short events, int timeoutMs) {
    WSAPOLLFD p{static_cast<SOCKET>(socket),
                static_cast<short>(((events & kReadable) ? POLLRDNORM : 0) |
                                   ((events & kWritable) ? POLLWRNORM : 0)),
                0};
    const int ready = ::WSAPoll(&p, 1, timeoutMs);
    return ready > 0 ? 1 : ready;
}

int PendingError(Handle socket) {
    int error = 0;
    int size = sizeof error;
    if (::getsockopt(static_cast<SOCKET>(socket), SOL_SOCKET, SO_ERROR,
                     reinterpret_cast<char*>(&error), &size) != 0) {
        return ::WSAGetLastError();
    }
    return error;
}

void SetNoDelay(Handle socket) {
    const BOOL one = TRUE;
    ::setsockopt(static_cast<SOCKET>(socket), IPPROTO_TCP, TCP_NODELAY,
                 reinterpret_cast<const char*>(&one), sizeof one);
}

bool ParseIpv4(const char* text, in_addr& address) {
    return ::inet_pton(AF_INET, text, &address) == 1;
}

int Bind(Handle socket, const sockaddr_in& at) {
    // Windows takes a port whose last connections linger in TIME_WAIT without asking; its
    // SO_REUSEADDR would instead let this socket share a port that another one listens on.
    // Exclusive use keeps a second server off the port, as on POSIX.
    const BOOL one = TRUE;
    ::setsockopt(static_cast<SOCKET>(socket), SOL_SOCKET, SO_EXCLUSIVEADDRUSE,
                 reinterpret_cast<const char*>(&one), sizeof one);
    return ::bind(static_cast<SOCKET>(socket), reinterpret_cast<const sockaddr*>(&at), sizeof at);
}

int Listen(Handle socket) {
    return ::listen(static_cast<SOCKET>(socket), SOMAXCONN);
}

Handle Accept(Handle listener) {
    const SOCKET socket = ::accept(static_cast<SOCKET>(listener), nullptr, nullptr);
    if (socket == INVALID_SOCKET) {
        return kNoSocket;
    }
    // An accepted socket takes its flags from the listener, but not for certain its handle's
    // inheritance: both are set here as Open sets them.
    u_long nonBlocking = 1;
    if (::ioctlsocket(socket, FIONBIO, &nonBlocking) != 0 ||
        !::SetHandleInformation(reinterpret_cast<HANDLE>(socket), HANDLE_FLAG_INHERIT, 0)) {
        const int why = ::WSAGetLastError();
        ::closesocket(socket);
        ::WSASetLastError(why);
        return kNoSocket;
    }
    return static_cast<Handle>(socket);
}

long SendTo(Handle socket, const void* data, std::size_t length, const sockaddr_in& to) {
    return ::sendto(static_cast<SOCKET>(socket), static_cast<const char*>(data),
                    static_cast<int>(length), 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
}

long ReceiveFrom(Handle socket, void* buffer, std::size_t size, sockaddr_in& from) {
    int fromSize = sizeof from;
    const int got =
        ::recvfrom(static_cast<SOCKET>(socket), static_cast<char*>(buffer), static_cast<int>(size),
                   0, reinterpret_cast<sockaddr*>(&from), &fromSize);
    // A datagram longer than the buffer fills it and fails with WSAEMSGSIZE here; POSIX hands
    // over the part that fits, which tells the caller it was too long.
    if (got < 0 && ::WSAGetLastError() == WSAEMSGSIZE) {
        return static_cast<long>(size);
    }
    return got;
}

int WaitAny(std::span<Waiting> sockets, int timeoutMs) {
    // WSAPoll refuses an invalid socket and an empty list, where poll leaves out the first and
    // sleeps through the second: only the sockets there are go to it.
    std::vector<WSAPOLLFD> fds;
    std::vector<std::size_t> from;
    for (std::size_t i = 0; i < sockets.size(); ++i) {
        sockets[i].ready = 0;
        if (sockets[i].socket != kNoSocket) {
            const short events = sockets[i].events;
            fds.push_back({static_cast<SOCKET>(sockets[i].socket),
                           static_cast<short>(((events & kReadable) ? POLLRDNORM : 0) |
                                              ((events & kWritable) ? POLLWRNORM : 0)),
                           0});
            from.push_back(i);
        }
    }
    if (fds.empty()) {
        ::Sleep(timeoutMs < 0 ? INFINITE : static_cast<DWORD>(timeoutMs));
        return 0;
    }
    const int ready = ::WSAPoll(fds.data(), static_cast<ULONG>(fds.size()), timeoutMs);
    for (std::size_t k = 0; ready > 0 && k < fds.size(); ++k) {
        Waiting& w = sockets[from[k]];
        const short got = fds[k].revents;
        const bool ended = (got & (POLLHUP | POLLERR)) != 0;
        w.ready = static_cast<short>(
            ((w.events & kReadable) && ((got & POLLRDNORM) || ended) ? kReadable : 0) |
            ((w.events & kWritable) && ((got & POLLWRNORM) || ended) ? kWritable : 0));
    }
    return ready;
}

struct Poller::State {
    struct Entry {
        Handle socket;
        short events;
        std::uint64_t token;
    };
    std::vector<Entry> entries;
    std::unordered_map<Handle, std::size_t> index;  // where each socket is in `entries`
    std::vector<WSAPOLLFD> fds;
    std::vector<std::size_t> from;
};

Poller::Poller() : state_(std::make_unique<State>()) {}

Poller::~Poller() = default;

bool Poller::Watch(Handle socket, short events, std::uint64_t token) {
    if (const auto known = state_->index.find(socket); known != state_->index.end()) {
        state_->entries[known->second] = {socket, events, token};
        return true;
    }
    state_->index[socket] = state_->entries.size();
    state_->entries.push_back({socket, events, token});
    return true;
}

void Poller::Forget(Handle socket) {
    const auto known = state_->index.find(socket);
    if (known == state_->index.end()) {
        return;
    }
    const std::size_t at = known->second;
    state_->index.erase(known);
    if (at + 1 != state_->entries.size()) {
        state_->entries[at] = state_->entries.back();
        state_->index[state_->entries[at].socket] = at;
    }
    state_->entries.pop_back();
}

int Poller::Wait(std::vector<Ready>& ready, int timeoutMs) {
    ready.clear();
    // WSAPoll takes no socket watched for nothing, and no empty list.
    state_->fds.clear();
    state_->from.clear();
    for (std::size_t i = 0; i < state_->entries.size(); ++i) {
        const State::Entry& entry = state_->entries[i];
        if (entry.events != 0) {
            state_->fds.push_back(
                {static_cast<SOCKET>(entry.socket),
                 static_cast<short>(((entry.events & kReadable) ? POLLRDNORM : 0) |
                                    ((entry.events & kWritable) ? POLLWRNORM : 0)),
                 0});
            state_->from.push_back(i);
        }
    }
    if (state_->fds.empty()) {
        ::Sleep(timeoutMs < 0 ? INFINITE : static_cast<DWORD>(timeoutMs));
        return 0;
    }
    const int got =
        ::WSAPoll(state_->fds.data(), static_cast<ULONG>(state_->fds.size()), timeoutMs);
    for (std::size_t k = 0; got > 0 && k < state_->fds.size(); ++k) {
        const short e = state_->fds[k].revents;
        if (e == 0) {
            continue;
        }
        const bool ended = (e & (POLLHUP | POLLERR)) != 0;
        ready.push_back({state_->entries[state_->from[k]].token,
                         static_cast<short>(((e & POLLRDNORM) || ended ? kReadable : 0) |
                                            ((e & POLLWRNORM) || ended ? kWritable : 0))});
    }
    return got < 0 ? got : static_cast<int>(ready.size());
}

std::size_t SocketRoom() {
    // Windows has no descriptor limit to count against: a socket is a kernel handle, and a
    // process may hold up to 2^24 of those, memory permitting: far more than any caller takes.
    return std::size_t{1} << 24;
}

std::uint16_t BoundPort(Handle socket) {
    sockaddr_in at{};
    int size = sizeof at;
    if (::getsockname(static_cast<SOCKET>(socket), reinterpret_cast<sockaddr*>(&at), &size) != 0) {
        return 0;
    }
    return ntohs(at.sin_port);
}

}  // namespace net
