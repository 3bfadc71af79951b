#include "format/FlashImage.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include "tests/support/TestFiles.h"

namespace vexil {
namespace {

// The flash file written over a longer one from an earlier run ends where the image does: a
// tail of old bytes would read as part of the image.
TEST(FlashImageTest, FlashFileWrittenOverALongerOne) {
    test::ScratchDir dir;
    const std::filesystem::path flash = dir.path() / "flash.bin";
    std::ofstream(flash, std::ios::binary) << std::string(4096, 'x');
    FlashImage image;
    const std::uint8_t bytes[] = {0xAA, 0x01, 0x01, 0x10};
    image.Write(0x8800, bytes, sizeof bytes);
    Reason error;
    ASSERT_TRUE(image.SaveBinary(flash.string(), error)) << static_cast<int>(error.kind);
    EXPECT_EQ(std::filesystem::file_size(flash), sizeof bytes);
}

// Written bytes come back as runs of consecutive addresses. Two regions that each fill whole
// pages, with whole empty pages between them, stay two runs: taken as one, the second would be
// written right behind the first.
TEST(FlashImageTest, RangesKeepRegionsApartAcrossEmptyPages) {
    struct Row {
        const char* name;
        std::vector<std::pair<std::uint32_t, std::size_t>> writes;  // address, length
        std::vector<std::pair<std::uint32_t, std::size_t>> ranges;
    };
    const std::vector<Row> rows = {
        {"whole pages, empty pages between",
         {{0x0000, 0x1000}, {0x8000, 0x1000}},
         {{0x0000, 0x1000}, {0x8000, 0x1000}}},
        {"next pages", {{0x0000, 0x1000}, {0x1000, 0x1000}}, {{0x0000, 0x2000}}},
        {"a gap inside a page", {{0x0010, 0x10}, {0x0030, 0x10}}, {{0x0010, 0x10}, {0x0030, 0x10}}},
        {"ending at a page's end, the next starting past the next page's start",
         {{0x0FF0, 0x10}, {0x1001, 0x10}},
         {{0x0FF0, 0x10}, {0x1001, 0x10}}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        FlashImage image;
        for (const auto& [address, length] : row.writes) {
            const std::vector<std::uint8_t> bytes(length, 0x5A);
            image.Write(address, bytes.data(), bytes.size());
        }
        std::vector<std::pair<std::uint32_t, std::size_t>> got;
        for (const FlashImage::Range& range : image.Ranges()) {
            got.emplace_back(range.address, range.bytes.size());
        }
        EXPECT_EQ(got, row.ranges);
    }
}

}  // namespace
}  // namespace vexil
