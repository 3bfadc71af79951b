// What a front end hands the engine, without the engine: the address checks of a request in
// the order the user meets them, the target record made of it, and the hexadecimal text read
// into bytes.
#include <gtest/gtest.h>

#include "engine/DownloadRequest.h"
#include "engine/TargetAddress.h"
#include "engine/TargetRecord.h"
#include "tests/support/Requests.h"

namespace vexil {
namespace {

using test::Ipx;
using test::Tcp;

TEST(EntryRefusalTest, EachRefusalInTheOrderTheUserMeetsIt) {
    const struct {
        const char* name;
        DownloadRequest request;
        int refusal;
    } rows[] = {
        {"usable", Tcp({"192", "0", "2", "1"}), 0},
        {"loopback", Tcp({"127", "", "", ""}), 57620},
        {"loopback before the IPX checks", Ipx("00000001", "00D1", "127"), 57620},
        {"empty first octet", Tcp({"", "0", "2", "1"}), 57605},
        {"empty later octet", Tcp({"192", "", "2", "1"}), 57605},
        {"first octet 0", Tcp({"0", "1", "2", "3"}), 57611},
        {"four zero bytes, silently", Tcp({"00", "0", "0", "0"}), kSilentRefusal},
        {"IPX leaves the octets alone", Ipx("00000001", "00D1F0ABCDEF", ""), 0},
        {"short MAC address", Ipx("ABC", "00D1F012345"), 57606},
        {"long MAC address", Ipx("ABC", "00D1F01234567"), 57606},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(EntryRefusal(row.request), row.refusal) << row.name;
    }
}

TEST(FillTargetRecordTest, TheRecordOfARequest) {
    TargetRecordPtr record = CreateTargetRecord();
    DownloadRequest tcp = Tcp({"192", "0", "2", "1"});
    tcp.modelIndex = 5;
    FillTargetRecord(tcp, *record);
    EXPECT_EQ(record->mode, TAVDL_MODE_TCP_QUERY);
    EXPECT_EQ(record->modelIndex, 5);
    EXPECT_EQ(InetAddress(*record), (std::array<std::uint8_t, 4>{192, 0, 2, 1}));

    // Hexadecimal text two digits a byte, a last odd digit dropped, the rest zero.
    FillTargetRecord(Ipx("ABC", "00d1f0abcdef"), *record);
    EXPECT_EQ(record->mode, TAVDL_MODE_IPX);
    EXPECT_EQ(IpxNetwork(*record), (std::array<std::uint8_t, 4>{0xAB, 0, 0, 0}));
    EXPECT_EQ(IpxNode(*record), (std::array<std::uint8_t, 6>{0x00, 0xD1, 0xF0, 0xAB, 0xCD, 0xEF}));
}

TEST(HexTextToBytesTest, Examples) {
    std::array<std::uint8_t, 6> bytes{9, 9, 9, 9, 9, 9};
    EXPECT_EQ(address::HexTextToBytes("", bytes), 0);
    EXPECT_EQ(bytes[0], 9) << "an empty text leaves the output alone";
    EXPECT_EQ(address::HexTextToBytes("ABC", bytes), 1);
    EXPECT_EQ(bytes, (std::array<std::uint8_t, 6>{0xAB, 0, 0, 0, 0, 0}));
    std::array<std::uint8_t, 6> lower{};
    address::HexTextToBytes("00d1f0abcdef99", lower);
    std::array<std::uint8_t, 6> upper{};
    address::HexTextToBytes("00D1F0ABCDEF", upper);
    EXPECT_EQ(lower, upper);
    address::HexTextToBytes("1G2 ", bytes);
    EXPECT_EQ(bytes, (std::array<std::uint8_t, 6>{0x10, 0x20, 0, 0, 0, 0}));
}

}  // namespace
}  // namespace vexil
