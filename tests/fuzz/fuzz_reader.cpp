// Feeds arbitrary bytes to the download-file reader and the identification scan. Both must
// stay inside their buffers and close the file exactly when they say they do.
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "format/DownloadFileReader.h"

namespace {

void ReadBlocks(const std::uint8_t* data, std::size_t size, std::size_t capacity) {
    std::FILE* file = fmemopen(const_cast<std::uint8_t*>(data), size, "rb");
    if (file == nullptr) {
        return;
    }
    // Exactly `capacity` bytes, so AddressSanitizer sees any write past the block's room.
    auto* buffer = new std::uint8_t[capacity];
    for (;;) {
        std::uint32_t length = 0;
        const int result = vexil::ReadRecordBlock(file, buffer, length, capacity);
        if (result < 0) {
            break;  // closed by the reader
        }
        if (length > capacity) {
            __builtin_trap();
        }
        if (result == 1) {
            std::fclose(file);
            break;
        }
    }
    delete[] buffer;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;  // fmemopen refuses an empty buffer
    }
    ReadBlocks(data, size, vexil::kBlockBufferSize);
    ReadBlocks(data, size, vexil::kIpxBlockLimit);

    std::FILE* file = fmemopen(const_cast<std::uint8_t*>(data), size, "rb");
    if (file != nullptr) {
        std::uint8_t ident[8];
        vexil::FindIdentRecord(file, ident);
        std::fclose(file);
    }
    return 0;
}
