#include "engine/TargetRecord.h"

#include <algorithm>
#include <atomic>
#include <cstring>

#include "engine/Transport.h"

namespace vexil {

namespace {

std::uint8_t* Bytes(TAVDL_ADDR& record) {
    return reinterpret_cast<std::uint8_t*>(&record);
}
const std::uint8_t* Bytes(const TAVDL_ADDR& record) {
    return reinterpret_cast<const std::uint8_t*>(&record);
}

void PutBigEndian16(TAVDL_ADDR& record, std::size_t offset, std::uint16_t value) {
    Bytes(record)[offset] = static_cast<std::uint8_t>(value >> 8);
    Bytes(record)[offset + 1] = static_cast<std::uint8_t>(value & 0xFF);
}

std::uint16_t GetBigEndian16(const TAVDL_ADDR& record, std::size_t offset) {
    return static_cast<std::uint16_t>((Bytes(record)[offset] << 8) | Bytes(record)[offset + 1]);
}

void PutLittleEndian16(TAVDL_ADDR& record, std::size_t offset, std::uint16_t value) {
    Bytes(record)[offset] = static_cast<std::uint8_t>(value & 0xFF);
    Bytes(record)[offset + 1] = static_cast<std::uint8_t>(value >> 8);
}

template <std::size_t N>
void PutBytes(TAVDL_ADDR& record, std::size_t offset, const std::array<std::uint8_t, N>& bytes) {
    std::memcpy(Bytes(record) + offset, bytes.data(), N);
}

template <std::size_t N>
std::array<std::uint8_t, N> GetBytes(const TAVDL_ADDR& record, std::size_t offset) {
    std::array<std::uint8_t, N> bytes{};
    std::memcpy(bytes.data(), Bytes(record) + offset, N);
    return bytes;
}

// Records may be made and freed on several threads at once (a library test drives three downloads
// side by side), so the count is atomic.
std::atomic<int> g_liveRecords{0};

}  // namespace

void TargetRecordDeleter::operator()(TAVDL_ADDR* record) const {
    --g_liveRecords;
    delete record;
}

int LiveTargetRecords() {
    return g_liveRecords;
}

TargetRecordPtr CreateTargetRecord() {
    TargetRecordPtr record(new TAVDL_ADDR);
    ++g_liveRecords;
    std::memset(record.get(), 0, sizeof(TAVDL_ADDR));
    PutLittleEndian16(*record, kInetFamilyOffset, kFamilyInet);
    PutLittleEndian16(*record, kIpxFamilyOffset, kFamilyIpx);
    record->reserved = 0;
    return record;
}

void SetInetPort(TAVDL_ADDR& record, std::uint16_t port) {
    PutBigEndian16(record, kInetPortOffset, port);
}
std::uint16_t InetPort(const TAVDL_ADDR& record) {
    return GetBigEndian16(record, kInetPortOffset);
}
void SetInetAddress(TAVDL_ADDR& record, std::uint32_t address) {
    PutBytes(record, kInetAddressOffset,
             std::array<std::uint8_t, 4>{static_cast<std::uint8_t>(address),
                                         static_cast<std::uint8_t>(address >> 8),
                                         static_cast<std::uint8_t>(address >> 16),
                                         static_cast<std::uint8_t>(address >> 24)});
}
std::array<std::uint8_t, 4> InetAddress(const TAVDL_ADDR& record) {
    return GetBytes<4>(record, kInetAddressOffset);
}

void SetIpxSocket(TAVDL_ADDR& record, std::uint16_t socket) {
    PutBigEndian16(record, kIpxSocketOffset, socket);
}
std::uint16_t IpxSocket(const TAVDL_ADDR& record) {
    return GetBigEndian16(record, kIpxSocketOffset);
}
void SetIpxNetwork(TAVDL_ADDR& record, const std::array<std::uint8_t, 4>& network) {
    PutBytes(record, kIpxNetworkOffset, network);
}
std::array<std::uint8_t, 4> IpxNetwork(const TAVDL_ADDR& record) {
    return GetBytes<4>(record, kIpxNetworkOffset);
}
void SetIpxNode(TAVDL_ADDR& record, const std::array<std::uint8_t, 6>& node) {
    PutBytes(record, kIpxNodeOffset, node);
}
std::array<std::uint8_t, 6> IpxNode(const TAVDL_ADDR& record) {
    return GetBytes<6>(record, kIpxNodeOffset);
}

std::string ModelCode(const TAVDL_ADDR& record) {
    const char* code = record.modelCode;
    return std::string(code, std::find(code, code + sizeof record.modelCode, '\0'));
}

void SetModelCode(TAVDL_ADDR& record, const char* code) {
    std::memcpy(record.modelCode, code, sizeof record.modelCode);
}

void ApplyCallSetup(TAVDL_ADDR& target, const CallSetup& setup) {
    target.waitSeconds = setup.waitSeconds;
    if (setup.mode != CallSetup::kKeep) {
        target.mode = setup.mode;
    }
    if (setup.port != 0) {
        SetInetPort(target, setup.port);
    }
    if (setup.ipxSocket != 0) {
        SetIpxSocket(target, setup.ipxSocket);
    }
}

}  // namespace vexil
