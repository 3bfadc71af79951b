#include "format/DownloadFileReader.h"
#include "resources/ResourceIds.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>

#include "format/RecordCodec.h"
#include "tests/support/TestFiles.h"

namespace vexil {
namespace {

using test::Bytes;
using test::DataRecord;
using test::EndRecord;
using test::HeaderRecord;
using test::Join;
using test::kWorkedExample;

// Reads `contents` block by block with the real reader and records every result and length.
class ReaderTest : public ::testing::Test {
  protected:
    struct Step {
        int result;
        std::uint32_t length;
        bool operator==(const Step&) const = default;
    };

    std::vector<Step> ReadAll(const Bytes& contents, std::size_t capacity = kBlockBufferSize) {
        const int before = test::OpenDescriptorCount();
        std::FILE* file = std::fopen(dir_.File("image.bin", contents).c_str(), "rb");
        EXPECT_NE(file, nullptr);
        std::vector<Step> steps;
        for (int guard = 0; guard < 1000; ++guard) {
            std::fill(std::begin(buffer_), std::end(buffer_), 0xCC);
            std::uint32_t length = 12345;
            const int result = ReadRecordBlock(file, buffer_, length, capacity);
            steps.push_back({result, length});
            if (const int message = ReaderMessage(result); message != 0) {
                messages_.push_back(message);
            }
            // Nothing may land past the room the caller gave the reader.
            for (std::size_t i = capacity; i < sizeof buffer_; ++i) {
                EXPECT_EQ(buffer_[i], 0xCC) << "written past the block buffer at " << i;
            }
            if (result != 0) {
                if (result == 1) {
                    std::fclose(file);
                }
                break;
            }
        }
        // Every path leaves the file closed exactly once: by the reader on failure, by us at
        // the end record.
        EXPECT_EQ(test::OpenDescriptorCount(), before);
        return steps;
    }

