#include "engine/TargetAddress.h"

#include <algorithm>
#include <cstdlib>
#include <string>

#include "format/HexText.h"
#include "resources/ResourceIds.h"

namespace vexil::address {

bool IsRefusedFirstOctet(std::string_view text) {
    return text == "127";
}

long DecimalValue(std::string_view text) {
    const std::string copy(text);
    return std::strtol(copy.c_str(), nullptr, 10);
}

IpEntry ReadIpAddress(const std::array<std::string_view, kOctets>& texts) {
    IpEntry entry;
    if (texts[0].empty()) {
        entry.message = msg::kIpAddressEmpty;
        return entry;
    }
    if (texts[0] == "0") {
        entry.message = msg::kFirstOctetZero;
        return entry;
    }
    for (std::size_t i = 0; i < kOctets; ++i) {
        if (texts[i].empty()) {
            entry.message = msg::kIpAddressEmpty;
            entry.address = 0;
            return entry;
        }
        entry.address |= (static_cast<std::uint32_t>(DecimalValue(texts[i])) & 0xFF) << (8 * i);
    }
    return entry;
}

int HexTextToBytes(std::string_view text, std::array<std::uint8_t, 6>& bytes) {
    if (text.empty()) {
        return 0;
    }
    const std::size_t pairs = std::min<std::size_t>(text.size() / 2, bytes.size());
    bytes.fill(0);
    for (std::size_t i = 0; i < pairs; ++i) {
        const int high = std::max(HexDigitValue(text[2 * i]), 0);
        const int low = std::max(HexDigitValue(text[2 * i + 1]), 0);
        bytes[i] = static_cast<std::uint8_t>(high * 16 + low);
    }
    return 1;
}

}  // namespace vexil::address
