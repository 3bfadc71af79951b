#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "format/FlashImage.h"
#include "platform/Reason.h"

namespace vexil {

// The model code and version of an identification record, as in "aa01:01.10".
struct IdentInfo {
    std::uint8_t bytes[4];
};
std::optional<IdentInfo> ParseIdent(const std::string& text);

// Six records of this many data bytes (7 bytes of overhead each, plus the last line feed) still
// fit the 504 bytes that an IPX block may take.
inline constexpr std::size_t kMaxRecordBytes = 76;

// Writes a download file: a header record, the identification record (when given), the image's
// data records in address order with `recordBytes` data bytes each, and the end record.
bool WriteDownloadFile(const FlashImage& image, const std::optional<IdentInfo>& ident,
                       std::size_t recordBytes, const std::string& path, Reason& error);

}  // namespace vexil
