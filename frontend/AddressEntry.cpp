#include "frontend/AddressEntry.h"

#include <algorithm>
#include <string>

#include "format/HexText.h"
#include "resources/ResourceIds.h"

namespace vexil::address {

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

bool IsHexText(std::string_view text) {
    return !text.empty() &&
           std::all_of(text.begin(), text.end(), [](char c) { return HexDigitValue(c) >= 0; });
}

}  // namespace vexil::address
