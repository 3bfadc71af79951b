// Reading download files: the block reader that feeds the transfer, the check of a whole file
// before anything is sent, and the identification of a model's files, which returns what the
// file says it is. The reader shows nothing: a result that refuses a file names the message the
// program shows for it. The record format itself is RecordCodec.h's; the writer is
// DownloadFileWriter.h.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "format/DevicePayloads.h"
#include "format/ModelFiles.h"
#include "platform/RegularFile.h"

namespace vexil {

inline constexpr std::size_t kBlockBufferSize = 512;
// Over IPX the transfer puts its prefix in front of the block in its own 512-byte buffer.
inline constexpr std::size_t kIpxBlockLimit = kBlockBufferSize - payload::kIpxPrefixSize;
inline constexpr int kRecordsPerBlock = 6;

// Scans from the current position for the first data record at 0x008800 or 0x010000 and copies
// its first eight data bytes into `out` (bytes the record does not hold are zero). Returns 1 when
// found, 0 otherwise. Never closes the file.
int FindIdentRecord(std::FILE* file, std::uint8_t out[8]);

// Reads the next block of at most six records into `buffer`. `capacity` is the room the block
// may take together with the line feed of its last data record: kBlockBufferSize for TCP/IP,
// kIpxBlockLimit for IPX; `buffer` must hold at least that many bytes. Returns 0 (six records,
// more follow), 1 (end record read) or, after closing the file, -1 (read failed), -2 (checksum),
// -3 (no line feed) or -4 (format).
int ReadRecordBlock(std::FILE* file, std::uint8_t* buffer, std::uint32_t& length,
                    std::size_t capacity = kBlockBufferSize);

// The message that a result of the reader below 0 shows, as an error: 102 (read failed), 103
// (checksum), 104 (no line feed) or 105 (format); 0 for any other result.
int ReaderMessage(int result);

// VerifyImageFile's result for a file that does not open (it shows no message of the reader).
inline constexpr int kFileNotOpened = -5;

// Reads a whole image file block by block as the transfer will read it (the same checks, the
// same block limit), sending nothing. Returns 0 when every block reads up to the end record,
// the reader's result (below 0) when one does not, or kFileNotOpened. Leaves no file open.
int VerifyImageFile(const std::string& path, std::size_t capacity);
// The same over an open stream (nullptr: one that did not open), which it closes.
int VerifyImageStream(std::FILE* file, std::size_t capacity);

// What a download file says it is: the model code and version of its identification record.
struct FileIdentity {
    std::string modelCode;  // four lowercase hexadecimal digits, "aa01"; empty when none was found
    std::string version;    // "01.10"; empty unless the model code is the model's own
};

struct Identification {
    // 0, -1 (a file does not open, or the main file has no identification record) or -7 (no
    // such model, or the companion file's time does not match the version).
    int result = 0;
    // The message the failure shows, as an error: 117 when there is no identification record.
    int message = 0;
    FileIdentity identity;
};

// Identifies the download file of `modelIndex` in the working directory. A file whose model code
// is not the model's gives result 0 with that code and no version. Leaves no file open.
Identification IdentifyDownloadFile(int modelIndex);

// The same with the files named by the caller; `companionPath` is used for models 2 to 4.
Identification IdentifyDownloadFiles(int modelIndex, const std::string& mainPath,
                                     const std::string& companionPath);

// The same with the main file open as `file` (nullptr: it did not open), which it closes, and
// whether the companion file opens; the companion's time is read from `companionPath`.
Identification IdentifyDownloadStream(int modelIndex, std::FILE* file, bool companionOpens,
                                      const std::string& companionPath);

}  // namespace vexil
