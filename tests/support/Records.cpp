#include "tests/support/Records.h"

#include <cstdio>

#include "format/DownloadFileReader.h"
#include "format/RecordCodec.h"

namespace vexil::test {

const Bytes kWorkedExample = {0x53, 0x32, 0x0C, 0x00, 0x88, 0x00, 0xAA, 0x01,
                              0x01, 0x10, 0x00, 0x00, 0x00, 0x00, 0xAF, 0x0A};

Bytes DataRecord(std::uint32_t address, const Bytes& data) {
    Bytes record;
    record::AppendDataRecord(record, address, data.data(), data.size());
    return record;
}

Bytes DataRecord(std::uint32_t address, std::size_t dataCount, std::uint8_t fill) {
    return DataRecord(address, Bytes(dataCount, fill));
}

Bytes HeaderRecord() {
    Bytes record;
    record::AppendHeaderRecord(record);
    return record;
}

Bytes EndRecord() {
    Bytes record;
    record::AppendEndRecord(record);
    record.resize(record::kHeadSize);
    return record;
}

Bytes Join(const std::vector<Bytes>& parts) {
    Bytes all;
    for (const Bytes& part : parts) {
        all.insert(all.end(), part.begin(), part.end());
    }
    return all;
}

std::vector<Bytes> FileBlocks(const std::string& path, std::size_t capacity) {
    std::vector<Bytes> blocks;
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) {
        return blocks;
    }
    std::uint8_t buffer[kBlockBufferSize];
    for (;;) {
        std::uint32_t length = 0;
        const int result = ReadRecordBlock(file, buffer, length, capacity);
        if (result < 0) {
            return blocks;  // the reader has closed the file
        }
        blocks.emplace_back(buffer, buffer + length);
        if (result == 1) {
            std::fclose(file);
            return blocks;
        }
    }
}

}  // namespace vexil::test
