// The engine's scan: each address asked as the version query alone asks one print server (its
// attempts, what ends them, messages 113 and 112), through the transport's query of many
// addresses, played by the scripted fake.
#include <gtest/gtest.h>

#include <cerrno>

#include "engine/DownloadEngine.h"
#include "tests/support/EngineFakes.h"

namespace vexil {
namespace {

using test::Bytes;
using test::Reply;
using State = ScanAnswer::State;

// Vantrel version replies of model 6 (aa01) with firmware 1.10: valid (byte 0 is 7), and as a
// faulty print server sends it (byte 0 is 5).
const Bytes kValid = {0x07, 0, 0, 0, 0, 0, 0xAA, 0x01, 0x01, 0x10};
const Bytes kNotValid = {0x05, 0, 0, 0, 0, 0, 0xAA, 0x01, 0x01, 0x10};

class ScanTest : public ::testing::Test {
  protected:
    ScanOutcome Scan(std::vector<std::string> addresses, int model = 6, std::size_t inFlight = 8) {
        return engine_.Scan({std::move(addresses), model, inFlight});
    }
    std::vector<int> Messages(const ScanAnswer& answer) const {
        std::vector<int> ids;
        for (const ShownMessage& shown : answer.run.messages) {
            EXPECT_EQ(shown.icon, Icon::Error);
            ids.push_back(shown.stringId);
        }
        return ids;
    }
    std::size_t ExchangesOf(std::size_t index) const {
        return static_cast<std::size_t>(
            std::count_if(transport_.exchanges.begin(), transport_.exchanges.end(),
                          [index](const auto& e) { return e.index == index; }));
    }

