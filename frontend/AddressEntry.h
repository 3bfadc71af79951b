// The target address as the user enters it: the four IPv4 octet fields with their ranges, the
// IPX network and MAC address fields, what each field takes while the user types and the check
// made when an octet field is left. The windows and the command line share these, so an address
// is taken and refused the same way in all of them; the address read from the texts is the
// engine's (engine/TargetAddress.h).
#pragma once

#include <array>
#include <cstddef>
#include <string>
#include <string_view>

#include "engine/TargetAddress.h"

namespace vexil::address {

struct OctetRange {
    int minimum;
    int maximum;
};
// Octet 1 is a unicast class A to C network, octet 4 a host number.
inline constexpr std::array<OctetRange, kOctets> kOctetRanges{
    {{1, 223}, {0, 255}, {0, 255}, {1, 255}}};
inline constexpr std::size_t kOctetLength = 3;
inline constexpr std::string_view kOctetCharacters = "0123456789.";

// Octet `index` (0 to 3) held to its range: 0 when `value` lies in it, else the string number
// of the message (below the minimum, above the maximum); `bound` is then the bound crossed.
int RangeMessage(std::size_t index, double value, int& bound);

// What an octet field takes while the user types: its characters only, at most its length.
bool IsOctetText(std::string_view text);

// The check made when an octet field is left (or a download starts while it has the focus), on
// a text that is not empty: the value as the C library reads a number, held to the range of
// octet `index` (0 to 3). `message` is 0 or the refusal's string number, and `text` what the
// field then shows: the bound crossed, or the value rewritten as a whole number ("1.2" is 1).
struct HeldOctet {
    int message = 0;
    std::string text;
};
HeldOctet HoldOctet(std::size_t index, std::string_view text);

// The characters the hexadecimal fields refuse once typed letters are in upper case: G to Z
// and the printable ASCII punctuation. A refused text beeps and the last accepted one stays.
bool IsRefusedHexCharacter(char32_t c);
bool IsHexFieldText(std::u32string_view text);

// Whether the text consists of hexadecimal digits only (and is not empty).
bool IsHexText(std::string_view text);

}  // namespace vexil::address
