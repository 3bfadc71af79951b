// Feeds arbitrary text to vexil-file's S-record parser. Whatever it accepts, the download-file
// writer must turn into a file that the program's reader reads soundly to its end record and
// that holds exactly the same image.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "format/DownloadFileReader.h"
#include "format/DownloadFileWriter.h"
#include "format/FlashImage.h"
#include "format/RecordCodec.h"
#include "format/SRecordText.h"

namespace {}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    const std::string text(reinterpret_cast<const char*>(data + 1), size - 1);
    vexil::FlashImage image;
    vexil::Reason error;
    if (!vexil::LoadSRecords(text, image, error)) {
        return 0;
    }
    const int fd = memfd_create("vexil-fuzz", 0);
    if (fd < 0) {
        return 0;
    }
    const std::string path = "/proc/self/fd/" + std::to_string(fd);
    const std::size_t recordBytes = 1 + data[0] % vexil::kMaxRecordBytes;
    if (vexil::WriteDownloadFile(image, std::nullopt, recordBytes, path, error)) {
        std::FILE* file = std::fopen(path.c_str(), "rb");
        vexil::FlashImage readBack;
        std::vector<vexil::record::BlockRecord> records;
        std::uint8_t buffer[vexil::kIpxBlockLimit];
        for (;;) {
            std::uint32_t length = 0;
            const int result = vexil::ReadRecordBlock(file, buffer, length, vexil::kIpxBlockLimit);
            bool end = false;
            if (result < 0 || vexil::record::ParseBlock(buffer, length, records, end) != 0) {
                __builtin_trap();  // the writer made a file its own reader refuses
            }
            for (const auto& record : records) {
                if (record.type == vexil::record::kDataType) {
                    readBack.Write(record.address, record.data, record.dataLength);
                }
            }
            if (result == 1) {
                std::fclose(file);
                break;
            }
        }
        const auto a = image.Ranges();
        const auto b = readBack.Ranges();
        if (a.size() != b.size()) {
            __builtin_trap();
        }
        for (std::size_t i = 0; i < a.size(); ++i) {
            if (a[i].address != b[i].address || a[i].bytes != b[i].bytes) {
                __builtin_trap();
            }
        }
    }
    close(fd);
    return 0;
}
