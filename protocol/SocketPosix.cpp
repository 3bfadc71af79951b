#include <fcntl.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

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
        default:
            return Error::kOther;
    }
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

}  // namespace net
