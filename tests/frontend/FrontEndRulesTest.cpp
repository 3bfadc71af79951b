// The rules the front ends share, without a window: the octet ranges, what the address fields
// take, the controls by transport and download state, the result table and the confirmation's
// values and lines, and how a line is fitted into its box.
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "engine/DownloadRequest.h"
#include "frontend/AddressEntry.h"
#include "frontend/Confirmation.h"
#include "frontend/ControlStates.h"
#include "frontend/ResultReport.h"
#include "resources/DialogTemplates.h"
#include "resources/ResourceIds.h"
#include "resources/Text.h"
#include "tests/support/EngineFakes.h"
#include "tests/support/Requests.h"

namespace vexil {
namespace {

using test::Ipx;
using test::Tcp;

TEST(EntryRefusalTest, OctetRangesAndTheirMessages) {
    const struct {
        std::size_t index;
        double value;
        int message;
        int bound;
    } rows[] = {{0, 0, 119, 1},     {0, 1, 0, 0},    {0, 223, 0, 0},
                {0, 224, 118, 223}, {1, -1, 119, 0}, {1, 255, 0, 0},
                {2, 256, 118, 255}, {3, 0, 119, 1},  {3, 255.5, 118, 255}};
    for (const auto& row : rows) {
        int bound = 0;
        EXPECT_EQ(address::RangeMessage(row.index, row.value, bound), row.message)
            << row.index << " " << row.value;
        EXPECT_EQ(bound, row.bound) << row.index << " " << row.value;
    }
}

TEST(AddressFieldsTest, WhatTheFieldsTakeAndWhatLeavingAnOctetWrites) {
    const struct {
        const char* text;
        bool octet;  // may stand in an octet field
        bool hex;    // may stand in a hexadecimal field
    } texts[] = {
        {"", true, true},     {"192", true, true}, {"1.2", true, false},    {"1234", false, true},
        {"-1", false, false}, {"a", false, true},  {"00D1F0", false, true}, {"G", false, false},
        {" ", false, true},   {"~", false, false}, {"@", false, false},     {"[", false, false},
        {"`", false, false},  {"Z", false, false}, {"0F", false, true},
    };
    for (const auto& row : texts) {
        SCOPED_TRACE(row.text);
        EXPECT_EQ(address::IsOctetText(row.text), row.octet);
        const std::string text = row.text;
        EXPECT_EQ(address::IsHexFieldText(std::u32string(text.begin(), text.end())), row.hex);
    }
    EXPECT_TRUE(address::IsHexFieldText(U"あ")) << "only ASCII letters and punctuation are refused";

    const struct {
        std::size_t index;
        const char* text;
        int message;
        const char* shown;
    } held[] = {
        {0, "0", msg::kBelowMinimum, "1"},
        {0, "224", msg::kAboveMaximum, "223"},
        {0, "223", 0, "223"},
        {3, "0", msg::kBelowMinimum, "1"},
        {3, "255", 0, "255"},
        {1, "0", 0, "0"},
        {2, "256", msg::kAboveMaximum, "255"},
        {0, "1.2", 0, "1"},
        {1, "7.", 0, "7"},
        {1, ".", 0, "0"},
        {3, ".5", msg::kBelowMinimum, "1"},
        {0, "010", 0, "10"},
    };
    for (const auto& row : held) {
        SCOPED_TRACE(std::string(row.text) + " in octet " + std::to_string(row.index + 1));
        const address::HeldOctet result = address::HoldOctet(row.index, row.text);
        EXPECT_EQ(result.message, row.message);
        EXPECT_EQ(result.text, row.shown);
    }
}

TEST(ControlStatesTest, TheTransportAndADownloadEnableTheirControls) {
    using controls::Change;
    auto enabled = [](const std::vector<Change>& changes, int id) {
        for (const Change& change : changes) {
            if (change.id == id) {
                return change.enabled ? 1 : 0;
            }
        }
        return -1;  // untouched
    };
    using Transport = controls::Transport;
    const struct {
        controls::Transport transport;
        int octet, mac, tcpBox, ipxBox, group;
    } transports[] = {{Transport::kNone, 0, 0, 0, 0, 0},
                      {Transport::kTcp, 1, 0, 1, 1, 0},
                      {Transport::kIpx, 0, 1, 1, 1, 0}};
    for (const auto& row : transports) {
        SCOPED_TRACE(static_cast<int>(row.transport));
        const auto changes = controls::TransportChanges(row.transport);
        EXPECT_EQ(enabled(changes, control::kOctet4), row.octet);
        EXPECT_EQ(enabled(changes, control::kNetworkAddress), row.mac);
        EXPECT_EQ(enabled(changes, control::kMacAddress), row.mac);
        EXPECT_EQ(enabled(changes, control::kTcpCheck), row.tcpBox);
        EXPECT_EQ(enabled(changes, control::kIpxCheck), row.ipxBox);
        EXPECT_EQ(enabled(changes, control::kIpGroup), row.group);
    }
    using enum controls::State;
    const struct {
        controls::State state;
        int models, ipxBox, octet, mac, cancel;
    } states[] = {
        {kLocked, 0, 0, 0, 0, -1},
        {kTcpOnlyModel, 1, 0, 1, -1, -1},
        {kTcp, 1, 1, 1, -1, -1},
        {kIpx, 1, 1, -1, 1, -1},
    };
    for (const auto& row : states) {
        SCOPED_TRACE(static_cast<int>(row.state));
        const auto changes = controls::StateChanges(row.state);
        EXPECT_EQ(enabled(changes, control::kModelList), row.models);
        EXPECT_EQ(enabled(changes, control::kIpxCheck), row.ipxBox);
        EXPECT_EQ(enabled(changes, control::kOctet1), row.octet);
        EXPECT_EQ(enabled(changes, control::kMacAddress), row.mac);
        EXPECT_EQ(enabled(changes, control::kCancel), row.cancel) << "cancel stays usable";
    }
    controls::State after = kLocked;
    EXPECT_FALSE(controls::StateAfter({false, false, true}, after));
    ASSERT_TRUE(controls::StateAfter({true, true, true}, after));
    EXPECT_EQ(after, kTcpOnlyModel);
    ASSERT_TRUE(controls::StateAfter({true, false, true}, after));
    EXPECT_EQ(after, kIpx);
    ASSERT_TRUE(controls::StateAfter({true, false, false}, after));
    EXPECT_EQ(after, kTcp);

    EXPECT_TRUE(controls::PicksLanCard(0, kModelNames[0]));
    EXPECT_FALSE(controls::PicksLanCard(1, kModelNames[0]));
    EXPECT_FALSE(controls::PicksLanCard(-1, ""));
    EXPECT_FALSE(controls::PicksLanCard(0, "LAN"));
}

TEST(ResultTableTest, MessagesAndStatusLineOfEachResult) {
    const Icon e = Icon::Error;
    const struct {
        int result;
        std::vector<ShownMessage> messages;
        StatusLine status;
    } rows[] = {
        {0, {{110, Icon::Information}}, StatusLine::kUntouched},
        {-1, {{109, e}, {57621, e}}, StatusLine::kUntouched},
        {-2, {{57613, e}, {57621, e}}, StatusLine::kUntouched},
        {-5, {{111, e}}, StatusLine::kUntouched},
        {-6, {}, StatusLine::kUntouched},
        {-7, {{57623, e}}, StatusLine::kHiddenBefore},
        {-9, {{57622, e}}, StatusLine::kSendingFailedThenHidden},
        {-13, {{57621, e}}, StatusLine::kSendingFailedThenHidden},
        {-14, {{57631, e}}, StatusLine::kSendingFailedThenHidden},
        {-99, {{57623, e}}, StatusLine::kHiddenBefore},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.result);
        EXPECT_EQ(FindResult(row.result).status, row.status);
        // The outcome keeps what the sequence showed and adds the result's messages.
        DownloadOutcome outcome;
        outcome.result = static_cast<DownloadResult>(row.result);
        outcome.messages = {{121, Icon::Information}};
        test::RecordingPort port;
        ReportOutcome(outcome, port, port);
        std::vector<ShownMessage> expected = {{121, Icon::Information}};
        expected.insert(expected.end(), row.messages.begin(), row.messages.end());
        EXPECT_EQ(outcome.messages, expected);
        EXPECT_EQ(port.messages.size(), row.messages.size());
        const bool error = !row.messages.empty() && row.messages[0].icon == e;
        EXPECT_EQ(outcome.FirstErrorMessage(), error ? row.messages[0].stringId : 0);
        EXPECT_EQ(outcome.LastMessage(), row.messages.empty() ? 121 : row.messages.back().stringId);
    }
}

TEST(ConfirmationTest, ValuesAsShownAndAsConsoleLines) {
    // The octets as typed, joined without a check; over IPX the MAC address alone.
    const ConfirmationValues tcp = MakeConfirmation(Tcp({"192", "168", "0", "10"}), "", "01.10");
    EXPECT_EQ(tcp, (ConfirmationValues{"192.168.0.10", "", "01.10"}));
    EXPECT_EQ(ShownConfirmation(tcp), (std::array<std::string, 3>{"192.168.0.10", "?", "1.10"}));
    EXPECT_EQ(ConfirmationLines(tcp),
              (std::array<std::string, 3>{"指定されたターゲット 192.168.0.10 の",
                                          "現在のバージョンは ? です。",
                                          "ダウンロードするファイルのバージョンは、 1.10 です。"}));

    const ConfirmationValues ipx =
        MakeConfirmation(Ipx("00000001", "00D1F0AB", "127"), "1.10", "12.34");
    EXPECT_EQ(ShownConfirmation(ipx), (std::array<std::string, 3>{"00D1F0AB", "1.10", "2.34"}));
    // The console writes both versions whole, as its log and JSON do.
    EXPECT_EQ(ConfirmationLines(ipx)[2], "ダウンロードするファイルのバージョンは、 12.34 です。");
    const auto hex = ConfirmationLines(MakeConfirmation(Ipx("", ""), "a.05", "0A.0F"));
    EXPECT_EQ(hex[1], "現在のバージョンは a.05 です。");
    EXPECT_EQ(hex[2], "ダウンロードするファイルのバージョンは、 a.0f です。");
    EXPECT_EQ(ShownConfirmation(MakeConfirmation(Ipx("", ""), "", ""))[2], "");
    // In English a full stop follows its value directly.
    SetLanguage(Language::kEnglish);
    EXPECT_EQ(ConfirmationLines(tcp),
              (std::array<std::string, 3>{"The print server 192.168.0.10 has", "the version ? now.",
                                          "The file to download has the version 1.10."}));
    SetLanguage(Language::kJapanese);
}

TEST(ConfirmationTest, ALineIsNarrowedInStepsUntilItFits) {
    // A line 100 wide at the font's own width, in boxes of these widths.
    const struct {
        int room;
        int stretch;
    } rows[] = {{100, 100}, {150, 100}, {99, 95}, {95, 95}, {94, 90}, {50, 50}, {10, 50}};
    for (const auto& row : rows) {
        std::vector<int> measured;
        const int stretch = FittingStretch(row.room, [&measured](int at) {
            measured.push_back(at);
            return at;
        });
        EXPECT_EQ(stretch, row.stretch) << row.room;
        EXPECT_EQ(measured.back(), std::max(row.stretch, 55))
            << "no width is measured after it fits";
    }
}

}  // namespace
}  // namespace vexil
