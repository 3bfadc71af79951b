#include "format/SRecordText.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <vector>

#include "format/HexText.h"
#include "format/RecordCodec.h"

namespace vexil {

namespace {

// One record: "S", the type, then count, address, data and checksum as hexadecimal pairs.
void AppendRecord(std::string& text, char type, std::uint32_t address, int addressBytes,
                  const std::uint8_t* data, std::size_t length) {
    std::vector<std::uint8_t> fields = {static_cast<std::uint8_t>(addressBytes + length + 1)};
    for (int i = addressBytes - 1; i >= 0; --i) {
        fields.push_back(static_cast<std::uint8_t>(address >> (8 * i)));
    }
    fields.insert(fields.end(), data, data + length);
    fields.push_back(record::Checksum(fields.data(), fields.size()));
    static constexpr char kDigits[] = "0123456789ABCDEF";
    text += 'S';
    text += type;
    for (const std::uint8_t byte : fields) {
        text += kDigits[byte >> 4];
        text += kDigits[byte & 0x0F];
    }
    text += '\n';
}

// The address width of the data records of each type; 0 for records that carry no data.
int AddressBytes(char type) {
    switch (type) {
        case '1':
            return 2;
        case '2':
            return 3;
        case '3':
            return 4;
        default:
            return 0;
    }
}

}  // namespace

bool LoadSRecords(std::string_view text, FlashImage& image, Reason& error, std::uint32_t highest) {
    std::size_t lineNumber = 0;
    std::size_t start = 0;
    std::vector<std::uint8_t> bytes;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string_view::npos) {
            end = text.size();
        }
        std::size_t stop = end;
        while (stop > start &&
               (text[stop - 1] == '\r' || text[stop - 1] == ' ' || text[stop - 1] == '\t')) {
            --stop;
        }
        ++lineNumber;
        const std::string_view line = text.substr(start, stop - start);
        start = end + 1;
        if (line.empty()) {
            continue;
        }
        auto fail = [&](ReasonKind why) {
            error = Reason::Numbered(why, static_cast<long long>(lineNumber));
            return false;
        };
        if (line.size() < 4 || line[0] != 'S' || line[1] < '0' || line[1] > '9') {
            return fail(ReasonKind::kNotSRecord);
        }
        if ((line.size() - 2) % 2 != 0) {
            return fail(ReasonKind::kOddDigits);
        }
        bytes.resize((line.size() - 2) / 2);
        if (!ParseHexBytes(line.substr(2), bytes.data(), bytes.size())) {
            return fail(ReasonKind::kNotHexDigit);
        }
        if (bytes[0] + 1u != bytes.size()) {
            return fail(ReasonKind::kCountMismatch);
        }
        if (record::Checksum(bytes.data(), bytes.size() - 1) != bytes.back()) {
            return fail(ReasonKind::kChecksumMismatch);
        }
        const char type = line[1];
        if (type == '4') {
            return fail(ReasonKind::kS4Record);
        }
        const int addressBytes = AddressBytes(type);
        if (addressBytes == 0) {
            continue;  // header, count and start-address records carry no data
        }
        if (bytes.size() < static_cast<std::size_t>(addressBytes) + 2) {
            return fail(ReasonKind::kShortForAddress);
        }
        std::uint32_t address = 0;
        for (int i = 0; i < addressBytes; ++i) {
            address = (address << 8) | bytes[1 + static_cast<std::size_t>(i)];
        }
        const std::size_t dataLength = bytes.size() - 2 - static_cast<std::size_t>(addressBytes);
        if (dataLength > 0 && address > 0xFFFFFFFFu - (dataLength - 1)) {
            return fail(ReasonKind::kPastAddressSpace);
        }
        if (dataLength > 0 && address + (dataLength - 1) > highest) {
            fail(ReasonKind::kAboveHighest);
            error.value = highest;
            return false;
        }
        image.Write(address, bytes.data() + 1 + addressBytes, dataLength);
    }
    return true;
}

std::string FormatSRecords(const FlashImage& image, std::size_t bytesPerRecord) {
    std::uint32_t lowest = 0;
    std::uint32_t highest = 0;
    const bool wide = image.Bounds(lowest, highest) && highest > 0xFFFFFF;
    std::string text;
    AppendRecord(text, '0', 0, 2, nullptr, 0);
    for (const FlashImage::Range& range : image.Ranges()) {
        for (std::size_t offset = 0; offset < range.bytes.size(); offset += bytesPerRecord) {
            const std::size_t length = std::min(bytesPerRecord, range.bytes.size() - offset);
            AppendRecord(text, wide ? '3' : '2', range.address + static_cast<std::uint32_t>(offset),
                         wide ? 4 : 3, range.bytes.data() + offset, length);
        }
    }
    AppendRecord(text, wide ? '7' : '8', 0, wide ? 4 : 3, nullptr, 0);
    return text;
}

}  // namespace vexil
