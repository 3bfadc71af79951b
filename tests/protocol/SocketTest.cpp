#include "protocol/Socket.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace net {
namespace {

// Every wait of these tests ends by then at the latest.
constexpr int kDeadlineMs = 5000;

sockaddr_in Loopback(std::uint16_t port) {
    sockaddr_in at{};
    at.sin_family = AF_INET;
    at.sin_port = htons(port);
    EXPECT_TRUE(ParseIpv4("127.0.0.1", at.sin_addr));
    return at;
}

// A socket bound to a free loopback port, found by trying ports at random (a bounded number of
// times): tests running at once each find their own.
UniqueSocket BoundSocket(Kind kind, sockaddr_in& at) {
    std::mt19937 random(std::random_device{}());
    std::uniform_int_distribution<int> ports(20000, 60000);
    for (int attempt = 0; attempt < 50; ++attempt) {
        UniqueSocket socket(Open(kind));
        if (!socket.Valid()) {
            ADD_FAILURE() << "no socket: " << LastErrorText();
            return socket;
        }
        at = Loopback(static_cast<std::uint16_t>(ports(random)));
        if (Bind(socket.Get(), at) == 0 && (kind == Kind::kDatagram || Listen(socket.Get()) == 0)) {
            return socket;
        }
    }
    ADD_FAILURE() << "no free loopback port in 50 attempts: " << LastErrorText();
    return UniqueSocket();
}

// Waits for `socket` alone to be readable; false after the deadline.
bool Readable(Handle socket) {
    Waiting waiting[] = {{socket, kReadable}};
    return WaitAny(waiting, kDeadlineMs) == 1 && waiting[0].ready == kReadable;
}

// Datagrams to and from a peer: what was sent arrives whole with its sender's address, a reply
// to that address comes back, and a datagram longer than the buffer gives the part that fits,
// on Windows as on POSIX.
TEST(SocketTest, DatagramsBetweenPeers) {
    sockaddr_in serverAt{};
    UniqueSocket server = BoundSocket(Kind::kDatagram, serverAt);
    UniqueSocket client(Open(Kind::kDatagram));
    ASSERT_TRUE(server.Valid() && client.Valid());

    const std::string hello = "hello";
    ASSERT_EQ(SendTo(client.Get(), hello.data(), hello.size(), serverAt),
              static_cast<long>(hello.size()))
        << LastErrorText();
    // A socket left out (kNoSocket) is never ready, and does not spoil the wait of the others.
    Waiting waiting[] = {{kNoSocket, kReadable}, {server.Get(), kReadable}};
    ASSERT_EQ(WaitAny(waiting, kDeadlineMs), 1) << "no datagram within 5 seconds";
    EXPECT_EQ(waiting[0].ready, 0);
    EXPECT_EQ(waiting[1].ready, kReadable);
    char in[64];
    sockaddr_in from{};
    ASSERT_EQ(ReceiveFrom(server.Get(), in, sizeof in, from), static_cast<long>(hello.size()));
    EXPECT_EQ(std::string(in, hello.size()), hello);
    EXPECT_EQ(from.sin_addr.s_addr, serverAt.sin_addr.s_addr);
    EXPECT_NE(from.sin_port, 0);

    const std::string reply = "a reply";
    ASSERT_EQ(SendTo(server.Get(), reply.data(), reply.size(), from),
              static_cast<long>(reply.size()));
    ASSERT_TRUE(Readable(client.Get())) << "no reply within 5 seconds";
    sockaddr_in replyFrom{};
    ASSERT_EQ(ReceiveFrom(client.Get(), in, sizeof in, replyFrom), static_cast<long>(reply.size()));
    EXPECT_EQ(std::string(in, reply.size()), reply);
    EXPECT_EQ(replyFrom.sin_port, serverAt.sin_port);

    const std::vector<char> tooLong(100, 'x');
    ASSERT_EQ(SendTo(client.Get(), tooLong.data(), tooLong.size(), serverAt), 100);
    ASSERT_TRUE(Readable(server.Get())) << "no long datagram within 5 seconds";
    EXPECT_EQ(ReceiveFrom(server.Get(), in, 10, from), 10);
    EXPECT_EQ(std::string(in, 10), std::string(10, 'x'));
    // Nothing more waits: the rest of the long datagram is gone, not a datagram of its own.
    EXPECT_EQ(ReceiveFrom(server.Get(), in, sizeof in, from), -1);
    EXPECT_EQ(LastError(), Error::kWouldBlock);

    // The same through a connected socket's Receive, as the transport library takes replies.
    ASSERT_EQ(Connect(client.Get(), serverAt), 0) << LastErrorText();
    ASSERT_EQ(SendTo(server.Get(), tooLong.data(), tooLong.size(), from), 100);
    ASSERT_TRUE(Readable(client.Get())) << "no long datagram within 5 seconds";
    EXPECT_EQ(Receive(client.Get(), in, 10), 10);
    EXPECT_EQ(Receive(client.Get(), in, sizeof in), -1);
    EXPECT_EQ(LastError(), Error::kWouldBlock);
}

// A listening socket: nothing to accept at first (at once, not blocking), then the connection
// that came, bytes both ways, and the peer's close seen as readable with nothing to read.
TEST(SocketTest, ListenAcceptAndTheirConnection) {
    sockaddr_in at{};
    UniqueSocket listener = BoundSocket(Kind::kStream, at);
    ASSERT_TRUE(listener.Valid());
    EXPECT_EQ(BoundPort(listener.Get()), ntohs(at.sin_port));
    EXPECT_EQ(Accept(listener.Get()), kNoSocket);
    EXPECT_EQ(LastError(), Error::kWouldBlock);

    UniqueSocket client(Open(Kind::kStream));
    ASSERT_TRUE(client.Valid());
    SetNoDelay(client.Get());
    if (Connect(client.Get(), at) != 0) {
        ASSERT_EQ(LastError(), Error::kInProgress) << LastErrorText();
    }
    ASSERT_TRUE(Readable(listener.Get())) << "no connection to accept within 5 seconds";
    UniqueSocket accepted(Accept(listener.Get()));
    ASSERT_TRUE(accepted.Valid()) << LastErrorText();
    Waiting writable[] = {{client.Get(), kWritable}};
    ASSERT_EQ(WaitAny(writable, kDeadlineMs), 1) << "not connected within 5 seconds";
    EXPECT_EQ(writable[0].ready, kWritable);
    EXPECT_EQ(PendingError(client.Get()), 0);

    // The accepted socket does not block: a receive with nothing there says so at once.
    char in[16];
    EXPECT_EQ(Receive(accepted.Get(), in, sizeof in), -1);
    EXPECT_EQ(LastError(), Error::kWouldBlock);

    ASSERT_EQ(Send(client.Get(), "ping", 4), 4);
    ASSERT_TRUE(Readable(accepted.Get())) << "no bytes within 5 seconds";
    ASSERT_EQ(Receive(accepted.Get(), in, sizeof in), 4);
    EXPECT_EQ(std::string(in, 4), "ping");
    ASSERT_EQ(Send(accepted.Get(), "pong", 4), 4);
    ASSERT_TRUE(Readable(client.Get())) << "no answer within 5 seconds";
    ASSERT_EQ(Receive(client.Get(), in, sizeof in), 4);
    EXPECT_EQ(std::string(in, 4), "pong");

    // Exactly so many bytes, sent in parts; none by the deadline; fewer when the peer closes.
    ASSERT_EQ(Send(client.Get(), "pi", 2), 2);
    ASSERT_EQ(Send(client.Get(), "ng", 2), 2);
    ASSERT_EQ(ReceiveAll(accepted.Get(), in, 4, kDeadlineMs), 4u);
    EXPECT_EQ(std::string(in, 4), "ping");
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(ReceiveAll(accepted.Get(), in, 4, 100), 0u);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(100));
    ASSERT_EQ(Send(client.Get(), "p", 1), 1);

