#include "tools/sim/PrintServer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "format/DevicePayloads.h"
#include "protocol/Wire.h"
#include "tests/support/Records.h"

namespace vexil::sim {
namespace {

using test::Bytes;
namespace wire = tavdl::wire;

// A data record as it lies in a block, without its line feed.
Bytes Block(std::uint32_t address, std::uint8_t fill) {
    Bytes record = test::DataRecord(address, 4, fill);
    record.pop_back();
    return record;
}

// The print server's behaviour at byte level, one request after the other: the reply bytes
// written out by hand, and the faults of the options played as often as they say.
TEST(PrintServerTest, RequestsAndTheirReplies) {
    Options options;
    options.failErase = 1;
    options.refuseBlock[2] = 1;
    const SimLog log(true, nullptr);
    PrintServer server(options, log);
    Bytes badChecksum = Block(0x300, 3);
    badChecksum.back() ^= 0xFF;
    const Bytes ipxBlock =
        test::Join({{0x01, 0x00, 0x00, 0x00, 0x00, 0x05, 0x00, 0x00}, Block(0x400, 4)});
    const Bytes ack = {0x70, 0x30, 0x03};
    const Bytes nak = {0x70, 0x30, 0x15};
    struct Row {
        const char* name;
        std::uint8_t type;
        Bytes request;
        Via via;
        int status;  // -1: no answer
        Bytes reply;
    };
    const std::vector<Row> rows = {
        {"Vantrel query",
         wire::kVantrelVersion,
         {},
         Via::kUdp,
         0,
         {7, 0, 0, 0, 0, 0, 0xAA, 0x01, 0x01, 0x10}},
        {"Bramble query",
         wire::kBrambleVersion,
         {},
         Via::kUdp,
         0,
         {0, 0, 0, 0, 0, 0, 0xAA, 0x01, 0x01, 0x10}},
        {"mode switch", wire::kJampEprom, {}, Via::kUdp, 0, {0x00}},
        {"connection", wire::kConnect, {}, Via::kTcp, 0, {0x00}},
        {"erase, failing once", wire::kErase, {}, Via::kTcp, 1, {0x01}},
        {"erase", wire::kErase, {}, Via::kTcp, 0, {0x00}},
        {"block 1", wire::kData, Block(0x100, 1), Via::kTcp, 0, ack},
        {"block 2, refused once", wire::kData, Block(0x200, 2), Via::kTcp, 1, {}},
        {"block 2 again", wire::kData, Block(0x200, 2), Via::kTcp, 0, ack},
        {"checksum error", wire::kData, badChecksum, Via::kTcp, 0, nak},
        {"IPX block without its prefix",
         wire::kData,
         Block(0x400, 4),
         Via::kIpx,
         0,
         {0x01, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x70, 0x30, 0x15}},
        {"IPX block 5",
         wire::kData,
         ipxBlock,
         Via::kIpx,
         0,
         {0x01, 0x00, 0x00, 0x00, 0x00, 0x05, 0x00, 0x00, 0x70, 0x30, 0x03}},
        {"unknown request", 0x7E, {}, Via::kTcp, -1, {}},
        {"finish, malformed", wire::kFinish, {0x71, 0x04}, Via::kTcp, 0, {0x70, 0x30, 0x15, 0x00}},
        {"finish", wire::kFinish, {0x71, 0x03}, Via::kTcp, 0, {0x70, 0x30, 0x03, 0x00}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const auto reply = server.Handle(row.type, row.request.data(), row.request.size(), row.via);
        ASSERT_EQ(reply.has_value(), row.status >= 0);
        if (reply) {
            EXPECT_EQ(reply->status, row.status);
            EXPECT_EQ(reply->data, row.reply);
        }
    }
    EXPECT_TRUE(server.Finished());
    // Blocks 1, 2 and the IPX block reached the flash, each once.
    EXPECT_EQ(server.Flash().WrittenBytes(), 12u);
}

// After a finished download the version replies carry the version of the image's
// identification record (the first data record at 0x008800 or 0x010000, as the program finds
// it), as a print server reports once its power has been reset; --keep-version keeps the
// configured one, and an unfinished download or a record too short for a version changes
// nothing.
TEST(PrintServerTest, VersionAfterAFinishedDownload) {
    const Bytes ident = {0xAA, 0x01, 0x02, 0x34, 0, 0, 0, 0};
    struct Row {
        const char* name;
        std::vector<Bytes> records;  // one block each
        bool keepVersion;
        bool finish;
        Bytes version;  // what the query answers afterwards
    };
    const std::vector<Row> rows = {
        {"ident at 0x008800",
         {Block(0x100, 1), test::DataRecord(0x8800, ident)},
         false,
         true,
         {0x02, 0x34}},
        {"ident at 0x010000", {test::DataRecord(0x10000, ident)}, false, true, {0x02, 0x34}},
        {"--keep-version", {test::DataRecord(0x8800, ident)}, true, true, {0x01, 0x10}},
        {"not finished", {test::DataRecord(0x8800, ident)}, false, false, {0x01, 0x10}},
        {"first ident record too short",
         {test::DataRecord(0x8800, {0xAA, 0x01}), test::DataRecord(0x10000, ident)},
         false,
         true,
         {0x01, 0x10}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        Options options;
        options.keepVersion = row.keepVersion;
        const SimLog log(true, nullptr);
        PrintServer server(options, log);
        std::vector<std::pair<std::uint8_t, Bytes>> requests = {
            {wire::kJampEprom, {}}, {wire::kConnect, {}}, {wire::kErase, {}}};
        for (Bytes record : row.records) {
            record.pop_back();  // a block carries no line feeds
            requests.emplace_back(wire::kData, record);
        }
        if (row.finish) {
            requests.emplace_back(wire::kFinish, Bytes{0x71, 0x03});
        }
        for (const auto& [type, data] : requests) {
            ASSERT_EQ(server.Handle(type, data.data(), data.size(), Via::kTcp)->status, 0);
        }
        const auto reply = server.Handle(wire::kVantrelVersion, nullptr, 0, Via::kUdp);
        ASSERT_TRUE(reply.has_value());
        EXPECT_EQ(Bytes(reply->data.begin() + 8, reply->data.end()), row.version);
    }
}

// One download at a time: while client 1's download runs, client 2's connection, erase, data
// and finish are refused and change nothing, and its version query goes unanswered. A download ends
// at its finish, when its client leaves, or when its client has been silent past the idle time;
// then another may start one.
TEST(PrintServerTest, OneDownloadAtATime) {
    Options options;
    options.idleSeconds = 60;
    const SimLog log(true, nullptr);
    PrintServer server(options, log);
    const Bytes finish = {0x71, 0x03};
    struct Row {
        const char* name;
        std::uint64_t client;
        int second;  // when the request comes
        std::uint8_t type;
        Bytes request;
        int status;  // -1: no answer
    };
    const std::vector<Row> rows = {
        {"1 switches", 1, 0, wire::kJampEprom, {}, 0},
        {"1 connects", 1, 0, wire::kConnect, {}, 0},
        {"1 erases", 1, 1, wire::kErase, {}, 0},
        {"1 sends block 1", 1, 2, wire::kData, Block(0x100, 1), 0},
        {"2 connects", 2, 3, wire::kConnect, {}, 1},
        {"2 erases", 2, 3, wire::kErase, {}, 1},
        {"2 sends a block", 2, 3, wire::kData, Block(0x900, 9), 1},
        {"2 finishes", 2, 3, wire::kFinish, finish, 1},
        {"2 asks the version", 2, 3, wire::kVantrelVersion, {}, -1},
        {"1 finishes", 1, 4, wire::kFinish, finish, 0},
        {"2 connects after the finish", 2, 5, wire::kConnect, {}, 0},
        {"3 while 2 may still come back", 3, 64, wire::kErase, {}, 1},
        {"3 after 2's silence", 3, 66, wire::kConnect, {}, 0},
        {"4 while 3's download runs", 4, 67, wire::kConnect, {}, 1},
    };
    const Clock::time_point start{};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const auto reply =
            server.Handle(row.type, row.request.data(), row.request.size(), Via::kTcp,
                          {row.client, start + std::chrono::seconds(row.second)});
        ASSERT_EQ(reply.has_value(), row.status >= 0);
        if (reply) {
            EXPECT_EQ(reply->status, row.status);
        }
    }
    server.Leave(3);
    EXPECT_EQ(
        server.Handle(wire::kConnect, nullptr, 0, Via::kIpx, {4, start + std::chrono::seconds(68)})
            ->status,
        0)
        << "3 left: 4 may start";
    EXPECT_EQ(server.Flash().WrittenBytes(), 4u) << "only client 1's block reached the flash";
}

// An erase that takes longer than the idle time keeps its client the download's owner: the
// client waits for the reply held back, and is silent meanwhile. Its blocks sent again (over
// TCP/IP the same bytes, over IPX the same sequence number) are written and counted once.
TEST(PrintServerTest, SlowEraseKeepsTheOwnerAndResendsCountOnce) {
    Options options;
    options.idleSeconds = 1;
    options.eraseSeconds = 5;
    const SimLog log(true, nullptr);
    const Bytes one = Block(0x100, 1);
    const Bytes two = Block(0x200, 2);
    auto ipx = [](std::uint16_t sequence, const Bytes& block) {
        Bytes data(payload::kIpxPrefix.begin(), payload::kIpxPrefix.end());
        payload::PutIpxSequence(data.data(), sequence);
        return test::Join({data, block});
    };
    for (const bool overIpx : {false, true}) {
        SCOPED_TRACE(overIpx ? "IPX" : "TCP/IP");
        PrintServer server(options, log);
        const Via via = overIpx ? Via::kIpx : Via::kTcp;
        const Bytes finish =
            overIpx ? Bytes(payload::kIpxFinishRequest.begin(), payload::kIpxFinishRequest.end())
                    : Bytes{0x71, 0x03};
        struct Row {
            const char* name;
            std::uint64_t client;
            double second;
            std::uint8_t type;
            Bytes request;
            int status;
        };
        const std::vector<Row> rows = {
            {"1 switches", 1, 0, wire::kJampEprom, {}, 0},
            {"1 connects", 1, 0, wire::kConnect, {}, 0},
            {"1 erases, for 5 seconds", 1, 0.5, wire::kErase, {}, 0},
            {"2 connects while 1 waits for the erase", 2, 4, wire::kConnect, {}, 1},
            {"2 erases too", 2, 6, wire::kErase, {}, 1},
            {"1 sends block 1", 1, 6.2, wire::kData, overIpx ? ipx(4, one) : one, 0},
            {"1 sends it again", 1, 6.4, wire::kData, overIpx ? ipx(4, one) : one, 0},
            {"1 sends block 2", 1, 6.6, wire::kData, overIpx ? ipx(5, two) : two, 0},
            {"1 sends it again", 1, 6.8, wire::kData, overIpx ? ipx(5, two) : two, 0},
            {"1 finishes", 1, 7, wire::kFinish, finish, 0},
        };
        for (const Row& row : rows) {
            SCOPED_TRACE(row.name);
            const auto at = Clock::time_point{} + std::chrono::duration_cast<Clock::duration>(
                                                      std::chrono::duration<double>(row.second));
            const auto reply = server.Handle(row.type, row.request.data(), row.request.size(), via,
                                             {row.client, at});
            ASSERT_TRUE(reply.has_value());
            EXPECT_EQ(reply->status, row.status);
        }
        EXPECT_TRUE(server.Finished());
        EXPECT_EQ(server.BlocksApplied(), 2u);
        EXPECT_EQ(server.Flash().WrittenBytes(), 8u);
    }
}

// Download mode, datagram by datagram over the Bramble port (TCP/IP) and the IPX tunnel: from
// one client's accepted mode switch until its download ends (finished, its connection closed,
// its silence past the idle time) nobody else's version query or mode switch is answered, so a
// second client stops at its version query. The first connection after the switch takes the
// download; the switching client's own resend is still answered.
TEST(PrintServerTest, DownloadModeAnswersOnlyItsClient) {
    Options options;
    options.idleSeconds = 60;
    const SimLog log(true, nullptr);
    PrintServer server(options, log);
    enum How { kUdp, kIpx, kTcp, kLeaves };
    const wire::IpxAddress card = {{0x00, 0x00, 0x00, 0x01},
                                   {0x00, 0xD1, 0xF0, 0x12, 0x34, 0x56},
                                   wire::kPrintServerIpxSocket};
    const wire::IpxAddress caller = {
        {0, 0, 0, 0}, {0x02, 0, 0, 0, 0, 0x01}, wire::kClientIpxSocket};
    // The answer's status byte, or -1 when nothing comes back.
    auto ask = [&](How how, std::uint64_t client, int second, std::uint8_t type,
                   const Bytes& data) -> int {
        const Client from{client, Clock::time_point{} + std::chrono::seconds(second)};
        if (how == kLeaves) {
            server.Leave(client);
            return -1;
        }
        if (how == kTcp) {
            const auto reply = server.Handle(type, data.data(), data.size(), Via::kTcp, from);
            return reply ? reply->status : -1;
        }
        const bool ipx = how == kIpx;
        const wire::Framing framing = ipx ? wire::Framing::kIpx : wire::Framing::kDatagram;
        std::uint8_t frame[wire::kMaxFrame];
        const std::size_t size = wire::EncodeFrame(framing, {type, 42, 0, data.data(), data.size()},
                                                   frame, &card, &caller);
        const auto out =
            server.AnswerDatagram(ipx ? Door::kTunnel : Door::kBramblePort, frame, size, from);
        if (!out) {
            return -1;
        }
        wire::Message reply;
        EXPECT_TRUE(wire::DecodeDatagram(framing, out->bytes.data(), out->bytes.size(), reply));
        EXPECT_EQ(reply.type, type | wire::kReplyBit);
        EXPECT_EQ(reply.id, 42u);
        return reply.status;
    };
    const Bytes tcpFinish = {0x71, 0x03};
    const Bytes ipxFinish(payload::kIpxFinishRequest.begin(), payload::kIpxFinishRequest.end());
    struct Row {
        const char* name;
        How how;
        std::uint64_t client;
        int second;
        std::uint8_t type;
        Bytes data;
        int status;  // -1: no answer
    };
    constexpr std::uint8_t kAsk = wire::kBrambleVersion;
    constexpr std::uint8_t kSwitch = wire::kJampEprom;
    const std::vector<Row> rows = {
        {"A asks the version", kUdp, 1, 0, kAsk, {}, 0},
        {"A switches", kUdp, 1, 1, kSwitch, {}, 0},
        {"B asks the version", kUdp, 2, 2, kAsk, {}, -1},
        {"B switches", kUdp, 2, 2, kSwitch, {}, -1},
        {"C asks over IPX", kIpx, 3, 2, kAsk, {}, -1},
        {"C switches over IPX", kIpx, 3, 2, kSwitch, {}, -1},
        {"A's resent switch", kUdp, 1, 2, kSwitch, {}, 0},
        {"A's connection takes the download", kTcp, 10, 3, wire::kConnect, {}, 0},
        {"A's connection erases", kTcp, 10, 4, wire::kErase, {}, 0},
        {"B asks during the transfer", kUdp, 2, 4, kAsk, {}, -1},
        {"A's connection finishes", kTcp, 10, 5, wire::kFinish, tcpFinish, 0},
        {"B asks after the finish", kUdp, 2, 6, kAsk, {}, 0},
        {"B switches", kUdp, 2, 6, kSwitch, {}, 0},
        {"B's connection", kTcp, 11, 7, wire::kConnect, {}, 0},
        {"A asks during B's download", kIpx, 1, 8, kAsk, {}, -1},
        {"B's connection closes", kLeaves, 11, 9, 0, {}, -1},
        {"A asks after B left", kIpx, 1, 9, kAsk, {}, 0},
        {"A switches, then falls silent", kUdp, 1, 10, kSwitch, {}, 0},
        {"B asks within the idle time", kUdp, 2, 69, kAsk, {}, -1},
        {"B asks after the idle time", kUdp, 2, 71, kAsk, {}, 0},
        {"C switches over IPX", kIpx, 3, 72, kSwitch, {}, 0},
        {"B asks over UDP", kUdp, 2, 73, kAsk, {}, -1},
        {"C's IPX session takes the download", kIpx, 4, 74, wire::kConnect, {}, 0},
        {"B asks over IPX", kIpx, 2, 75, kAsk, {}, -1},
        {"C's IPX session erases", kIpx, 4, 75, wire::kErase, {}, 0},
        {"C's IPX session finishes", kIpx, 4, 76, wire::kFinish, ipxFinish, 0},
        {"B asks after C's finish", kIpx, 2, 77, kAsk, {}, 0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(ask(row.how, row.client, row.second, row.type, row.data), row.status);
    }
}

// A finish counts only at the end of a download: after a download-mode switch was asked for
// (a refused one too, as some models go on without it), a connection was accepted and its client
// erased the flash through it. A finish short of that, over either transport, is refused, and
// nothing is finished (the flash file is not written, --once does not end) until a download
// that went the whole way finishes.
TEST(PrintServerTest, AFinishWithoutItsDownloadCountsForNothing) {
    const Bytes tcpFinish = {0x71, 0x03};
    const Bytes ipxFinish(payload::kIpxFinishRequest.begin(), payload::kIpxFinishRequest.end());
    enum Step { kSwitch, kRefusedSwitch, kConnect, kErase, kOtherErases };
    struct Row {
        const char* name;
        std::vector<Step> before;
        bool finished;
    };
    const std::vector<Row> rows = {
        {"a finish alone", {}, false},
        {"no connection", {kSwitch, kErase}, false},
        {"no erase", {kSwitch, kConnect}, false},
        {"no mode switch", {kConnect, kErase}, false},
        {"the erase before the connection", {kSwitch, kErase, kConnect}, false},
        {"another client erased", {kSwitch, kConnect, kOtherErases}, false},
        {"the whole way", {kSwitch, kConnect, kErase}, true},
        {"a refused switch, then the rest", {kRefusedSwitch, kConnect, kErase}, true},
    };
    for (const Via via : {Via::kTcp, Via::kIpx}) {
        for (const Row& row : rows) {
            SCOPED_TRACE(std::string(via == Via::kIpx ? "IPX: " : "TCP/IP: ") + row.name);
            Options options;
            options.refuseModeSwitch =
                std::count(row.before.begin(), row.before.end(), kRefusedSwitch) > 0 ? 1 : 0;
            const SimLog log(true, nullptr);
            PrintServer server(options, log);
            const Client client{1, {}};
            for (const Step step : row.before) {
                const std::uint8_t type = step == kSwitch || step == kRefusedSwitch
                                              ? wire::kJampEprom
                                              : (step == kConnect ? wire::kConnect : wire::kErase);
                const auto reply =
                    server.Handle(type, nullptr, 0, via, {step == kOtherErases ? 2u : 1u, {}});
                ASSERT_TRUE(reply.has_value());
                EXPECT_EQ(reply->status, step == kRefusedSwitch || step == kOtherErases ? 1 : 0);
            }
            const Bytes& finish = via == Via::kIpx ? ipxFinish : tcpFinish;
            const auto reply =
                server.Handle(wire::kFinish, finish.data(), finish.size(), via, client);
            ASSERT_TRUE(reply.has_value());
            // The acknowledgement, or the refusal.
            const Bytes tcpAnswer = {0x70, 0x30,
                                     static_cast<std::uint8_t>(row.finished ? 0x03 : 0x15), 0x00};
            const Bytes ipxAnswer = {0x01, static_cast<std::uint8_t>(row.finished ? 0x00 : 0x01)};
            EXPECT_EQ(reply->status, row.finished ? 0 : 1);
            EXPECT_EQ(reply->data, via == Via::kIpx ? ipxAnswer : tcpAnswer);
            EXPECT_EQ(server.Finished(), row.finished);
        }
    }
}

}  // namespace
}  // namespace vexil::sim
