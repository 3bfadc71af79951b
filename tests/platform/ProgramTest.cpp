// What every program meets at its edges: the files it reads must be regular files, by any name
// (beyond ASCII too) and never a device, on Windows also not by a device name in a folder; and
// an exception that nothing caught ends it with its reason and status 70, never by an abort.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <new>
#include <stdexcept>
#include <vector>

#include "platform/ProgramMain.h"
#include "platform/RegularFile.h"
#include "platform/WidePath.h"
#include "resources/Reasons.h"
#include "tests/support/TestFiles.h"
#include "tests/support/TestPlatform.h"

namespace vexil::test {
namespace {

TEST(Program, ReadsRegularFilesOnly) {
    const ScratchDir scratch;
    const std::string dir = Utf8Text(scratch.path());
    struct Row {
        std::string path;
        FileKind kind;
    };
    std::vector<Row> rows = {
        {dir + "/RS.BIN", FileKind::kRegular},
        {dir + "/r\xC3\xA9sum\xC3\xA9.bin", FileKind::kRegular},  // résumé.bin
        {dir + "/\xE3\x83\x95\xE3\x82\xA1\xE3\x83\xBC\xE3\x83\xA0.bin",
         FileKind::kRegular},                        // ファーム
        {dir + "/console.log", FileKind::kRegular},  // begins as a device name does
        {dir, FileKind::kFolder},
        {dir + "/missing.bin", FileKind::kMissing},
    };
    for (const Row& row : rows) {
        if (row.kind == FileKind::kRegular) {
            std::ofstream(WidePath(row.path), std::ios::binary) << "S0";
        }
    }
    for (const std::string& device : DevicePaths(dir)) {
        rows.push_back({device, FileKind::kOther});
    }
    for (const Row& row : rows) {
        SCOPED_TRACE(row.path);
        EXPECT_EQ(KindOf(row.path), row.kind);
        std::FILE* file = OpenRegularFile(row.path);
        EXPECT_EQ(file != nullptr, row.kind == FileKind::kRegular);
        if (file != nullptr) {
            char read[3] = {};
            EXPECT_EQ(std::fread(read, 1, 2, file), 2u);
            EXPECT_STREQ(read, "S0");
            std::fclose(file);
        }
        // A device name names a device wherever it stands, and is never opened to be read: a
        // serial port would hold the reader.
        const bool deviceName = HasDeviceNames() && row.kind == FileKind::kOther;
        EXPECT_EQ(IsDeviceName(row.path), deviceName);
        FileRefusal refusal;
        file = OpenFile(row.path, FileUse::kReadStream, refusal);
        if (deviceName) {
            EXPECT_EQ(file, nullptr);
            EXPECT_TRUE(refusal.NotRegular());
        } else if (row.kind == FileKind::kRegular) {
            EXPECT_NE(file, nullptr);
        }
        if (file != nullptr) {
            std::fclose(file);
        }
    }
}

// The one opener, for every use a file is opened for: a regular file opens, anything else is
// refused with its kind before it could hold the program (a FIFO without a reader or writer, a
// device), a missing file is made only by the uses that write, and only a write empties a file.
TEST(Program, OneOpenerForEveryUse) {
    const ScratchDir scratch;
    const std::string dir = Utf8Text(scratch.path());
    struct Row {
        std::string path;
        FileKind kind;
    };
    std::vector<Row> rows = {
        {dir + "/r\xC3\xA9sum\xC3\xA9.bin", FileKind::kRegular},
        {dir + "/console.log", FileKind::kRegular},
        {dir, FileKind::kFolder},
        {dir + "/\xE3\x83\x95\xE3\x82\xA1.log", FileKind::kMissing},
    };
    for (const Row& row : rows) {
        if (row.kind == FileKind::kRegular) {
            std::ofstream(WidePath(row.path), std::ios::binary) << "S0";
        }
    }
    if (MakeFifo(dir + "/fifo")) {
        rows.push_back({dir + "/fifo", FileKind::kOther});
    }
    for (const std::string& device : DevicePaths(dir)) {
        rows.push_back({device, FileKind::kOther});
    }
    const FileUse uses[] = {FileUse::kCheck, FileUse::kRead, FileUse::kAppend, FileUse::kWrite};
    for (const Row& row : rows) {
        for (const FileUse use : uses) {
            SCOPED_TRACE(row.path + ", use " + std::to_string(static_cast<int>(use)));
            const bool writes = use == FileUse::kAppend || use == FileUse::kWrite;
            FileRefusal refusal;
            std::FILE* file = OpenFile(row.path, use, refusal);
            const bool opens =
                row.kind == FileKind::kRegular || (row.kind == FileKind::kMissing && writes);
            EXPECT_EQ(file != nullptr, opens) << Words(refusal.Reason(), Language::kEnglish);
            if (file != nullptr) {
                std::fclose(file);
            }
            EXPECT_EQ(refusal.NotRegular(),
                      row.kind == FileKind::kFolder || row.kind == FileKind::kOther);
            if (row.kind == FileKind::kMissing && !writes) {
                EXPECT_EQ(refusal.error, ENOENT);
                EXPECT_FALSE(std::filesystem::exists(WidePath(row.path))) << "made by a check";
            }
            if (row.kind == FileKind::kRegular) {
                EXPECT_EQ(std::filesystem::file_size(WidePath(row.path)),
                          use == FileUse::kWrite ? 0u : 2u);
            }
        }
    }
    // The kind in words, as the records say it.
    FileRefusal refusal;
    EXPECT_EQ(OpenFileDescriptor(dir, FileUse::kAppend, refusal), -1);
    EXPECT_EQ(Words(refusal.Reason(), Language::kEnglish), "it is a folder");
}

TEST(Program, AnUncaughtExceptionIsSaidAndEndsWithItsStatus) {
    const std::terminate_handler previous = std::get_terminate();
    const ScratchDir scratch;
    const std::filesystem::path said = scratch.path() / "said.txt";
    struct Row {
        std::function<int()> body;
        int status;
        std::string text;
    };
    const Row rows[] = {
        {[] { return 3; }, 3, ""},
        {[]() -> int { throw std::runtime_error("the disk is on fire"); }, 70,
         "vexil-test: internal error: the disk is on fire\n"},
        {[]() -> int {
             throw std::filesystem::filesystem_error(
                 "cannot convert", std::make_error_code(std::errc::illegal_byte_sequence));
         },
         70, "vexil-test: internal error: filesystem error: cannot convert"},
        {[]() -> int { throw std::bad_alloc(); }, 70,
         "vexil-test: internal error: std::bad_alloc\n"},
        {[]() -> int { throw 42; }, 70,
         "vexil-test: internal error: an exception of an unknown kind\n"},
    };
    // What the body's run says, with the program's words of the line.
    const auto run = [&](const Row& row, InternalWords words) {
        SCOPED_TRACE(row.text);
        std::FILE* report = std::fopen(Utf8Text(said).c_str(), "w+b");
        ASSERT_NE(report, nullptr);
        EXPECT_EQ(RunGuarded("vexil-test", row.body, report, words), row.status);
        std::rewind(report);
        char text[512] = {};
        text[std::fread(text, 1, sizeof text - 1, report)] = '\0';
        std::fclose(report);
        EXPECT_EQ(std::string(text).substr(0, row.text.size()), row.text);
        EXPECT_EQ(std::string(text).empty(), row.text.empty());
    };
    for (const Row& row : rows) {
        run(row, nullptr);
    }
    // In the language of the program that gives its words (Japanese, as the tests start).
    run({[]() -> int { throw 42; }, 70, "vexil-test: 内部エラー: 種類のわからない例外\n"},
        InternalErrorWords);
    RunGuarded("vexil-test", [] { return 0; });  // its reports to stderr again, not a closed file
    // Thrown where no exception may leave, it is said all the same, by the terminate handler.
    EXPECT_EXIT(RunGuarded("vexil-test",
                           []() -> int {
                               struct Throws {
                                   ~Throws() noexcept(false) {
                                       throw std::runtime_error("thrown in a noexcept call");
                                   }
                               };
                               [](auto) noexcept { Throws(); }(0);
                               return 0;
                           }),
                testing::ExitedWithCode(kExitInternalError),
                "vexil-test: internal error: thrown in a noexcept call");
    std::set_terminate(previous);
}

}  // namespace
}  // namespace vexil::test
