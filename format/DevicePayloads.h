// The byte layout of the payloads that the program and the print server exchange through the
// transport library, as both ends need it: the ports, the version reply's fields, the block
// acknowledgement and refusal, the IPX block prefix with its sequence number, and the finish
// requests and replies. The program's side (building requests, checking replies) is
// engine/ProgramPayloads.h; the print server's (building replies, reading requests) is
// tools/sim/PrintServerPayloads.h.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace vexil {

// The two version queries of the transport library.
enum class VersionQuery { kVantrel, kBramble };

namespace payload {

// Ports of inetAddr (TCP/IP).
inline constexpr std::uint16_t kVantrelQueryPort = 5031;
inline constexpr std::uint16_t kBrambleQueryPort = 5021;  // also the download-mode switch
inline constexpr std::uint16_t kDownloadPort = 5001;

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

}  // namespace payload
}  // namespace vexil
