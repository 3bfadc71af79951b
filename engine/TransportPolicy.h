// Everything in which the TCP/IP and the IPX download sequences differ, one table per transport,
// so that the two can be read side by side: attempts, waits, what the target record carries for
// each call, message icons, when the reply buffer is cleared, the block prefix, the finish
// request, and the controls given back after a successful download.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "engine/DevicePayloads.h"
#include "engine/DialogPort.h"
#include "engine/DownloadFile.h"
#include "engine/ModelTable.h"
#include "resources/ResourceIds.h"
#include "tavdl/tavdl.h"

namespace vexil {

// What the sequence writes into the target record before a library call.
struct CallSetup {
    static constexpr int kKeep = -1;
    int waitSeconds;
    int mode = kKeep;             // kKeep: left as it is
    std::uint16_t port = 0;       // port of inetAddr; 0: left as it is
    std::uint16_t ipxSocket = 0;  // socket number of ipxAddr; 0: left as it is
};

// A step that calls the library up to `attempts` times, testing the cancel flag and setting up
// the record before each attempt.
struct RetriedCall {
    int attempts;
    CallSetup setup;
    bool clearReplyAfterFailure;  // zero-fill the reply buffer after each failed attempt
};

struct ControlChange {
    int id;
    bool enabled;
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
    // Controls given back after a successful download: [0] for most models, [1] for models
    // that load over TCP/IP only.
    std::span<const ControlChange> restoreOnSuccess[2];
};

// The input controls locked from the announcement on, over both transports.
inline constexpr int kLockedDuringDownload[] = {
    control::kModelList,  control::kModelLabel,   control::kBrowse,  control::kWebPage,
    control::kTcpCheck,   control::kIpxCheck,     control::kOctet1,  control::kOctet2,
    control::kOctet3,     control::kOctet4,       control::kIpLabel, control::kNetworkAddress,
    control::kMacAddress, control::kNetworkLabel, control::kMacLabel};

// The port of each version query over TCP/IP, and whether it keeps its reply between attempts.
constexpr std::uint16_t QueryPort(VersionQuery query) {
    return query == VersionQuery::kBramble ? payload::kBrambleQueryPort
                                           : payload::kVantrelQueryPort;
}
constexpr bool QueryKeepsReply(VersionQuery query) {
    return query == VersionQuery::kBramble;
}

inline constexpr ControlChange kTcpOnlyModelControls[] = {
    {control::kOctet1, true},    {control::kOctet2, true},    {control::kOctet3, true},
    {control::kOctet4, true},    {control::kModelList, true}, {control::kModelLabel, true},
    {control::kBrowse, true},    {control::kIpxCheck, false}, {control::kNetworkLabel, false},
    {control::kMacLabel, false}, {control::kTcpCheck, true},  {control::kIpLabel, true},
    {control::kWebPage, true}};
inline constexpr ControlChange kIpxControls[] = {
    {control::kNetworkAddress, true}, {control::kMacAddress, true}, {control::kModelList, true},
    {control::kModelLabel, true},     {control::kBrowse, true},     {control::kIpxCheck, true},
    {control::kNetworkLabel, true},   {control::kMacLabel, true},   {control::kTcpCheck, true},
    {control::kWebPage, true}};

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
    .restoreOnSuccess = {{}, kTcpOnlyModelControls},
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
    .restoreOnSuccess = {kIpxControls, kIpxControls},
};

// The table of the transport that the record's mode names.
inline const TransportPolicy& PolicyForMode(int mode) {
    return mode == TAVDL_MODE_IPX ? kIpxPolicy : kTcpPolicy;
}

}  // namespace vexil
