// The print server's side of the payloads (their shared byte layout is format/DevicePayloads.h):
// the replies it builds and the requests it reads. The simulator and the tests that play a print
// server take them from here; the program never does.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "format/DevicePayloads.h"

namespace vexil::payload {

// Whether `data` starts with a block prefix (its sequence number aside).
inline bool HasIpxPrefix(const std::uint8_t* data, std::size_t length) {
    return length >= kIpxPrefixSize && data[0] == kIpxMark && data[1] == 0 && data[2] == 0 &&
           data[3] == 0;
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

}  // namespace vexil::payload
