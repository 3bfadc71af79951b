#include <mutex>

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
        default:
            return Error::kOther;
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
    return ::recv(static_cast<SOCKET>(socket), static_cast<char*>(buffer), static_cast<int>(size),
                  0);
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

}  // namespace net
