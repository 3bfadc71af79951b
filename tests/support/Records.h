// Download-file contents for tests, built record by record with the program's own record
// encoder, and read back block by block as the transfer reads them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vexil::test {

using Bytes = std::vector<std::uint8_t>;

// A data record: 'S' '2' count, 24-bit address, data, checksum, line feed.
Bytes DataRecord(std::uint32_t address, const Bytes& data);
// The same with `dataCount` data bytes of value `fill`.
Bytes DataRecord(std::uint32_t address, std::size_t dataCount, std::uint8_t fill = 0x5A);
Bytes HeaderRecord();
// The end record's head: the reader reads nothing of an end record past it.
Bytes EndRecord();
Bytes Join(const std::vector<Bytes>& parts);

// The worked example of the format, written out by hand: 53 32 0C 00 88 00 AA 01 01 10 00 00
// 00 00 AF 0A is one data record of count 12 at 0x008800 with the eight data bytes AA 01 01 10
// 00 00 00 00 (model code aa01, version 01.10), checksum 0xAF (the ones' complement of 0x50)
// and its line feed; in a block it takes 15 bytes.
extern const Bytes kWorkedExample;

// The blocks of a sound download file as the reader gives them, for `capacity` (512 for TCP/IP,
// 504 for IPX); reading stops at the end record or at the reader's first failure.
std::vector<Bytes> FileBlocks(const std::string& path, std::size_t capacity = 512);

}  // namespace vexil::test
