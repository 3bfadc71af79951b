// The wire format shared by the transport library and the simulated print server. Written down
// for people in docs/protocol.md; keep the two in step.
#pragma once

#include <cstddef>
#include <cstdint>

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

}  // namespace tavdl::wire
