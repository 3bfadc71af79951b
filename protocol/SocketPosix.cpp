#include <fcntl.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/epoll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <limits>
#include <unordered_map>
#include <vector>

#include "protocol/Socket.h"

namespace net {

bool Start() {
    return true;
}

Handle Open(Kind kind) {
    const int type = kind == Kind::kStream ? SOCK_STREAM : SOCK_DGRAM;
    const int fd = ::socket(AF_INET, type | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    return fd < 0 ? kNoSocket : fd;
}

void Close(Handle socket) {
    ::close(static_cast<int>(socket));
}

Error LastError() {
    switch (errno) {
        case EAGAIN:
#if EWOULDBLOCK != EAGAIN
        case EWOULDBLOCK:
#endif
            return Error::kWouldBlock;
        case EINTR:
            return Error::kInterrupted;
        case ECONNREFUSED:
            return Error::kRefused;
        case EINPROGRESS:
            return Error::kInProgress;
        case EMFILE:
        case ENFILE:
            return Error::kNoRoom;
        default:
            return Error::kOther;
    }
}

std::string LastErrorText() {
    return std::strerror(errno);
}

vexil::Reason LastErrorReason() {
    return vexil::Reason::System(errno);
}

int Connect(Handle socket, const sockaddr_in& to) {
    return ::connect(static_cast<int>(socket), reinterpret_cast<const sockaddr*>(&to), sizeof to);
}

long Send(Handle socket, const void* data, std::size_t length) {
    return static_cast<long>(::send(static_cast<int>(socket), data, length, MSG_NOSIGNAL));
}

long Receive(Handle socket, void* buffer, std::size_t size) {
    return static_cast<long>(::recv(static_cast<int>(socket), buffer, size, 0));
}

int Wait(Handle socket, short events, int timeoutMs) {
    pollfd p{static_cast<int>(socket),
             static_cast<short>(((events & kReadable) ? POLLIN : 0) |
                                ((events & kWritable) ? POLLOUT : 0)),
             0};
    const int ready = ::poll(&p, 1, timeoutMs);
    return ready > 0 ? 1 : ready;
}

int PendingError(Handle socket) {
    int error = 0;
    socklen_t size = sizeof error;
    if (::getsockopt(static_cast<int>(socket), SOL_SOCKET, SO_ERROR, &error, &size) != 0) {
        return errno;
    }
    return error;
}

void SetNoDelay(Handle socket) {
    const int one = 1;
    ::setsockopt(static_cast<int>(socket), IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
}

bool ParseIpv4(const char* text, in_addr& address) {
    return ::inet_pton(AF_INET, text, &address) == 1;
}

int Bind(Handle socket, const sockaddr_in& at) {
    // Without SO_REUSEADDR the connections of a server that ended a moment ago keep a TCP port
    // in TIME_WAIT for a minute; a port another socket listens on stays refused either way. A
    // datagram socket goes without it: there it would let two sockets share one port, as
    // Windows' exclusive use never does.
    int type = 0;
    socklen_t size = sizeof type;
    if (::getsockopt(static_cast<int>(socket), SOL_SOCKET, SO_TYPE, &type, &size) == 0 &&
        type == SOCK_STREAM) {
        const int one = 1;
        ::setsockopt(static_cast<int>(socket), SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    }
    return ::bind(static_cast<int>(socket), reinterpret_cast<const sockaddr*>(&at), sizeof at);
}

int Listen(Handle socket) {
    return ::listen(static_cast<int>(socket), SOMAXCONN);
}

Handle Accept(Handle listener) {
    const int fd =
        ::accept4(static_cast<int>(listener), nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
    return fd < 0 ? kNoSocket : fd;
}

long SendTo(Handle socket, const void* data, std::size_t length, const sockaddr_in& to) {
    return static_cast<long>(::sendto(static_cast<int>(socket), data, length, MSG_NOSIGNAL,
                                      reinterpret_cast<const sockaddr*>(&to), sizeof to));
}

long ReceiveFrom(Handle socket, void* buffer, std::size_t size, sockaddr_in& from) {
    socklen_t fromSize = sizeof from;
    return static_cast<long>(::recvfrom(static_cast<int>(socket), buffer, size, 0,
                                        reinterpret_cast<sockaddr*>(&from), &fromSize));
}

int WaitAny(std::span<Waiting> sockets, int timeoutMs) {
    // poll leaves out an entry whose descriptor is negative, as kNoSocket is.
    std::vector<pollfd> fds;
    fds.reserve(sockets.size());
    for (const Waiting& w : sockets) {
        fds.push_back({static_cast<int>(w.socket),
                       static_cast<short>(((w.events & kReadable) ? POLLIN : 0) |
                                          ((w.events & kWritable) ? POLLOUT : 0)),
                       0});
    }
    const int ready = ::poll(fds.data(), fds.size(), timeoutMs);
    for (std::size_t i = 0; i < sockets.size(); ++i) {
        const short got = ready > 0 ? fds[i].revents : 0;
        const bool ended = (got & (POLLHUP | POLLERR)) != 0;
        sockets[i].ready = static_cast<short>(
            ((sockets[i].events & kReadable) && ((got & POLLIN) || ended) ? kReadable : 0) |
            ((sockets[i].events & kWritable) && ((got & POLLOUT) || ended) ? kWritable : 0));
    }
    return ready;
}

struct Poller::State {
    int epoll = -1;
    // The events each socket is watched for; one watched for none is out of the epoll set.
    std::unordered_map<Handle, short> watched;
    std::vector<epoll_event> events;
};

Poller::Poller() : state_(std::make_unique<State>()) {
    state_->epoll = ::epoll_create1(EPOLL_CLOEXEC);
}

Poller::~Poller() {
    if (state_->epoll >= 0) {
        ::close(state_->epoll);
    }
}

bool Poller::Watch(Handle socket, short events, std::uint64_t token) {
    if (state_->epoll < 0) {
        return false;
    }
    const auto known = state_->watched.find(socket);
    const short before = known == state_->watched.end() ? 0 : known->second;
    epoll_event event{};
    event.events = ((events & kReadable) ? EPOLLIN : 0u) | ((events & kWritable) ? EPOLLOUT : 0u);
    event.data.u64 = token;
    // epoll reports a hang-up or an error whatever is asked: a socket watched for nothing is
    // taken out of the set instead.
    const int op = events == 0 ? EPOLL_CTL_DEL : (before == 0 ? EPOLL_CTL_ADD : EPOLL_CTL_MOD);
    if ((events != 0 || before != 0) &&
        ::epoll_ctl(state_->epoll, op, static_cast<int>(socket), &event) != 0) {
        return false;
    }
    state_->watched[socket] = events;
    return true;
}

void Poller::Forget(Handle socket) {
    const auto known = state_->watched.find(socket);
    if (known == state_->watched.end()) {
        return;
    }
    if (known->second != 0) {
        ::epoll_ctl(state_->epoll, EPOLL_CTL_DEL, static_cast<int>(socket), nullptr);
    }
    state_->watched.erase(known);
}

int Poller::Wait(std::vector<Ready>& ready, int timeoutMs) {
    ready.clear();
    // Those not handed over in one wait stay ready for the next, behind the ones that were.
    constexpr std::size_t kMostAtOnce = 1024;
    state_->events.resize(std::clamp<std::size_t>(state_->watched.size(), 1, kMostAtOnce));
    const int got = ::epoll_wait(state_->epoll, state_->events.data(),
                                 static_cast<int>(state_->events.size()), timeoutMs);
    for (int i = 0; i < got; ++i) {
        const std::uint32_t e = state_->events[i].events;
        const bool ended = (e & (EPOLLHUP | EPOLLERR)) != 0;
        ready.push_back({state_->events[i].data.u64,
                         static_cast<short>(((e & EPOLLIN) || ended ? kReadable : 0) |
                                            ((e & EPOLLOUT) || ended ? kWritable : 0))});
    }
    return got;
}

std::size_t SocketRoom() {
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) {
        return std::numeric_limits<std::size_t>::max();
    }
    // The lowest free descriptor: the ones below it are in use (standard streams, sockets).
    const int probe = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    const rlim_t inUse = probe < 0 ? 0 : static_cast<rlim_t>(probe);
    if (probe >= 0) {
        ::close(probe);
    }
    return limit.rlim_cur > inUse ? static_cast<std::size_t>(limit.rlim_cur - inUse) : 0;
}

std::uint16_t BoundPort(Handle socket) {
    sockaddr_in at{};
    socklen_t size = sizeof at;
    if (::getsockname(static_cast<int>(socket), reinterpret_cast<sockaddr*>(&at), &size) != 0) {
        return 0;
    }
    return ntohs(at.sin_port);
}

}  // namespace net
