// The datagram checks of the wire, row by row: what a call waiting for its reply takes from a
// datagram, and what it passes over. The fuzz stage tries the same rules on random bytes; these
// rows name each check, so that a check that goes missing fails the normal test run.
#include "protocol/Wire.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <vector>

namespace tavdl::wire {
namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr IpxAddress kCard = {
    {0, 0, 0, 1}, {0x00, 0xD1, 0xF0, 0x12, 0x34, 0x56}, kPrintServerIpxSocket};
constexpr IpxAddress kOwn = {{0, 0, 0, 0}, {0x02, 0, 0, 0, 0, 0x01}, kClientIpxSocket};
constexpr std::uint32_t kId = 0x01020304;

// The reply to a Vantrel query of exchange kId: 10 data bytes, over IPX from `from` to `to`.
Bytes Reply(Framing framing, const IpxAddress& to = kOwn, const IpxAddress& from = kCard,
            std::uint8_t type = kVantrelVersion | kReplyBit, std::uint32_t id = kId) {
    const std::uint8_t data[10] = {7, 0, 0, 0, 0, 0, 0xAA, 0x01, 0x01, 0x10};
    Bytes out(kMaxFrame);
    out.resize(EncodeFrame(framing, {type, id, 0, data, sizeof data}, out.data(), &to, &from));
    return out;
}

TEST(WireTest, DatagramReplyChecks) {
    const auto changed = [](Bytes bytes, const std::function<void(Bytes&)>& change) {
        change(bytes);
        return bytes;
    };
    IpxAddress otherNode = kCard;
    otherNode.node[5] ^= 1;
    IpxAddress otherNetwork = kCard;
    otherNetwork.network[3] ^= 1;
    IpxAddress otherSocket = kOwn;
    otherSocket.socket = kPrintServerIpxSocket;
    const Bytes ipx = Reply(Framing::kIpx);
    const Bytes plain = Reply(Framing::kDatagram);
    struct Row {
        const char* name;
        bool ipx;
        Bytes datagram;
        bool taken;
    };
    const std::vector<Row> rows = {
        {"the IPX reply", true, ipx, true},
        {"IPX length field one more than the datagram", true,
         changed(ipx, [](Bytes& b) { ++b[3]; }), false},
        {"IPX length field one less than the datagram", true,
         changed(ipx, [](Bytes& b) { --b[3]; }), false},
        {"IPX datagram one byte longer than its length field", true,
         changed(ipx, [](Bytes& b) { b.push_back(0); }), false},
        {"IPX length field in its high byte", true, changed(ipx, [](Bytes& b) { b[2] ^= 1; }),
         false},
        {"IPX header alone, length field 30", true,
         changed(Bytes(ipx.begin(), ipx.begin() + kIpxHeaderSize),
                 [](Bytes& b) {
                     b[2] = 0;
                     b[3] = kIpxHeaderSize;
                 }),
         false},
        {"IPX header cut short", true, Bytes(ipx.begin(), ipx.begin() + kIpxHeaderSize - 1), false},
        {"IPX reply to another socket", true, Reply(Framing::kIpx, otherSocket), false},
        {"IPX reply from another node", true, Reply(Framing::kIpx, kOwn, otherNode), false},
        {"IPX reply from another network", true, Reply(Framing::kIpx, kOwn, otherNetwork), false},
        {"IPX reply of another exchange", true,
         Reply(Framing::kIpx, kOwn, kCard, kVantrelVersion | kReplyBit, kId + 1), false},
        {"IPX reply of another type", true,
         Reply(Framing::kIpx, kOwn, kCard, kBrambleVersion | kReplyBit), false},
        {"IPX request, not a reply", true, Reply(Framing::kIpx, kOwn, kCard, kVantrelVersion),
         false},
        {"a plain datagram where an IPX packet is awaited", true, plain, false},
        {"the plain reply", false, plain, true},
        {"plain reply shorter than a header", false,
         Bytes(plain.begin(), plain.begin() + kHeaderSize - 1), false},
        {"plain header alone", false, Bytes(plain.begin(), plain.begin() + kHeaderSize), true},
        {"plain reply of another exchange", false,
         Reply(Framing::kDatagram, kOwn, kCard, kVantrelVersion | kReplyBit, kId - 1), false},
        {"plain data past the largest message", false,
         changed(plain, [](Bytes& b) { b.resize(kMaxMessage + 1); }), false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        Message message;
        const bool taken =
            TakeDatagramReply(row.datagram.data(), row.datagram.size(), kVantrelVersion, kId,
                              row.ipx ? &kCard : nullptr, kOwn.socket, message);
        EXPECT_EQ(taken, row.taken);
        if (taken) {
            const std::size_t header = (row.ipx ? kIpxHeaderSize : 0) + kHeaderSize;
            EXPECT_EQ(message.data, row.datagram.data() + header);
            EXPECT_EQ(message.length, row.datagram.size() - header);
        }
    }
}

}  // namespace
}  // namespace tavdl::wire
