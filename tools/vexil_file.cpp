// vexil-file: builds and inspects download files with the same reader that the program uses.
#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <iostream>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "cmdline/CommandLine.h"
#include "format/DownloadFileReader.h"
#include "format/DownloadFileWriter.h"
#include "format/FlashImage.h"
#include "format/RecordCodec.h"
#include "format/SRecordText.h"
#include "platform/Console.h"
#include "platform/Environment.h"
#include "platform/PinnedFile.h"
#include "platform/ProgramMain.h"
#include "platform/RegularFile.h"
#include "platform/StandardStreams.h"
#include "platform/WidePath.h"
#include "resources/ResourceIds.h"
#include "resources/StringTable.h"
#include "resources/Text.h"

namespace {

using namespace vexil;

constexpr int kExitBadFile = 1;

// The download file's 24-bit address space: its highest address, and how many bytes it holds.
using record::kHighestAddress;
constexpr std::size_t kAddressSpace = std::size_t{kHighestAddress} + 1;
// The most S-record text read: a whole 24-bit image in records of 8 data bytes or more.
constexpr std::size_t kMaxSRecordText = 4 * kAddressSpace;

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

int Usage(std::string_view why) {
    std::fprintf(stderr, "vexil-file: %s\n%s", std::string(why).c_str(),
                 std::string(Tr("file.usage")).c_str());
    return kExitUsage;
}

int Fail(int status, const std::string& why) {
    std::fprintf(stderr, "vexil-file: %s\n", why.c_str());
    return status;
}

// The reader's refusal of the file as a whole, after its numbered message.
int NotSound(int result) {
    return Fail(kExitBadFile, Tr("file.read.not-sound", {std::to_string(result)}));
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
        error = Tr("file.usage.needs-value", {stop.option});
    } else if (stop) {
        error = Tr("file.usage.unknown-option", {stop.word});
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
        return Fail(kExitBadFile, Tr("file.input.not-regular", {path}));
    }
    return Fail(kExitUsage, Tr("file.input.cannot-open", {path, refusal.Reason()}));
}

// Reads an input file whole, refusing it as soon as it holds more than `limit` bytes.
int ReadInput(const std::string& path, std::size_t limit, std::string_view tooLarge,
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
            return Fail(kExitBadFile, path + ": " + std::string(tooLarge));
        }
        contents.append(chunk, got);
    }
    const bool failed = std::ferror(file) != 0;
    std::fclose(file);
    return failed ? Fail(kExitBadFile, Tr("file.input.read-failed", {path})) : 0;
}

