#include "tools/DownloadFileWriter.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

namespace vexil {

namespace {

int Hex(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

bool HexByte(const std::string& text, std::size_t at, std::uint8_t& out) {
    const int high = Hex(text[at]);
    const int low = Hex(text[at + 1]);
    if (high < 0 || low < 0) {
        return false;
    }
    out = static_cast<std::uint8_t>(high * 16 + low);
    return true;
}

void AppendDataRecord(std::vector<std::uint8_t>& out, std::uint32_t address,
                      const std::uint8_t* data, std::size_t length) {
    const auto count = static_cast<std::uint8_t>(length + 4);
    const std::uint8_t head[6] = {'S',
                                  '2',
                                  count,
                                  static_cast<std::uint8_t>(address >> 16),
                                  static_cast<std::uint8_t>(address >> 8),
                                  static_cast<std::uint8_t>(address)};
    unsigned sum = 0;
    for (std::size_t i = 2; i < 6; ++i) {
        sum += head[i];
    }
    out.insert(out.end(), head, head + 6);
    for (std::size_t i = 0; i < length; ++i) {
        sum += data[i];
    }
    out.insert(out.end(), data, data + length);
    out.push_back(static_cast<std::uint8_t>(~sum & 0xFF));
    out.push_back(0x0A);
}

}  // namespace

std::optional<IdentInfo> ParseIdent(const std::string& text) {
    // CODE:MM.mm, four and two and two hexadecimal digits.
    if (text.size() != 10 || text[4] != ':' || text[7] != '.') {
        return std::nullopt;
    }
    IdentInfo ident{};
    if (!HexByte(text, 0, ident.bytes[0]) || !HexByte(text, 2, ident.bytes[1]) ||
        !HexByte(text, 5, ident.bytes[2]) || !HexByte(text, 8, ident.bytes[3])) {
        return std::nullopt;
    }
    return ident;
}

bool WriteDownloadFile(const FlashImage& image, const std::optional<IdentInfo>& ident,
                       std::size_t recordBytes, const std::string& path, std::string& error) {
    if (recordBytes < 1 || recordBytes > kMaxRecordBytes) {
        error = "--record-bytes must be 1 to " + std::to_string(kMaxRecordBytes);
        return false;
    }
    std::uint32_t lowest = 0;
    std::uint32_t highest = 0;
    if (image.Bounds(lowest, highest) && highest > 0xFFFFFF) {
        error = "the image reaches past the 24-bit address space (highest address " +
                std::to_string(highest) + ")";
        return false;
    }
    if (ident && image.Overlaps(kIdentAddress, 8)) {
        error = "--ident: the image already holds data at 0x008800";
        return false;
    }
    std::vector<std::uint8_t> out = {'S', '0', 0x00};
    if (ident) {
        const std::uint8_t data[8] = {
            ident->bytes[0], ident->bytes[1], ident->bytes[2], ident->bytes[3], 0, 0, 0, 0};
        AppendDataRecord(out, kIdentAddress, data, sizeof data);
    }
    for (const FlashImage::Range& range : image.Ranges()) {
        for (std::size_t offset = 0; offset < range.bytes.size(); offset += recordBytes) {
            const std::size_t length = std::min(recordBytes, range.bytes.size() - offset);
            AppendDataRecord(out, range.address + static_cast<std::uint32_t>(offset),
                             range.bytes.data() + offset, length);
        }
    }
    // The reader stops at the end record's head; the rest is there for S-record tools.
    const std::uint8_t end[] = {'S', '8', 0x04, 0x00, 0x00, 0x00, 0xFB, 0x0A};
    out.insert(out.end(), end, end + sizeof end);

    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) {
        error = "cannot write " + path + ": " + std::strerror(errno);
        return false;
    }
    const bool written = std::fwrite(out.data(), 1, out.size(), file) == out.size();
    if (std::fclose(file) != 0 || !written) {
        error = "writing " + path + " failed";
        return false;
    }
    return true;
}

}  // namespace vexil
