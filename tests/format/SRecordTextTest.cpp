#include "format/SRecordText.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "resources/Reasons.h"

namespace vexil {
namespace {

using Bytes = std::vector<std::uint8_t>;

TEST(SRecordTextTest, LinesReadOrRefused) {
    struct Row {
        const char* text;
        const char* error;  // empty: read
        std::uint32_t address;
        Bytes data;
    };
    const std::vector<Row> rows = {
        {"S1050100AABB94\n", "", 0x0100, {0xAA, 0xBB}},
        {"S0030000FC\r\nS1050100AABB94 \n\n", "", 0x0100, {0xAA, 0xBB}},
        {"S30601000000AB4D", "", 0x01000000, {0xAB}},
        {"S0030000FC\nS70500000000FA\n", "", 0, {}},
        {"s1050100AABB94", "line 1: not an S-record", 0, {}},
        {"S0030000FC\nS1050100AABB95", "line 2: checksum mismatch", 0, {}},
        {"S1050100AABB9", "line 1: odd number of hexadecimal digits", 0, {}},
        {"S1050100AABBZZ", "line 1: not a hexadecimal digit", 0, {}},
        {"S1060100AABB94", "line 1: count does not match the record's length", 0, {}},
        {"S4030000FC", "line 1: S4 is not a record type", 0, {}},
        {"S10200FD", "line 1: record too short for its address", 0, {}},
        {"S307FFFFFFFF0102F9", "line 1: data runs past the end of the address space", 0, {}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.text);
        FlashImage image;
        Reason error;
        EXPECT_EQ(LoadSRecords(row.text, image, error), *row.error == '\0');
        EXPECT_EQ(Words(error, Language::kEnglish), row.error);
        const auto ranges = image.Ranges();
        if (row.data.empty()) {
            EXPECT_TRUE(ranges.empty());
        } else {
            ASSERT_EQ(ranges.size(), 1u);
            EXPECT_EQ(ranges[0].address, row.address);
            EXPECT_EQ(ranges[0].bytes, row.data);
        }
    }
}

TEST(SRecordTextTest, FormatWritesHandWorkedLines) {
    FlashImage image;
    const std::uint8_t bytes[3] = {1, 2, 3};
    image.Write(0x001000, bytes, 3);
    EXPECT_EQ(FormatSRecords(image), "S0030000FC\nS207001000010203E2\nS804000000FB\n");
    EXPECT_EQ(FormatSRecords(image, 2),
              "S0030000FC\nS2060010000102E6\nS20500100203E5\nS804000000FB\n");

    // Addresses past 24 bits take S3 records and the S7 terminator.
    FlashImage wide;
    const std::uint8_t byte = 0xAB;
    wide.Write(0x01000000, &byte, 1);
    const std::string text = FormatSRecords(wide);
    EXPECT_EQ(text, "S0030000FC\nS30601000000AB4D\nS70500000000FA\n");
    FlashImage back;
    Reason error;
    ASSERT_TRUE(LoadSRecords(text, back, error)) << Words(error, Language::kEnglish);
    EXPECT_EQ(back.Ranges()[0].bytes, Bytes{0xAB});
}

}  // namespace
}  // namespace vexil
