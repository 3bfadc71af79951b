#include "engine/DownloadEngine.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <utility>

#include "engine/ModelTable.h"
#include "engine/TargetRecord.h"
#include "format/DownloadFileReader.h"
#include "tests/support/EngineFakes.h"
#include "tests/support/TestFiles.h"

namespace vexil {
namespace {

using test::Bytes;
using test::DataRecord;
using test::EndRecord;
using test::Join;
using test::Op;
using test::RecordedMessage;
using test::Reply;

Bytes IdentRecord(std::uint8_t code0, std::uint8_t code1) {
    return DataRecord(0x008800, {code0, code1, 0x01, 0x10, 0, 0, 0, 0});
}

// The records of an image: a header, the identification record, `records` data records of 32
// data bytes and the end record.
std::vector<Bytes> ImageRecords(std::uint8_t code0, std::uint8_t code1, int records) {
    std::vector<Bytes> parts = {test::HeaderRecord(), IdentRecord(code0, code1)};
    for (int i = 0; i < records; ++i) {
        parts.push_back(DataRecord(0x20000 + 32 * i, 32, static_cast<std::uint8_t>(i)));
    }
    parts.push_back(EndRecord());
    return parts;
}
Bytes Image(std::uint8_t code0, std::uint8_t code1, int records) {
    return Join(ImageRecords(code0, code1, records));
}

// What the transfer must send of these records, worked out from the format rather than read by
// the reader: the records end to end, each data record without its line feed.
Bytes WithoutLineFeeds(const std::vector<Bytes>& records) {
    Bytes all;
    for (const Bytes& record : records) {
        const bool data = record[1] == '2';
        all.insert(all.end(), record.begin(), data ? record.end() - 1 : record.end());
    }
    return all;
}

class EngineTest : public ::testing::Test {
  protected:
    EngineTest() : cwd_(dir_.path()) {
        request_.octets = {"192", "0", "2", "1"};
        request_.network = "00000001";
        request_.mac = "00D1F0000001";
        request_.modelIndex = 6;
        request_.firstListEntry = true;
        dir_.File("RS.BIN", Image(0xAA, 0x01, 20));
        fdsBefore_ = test::OpenDescriptorCount();
    }
    ~EngineTest() override {
        EXPECT_EQ(test::OpenDescriptorCount(), fdsBefore_) << "a download file was left open";
    }

    int RunTcp() {
        request_.ipx = false;
        last_ = engine_.Run(request_);
        return last_.result;
    }
    int RunIpx() {
        request_.ipx = true;
        last_ = engine_.Run(request_);
        return last_.result;
    }
    std::vector<int> MessageIds() const {
        std::vector<int> ids;
        for (const auto& m : port_.messages) {
            ids.push_back(m.id);
        }
        return ids;
    }
    // The blocks as the engine sent them, without IPX prefixes, for comparison with the file.
    Bytes SentImage(std::size_t prefix) const {
        Bytes all;
        for (const auto& call : transport_.CallsOf(Op::SendData)) {
            all.insert(all.end(), call.data.begin() + static_cast<long>(prefix), call.data.end());
        }
        return all;
    }
    // The length of every block sent, prefix included.
    std::vector<std::size_t> SentLengths() const {
        std::vector<std::size_t> lengths;
        for (const auto& call : transport_.CallsOf(Op::SendData)) {
            lengths.push_back(call.data.size());
        }
        return lengths;
    }

