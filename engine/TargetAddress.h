// The target address as a download request holds it, read into the target record: the four
// IPv4 octet texts, the IPX network number and MAC address as hexadecimal text, and the address
// checks the engine makes before anything is sent. What the front ends' fields take while the
// user types is theirs (frontend/AddressEntry.h).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace vexil::address {

inline constexpr std::size_t kOctets = 4;
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

// Six bytes from hexadecimal text, two digits a byte, upper or lower case; any other character
// counts as digit 0, a last odd digit and anything after the twelfth digit are ignored, and
// bytes the text does not reach are zero. Returns 0 for an empty text (`bytes` untouched), 1
// otherwise.
int HexTextToBytes(std::string_view text, std::array<std::uint8_t, 6>& bytes);

}  // namespace vexil::address
