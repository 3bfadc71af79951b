#include "tools/sim/PrintServer.h"

#include <algorithm>
#include <string>

#include "engine/DevicePayloads.h"
#include "engine/RecordCodec.h"
#include "tavdl/TavdlWire.h"

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

template <std::size_t N>
Bytes ToBytes(const std::array<std::uint8_t, N>& bytes) {
    return Bytes(bytes.begin(), bytes.end());
}

}  // namespace

PrintServer::PrintServer(const Options& options, const SimLog& log)
    : o_(options), log_(log), faults_(options) {}

std::optional<Reply> PrintServer::Handle(std::uint8_t type, const std::uint8_t* data,
                                         std::size_t length, Via via) {
    const char* name = Name(via);
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
                      o_.version[0], o_.version[1],
                      o_.badVersionReply ? " (invalid reply, fault)" : "");
            const auto reply =
                payload::VersionReply(bramble ? VersionQuery::kBramble : VersionQuery::kVantrel,
                                      o_.modelCode, o_.version, !o_.badVersionReply);
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
        log_.Note("%s block %d (%zu bytes): refused (fault)", via, k, blockLength);
        return Reply{1, {}, 0};
    }
    if (faults_.Take(BlockFault::kDrop, k)) {
        log_.Note("%s block %d (%zu bytes): not answered (fault)", via, k, blockLength);
        return std::nullopt;
    }
    const int delay = faults_.Take(BlockFault::kLate, k) ? o_.lateMs : 0;
    if (faults_.Take(BlockFault::kNak, k)) {
        log_.Note("%s block %d (%zu bytes): answered without acknowledgement%s (fault)", via, k,
                  blockLength, delay ? ", late" : "");
        return Reply{0, payload::BlockReply(ipx, false, echoed), delay};
    }
    std::vector<record::BlockRecord> records;
    bool end = false;
    if (const int check = record::ParseBlock(block, blockLength, records, end); check != 0) {
        log_.Note("%s block %d (%zu bytes): %s, not acknowledged", via, k, blockLength,
                  check == -2 ? "checksum error" : "malformed records");
        return Reply{0, payload::BlockReply(ipx, false, echoed), 0};
    }
    if (!lastApplied_) {
        for (const record::BlockRecord& record : records) {
            if (record.type == record::kDataType) {
                flash_.Write(record.address, record.data, record.dataLength);
            }
        }
        lastApplied_ = true;
        ++blocksApplied_;
    }
    if (ipx) {
        log_.Note("ipx block %d seq 0x%04x (%zu bytes, %zu records)%s: acknowledged%s", k, sequence,
                  blockLength, records.size(), resend ? ", a resend" : "",
                  delay ? " late (fault)" : "");
    } else {
        log_.Note("tcp block %d (%zu bytes, %zu records)%s: acknowledged%s", k, blockLength,
                  records.size(), resend ? ", a resend" : "", delay ? " late (fault)" : "");
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
        std::string error;
        saved = flash_.SaveBinary(o_.flashFile, error) ? "saved to " + o_.flashFile : error;
    }
    log_.Always("download finished over %s: %zu blocks, %zu data bytes, %s%06X-%06X, %s",
                ipx ? "IPX" : "TCP/IP", blocksApplied_, flash_.WrittenBytes(), any ? "0x" : "none ",
                any ? low : 0, any ? high : 0, saved.c_str());
    finished_ = true;
    return Reply{0, ipx ? ToBytes(payload::kIpxFinishAck) : ToBytes(payload::kTcpFinishAck), 0};
}

}  // namespace vexil::sim
