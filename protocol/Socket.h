// The sockets of the transport library and of the simulated print server, the same on every
// platform: non-blocking, never inherited by a child process, never raising a signal, with the
// platform's errors mapped once. The platform's side is in SocketPosix.cpp and SocketWindows.cpp;
// what is made of the unit's own calls alone, in Socket.cpp.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "platform/Reason.h"
#include "protocol/SocketAddress.h"

namespace net {

// A descriptor (POSIX) or a SOCKET (Windows).
using Handle = std::intptr_t;
inline constexpr Handle kNoSocket = -1;

// The platform's socket start-up, once per process (WSAStartup on Windows); whether sockets can
// be used at all. Open calls it.
bool Start();

enum class Kind { kDatagram, kStream };
Handle Open(Kind kind);
void Close(Handle socket);

// What the last failed call on this thread ran into (kNoRoom: the process or the system has no
// descriptor, or handle, left for another socket).
enum class Error { kWouldBlock, kInterrupted, kRefused, kInProgress, kNoRoom, kOther };
Error LastError();
// The platform's own words for it, for a developer's line or a test.
std::string LastErrorText();
// What it was, for a line that a person reads: worded in their language (resources/Reasons.h).
vexil::Reason LastErrorReason();

// 0, or -1 with LastError (a stream connection under way is kInProgress).
int Connect(Handle socket, const sockaddr_in& to);
// Bytes sent or received (a datagram longer than `size` cut to it), or -1 with LastError.
long Send(Handle socket, const void* data, std::size_t length);
long Receive(Handle socket, void* buffer, std::size_t size);

enum Events : short { kReadable = 1, kWritable = 2 };
// 1 when ready for `events`, 0 when `timeoutMs` passed, -1 on an error (kInterrupted when a
// signal ended the wait).
int Wait(Handle socket, short events, int timeoutMs);
// A stream connection's result once it is writable: 0, or the platform's error number.
int PendingError(Handle socket);
void SetNoDelay(Handle socket);
// A dotted IPv4 address.
bool ParseIpv4(const char* text, in_addr& address);

// The server's side. Bind takes a port whose last connections still linger (a server started
// again at once), but never a TCP port that another socket listens on, nor a UDP port that
// another socket is bound to: 0, or -1 with LastError.
int Bind(Handle socket, const sockaddr_in& at);
// Listens with the longest queue of waiting connections the platform allows: 0, or -1.
int Listen(Handle socket);
// A connection waiting on a listening socket, non-blocking and not inherited like every socket
// here; kNoSocket with LastError (kWouldBlock when none waits).
Handle Accept(Handle listener);
// One datagram to `to`, or from the peer put in `from`: its bytes (a datagram longer than
// `size` cut to it), or -1 with LastError.
long SendTo(Handle socket, const void* data, std::size_t length, const sockaddr_in& to);
long ReceiveFrom(Handle socket, void* buffer, std::size_t size, sockaddr_in& from);

// One socket of a wait on many; one that is kNoSocket is left out of the wait.
struct Waiting {
    Handle socket = kNoSocket;
    short events = 0;  // kReadable, kWritable
    // What it is ready for after the wait. kReadable also when a receive would end at once for
    // another reason: the peer closed, or an error waits to be collected.
    short ready = 0;
};
// How many of `sockets` are ready, 0 when `timeoutMs` passed, -1 on an error (kInterrupted
// when a signal ended the wait).
int WaitAny(std::span<Waiting> sockets, int timeoutMs);

// A wait on many sockets that stay in it from one wait to the next, for a server that watches
// thousands: on Linux (epoll) a wait costs what is ready rather than what is watched, where a
// poll of 4,000 sockets takes a few hundred microseconds however few are ready; on Windows it is
// WSAPoll over the sockets watched.
class Poller {
  public:
    Poller();
    ~Poller();
    Poller(const Poller&) = delete;
    Poller& operator=(const Poller&) = delete;

    // Watches `socket` for `events` (kReadable, kWritable; 0 keeps it out of the waits until
    // changed), reported as `token`. Again for a watched socket, changes its events and token.
    // False (with LastError) when it cannot.
    bool Watch(Handle socket, short events, std::uint64_t token);
    // Stops watching `socket`: before it is closed.
    void Forget(Handle socket);

    struct Ready {
        std::uint64_t token;
        short events;  // kReadable, kWritable; a hang-up or an error is both
    };
    // Waits at most `timeoutMs` for watched sockets to be ready and puts them in `ready`: how
    // many, 0 when the time passed, -1 on an error (kInterrupted when a signal ended the wait).
    int Wait(std::vector<Ready>& ready, int timeoutMs);

  private:
    struct State;
    std::unique_ptr<State> state_;
};

// How many more sockets this process may open, as far as the platform limits it.
std::size_t SocketRoom();

// The port a socket is bound to (the one the system picked for port 0), or 0.
std::uint16_t BoundPort(Handle socket);
// Exactly `size` bytes from a stream, waiting for each part until `timeoutMs` has passed in all:
// the bytes received, fewer when the peer closed first, the deadline passed or a receive failed.
std::size_t ReceiveAll(Handle socket, void* buffer, std::size_t size, int timeoutMs);

// A socket that closes itself.
class UniqueSocket {
  public:
    explicit UniqueSocket(Handle socket = kNoSocket) : socket_(socket) {}
    ~UniqueSocket() { Reset(); }
    UniqueSocket(UniqueSocket&& other) noexcept : socket_(other.Release()) {}
    UniqueSocket& operator=(UniqueSocket&& other) noexcept {
        if (this != &other) {
            Reset(other.Release());
        }
        return *this;
    }
    UniqueSocket(const UniqueSocket&) = delete;
    UniqueSocket& operator=(const UniqueSocket&) = delete;

    Handle Get() const { return socket_; }
    bool Valid() const { return socket_ != kNoSocket; }
    Handle Release() { return std::exchange(socket_, kNoSocket); }
    void Reset(Handle socket = kNoSocket) {
        if (socket_ != kNoSocket) {
            Close(socket_);
        }
        socket_ = socket;
    }

  private:
    Handle socket_;
};

}  // namespace net
