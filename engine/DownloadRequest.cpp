#include "engine/DownloadRequest.h"

#include <algorithm>

#include "engine/TargetAddress.h"
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

SumVerdict CheckSum(const std::vector<FileSum>& sums, std::string_view name,
                    std::string_view sha256) {
    SumVerdict verdict = SumVerdict::kNotListed;
    for (const FileSum& sum : sums) {
        if (sum.name == name) {
            if (sum.sha256 != sha256) {
                return SumVerdict::kOtherSum;
            }
            verdict = SumVerdict::kMatches;
        }
    }
    return verdict;
}

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

void SetAddressText(DownloadRequest& request, std::string_view text) {
    if (request.ipx) {
        const std::size_t colon = std::min(text.find(':'), text.size());
        request.network = text.substr(0, colon);
        request.mac = text.substr(std::min(colon + 1, text.size()));
        return;
    }
    std::size_t start = 0;
    for (std::string& octet : request.octets) {
        const std::size_t dot = std::min(text.find('.', start), text.size());
        octet = text.substr(start, dot - start);
        start = std::min(dot + 1, text.size());
    }
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

ConfirmationValues MakeConfirmation(const DownloadRequest& request,
                                    const std::string& deviceVersion,
                                    const std::string& fileVersion) {
    std::string target = request.mac;
    if (!request.ipx) {
        target = request.octets[0];
        for (std::size_t i = 1; i < request.octets.size(); ++i) {
            target += "." + request.octets[i];
        }
    }
    return {target, deviceVersion, fileVersion};
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
