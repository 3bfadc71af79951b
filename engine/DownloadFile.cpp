#include "engine/DownloadFile.h"

#include <sys/stat.h>

#include <array>
#include <cstring>
#include <ctime>

namespace vexil {

namespace {

constexpr std::uint32_t kIdentAddressLow = 0x008800;
constexpr std::uint32_t kIdentAddressHigh = 0x010000;
constexpr std::uint8_t kLineFeed = 0x0A;

// The reader reads small pieces many times per block; the unlocked variant saves the stream
// lock on every call (one thread owns each open download file).
std::size_t ReadBytes(void* into, std::size_t count, std::FILE* file) {
#if defined(__GLIBC__)
    return fread_unlocked(into, 1, count, file);
#else
    return std::fread(into, 1, count, file);
#endif
}

int Fail(std::FILE* file, MessageSink& sink, int message, int result) {
    std::fclose(file);
    sink.ShowMessage(message, Icon::Error);
    return result;
}

std::string TwoHexDigits(std::uint8_t value) {
    static constexpr char kDigits[] = "0123456789abcdef";
    return {kDigits[value >> 4], kDigits[value & 0x0F]};
}

std::uint8_t Checksum(const std::uint8_t* bytes, std::size_t count) {
    unsigned sum = 0;
    for (std::size_t i = 0; i < count; ++i) {
        sum += bytes[i];
    }
    return static_cast<std::uint8_t>(~sum & 0xFF);
}

}  // namespace

int FindIdentRecord(std::FILE* file, std::uint8_t out[8]) {
    std::uint8_t head[3];
    std::uint8_t body[128];
    for (;;) {
        if (ReadBytes(head, 3, file) < 3) {
            return 0;
        }
        if (head[1] == '0') {
            continue;
        }
        if (head[1] != '2') {
            return 0;
        }
        const int count = static_cast<std::int8_t>(head[2]);
        if (count + 1 < 4) {
            return 0;
        }
        const auto want = static_cast<std::size_t>(count + 1);
        if (ReadBytes(body, want, file) < want) {
            return 0;
        }
        const std::uint32_t address =
            (std::uint32_t{body[0]} << 16) | (std::uint32_t{body[1]} << 8) | body[2];
        if (address != kIdentAddressLow && address != kIdentAddressHigh) {
            continue;
        }
        // Data bytes lie between the address and the checksum; a record too short to hold a
        // model code and a version is no identification record.
        const int dataLength = count - 4;
        if (dataLength < 4) {
            return 0;
        }
        const auto taken = static_cast<std::size_t>(dataLength < 8 ? dataLength : 8);
        std::memset(out, 0, 8);
        std::memcpy(out, body + 3, taken);
        return 1;
    }
}

int ReadRecordBlock(std::FILE* file, std::uint8_t* buffer, std::uint32_t& length, MessageSink& sink,
                    std::size_t capacity) {
    length = 0;
    std::size_t position = 0;
    for (int records = 0; records < kRecordsPerBlock;) {
        std::uint8_t head[3];
        const std::size_t got = ReadBytes(head, 3, file);
        if (got == 0) {
            return Fail(file, sink, msg::kReadFailed, -1);
        }
        if (got < 3) {
            return Fail(file, sink, msg::kFormatError, -4);
        }
        const std::uint8_t type = head[1];
        if (type == '0' || type == '8') {
            if (position + 3 > capacity) {
                return Fail(file, sink, msg::kFormatError, -4);
            }
            std::memcpy(buffer + position, head, 3);
            length += 3;
            if (type == '8') {
                return 1;
            }
            position += 3;
        } else if (type == '2') {
            const int count = static_cast<std::int8_t>(head[2]);
            // The body and its line feed are read straight into the buffer, so the whole record
            // has to fit before anything is read.
            const auto want = static_cast<std::size_t>(count) + 1;
            if (count < 0 || position + 3 + want > capacity) {
                return Fail(file, sink, msg::kFormatError, -4);
            }
            std::uint8_t* record = buffer + position;
            std::memcpy(record, head, 3);
            const std::size_t n = ReadBytes(record + 3, want, file);
            if (n == 0) {
                return Fail(file, sink, msg::kReadFailed, -1);
            }
            length += static_cast<std::uint32_t>(n + 2);
            // Count, address and data bytes, then the checksum right after them.
            if (record[n + 1] != Checksum(record + 2, n - 1)) {
                return Fail(file, sink, msg::kChecksumError, -2);
            }
            if (record[n + 2] != kLineFeed) {
                return Fail(file, sink, msg::kDataLengthError, -3);
            }
            position += n + 2;  // the next head overwrites the line feed
        } else {
            return Fail(file, sink, msg::kFormatError, -4);
        }
        ++records;
    }
    return 0;
}

int IdentifyDownloadFile(int modelIndex, TAVDL_ADDR& target, std::string& fileModelCode,
                         std::string& fileVersion, MessageSink& sink) {
    const ModelTraits* model = FindModel(modelIndex);
    if (model == nullptr) {
        return -7;
    }
    return IdentifyDownloadFiles(modelIndex, model->mainFile,
                                 model->companionFile ? model->companionFile : "", target,
                                 fileModelCode, fileVersion, sink);
}

int IdentifyDownloadFiles(int modelIndex, const std::string& mainPath,
                          const std::string& companionPath, TAVDL_ADDR& target,
                          std::string& fileModelCode, std::string& fileVersion, MessageSink& sink) {
    const ModelTraits* model = FindModel(modelIndex);
    if (model == nullptr) {
        return -7;
    }
    std::FILE* file = std::fopen(mainPath.c_str(), "rb");
    if (file == nullptr) {
        return -1;
    }
    fileModelCode.clear();
    fileVersion.clear();

    std::uint8_t ident[8];
    if (FindIdentRecord(file, ident) == 0) {
        std::fclose(file);
        sink.ShowMessage(msg::kNoIdentRecord, Icon::Error);
        return -1;
    }
    fileModelCode = TwoHexDigits(ident[0]) + TwoHexDigits(ident[1]);
    std::memcpy(target.modelCode, model->modelCode, sizeof target.modelCode);
    if (fileModelCode != model->modelCode) {
        std::fclose(file);
        return 0;
    }
    fileVersion = TwoHexDigits(ident[2]) + "." + TwoHexDigits(ident[3]);
    std::fclose(file);

    if (model->companionFile == nullptr) {
        return 0;
    }
    std::FILE* companion = std::fopen(companionPath.c_str(), "rb");
    if (companion == nullptr) {
        return -1;
    }
    // The companion file carries the main file's version in its modification time: hh.mm in
    // local time on the 24-hour clock.
    struct stat info {};
    const bool haveTime = fstat(fileno(companion), &info) == 0;
    std::fclose(companion);
    if (!haveTime) {
        return -7;
    }
    std::tm local{};
    const std::time_t modified = info.st_mtime;
    if (localtime_r(&modified, &local) == nullptr) {
        return -7;
    }
    char hhmm[16];
    std::snprintf(hhmm, sizeof hhmm, "%02d.%02d", local.tm_hour, local.tm_min);
    return fileVersion == hhmm ? 0 : -7;
}

int ParseBlock(const std::uint8_t* block, std::size_t length, std::vector<BlockRecord>& records,
               bool& endSeen) {
    records.clear();
    endSeen = false;
    std::size_t position = 0;
    while (position < length) {
        if (endSeen || length - position < 3) {
            return -4;
        }
        const std::uint8_t* head = block + position;
        BlockRecord record;
        record.type = static_cast<char>(head[1]);
        if (record.type == '0' || record.type == '8') {
            endSeen = record.type == '8';
            position += 3;
        } else if (record.type == '2') {
            const int count = static_cast<std::int8_t>(head[2]);
            if (count < 4 || length - position - 3 < static_cast<std::size_t>(count)) {
                return -4;
            }
            const auto n = static_cast<std::size_t>(count);
            if (head[2 + n] != Checksum(head + 2, n)) {
                return -2;
            }
            record.address =
                (std::uint32_t{head[3]} << 16) | (std::uint32_t{head[4]} << 8) | head[5];
            record.data = head + 6;
            record.dataLength = n - 4;
            position += 3 + n;
        } else {
            return -4;
        }
        records.push_back(record);
    }
    return 0;
}

}  // namespace vexil
