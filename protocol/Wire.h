// The wire format shared by the transport library, the simulated print server and the transport
// benchmark: the message header and the three framings, written and read here only. It stands
// below the library and includes nothing of it: the one number the library's C header also
// names (the print server's IPX socket) is tied to it there by a static_assert. Written down
// for people in docs/protocol.md; keep the two in step (tests/protocol/WireGoldenTest.cpp holds
// this code to the frames written there).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

namespace tavdl::wire {

// Every exchange is one request message and one reply message:
//   type (1 byte), exchange id (4 bytes, big-endian), status (1 byte), data (0 to kMaxData).
// A reply has the request's type with the high bit set and the request's exchange id; status 0
// means the print server took the request. Requests carry status 0.
inline constexpr std::size_t kHeaderSize = 6;
inline constexpr std::size_t kMaxData = 1024;
inline constexpr std::size_t kMaxMessage = kHeaderSize + kMaxData;

enum Type : std::uint8_t {
    kVantrelVersion = 0x01,
    kBrambleVersion = 0x02,
    kJampEprom = 0x03,
    kConnect = 0x10,
    kErase = 0x11,
    kData = 0x12,
    kFinish = 0x13,
    kReplyBit = 0x80,
};

// Over the TCP download connection each message is preceded by its length (2 bytes,
// big-endian), which counts the message from its type byte on.
inline constexpr std::size_t kLengthPrefix = 2;

// IPX packets travel in UDP datagrams: the 30-byte IPX header, then the message.
inline constexpr std::size_t kIpxHeaderSize = 30;
inline constexpr std::uint8_t kIpxPacketType = 4;  // packet exchange protocol
inline constexpr std::uint16_t kPrintServerIpxSocket = 0x4100;
inline constexpr std::uint16_t kClientIpxSocket = 0x4101;
// The UDP port of the IPX tunnel endpoint when TAVDL_IPX_TUNNEL does not name one.
inline constexpr std::uint16_t kDefaultTunnelPort = 16640;

struct IpxAddress {
    std::uint8_t network[4];
    std::uint8_t node[6];
    std::uint16_t socket;
};

inline void PutIpxHeader(std::uint8_t* out, std::uint16_t totalLength, const IpxAddress& to,
                         const IpxAddress& from) {
    out[0] = 0xFF;  // no checksum
    out[1] = 0xFF;
    out[2] = static_cast<std::uint8_t>(totalLength >> 8);
    out[3] = static_cast<std::uint8_t>(totalLength);
    out[4] = 0;  // transport control
    out[5] = kIpxPacketType;
    const IpxAddress* parts[2] = {&to, &from};
    for (int i = 0; i < 2; ++i) {
        std::uint8_t* at = out + 6 + 12 * i;
        for (int b = 0; b < 4; ++b)
            at[b] = parts[i]->network[b];
        for (int b = 0; b < 6; ++b)
            at[4 + b] = parts[i]->node[b];
        at[10] = static_cast<std::uint8_t>(parts[i]->socket >> 8);
        at[11] = static_cast<std::uint8_t>(parts[i]->socket);
    }
}

// Reads the destination and source of an IPX header; false when the datagram is too short or
// its length field does not match.
inline bool GetIpxHeader(const std::uint8_t* in, std::size_t size, IpxAddress& to,
                         IpxAddress& from) {
    if (size < kIpxHeaderSize || ((std::size_t{in[2]} << 8) | in[3]) != size) {
        return false;
    }
    IpxAddress* parts[2] = {&to, &from};
    for (int i = 0; i < 2; ++i) {
        const std::uint8_t* at = in + 6 + 12 * i;
        for (int b = 0; b < 4; ++b)
            parts[i]->network[b] = at[b];
        for (int b = 0; b < 6; ++b)
            parts[i]->node[b] = at[4 + b];
        parts[i]->socket = static_cast<std::uint16_t>((at[10] << 8) | at[11]);
    }
    return true;
}

inline void PutHeader(std::uint8_t* out, std::uint8_t type, std::uint32_t id, std::uint8_t status) {
    out[0] = type;
    out[1] = static_cast<std::uint8_t>(id >> 24);
    out[2] = static_cast<std::uint8_t>(id >> 16);
    out[3] = static_cast<std::uint8_t>(id >> 8);
    out[4] = static_cast<std::uint8_t>(id);
    out[5] = status;
}

inline std::uint32_t GetId(const std::uint8_t* message) {
    return (std::uint32_t{message[1]} << 24) | (std::uint32_t{message[2]} << 16) |
           (std::uint32_t{message[3]} << 8) | message[4];
}

// One message: its header's fields and its data (which the message does not own).
struct Message {
    std::uint8_t type = 0;
    std::uint32_t id = 0;
    std::uint8_t status = 0;
    const std::uint8_t* data = nullptr;
    std::size_t length = 0;
};

// The reply to `request`: its type with the reply bit, its exchange id.
inline Message ReplyTo(const Message& request, std::uint8_t status, const std::uint8_t* data,
                       std::size_t length) {
    return {static_cast<std::uint8_t>(request.type | kReplyBit), request.id, status, data, length};
}

// How a message travels: alone in a UDP datagram, behind its length on the TCP connection, or
// behind an IPX header in a UDP datagram.
enum class Framing { kDatagram, kStream, kIpx };

// The room the largest framed message takes.
inline constexpr std::size_t kMaxFrame = kIpxHeaderSize + kMaxMessage;

// The message length a stream prefix announces.
inline std::size_t StreamLength(const std::uint8_t* prefix) {
    return (std::size_t{prefix[0]} << 8) | prefix[1];
}

// Writes `message` framed into `out`, which has room for kMaxFrame bytes (the message's data is
// at most kMaxData); an IPX packet goes from `from` to `to`. Returns the frame's size.
inline std::size_t EncodeFrame(Framing framing, const Message& message, std::uint8_t* out,
                               const IpxAddress* to = nullptr, const IpxAddress* from = nullptr) {
    const std::size_t messageSize = kHeaderSize + message.length;
    std::size_t offset = 0;
    if (framing == Framing::kStream) {
        out[0] = static_cast<std::uint8_t>(messageSize >> 8);
        out[1] = static_cast<std::uint8_t>(messageSize);
        offset = kLengthPrefix;
    } else if (framing == Framing::kIpx) {
        offset = kIpxHeaderSize;
        PutIpxHeader(out, static_cast<std::uint16_t>(offset + messageSize), *to, *from);
    }
    PutHeader(out + offset, message.type, message.id, message.status);
    if (message.length > 0) {
        std::memcpy(out + offset + kHeaderSize, message.data, message.length);
    }
    return offset + messageSize;
}

// Reads a message from its bytes (header and data), which must be a whole message's size.
inline bool DecodeMessage(const std::uint8_t* in, std::size_t size, Message& out) {
    if (size < kHeaderSize || size > kMaxMessage) {
        return false;
    }
    out = {in[0], GetId(in), in[5], in + kHeaderSize, size - kHeaderSize};
    return true;
}

// Reads one datagram, plain or an IPX packet (whose addresses go to `to` and `from`). False when
// it holds none of our messages.
inline bool DecodeDatagram(Framing framing, const std::uint8_t* in, std::size_t size, Message& out,
                           IpxAddress* to = nullptr, IpxAddress* from = nullptr) {
    if (framing != Framing::kIpx) {
        return DecodeMessage(in, size, out);
    }
    IpxAddress ignoredTo{};
    IpxAddress ignoredFrom{};
    return GetIpxHeader(in, size, to ? *to : ignoredTo, from ? *from : ignoredFrom) &&
           DecodeMessage(in + kIpxHeaderSize, size - kIpxHeaderSize, out);
}

// What a call waiting for the reply to its request (type, id) makes of a message that arrives:
// kReply when it is that reply; kStale when it belongs to another exchange (a late reply to an
// earlier request); kMismatch when it carries the exchange's id with a type that does not answer
// the request.
enum class Verdict { kReply, kStale, kMismatch };

inline Verdict Judge(const Message& message, std::uint8_t requestType, std::uint32_t id) {
    if (message.id != id) {
        return Verdict::kStale;
    }
    return message.type == (requestType | kReplyBit) ? Verdict::kReply : Verdict::kMismatch;
}

// A datagram that arrives while a call waits for the reply to (type, id): true, with the reply in
// `out`, when it is that reply. Over IPX (`peer` given) only a packet from the peer's network and
// node to `ownSocket` counts; everything else, garbled or not, is passed over.
inline bool TakeDatagramReply(const std::uint8_t* in, std::size_t size, std::uint8_t type,
                              std::uint32_t id, const IpxAddress* peer, std::uint16_t ownSocket,
                              Message& out) {
    IpxAddress to{};
    IpxAddress from{};
    if (!DecodeDatagram(peer ? Framing::kIpx : Framing::kDatagram, in, size, out, &to, &from)) {
        return false;
    }
    if (peer && (std::memcmp(from.network, peer->network, 4) != 0 ||
                 std::memcmp(from.node, peer->node, 6) != 0 || to.socket != ownSocket)) {
        return false;
    }
    return Judge(out, type, id) == Verdict::kReply;
}

// The receiving side of the TCP connection: bytes in as they arrive, whole messages out.
class StreamReader {
  public:
    enum class Result { kMessage, kNeedMore, kGarbled };

