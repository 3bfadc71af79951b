// The target record handed to every transport call, and the few operations the program needs
// on it. The layout is fixed byte for byte, because the transport library reads it as bytes.
#pragma once

#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "tavdl/tavdl.h"

static_assert(std::endian::native == std::endian::little,
              "TAVDL_ADDR's integer fields are little-endian");
static_assert(sizeof(TAVDL_ADDR) == 176);
static_assert(offsetof(TAVDL_ADDR, mode) == 0);
static_assert(offsetof(TAVDL_ADDR, waitSeconds) == 4);
static_assert(offsetof(TAVDL_ADDR, reserved) == 8);
static_assert(offsetof(TAVDL_ADDR, inetAddr) == 12);
static_assert(offsetof(TAVDL_ADDR, ipxAddr) == 28);
static_assert(offsetof(TAVDL_ADDR, modelIndex) == 108);
static_assert(offsetof(TAVDL_ADDR, modelCode) == 112);

namespace vexil {

// Byte offsets inside the record that the fields below it address.
inline constexpr std::size_t kInetFamilyOffset = 12;
inline constexpr std::size_t kInetPortOffset = 14;
inline constexpr std::size_t kInetAddressOffset = 16;
inline constexpr std::size_t kIpxFamilyOffset = 28;
inline constexpr std::size_t kIpxNetworkOffset = 30;
inline constexpr std::size_t kIpxNodeOffset = 34;
inline constexpr std::size_t kIpxSocketOffset = 40;

static_assert(offsetof(TAVDL_ADDR, inetAddr) + 2 == kInetPortOffset);
static_assert(offsetof(TAVDL_ADDR, inetAddr) + 4 == kInetAddressOffset);
static_assert(offsetof(TAVDL_ADDR, ipxAddr) + 2 == kIpxNetworkOffset);
static_assert(offsetof(TAVDL_ADDR, ipxAddr) + 6 == kIpxNodeOffset);
static_assert(offsetof(TAVDL_ADDR, ipxAddr) + 12 == kIpxSocketOffset);

inline constexpr std::uint16_t kFamilyInet = 2;
inline constexpr std::uint16_t kFamilyIpx = 6;

struct TargetRecordDeleter {
    void operator()(TAVDL_ADDR* record) const;
};
// How many target records exist right now; the main dialog owns exactly one while it lives.
int LiveTargetRecords();
using TargetRecordPtr = std::unique_ptr<TAVDL_ADDR, TargetRecordDeleter>;

// A new record as the main dialog makes it: all zero, then the two address families written.
TargetRecordPtr CreateTargetRecord();

// Port of inetAddr, written and read in network byte order.
void SetInetPort(TAVDL_ADDR& record, std::uint16_t port);
std::uint16_t InetPort(const TAVDL_ADDR& record);
// An IPv4 address as the main dialog reads it: one 32-bit value whose lowest byte is the first
// octet, so that the value stored unchanged on the little-endian platform lies in network
// byte order.
constexpr std::uint32_t Ipv4Address(std::uint8_t first, std::uint8_t second, std::uint8_t third,
                                    std::uint8_t fourth) {
    return first | (std::uint32_t{second} << 8) | (std::uint32_t{third} << 16) |
           (std::uint32_t{fourth} << 24);
}
// Writes such a value into inetAddr, first octet first; InetAddress reads the four octets back.
void SetInetAddress(TAVDL_ADDR& record, std::uint32_t address);
std::array<std::uint8_t, 4> InetAddress(const TAVDL_ADDR& record);
// The expected model code, up to its NUL (all five bytes when there is none); SetModelCode writes
// a code of four characters and its NUL.
std::string ModelCode(const TAVDL_ADDR& record);
void SetModelCode(TAVDL_ADDR& record, const char* code);

// IPX socket number, written and read in network byte order.
void SetIpxSocket(TAVDL_ADDR& record, std::uint16_t socket);
std::uint16_t IpxSocket(const TAVDL_ADDR& record);
void SetIpxNetwork(TAVDL_ADDR& record, const std::array<std::uint8_t, 4>& network);
std::array<std::uint8_t, 4> IpxNetwork(const TAVDL_ADDR& record);
void SetIpxNode(TAVDL_ADDR& record, const std::array<std::uint8_t, 6>& node);
std::array<std::uint8_t, 6> IpxNode(const TAVDL_ADDR& record);

}  // namespace vexil
