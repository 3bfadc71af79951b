#include "engine/AddressEntry.h"

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

int RangeMessage(std::size_t index, double value, int& bound) {
    const OctetRange& range = kOctetRanges[index];
    if (value < range.minimum) {
        bound = range.minimum;
        return msg::kBelowMinimum;
    }
    if (value > range.maximum) {
        bound = range.maximum;
        return msg::kAboveMaximum;
    }
    return 0;
}

bool IsOctetText(std::string_view text) {
    return text.size() <= kOctetLength && text.find_first_not_of(kOctetCharacters) == text.npos;
}

HeldOctet HoldOctet(std::size_t index, std::string_view text) {
    const std::string copy(text);
    const double value = std::strtod(copy.c_str(), nullptr);
    int bound = 0;
    HeldOctet held;
    held.message = RangeMessage(index, value, bound);
    held.text = std::to_string(held.message != 0 ? bound : static_cast<int>(value));
    return held;
}

bool IsRefusedHexCharacter(char32_t c) {
    const bool punctuation = (c >= 0x21 && c <= 0x2F) || (c >= 0x3A && c <= 0x40) ||
                             (c >= 0x5B && c <= 0x60) || (c >= 0x7B && c <= 0x7E);
    return (c >= U'G' && c <= U'Z') || punctuation;
}

bool IsHexFieldText(std::u32string_view text) {
    return std::none_of(text.begin(), text.end(), IsRefusedHexCharacter);
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

bool IsHexText(std::string_view text) {
    return !text.empty() &&
           std::all_of(text.begin(), text.end(), [](char c) { return HexDigitValue(c) >= 0; });
}

}  // namespace vexil::address
