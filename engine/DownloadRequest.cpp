#include "engine/DownloadRequest.h"

#include <algorithm>

#include "engine/AddressEntry.h"
#include "engine/TargetRecord.h"
#include "resources/ResourceIds.h"

namespace vexil {

namespace {

address::IpEntry ReadOctets(const DownloadRequest& request) {
    std::array<std::string_view, address::kOctets> views;
    std::copy(request.octets.begin(), request.octets.end(), views.begin());
    return address::ReadIpAddress(views);
}

}  // namespace

int EntryRefusal(const DownloadRequest& request) {
    if (address::IsRefusedFirstOctet(request.octets[0])) {
        return msg::kFirstOctet127;
    }
    if (request.ipx) {
        return request.mac.size() == address::kMacLength ? 0 : msg::kMacAddressLength;
    }
    const address::IpEntry entry = ReadOctets(request);
    if (entry.message != 0) {
        return entry.message;
    }
    return entry.address == 0 ? kSilentRefusal : 0;
}

void FillTargetRecord(const DownloadRequest& request, TAVDL_ADDR& record) {
    record.modelIndex = request.modelIndex;
    if (request.ipx) {
        record.mode = TAVDL_MODE_IPX;
        std::array<std::uint8_t, 6> bytes{};
        address::HexTextToBytes(request.network, bytes);
        SetIpxNetwork(record, {bytes[0], bytes[1], bytes[2], bytes[3]});
        bytes.fill(0);
        address::HexTextToBytes(request.mac, bytes);
        SetIpxNode(record, bytes);
    } else {
        record.mode = TAVDL_MODE_TCP_QUERY;
        SetInetAddress(record, ReadOctets(request).address);
    }
}

int DownloadOutcome::FirstErrorMessage() const {
    const auto first = std::find_if(messages.begin(), messages.end(),
                                    [](const ShownMessage& m) { return m.icon == Icon::Error; });
    return first == messages.end() ? 0 : first->stringId;
}

int DownloadOutcome::LastMessage() const {
    return messages.empty() ? 0 : messages.back().stringId;
}

}  // namespace vexil
