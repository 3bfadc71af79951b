// vexil-file: builds and inspects download files with the same reader that the program uses.
#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "cmdline/CommandLine.h"
#include "format/DownloadFileReader.h"
#include "format/DownloadFileWriter.h"
#include "format/FlashImage.h"
#include "format/RecordCodec.h"
#include "format/SRecordText.h"
#include "platform/Console.h"
#include "platform/ProgramMain.h"
#include "platform/RegularFile.h"
#include "platform/StandardStreams.h"
#include "platform/WidePath.h"
#include "resources/ResourceIds.h"
#include "resources/StringTable.h"

namespace {

using namespace vexil;

constexpr int kExitBadFile = 1;

// The download file's 24-bit address space: its highest address, and how many bytes it holds.
using record::kHighestAddress;
constexpr std::size_t kAddressSpace = std::size_t{kHighestAddress} + 1;
// The most S-record text read: a whole 24-bit image in records of 8 data bytes or more.
constexpr std::size_t kMaxSRecordText = 4 * kAddressSpace;

const char kUsage[] =
    "usage:\n"
    "  vexil-file build INPUT OUTPUT [--ident CODE:VERSION] [--record-bytes N] [--base ADDRESS]\n"
    "      make a download file from S-record text, or from a raw binary loaded at --base\n"
    "  vexil-file info FILE [--model N] [--ipx]\n"
    "      identify FILE for model N (default 6) and read it block by block\n"
    "  vexil-file blocks FILE [--ipx]\n"
    "      one line per block read: RESULT LENGTH\n"
    "  vexil-file extract FILE OUTPUT\n"
    "      write the image back as S-record text (.srec) or a raw binary (.bin)\n"
    "exit status: 0 done, 1 a file refused or not sound, 64 a usage error or an input that\n"
    "does not open, 70 an internal error (its reason is said)\n";

// A message of the program (the reader's, the identification's) goes to stderr as its number
// and text, on one line; 0 says nothing.
void Say(int stringId) {
    if (stringId == 0) {
        return;
    }
    std::string text(LoadString(stringId));
    for (char& c : text) {
        if (c == '\r' || c == '\n') {
            c = ' ';
        }
    }
    std::fprintf(stderr, "%d %s\n", stringId, text.c_str());
}

int Usage(const std::string& why) {
    std::fprintf(stderr, "vexil-file: %s\n%s", why.c_str(), kUsage);
    return kExitUsage;
}

int Fail(int status, const std::string& why) {
    std::fprintf(stderr, "vexil-file: %s\n", why.c_str());
    return status;
}

struct Options {
    std::vector<std::string> positional;
    std::optional<std::string> ident;
    std::optional<std::string> recordBytes;
    std::optional<std::string> base;
    std::optional<std::string> model;
    bool ipx = false;
};

// The options and operands after the command, in any order; a repeated option's last value
// counts. The values are checked by the command that takes them.
bool ParseOptions(int argc, char** argv, Options& options, std::string& error) {
    cmdline::CommandLine line({.inlineValues = false, .eachOnce = false});
    auto value = [&line](const std::string& name, std::optional<std::string>& into) {
        line.Value(name, [&into](const std::string& text) { into = text; });
    };
    value("--ident", options.ident);
    value("--record-bytes", options.recordBytes);
    value("--base", options.base);
    value("--model", options.model);
    line.Flag("--ipx", [&options] { options.ipx = true; });
    line.Operands(options.positional);
    const cmdline::Stop stop = line.Read(argc, argv, 2);
    if (stop.kind == cmdline::Stop::Kind::kNoValue) {
        error = stop.option + " needs a value";
    } else if (stop) {
        error = "unknown option " + stop.word;
    }
    return !stop;
}

// Opens an input file, which must be a regular file: a FIFO, a device or a directory is refused
// at once instead of waited on. The exit status of the refusal (already said), or 0.
int OpenInput(const std::string& path, std::FILE*& file) {
    FileRefusal refusal;
    file = OpenFile(path, FileUse::kRead, refusal);
    if (file != nullptr) {
        return 0;
    }
    if (refusal.NotRegular()) {
        return Fail(kExitBadFile, path + " is not a regular file");
    }
    return Fail(kExitUsage, "cannot open " + path + ": " + refusal.Reason());
}

// Reads an input file whole, refusing it as soon as it holds more than `limit` bytes.
int ReadInput(const std::string& path, std::size_t limit, const std::string& tooLarge,
              std::string& contents) {
    std::FILE* file = nullptr;
    if (const int refused = OpenInput(path, file); refused != 0) {
        return refused;
    }
    contents.clear();
    char chunk[65536];
    std::size_t got = 0;
    while ((got = std::fread(chunk, 1, sizeof chunk, file)) > 0) {
        if (got > limit - contents.size()) {
            std::fclose(file);
            return Fail(kExitBadFile, path + ": " + tooLarge);
        }
        contents.append(chunk, got);
    }
    const bool failed = std::ferror(file) != 0;
    std::fclose(file);
    return failed ? Fail(kExitBadFile, "reading " + path + " failed") : 0;
}

int Build(const Options& options) {
    if (options.positional.size() != 2) {
        return Usage("build takes INPUT and OUTPUT");
    }
    // Every option is checked before the input is read.
    std::uint64_t recordBytes = 32;
    if (options.recordBytes && !cmdline::ReadNumber(*options.recordBytes, 1, kMaxRecordBytes,
                                                    recordBytes, cmdline::Radix::kDecimalOrHex)) {
        return Usage("--record-bytes must be a number from 1 to " +
                     std::to_string(kMaxRecordBytes));
    }
    std::optional<IdentInfo> ident;
    if (options.ident) {
        ident = ParseIdent(*options.ident);
        if (!ident) {
            return Usage("--ident takes CODE:VERSION such as aa01:01.10");
        }
    }
    std::uint64_t base = 0;
    if (options.base && !cmdline::ReadNumber(*options.base, 0, kHighestAddress, base,
                                             cmdline::Radix::kDecimalOrHex)) {
        return Usage("--base must be an address from 0 to 0xFFFFFF");
    }
    const std::string& input = options.positional[0];
    if (const std::string refused = OutputRefusal(options.positional[1], input); !refused.empty()) {
        return Fail(kExitBadFile, refused);
    }
    std::string contents;
    const int read = options.base
                         ? ReadInput(input, kAddressSpace - base,
                                     "the binary does not fit below 0x1000000 at "
                                     "that base",
                                     contents)
                         : ReadInput(input, kMaxSRecordText,
                                     "more S-record text than a 24-bit image takes", contents);
    if (read != 0) {
        return read;
    }
    FlashImage image;
    std::string error;
    if (options.base) {
        image.Write(static_cast<std::uint32_t>(base),
                    reinterpret_cast<const std::uint8_t*>(contents.data()), contents.size());
    } else if (!LoadSRecords(contents, image, error, kHighestAddress)) {
        return Fail(kExitBadFile, input + ": " + error);
    }
    std::uint32_t lowest = 0;
    std::uint32_t highest = 0;
    if (!image.Bounds(lowest, highest)) {
        return Fail(kExitBadFile, input + " holds no data: nothing to download");
    }
    if (!WriteDownloadFile(image, ident, recordBytes, options.positional[1], error)) {
        return Fail(kExitBadFile, error);
    }
    return 0;
}

// Reads FILE block by block as the transfer does, handing each sound block to `onBlock`.
// Returns the reader's last result (1 at a sound end).
template <typename OnBlock>
int ReadAllBlocks(std::FILE* file, bool ipx, OnBlock onBlock) {
    std::uint8_t buffer[kBlockBufferSize];
    for (;;) {
        std::uint32_t length = 0;
        const int result =
            ReadRecordBlock(file, buffer, length, ipx ? kIpxBlockLimit : kBlockBufferSize);
        if (result < 0) {
            Say(ReaderMessage(result));
            return result;  // the reader has closed the file
        }
        if (!onBlock(result, buffer, length)) {
            std::fclose(file);
            return -4;
        }
        if (result == 1) {
            std::fclose(file);
            return 1;
        }
    }
}

int Info(const Options& options) {
    if (options.positional.size() != 1) {
        return Usage("info takes one FILE");
    }
    std::uint64_t model = 6;
    if (options.model &&
        !cmdline::ReadNumber(*options.model, 1, 6, model, cmdline::Radix::kDecimalOrHex)) {
        return Usage("--model must be 1 to 6");
    }
    const std::string& path = options.positional[0];
    std::FILE* file = nullptr;
    if (const int refused = OpenInput(path, file); refused != 0) {
        return refused;
    }
    // A two-file model's companion file is looked for beside FILE; one that is there must be a
    // regular file too.
    const ModelFiles& files = *FindModelFiles(static_cast<int>(model));
    const char* companionName = files.companionFile;
    const std::string companion =
        Utf8Text(WidePath(path).parent_path() / (companionName ? companionName : ""));
    if (companionName != nullptr && KindOf(companion) != FileKind::kMissing) {
        std::FILE* probe = nullptr;
        if (const int refused = OpenInput(companion, probe); refused != 0) {
            std::fclose(file);
            return refused;
        }
        std::fclose(probe);
    }
    const Identification identified =
        IdentifyDownloadFiles(static_cast<int>(model), path, companion);
    Say(identified.message);
    if (identified.result != 0) {
        std::fclose(file);
        return Fail(kExitBadFile, "identification for model " + std::to_string(model) +
                                      " failed (result " + std::to_string(identified.result) + ")");
    }
    const FileIdentity& identity = identified.identity;
    if (identity.modelCode != files.modelCode) {
        std::fclose(file);
        Say(msg::kFileMissing);
        return Fail(kExitBadFile, "model code " + identity.modelCode + " is not model " +
                                      std::to_string(model) + "'s " + files.modelCode);
    }

    std::size_t blocks = 0, dataRecords = 0, otherRecords = 0, dataBytes = 0;
    std::uint32_t lowest = 0xFFFFFFFF, highest = 0;
    std::vector<record::BlockRecord> records;
    const int result =
        ReadAllBlocks(file, options.ipx, [&](int, const std::uint8_t* block, std::uint32_t length) {
            bool end = false;
            if (record::ParseBlock(block, length, records, end) != 0) {
                return false;
            }
            ++blocks;
            for (const record::BlockRecord& record : records) {
                if (record.type != record::kDataType) {
                    ++otherRecords;
                    continue;
                }
                ++dataRecords;
                dataBytes += record.dataLength;
                if (record.dataLength > 0) {
                    lowest = std::min(lowest, record.address);
                    highest =
                        std::max(highest, record.address +
                                              static_cast<std::uint32_t>(record.dataLength) - 1);
                }
            }
            return true;
        });
    if (result != 1) {
        return Fail(kExitBadFile,
                    "the file is not sound (reader result " + std::to_string(result) + ")");
    }
    std::printf("model code:    %s\n", identity.modelCode.c_str());
    std::printf("version:       %s\n", identity.version.c_str());
    std::printf("records:       %zu (%zu data, %zu header and end)\n", dataRecords + otherRecords,
                dataRecords, otherRecords);
    std::printf("blocks:        %zu\n", blocks);
    if (dataBytes > 0) {
        std::printf("address range: 0x%06X-0x%06X\n", lowest, highest);
    } else {
        std::printf("address range: none\n");
    }
    std::printf("data bytes:    %zu\n", dataBytes);
    return 0;
}

int Blocks(const Options& options) {
    if (options.positional.size() != 1) {
        return Usage("blocks takes one FILE");
    }
    std::FILE* file = nullptr;
    if (const int refused = OpenInput(options.positional[0], file); refused != 0) {
        return refused;
    }
    std::uint8_t buffer[kBlockBufferSize];
    for (;;) {
        std::uint32_t length = 0;
        const int result =
            ReadRecordBlock(file, buffer, length, options.ipx ? kIpxBlockLimit : kBlockBufferSize);
        Say(ReaderMessage(result));
        std::printf("%d %u\n", result, length);
        if (result == 0) {
            continue;
        }
        if (result == 1) {
            std::fclose(file);
            return 0;
        }
        // The reader has closed the file.
        return Fail(kExitBadFile,
                    "the file is not sound (reader result " + std::to_string(result) + ")");
    }
}

int Extract(const Options& options) {
    if (options.positional.size() != 2) {
        return Usage("extract takes FILE and OUTPUT");
    }
    const std::string& output = options.positional[1];
    // The download files' own names are in capitals (RS.BIN): the case of the ending is free.
    std::string extension = Utf8Text(WidePath(output).extension());
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (extension != ".srec" && extension != ".bin") {
        return Usage("OUTPUT must end in .srec or .bin");
    }
    if (const std::string refused = OutputRefusal(output, options.positional[0]);
        !refused.empty()) {
        return Fail(kExitBadFile, refused);
    }
    std::FILE* file = nullptr;
    if (const int refused = OpenInput(options.positional[0], file); refused != 0) {
        return refused;
    }
    FlashImage image;
    std::vector<record::BlockRecord> records;
    const int result =
        ReadAllBlocks(file, false, [&](int, const std::uint8_t* block, std::uint32_t length) {
            bool end = false;
            if (record::ParseBlock(block, length, records, end) != 0) {
                return false;
            }
            for (const record::BlockRecord& record : records) {
                if (record.type == record::kDataType) {
                    image.Write(record.address, record.data, record.dataLength);
                }
            }
            return true;
        });
    if (result != 1) {
        return Fail(kExitBadFile,
                    "the file is not sound (reader result " + std::to_string(result) + ")");
    }
    std::string error;
    if (extension == ".bin") {
        return image.SaveBinary(output, error) ? 0 : Fail(kExitBadFile, error);
    }
    std::FILE* out = OpenOutputFile(output, error);
    if (out == nullptr) {
        return Fail(kExitBadFile, error);
    }
    const std::string text = FormatSRecords(image);
    const bool written = std::fwrite(text.data(), 1, text.size(), out) == text.size();
    return std::fclose(out) == 0 && written ? 0
                                            : Fail(kExitBadFile, "writing " + output + " failed");
}

int Run(int argc, char** argv) {
    // Before anything is opened: a file opened on a closed standard descriptor would take the
    // messages meant for it.
    if (!OpenStandardStreams()) {
        return kExitBadFile;
    }
    console::Prepare();
    if (argc < 2) {
        return Usage("no command");
    }
    const std::string command = argv[1];
    if (command == "--help" || command == "-h" || command == "help") {
        std::fputs(kUsage, stdout);
        return 0;
    }
    Options options;
    std::string error;
    if (!ParseOptions(argc, argv, options, error)) {
        return Usage(error);
    }
    if (command == "build") {
        return Build(options);
    }
    if (command == "info") {
        return Info(options);
    }
    if (command == "blocks") {
        return Blocks(options);
    }
    if (command == "extract") {
        return Extract(options);
    }
    return Usage("unknown command " + command);
}

}  // namespace

int main(int argc, char** argv) {
    return vexil::RunMain("vexil-file", argc, argv, Run);
}
