// The sockets of the transport library, the same on every platform: non-blocking, never inherited
// by a child process, never raising a signal, with the platform's errors mapped once. The
// platform's side is in SocketPosix.cpp and SocketWindows.cpp.
#pragma once

#include <cstddef>
#include <cstdint>
#include <utility>

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

// What the last failed call on this thread ran into.
enum class Error { kWouldBlock, kInterrupted, kRefused, kInProgress, kOther };
Error LastError();

// 0, or -1 with LastError (a stream connection under way is kInProgress).
int Connect(Handle socket, const sockaddr_in& to);
// Bytes sent or received, or -1 with LastError.
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
