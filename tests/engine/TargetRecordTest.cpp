#include "engine/TargetRecord.h"

#include <gtest/gtest.h>

#include <cstdint>

namespace vexil {
namespace {

TEST(TargetRecordTest, CreatedZeroWithBothFamilies) {
    auto record = CreateTargetRecord();
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(record.get());
    for (std::size_t i = 0; i < sizeof(TAVDL_ADDR); ++i) {
        if (i == 12) {
            EXPECT_EQ(bytes[i], 2);
        } else if (i == 28) {
            EXPECT_EQ(bytes[i], 6);
        } else {
            EXPECT_EQ(bytes[i], 0) << "byte " << i;
        }
    }
    SetInetPort(*record, 5031);
    SetIpxSocket(*record, 0x4100);
    SetInetAddress(*record, Ipv4Address(192, 0, 2, 10));
    SetIpxNode(*record, {0x00, 0xD1, 0xF0, 0x12, 0x34, 0x56});
    EXPECT_EQ(bytes[14], 0x13);
    EXPECT_EQ(bytes[15], 0xA7);
    EXPECT_EQ(bytes[40], 0x41);
    EXPECT_EQ(bytes[41], 0x00);
    EXPECT_EQ(bytes[16], 192);
    EXPECT_EQ(bytes[19], 10);
    EXPECT_EQ(bytes[34], 0x00);
    EXPECT_EQ(bytes[39], 0x56);
    SetModelCode(*record, "aa01");
    EXPECT_EQ(bytes[112], 'a');
    EXPECT_EQ(bytes[116], 0);
    EXPECT_EQ(ModelCode(*record), "aa01");
    EXPECT_EQ(InetPort(*record), 5031);
    EXPECT_EQ(IpxSocket(*record), 0x4100);
}

}  // namespace
}  // namespace vexil
