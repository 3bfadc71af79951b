// Motorola S-record text, the form in which other tools (objcopy, srec_cat) hand over images:
// read into a FlashImage, and written out from one.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "format/FlashImage.h"
#include "platform/Reason.h"

namespace vexil {

// Reads S-record text (S0 to S9; S1, S2 and S3 carry data) into `image`. Returns false with the
// reason, which holds the line's number, on the first malformed record, or on the first record
// with data above `highest` (before any of it is loaded).
bool LoadSRecords(std::string_view text, FlashImage& image, Reason& error,
                  std::uint32_t highest = 0xFFFFFFFF);

// The image as S-record text: an S0 header, data records of `bytesPerRecord` bytes (S2, or S3
// when addresses need 32 bits) and the matching terminator, one record a line.
std::string FormatSRecords(const FlashImage& image, std::size_t bytesPerRecord = 32);

}  // namespace vexil
