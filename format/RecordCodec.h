// The download file's records, encoded and decoded in one place. Every record begins with a
// three-byte head: a mark (the letter of an S-record, never examined), the type character and
// a count. A header record ("0") is its head alone; a data record ("2") is followed by its
// count of bytes (a 24-bit address, the data and a checksum) and a line feed; an end record
// ("8") ends the image. In a block, records lie end to end without their line feeds.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

namespace vexil::record {

inline constexpr std::size_t kHeadSize = 3;
inline constexpr std::uint8_t kMark = 'S';
inline constexpr std::uint8_t kHeaderType = '0';
inline constexpr std::uint8_t kDataType = '2';
inline constexpr std::uint8_t kEndType = '8';
inline constexpr std::uint8_t kLineFeed = 0x0A;
inline constexpr std::size_t kAddressSize = 3;
// The highest address three address bytes can name. A data record whose data runs past it is
// malformed wherever the file is read: a print server with 24-bit addresses would write the bytes
// beyond it from address 0 on, over its boot code, and vexil-file builds no such image.
inline constexpr std::uint32_t kHighestAddress = 0xFFFFFF;
// The identification record is the first data record at one of these addresses.
inline constexpr std::uint32_t kIdentAddress = 0x008800;
inline constexpr std::uint32_t kIdentAddressHigh = 0x010000;

struct Head {
    std::uint8_t type;
    int count;  // a signed 8-bit value: counts above 127 are negative
};

inline Head DecodeHead(const std::uint8_t* head) {
    return {head[1], static_cast<std::int8_t>(head[2])};
}
inline std::uint32_t DecodeAddress(const std::uint8_t* bytes) {
    return (std::uint32_t{bytes[0]} << 16) | (std::uint32_t{bytes[1]} << 8) | bytes[2];
}
inline bool IsIdentAddress(std::uint32_t address) {
    return address == kIdentAddress || address == kIdentAddressHigh;
}

// The ones' complement of the low 8 bits of the bytes' sum: the checksum of a data record over
// its count, address and data bytes (and of an S-record line over the same fields).
inline std::uint8_t Checksum(const std::uint8_t* bytes, std::size_t count) {
    // The reader checks every record it reads, so the sum is inline and goes eight bytes at a
    // time: the bytes of each word are added in 16-bit lanes (at most 510 a word), folded into
    // the total before a lane can overflow. Only the low 8 bits count, whatever the byte order.
    constexpr std::uint64_t kEvenBytes = 0x00FF00FF00FF00FFu;
    constexpr std::size_t kWordsPerFold = 128;
    unsigned sum = 0;
    std::size_t i = 0;
    while (count - i >= 8) {
        const std::size_t words = (count - i) / 8 < kWordsPerFold ? (count - i) / 8 : kWordsPerFold;
        const std::size_t stop = i + 8 * words;
        std::uint64_t lanes = 0;
        for (; i < stop; i += 8) {
            std::uint64_t word;
            std::memcpy(&word, bytes + i, sizeof word);
            lanes += (word & kEvenBytes) + ((word >> 8) & kEvenBytes);
        }
        sum += static_cast<unsigned>((lanes & 0xFFFF) + ((lanes >> 16) & 0xFFFF) +
                                     ((lanes >> 32) & 0xFFFF) + (lanes >> 48));
    }
    for (; i < count; ++i) {
        sum += bytes[i];
    }
    return static_cast<std::uint8_t>(~sum & 0xFF);
}

// No data record counts fewer than four: its count covers its three address bytes, its data and
// its checksum. A smaller count is malformed wherever the file is read, whatever its checksum
// says, even where its checksum matches: a block goes to the print server as it lies, and the
// print server takes the three bytes after a count for the address, which for such a record are
// its checksum and the next record's head. The file check made before the flash is erased must
// refuse what the print server would refuse or write to an address the file never named.
inline constexpr int kMinDataCount = static_cast<int>(kAddressSize) + 1;

// The fields of a data record, pointing into the bytes it was decoded from.
struct DataFields {
    std::uint32_t address = 0;
    const std::uint8_t* data = nullptr;
    std::size_t dataLength = 0;
};

// The one decoder of a data record, for the reader, the identification scan and the block parser
// alike. `fromCount` is the record from its count byte through its checksum (no line feed): `size`
// bytes, the count's plus one when the record is whole. The checksum is the last of them, over
// all the others. Returns -2 for a checksum mismatch (tested first), -4 for a negative count, a
// count below kMinDataCount or data that runs past kHighestAddress, 0 for a sound record. Unless
// the count itself is refused, `fields` holds the address and the data when `size` has room for
// them (a caller that reads no checksum may still look at the fields), else it is left empty.
int DecodeDataRecord(const std::uint8_t* fromCount, std::size_t size, DataFields& fields);

// Appends a header record (its head alone, count 0).
void AppendHeaderRecord(std::vector<std::uint8_t>& out);
// Appends a data record: head, address, data, checksum and line feed. `length` is at most 123.
void AppendDataRecord(std::vector<std::uint8_t>& out, std::uint32_t address,
                      const std::uint8_t* data, std::size_t length);
// Appends an end record: the head that ends the image, then the rest of an S8 record (address 0,
// checksum, line feed) for S-record tools; the reader reads only the head.
void AppendEndRecord(std::vector<std::uint8_t>& out);

// One record of a block (records end to end, no line feeds).
struct BlockRecord {
    char type = 0;                       // '0', '2' or '8'
    std::uint32_t address = 0;           // data records only
    const std::uint8_t* data = nullptr;  // data records only
    std::size_t dataLength = 0;
};

// Splits a block into its records and checks each data record's count and checksum. Returns 0
// when the block is sound (`records` then holds them; `endSeen` tells whether it closes with an
// end record), -2 for a checksum mismatch, -4 for anything else malformed.
int ParseBlock(const std::uint8_t* block, std::size_t length, std::vector<BlockRecord>& records,
               bool& endSeen);

}  // namespace vexil::record
