#include "format/DownloadFileWriter.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string_view>
#include <vector>

#include "format/HexText.h"
#include "format/RecordCodec.h"
#include "platform/RegularFile.h"

namespace vexil {

std::optional<IdentInfo> ParseIdent(const std::string& text) {
    // CODE:MM.mm, four and two and two hexadecimal digits.
    if (text.size() != 10 || text[4] != ':' || text[7] != '.') {
        return std::nullopt;
    }
    const std::string_view view(text);
    IdentInfo ident{};
    if (!ParseHexBytes(view.substr(0, 4), ident.bytes, 2) ||
        !ParseHexBytes(view.substr(5, 2), ident.bytes + 2, 1) ||
        !ParseHexBytes(view.substr(8, 2), ident.bytes + 3, 1)) {
        return std::nullopt;
    }
    return ident;
}

bool WriteDownloadFile(const FlashImage& image, const std::optional<IdentInfo>& ident,
                       std::size_t recordBytes, const std::string& path, Reason& error) {
    if (recordBytes < 1 || recordBytes > kMaxRecordBytes) {
        error = Reason::Numbered(ReasonKind::kRecordBytes, kMaxRecordBytes);
        return false;
    }
    std::uint32_t lowest = 0;
    std::uint32_t highest = 0;
    if (image.Bounds(lowest, highest) && highest > record::kHighestAddress) {
        error = Reason::Numbered(ReasonKind::kPast24Bits, highest);
        return false;
    }
    if (ident && image.Overlaps(record::kIdentAddress, 8)) {
        error = ReasonKind::kIdentTaken;
        return false;
    }
    std::vector<std::uint8_t> out;
    record::AppendHeaderRecord(out);
    if (ident) {
        const std::uint8_t data[8] = {
            ident->bytes[0], ident->bytes[1], ident->bytes[2], ident->bytes[3], 0, 0, 0, 0};
        record::AppendDataRecord(out, record::kIdentAddress, data, sizeof data);
    }
    for (const FlashImage::Range& range : image.Ranges()) {
        for (std::size_t offset = 0; offset < range.bytes.size(); offset += recordBytes) {
            const std::size_t length = std::min(recordBytes, range.bytes.size() - offset);
            record::AppendDataRecord(out, range.address + static_cast<std::uint32_t>(offset),
                                     range.bytes.data() + offset, length);
        }
    }
    record::AppendEndRecord(out);

    std::FILE* file = OpenOutputFile(path, error);
    if (file == nullptr) {
        return false;
    }
    const bool written = std::fwrite(out.data(), 1, out.size(), file) == out.size();
    if (std::fclose(file) != 0 || !written) {
        error = Reason::Named(ReasonKind::kWritingFailed, path);
        return false;
    }
    return true;
}

}  // namespace vexil