int Build(const Options& options) {
    if (options.positional.size() != 2) {
        return Usage(Tr("file.build.operands"));
    }
    // Every option is checked before the input is read.
    std::uint64_t recordBytes = 32;
    if (options.recordBytes && !cmdline::ReadNumber(*options.recordBytes, 1, kMaxRecordBytes,
                                                    recordBytes, cmdline::Radix::kDecimalOrHex)) {
        return Usage(Tr("file.build.record-bytes", {std::to_string(kMaxRecordBytes)}));
    }
    std::optional<IdentInfo> ident;
    if (options.ident) {
        ident = ParseIdent(*options.ident);
        if (!ident) {
            return Usage(Tr("file.build.ident"));
        }
    }
    std::uint64_t base = 0;
    if (options.base && !cmdline::ReadNumber(*options.base, 0, kHighestAddress, base,
                                             cmdline::Radix::kDecimalOrHex)) {
        return Usage(Tr("file.build.base"));
    }
    const std::string& input = options.positional[0];
    if (const std::string refused = OutputRefusal(options.positional[1], input); !refused.empty()) {
        return Fail(kExitBadFile, refused);
    }
    std::string contents;
    const int read =
        options.base
            ? ReadInput(input, kAddressSpace - base, Tr("file.build.binary-too-large"), contents)
            : ReadInput(input, kMaxSRecordText, Tr("file.build.text-too-large"), contents);
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
        return Fail(kExitBadFile, Tr("file.build.no-data", {input}));
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
        return Usage(Tr("file.info.operands"));
    }
    std::uint64_t model = 6;
    if (options.model &&
        !cmdline::ReadNumber(*options.model, 1, 6, model, cmdline::Radix::kDecimalOrHex)) {
        return Usage(Tr("file.info.model"));
    }
    const std::string& path = options.positional[0];
    std::FILE* file = nullptr;
    if (const int refused = OpenInput(path, file); refused != 0) {
        return refused;
    }
    // Read once, as a download reads it: the sum and the blocks below are of the same bytes.
    PinnedFile pinned;
    FileRefusal pinRefusal;
    std::fclose(file);
    if (!pinned.Pin(path, pinRefusal) || (file = pinned.Open()) == nullptr) {
        return Fail(kExitBadFile, Tr("file.input.read-failed", {path}));
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
        return Fail(kExitBadFile, Tr("file.info.identification-failed",
                                     {std::to_string(model), std::to_string(identified.result)}));
    }
    const FileIdentity& identity = identified.identity;
    if (identity.modelCode != files.modelCode) {
        std::fclose(file);
        Say(msg::kFileMissing);
        return Fail(kExitBadFile, Tr("file.info.other-model",
                                     {identity.modelCode, std::to_string(model), files.modelCode}));
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
        return NotSound(result);
    }
    // The labels follow the language; the values after them do not.
    auto say = [](std::string_view key, std::initializer_list<std::string_view> values) {
        std::fputs((Tr(key, values) + "\n").c_str(), stdout);
    };
    say("file.info.model-code", {identity.modelCode});
    say("file.info.version", {identity.version});
    say("file.info.records", {std::to_string(dataRecords + otherRecords),
                              std::to_string(dataRecords), std::to_string(otherRecords)});
    say("file.info.blocks", {std::to_string(blocks)});
    if (dataBytes > 0) {
        char range[32];
        std::snprintf(range, sizeof range, "0x%06X-0x%06X", lowest, highest);
        say("file.info.address-range", {range});
    } else {
        say("file.info.no-address-range", {});
    }
    say("file.info.data-bytes", {std::to_string(dataBytes)});
    say("file.info.sha256", {pinned.Sha256Hex()});
    return 0;
}

int Blocks(const Options& options) {
    if (options.positional.size() != 1) {
        return Usage(Tr("file.blocks.operands"));
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
        return NotSound(result);
    }
}

int Extract(const Options& options) {
    if (options.positional.size() != 2) {
        return Usage(Tr("file.extract.operands"));
    }
    const std::string& output = options.positional[1];
    // The download files' own names are in capitals (RS.BIN): the case of the ending is free.
    std::string extension = Utf8Text(WidePath(output).extension());
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (extension != ".srec" && extension != ".bin") {
        return Usage(Tr("file.extract.ending"));
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
        return NotSound(result);
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
    return std::fclose(out) == 0 && written
               ? 0
               : Fail(kExitBadFile, Tr("file.extract.write-failed", {output}));
}

int Run(int argc, char** argv) {
    // Before anything is opened: a file opened on a closed standard descriptor would take the
    // messages meant for it.
    if (!OpenStandardStreams()) {
        return kExitBadFile;
    }
    console::Prepare();
    if (argc < 2) {
        return Usage(Tr("file.usage.no-command"));
    }
    const std::string command = argv[1];
    if (command == "--help" || command == "-h" || command == "help") {
        std::fputs(std::string(Tr("file.usage")).c_str(), stdout);
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
    return Usage(Tr("file.usage.unknown-command", {command}));
}

}  // namespace

int main(int argc, char** argv) {
    vexil::SetLanguage(vexil::ChooseLanguage(vexil::EnvironmentValue, vexil::SystemLanguage()));
    return vexil::RunMain("vexil-file", argc, argv, Run);
}