    test::ScratchDir dir_;
    test::WorkingDir cwd_;
    test::ScriptedTransport transport_;
    test::RecordingPort port_;
    DownloadRequest request_;
    DownloadOutcome last_;
    DownloadEngine engine_{transport_, port_};
    int fdsBefore_ = 0;
};

TEST_F(EngineTest, TcpDownloadRunsEveryStepInOrder) {
    const std::int64_t start = port_.now;
    EXPECT_EQ(RunTcp(), 0);
    EXPECT_EQ(port_.messages,
              (std::vector<RecordedMessage>{{121, Icon::Information}, {122, Icon::Warning}}));
    EXPECT_EQ(port_.statusLog,
              (std::vector<std::string>{"text 57626", "show", "text 57627", "text 57628", "hide"}));
    EXPECT_EQ(port_.events, (std::vector<std::string>{"started"}));
    EXPECT_EQ(last_.deviceVersion, "1.10");
    EXPECT_EQ(last_.deviceModelCode, "aa01");
    EXPECT_EQ(last_.fileVersion, "01.10");
    EXPECT_EQ(port_.confirmations,
              (std::vector<ConfirmationValues>{{"192.0.2.1", "1.10", "01.10"}}));

    const auto& calls = transport_.calls;
    ASSERT_GE(calls.size(), 8u);
    EXPECT_EQ(calls[0].window, &port_) << "the wait hook's argument is the port's window";
    EXPECT_EQ(calls[0].modelCode, "aa01") << "the model's code, put in the record by the engine";
    auto expect = [](const test::Call& call, Op op, int mode, int wait, int port) {
        EXPECT_EQ(call.op, op);
        EXPECT_EQ(call.mode, mode);
        EXPECT_EQ(call.waitSeconds, wait);
        EXPECT_EQ(call.port, port);
    };
    expect(calls[0], Op::VantrelVersion, 1, 2, 5031);
    expect(calls[1], Op::JampEprom, 1, 5, 5021);
    expect(calls[2], Op::OpenSocket, 0, 10, 5001);
    expect(calls[3], Op::Connection, 0, 2, 5001);
    expect(calls[4], Op::Erase, 0, 60, 5001);
    expect(calls[5], Op::SendData, 0, 30, 5001);
    const auto finish = transport_.CallsOf(Op::Finish);
    ASSERT_EQ(finish.size(), 1u);
    EXPECT_EQ(finish[0].data, (Bytes{0x71, 0x03}));
    EXPECT_EQ(finish[0].waitSeconds, 2);
    EXPECT_EQ(calls.back().op, Op::CloseSocket);
    EXPECT_EQ(transport_.closeCount, 1);

    // The image went out block by block: six records a block, the end record closing the last
    // (header 3 + identification 15 + 4 x 39; 6 x 39 twice; 4 x 39 + end record 3).
    EXPECT_EQ(SentLengths(), (std::vector<std::size_t>{174, 234, 234, 159}));
    EXPECT_EQ(SentImage(0), WithoutLineFeeds(ImageRecords(0xAA, 0x01, 20)));
    EXPECT_EQ(port_.progressPositions, (std::vector<int>{kProgressMax}));
    // The prescribed waits of 10, 10 and 5 seconds ran on the fake clock.
    EXPECT_GE(port_.now - start, 25'000);
    EXPECT_LT(port_.now - start, 29'000);
}

TEST_F(EngineTest, IpxDownloadUsesItsOwnAttemptsWaitsAndPrefix) {
    EXPECT_EQ(RunIpx(), 0);
    const auto& calls = transport_.calls;
    EXPECT_EQ(calls[0].op, Op::VantrelVersion);
    EXPECT_EQ(calls[0].waitSeconds, 5);
    EXPECT_EQ(calls[0].ipxSocket, 0) << "the query does not set the socket number";
    EXPECT_EQ(calls[1].op, Op::JampEprom);
    EXPECT_EQ(calls[1].ipxSocket, 0x4100);
    EXPECT_EQ(calls[2].op, Op::OpenSocket);
    EXPECT_EQ(calls[2].waitSeconds, 10);
    EXPECT_EQ(calls[3].waitSeconds, 10);
    EXPECT_EQ(calls[4].op, Op::Erase);
    EXPECT_EQ(calls[4].waitSeconds, 40);
    for (const auto& call : calls) {
        if (call.op != Op::CloseSocket) {
            EXPECT_EQ(call.mode, 2);
        }
    }
    // Every block carries the prefix with the next sequence number, from 0x0004 on.
    const auto sends = transport_.CallsOf(Op::SendData);
    for (std::size_t i = 0; i < sends.size(); ++i) {
        const Bytes prefix(sends[i].data.begin(), sends[i].data.begin() + 8);
        EXPECT_EQ(prefix, (Bytes{1, 0, 0, 0, 0, static_cast<std::uint8_t>(4 + i), 0, 0}));
    }
    EXPECT_EQ(SentLengths(), (std::vector<std::size_t>{182, 242, 242, 167}));
    EXPECT_EQ(SentImage(8), WithoutLineFeeds(ImageRecords(0xAA, 0x01, 20)));
    const auto finish = transport_.CallsOf(Op::Finish);
    ASSERT_EQ(finish.size(), 1u);
    EXPECT_EQ(finish[0].data,
              (Bytes{0x01, 0x00, 0x00, 0x00, 0x00, static_cast<std::uint8_t>(4 + sends.size()),
                     0x00, 0x03, 0x71, 0x0A, 0x00}));
    EXPECT_EQ(port_.events, (std::vector<std::string>{"started"}));
    EXPECT_EQ(transport_.closeCount, 1);
}

TEST_F(EngineTest, FileCheckRefusesAMissingOrForeignFile) {
    std::filesystem::remove("RS.BIN");
    EXPECT_EQ(RunTcp(), result::kNotStarted);
    EXPECT_EQ(port_.messages, (std::vector<RecordedMessage>{{57604, Icon::Warning}}));

    port_.messages.clear();
    dir_.File("RS.BIN", Image(0x16, 0x01, 2));
    EXPECT_EQ(RunIpx(), result::kNotStarted);
    EXPECT_EQ(port_.messages, (std::vector<RecordedMessage>{{57604, Icon::Warning}}));

    port_.messages.clear();
    dir_.File("RS.BIN", Join({DataRecord(0x100, 4), EndRecord()}));
    EXPECT_EQ(RunTcp(), result::kNotStarted);
    EXPECT_EQ(port_.messages,
              (std::vector<RecordedMessage>{{117, Icon::Error}, {57604, Icon::Warning}}));
    EXPECT_TRUE(transport_.calls.empty()) << "no traffic before the file is sound";

    // A first block of 507 bytes with its last line feed (header 3, identification 15 and four
    // records of 115 data bytes, 122 each, then the line feed): within TCP/IP's 512 bytes, past
    // the 504 that IPX leaves. The IPX download's file check reads with the IPX limit: the
    // reader's 105, then 57604, and nothing sent; over TCP/IP the same file goes out.
    std::vector<Bytes> wide = {test::HeaderRecord(), IdentRecord(0xAA, 0x01)};
    for (int i = 0; i < 4; ++i) {
        wide.push_back(DataRecord(0x20000 + 115 * i, 115));
    }
    wide.push_back(EndRecord());
    dir_.File("RS.BIN", Join(wide));
    port_.messages.clear();
    EXPECT_EQ(RunIpx(), result::kNotStarted);
    EXPECT_EQ(port_.messages,
              (std::vector<RecordedMessage>{{105, Icon::Error}, {57604, Icon::Warning}}));
    EXPECT_TRUE(transport_.calls.empty()) << "no traffic before the file is sound";
    EXPECT_EQ(RunTcp(), 0);
    EXPECT_EQ(SentLengths().front(), 506u);
}

TEST_F(EngineTest, VersionQueryRetriesAndItsMessages) {
    // No answer: one call, message 112; the 0xFF stays in the buffer and the model check fails.
    transport_.Queue(Op::VantrelVersion, {0, {0xFF}});
    EXPECT_EQ(RunTcp(), result::kWrongModel);
    EXPECT_EQ(transport_.calls.size(), 1u);
    EXPECT_EQ(port_.messages, (std::vector<RecordedMessage>{{112, Icon::Error}}));

    // Three replies that are not valid: 113 three times, no 112, buffer cleared after each, so
    // the model check passes and the confirmation (declined here) follows.
    port_.messages.clear();
    port_.confirm = false;
    transport_.Queue(Op::VantrelVersion, {0, {5, 1, 1, 1, 1, 1, 0x0B, 0x01, 1, 1}}, 3);
    EXPECT_EQ(RunTcp(), result::kNotStarted);
    EXPECT_EQ(port_.messages, (std::vector<RecordedMessage>{
                                  {113, Icon::Error}, {113, Icon::Error}, {113, Icon::Error}}));
    EXPECT_EQ(last_.deviceVersion, "");

    // Over IPX five attempts and the buffer is kept: -14 with the first list entry selected.
    port_.messages.clear();
    transport_.calls.clear();
    transport_.Queue(Op::VantrelVersion, {0, {5, 1, 1, 1, 1, 1, 0x0B, 0x01, 1, 1}}, 5);
    EXPECT_EQ(RunIpx(), result::kWrongModel);
    EXPECT_EQ(port_.messages.size(), 5u);
    EXPECT_EQ(transport_.calls.size(), 5u);

    // Library failures: 112 after the third.
    port_.messages.clear();
    transport_.Queue(Op::VantrelVersion, {-1, {}}, 3);
    EXPECT_EQ(RunTcp(), result::kNotStarted);
    EXPECT_EQ(port_.messages, (std::vector<RecordedMessage>{{112, Icon::Error}}));

    // A refusal (library result 1) that carries what would be a valid reply of another model is
    // no version: nothing is read from it, no 113, and 112 after the third.
    port_.messages.clear();
    transport_.calls.clear();
    last_.deviceModelCode = "";
    transport_.Queue(Op::VantrelVersion, {1, {7, 0, 0, 0, 0, 0, 0x0B, 0x01, 0x0A, 0x05}}, 3);
    EXPECT_EQ(RunTcp(), result::kNotStarted);
    EXPECT_EQ(port_.messages, (std::vector<RecordedMessage>{{112, Icon::Error}}));
    EXPECT_EQ(transport_.CallsOf(Op::VantrelVersion).size(), 3u);
    EXPECT_EQ(last_.deviceVersion, "");
    EXPECT_EQ(last_.deviceModelCode, "");

    // A valid reply of another model: deviceModelCode 0b01 and -14; with another list entry
    // selected the check does not apply.
    transport_.Queue(Op::VantrelVersion, {0, {7, 0, 0, 0, 0, 0, 0x0B, 0x01, 0x0A, 0x05}});
    EXPECT_EQ(RunTcp(), result::kWrongModel);
    EXPECT_EQ(last_.deviceModelCode, "0b01");
    EXPECT_EQ(last_.deviceVersion, "a.05");
    request_.firstListEntry = false;
    transport_.Queue(Op::VantrelVersion, {0, {7, 0, 0, 0, 0, 0, 0x0B, 0x01, 0x0A, 0x05}});
    EXPECT_EQ(RunTcp(), result::kNotStarted);
}

TEST_F(EngineTest, TwoFileModelsAskTheBrambleQueryAndKeepTheReply) {
    request_.modelIndex = 3;
    dir_.File("PS1B.BIN", Image(0x51, 0x00, 3));
    // Version 01.10 needs a companion file last modified at 01:10.
    ASSERT_TRUE(test::SetLocalModificationTime(
        dir_.File("PS2B.BIN", Join({DataRecord(0x40000, 16), EndRecord()})), 1, 10));

    // Byte 7 of 1 is not a valid Bramble reply; the buffer is left as it was between attempts.
    // After two such replies and a failed call that copies nothing, byte 0 still holds the 7 of
    // the last reply, so with the first list entry selected the model check ends the download.
    transport_.Queue(Op::BrambleVersion, {0, {7, 0, 0, 0, 0, 0, 0x51, 0x01, 1, 1}}, 2);
    transport_.Queue(Op::BrambleVersion, {-1, {}});
    EXPECT_EQ(RunTcp(), result::kWrongModel);
    EXPECT_EQ(MessageIds(), (std::vector<int>{113, 113, 112}));

    transport_.calls.clear();
    transport_.Queue(Op::BrambleVersion, {0, {7, 0, 0, 0, 0, 0, 0x51, 0x01, 1, 1}}, 2);
    transport_.Queue(Op::BrambleVersion, {0, {0, 0, 0, 0, 0, 0, 0x51, 0x00, 0x02, 0x30}});
    request_.firstListEntry = false;
    EXPECT_EQ(RunTcp(), 0);
    EXPECT_EQ(transport_.calls[0].port, 5021);
    EXPECT_EQ(last_.deviceVersion, "2.30");
    EXPECT_EQ(last_.deviceModelCode, "5100");
    // Both files were sent, the companion after the main file, one block each (header 3 +
    // identification 15 + 3 x 39 + end record 3; 16 data bytes in 23 + end record 3).
    EXPECT_EQ(SentLengths(), (std::vector<std::size_t>{138, 26}));
    EXPECT_EQ(SentImage(0), Join({WithoutLineFeeds(ImageRecords(0x51, 0x00, 3)),
                                  WithoutLineFeeds({DataRecord(0x40000, 16), EndRecord()})}));
    EXPECT_EQ(port_.progress, kProgressMax);
}

// A version reply shorter than ten bytes is not valid, whatever the bytes behind it in the buffer
// say (zeros, or what an earlier reply left there): message 113 for each attempt, no version and
// no 112; at ten bytes it is read. The first attempt of each query is refused (library result 1)
// with a whole reply of another model, which the Bramble query keeps in its buffer.
TEST_F(EngineTest, ShortVersionReplyIsNotValid) {
    struct Row {
        const char* name;
        bool ipx;
        int model;
        Op op;
        std::size_t attempts;
    };
    const std::vector<Row> rows = {
        {"Vantrel over TCP/IP", false, 6, Op::VantrelVersion, 3},
        {"Bramble over TCP/IP", false, 3, Op::BrambleVersion, 3},
        {"Vantrel over IPX", true, 6, Op::VantrelVersion, 5},
    };
    // Valid for both queries: byte 0 is 7, byte 7 is not 1.
    const Bytes valid = {7, 0, 0, 0, 0, 0, 0x0B, 0x00, 0x0A, 0x05};
    for (const Row& row : rows) {
        for (const std::size_t length : {0u, 1u, 9u, 10u}) {
            SCOPED_TRACE(::testing::Message() << row.name << ", " << length << " bytes");
            port_.messages.clear();
            transport_.calls.clear();
            request_.ipx = row.ipx;
            request_.modelIndex = row.model;
            transport_.Queue(row.op, {1, valid});
            transport_.Queue(row.op, {0, Bytes(valid.begin(), valid.begin() + length)},
                             static_cast<int>(row.attempts));
            last_ = engine_.QueryVersion(request_);
            const bool whole = length == valid.size();
            EXPECT_EQ(last_.deviceVersion, whole ? "a.05" : "");
            EXPECT_EQ(last_.result, whole ? result::kSuccess : result::kConnectionFailed);
            EXPECT_EQ(transport_.CallsOf(row.op).size(), whole ? 2u : row.attempts);
            EXPECT_EQ(MessageIds(),
                      whole ? std::vector<int>{} : std::vector<int>(row.attempts - 1, 113));
            transport_.script.clear();
        }
    }
}

TEST_F(EngineTest, CancelDuringTheVersionQueryAndDeclinedConfirmation) {
    // Cancel while an attempt waits, whether the attempt then fails or goes unanswered (which
    // ends the attempts): not started, and never reported as another model.
    for (const Reply& reply : {Reply(-1, {}), Reply(0, {0xFF})}) {
        port_.messages.clear();
        transport_.Queue(Op::VantrelVersion,
                         {reply.result, reply.bytes, [this] { engine_.Cancel(); }});
        EXPECT_EQ(RunTcp(), result::kNotStarted);
        EXPECT_EQ(port_.messages, (std::vector<RecordedMessage>{{57624, Icon::None}}));
    }

    port_.messages.clear();
    port_.events.clear();
    port_.confirm = false;
    EXPECT_EQ(RunTcp(), result::kNotStarted);
    EXPECT_TRUE(port_.messages.empty());
    EXPECT_TRUE(port_.events.empty()) << "declining starts nothing";
    EXPECT_FALSE(last_.modeSwitchSent);
    EXPECT_TRUE(port_.statusLog.empty());
}

// With skipCurrent a print server that reports the file's version (01.10 here) is sent nothing
// after the query and is not asked about; any other answer goes on to the confirmation as usual.
TEST_F(EngineTest, SkipCurrentEndsAfterTheQueryOnlyForTheFilesVersion) {
    const Reply other(0, {7, 0, 0, 0, 0, 0, 0xAA, 0x01, 0x01, 0x11});
    const Reply invalid(0, {5, 1, 1, 1, 1, 1, 0xAA, 0x01, 0x01, 0x10});
    const struct {
        const char* name;
        bool ipx;
        std::vector<Reply> replies;  // none: a valid reply of version 1.10
        bool current;
    } rows[] = {
        {"same version", false, {}, true},
        {"same version over IPX", true, {}, true},
        {"other version", false, {other}, false},
        {"no valid reply", false, {invalid, invalid, invalid}, false},
        {"no reply", false, {Reply(-1), Reply(-1), Reply(-1)}, false},
    };
    request_.skipCurrent = true;
    port_.confirm = false;
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        transport_.calls.clear();
        port_.confirmations.clear();
        port_.events.clear();
        port_.statusLog.clear();
        for (const Reply& reply : row.replies) {
            transport_.Queue(Op::VantrelVersion, reply);
        }
        EXPECT_EQ(row.ipx ? RunIpx() : RunTcp(),
                  row.current ? result::kSuccess : result::kNotStarted);
        EXPECT_EQ(last_.alreadyCurrent, row.current);
        EXPECT_EQ(port_.confirmations.size(), row.current ? 0u : 1u);
        EXPECT_EQ(transport_.Ops(),
                  std::vector<Op>(row.replies.empty() ? 1 : row.replies.size(), Op::VantrelVersion))
            << "nothing but the query is sent before the confirmation";
        EXPECT_TRUE(port_.events.empty()) << "no download is started";
        EXPECT_TRUE(port_.statusLog.empty());
    }
}

// A print server's version against a file's: two numbers each, whatever their leading zeros.
TEST(Version, SameVersion) {
    const struct {
        const char* device;
        const char* file;
        bool same;
    } cases[] = {
        {"1.10", "01.10", true},
        {"1.10", "01.11", false},
        {"a.0f", "0A.0F", true},
        {"1.10", "02.10", false},
        {"", "01.10", false},
        {"1.10", "", false},
        {"110", "01.10", false},
        {"1.100", "01.10", false},
        {"1.10", "01.10.1", false},
        // Two texts that are no version are not the same version: nothing is skipped on them.
        {"", "", false},
        {"x.y", "x.y", false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(SameVersion(c.device, c.file), c.same) << c.device << " " << c.file;
    }
}

// Models 2 (5101) and 4 (0601) ask the Bramble query over TCP/IP, whose reply is not valid when
// byte 7 is 1, and their own codes put 1 there: no reply of theirs can be verified.
TEST(ModelTableTest, CanVerifyOverTcp) {
    const std::pair<int, bool> rows[] = {{1, true}, {2, false}, {3, true},  {4, false},
                                         {5, true}, {6, true},  {0, false}, {7, false}};
    for (const auto& [model, verifiable] : rows) {
        EXPECT_EQ(CanVerifyOverTcp(model), verifiable) << "model " << model;
    }
}

TEST_F(EngineTest, DownloadModeSwitch) {
    transport_.Queue(Op::JampEprom, {0, {0xFF}});
    EXPECT_EQ(RunTcp(), result::kNoAnswerToModeSwitch);
    EXPECT_EQ(transport_.CallsOf(Op::JampEprom).size(), 1u);
    EXPECT_TRUE(last_.modeSwitchSent) << "a switch that went unanswered may still have switched";

    transport_.calls.clear();
    transport_.Queue(Op::JampEprom, {-1, {0x33}}, 3);
    EXPECT_EQ(RunTcp(), result::kModeSwitchFailed);
    EXPECT_EQ(transport_.CallsOf(Op::JampEprom).size(), 3u);

    transport_.calls.clear();
    transport_.Queue(Op::JampEprom, {-1, {}}, 5);
    EXPECT_EQ(RunIpx(), result::kModeSwitchFailed);
    EXPECT_EQ(transport_.CallsOf(Op::JampEprom).size(), 5u);

    // Model 1 goes on without a confirmed switch.
    request_.modelIndex = 1;
    request_.firstListEntry = false;
    dir_.File("RS.BIN", Image(0x16, 0x01, 2));
    transport_.calls.clear();
    transport_.Queue(Op::JampEprom, {-1, {}}, 3);
    EXPECT_EQ(RunTcp(), 0);
    EXPECT_EQ(transport_.CallsOf(Op::OpenSocket).size(), 1u);

    // Model 5 stops over TCP/IP but goes on over IPX (where it then has no file to send).
    request_.modelIndex = 5;
    dir_.File("RS.BIN", Image(0x21, 0x01, 2));
    transport_.Queue(Op::JampEprom, {-1, {}}, 3);
    EXPECT_EQ(RunTcp(), result::kModeSwitchFailed);
    port_.messages.clear();
    transport_.calls.clear();
    transport_.Queue(Op::JampEprom, {-1, {}}, 5);
    EXPECT_EQ(RunIpx(), result::kConnectionFailed);
    EXPECT_EQ(MessageIds(), (std::vector<int>{121, 122, 106}));
    EXPECT_EQ(transport_.Ops(),
              (std::vector<Op>{Op::VantrelVersion, Op::JampEprom, Op::JampEprom, Op::JampEprom,
                               Op::JampEprom, Op::JampEprom, Op::OpenSocket, Op::Connection,
                               Op::Erase, Op::CloseSocket}))
        << "the engine closes its socket on every path";
}

TEST_F(EngineTest, SocketConnectionAndErase) {
    transport_.Queue(Op::OpenSocket, {0, {}});
    transport_.Queue(Op::Connection, {-1, {}}, 5);
    EXPECT_EQ(RunTcp(), result::kConnectionFailed);
    EXPECT_EQ(MessageIds(), (std::vector<int>{121, 122, 57616, 115}));
    EXPECT_EQ(port_.messages[2].icon, Icon::Error);

    port_.messages.clear();
    transport_.calls.clear();
    transport_.Queue(Op::OpenSocket, {0, {}});
    transport_.Queue(Op::Connection, {-1, {}}, 6);
    EXPECT_EQ(RunIpx(), result::kConnectionFailed);
    EXPECT_EQ(MessageIds(), (std::vector<int>{121, 122, 57616, 115}));
    EXPECT_EQ(port_.messages[2].icon, Icon::Warning);
    EXPECT_EQ(transport_.CallsOf(Op::Connection).size(), 6u);

    // Four failures then a connection: the download goes on. Over TCP/IP a failed attempt's
    // reply stays in the buffer for the next; over IPX the next starts with a clean buffer.
    for (bool ipx : {false, true}) {
        transport_.calls.clear();
        transport_.Queue(Op::Connection, {-1, {0x33}}, 4);
        EXPECT_EQ(ipx ? RunIpx() : RunTcp(), 0);
        const auto connections = transport_.CallsOf(Op::Connection);
        ASSERT_EQ(connections.size(), 5u);
        EXPECT_EQ(connections[4].replyByte0, ipx ? 0x00 : 0x33);
    }

    port_.messages.clear();
    transport_.calls.clear();
    transport_.Queue(Op::Erase, {-1, {}}, 3);
    EXPECT_EQ(RunTcp(), result::kEraseFailed);
    EXPECT_EQ(MessageIds(), (std::vector<int>{121, 122, 116}));
    EXPECT_EQ(transport_.CallsOf(Op::Erase).size(), 3u);
    EXPECT_EQ(port_.statusLog.back(), "text 57627") << "the status line keeps its text";
}

TEST_F(EngineTest, CancelAtEachTest) {
    // In the pump after the mode switch: the socket is not opened, the connection step ends it.
    port_.onDispatch = [this] {
        if (port_.dispatches == 10) {
            engine_.Cancel();
        }
    };
    EXPECT_EQ(RunTcp(), result::kCancelled);
    EXPECT_TRUE(transport_.CallsOf(Op::OpenSocket).empty());
    EXPECT_TRUE(transport_.CallsOf(Op::Connection).empty());

    // During the erase.
    port_.onDispatch = nullptr;
    transport_.calls.clear();
    transport_.Queue(Op::Erase, {-1, {}, [this] { engine_.Cancel(); }});
    EXPECT_EQ(RunTcp(), result::kCancelled);
    EXPECT_EQ(transport_.CallsOf(Op::Erase).size(), 1u);

    // Right after a successful erase (the settle pump returns at once): the transfer's status
    // text never shows and nothing is sent.
    port_.statusLog.clear();
    transport_.calls.clear();
    transport_.Queue(Op::Erase, {0, {}, [this] { engine_.Cancel(); }});
    EXPECT_EQ(RunTcp(), result::kCancelled);
    EXPECT_TRUE(transport_.CallsOf(Op::SendData).empty());
    EXPECT_EQ(port_.statusLog, (std::vector<std::string>{"text 57626", "show", "text 57627"}));

    // In the middle of the transfer: the status line is hidden and -5 comes back.
    port_.statusLog.clear();
    transport_.calls.clear();
    transport_.Queue(Op::SendData, {0, {0x70, 0x30, 0x03}});
    transport_.Queue(Op::SendData, {-1, {}, [this] { engine_.Cancel(); }});
    EXPECT_EQ(RunTcp(), result::kCancelled);
    EXPECT_EQ(transport_.CallsOf(Op::SendData).size(), 2u);
    EXPECT_EQ(port_.statusLog.back(), "hide");

    // After the last block: the finish step is skipped and the download is not finished.
    transport_.calls.clear();
    const int blocks = 4;  // 23 records, six a block
    transport_.Queue(Op::SendData, {0, {0x70, 0x30, 0x03}}, blocks - 1);
    transport_.Queue(Op::SendData, {0, {0x70, 0x30, 0x03}, [this] { engine_.Cancel(); }});
    EXPECT_EQ(RunTcp(), result::kFinishFailed);
    EXPECT_EQ(static_cast<int>(transport_.CallsOf(Op::SendData).size()), blocks);
    EXPECT_TRUE(transport_.CallsOf(Op::Finish).empty());
}

TEST_F(EngineTest, MainFileFailures) {
    // A checksum error anywhere in the file is found before anything is sent: the reader's 103,
    // then 57604, and the print server keeps its firmware.
    Bytes image = Image(0xAA, 0x01, 20);
    image[image.size() - 30] ^= 0x01;
    dir_.File("RS.BIN", image);
    EXPECT_EQ(RunTcp(), result::kNotStarted);
    EXPECT_EQ(port_.messages,
              (std::vector<RecordedMessage>{{103, Icon::Error}, {57604, Icon::Warning}}));
    EXPECT_TRUE(transport_.calls.empty());

    // The file goes bad after that check, while the flash is erased: the transfer reads the
    // copy that was checked, so the sound image goes out whole and the pinned copy is closed
    // once (the fixture checks the descriptors).
    port_.messages.clear();
    transport_.calls.clear();
    dir_.File("RS.BIN", Image(0xAA, 0x01, 20));
    transport_.Queue(Op::Erase, {0, {}, [this, image] { dir_.File("RS.BIN", image); }});
    EXPECT_EQ(RunTcp(), 0);
    EXPECT_EQ(MessageIds(), (std::vector<int>{121, 122}));
    EXPECT_EQ(SentImage(0), WithoutLineFeeds(ImageRecords(0xAA, 0x01, 20)));

    // Blocks refused five times: -2; never acknowledged: -3.
    dir_.File("RS.BIN", Image(0xAA, 0x01, 20));
    transport_.Queue(Op::SendData, {-1, {}}, 5);
    EXPECT_EQ(RunTcp(), result::kBlockRefused);
    transport_.Queue(Op::SendData, {0, {0x70, 0x30, 0x04}}, 5);
    EXPECT_EQ(RunTcp(), result::kBlockNotAcknowledged);
}

TEST_F(EngineTest, MainFileThatNoLongerOpensStillSendsTheCheckedImage) {
    // The file disappears between the identification and the transfer, or becomes a FIFO: the
    // transfer never opens it by its name again, and sends the copy that was checked.
    for (bool fifo : {false, true}) {
        if (fifo && !test::MakeFifo((dir_.path() / "probe").string())) {
            continue;  // no FIFOs in this platform's file system
        }
        port_.messages.clear();
        transport_.calls.clear();
        dir_.File("RS.BIN", Image(0xAA, 0x01, 20));
        transport_.Queue(Op::Erase, {0, {}, [fifo] {
                                         std::filesystem::remove("RS.BIN");
                                         if (fifo) {
                                             ASSERT_TRUE(test::MakeFifo("RS.BIN"));
                                         }
                                     }});
        EXPECT_EQ(RunTcp(), 0);
        EXPECT_EQ(MessageIds(), (std::vector<int>{121, 122}));
        EXPECT_EQ(port_.statusLog.back(), "hide");
        EXPECT_EQ(SentImage(0), WithoutLineFeeds(ImageRecords(0xAA, 0x01, 20)));
        EXPECT_EQ(transport_.CallsOf(Op::Finish).size(), 1u);
    }
    std::filesystem::remove("RS.BIN");

    // Model 5 over IPX has no main file to send: the same ending.
    request_.modelIndex = 5;
    request_.firstListEntry = false;
    dir_.File("RS.BIN", Image(0x21, 0x01, 2));
    port_.messages.clear();
    transport_.calls.clear();
    EXPECT_EQ(RunIpx(), result::kConnectionFailed);
    EXPECT_EQ(MessageIds(), (std::vector<int>{121, 122, 106}));
    EXPECT_TRUE(transport_.CallsOf(Op::Finish).empty());
}

TEST_F(EngineTest, CompanionFileFailuresEndBeforeTheFinish) {
    request_.modelIndex = 4;
    request_.firstListEntry = false;
    // 01.10 needs a companion file last modified at 01:10 local time.
    dir_.File("PS1B.BIN", Image(0x06, 0x01, 2));
    auto companion = [this] {
        ASSERT_TRUE(test::SetLocalModificationTime(
            dir_.File("PS2B.BIN", Join({DataRecord(0x40000, 16), EndRecord()})), 1, 10));
    };
    companion();

    // A companion transfer that fails.
    transport_.Queue(Op::SendData, {0, {0x70, 0x30, 0x03}});  // the main file's one block
    transport_.Queue(Op::SendData, {-1, {}}, 5);
    EXPECT_EQ(RunTcp(), result::kFinishFailed);
    EXPECT_TRUE(transport_.CallsOf(Op::Finish).empty());

    // Cancel during the companion's transfer, over both transports: -12, and the companion
    // file is closed once (the fixture counts the descriptors; a second close would be a
    // double free).
    for (bool ipx : {false, true}) {
        transport_.calls.clear();
        transport_.Queue(Op::SendData, {0, ipx ? Bytes{0x01, 0x00} : Bytes{0x70, 0x30, 0x03}});
        transport_.Queue(Op::SendData, {-1, {}, [this] { engine_.Cancel(); }});
        EXPECT_EQ(ipx ? RunIpx() : RunTcp(), result::kFinishFailed);
        EXPECT_EQ(transport_.CallsOf(Op::SendData).size(), 2u);
        EXPECT_TRUE(transport_.CallsOf(Op::Finish).empty());
    }

    // A companion that no longer opens after the check: its checked copy is sent all the same.
    port_.messages.clear();
    transport_.calls.clear();
    transport_.Queue(Op::Erase, {0, {}, [] { std::filesystem::remove("PS2B.BIN"); }});
    companion();
    EXPECT_EQ(RunIpx(), 0);
    EXPECT_EQ(MessageIds(), (std::vector<int>{121, 122}));
    EXPECT_EQ(transport_.CallsOf(Op::SendData).size(), 2u);
    EXPECT_EQ(transport_.CallsOf(Op::Finish).size(), 1u);

    // A companion without its end record is found before anything is sent.
    port_.messages.clear();
    transport_.calls.clear();
    ASSERT_TRUE(test::SetLocalModificationTime(
        dir_.File("PS2B.BIN", Join({DataRecord(0x40000, 16)})), 1, 10));
    EXPECT_EQ(RunTcp(), result::kNotStarted);
    EXPECT_EQ(MessageIds(), (std::vector<int>{102, 57604}));
    EXPECT_TRUE(transport_.calls.empty());
}

// The approved sums are compared before anything is sent, with the sums of the bytes that are
// then sent: a file replaced after the check goes out as it was checked.
TEST_F(EngineTest, ApprovedSumsRefuseBeforeAnythingIsSentAndDescribeWhatIsSent) {
    // The SHA-256 of the fixture's RS.BIN, Image(0xAA, 0x01, 20), as sha256sum wrote it.
    const std::string sum = "c5c0338bdf75410e961c35177cb8f32949298ea8c5a1f3a29aa611ee5151722d";
    EXPECT_EQ(RunTcp(), 0);
    EXPECT_EQ(last_.fileSha256, sum);
    EXPECT_EQ(last_.companionSha256, "");
    const struct {
        std::vector<FileSum> sums;
        Bytes file;  // RS.BIN as it lies in the folder
        std::optional<SumVerdict> refused;
    } rows[] = {
        {{{"RS.BIN", sum}}, Image(0xAA, 0x01, 20), std::nullopt},
        // Another sound image, one record more: not the approved one.
        {{{"RS.BIN", sum}}, Image(0xAA, 0x01, 21), SumVerdict::kOtherSum},
        {{{"PS1B.BIN", sum}}, Image(0xAA, 0x01, 20), SumVerdict::kNotListed},
    };
    for (const auto& row : rows) {
        transport_.calls.clear();
        port_.messages.clear();
        dir_.File("RS.BIN", row.file);
        request_.sums = row.sums;
        // Replaced once the check is over: what was checked goes out all the same.
        transport_.Queue(Op::Erase,
                         {0, {}, [this] { dir_.File("RS.BIN", Image(0xAA, 0x01, 21)); }});
        const int result = RunTcp();
        if (row.refused) {
            EXPECT_EQ(result, result::kNotStarted);
            ASSERT_TRUE(last_.sumRefusal.has_value());
            EXPECT_EQ(last_.sumRefusal->file, "RS.BIN");
            EXPECT_EQ(last_.sumRefusal->verdict, *row.refused);
            EXPECT_TRUE(transport_.calls.empty()) << "nothing is sent to the print server";
            transport_.Queue(Op::Erase, {0, {}});  // the one queued was never reached
            transport_.calls.clear();
        } else {
            EXPECT_EQ(result, 0);
            EXPECT_FALSE(last_.sumRefusal.has_value());
            EXPECT_EQ(SentImage(0), WithoutLineFeeds(ImageRecords(0xAA, 0x01, 20)));
            EXPECT_EQ(last_.fileSha256, sum);
        }
    }

    // A two-file model with one of its two sums wrong sends nothing.
    request_.modelIndex = 4;
    request_.firstListEntry = false;
    dir_.File("PS1B.BIN", Image(0x06, 0x01, 2));
    ASSERT_TRUE(test::SetLocalModificationTime(
        dir_.File("PS2B.BIN", Join({DataRecord(0x40000, 16), EndRecord()})), 1, 10));
    request_.sums.reset();
    EXPECT_EQ(RunTcp(), 0);
    const std::string mainSum = last_.fileSha256;
    const std::string companionSum = last_.companionSha256;
    ASSERT_EQ(companionSum.size(), 64u);
    transport_.calls.clear();
    request_.sums = {{"PS1B.BIN", mainSum}, {"PS2B.BIN", std::string(64, '0')}};
    EXPECT_EQ(RunTcp(), result::kNotStarted);
    ASSERT_TRUE(last_.sumRefusal.has_value());
    EXPECT_EQ(last_.sumRefusal->file, "PS2B.BIN");
    EXPECT_TRUE(transport_.calls.empty());
    request_.sums = {{"PS1B.BIN", mainSum}, {"PS2B.BIN", companionSum}};
    EXPECT_EQ(RunTcp(), 0);
}

TEST_F(EngineTest, FinishStep) {
    transport_.Queue(Op::Finish, {0, {0x70, 0x30, 0x03, 0x01}});
    EXPECT_EQ(RunTcp(), result::kFinishFailed);
    EXPECT_EQ(transport_.CallsOf(Op::Finish).size(), 1u);

    transport_.calls.clear();
    transport_.Queue(Op::Finish, {-1, {}}, 3);
    EXPECT_EQ(RunTcp(), result::kFinishFailed);
    EXPECT_EQ(transport_.CallsOf(Op::Finish).size(), 3u);

    transport_.calls.clear();
    transport_.Queue(Op::Finish, {0, {0x01, 0x01}}, 6);
    EXPECT_EQ(RunIpx(), result::kFinishFailed);
    const auto finishes = transport_.CallsOf(Op::Finish);
    ASSERT_EQ(finishes.size(), 6u);
    // Every attempt carries a new sequence number following the last block's.
    const auto sends = transport_.CallsOf(Op::SendData);
    const int last = sends.back().data[4] * 256 + sends.back().data[5];
    for (std::size_t i = 0; i < finishes.size(); ++i) {
        EXPECT_EQ(finishes[i].data[4] * 256 + finishes[i].data[5], last + 1 + static_cast<int>(i));
        EXPECT_EQ(finishes[i].waitSeconds, 10);
    }

    transport_.Queue(Op::Finish, {0, {0x01, 0x00, 0x07}});
    EXPECT_EQ(RunIpx(), 0);
}

// A request whose address the engine refuses ends before anything runs, whichever front end sent
// it: the refusal's message, no transport call, no start or end of a download.
TEST_F(EngineTest, RefusedAddressRunsNothing) {
    request_.octets = {"127", "0", "0", "1"};
    EXPECT_EQ(RunTcp(), result::kNotStarted);
    EXPECT_TRUE(last_.refused);
    EXPECT_EQ(last_.messages, (std::vector<ShownMessage>{{57620, Icon::Error}}));
    request_.octets = {"00", "0", "0", "0"};
    EXPECT_EQ(RunTcp(), result::kNotStarted);
    EXPECT_TRUE(last_.refused && last_.messages.empty());
    request_.mac = "00D1F0";
    EXPECT_EQ(RunIpx(), result::kNotStarted);
    EXPECT_EQ(MessageIds(), (std::vector<int>{57620, 57606}));
    // The same checks alone, as a window asks for them before it takes its download button.
    request_.ipx = false;
    request_.octets = {"192", "", "2", "1"};
    EXPECT_TRUE(engine_.Refuses(request_));
    request_.octets = {"00", "0", "0", "0"};
    EXPECT_TRUE(engine_.Refuses(request_));
    request_.octets = {"192", "0", "2", "1"};
    EXPECT_FALSE(engine_.Refuses(request_));
    EXPECT_EQ(MessageIds(), (std::vector<int>{57620, 57606, 57605}));
    EXPECT_TRUE(transport_.calls.empty());
    EXPECT_TRUE(port_.events.empty());
    EXPECT_TRUE(port_.confirmations.empty());
}

// A print server that does not answer is checked against this download's answer only: a model
// code from an earlier print server must not let it pass as the list's first entry.
TEST_F(EngineTest, NoModelCodeKeptFromAnEarlierDownload) {
    EXPECT_EQ(RunTcp(), 0);
    port_.messages.clear();
    port_.confirmations.clear();
    transport_.Queue(Op::VantrelVersion, {0, {0xFF}});
    EXPECT_EQ(RunTcp(), result::kWrongModel);
    EXPECT_EQ(MessageIds(), (std::vector<int>{112}));
    EXPECT_TRUE(port_.confirmations.empty());
    EXPECT_EQ(last_.deviceModelCode, "");
}

// The query as a download runs it fails on a print server that answered as another model, as the
// download would; the inventory's query reports that model; a silent one fails either way.
TEST_F(EngineTest, QueryAsADownloadChecksTheModel) {
    const Bytes otherModel = {7, 0, 0, 0, 0, 0, 0x0B, 0x00, 0x0A, 0x05};
    const struct {
        const char* name;
        bool asDownload;
        Bytes reply;
        int result;
    } rows[] = {
        {"another model, as a download", true, otherModel, result::kWrongModel},
        {"another model, inventory", false, otherModel, result::kSuccess},
        {"no answer, as a download", true, {0xFF}, result::kConnectionFailed},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        transport_.calls.clear();
        transport_.Queue(Op::VantrelVersion, {0, row.reply});
        last_ = engine_.QueryVersion(request_, row.asDownload);
        EXPECT_EQ(last_.result, row.result);
        EXPECT_EQ(transport_.Ops(), (std::vector<Op>{Op::VantrelVersion}));
        EXPECT_FALSE(last_.modeSwitchSent);
        transport_.script.clear();
    }
    // The LAN card's own model code passes.
    last_ = engine_.QueryVersion(request_, true);
    EXPECT_EQ(last_.result, result::kSuccess);
    EXPECT_EQ(last_.deviceModelCode, "aa01");
}

// The block transfer on its own.
class TransferTest : public EngineTest {
  protected:
    int Send(const Bytes& contents, std::uint32_t totalSize, int mode) {
        request_.ipx = mode == TAVDL_MODE_IPX;
        engine_.AdoptConnection(request_, {10, mode}, 42);
        std::FILE* file = std::fopen(dir_.File("img.bin", contents).c_str(), "rb");
        const int result = engine_.SendImageFile(file, totalSize);
        if (result != -1) {
            std::fclose(file);
        }
        return result;
    }
    static Bytes SixRecordsOf36() {
        std::vector<Bytes> records;
        for (int i = 0; i < 6; ++i) {
            records.push_back(DataRecord(0x1000 + 32 * i, 32));
        }
        return Join(records);
    }
};

TEST_F(TransferTest, BlockSizesProgressAndTheLastBlock) {
    EXPECT_EQ(Send(EndRecord(), 3, 0), 0);
    EXPECT_EQ(transport_.calls.size(), 1u);
    EXPECT_EQ(port_.progressPositions, (std::vector<int>{kProgressMax}));

    transport_.calls.clear();
    port_.progressDeltas.clear();
    EXPECT_EQ(Send(Join({SixRecordsOf36(), EndRecord()}), 4000, 0), 0);
    EXPECT_EQ(transport_.calls[0].data.size(), 234u);
    EXPECT_EQ(port_.progressDeltas.front(), 1916);
    EXPECT_EQ(transport_.calls[0].waitSeconds, 30);

    transport_.calls.clear();
    EXPECT_EQ(Send(Join({SixRecordsOf36(), EndRecord()}), 0, 2), 0);
    EXPECT_EQ(transport_.calls[0].data.size(), 242u);
}

TEST_F(TransferTest, RetriesShareOneCountAndKeepTheBlock) {
    transport_.Queue(Op::SendData, {-1, {}}, 2);
    transport_.Queue(Op::SendData, {0, {0x70, 0x30, 0x04}}, 3);
    const Bytes file = Join({SixRecordsOf36(), EndRecord()});
    EXPECT_EQ(Send(file, 300, 0), result::kBlockNotAcknowledged);
    ASSERT_EQ(transport_.calls.size(), 5u);
    for (const auto& call : transport_.calls) {
        EXPECT_EQ(call.data, transport_.calls[0].data) << "a resend carries the same block";
    }
    EXPECT_EQ(port_.progressDeltas.size(), 1u) << "the bar moves once per block";

    transport_.calls.clear();
    transport_.Queue(Op::SendData, {0, {0x70, 0x30, 0x04}}, 4);
    transport_.Queue(Op::SendData, {-1, {}});
    EXPECT_EQ(Send(file, 300, 0), result::kBlockRefused);

    // A refusal with cancel requested stops at once.
    transport_.calls.clear();
    transport_.Queue(Op::SendData, {-1, {}, [this] { engine_.Cancel(); }});
    EXPECT_EQ(Send(file, 300, 0), result::kCancelled);
    EXPECT_EQ(transport_.CallsOf(Op::SendData).size(), 1u);

    // Over IPX byte 1 = 0 acknowledges whatever bytes 8 to 10 hold; a resend keeps its number.
    transport_.calls.clear();
    engine_.SetIpxSequence(3);
    transport_.Queue(Op::SendData, {0, {0x01, 0x05, 0, 0, 0, 0, 0, 0, 0x70, 0x30, 0x04}});
    transport_.Queue(Op::SendData, {0, {0x01, 0x00, 0, 0, 0, 0, 0, 0, 0x11, 0x22, 0x33}});
    transport_.Queue(Op::SendData, {0, {0x01, 0x05, 0, 0, 0, 0, 0, 0, 0x70, 0x30, 0x03}});
    EXPECT_EQ(Send(Join({SixRecordsOf36(), DataRecord(0x2000, 8), EndRecord()}), 300, 2), 0);
    ASSERT_EQ(transport_.calls.size(), 3u);
    EXPECT_EQ(transport_.calls[0].data[5], 4);
    EXPECT_EQ(transport_.calls[1].data[5], 4);
    EXPECT_EQ(transport_.calls[2].data[5], 5);
}

TEST_F(TransferTest, SequenceNumbersWrap) {
    std::uint8_t message[6] = {};
    engine_.SetIpxSequence(0x00FE);
    engine_.NextIpxSequence(message);
    EXPECT_EQ((message[4] << 8) | message[5], 0x00FF);
    engine_.NextIpxSequence(message);
    EXPECT_EQ((message[4] << 8) | message[5], 0x0100);
    engine_.SetIpxSequence(0xFFFF);
    engine_.NextIpxSequence(message);
    EXPECT_EQ((message[4] << 8) | message[5], 0x0000);
}

TEST_F(TransferTest, PumpWaitsWholeSecondsWithoutSpinningAndStopsOnCancel) {
    const std::int64_t start = port_.now = 7'400;  // 0.4 s into second 7
    engine_.PumpMessages(10);
    // The whole-second clock must move on by more than ten: from second 7 to second 18, 10.6 s
    // on, and no more than one pass past it. A pump that stopped at second 17 would be a second
    // short.
    EXPECT_GE(port_.now - start, 10'600);
    EXPECT_LT(port_.now - start, 10'600 + kPumpWaitMs);
    // Each pass waits for events for a few milliseconds rather than polling flat out.
    EXPECT_LE(port_.dispatches, 10'600 / kPumpWaitMs + 1);
    // Each pass is asked for the time the wait has left, so that a pump that needs no short
    // passes (the console's) may sleep it whole, and none is asked to sleep past its end.
    ASSERT_FALSE(port_.askedWaits.empty());
    EXPECT_EQ(port_.askedWaits.front(), 10'600);
    EXPECT_EQ(port_.askedWaits.back(), kPumpWaitMs);

    port_.dispatches = 0;
    port_.onDispatch = [this] {
        if (port_.dispatches == 3) {
            engine_.Cancel();
        }
    };
    engine_.PumpMessages(10);
    EXPECT_EQ(port_.dispatches, 3);
    port_.dispatches = 0;
    engine_.PumpMessages(10);
    EXPECT_EQ(port_.dispatches, 0) << "a pump after a cancel does not wait";
}

TEST_F(TransferTest, CancelClosesTheSocketEvenWhenNoneIsOpen) {
    engine_.Cancel();
    engine_.Cancel();
    EXPECT_EQ(transport_.closeCount, 2);
    EXPECT_TRUE(engine_.CancelRequested());
}

TEST(FormatVersionBytesTest, Examples) {
    EXPECT_EQ(DownloadEngine::FormatVersionBytes(0x01, 0x10, true), "1.10");
    EXPECT_EQ(DownloadEngine::FormatVersionBytes(0x0A, 0x05, true), "a.05");
    EXPECT_EQ(DownloadEngine::FormatVersionBytes(0xAA, 0x01, false), "aa01");
    EXPECT_EQ(DownloadEngine::FormatVersionBytes(0x06, 0x01, false), "601");
}

}  // namespace
}  // namespace vexil
