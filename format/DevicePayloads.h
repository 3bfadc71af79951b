// The payloads that the program and the print server exchange through the transport library:
// the version reply's fields, the block acknowledgement and refusal, the IPX block prefix with
// its sequence number, the finish requests and replies, and the ports and socket numbers the
// sequences write into the target record. The engine, the simulated print server, the test
// fakes, the library's tests and the benchmarks all take them from here.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "tavdl/tavdl.h"

namespace vexil {

// The two version queries of the transport library.
enum class VersionQuery { kVantrel, kBramble };

namespace payload {

// The reply buffer every call is given.
inline constexpr std::size_t kReplySize = 512;

// Ports of inetAddr (TCP/IP) and the socket number of ipxAddr (IPX).
inline constexpr std::uint16_t kVantrelQueryPort = 5031;
inline constexpr std::uint16_t kBrambleQueryPort = 5021;  // also the download-mode switch
inline constexpr std::uint16_t kDownloadPort = 5001;
inline constexpr std::uint16_t kIpxDownloadSocket = TAVDL_PRINT_SERVER_IPX_SOCKET;

// Reply byte 0 after a version query or a download-mode switch that nobody answered.
inline constexpr std::uint8_t kNoAnswer = TAVDL_NO_ANSWER;

// The version reply: a mark, then the model code in bytes 6 and 7 and the firmware version
// (major, minor) in bytes 8 and 9. A Vantrel reply is valid when byte 0 is 7; a Bramble reply
// when byte 7 is not 1.
inline constexpr std::size_t kVersionReplySize = 10;
inline constexpr std::size_t kModelCodeAt = 6;
inline constexpr std::size_t kFirmwareAt = 8;
inline constexpr std::uint8_t kVantrelValid = 7;
inline constexpr std::uint8_t kVantrelInvalid = 5;  // what a faulty print server sends instead
inline constexpr std::size_t kBrambleInvalidAt = 7;
inline constexpr std::uint8_t kBrambleInvalid = 1;

// The acknowledgement of a data block, "p0" and 0x03, and its refusal, "p0" and 0x15.
inline constexpr std::array<std::uint8_t, 3> kAck = {0x70, 0x30, 0x03};
inline constexpr std::array<std::uint8_t, 3> kNak = {0x70, 0x30, 0x15};

// Over IPX every block goes behind an 8-byte prefix: 0x01 0x00 0x00 0x00, the sequence number
// (high byte, low byte), 0x00 0x00. A reply repeats the prefix with its status in byte 1 (0 is
// an acknowledgement) and may carry the acknowledgement after it.
inline constexpr std::size_t kIpxPrefixSize = 8;
inline constexpr std::uint8_t kIpxMark = 0x01;
inline constexpr std::size_t kIpxSequenceAt = 4;
inline constexpr std::size_t kIpxStatusAt = 1;
inline constexpr std::array<std::uint8_t, kIpxPrefixSize> kIpxPrefix = {kIpxMark, 0, 0, 0,
                                                                        0,        0, 0, 0};

// The finish requests, and the replies that acknowledge them: over TCP/IP the acknowledgement
// and a zero byte, over IPX a prefix with status 0.
inline constexpr std::array<std::uint8_t, 2> kTcpFinishRequest = {0x71, 0x03};
inline constexpr std::array<std::uint8_t, 11> kIpxFinishRequest = {
    kIpxMark, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x03, 0x71, 0x0A, 0x00};
inline constexpr std::array<std::uint8_t, 4> kTcpFinishAck = {0x70, 0x30, 0x03, 0x00};
inline constexpr std::array<std::uint8_t, 4> kTcpFinishNak = {0x70, 0x30, 0x15, 0x00};
inline constexpr std::array<std::uint8_t, 2> kIpxFinishAck = {kIpxMark, 0x00};
inline constexpr std::array<std::uint8_t, 2> kIpxFinishNak = {kIpxMark, 0x01};

// Whether `bytes` begin with `expected`.
template <std::size_t N>
bool Begins(const std::uint8_t* bytes, const std::array<std::uint8_t, N>& expected) {
    return std::memcmp(bytes, expected.data(), N) == 0;
}

inline void PutIpxSequence(std::uint8_t* message, std::uint16_t sequence) {
    message[kIpxSequenceAt] = static_cast<std::uint8_t>(sequence >> 8);
    message[kIpxSequenceAt + 1] = static_cast<std::uint8_t>(sequence);
}
inline std::uint16_t IpxSequence(const std::uint8_t* message) {
    return static_cast<std::uint16_t>((message[kIpxSequenceAt] << 8) | message[kIpxSequenceAt + 1]);
}
// Whether `data` starts with a block prefix (its sequence number aside).
inline bool HasIpxPrefix(const std::uint8_t* data, std::size_t length) {
    return length >= kIpxPrefixSize && data[0] == kIpxMark && data[1] == 0 && data[2] == 0 &&
           data[3] == 0;
}

// Whether a reply to a data block acknowledges it: over TCP/IP it begins with the
// acknowledgement; over IPX the acknowledgement follows the prefix, or the status byte is 0.
inline bool IsBlockAck(const std::uint8_t* reply, bool ipx) {
    if (!ipx) {
        return Begins(reply, kAck);
    }
    return Begins(reply + kIpxPrefixSize, kAck) || reply[kIpxStatusAt] == 0;
}

// The print server's answer to a data block: over IPX the prefix with the block's sequence
// number and status 0 or 1, then the acknowledgement or refusal; over TCP/IP that alone.
inline std::vector<std::uint8_t> BlockReply(bool ipx, bool acknowledged, std::uint16_t sequence) {
    const auto& tail = acknowledged ? kAck : kNak;
    const std::size_t offset = ipx ? kIpxPrefixSize : 0;
    std::vector<std::uint8_t> reply(offset + tail.size());
    if (ipx) {
        std::memcpy(reply.data(), kIpxPrefix.data(), kIpxPrefixSize);
        reply[kIpxStatusAt] = acknowledged ? 0 : 1;
        PutIpxSequence(reply.data(), sequence);
    }
    std::memcpy(reply.data() + offset, tail.data(), tail.size());
    return reply;
}

// Whether `data` is the finish request of the transport (its sequence number aside).
inline bool IsFinishRequest(const std::uint8_t* data, std::size_t length, bool ipx) {
    if (!ipx) {
        return length == kTcpFinishRequest.size() && Begins(data, kTcpFinishRequest);
    }
    const auto& request = kIpxFinishRequest;
    return length == request.size() && data[0] == request[0] &&
           std::memcmp(data + kIpxPrefixSize - 1, request.data() + kIpxPrefixSize - 1,
                       request.size() - kIpxPrefixSize) == 0;
}

// A version reply of the given query for a print server of model code `code` and firmware
// `firmware`; `valid` false gives the reply that marks it as not valid.
inline std::array<std::uint8_t, kVersionReplySize> VersionReply(VersionQuery query,
                                                                const std::uint8_t code[2],
                                                                const std::uint8_t firmware[2],
                                                                bool valid = true) {
    std::array<std::uint8_t, kVersionReplySize> reply{};
    reply[kModelCodeAt] = code[0];
    reply[kModelCodeAt + 1] = code[1];
    reply[kFirmwareAt] = firmware[0];
    reply[kFirmwareAt + 1] = firmware[1];
    if (query == VersionQuery::kVantrel) {
        reply[0] = valid ? kVantrelValid : kVantrelInvalid;
    } else if (!valid) {
        reply[kBrambleInvalidAt] = kBrambleInvalid;
    }
    return reply;
}

// Whether `reply`, `length` bytes as the print server sent them, is a valid version reply. A
// shorter one is not, whatever the bytes behind it in the buffer say: zero bytes would pass for a
// Bramble reply of model 0000 and firmware 0.00.
inline bool IsValidVersionReply(VersionQuery query, const std::uint8_t* reply, std::size_t length) {
    if (length < kVersionReplySize) {
        return false;
    }
    return query == VersionQuery::kVantrel ? reply[0] == kVantrelValid
                                           : reply[kBrambleInvalidAt] != kBrambleInvalid;
}

}  // namespace payload
}  // namespace vexil