    client.Reset();
    EXPECT_EQ(ReceiveAll(accepted.Get(), in, 4, kDeadlineMs), 1u) << "the peer's close not seen";
    ASSERT_TRUE(Readable(accepted.Get())) << "the peer's close not seen within 5 seconds";
    EXPECT_EQ(Receive(accepted.Get(), in, sizeof in), 0);
}

// A TCP port that a socket listens on, and a UDP port that a socket is bound to, are no other
// socket's, with the reason in words: on every platform, as Windows' exclusive use has it.
TEST(SocketTest, ATakenPortIsRefused) {
    for (const Kind kind : {Kind::kStream, Kind::kDatagram}) {
        SCOPED_TRACE(kind == Kind::kStream ? "TCP" : "UDP");
        sockaddr_in at{};
        UniqueSocket first = BoundSocket(kind, at);
        ASSERT_TRUE(first.Valid());
        UniqueSocket second(Open(kind));
        ASSERT_TRUE(second.Valid());
        EXPECT_NE(Bind(second.Get(), at), 0);
        EXPECT_FALSE(LastErrorText().empty());
    }
}

// A wait with every socket left out still waits its time, and finds nothing.
TEST(SocketTest, AWaitOnNoSocketWaitsItsTime) {
    Waiting none[] = {{kNoSocket, kReadable}, {kNoSocket, kWritable}};
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(WaitAny(none, 50), 0);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(40));
    EXPECT_EQ(none[0].ready, 0);
    EXPECT_EQ(none[1].ready, 0);
}

