#include "tools/sim/PrintServer.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "format/RecordCodec.h"
#include "protocol/Wire.h"
#include "resources/Reasons.h"
#include "tools/sim/PrintServerPayloads.h"

namespace vexil::sim {

namespace {

namespace wire = tavdl::wire;
using Bytes = std::vector<std::uint8_t>;

const char* Name(Via via) {
    switch (via) {
        case Via::kUdp:
            return "udp";
        case Via::kTcp:
            return "tcp";
        case Via::kIpx:
            return "ipx";
    }
    return "";
}

Clock::duration IdleLimit(const Options& options) {
    return std::chrono::duration_cast<Clock::duration>(
        std::chrono::duration<double>(options.idleSeconds));
}

template <std::size_t N>
Bytes ToBytes(const std::array<std::uint8_t, N>& bytes) {
    return Bytes(bytes.begin(), bytes.end());
}

}  // namespace

PrintServer::PrintServer(const Options& options, const SimLog& log)
    : o_(options), log_(log), faults_(options), version_{options.version[0], options.version[1]} {}

bool PrintServer::Busy(const Client& client) {
    if (!owner_) {
        return false;
    }
    if (*owner_ == client.id) {
        return false;
    }
    if (client.at > ownerUntil_) {
        log_.Note(
            "the running download's client has been silent too long: its download ends, "
            "and the print server leaves download mode");
        EndDownload();
        return false;
    }
    return true;
}

bool PrintServer::MayFinish(const Client& client) const {
    return owner_ == client.id && switchAsked_ && connected_ && erased_;
}

void PrintServer::EndDownload() {
    owner_.reset();
    connected_ = false;
    switchAsked_ = false;
    erased_ = false;
}

void PrintServer::Leave(std::uint64_t client) {
    if (owner_ == client) {
        log_.Note("the running download's client left: its download ends");
        EndDownload();
    }
}

std::optional<Reply> PrintServer::Handle(std::uint8_t type, const std::uint8_t* data,
                                         std::size_t length, Via via, Client client) {
    const char* name = Name(via);
    const bool sessionRequest = type == wire::kConnect || type == wire::kErase ||
                                type == wire::kData || type == wire::kFinish;
    const bool query =
        type == wire::kVantrelVersion || type == wire::kBrambleVersion || type == wire::kJampEprom;
    // A client's queries and its download connection come from sockets of their own, so after
    // a mode switch the first connection accepted takes the download over.
    const bool takesOver = type == wire::kConnect && owner_ && !connected_;
    const auto refusedFinish = [via] {
        return Reply{
            1, via == Via::kIpx ? ToBytes(payload::kIpxFinishNak) : ToBytes(payload::kTcpFinishNak),
            0};
    };
    if ((sessionRequest || query) && !takesOver && Busy(client)) {
        if (query) {
            // In download mode the print server runs its loader, which knows no version query
            // and no mode switch: another client hears nothing, and stops there, before it
            // could erase anything.
            log_.Note("%s request type 0x%02x not answered: in download mode for another client",
                      name, type);
            return std::nullopt;
        }
        // A busy device refuses a second download: it touches neither the flash nor the running
        // download's block count.
        log_.Note("%s request type 0x%02x refused: another client's download runs", name, type);
        if (type == wire::kData) {
            return Reply{1, {}, 0};
        }
        if (type == wire::kFinish) {
            return refusedFinish();
        }
        return Reply{1, {0x01}, 0};
    }
    if (type == wire::kFinish && !MayFinish(client)) {
        // Nothing was downloaded that a finish could end: the flash is neither written out nor
        // counted as a finished download.
        log_.Note(
            "%s finish refused: no download of this client has come through the mode switch, "
            "the connection and the erase",
            name);
        return refusedFinish();
    }
    if (type == wire::kJampEprom) {
        switchAsked_ = true;
    }
    std::optional<Reply> reply = HandleRequest(type, data, length, via, name);
    const bool taken = reply && reply->status == 0;
    if (taken && (type == wire::kConnect || (type == wire::kJampEprom && !owner_))) {
        owner_ = client.id;
        connected_ = type == wire::kConnect;
        ownerUntil_ = client.at;
    }
    if (taken && type == wire::kConnect) {
        erased_ = false;
    }
    if (taken && type == wire::kErase && owner_ == client.id && connected_) {
        erased_ = true;
    }
    if ((sessionRequest || type == wire::kJampEprom) && owner_ == client.id) {
        // The client counts as present for the idle time after its request, or after the
        // reply that is held back for it.
        const auto heldBack = std::chrono::milliseconds(reply ? reply->delayMs : 0);
        ownerUntil_ = std::max(ownerUntil_, client.at + heldBack + IdleLimit(o_));
    }
    return reply;
}

std::optional<Reply> PrintServer::HandleRequest(std::uint8_t type, const std::uint8_t* data,
                                                std::size_t length, Via via, const char* name) {
    switch (type) {
        case wire::kVantrelVersion:
        case wire::kBrambleVersion: {
            const bool bramble = type == wire::kBrambleVersion;
            if (o_.noVersionReply) {
                log_.Note("%s %s version query: not answered (fault)", name,
                          bramble ? "Bramble" : "Vantrel");
                return std::nullopt;
            }
            log_.Note("%s %s version query: model %02x%02x, firmware %x.%02x%s", name,
                      bramble ? "Bramble" : "Vantrel", o_.modelCode[0], o_.modelCode[1],
                      version_[0], version_[1],
                      o_.badVersionReply ? " (invalid reply, fault)" : "");
            const auto reply =
                payload::VersionReply(bramble ? VersionQuery::kBramble : VersionQuery::kVantrel,
                                      o_.modelCode, version_, !o_.badVersionReply);
            return Reply{0, ToBytes(reply), 0};
        }
        case wire::kJampEprom:
            if (faults_.Take(Fault::kIgnoreModeSwitch)) {
                log_.Note("%s download-mode switch: not answered (fault)", name);
                return std::nullopt;
            }
            if (faults_.Take(Fault::kRefuseModeSwitch)) {
                log_.Note("%s download-mode switch: refused (fault)", name);
                return Reply{1, {0x01}, 0};
            }
            log_.Note("%s download-mode switch: in download mode", name);
            return Reply{0, {0x00}, 0};
        case wire::kConnect:
            if (faults_.Take(Fault::kRefuseConnection)) {
                log_.Note("%s download connection: refused (fault)", name);
                return Reply{1, {0x01}, 0};
            }
            log_.Note("%s download connection: accepted", name);
            return Reply{0, {0x00}, 0};
        case wire::kErase: {
            if (faults_.Take(Fault::kFailErase)) {
                log_.Note("%s erase: failed (fault)", name);
                return Reply{1, {0x01}, 0};
            }
            flash_.Clear();
            blockNumber_ = 0;
            lastBlock_.clear();
            lastSequence_ = -1;
            lastApplied_ = false;
            blocksApplied_ = 0;
            identSeen_ = false;
            imageVersion_.reset();
            const int delay = static_cast<int>(o_.eraseSeconds * 1000);
            log_.Note("%s erase: flash erased%s", name, delay > 0 ? " (slowly)" : "");
            return Reply{0, {0x00}, delay};
        }
        case wire::kData:
            return HandleData(data, length, via == Via::kIpx);
        case wire::kFinish:
            return HandleFinish(data, length, via == Via::kIpx);
        default:
            log_.Note("%s unknown request type 0x%02x ignored", name, type);
            return std::nullopt;
    }
}

std::optional<Reply> PrintServer::HandleData(const std::uint8_t* data, std::size_t length,
                                             bool ipx) {
    const char* via = ipx ? "ipx" : "tcp";
    int sequence = -1;
    const std::uint8_t* block = data;
    std::size_t blockLength = length;
    if (ipx) {
        if (!payload::HasIpxPrefix(data, length)) {
            log_.Note("%s data without the block prefix: not acknowledged", via);
            return Reply{0, payload::BlockReply(true, false, 0), 0};
        }
        sequence = payload::IpxSequence(data);
        block += payload::kIpxPrefixSize;
        blockLength -= payload::kIpxPrefixSize;
    }
    // The same block again (same sequence number over IPX, same bytes over TCP) is a resend.
    const bool resend =
        ipx ? sequence == lastSequence_
            : std::equal(block, block + blockLength, lastBlock_.begin(), lastBlock_.end());
    if (!resend) {
        ++blockNumber_;
        lastSequence_ = sequence;
        lastBlock_.assign(block, block + blockLength);
        lastApplied_ = false;
    }
    const auto echoed = static_cast<std::uint16_t>(ipx ? sequence : 0);
    const int k = blockNumber_;
    if (faults_.Take(BlockFault::kRefuse, k)) {
        log_.Note("%s block %d (%llu bytes): refused (fault)", via, k, Count(blockLength));
        return Reply{1, {}, 0};
    }
    if (faults_.Take(BlockFault::kDrop, k)) {
        log_.Note("%s block %d (%llu bytes): not answered (fault)", via, k, Count(blockLength));
        return std::nullopt;
    }
    const int delay = faults_.Take(BlockFault::kLate, k) ? o_.lateMs : 0;
    if (faults_.Take(BlockFault::kNak, k)) {
        log_.Note("%s block %d (%llu bytes): answered without acknowledgement%s (fault)", via, k,
                  Count(blockLength), delay ? ", late" : "");
        return Reply{0, payload::BlockReply(ipx, false, echoed), delay};
    }
    std::vector<record::BlockRecord> records;
    bool end = false;
    if (const int check = record::ParseBlock(block, blockLength, records, end); check != 0) {
        log_.Note("%s block %d (%llu bytes): %s, not acknowledged", via, k, Count(blockLength),
                  check == -2 ? "checksum error" : "malformed records");
        return Reply{0, payload::BlockReply(ipx, false, echoed), 0};
    }
    if (!lastApplied_) {
        for (const record::BlockRecord& record : records) {
            if (record.type == record::kDataType) {
                flash_.Write(record.address, record.data, record.dataLength);
                if (!identSeen_ && record::IsIdentAddress(record.address)) {
                    // As the program identifies a file: model code, then the version's two bytes.
                    identSeen_ = true;
                    if (record.dataLength >= 4) {
                        imageVersion_ = std::array{record.data[2], record.data[3]};
                    }
                }
            }
        }
        lastApplied_ = true;
        ++blocksApplied_;
    }
    if (ipx) {
        log_.Note("ipx block %d seq 0x%04x (%llu bytes, %llu records)%s: acknowledged%s", k,
                  sequence, Count(blockLength), Count(records.size()), resend ? ", a resend" : "",
                  delay ? " late (fault)" : "");
    } else {
        log_.Note("tcp block %d (%llu bytes, %llu records)%s: acknowledged%s", k,
                  Count(blockLength), Count(records.size()), resend ? ", a resend" : "",
                  delay ? " late (fault)" : "");
    }
    return Reply{0, payload::BlockReply(ipx, true, echoed), delay};
}

std::optional<Reply> PrintServer::HandleFinish(const std::uint8_t* data, std::size_t length,
                                               bool ipx) {
    const char* via = ipx ? "ipx" : "tcp";
    const Bytes nak = ipx ? ToBytes(payload::kIpxFinishNak) : ToBytes(payload::kTcpFinishNak);
    if (!payload::IsFinishRequest(data, length, ipx)) {
        log_.Note("%s finish request malformed: not acknowledged", via);
        return Reply{0, nak, 0};
    }
    if (o_.badFinish) {
        log_.Note("%s finish: answered without acknowledgement (fault)", via);
        return Reply{0, nak, 0};
    }
    std::uint32_t low = 0;
    std::uint32_t high = 0;
    const bool any = flash_.Bounds(low, high);
    std::string saved = "not saved (no --flash)";
    if (!o_.flashFile.empty()) {
        Reason error;
        saved = flash_.SaveBinary(o_.flashFile, error) ? "saved to " + o_.flashFile : Words(error);
    }
    log_.Always("download finished over %s: %llu blocks, %llu data bytes, %s%06X-%06X, %s",
                ipx ? "IPX" : "TCP/IP", Count(blocksApplied_), Count(flash_.WrittenBytes()),
                any ? "0x" : "none ", any ? low : 0, any ? high : 0, saved.c_str());
    if (imageVersion_ && !o_.keepVersion) {
        version_[0] = (*imageVersion_)[0];
        version_[1] = (*imageVersion_)[1];
        log_.Note(
            "the image's identification record says firmware %x.%02x: the version replies "
            "carry it from now on, as after a power reset",
            version_[0], version_[1]);
    }
    finished_ = true;
    EndDownload();  // the download is over; the next client may start one
    return Reply{0, ipx ? ToBytes(payload::kIpxFinishAck) : ToBytes(payload::kTcpFinishAck), 0};
}

std::optional<Outgoing> PrintServer::AnswerDatagram(Door door, const std::uint8_t* in,
                                                    std::size_t size, Client client) {
    const bool ipx = door == Door::kTunnel;
    wire::Message request;
    wire::IpxAddress to{};
    wire::IpxAddress from{};
    if (!wire::DecodeDatagram(ipx ? wire::Framing::kIpx : wire::Framing::kDatagram, in, size,
                              request, &to, &from)) {
        log_.Note("%s datagram of %llu bytes ignored%s", ipx ? "ipx" : "udp", Count(size),
                  ipx ? ": not an IPX packet of ours" : "");
        return std::nullopt;
    }
    const wire::IpxAddress self{
        {o_.network[0], o_.network[1], o_.network[2], o_.network[3]},
        {o_.node[0], o_.node[1], o_.node[2], o_.node[3], o_.node[4], o_.node[5]},
        wire::kPrintServerIpxSocket};
    if (ipx && (std::memcmp(to.network, self.network, 4) != 0 ||
                std::memcmp(to.node, self.node, 6) != 0 || to.socket != self.socket)) {
        log_.Note(
            "ipx packet for %02X%02X%02X%02X:%02X%02X%02X%02X%02X%02X socket 0x%04X ignored: "
            "not this card",
            to.network[0], to.network[1], to.network[2], to.network[3], to.node[0], to.node[1],
            to.node[2], to.node[3], to.node[4], to.node[5], to.socket);
        return std::nullopt;
    }
    // The Vantrel port takes its query; the Bramble port its query and the mode switch.
    const bool fits = door == Door::kTunnel ||
                      (door == Door::kVantrelPort ? request.type == wire::kVantrelVersion
                                                  : (request.type == wire::kBrambleVersion ||
                                                     request.type == wire::kJampEprom));
    if (!fits) {
        log_.Note("udp request type 0x%02x on the wrong port ignored", request.type);
        return std::nullopt;
    }
    const auto reply =
        Handle(request.type, request.data, request.length, ipx ? Via::kIpx : Via::kUdp, client);
    if (!reply) {
        return std::nullopt;
    }
    Outgoing out{std::vector<std::uint8_t>(wire::kMaxFrame), reply->delayMs};
    out.bytes.resize(wire::EncodeFrame(
        ipx ? wire::Framing::kIpx : wire::Framing::kDatagram,
        wire::ReplyTo(request, reply->status, reply->data.data(), reply->data.size()),
        out.bytes.data(), &from, &self));
    return out;
}

bool PrintServer::AnswerStream(wire::StreamReader& stream, const std::uint8_t* in, std::size_t size,
                               Client client, std::vector<Outgoing>& out) {
    stream.Append(in, size);
    for (;;) {
        wire::Message request;
        const auto next = stream.Next(request);
        if (next == wire::StreamReader::Result::kNeedMore) {
            return true;
        }
        if (next == wire::StreamReader::Result::kGarbled) {
            log_.Note("tcp message of garbled length: connection closed");
            return false;
        }
        const auto reply = Handle(request.type, request.data, request.length, Via::kTcp, client);
        if (!reply) {
            continue;
        }
        Outgoing& answer =
            out.emplace_back(Outgoing{std::vector<std::uint8_t>(wire::kMaxFrame), reply->delayMs});
        answer.bytes.resize(wire::EncodeFrame(
            wire::Framing::kStream,
            wire::ReplyTo(request, reply->status, reply->data.data(), reply->data.size()),
            answer.bytes.data()));
        if (request.type == wire::kConnect && reply->status != 0) {
            return false;  // a refused connection is closed after its answer
        }
    }
}

}  // namespace vexil::sim
