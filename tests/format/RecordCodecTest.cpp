#include "format/RecordCodec.h"

#include <gtest/gtest.h>

#include "tests/support/Records.h"

namespace vexil {
namespace {

using test::Bytes;

using test::kWorkedExample;

TEST(RecordCodecTest, WorkedExampleBothWays) {
    Bytes encoded;
    const std::uint8_t data[8] = {0xAA, 0x01, 0x01, 0x10, 0, 0, 0, 0};
    record::AppendDataRecord(encoded, 0x008800, data, sizeof data);
    EXPECT_EQ(encoded, kWorkedExample);

    const record::Head head = record::DecodeHead(kWorkedExample.data());
    EXPECT_EQ(head.type, '2');
    EXPECT_EQ(head.count, 12);
    EXPECT_EQ(record::DecodeAddress(kWorkedExample.data() + 3), 0x008800u);
    EXPECT_EQ(record::Checksum(kWorkedExample.data() + 2, 12), 0xAF);
    const std::uint8_t negative[3] = {'S', '2', 0x80};
    EXPECT_EQ(record::DecodeHead(negative).count, -128) << "the count is a signed byte";

    // The sum goes a word at a time: every length and alignment gives the plain byte sum.
    Bytes bytes(1100);
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        bytes[i] = static_cast<std::uint8_t>(i * 37 + 11);
    }
    for (std::size_t start : {0, 3}) {
        unsigned sum = 0;
        for (std::size_t count = 0; start + count <= bytes.size(); ++count) {
            ASSERT_EQ(record::Checksum(bytes.data() + start, count), (~sum & 0xFF)) << count;
            if (start + count < bytes.size()) {
                sum += bytes[start + count];
            }
        }
    }

    Bytes end;
    record::AppendEndRecord(end);
    EXPECT_EQ(end, (Bytes{'S', '8', 0x04, 0x00, 0x00, 0x00, 0xFB, 0x0A}));
}

TEST(RecordCodecTest, ParseBlockChecksEveryRecord) {
    // The worked example as it lies in a block, without its line feed.
    const Bytes data(kWorkedExample.begin(), kWorkedExample.end() - 1);
    Bytes badChecksum = data;
    badChecksum.back() ^= 0x01;
    struct Row {
        const char* name;
        Bytes block;
        int result;
        std::size_t records;
        bool end;
    };
    const std::vector<Row> rows = {
        {"header, data, end", test::Join({{'S', '0', 0}, data, {'S', '8', 4}}), 0, 3, true},
        {"data without an end", data, 0, 1, false},
        {"checksum", badChecksum, -2, 0, false},
        {"count 3 leaves no checksum", {'S', '2', 0x03, 0x00, 0x88, 0x00}, -4, 0, false},
        {"count past the block", Bytes(data.begin(), data.end() - 1), -4, 0, false},
        {"record after the end", test::Join({{'S', '8', 4}, {'S', '0', 0}}), -4, 0, false},
        {"unknown type", {'S', '5', 0x03}, -4, 0, false},
        {"head cut short", test::Join({data, {'S', '8'}}), -4, 0, false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        std::vector<record::BlockRecord> records;
        bool end = true;
        EXPECT_EQ(record::ParseBlock(row.block.data(), row.block.size(), records, end), row.result);
        if (row.result == 0) {
            EXPECT_EQ(records.size(), row.records);
            EXPECT_EQ(end, row.end);
        }
    }
    std::vector<record::BlockRecord> records;
    bool end = false;
    ASSERT_EQ(record::ParseBlock(data.data(), data.size(), records, end), 0);
    EXPECT_EQ(records[0].address, 0x008800u);
    EXPECT_EQ(Bytes(records[0].data, records[0].data + records[0].dataLength),
              (Bytes{0xAA, 0x01, 0x01, 0x10, 0, 0, 0, 0}));
}

}  // namespace
}  // namespace vexil