// A wait on sockets that stay watched: only the ready one is reported, by its token; one
// watched for nothing stays out of the waits however ready, and comes back with a new token; a
// socket forgotten and closed leaves no trace for the next one (which may get its number).
TEST(SocketTest, PollerReportsTheReadyByToken) {
    sockaddr_in aAt{};
    sockaddr_in bAt{};
    UniqueSocket a = BoundSocket(Kind::kDatagram, aAt);
    UniqueSocket b = BoundSocket(Kind::kDatagram, bAt);
    UniqueSocket sender(Open(Kind::kDatagram));
    ASSERT_TRUE(a.Valid() && b.Valid() && sender.Valid());
    Poller poller;
    ASSERT_TRUE(poller.Watch(a.Get(), kReadable, 7));
    ASSERT_TRUE(poller.Watch(b.Get(), kReadable, 9));
    const char byte = 'x';
    ASSERT_EQ(SendTo(sender.Get(), &byte, 1, bAt), 1);
    std::vector<Poller::Ready> ready;
    ASSERT_EQ(poller.Wait(ready, kDeadlineMs), 1);
    EXPECT_EQ(ready.at(0).token, 9u);
    EXPECT_EQ(ready.at(0).events & kReadable, kReadable);

    ASSERT_TRUE(poller.Watch(b.Get(), 0, 9));
    EXPECT_EQ(poller.Wait(ready, 50), 0);
    EXPECT_TRUE(ready.empty());
    ASSERT_TRUE(poller.Watch(b.Get(), kReadable, 11));
    ASSERT_EQ(poller.Wait(ready, kDeadlineMs), 1);
    EXPECT_EQ(ready.at(0).token, 11u);

    poller.Forget(b.Get());
    b.Reset();
    sockaddr_in cAt{};
    UniqueSocket c = BoundSocket(Kind::kDatagram, cAt);
    ASSERT_TRUE(c.Valid());
    ASSERT_TRUE(poller.Watch(c.Get(), kReadable, 13)) << LastErrorText();
    ASSERT_EQ(SendTo(sender.Get(), &byte, 1, cAt), 1);
    ASSERT_EQ(poller.Wait(ready, kDeadlineMs), 1);
    EXPECT_EQ(ready.at(0).token, 13u);
}

// Room for sockets: at least the ones a program opens at start, and more than zero after one
// more is open.
TEST(SocketTest, RoomForSockets) {
    const std::size_t before = SocketRoom();
    EXPECT_GT(before, 4u);
    UniqueSocket one(Open(Kind::kDatagram));
    ASSERT_TRUE(one.Valid());
    EXPECT_GT(SocketRoom(), 0u);
    EXPECT_LE(SocketRoom(), before);
}

}  // namespace
}  // namespace net
