// Every frame of docs/protocol.md, its bytes typed from the page: one row per message and
// transport, with the replies that differ in their bytes. Each row is written and read by the
// wire format, answered by the simulated print server, and sent and taken by the transport
// library against a peer that the test plays, with the program's own request data. A mistake
// made alike on both ends of the wire passes every test that runs one end against the other;
// against these rows it does not.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "engine/ProgramPayloads.h"
#include "engine/TargetRecord.h"
#include "engine/TransportPolicy.h"
#include "protocol/Socket.h"
#include "protocol/Wire.h"
#include "tavdl/tavdl.h"
#include "tests/support/Loopback.h"
#include "tests/support/TestPlatform.h"
#include "tools/sim/PrintServer.h"

namespace vexil {
namespace {

namespace wire = tavdl::wire;
using Bytes = std::vector<std::uint8_t>;

// Hex digits, two to a byte; spaces only for the eye.
Bytes Hex(const std::string& text) {
    Bytes bytes;
    std::string digits;
    for (const char c : text) {
        if (c != ' ') {
            digits += c;
        }
    }
    EXPECT_EQ(digits.size() % 2, 0u) << text;
    for (std::size_t i = 0; i + 1 < digits.size(); i += 2) {
        bytes.push_back(static_cast<std::uint8_t>(std::stoul(digits.substr(i, 2), nullptr, 16)));
    }
    return bytes;
}

// The exchange id of every row.
constexpr std::uint32_t kId = 0x12345678;
// The print server's IPX address (the record's network and node, its socket 0x4100) and the
// library's own.
constexpr wire::IpxAddress kCard = {{0, 0, 0, 1}, {0x00, 0xD1, 0xF0, 0x12, 0x34, 0x56}, 0x4100};
constexpr wire::IpxAddress kLibrary = {{0, 0, 0, 0}, {0x02, 0, 0, 0, 0, 0x01}, 0x4101};
// The IPX header's destination and source, to the print server and back.
#define TO_CARD "00000001 00D1F0123456 4100  00000000 020000000001 4101  "
#define TO_LIBRARY "00000000 020000000001 4101  00000001 00D1F0123456 4100  "
// A block of one data record (count 12 at 0x008800, the data AA 01 01 10 00 00 00 00, checksum
// AF), without its line feed as blocks are.
#define BLOCK "5332 0C 008800 AA01 0110 00000000 AF"

enum class Way { kUdp, kTcp, kIpx };

// What the simulated print server must be playing for the row's reply.
enum class Setup {
    kSound,
    kRefuseModeSwitch,
    kRefuseConnection,
    kFailErase,
    kRefuseBlock,
    kNakBlock,
    kBadFinish,
    kBusy,  // another client's download runs
};

struct Message {
    std::uint8_t type;
    std::uint8_t status;
    const char* data;
    const char* frame;  // the whole frame: a datagram, the stream's bytes, or an IPX packet
};

struct Row {
    const char* name;
    Way way;
    Setup setup;
    Message request;
    Message reply;
};

// clang-format off
const Row kRows[] = {
    {"Vantrel version query", Way::kUdp, Setup::kSound,
     {0x01, 0, "", "01 12345678 00"},
     {0x81, 0, "07 0000000000 AA01 0110", "81 12345678 00  07 0000000000 AA01 0110"}},
    {"Bramble version query", Way::kUdp, Setup::kSound,
     {0x02, 0, "", "02 12345678 00"},
     {0x82, 0, "00 0000000000 AA01 0110", "82 12345678 00  00 0000000000 AA01 0110"}},
    {"download-mode switch", Way::kUdp, Setup::kSound,
     {0x03, 0, "", "03 12345678 00"},
     {0x83, 0, "00", "83 12345678 00  00"}},
    {"download-mode switch refused", Way::kUdp, Setup::kRefuseModeSwitch,
     {0x03, 0, "", "03 12345678 00"},
     {0x83, 1, "01", "83 12345678 01  01"}},

    {"download connection", Way::kTcp, Setup::kSound,
     {0x10, 0, "", "0006  10 12345678 00"},
     {0x90, 0, "00", "0007  90 12345678 00  00"}},
    {"download connection refused", Way::kTcp, Setup::kRefuseConnection,
     {0x10, 0, "", "0006  10 12345678 00"},
     {0x90, 1, "01", "0007  90 12345678 01  01"}},
    {"erase", Way::kTcp, Setup::kSound,
     {0x11, 0, "", "0006  11 12345678 00"},
     {0x91, 0, "00", "0007  91 12345678 00  00"}},
    {"erase failed", Way::kTcp, Setup::kFailErase,
     {0x11, 0, "", "0006  11 12345678 00"},
     {0x91, 1, "01", "0007  91 12345678 01  01"}},
    {"data block", Way::kTcp, Setup::kSound,
     {0x12, 0, BLOCK, "0015  12 12345678 00  " BLOCK},
     {0x92, 0, "703003", "0009  92 12345678 00  703003"}},
    {"data block not acknowledged", Way::kTcp, Setup::kNakBlock,
     {0x12, 0, BLOCK, "0015  12 12345678 00  " BLOCK},
     {0x92, 0, "703015", "0009  92 12345678 00  703015"}},
    {"data block refused", Way::kTcp, Setup::kRefuseBlock,
     {0x12, 0, BLOCK, "0015  12 12345678 00  " BLOCK},
     {0x92, 1, "", "0006  92 12345678 01"}},
    {"finish", Way::kTcp, Setup::kSound,
     {0x13, 0, "7103", "0008  13 12345678 00  7103"},
     {0x93, 0, "70300300", "000A  93 12345678 00  70300300"}},
    {"finish not acknowledged", Way::kTcp, Setup::kBadFinish,
     {0x13, 0, "7103", "0008  13 12345678 00  7103"},
     {0x93, 0, "70301500", "000A  93 12345678 00  70301500"}},
    {"finish while another client's download runs", Way::kTcp, Setup::kBusy,
     {0x13, 0, "7103", "0008  13 12345678 00  7103"},
     {0x93, 1, "70301500", "000A  93 12345678 01  70301500"}},

    {"IPX Vantrel version query", Way::kIpx, Setup::kSound,
     {0x01, 0, "", "FFFF 0024 00 04  " TO_CARD "01 12345678 00"},
     {0x81, 0, "07 0000000000 AA01 0110",
      "FFFF 002E 00 04  " TO_LIBRARY "81 12345678 00  07 0000000000 AA01 0110"}},
    {"IPX Bramble version query", Way::kIpx, Setup::kSound,
     {0x02, 0, "", "FFFF 0024 00 04  " TO_CARD "02 12345678 00"},
     {0x82, 0, "00 0000000000 AA01 0110",
      "FFFF 002E 00 04  " TO_LIBRARY "82 12345678 00  00 0000000000 AA01 0110"}},
    {"IPX download-mode switch", Way::kIpx, Setup::kSound,
     {0x03, 0, "", "FFFF 0024 00 04  " TO_CARD "03 12345678 00"},
     {0x83, 0, "00", "FFFF 0025 00 04  " TO_LIBRARY "83 12345678 00  00"}},
    {"IPX download connection", Way::kIpx, Setup::kSound,
     {0x10, 0, "", "FFFF 0024 00 04  " TO_CARD "10 12345678 00"},
     {0x90, 0, "00", "FFFF 0025 00 04  " TO_LIBRARY "90 12345678 00  00"}},
    {"IPX erase", Way::kIpx, Setup::kSound,
     {0x11, 0, "", "FFFF 0024 00 04  " TO_CARD "11 12345678 00"},
     {0x91, 0, "00", "FFFF 0025 00 04  " TO_LIBRARY "91 12345678 00  00"}},
    {"IPX data block", Way::kIpx, Setup::kSound,
     {0x12, 0, "01000000 0004 0000  " BLOCK,
      "FFFF 003B 00 04  " TO_CARD "12 12345678 00  01000000 0004 0000  " BLOCK},
     {0x92, 0, "01000000 0004 0000  703003",
      "FFFF 002F 00 04  " TO_LIBRARY "92 12345678 00  01000000 0004 0000  703003"}},
    {"IPX data block not acknowledged", Way::kIpx, Setup::kNakBlock,
     {0x12, 0, "01000000 0004 0000  " BLOCK,
      "FFFF 003B 00 04  " TO_CARD "12 12345678 00  01000000 0004 0000  " BLOCK},
     {0x92, 0, "01010000 0004 0000  703015",
      "FFFF 002F 00 04  " TO_LIBRARY "92 12345678 00  01010000 0004 0000  703015"}},
    {"IPX finish", Way::kIpx, Setup::kSound,
     {0x13, 0, "01000000 0005 0003 710A00",
      "FFFF 002F 00 04  " TO_CARD "13 12345678 00  01000000 0005 0003 710A00"},
     {0x93, 0, "0100", "FFFF 0026 00 04  " TO_LIBRARY "93 12345678 00  0100"}},
    {"IPX finish not acknowledged", Way::kIpx, Setup::kBadFinish,
     {0x13, 0, "01000000 0005 0003 710A00",
      "FFFF 002F 00 04  " TO_CARD "13 12345678 00  01000000 0005 0003 710A00"},
     {0x93, 0, "0101", "FFFF 0026 00 04  " TO_LIBRARY "93 12345678 00  0101"}},
    {"IPX finish while another client's download runs", Way::kIpx, Setup::kBusy,
     {0x13, 0, "01000000 0005 0003 710A00",
      "FFFF 002F 00 04  " TO_CARD "13 12345678 00  01000000 0005 0003 710A00"},
     {0x93, 1, "0101", "FFFF 0026 00 04  " TO_LIBRARY "93 12345678 01  0101"}},
};
// clang-format on

#undef TO_CARD
#undef TO_LIBRARY

wire::Framing FramingOf(Way way) {
    switch (way) {
        case Way::kUdp:
            return wire::Framing::kDatagram;
        case Way::kTcp:
            return wire::Framing::kStream;
        case Way::kIpx:
            return wire::Framing::kIpx;
    }
    return wire::Framing::kDatagram;
}

// The bytes in front of a frame's message: none, its length, or the IPX header.
std::size_t FramingSize(Way way) {
    switch (way) {
        case Way::kUdp:
            return 0;
        case Way::kTcp:
            return wire::kLengthPrefix;
        case Way::kIpx:
            return wire::kIpxHeaderSize;
    }
    return 0;
}

// Where a frame's exchange id lies.
std::size_t IdAt(Way way) {
    return FramingSize(way) + 1;
}

// `frame` with the exchange id `id` in it.
Bytes WithId(Way way, Bytes frame, std::uint32_t id) {
    const std::size_t at = IdAt(way);
    if (frame.size() >= at + 4) {
        for (int i = 0; i < 4; ++i) {
            frame[at + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(id >> (24 - 8 * i));
        }
    }
    return frame;
}

bool Ipx(const Row& row) {
    return row.way == Way::kIpx;
}

bool SameAddress(const wire::IpxAddress& a, const wire::IpxAddress& b) {
    return std::memcmp(a.network, b.network, 4) == 0 && std::memcmp(a.node, b.node, 6) == 0 &&
           a.socket == b.socket;
}

void CheckWireFormat(const Row& row, bool isRequest) {
    const Message& message = isRequest ? row.request : row.reply;
    const Bytes frame = Hex(message.frame);
    const Bytes data = Hex(message.data);
    const wire::IpxAddress& to = isRequest ? kCard : kLibrary;
    const wire::IpxAddress& from = isRequest ? kLibrary : kCard;
    std::uint8_t out[wire::kMaxFrame];
    const std::size_t size = wire::EncodeFrame(
        FramingOf(row.way), {message.type, kId, message.status, data.data(), data.size()}, out, &to,
        &from);
    EXPECT_EQ(Bytes(out, out + size), frame);

    wire::Message read;
    wire::StreamReader stream;
    wire::IpxAddress readTo{};
    wire::IpxAddress readFrom{};
    if (row.way == Way::kTcp) {
        stream.Append(frame.data(), frame.size());
        ASSERT_EQ(stream.Next(read), wire::StreamReader::Result::kMessage);
    } else {
        ASSERT_TRUE(wire::DecodeDatagram(FramingOf(row.way), frame.data(), frame.size(), read,
                                         &readTo, &readFrom));
    }
    EXPECT_EQ(read.type, message.type);
    EXPECT_EQ(read.id, kId);
    EXPECT_EQ(read.status, message.status);
    EXPECT_EQ(Bytes(read.data, read.data + read.length), data);
    if (row.way == Way::kTcp) {
        EXPECT_EQ(stream.Next(read), wire::StreamReader::Result::kNeedMore);
    }
    if (Ipx(row)) {
        EXPECT_TRUE(SameAddress(readTo, to));
        EXPECT_TRUE(SameAddress(readFrom, from));
    }
}

// The wire format writes each message as the row's bytes, and reads the row's bytes back into
// the row's fields (over IPX with both addresses).
TEST(WireGoldenTest, TheWireFormatWritesAndReadsEveryFrame) {
    for (const Row& row : kRows) {
        for (const bool isRequest : {true, false}) {
            SCOPED_TRACE(std::string(row.name) + (isRequest ? ": request" : ": reply"));
            CheckWireFormat(row, isRequest);
        }
    }
}

sim::Options SimOptionsFor(Setup setup) {
    sim::Options options;
    switch (setup) {
        case Setup::kRefuseModeSwitch:
            options.refuseModeSwitch = 1;
            break;
        case Setup::kRefuseConnection:
            options.refuseConnections = 1;
            break;
        case Setup::kFailErase:
            options.failErase = 1;
            break;
        case Setup::kRefuseBlock:
            options.refuseBlock[1] = 1;
            break;
        case Setup::kNakBlock:
            options.nakBlock[1] = 1;
            break;
        case Setup::kBadFinish:
            options.badFinish = true;
            break;
        case Setup::kSound:
        case Setup::kBusy:
            break;
    }
    return options;
}

void CheckPrintServer(const Row& row) {
    const sim::Options options = SimOptionsFor(row.setup);
    const sim::SimLog log(true, nullptr);
    sim::PrintServer server(options, log);
    const sim::Client client{1};
    if (row.setup == Setup::kBusy) {
        const auto via = Ipx(row) ? sim::Via::kIpx : sim::Via::kTcp;
        ASSERT_TRUE(server.Handle(wire::kConnect, nullptr, 0, via, sim::Client{2}).has_value());
    }
    if (row.request.type == wire::kFinish && row.setup != Setup::kBusy) {
        // A finish counts only for the client whose download came through the mode switch, the
        // connection and the erase.
        const auto via = Ipx(row) ? sim::Via::kIpx : sim::Via::kTcp;
        for (const std::uint8_t step : {wire::kJampEprom, wire::kConnect, wire::kErase}) {
            ASSERT_TRUE(server.Handle(step, nullptr, 0, via, client).has_value());
        }
    }
    const Bytes request = Hex(row.request.frame);
    Bytes answer;
    if (row.way == Way::kTcp) {
        wire::StreamReader stream;
        std::vector<sim::Outgoing> out;
        const bool keeps = server.AnswerStream(stream, request.data(), request.size(), client, out);
        EXPECT_EQ(keeps, row.setup != Setup::kRefuseConnection)
            << "a refused download connection is closed";
        ASSERT_EQ(out.size(), 1u);
        answer = out[0].bytes;
    } else {
        sim::Door door = sim::Door::kTunnel;
        if (!Ipx(row)) {
            door = row.request.type == wire::kVantrelVersion ? sim::Door::kVantrelPort
                                                             : sim::Door::kBramblePort;
        }
        const auto out = server.AnswerDatagram(door, request.data(), request.size(), client);
        ASSERT_TRUE(out.has_value());
        answer = out->bytes;
    }
    EXPECT_EQ(answer, Hex(row.reply.frame));
}

// The simulated print server, given each request frame as it comes off the network (over UDP at
// the port of its query), answers with the reply frame.
TEST(WireGoldenTest, ThePrintServerAnswersEveryRequestFrame) {
    for (const Row& row : kRows) {
        SCOPED_TRACE(row.name);
        CheckPrintServer(row);
    }
}

// The print server's end of one exchange with the library, played from inside the library's
// wait (the wait hook is given the peer as the call's window): it answers a download connection
// that comes first with an acceptance, and the row's request with the row's reply under the
// request's exchange id, and keeps the request as it came.
class Peer {
  public:
    explicit Peer(const Row& row)
        : row_(row),
          socket_(row.way == Way::kTcp ? test::OpenLoopbackListener(0)
                                       : test::OpenLoopbackDatagram(0)) {}

    std::uint16_t Port() const { return socket_.Valid() ? net::BoundPort(socket_.Get()) : 0; }
    const Bytes& Request() const { return request_; }

    static void Serve(void* window) {
        if (window != nullptr) {
            static_cast<Peer*>(window)->Step();
        }
    }

  private:
    void Step() {
        std::uint8_t in[wire::kMaxFrame + 1];
        if (row_.way != Way::kTcp) {
            sockaddr_in from{};
            const long got = net::ReceiveFrom(socket_.Get(), in, sizeof in, from);
            if (got > 0) {
                const Bytes frame(in, in + got);
                const Bytes reply = Answer(frame);
                net::SendTo(socket_.Get(), reply.data(), reply.size(), from);
            }
            return;
        }
        if (!connection_.Valid()) {
            connection_.Reset(net::Accept(socket_.Get()));
        }
        for (long got = 0;
             connection_.Valid() && (got = net::Receive(connection_.Get(), in, sizeof in)) > 0;) {
            received_.insert(received_.end(), in, in + got);
        }
        while (received_.size() >= wire::kLengthPrefix &&
               received_.size() >= wire::kLengthPrefix + wire::StreamLength(received_.data())) {
            const auto end =
                received_.begin() +
                static_cast<long>(wire::kLengthPrefix + wire::StreamLength(received_.data()));
            const Bytes frame(received_.begin(), end);
            received_.erase(received_.begin(), end);
            const Bytes reply = Answer(frame);
            (void)net::Send(connection_.Get(), reply.data(), reply.size());
        }
    }

    Bytes Answer(const Bytes& frame) {
        wire::Message message;
        const std::size_t header = FramingSize(row_.way);
        if (!wire::DecodeMessage(frame.data() + header, frame.size() - header, message)) {
            ADD_FAILURE() << "the library sent no message";
            return {};
        }
        if (message.type == row_.request.type) {
            request_ = frame;
            return WithId(row_.way, Hex(row_.reply.frame), message.id);
        }
        // The download connection a download opens before its erase, data and finish.
        const std::uint8_t accepted = 0;
        std::uint8_t out[wire::kMaxFrame];
        return Bytes(out, out + wire::EncodeFrame(FramingOf(row_.way),
                                                  wire::ReplyTo(message, 0, &accepted, 1), out,
                                                  &kLibrary, &kCard));
    }

    const Row& row_;
    net::UniqueSocket socket_;
    net::UniqueSocket connection_;
    Bytes received_;
    Bytes request_;
};

// The data the program hands the library for a row's request, built as the download sequence
// builds it: a block behind the IPX prefix with its sequence number, and the finish request.
Bytes ProgramData(const Row& row) {
    const bool ipx = Ipx(row);
    Bytes data;
    if (row.request.type == wire::kData) {
        if (ipx) {
            data.assign(payload::kIpxPrefix.begin(), payload::kIpxPrefix.end());
            payload::PutIpxSequence(data.data(), 0x0004);
        }
        const Bytes block = Hex(BLOCK);
        data.insert(data.end(), block.begin(), block.end());
    } else if (row.request.type == wire::kFinish) {
        const auto& request = PolicyFor(ipx).finishRequest;
        data.assign(request.begin(), request.end());
        if (ipx) {
            payload::PutIpxSequence(data.data(), 0x0005);
        }
    }
    return data;
}

// The library call of the row's request; a download's session calls come after an accepted
// download connection, as in a download.
int CallLibrary(const Row& row, TAVDL_ADDR& target, Peer& peer, Bytes data, std::uint8_t* reply) {
    constexpr unsigned long kRoom = payload::kReplySize;
    switch (row.request.type) {
        case wire::kVantrelVersion:
            return TavDL_Vantrel_GetVersion(&target, &peer, kRoom, reply);
        case wire::kBrambleVersion:
            return TavDL_Bramble_GetVersion(&target, &peer, kRoom, reply);
        case wire::kJampEprom:
            return TavDL_Bramble_JampEprom(&target, &peer, kRoom, reply);
        default:
            break;
    }
    unsigned int socket = 0;
    int result = -1;
    if (TavDL_OpenSocket(&target, &socket) != 0) {
        result = TavDL_Download_Connection(&target, &peer, kRoom, reply, &socket);
        if (row.request.type != wire::kConnect && result == 0) {
            std::memset(reply, 0, kRoom);
            const auto length = static_cast<unsigned long>(data.size());
            switch (row.request.type) {
                case wire::kErase:
                    result = TavDL_Download_EraseFlash(&target, &peer, kRoom, reply, &socket);
                    break;
                case wire::kData:
                    result = TavDL_Download_SendData(&target, &peer, length, data.data(), kRoom,
                                                     reply, &socket);
                    break;
                case wire::kFinish:
                    result = TavDL_Download_Finish(&target, &peer, length, data.data(), kRoom,
                                                   reply, &socket);
                    break;
                default:
                    result = -1;
            }
        }
    }
    TavDL_CloseSocket(&socket);
    return result;
}

// Whether the program takes the reply to a block or to the finish as an acknowledgement.
bool ProgramTakesAck(const Row& row, const std::uint8_t* reply) {
    if (row.request.type == wire::kData) {
        return payload::IsBlockAck(reply, Ipx(row));
    }
    const auto& ack = PolicyFor(Ipx(row)).finishAck;
    return std::memcmp(reply, ack.data(), ack.size()) == 0;
}

void CheckLibrary(const Row& row) {
    Peer peer(row);
    ASSERT_NE(peer.Port(), 0);
    auto target = CreateTargetRecord();
    target->waitSeconds = 2;
    const bool session = row.request.type >= wire::kConnect;
    if (Ipx(row)) {
        test::SetEnvironment("TAVDL_IPX_TUNNEL", "127.0.0.1:" + std::to_string(peer.Port()));
        target->mode = TAVDL_MODE_IPX;
        SetIpxNetwork(*target, {0x00, 0x00, 0x00, 0x01});
        SetIpxNode(*target, {0x00, 0xD1, 0xF0, 0x12, 0x34, 0x56});
        // Before the first download-mode switch the record carries no socket number.
        SetIpxSocket(*target, session ? payload::kIpxDownloadSocket : 0);
    } else {
        target->mode = session ? TAVDL_MODE_TCP_CONNECTION : TAVDL_MODE_TCP_QUERY;
        SetInetAddress(*target, Ipv4Address(127, 0, 0, 1));
        SetInetPort(*target, peer.Port());
    }
    std::uint8_t reply[payload::kReplySize] = {};
    const int result = CallLibrary(row, *target, peer, ProgramData(row), reply);

    const Bytes sent = peer.Request();
    ASSERT_GE(sent.size(), IdAt(row.way) + 4) << "the request never came";
    const std::uint32_t id = wire::GetId(sent.data() + FramingSize(row.way));
    EXPECT_EQ(sent, WithId(row.way, Hex(row.request.frame), id));
    EXPECT_EQ(result, row.reply.status == 0 ? 0 : 1);
    Bytes expected = Hex(row.reply.data);
    expected.resize(sizeof reply);
    EXPECT_EQ(Bytes(reply, reply + sizeof reply), expected);
    if (row.request.type == wire::kData || row.request.type == wire::kFinish) {
        EXPECT_EQ(result == 0 && ProgramTakesAck(row, reply), row.setup == Setup::kSound);
    }
}

// The transport library, called as the program calls it, sends each request frame (under an
// exchange id of its own), takes the reply frame into the caller's buffer with its status as the
// result, and the program reads a block's or the finish's acknowledgement in it as the row's
// print server meant it.
TEST(WireGoldenTest, TheLibrarySendsEveryRequestFrameAndTakesEveryReply) {
    TavDL_SetWaitHook(Peer::Serve);
    for (const Row& row : kRows) {
        SCOPED_TRACE(row.name);
        CheckLibrary(row);
    }
    TavDL_SetWaitHook(nullptr);
    test::SetEnvironment("TAVDL_IPX_TUNNEL", std::nullopt);
}

#undef BLOCK

}  // namespace
}  // namespace vexil