    test::ScriptedTransport transport_;
    test::RecordingPort port_;
    DownloadEngine engine_{transport_, port_};
};

// What each address comes to from its replies, as --query would report that print server.
TEST_F(ScanTest, EachAddressIsAskedAsTheQueryAlone) {
    const struct {
        const char* what;
        std::vector<Reply> replies;  // after them, a valid reply
        State state;
        std::vector<int> messages;
        std::size_t exchanges;
    } rows[] = {
        {"valid", {}, State::kAnswered, {}, 1},
        {"silent", {Reply(-1)}, State::kSilent, {112}, 1},
        {"not valid thrice",
         {{0, kNotValid}, {0, kNotValid}, {0, kNotValid}},
         State::kInvalid,
         {113, 113, 113},
         3},
        {"not valid, then silent", {{0, kNotValid}, Reply(-1)}, State::kInvalid, {113, 112}, 2},
        {"refused thrice", {{1, kValid}, {1, kValid}, {1, kValid}}, State::kInvalid, {112}, 3},
        {"refused, then silent", {{1, kValid}, Reply(-1)}, State::kInvalid, {112}, 2},
        {"not valid, then valid", {{0, kNotValid}}, State::kAnswered, {113}, 2},
        {"refused twice, then valid", {{1, kValid}, {1, kValid}}, State::kAnswered, {}, 3},
    };
    std::vector<std::string> addresses;
    for (std::size_t i = 0; i < std::size(rows); ++i) {
        addresses.push_back("192.0.2." + std::to_string(10 + i));
        transport_.manyReplies[i].assign(rows[i].replies.begin(), rows[i].replies.end());
    }
    const ScanOutcome outcome = Scan(addresses);
    EXPECT_EQ(outcome.result, result::kSuccess);
    ASSERT_EQ(outcome.answers.size(), std::size(rows));
    for (std::size_t i = 0; i < std::size(rows); ++i) {
        SCOPED_TRACE(rows[i].what);
        const ScanAnswer& answer = outcome.answers[i];
        EXPECT_EQ(answer.state, rows[i].state);
        EXPECT_EQ(Messages(answer), rows[i].messages);
        EXPECT_EQ(ExchangesOf(i), rows[i].exchanges);
        if (rows[i].state == State::kAnswered) {
            EXPECT_EQ(answer.run.result, result::kSuccess);
            EXPECT_EQ(answer.run.deviceVersion, "1.10");
            EXPECT_EQ(answer.run.deviceModelCode, "aa01");
        } else {
            EXPECT_EQ(answer.run.result, result::kConnectionFailed);
            EXPECT_EQ(answer.run.deviceVersion, "");
        }
    }
    EXPECT_TRUE(port_.messages.empty()) << "a scan shows no message itself";
}

// Every exchange goes to its address with the record the single query of the model takes: its
// query's port, the query mode, a wait of 2 s and the port's window for the hook.
TEST_F(ScanTest, RecordsAreThoseOfTheModelsQuery) {
    for (const auto& [model, port] : {std::pair{6, 5031}, std::pair{3, 5021}}) {
        transport_.exchanges.clear();
        transport_.manyReplies = {{0, {Reply(-1)}}, {1, {Reply(-1)}}};
        Scan({"192.0.2.1", "10.1.2.254"}, model, 3);
        ASSERT_EQ(transport_.exchanges.size(), 2u);
        for (std::size_t i = 0; i < 2; ++i) {
            const auto& e = transport_.exchanges[i];
            EXPECT_EQ(e.address, i == 0 ? "192.0.2.1" : "10.1.2.254");
            EXPECT_EQ(e.port, port) << model;
            EXPECT_EQ(e.mode, TAVDL_MODE_TCP_QUERY);
            EXPECT_EQ(e.waitSeconds, 2);
            EXPECT_EQ(e.window, &port_);
        }
    }
    EXPECT_EQ(transport_.manyInFlight, (std::vector<std::size_t>{3, 3}));
    EXPECT_EQ(Scan({"192.0.2.1"}, 9).result, result::kNotStarted) << "no model 9";
}

// The cancel command ends the scan: what ended is kept, a print server that has replied stays
// among those without a valid reply, the rest did not end.
TEST_F(ScanTest, CancelEndsItWithWhatEnded) {
    transport_.manyReplies[1] = {{0, kNotValid}, {0, kValid, [this] { engine_.Cancel(); }}};
    const ScanOutcome outcome = Scan({"192.0.2.1", "192.0.2.2", "192.0.2.3"});
    EXPECT_EQ(outcome.result, result::kNotStarted);
    ASSERT_EQ(outcome.answers.size(), 3u);
    EXPECT_EQ(outcome.answers[0].state, State::kAnswered);
    EXPECT_EQ(outcome.answers[1].state, State::kInvalid);
    EXPECT_EQ(Messages(outcome.answers[1]), (std::vector<int>{113}));
    EXPECT_EQ(outcome.answers[2].state, State::kNotEnded);
    EXPECT_EQ(ExchangesOf(2), 0u);

    // A scan after it runs to its end.
    EXPECT_EQ(Scan({"192.0.2.1"}).result, result::kSuccess);
}

// How far it is, at its start, at each slice of its wait and as each address ends: the time
// left none before the first has ended, then the time so far per address times those left.
TEST_F(ScanTest, TellsHowFarItIs) {
    const auto second = [this] { port_.now += 1000; };
    transport_.manyReplies[0] = {{0, kValid, second}};
    transport_.manyReplies[1] = {{-1, {}, second}};
    transport_.manyReplies[2] = {{0, kValid, second}};
    std::vector<std::string> seen;
    ScanRequest request{{"192.0.2.1", "192.0.2.2", "192.0.2.3"}, 6, 8};
    request.onProgress = [&seen](const ScanProgress& p) {
        seen.push_back(std::to_string(p.asked) + "/" + std::to_string(p.total) + " found " +
                       std::to_string(p.found) + " " + std::to_string(p.elapsedMs) + " ms left " +
                       (p.leftMs ? std::to_string(*p.leftMs) : "-"));
    };
    EXPECT_EQ(engine_.Scan(request).result, result::kSuccess);
    EXPECT_EQ(seen, (std::vector<std::string>{
                        "0/3 found 0 0 ms left -", "0/3 found 0 0 ms left -",  // start, slice
                        "1/3 found 1 1000 ms left 2000", "1/3 found 1 1000 ms left 2000",
                        "2/3 found 1 2000 ms left 1000", "2/3 found 1 2000 ms left 1000",
                        "3/3 found 2 3000 ms left 0"}));
}

// A scan that cannot run says why, as the system said it.
TEST_F(ScanTest, NoSocketGivesTheSystemsReason) {
    transport_.manyFailure = Reason::System(EMFILE);
    const ScanOutcome outcome = Scan({"192.0.2.1"});
    EXPECT_EQ(outcome.result, result::kSocketStartFailed);
    EXPECT_EQ(outcome.reason.kind, ReasonKind::kSystem);
    EXPECT_EQ(outcome.reason.error, EMFILE);
    EXPECT_TRUE(outcome.answers.empty());
}

}  // namespace
}  // namespace vexil
