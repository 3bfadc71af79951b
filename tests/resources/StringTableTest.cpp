#include "resources/StringTable.h"

#include <gtest/gtest.h>

namespace vexil {
namespace {

TEST(StringTableTest, TextsAreExactBytes) {
    EXPECT_EQ(LoadString(110),
              "\xE3\x83\x80\xE3\x82\xA6\xE3\x83\xB3\xE3\x83\xAD\xE3\x83\xBC\xE3\x83\x89\xE3\x81"
              "\x8C\xE7\xB5\x82\xE4\xBA\x86\xE3\x81\x97\xE3\x81\xBE\xE3\x81\x97\xE3\x81\x9F\xE3"
              "\x80\x82\r\n\xE3\x83\x97\xE3\x83\xAA\xE3\x83\xB3\xE3\x82\xBF\xE3\x81\xAE\xE9\x9B"
              "\xBB\xE6\xBA\x90\xE3\x82\x92\xE3\x83\xAA\xE3\x82\xBB\xE3\x83\x83\xE3\x83\x88\xE3"
              "\x81\x97\xE3\x81\xA6\xE3\x81\x8F\xE3\x81\xA0\xE3\x81\x95\xE3\x81\x84\xE3\x80\x82");
    // Half-width katakana stay half-width.
    EXPECT_EQ(LoadString(101),
              "\xEF\xBE\x8A\xEF\xBE\x9E\xEF\xBD\xB0\xEF\xBD\xBC\xEF\xBE\x9E\xEF"
              "\xBD\xAE\xEF\xBE\x9D\xE6\x83\x85\xE5\xA0\xB1(Vexilware) (&A)...");
    EXPECT_EQ(LoadString(57603),
              "\xE3\x83\x95\xE3\x82\xA1\xE3\x82\xA4\xE3\x83\xAB\xE5\xBD\xA2"
              "\xE5\xBC\x8F(*.bin)|*.bin||");
    EXPECT_EQ(LoadString(57630), "?");
    // 57631 breaks its line with "\n\r", unlike the others.
    EXPECT_NE(LoadString(57631).find("\n\r"), std::string_view::npos);
    EXPECT_EQ(LoadString(57623).find('\r'), std::string_view::npos);
}

TEST(StringTableTest, EveryNumberedMessageIsThere) {
    for (int id : {101,   102,   103,   104,   105,   106,   109,   110,   111,   112,   113,
                   115,   116,   117,   118,   119,   120,   121,   122,   57601, 57603, 57604,
                   57605, 57606, 57610, 57611, 57612, 57613, 57614, 57615, 57616, 57620, 57621,
                   57622, 57623, 57624, 57625, 57626, 57627, 57628, 57630, 57631}) {
        EXPECT_FALSE(LoadString(id).empty()) << id;
    }
    EXPECT_TRUE(LoadString(107).empty());
    EXPECT_TRUE(LoadString(0).empty());
}

}  // namespace
}  // namespace vexil