    test::ScratchDir dir_;
    std::vector<int> messages_;  // of the reader's results
    std::uint8_t buffer_[kBlockBufferSize + 64];
};

TEST_F(ReaderTest, WorkedExampleTakesFifteenBytesInABlock) {
    EXPECT_EQ(ReadAll(Join({kWorkedExample, EndRecord()})), (std::vector<Step>{{1, 18}}));
    EXPECT_EQ(Bytes(buffer_, buffer_ + 15),
              Bytes(kWorkedExample.begin(), kWorkedExample.end() - 1));
    EXPECT_TRUE(messages_.empty());
}

TEST_F(ReaderTest, BlockShapes) {
    // Only an end record.
    EXPECT_EQ(ReadAll(EndRecord()), (std::vector<Step>{{1, 3}}));
    // Six data records of count 36 (39 bytes each in the block), then the end record alone.
    std::vector<Bytes> six;
    for (int i = 0; i < 6; ++i) {
        six.push_back(DataRecord(0x1000 + 32 * i, 32));
    }
    EXPECT_EQ(ReadAll(Join({Join(six), EndRecord()})), (std::vector<Step>{{0, 234}, {1, 3}}));
    // A header record in the middle counts as one of the six and adds 3 bytes.
    EXPECT_EQ(ReadAll(Join(
                  {six[0], six[1], HeaderRecord(), six[2], six[3], six[4], six[5], EndRecord()})),
              (std::vector<Step>{{0, 5 * 39 + 3}, {1, 42}}));
    // An end record among the first six returns at once; nothing after it is read.
    EXPECT_EQ(ReadAll(Join({six[0], EndRecord(), Bytes{'x', 'y', 'z'}})),
              (std::vector<Step>{{1, 42}}));
    EXPECT_TRUE(messages_.empty());
}

TEST_F(ReaderTest, FailuresShowTheirMessageAndCloseTheFile) {
    struct Case {
        const char* name;
        Bytes contents;
        int result;
        int message;
    };
    Bytes badChecksum = DataRecord(0x100, 4);
    badChecksum[badChecksum.size() - 2] ^= 0x01;
    Bytes noLineFeed = DataRecord(0x100, 4);
    noLineFeed.back() = 0x0D;
    Bytes bothFaults = badChecksum;
    bothFaults.back() = 0x0D;
    const Bytes countZero = {'S', '2', 0x00, 0x0A};
    const Bytes negativeCount = {'S', '2', 0x80, 0x00, 0x00};
    const std::vector<Case> cases = {
        {"empty file", {}, -1, msg::kReadFailed},
        {"no end record", DataRecord(0x100, 4), -1, msg::kReadFailed},
        {"body missing", {'S', '2', 0x08}, -1, msg::kReadFailed},
        {"checksum", badChecksum, -2, msg::kChecksumError},
        {"count zero", countZero, -2, msg::kChecksumError},
        {"line feed", noLineFeed, -3, msg::kDataLengthError},
        {"checksum before line feed", bothFaults, -2, msg::kChecksumError},
        {"unknown type", {'S', '5', 0x03}, -4, msg::kFormatError},
        {"head cut to one byte", {'S'}, -4, msg::kFormatError},
        {"head cut to two bytes", Join({DataRecord(0x100, 4), Bytes{'S', '8'}}), -4,
         msg::kFormatError},
        {"count 0x80", negativeCount, -4, msg::kFormatError},
        {"count 0xFF", {'S', '2', 0xFF}, -4, msg::kFormatError},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        messages_.clear();
        const auto steps = ReadAll(c.contents);
        ASSERT_FALSE(steps.empty());
        EXPECT_EQ(steps.back().result, c.result);
        EXPECT_EQ(messages_, std::vector<int>{c.message});
    }
}

TEST_F(ReaderTest, ChecksumErrorInThirdBlockAfterTwoGoodOnes) {
    std::vector<Bytes> records;
    for (int i = 0; i < 14; ++i) {
        records.push_back(DataRecord(0x2000 + 32 * i, 32));
    }
    records[13][20] ^= 0xFF;
    const auto steps = ReadAll(Join({Join(records), EndRecord()}));
    EXPECT_EQ(steps, (std::vector<Step>{{0, 234}, {0, 234}, {-2, 78}}));
}

TEST_F(ReaderTest, BlockThatWouldOverrunTheBufferIsAFormatError) {
    // Six records of 78 data bytes: 6 * 85 = 510 bytes plus the last line feed fits 512 but not
    // the 504 bytes that IPX leaves.
    std::vector<Bytes> records;
    for (int i = 0; i < 6; ++i) {
        records.push_back(DataRecord(0x3000 + 78 * i, 78));
    }
    const Bytes file = Join({Join(records), EndRecord()});
    EXPECT_EQ(ReadAll(file), (std::vector<Step>{{0, 510}, {1, 3}}));
    EXPECT_TRUE(messages_.empty());

    const auto ipx = ReadAll(file, kIpxBlockLimit);
    EXPECT_EQ(ipx.back().result, -4);
    EXPECT_EQ(messages_, std::vector<int>{msg::kFormatError});

    // Records whose last line feed ends exactly at the limit are read whole: five records of 78
    // data bytes (85 each) and one of capacity - 433, then the line feed.
    for (const std::size_t capacity : {kBlockBufferSize, kIpxBlockLimit}) {
        SCOPED_TRACE(capacity);
        messages_.clear();
        records.clear();
        for (int i = 0; i < 5; ++i) {
            records.push_back(DataRecord(0x3000 + 78 * i, 78));
        }
        records.push_back(DataRecord(0x3200, capacity - 433));
        EXPECT_EQ(ReadAll(Join({Join(records), EndRecord()}), capacity),
                  (std::vector<Step>{{0, static_cast<std::uint32_t>(capacity - 1)}, {1, 3}}));
        EXPECT_TRUE(messages_.empty());
    }

    // Six records of the largest count would take 6 * 130 bytes.
    messages_.clear();
    records.clear();
    for (int i = 0; i < 6; ++i) {
        records.push_back(DataRecord(0x4000 + 123 * i, 123));
    }
    EXPECT_EQ(ReadAll(Join({Join(records), EndRecord()})).back().result, -4);
    EXPECT_EQ(messages_, std::vector<int>{msg::kFormatError});
}

TEST(FindIdentRecordTest, ScansForTheFirstRecordAtAnIdentAddress) {
    test::ScratchDir dir;
    auto find = [&](const Bytes& contents, Bytes& out) {
        std::FILE* file = std::fopen(dir.File("f.bin", contents).c_str(), "rb");
        std::uint8_t ident[8];
        std::fill(std::begin(ident), std::end(ident), 0xEE);
        const int found = FindIdentRecord(file, ident);
        std::fclose(file);
        out.assign(ident, ident + 8);
        return found;
    };
    Bytes out;
    EXPECT_EQ(find(kWorkedExample, out), 1);
    EXPECT_EQ(out, (Bytes{0xAA, 0x01, 0x01, 0x10, 0, 0, 0, 0}));

    // Other addresses are skipped and headers passed over; 0x010000 counts too.
    EXPECT_EQ(find(Join({HeaderRecord(), DataRecord(0x008801, 8, 0x11),
                         DataRecord(0x010000, {1, 2, 3, 4, 5, 6, 7, 8, 9}),
                         DataRecord(0x008800, 8, 0x22)}),
                   out),
              1);
    EXPECT_EQ(out, (Bytes{1, 2, 3, 4, 5, 6, 7, 8}));

    // A record of count 4 holds an address and its checksum, nothing else; the scan passes
    // over it.
    EXPECT_EQ(find(Join({DataRecord(0x000100, Bytes{}), kWorkedExample}), out), 1);
    EXPECT_EQ(out, (Bytes{0xAA, 0x01, 0x01, 0x10, 0, 0, 0, 0}));

    // Fewer than four data bytes: no identification record. Four to seven: the rest is zero,
    // never read from past the record.
    EXPECT_EQ(find(DataRecord(0x008800, {0xAA, 0x01, 0x01}), out), 0);
    EXPECT_EQ(find(Join({DataRecord(0x008800, {0xAA, 0x01, 0x01, 0x10, 0x77}), EndRecord()}), out),
              1);
    EXPECT_EQ(out, (Bytes{0xAA, 0x01, 0x01, 0x10, 0x77, 0, 0, 0}));

    // The end record, an unknown type, a short record or the end of the file come first.
    EXPECT_EQ(find(Join({EndRecord(), kWorkedExample}), out), 0);
    EXPECT_EQ(find(Join({Bytes{'S', '7', 0x03}, kWorkedExample}), out), 0);
    EXPECT_EQ(find(Join({Bytes{'S', '2', 0x02, 0x00, 0x00, 0x0A}, kWorkedExample}), out), 0);
    EXPECT_EQ(find(Bytes(kWorkedExample.begin(), kWorkedExample.begin() + 10), out), 0);
    EXPECT_EQ(find({}, out), 0);
}

// One rule for short data records, whichever way the file is read. The checksum is tested first,
// as for every record; a count below four that passes it cannot hold an address and a checksum
// and is malformed. A count of four (an
// address, no data) is a record; the reader and the block parser check its checksum, the scan
// leaves checksums to the file check and passes over it.
TEST(ShortRecordTest, OneRuleForTheReaderTheScanAndTheBlockParser) {
    struct Row {
        std::uint8_t count;
        bool goodChecksum;
        int read;  // the reader's result and, below 0, its message
        int message;
        int found;  // the scan, with an identification record after the short record
        int parsed;
    };
    constexpr int kNone = 0;
    const std::vector<Row> rows = {
        // Count 0: the count byte stands where the checksum would, and never matches.
        {0, true, -2, msg::kChecksumError, 0, -4},
        {0, false, -2, msg::kChecksumError, 0, -4},
        {1, true, -4, msg::kFormatError, 0, -4},
        {1, false, -2, msg::kChecksumError, 0, -4},
        {2, true, -4, msg::kFormatError, 0, -4},
        {2, false, -2, msg::kChecksumError, 0, -4},
        {3, true, -4, msg::kFormatError, 0, -4},
        {3, false, -2, msg::kChecksumError, 0, -4},
        {4, true, 1, kNone, 1, 0},
        {4, false, -2, msg::kChecksumError, 1, -2},
    };
    test::ScratchDir dir;
    for (const Row& row : rows) {
        SCOPED_TRACE(::testing::Message() << "count " << int{row.count} << ", checksum "
                                          << (row.goodChecksum ? "good" : "bad"));
        // The count, count - 1 bytes where the address belongs, the checksum over all of them
        // (count 0 has no room even for that; its byte stands where the checksum would) and
        // the line feed.
        Bytes record = {'S', '2', row.count};
        for (std::uint8_t i = 1; i < row.count; ++i) {
            record.push_back(i);
        }
        const auto checksum = record::Checksum(record.data() + 2, record.size() - 2);
        record.push_back(row.goodChecksum ? checksum : static_cast<std::uint8_t>(checksum ^ 0x01));
        record.push_back(record::kLineFeed);

        std::FILE* file =
            std::fopen(dir.File("read.bin", Join({record, EndRecord()})).c_str(), "rb");
        ASSERT_NE(file, nullptr);
        std::uint8_t block[kBlockBufferSize];
        std::uint32_t length = 0;
        const int read = ReadRecordBlock(file, block, length);
        EXPECT_EQ(read, row.read);
        if (read == 1) {
            std::fclose(file);
        }
        EXPECT_EQ(ReaderMessage(read), row.message);

        file = std::fopen(dir.File("scan.bin", Join({record, kWorkedExample})).c_str(), "rb");
        ASSERT_NE(file, nullptr);
        std::uint8_t ident[8];
        EXPECT_EQ(FindIdentRecord(file, ident), row.found);
        std::fclose(file);

        const Bytes inBlock(record.begin(), record.end() - 1);
        std::vector<record::BlockRecord> records;
        bool end = false;
        EXPECT_EQ(record::ParseBlock(inBlock.data(), inBlock.size(), records, end), row.parsed);
        if (row.parsed == 0) {
            ASSERT_EQ(records.size(), 1u);
            EXPECT_EQ(records[0].address, 0x010203u);
            EXPECT_EQ(records[0].dataLength, 0u);
        }
    }
}

// A data record whose data runs past 0xFFFFFF is malformed for the file check made before the
// flash is erased, for the block reader and for the simulator's block parser alike: a print
// server with 24-bit addresses would write the bytes past the end at address 0 on. A record
// that ends exactly at 0xFFFFFF is sound, and so is one with no data at 0xFFFFFF.
TEST(AddressSpaceTest, DataPastTheHighestAddressIsAFormatError) {
    struct Row {
        std::uint32_t address;
        std::size_t dataBytes;
        bool sound;
    };
    const std::vector<Row> rows = {
        {0xFFFFF8, 8, true}, {0xFFFFF9, 8, false},  {0xFFFFFF, 1, true},    {0xFFFFFF, 2, false},
        {0xFFFFFF, 0, true}, {0xFFFF85, 123, true}, {0xFFFF86, 123, false},
    };
    test::ScratchDir dir;
    for (const Row& row : rows) {
        SCOPED_TRACE(::testing::Message() << std::hex << "0x" << row.address << ", " << std::dec
                                          << row.dataBytes << " data bytes");
        const Bytes record = DataRecord(row.address, row.dataBytes);
        const std::string path = dir.File("image.bin", Join({HeaderRecord(), record, EndRecord()}));
        const int refused = row.sound ? 0 : msg::kFormatError;
        for (const std::size_t capacity : {kBlockBufferSize, kIpxBlockLimit}) {
            const int checked = VerifyImageFile(path, capacity);
            EXPECT_EQ(checked, row.sound ? 0 : -4);
            EXPECT_EQ(ReaderMessage(checked), refused);
        }

        std::FILE* file = std::fopen(path.c_str(), "rb");
        ASSERT_NE(file, nullptr);
        std::uint8_t block[kBlockBufferSize];
        std::uint32_t length = 0;
        const int read = ReadRecordBlock(file, block, length);
        EXPECT_EQ(read, row.sound ? 1 : -4);
        if (read == 1) {
            std::fclose(file);
        }
        EXPECT_EQ(ReaderMessage(read), refused);

        const Bytes inBlock(record.begin(), record.end() - 1);
        std::vector<record::BlockRecord> records;
        bool end = false;
        EXPECT_EQ(record::ParseBlock(inBlock.data(), inBlock.size(), records, end),
                  row.sound ? 0 : -4);
    }
}

// Identification in the working directory, with the time zone pinned so that the companion
// file's local time does not depend on the machine.
class IdentifyTest : public ::testing::Test {
  protected:
    void SetUp() override {
        const char* tz = std::getenv("TZ");
        savedTz_ = tz ? std::optional<std::string>(tz) : std::nullopt;
        // Japan's time, nine hours east of UTC, written as both C libraries read it.
        test::SetEnvironment("TZ", "JST-9");
    }
    void TearDown() override { test::SetEnvironment("TZ", savedTz_); }