    void Append(const std::uint8_t* data, std::size_t size) {
        Compact();
        buffer_.insert(buffer_.end(), data, data + size);
    }
    // The next whole message; its data stays valid until the next call. kGarbled when a length
    // no message can have arrives: the stream cannot be trusted any more.
    Result Next(Message& out) {
        Compact();
        if (buffer_.size() < kLengthPrefix) {
            return Result::kNeedMore;
        }
        const std::size_t length = StreamLength(buffer_.data());
        if (length < kHeaderSize || length > kMaxMessage) {
            return Result::kGarbled;
        }
        if (buffer_.size() < kLengthPrefix + length) {
            return Result::kNeedMore;
        }
        DecodeMessage(buffer_.data() + kLengthPrefix, length, out);
        consumed_ = kLengthPrefix + length;
        return Result::kMessage;
    }
    void Clear() {
        buffer_.clear();
        consumed_ = 0;
    }

    // Takes the messages received so far until the reply to (type, id) is among them (kMessage,
    // in `out`), or the bytes run out (kNeedMore); replies to other exchanges are dropped.
    // kGarbled also when the exchange's id comes with a type that does not answer the request.
    Result NextReply(std::uint8_t type, std::uint32_t id, Message& out) {
        for (;;) {
            const Result next = Next(out);
            if (next != Result::kMessage) {
                return next;
            }
            switch (Judge(out, type, id)) {
                case Verdict::kReply:
                    return Result::kMessage;
                case Verdict::kMismatch:
                    return Result::kGarbled;
                case Verdict::kStale:
                    break;
            }
        }
    }

  private:
    void Compact() {
        buffer_.erase(buffer_.begin(), buffer_.begin() + static_cast<long>(consumed_));
        consumed_ = 0;
    }
    std::vector<std::uint8_t> buffer_;
    std::size_t consumed_ = 0;  // the message handed out last, dropped at the next call
};

}  // namespace tavdl::wire
