// Everything in which the TCP/IP and the IPX download sequences differ, one table per transport,
// so that the two can be read side by side: attempts, waits, what the target record carries for
// each call, message icons, when the reply buffer is cleared, the block prefix and the finish
// request.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "engine/ModelTable.h"
#include "engine/Ports.h"
#include "engine/ProgramPayloads.h"
#include "engine/Transport.h"
#include "format/DownloadFileReader.h"
#include "resources/ResourceIds.h"
#include "tavdl/tavdl.h"

namespace vexil {

// A step that calls the library up to `attempts` times, testing the cancel flag and setting up
// the record before each attempt.
struct RetriedCall {
    int attempts;
    CallSetup setup;
    bool clearReplyAfterFailure;  // zero-fill the reply buffer after each failed attempt
};

struct TransportPolicy {
    // The version query. TCP/IP asks the model's own query on its port, and a failed Vantrel
    // attempt starts the next one with a clean reply buffer (a Bramble query keeps the last
    // reply); IPX asks the Vantrel query for every model and never clears the reply.
    RetriedCall query;
    bool queryByModel;
    // The download-mode switch, and which model trait says that its failure ends the download.
    RetriedCall modeSwitch;
    bool ModelTraits::*switchRequired;
    // Opening the download socket; the icon of message 57616 when it does not open.
    CallSetup open;
    Icon socketNotOpenedIcon;
    RetriedCall connection;
    RetriedCall erase;
    // The block transfer: the room a block may take, and whether it goes behind the IPX prefix.
    std::size_t blockLimit;
    bool prefixedBlocks;
    // Whether models that load over TCP/IP only have a main file to send.
    bool sendsTcpOnlyModels;
    // The finish step: its request (over IPX with the next sequence number before each
    // attempt), the reply that ends the attempts and the reply that completes the download.
    int finishAttempts;
    CallSetup finish;
    std::span<const std::uint8_t> finishRequest;
    bool finishSequenced;
    std::span<const std::uint8_t> finishAttemptAck;
    std::span<const std::uint8_t> finishAck;
    // The status line's texts from the confirmation, the erase and the transfer on.
    int statusModeSwitch;
    int statusErasing;
    int statusDownloading;
};

// The port of each version query over TCP/IP, and whether it keeps its reply between attempts.
constexpr std::uint16_t QueryPort(VersionQuery query) {
    return query == VersionQuery::kBramble ? payload::kBrambleQueryPort
                                           : payload::kVantrelQueryPort;
}
constexpr bool QueryKeepsReply(VersionQuery query) {
    return query == VersionQuery::kBramble;
}

inline constexpr TransportPolicy kTcpPolicy{
    .query = {3, {2, TAVDL_MODE_TCP_QUERY}, true},
    .queryByModel = true,
    .modeSwitch = {3, {5, TAVDL_MODE_TCP_QUERY, payload::kBrambleQueryPort}, true},
    .switchRequired = &ModelTraits::switchRequiredTcp,
    .open = {10, TAVDL_MODE_TCP_CONNECTION, payload::kDownloadPort},
    .socketNotOpenedIcon = Icon::Error,
    .connection = {5, {2, TAVDL_MODE_TCP_CONNECTION}, false},
    .erase = {3, {60, TAVDL_MODE_TCP_CONNECTION}, false},
    .blockLimit = kBlockBufferSize,
    .prefixedBlocks = false,
    .sendsTcpOnlyModels = true,
    .finishAttempts = 3,
    .finish = {2},
    .finishRequest = payload::kTcpFinishRequest,
    .finishSequenced = false,
    .finishAttemptAck = payload::kAck,
    .finishAck = payload::kTcpFinishAck,
    .statusModeSwitch = msg::kStatusModeSwitch,
    .statusErasing = msg::kStatusErasing,
    .statusDownloading = msg::kStatusDownloading,
};

inline constexpr TransportPolicy kIpxPolicy{
    .query = {5, {5}, false},
    .queryByModel = false,
    .modeSwitch = {5, {5, TAVDL_MODE_IPX, 0, payload::kIpxDownloadSocket}, true},
    .switchRequired = &ModelTraits::switchRequiredIpx,
    .open = {10},
    .socketNotOpenedIcon = Icon::Warning,
    .connection = {6, {10}, true},
    .erase = {3, {40}, false},
    .blockLimit = kIpxBlockLimit,
    .prefixedBlocks = true,
    .sendsTcpOnlyModels = false,
    .finishAttempts = 6,
    .finish = {10},
    .finishRequest = payload::kIpxFinishRequest,
    .finishSequenced = true,
    .finishAttemptAck = payload::kIpxFinishAck,
    .finishAck = payload::kIpxFinishAck,
    .statusModeSwitch = msg::kStatusModeSwitch,
    .statusErasing = msg::kStatusErasing,
    .statusDownloading = msg::kStatusDownloading,
};

// The version query a model takes under `policy` (over IPX every model takes Vantrel), and its
// step: over TCP/IP on the query's own port, the reply cleared after a failed attempt unless the
// query keeps it.
inline VersionQuery QueryOf(const TransportPolicy& policy, const ModelTraits& model) {
    return policy.queryByModel ? model.tcpQuery : VersionQuery::kVantrel;
}
inline RetriedCall QueryStep(const TransportPolicy& policy, VersionQuery query) {
    RetriedCall step = policy.query;
    if (policy.queryByModel) {
        step.setup.port = QueryPort(query);
        step.clearReplyAfterFailure = !QueryKeepsReply(query);
    }
    return step;
}

// The table of a transport.
inline const TransportPolicy& PolicyFor(bool ipx) {
    return ipx ? kIpxPolicy : kTcpPolicy;
}

}  // namespace vexil
