// Feeds arbitrary bytes to the library's side of the wire: as the reply datagram a query waits
// for (plain UDP or an IPX packet from the tunnel), or as the TCP stream a download call reads,
// cut into pieces as the network might. The first byte picks the way and the cuts; the next
// five are the request waited on (type, exchange id). Whatever is taken must be exactly the
// reply waited for, lie inside the bytes received, and the stream must read the same however it
// is cut.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

#include "protocol/Wire.h"

namespace {

namespace wire = tavdl::wire;

// The print server a query asks, and the library's own IPX socket.
constexpr wire::IpxAddress kPeer = {{0, 0, 0, 1}, {0x00, 0xD1, 0xF0, 0x12, 0x34, 0x56}, 0x4100};
constexpr std::uint16_t kOwnSocket = wire::kClientIpxSocket;

void Check(bool sound) {
    if (!sound) {
        __builtin_trap();
    }
}

void Datagram(bool ipx, const std::uint8_t* in, std::size_t size, std::uint8_t type,
              std::uint32_t id) {
    // Exactly the bytes received, so AddressSanitizer sees any read past them.
    const std::vector<std::uint8_t> copy(in, in + size);
    wire::Message reply;
    if (!wire::TakeDatagramReply(copy.data(), copy.size(), type, id, ipx ? &kPeer : nullptr,
                                 kOwnSocket, reply)) {
        return;
    }
    const std::size_t header = (ipx ? wire::kIpxHeaderSize : 0) + wire::kHeaderSize;
    Check(reply.type == (type | wire::kReplyBit) && reply.id == id);
    Check(reply.length <= wire::kMaxData && reply.length + header == size);
    Check(reply.data == copy.data() + header);
    // Written out again, the reply is the datagram taken (the IPX header's checksum, transport
    // control and packet type aside, which the library does not look at).
    std::uint8_t again[wire::kMaxFrame];
    wire::IpxAddress to{};
    wire::IpxAddress from{};
    if (ipx) {
        // Only from the card asked, to the library's own socket.
        Check(wire::GetIpxHeader(copy.data(), size, to, from));
        Check(std::memcmp(from.network, kPeer.network, 4) == 0 &&
              std::memcmp(from.node, kPeer.node, 6) == 0 && to.socket == kOwnSocket);
    }
    Check(wire::EncodeFrame(ipx ? wire::Framing::kIpx : wire::Framing::kDatagram, reply, again, &to,
                            &from) == size);
    for (std::size_t i = 0; i < size; ++i) {
        Check(again[i] == copy[i] || (ipx && (i < 2 || i == 4 || i == 5)));
    }
}

// What a stream yields, call after call: the offset of each reply taken, then how it ends.
struct Reading {
    std::vector<std::size_t> replies;
    bool garbled = false;
};

// The stream read by the definition of its framing, all bytes at once.
Reading ByDefinition(const std::uint8_t* in, std::size_t size, std::uint8_t type,
                     std::uint32_t id) {
    Reading reading;
    std::size_t at = 0;
    while (size - at >= wire::kLengthPrefix) {
        const std::size_t length = wire::StreamLength(in + at);
        if (length < wire::kHeaderSize || length > wire::kMaxMessage) {
            reading.garbled = true;
            break;
        }
        if (size - at < wire::kLengthPrefix + length) {
            break;
        }
        const std::uint8_t* message = in + at + wire::kLengthPrefix;
        if (wire::GetId(message) == id) {
            if (message[0] != (type | wire::kReplyBit)) {
                reading.garbled = true;
                break;
            }
            reading.replies.push_back(at);
        }
        at += wire::kLengthPrefix + length;
    }
    return reading;
}

// The stream as the library reads it: pieces appended as they arrive, replies taken between.
// Each reply taken must be the next one of `whole`, with the bytes received at its place.
Reading AsReceived(const std::uint8_t* in, std::size_t size, std::uint8_t type, std::uint32_t id,
                   unsigned cuts, const Reading& whole) {
    Reading reading;
    wire::StreamReader reader;
    std::minstd_rand pieces(cuts + 1);
    for (std::size_t at = 0; at < size && !reading.garbled;) {
        const std::size_t piece = std::min<std::size_t>(size - at, 1 + pieces() % 1100);
        reader.Append(in + at, piece);
        at += piece;
        for (;;) {
            wire::Message reply;
            const auto next = reader.NextReply(type, id, reply);
            if (next == wire::StreamReader::Result::kGarbled) {
                reading.garbled = true;
                break;
            }
            if (next == wire::StreamReader::Result::kNeedMore) {
                break;
            }
            Check(reading.replies.size() < whole.replies.size());
            const std::size_t start = whole.replies[reading.replies.size()];
            const std::size_t length = wire::StreamLength(in + start) - wire::kHeaderSize;
            Check(reply.type == (type | wire::kReplyBit) && reply.id == id);
            Check(reply.length == length &&
                  start + wire::kLengthPrefix + wire::kHeaderSize + length <= at);
            Check(std::memcmp(reply.data, in + start + wire::kLengthPrefix + wire::kHeaderSize,
                              length) == 0);
            reading.replies.push_back(start);
        }
    }
    return reading;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 6) {
        return 0;
    }
    const std::uint8_t way = data[0];
    const std::uint8_t type = data[1];
    const std::uint32_t id = wire::GetId(data + 1);
    const std::uint8_t* in = data + 6;
    const std::size_t length = size - 6;
    switch (way % 3) {
        case 0:
            Datagram(false, in, length, type, id);
            break;
        case 1:
            Datagram(true, in, length, type, id);
            break;
        default: {
            const Reading whole = ByDefinition(in, length, type, id);
            const Reading cut = AsReceived(in, length, type, id, way / 3, whole);
            // However the bytes are cut, the same replies, and a garbled stream found as one.
            Check(cut.replies == whole.replies && cut.garbled == whole.garbled);
            break;
        }
    }
    return 0;
}
