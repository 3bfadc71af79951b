#include "format/RecordCodec.h"

namespace vexil::record {

void AppendHeaderRecord(std::vector<std::uint8_t>& out) {
    out.insert(out.end(), {kMark, kHeaderType, 0x00});
}

void AppendDataRecord(std::vector<std::uint8_t>& out, std::uint32_t address,
                      const std::uint8_t* data, std::size_t length) {
    const std::size_t start = out.size();
    out.insert(out.end(),
               {kMark, kDataType, static_cast<std::uint8_t>(kAddressSize + length + 1),
                static_cast<std::uint8_t>(address >> 16), static_cast<std::uint8_t>(address >> 8),
                static_cast<std::uint8_t>(address)});
    out.insert(out.end(), data, data + length);
    // Count, address and data: everything after the mark and the type.
    out.push_back(Checksum(out.data() + start + 2, out.size() - start - 2));
    out.push_back(kLineFeed);
}

void AppendEndRecord(std::vector<std::uint8_t>& out) {
    const std::uint8_t body[] = {static_cast<std::uint8_t>(kAddressSize + 1), 0x00, 0x00, 0x00};
    out.insert(out.end(), {kMark, kEndType});
    out.insert(out.end(), body, body + sizeof body);
    out.push_back(Checksum(body, sizeof body));
    out.push_back(kLineFeed);
}

int DecodeDataRecord(const std::uint8_t* fromCount, std::size_t size, DataFields& fields) {
    fields = {};
    if (size == 0 || static_cast<std::int8_t>(fromCount[0]) < 0) {
        return -4;
    }
    // Count, address and data bytes, then the checksum right after them. The reader hands over a
    // record cut short by the end of its file as it lies, so the checksum is the last byte given.
    // It is tested first: a count of 0 leaves the count byte itself as the checksum, a mismatch.
    const int check = fromCount[size - 1] == Checksum(fromCount, size - 1) ? 0 : -2;
    if (check == 0 && static_cast<std::int8_t>(fromCount[0]) < kMinDataCount) {
        return -4;
    }
    if (size >= 1 + static_cast<std::size_t>(kMinDataCount)) {
        fields.address = DecodeAddress(fromCount + 1);
        fields.data = fromCount + 1 + kAddressSize;
        fields.dataLength = size - 2 - kAddressSize;
    }
    if (check == 0 && fields.dataLength > kHighestAddress - fields.address + 1) {
        return -4;
    }
    return check;
}

int ParseBlock(const std::uint8_t* block, std::size_t length, std::vector<BlockRecord>& records,
               bool& endSeen) {
    records.clear();
    endSeen = false;
    std::size_t position = 0;
    while (position < length) {
        if (endSeen || length - position < kHeadSize) {
            return -4;
        }
        const std::uint8_t* at = block + position;
        const Head head = DecodeHead(at);
        BlockRecord record;
        record.type = static_cast<char>(head.type);
        if (head.type == kHeaderType || head.type == kEndType) {
            endSeen = head.type == kEndType;
            position += kHeadSize;
        } else if (head.type == kDataType) {
            // A block holds its records without line feeds: the record ends at its checksum.
            const int count = head.count;
            // A block carries no count too short for an address, whatever its checksum: the
            // bytes that would be read as its address belong to its checksum and the next record
            // (kMinDataCount), so nothing after them can be trusted.
            if (count < kMinDataCount ||
                length - position - kHeadSize < static_cast<std::size_t>(count)) {
                return -4;
            }
            const auto n = static_cast<std::size_t>(count);
            DataFields fields;
            if (const int check = DecodeDataRecord(at + 2, n + 1, fields); check != 0) {
                return check;
            }
            record.address = fields.address;
            record.data = fields.data;
            record.dataLength = fields.dataLength;
            position += kHeadSize + n;
        } else {
            return -4;
        }
        records.push_back(record);
    }
    return 0;
}

}  // namespace vexil::record
