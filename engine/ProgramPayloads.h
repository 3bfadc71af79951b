// The program's side of the payloads (their shared byte layout is format/DevicePayloads.h): the
// reply buffer every call is given, what the sequences write into the target record, and the
// checks of the print server's replies.
#pragma once

#include <cstddef>
#include <cstdint>

#include "format/DevicePayloads.h"
#include "tavdl/tavdl.h"

namespace vexil::payload {

// The reply buffer every call is given.
inline constexpr std::size_t kReplySize = 512;

// The socket number of ipxAddr (IPX).
inline constexpr std::uint16_t kIpxDownloadSocket = TAVDL_PRINT_SERVER_IPX_SOCKET;

// Reply byte 0 after a version query or a download-mode switch that nobody answered.
inline constexpr std::uint8_t kNoAnswer = TAVDL_NO_ANSWER;

// Whether a reply to a data block acknowledges it: over TCP/IP it begins with the
// acknowledgement; over IPX the acknowledgement follows the prefix, or the status byte is 0.
inline bool IsBlockAck(const std::uint8_t* reply, bool ipx) {
    if (!ipx) {
        return Begins(reply, kAck);
    }
    return Begins(reply + kIpxPrefixSize, kAck) || reply[kIpxStatusAt] == 0;
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

}  // namespace vexil::payload