    int Identify(int model) {
        test::WorkingDir cwd(dir_.path());
        const int before = test::OpenDescriptorCount();
        const Identification found = IdentifyDownloadFile(model);
        EXPECT_EQ(test::OpenDescriptorCount(), before) << "identification left a file open";
        if (found.message != 0) {
            messages_.push_back(found.message);
        }
        fileModelCode_ = found.identity.modelCode;
        fileVersion_ = found.identity.version;
        return found.result;
    }

    Bytes Image(std::uint8_t code0, std::uint8_t code1, std::uint8_t major, std::uint8_t minor) {
        return Join({HeaderRecord(), DataRecord(0x100, 16),
                     DataRecord(0x008800, {code0, code1, major, minor, 0, 0, 0, 0}),
                     DataRecord(0x200, 16), EndRecord()});
    }

    // The companion file, last modified at hh:mm:ss Japan time (UTC+9) on 2026-03-04.
    void Companion(int hour, int minute, int second) {
        const std::string path = dir_.File("PS2B.BIN", Join({DataRecord(0x300, 8), EndRecord()}));
        ASSERT_TRUE(test::SetLocalModificationTime(path, hour, minute, second));
    }

    test::ScratchDir dir_;
    std::vector<int> messages_;
    std::string fileModelCode_;
    std::string fileVersion_;
    std::optional<std::string> savedTz_;
};

TEST_F(IdentifyTest, EachModelFindsItsFileAndCode) {
    dir_.File("RS.BIN", Image(0xAA, 0x01, 0x01, 0x10));
    EXPECT_EQ(Identify(6), 0);
    EXPECT_EQ(fileModelCode_, "aa01");
    EXPECT_EQ(fileVersion_, "01.10");

    // The same file for model 1: result 0, but the codes differ and the version stays empty.
    EXPECT_EQ(Identify(1), 0);
    EXPECT_EQ(fileModelCode_, "aa01");
    EXPECT_EQ(fileVersion_, "");

    dir_.File("RS.BIN", Image(0x21, 0x01, 0x02, 0x00));
    EXPECT_EQ(Identify(5), 0);
    EXPECT_EQ(fileModelCode_, "2101");
    EXPECT_EQ(fileVersion_, "02.00");

    dir_.File("RS.BIN", Image(0x0A, 0x01, 0x01, 0x10));
    EXPECT_EQ(Identify(6), 0);
    EXPECT_EQ(fileModelCode_, "0a01");

    for (int model : {2, 3, 4}) {
        SCOPED_TRACE(model);
        const std::uint8_t codes[][2] = {{0x51, 0x01}, {0x51, 0x00}, {0x06, 0x01}};
        const char* expected[] = {"5101", "5100", "0601"};
        dir_.File("PS1B.BIN", Image(codes[model - 2][0], codes[model - 2][1], 0x01, 0x10));
        Companion(1, 10, 59);
        EXPECT_EQ(Identify(model), 0);
        EXPECT_EQ(fileModelCode_, expected[model - 2]);
    }
    EXPECT_TRUE(messages_.empty());
}

TEST_F(IdentifyTest, CompanionFileTimeMustMatchTheVersion) {
    dir_.File("PS1B.BIN", Image(0x51, 0x01, 0x01, 0x10));
    EXPECT_EQ(Identify(2), -1) << "companion file missing";
    Companion(13, 10, 0);
    EXPECT_EQ(Identify(2), -7);
    Companion(1, 11, 0);
    EXPECT_EQ(Identify(2), -7);
    Companion(1, 10, 0);
    EXPECT_EQ(Identify(2), 0);

    // A version with a hex letter never matches a time.
    dir_.File("PS1B.BIN", Image(0x51, 0x01, 0x0A, 0x10));
    EXPECT_EQ(Identify(2), -7);
    EXPECT_TRUE(messages_.empty());
}

TEST_F(IdentifyTest, FailuresAndTheirMessages) {
    EXPECT_EQ(Identify(0), -7);
    EXPECT_EQ(Identify(7), -7);
    EXPECT_EQ(Identify(6), -1) << "main file missing";
    EXPECT_TRUE(messages_.empty());
    EXPECT_EQ(fileModelCode_, "") << "no model code from a file that does not open";

    dir_.File("RS.BIN", Join({DataRecord(0x100, 8), EndRecord(), kWorkedExample}));
    EXPECT_EQ(Identify(6), -1);
    EXPECT_EQ(fileModelCode_, "");
    EXPECT_EQ(messages_, std::vector<int>{msg::kNoIdentRecord});

    messages_.clear();
    dir_.File("RS.BIN", Join({DataRecord(0x008800, {0xAA, 0x01, 0x01}), EndRecord()}));
    EXPECT_EQ(Identify(6), -1);
    EXPECT_EQ(messages_, std::vector<int>{msg::kNoIdentRecord});
}

}  // namespace
}  // namespace vexil
