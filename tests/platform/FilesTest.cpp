// Paths as the programs compare them and make them absolute, and the files that record their
// runs, the same rules on every platform with the platform's own file names.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>

#include "platform/PinnedFile.h"
#include "platform/RecordFile.h"
#include "platform/Sha256.h"
#include "platform/StandardStreams.h"
#include "platform/WidePath.h"
#include "resources/Reasons.h"
#include "tests/support/TestFiles.h"
#include "tests/support/TestPlatform.h"

namespace vexil::test {
namespace {

std::string Read(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

void Put(const std::filesystem::path& path, const std::string& text) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}

std::size_t Entries(const std::filesystem::path& folder) {
    std::size_t count = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(folder)) {
        ++count;
    }
    return count;
}

// The records' checks and writes, their reasons as an English reader reads them.
std::string CheckRecord(const std::string& path, RecordMode mode) {
    return Words(CheckRecordFile(path, mode), Language::kEnglish);
}
std::string Write(const std::string& path, std::string_view text, RecordMode mode) {
    return Words(WriteRecord(path, text, mode), Language::kEnglish);
}

// The records' own write and sync, as they were before any test put its own in place.
const RecordCalls& Original() {
    static const RecordCalls calls = RecordIo();
    return calls;
}

// Puts test calls in the place of the records' write and sync for the life of the object.
class RecordCallsSwap {
  public:
    explicit RecordCallsSwap(RecordCalls calls) {
        Original();
        RecordIo() = calls;
    }
    ~RecordCallsSwap() { RecordIo() = Original(); }
    RecordCallsSwap(const RecordCallsSwap&) = delete;
    RecordCallsSwap& operator=(const RecordCallsSwap&) = delete;
};

TEST(Files, OneFileByItsNames) {
    namespace fs = std::filesystem;
    const ScratchDir scratch;
    const fs::path& folder = scratch.path();
    std::ofstream(folder / "Case.txt") << "x";
    // Whether this file system takes names that differ in letter case for one (Windows does).
    const bool foldsCase = fs::exists(folder / "CASE.TXT");
    const std::string dir = Utf8Text(folder);
    const struct {
        std::string a, b;
        bool same;
    } cases[] = {
        {dir + "/run.log", dir + "/run.log", true},
        {dir + "/run.log", dir + "/./run.log", true},  // neither exists yet
        {dir + "/run.log", dir + "/sub/../run.log", true},
        {dir + "/run.log", dir + "/failed", false},
        {dir + "/run.log", dir + "/RUN.LOG", foldsCase},    // neither exists yet
        {dir + "/Case.txt", dir + "/case.TXT", foldsCase},  // one exists
    };
    for (const auto& c : cases) {
        EXPECT_EQ(NamesOneFile(c.a, c.b), c.same) << c.a << " and " << c.b;
    }
}

TEST(Files, AbsolutePaths) {
    namespace fs = std::filesystem;
    const std::string relative = "some folder/run.log";
    const std::string absolute = AbsolutePath(relative);
    EXPECT_TRUE(WidePath(absolute).is_absolute()) << absolute;
    EXPECT_TRUE(NamesOneFile(absolute, relative)) << absolute;
    EXPECT_EQ(AbsolutePath(absolute), absolute) << "an absolute path changed";
    EXPECT_EQ(AbsolutePath(""), "");
    // A share's path, where the platform has them, is kept whole: no drive put before it.
    for (const std::string share : {R"(\\server\share\firmware)", R"(\\?\C:\Firmware)"}) {
        if (WidePath(share).has_root_name()) {
            EXPECT_EQ(AbsolutePath(share), share);
        }
    }
}

TEST(Files, RecordFilesCheckedWithoutBeingMade) {
    namespace fs = std::filesystem;
    const ScratchDir scratch;
    const fs::path& folder = scratch.path();
    const std::string missing = Utf8Text(folder / "missing.log");
    for (const RecordMode mode : {RecordMode::kAppend, RecordMode::kReplace}) {
        EXPECT_EQ(CheckRecord(missing, mode), "");
        EXPECT_NE(CheckRecord(Utf8Text(folder / "none" / "run.log"), mode)
                      .find("No such file or directory"),
                  std::string::npos);
        EXPECT_EQ(CheckRecord(Utf8Text(folder), mode), "it is a folder");
        EXPECT_EQ(CheckRecord(NullDevice(), mode), "it is not a regular file");
    }
    EXPECT_FALSE(fs::exists(missing)) << "a check made the file";
    EXPECT_EQ(Entries(folder), 0u);
}

TEST(Files, ReplacedThroughANameNoOtherFileHas) {
    namespace fs = std::filesystem;
    const ScratchDir scratch;
    const fs::path& folder = scratch.path();
    // What a fixed name beside the file would have met: a log of that name, and a folder.
    Put(folder / "failed.new", "a log of its own\n");
    fs::create_directory(folder / "retry.new");
    Put(folder / "retry", "tcp 192.0.2.1\n");
    for (const char* name : {"failed", "retry"}) {
        const std::string path = Utf8Text(folder / name);
        EXPECT_EQ(Write(path, "tcp 192.0.2.7\n", RecordMode::kReplace), "") << name;
        EXPECT_EQ(Read(path), "tcp 192.0.2.7\n") << name;
        EXPECT_EQ(Write(path, "", RecordMode::kReplace), "") << name;
        EXPECT_EQ(Read(path), "") << name;
    }
    EXPECT_EQ(Read(folder / "failed.new"), "a log of its own\n");
    EXPECT_TRUE(fs::is_directory(folder / "retry.new"));
    EXPECT_EQ(Entries(folder), 4u) << "a new text was left beside its file";
}

TEST(Files, RecordsThroughSymbolicLinks) {
    namespace fs = std::filesystem;
    const ScratchDir scratch;
    const fs::path& folder = scratch.path();
    fs::create_directory(folder / "logs");
    std::error_code error;
    fs::create_symlink("logs/run.log", folder / "dangling", error);
    if (error) {
        GTEST_SKIP() << "no symbolic links here: " << error.message();
    }
    const std::string dangling = Utf8Text(folder / "dangling");
    const std::string log = Utf8Text(folder / "logs" / "run.log");
    // A link to a log not made yet names the log: it is one file with it.
    EXPECT_TRUE(NamesOneFile(dangling, log));
    EXPECT_TRUE(NamesOneFile(log, dangling));
    EXPECT_FALSE(NamesOneFile(dangling, Utf8Text(folder / "logs" / "other.log")));
    EXPECT_EQ(CheckRecord(dangling, RecordMode::kAppend), "");
    EXPECT_FALSE(fs::exists(log)) << "a check made the file";
    EXPECT_EQ(Write(dangling, "one\n", RecordMode::kAppend), "");
    EXPECT_EQ(Write(dangling, "two\n", RecordMode::kAppend), "");
    EXPECT_EQ(Read(log), "one\ntwo\n");
    // Replaced through a link: the file it names takes the text, the link stays.
    fs::create_symlink(fs::absolute(folder / "logs" / "failed"), folder / "failed");
    for (const char* text : {"tcp 192.0.2.1\n", "tcp 192.0.2.2\n"}) {
        EXPECT_EQ(Write(Utf8Text(folder / "failed"), text, RecordMode::kReplace), "");
        EXPECT_TRUE(fs::is_symlink(folder / "failed"));
        EXPECT_EQ(Read(folder / "logs" / "failed"), text);
    }
    EXPECT_TRUE(fs::is_symlink(folder / "dangling"));
    EXPECT_EQ(Entries(folder / "logs"), 2u);
    // Links that never end name no file.
    fs::create_symlink("loop2", folder / "loop1");
    fs::create_symlink("loop1", folder / "loop2");
    EXPECT_EQ(CheckRecord(Utf8Text(folder / "loop1"), RecordMode::kAppend),
              "Too many levels of symbolic links");
    EXPECT_EQ(Write(Utf8Text(folder / "loop1"), "x\n", RecordMode::kReplace),
              "Too many levels of symbolic links");
}

TEST(Files, RecordOnTheDiskBeforeWriteRecordReturns) {
    static std::string path;
    static std::string seen;  // what the file held at each sync, by its name
    static int syncs = 0;
    static bool failSync = false;
    const ScratchDir scratch;
    RecordCallsSwap swap({Original().write, [](int fd) {
                              ++syncs;
                              seen.append(1, '[').append(Read(WidePath(path))).append(1, ']');
                              if (failSync) {
                                  errno = EIO;
                                  return -1;
                              }
                              return Original().sync(fd);
                          }});
    path = Utf8Text(scratch.path() / "run.log");
    Put(WidePath(path), "");  // a log there already takes its line in place
    EXPECT_EQ(Write(path, "one\n", RecordMode::kAppend), "");
    EXPECT_EQ(syncs, 1);
    EXPECT_EQ(seen, "[one\n]") << "synced before it was written";
    failSync = true;
    EXPECT_EQ(Write(path, "two\n", RecordMode::kAppend), "Input/output error");
    // Replaced: the new text is synced before it takes the file's place, and a failed sync
    // leaves the old text.
    path = Utf8Text(scratch.path() / "failed");
    Put(WidePath(path), "old\n");
    EXPECT_EQ(Write(path, "new\n", RecordMode::kReplace), "Input/output error");
    EXPECT_EQ(Read(WidePath(path)), "old\n");
    failSync = false;
    seen.clear();
    EXPECT_EQ(Write(path, "new\n", RecordMode::kReplace), "");
    EXPECT_EQ(seen, "[old\n]") << "replaced before its new text was synced";
    EXPECT_EQ(Read(WidePath(path)), "new\n");
    EXPECT_EQ(syncs, 4);
    EXPECT_EQ(Entries(scratch.path()), 2u);
}

TEST(Files, ShortRecordTakenBack) {
    const ScratchDir scratch;
    const std::string log = Utf8Text(scratch.path() / "run.log");
    static std::string interloper;  // a line another writer appends right after the short write
    RecordCallsSwap swap(
        {[](int fd, const char* data, std::size_t size) {
             const long long written = Original().write(fd, data, size / 2);
             if (!interloper.empty()) {
                 std::ofstream(WidePath(interloper), std::ios::binary | std::ios::app) << "other\n";
             }
             return written;
         },
         Original().sync});
    const std::string cut =
        "only part of it was written (the disk is full or a size limit was reached)";
    Put(WidePath(log), "first\n");
    EXPECT_EQ(Write(log, "second line\n", RecordMode::kAppend), cut + ", and was taken back");
    EXPECT_EQ(Read(WidePath(log)), "first\n");
    // Another line after it is never cut off with it.
    interloper = log;
    EXPECT_EQ(Write(log, "second line\n", RecordMode::kAppend),
              cut + "; that part stays in the file, as another line follows it");
    EXPECT_EQ(Read(WidePath(log)), "first\nsecondother\n");
    interloper.clear();
    // A new text that comes short leaves the old one.
    const std::string failed = Utf8Text(scratch.path() / "failed");
    Put(WidePath(failed), "old\n");
    EXPECT_EQ(Write(failed, "tcp 192.0.2.1\n", RecordMode::kReplace), cut);
    EXPECT_EQ(Read(WidePath(failed)), "old\n");
    EXPECT_EQ(Entries(scratch.path()), 2u);
}

// A log that the write would make is made only with its line on the disk: a line that cannot be
// written (a full disk) leaves no empty log behind, nor anything beside it; a log that was there,
// empty or not, stays.
TEST(Files, NewRecordFileMadeOnlyWithItsLine) {
    namespace fs = std::filesystem;
    const ScratchDir scratch;
    static std::string log;
    static bool shortWrite = false;
    static bool logAtSync = true;  // whether the log had its name when its line was synced
    log = Utf8Text(scratch.path() / "run.log");
    const std::string cut =
        "only part of it was written (the disk is full or a size limit was reached)";
    {
        RecordCallsSwap swap({[](int fd, const char* data, std::size_t size) -> long long {
                                  if (shortWrite) {
                                      return Original().write(fd, data, size / 2);
                                  }
                                  errno = ENOSPC;
                                  return -1;
                              },
                              Original().sync});
        EXPECT_EQ(Write(log, "line\n", RecordMode::kAppend), "No space left on device");
        EXPECT_EQ(Entries(scratch.path()), 0u) << "a log was left without its line";
        shortWrite = true;
        EXPECT_EQ(Write(log, "line\n", RecordMode::kAppend), cut);
        EXPECT_EQ(Entries(scratch.path()), 0u) << "a log was left without its line";
        Put(WidePath(log), "");
        EXPECT_EQ(Write(log, "line\n", RecordMode::kAppend), cut + ", and was taken back");
        EXPECT_TRUE(fs::exists(WidePath(log))) << "a log that was there was removed";
        fs::remove(WidePath(log));
    }
    RecordCallsSwap swap({Original().write, [](int fd) {
                              logAtSync = fs::exists(WidePath(log));
                              return Original().sync(fd);
                          }});
    EXPECT_EQ(Write(log, "line\n", RecordMode::kAppend), "");
    EXPECT_FALSE(logAtSync) << "the log had its name before its line was on the disk";
    EXPECT_EQ(Read(WidePath(log)), "line\n");
    EXPECT_EQ(Write(log, "two\n", RecordMode::kAppend), "");
    EXPECT_EQ(Read(WidePath(log)), "line\ntwo\n");
    EXPECT_EQ(Entries(scratch.path()), 1u);
}

TEST(Files, ShortRecordAtARealSizeLimitTakenBack) {
    const ScratchDir scratch;
    const std::string log = Utf8Text(scratch.path() / "run.log");
    Put(WidePath(log), "first\n");
    if (!LimitFileSize(10)) {
        GTEST_SKIP() << "no file size limit here";
    }
    const std::string reason = Write(log, "second line\n", RecordMode::kAppend);
    LimitFileSize(-1);
    EXPECT_EQ(reason,
              "only part of it was written (the disk is full or a size limit was reached), and "
              "was taken back");
    EXPECT_EQ(Read(WidePath(log)), "first\n");
}

// The platform's SHA-256, piece by piece, against sums sha256sum wrote; and a pinned file keeps
// the bytes it read whatever becomes of the original, each stream from the first byte.
TEST(Files, PinnedFileKeepsWhatWasReadWithItsSha256) {
    Sha256 hash;
    EXPECT_EQ(HexDigest(hash.Final()),
              "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    hash.Update("a", 1);
    hash.Update("bc", 2);
    EXPECT_EQ(HexDigest(hash.Final()),
              "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");

    ScratchDir dir;
    const auto original = dir.path() / "RS.BIN";
    Put(original, "hello\n");
    PinnedFile pinned;
    FileRefusal refusal;
    ASSERT_TRUE(pinned.Pin(Utf8Text(original), refusal)) << Words(refusal.Reason());
    EXPECT_EQ(pinned.Sha256Hex(),
              "5891b5b522d5df086d0ff0b110fbd9d21bb4fc7163af34d08286a2e846f6be03");
    EXPECT_EQ(pinned.Size(), 6u);
    Put(original, "replaced, longer\n");
    std::filesystem::remove(original);
    for (int i = 0; i < 2; ++i) {
        std::FILE* stream = pinned.Open();
        ASSERT_NE(stream, nullptr);
        char bytes[32] = {};
        EXPECT_EQ(std::fread(bytes, 1, sizeof bytes, stream), 6u);
        EXPECT_EQ(std::string(bytes), "hello\n");
        std::fclose(stream);
    }
    // A TMPDIR naming no folder falls back to the system's temporary folder (POSIX; Windows
    // takes its own from TMP and TEMP).
    Put(original, "hello\n");
    const char* tmpdir = std::getenv("TMPDIR");
    const std::optional<std::string> before =
        tmpdir != nullptr ? std::optional<std::string>(tmpdir) : std::nullopt;
    SetEnvironment("TMPDIR", Utf8Text(dir.path() / "no-such-folder"));
    PinnedFile elsewhere;
    const bool pinnedElsewhere = elsewhere.Pin(Utf8Text(original), refusal);
    SetEnvironment("TMPDIR", before);
    EXPECT_TRUE(pinnedElsewhere) << Words(refusal.Reason(), Language::kEnglish);
    std::filesystem::remove(original);
    EXPECT_FALSE(pinned.Pin(Utf8Text(original), refusal)) << "a missing file";
    EXPECT_FALSE(pinned.Pinned());
    EXPECT_FALSE(pinned.Pin(Utf8Text(dir.path()), refusal)) << "a folder";
    EXPECT_EQ(Words(refusal.Reason(), Language::kEnglish), "it is a folder");
}

TEST(StandardStreams, ClosedErrorReopenedBeforeAnyFile) {
    const ScratchDir scratch;
    const std::string file = Utf8Text(scratch.path() / "run.log");
    const int kept = CloseStandard(2);
    ASSERT_GE(kept, 0);
    const bool opened = OpenStandardStreams();
    // The first file opened after it must not take standard error's number.
    std::FILE* log = std::fopen(file.c_str(), "ab");
    std::fputs("a message\n", stderr);
    std::fflush(stderr);
    if (log != nullptr) {
        std::fclose(log);
    }
    RestoreStandard(kept, 2);
    EXPECT_TRUE(opened);
    EXPECT_EQ(Read(WidePath(file)), "") << "a message went to the file";
}

}  // namespace
}  // namespace vexil::test
