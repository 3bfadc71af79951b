#include "format/DownloadFileReader.h"

#include <chrono>
#include <cstring>
#include <ctime>
#include <filesystem>

#include "format/HexText.h"
#include "format/RecordCodec.h"
#include "platform/WidePath.h"
#include "resources/ResourceIds.h"

namespace vexil {

namespace {

// The reader reads small pieces many times per block; the unlocked variants save the stream
// lock on every call (one thread owns each open download file).
std::size_t ReadBytes(void* into, std::size_t count, std::FILE* file) {
#if defined(__GLIBC__)
    return fread_unlocked(into, 1, count, file);
#else
    return std::fread(into, 1, count, file);
#endif
}

// A record head, byte by byte from the stream's buffer: cheaper than a call to fread for three
// bytes. Returns how many bytes it read.
std::size_t ReadHead(std::uint8_t* head, std::FILE* file) {
    for (std::size_t got = 0; got < record::kHeadSize; ++got) {
#if defined(__GLIBC__)
        const int c = getc_unlocked(file);
#else
        const int c = std::getc(file);
#endif
        if (c == EOF) {
            return got;
        }
        head[got] = static_cast<std::uint8_t>(c);
    }
    return record::kHeadSize;
}

int Fail(std::FILE* file, int result) {
    std::fclose(file);
    return result;
}

// The file's last modification as hh.mm in local time on the 24-hour clock, or empty.
std::string LocalHourAndMinute(const std::string& path) {
    std::error_code error;
    const auto modified = std::filesystem::last_write_time(WidePath(path), error);
    if (error) {
        return {};
    }
    const std::time_t when = std::chrono::system_clock::to_time_t(std::chrono::file_clock::to_sys(
        std::chrono::time_point_cast<std::chrono::file_clock::duration>(modified)));
    // One thread reads the time at once; the standard conversion is enough here.
    const std::tm* local = std::localtime(&when);
    if (local == nullptr) {
        return {};
    }
    char hhmm[16];
    std::snprintf(hhmm, sizeof hhmm, "%02d.%02d", local->tm_hour, local->tm_min);
    return hhmm;
}

// An identification that found no model code.
Identification Refused(int result, int message = 0) {
    Identification refused;
    refused.result = result;
    refused.message = message;
    return refused;
}

}  // namespace

int FindIdentRecord(std::FILE* file, std::uint8_t out[8]) {
    // A head, then at most 127 bytes of count and the line feed: the largest record whole.
    std::uint8_t line[record::kHeadSize + 128];
    for (;;) {
        if (ReadBytes(line, record::kHeadSize, file) < record::kHeadSize) {
            return 0;
        }
        const record::Head decoded = record::DecodeHead(line);
        if (decoded.type == record::kHeaderType) {
            continue;
        }
        // Too short a record to hold an address ends the scan, whatever its checksum.
        if (decoded.type != record::kDataType || decoded.count < record::kMinDataCount) {
            return 0;
        }
        // The count's bytes and the line feed.
        const auto want = static_cast<std::size_t>(decoded.count) + 1;
        if (ReadBytes(line + record::kHeadSize, want, file) < want) {
            return 0;
        }
        // Checksums and data past the address space are left to the file check, which reads
        // every record before anything is sent and names the fault: the scan has never refused a
        // file for either. (A count too short for an address ended the scan above.)
        record::DataFields fields;
        record::DecodeDataRecord(line + 2, want, fields);
        if (!record::IsIdentAddress(fields.address)) {
            continue;
        }
        // A record too short to hold a model code and a version is no identification record.
        if (fields.dataLength < 4) {
            return 0;
        }
        std::memset(out, 0, 8);
        std::memcpy(out, fields.data, fields.dataLength < 8 ? fields.dataLength : 8);
        return 1;
    }
}

int ReadRecordBlock(std::FILE* file, std::uint8_t* buffer, std::uint32_t& length,
                    std::size_t capacity) {
    using record::kHeadSize;
    length = 0;
    std::size_t position = 0;
    for (int records = 0; records < kRecordsPerBlock;) {
        std::uint8_t* at = buffer + position;
        std::uint8_t head[kHeadSize];
        const std::size_t got = ReadHead(head, file);
        if (got == 0) {
            return Fail(file, -1);
        }
        if (got < kHeadSize) {
            return Fail(file, -4);
        }
        const record::Head decoded = record::DecodeHead(head);
        if (decoded.type == record::kHeaderType || decoded.type == record::kEndType) {
            if (position + kHeadSize > capacity) {
                return Fail(file, -4);
            }
            std::memcpy(at, head, kHeadSize);
            length += kHeadSize;
            if (decoded.type == record::kEndType) {
                return 1;
            }
            position += kHeadSize;
        } else if (decoded.type == record::kDataType) {
            // The body and its line feed are read straight into the buffer, so the whole record
            // has to fit before anything is read.
            const int count = decoded.count;
            const auto want = static_cast<std::size_t>(count) + 1;
            if (count < 0 || position + kHeadSize + want > capacity) {
                return Fail(file, -4);
            }
            std::memcpy(at, head, kHeadSize);
            const std::size_t n = ReadBytes(at + kHeadSize, want, file);
            if (n == 0) {
                return Fail(file, -1);
            }
            length += static_cast<std::uint32_t>(n + 2);
            // The last byte read is the line feed; the record runs from the count up to it.
            record::DataFields fields;
            if (const int check = record::DecodeDataRecord(at + 2, n, fields); check != 0) {
                return Fail(file, check);
            }
            if (at[n + 2] != record::kLineFeed) {
                return Fail(file, -3);
            }
            position += n + 2;  // the next head overwrites the line feed
        } else {
            return Fail(file, -4);
        }
        ++records;
    }
    return 0;
}

int ReaderMessage(int result) {
    switch (result) {
        case -1:
            return msg::kReadFailed;
        case -2:
            return msg::kChecksumError;
        case -3:
            return msg::kDataLengthError;
        case -4:
            return msg::kFormatError;
        default:
            return 0;
    }
}

int VerifyImageFile(const std::string& path, std::size_t capacity) {
    return VerifyImageStream(OpenRegularFile(path), capacity);
}

int VerifyImageStream(std::FILE* file, std::size_t capacity) {
    if (file == nullptr) {
        return kFileNotOpened;
    }
    std::uint8_t block[kBlockBufferSize];
    std::uint32_t length = 0;
    for (;;) {
        const int read = ReadRecordBlock(file, block, length, capacity);
        if (read < 0) {
            return read;  // the reader has closed the file
        }
        if (read == 1) {
            std::fclose(file);
            return 0;
        }
    }
}

Identification IdentifyDownloadFile(int modelIndex) {
    const ModelFiles* model = FindModelFiles(modelIndex);
    if (model == nullptr) {
        return Refused(-7);
    }
    return IdentifyDownloadFiles(modelIndex, model->mainFile,
                                 model->companionFile ? model->companionFile : "");
}

Identification IdentifyDownloadFiles(int modelIndex, const std::string& mainPath,
                                     const std::string& companionPath) {
    const ModelFiles* model = FindModelFiles(modelIndex);
    if (model == nullptr) {
        return Refused(-7);
    }
    std::FILE* file = OpenRegularFile(mainPath);
    bool companionOpens = false;
    if (std::FILE* companion = OpenRegularFile(companionPath); companion != nullptr) {
        companionOpens = true;
        std::fclose(companion);
    }
    return IdentifyDownloadStream(modelIndex, file, companionOpens, companionPath);
}

Identification IdentifyDownloadStream(int modelIndex, std::FILE* file, bool companionOpens,
                                      const std::string& companionPath) {
    const ModelFiles* model = FindModelFiles(modelIndex);
    if (model == nullptr) {
        if (file != nullptr) {
            std::fclose(file);
        }
        return Refused(-7);
    }
    if (file == nullptr) {
        return Refused(-1);
    }
    std::uint8_t ident[8];
    const bool found = FindIdentRecord(file, ident) != 0;
    std::fclose(file);
    if (!found) {
        return Refused(-1, msg::kNoIdentRecord);
    }
    Identification identified;
    FileIdentity& identity = identified.identity;
    identity.modelCode = TwoHexDigits(ident[0]) + TwoHexDigits(ident[1]);
    if (identity.modelCode != model->modelCode) {
        return identified;
    }
    identity.version = TwoHexDigits(ident[2]) + "." + TwoHexDigits(ident[3]);
    if (!model->TwoFiles()) {
        return identified;
    }
    if (!companionOpens) {
        identified.result = -1;
        return identified;
    }
    // The companion file carries the main file's version in its modification time.
    const std::string hhmm = LocalHourAndMinute(companionPath);
    if (hhmm.empty() || identity.version != hhmm) {
        identified.result = -7;
    }
    return identified;
}

}  // namespace vexil
