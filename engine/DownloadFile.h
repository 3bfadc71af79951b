// Reading download files: identification of a model's files, and the block reader that feeds the
// transfer. The record format itself is RecordCodec.h's.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "engine/DevicePayloads.h"
#include "engine/DialogPort.h"
#include "engine/ModelTable.h"
#include "platform/RegularFile.h"
#include "tavdl/tavdl.h"

namespace vexil {

inline constexpr std::size_t kBlockBufferSize = 512;
// Over IPX the transfer puts its prefix in front of the block in its own 512-byte buffer.
inline constexpr std::size_t kIpxBlockLimit = kBlockBufferSize - payload::kIpxPrefixSize;
inline constexpr int kRecordsPerBlock = 6;

// Scans from the current position for the first data record at 0x008800 or 0x010000 and copies
// its first eight data bytes into `out` (bytes the record does not hold are zero). Returns 1 when
// found, 0 otherwise. Shows nothing and never closes the file.
int FindIdentRecord(std::FILE* file, std::uint8_t out[8]);

// Reads the next block of at most six records into `buffer`. `capacity` is the room the block
// may take together with the line feed of its last data record: kBlockBufferSize for TCP/IP,
// kIpxBlockLimit for IPX; `buffer` must hold at least that many bytes. Returns 0 (six records,
// more follow), 1 (end record read) or, after showing its message and closing the file, -1 (read
// failed, 102), -2 (checksum, 103), -3 (no line feed, 104) or -4 (format, 105).
int ReadRecordBlock(std::FILE* file, std::uint8_t* buffer, std::uint32_t& length, MessageSink& sink,
                    std::size_t capacity = kBlockBufferSize);

// Reads a whole image file block by block as the transfer will read it (the same checks, the
// same block limit), sending nothing. Returns 0 when every block reads up to the end record,
// the reader's result after its message (102 to 105) when one does not, or -1 without a
// message when the file does not open. Leaves no file open.
int VerifyImageFile(const std::string& path, std::size_t capacity, MessageSink& sink);

// Identifies the download file of `modelIndex` in the working directory: fills fileModelCode and
// fileVersion and the target's modelCode. Returns 0, -1 (a file does not open, or no
// identification record: message 117) or -7 (no such model, or the companion file's time does
// not match the version). Leaves no file open.
int IdentifyDownloadFile(int modelIndex, TAVDL_ADDR& target, std::string& fileModelCode,
                         std::string& fileVersion, MessageSink& sink);

// The same with the files named by the caller; `companionPath` is used for models 2 to 4.
int IdentifyDownloadFiles(int modelIndex, const std::string& mainPath,
                          const std::string& companionPath, TAVDL_ADDR& target,
                          std::string& fileModelCode, std::string& fileVersion, MessageSink& sink);

}  // namespace vexil
