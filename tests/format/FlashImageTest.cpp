#include "format/FlashImage.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>

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
    std::string error;
    ASSERT_TRUE(image.SaveBinary(flash.string(), error)) << error;
    EXPECT_EQ(std::filesystem::file_size(flash), sizeof bytes);
}

}  // namespace
}  // namespace vexil
