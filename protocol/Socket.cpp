// What the socket unit builds from its own calls alone, the same on every platform.
#include <chrono>

#include "protocol/Socket.h"

namespace net {

std::size_t ReceiveAll(Handle socket, void* buffer, std::size_t size, int timeoutMs) {
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    auto* into = static_cast<unsigned char*>(buffer);
    std::size_t got = 0;
    while (got < size) {
        const long received = Receive(socket, into + got, size - got);
        if (received > 0) {
            got += static_cast<std::size_t>(received);
            continue;
        }
        if (received == 0 ||
            (LastError() != Error::kWouldBlock && LastError() != Error::kInterrupted)) {
            break;  // the peer closed, or the connection failed
        }
        const auto left =
            std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0 || (Wait(socket, kReadable, static_cast<int>(left)) < 0 &&
                          LastError() != Error::kInterrupted)) {
            break;
        }
    }
    return got;
}

}  // namespace net
