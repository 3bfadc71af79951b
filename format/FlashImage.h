// A sparse image of a 24-bit (or wider) address space: what a download file writes, what the
// simulated print server keeps in its flash, what S-record text describes (SRecordText.h).
#pragma once

#include <bitset>
#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/Reason.h"

namespace vexil {

class FlashImage {
  public:
    void Write(std::uint32_t address, const std::uint8_t* data, std::size_t length);
    void Clear() { pages_.clear(); }

    struct Range {
        std::uint32_t address;
        std::vector<std::uint8_t> bytes;
    };
    // The written bytes as runs of consecutive addresses, lowest first.
    std::vector<Range> Ranges() const;
    // Lowest and highest written address; false when nothing is written.
    bool Bounds(std::uint32_t& lowest, std::uint32_t& highest) const;
    std::size_t WrittenBytes() const;
    // Whether any byte in [address, address + length) has been written.
    bool Overlaps(std::uint32_t address, std::size_t length) const;

    // Raw binary from the lowest written address to the highest, gaps filled with 0xFF.
    bool SaveBinary(const std::string& path, Reason& error) const;

  private:
    static constexpr std::uint32_t kPageSize = 4096;
    struct Page {
        std::uint8_t bytes[kPageSize];
        std::bitset<kPageSize> written;
    };
    std::map<std::uint32_t, std::unique_ptr<Page>> pages_;
};

}  // namespace vexil
