// The target address as the user enters it: the four IPv4 octet fields with their ranges, the
// IPX network and MAC address fields, the download command's checks on their texts with the
// message each refusal shows, and the hexadecimal text to bytes conversion. The window and the
// command line share these, so an address is refused the same way in both.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace vexil::address {

struct OctetRange {
    int minimum;
    int maximum;
};
inline constexpr std::size_t kOctets = 4;
// Octet 1 is a unicast class A to C network, octet 4 a host number.
inline constexpr std::array<OctetRange, kOctets> kOctetRanges{
    {{1, 223}, {0, 255}, {0, 255}, {1, 255}}};
inline constexpr std::size_t kOctetLength = 3;
inline constexpr std::string_view kOctetCharacters = "0123456789.";
inline constexpr std::size_t kNetworkLength = 8;
inline constexpr std::size_t kMacLength = 12;

// The download command's first test, made on octet 1's text whatever the transport: a loopback
// address never reaches a print server.
bool IsRefusedFirstOctet(std::string_view text);

// The value of an octet's text as the C library reads a decimal number: leading blanks, a sign,
// digits up to the first other character; 0 without digits.
long DecimalValue(std::string_view text);

// Reads the four octet texts into an address, first octet in the lowest byte (network byte
// order when stored as it is). `message` is 0, or the refusal's string number (an empty octet,
// a first octet of exactly "0"); an address of four zero bytes is refused without a message.
struct IpEntry {
    int message = 0;
    std::uint32_t address = 0;
};
IpEntry ReadIpAddress(const std::array<std::string_view, kOctets>& texts);

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

// Six bytes from hexadecimal text, two digits a byte, upper or lower case; any other character
// counts as digit 0, a last odd digit and anything after the twelfth digit are ignored, and
// bytes the text does not reach are zero. Returns 0 for an empty text (`bytes` untouched), 1
// otherwise.
int HexTextToBytes(std::string_view text, std::array<std::uint8_t, 6>& bytes);

// Whether the text consists of hexadecimal digits only (and is not empty).
bool IsHexText(std::string_view text);

}  // namespace vexil::address
