// The transport library against the simulated print server on loopback, through its C
// interface alone, and against hostile peers played by the test itself.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <mutex>
#include <random>
#include <sstream>
#include <thread>

#include "engine/ProgramPayloads.h"
#include "engine/TargetRecord.h"
#include "format/DownloadFileReader.h"
#include "protocol/Socket.h"
#include "protocol/Wire.h"
#include "tavdl/tavdl.h"
#include "tests/support/Deadline.h"
#include "tests/support/Loopback.h"
#include "tests/support/Records.h"
#include "tests/support/SimProcess.h"
#include "tests/support/TestFiles.h"
#include "tests/support/TestPlatform.h"
#include "transport/TavdlTransport.h"

namespace vexil {
namespace {

using test::Bytes;
using Clock = std::chrono::steady_clock;

Bytes ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Set once by one thread, waited for by another with a deadline.
class Event {
  public:
    void Set() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            set_ = true;
        }
        changed_.notify_all();
    }
    bool WaitFor(std::chrono::milliseconds deadline) {
        std::unique_lock<std::mutex> lock(mutex_);
        return changed_.wait_for(lock, deadline, [this] { return set_; });
    }

  private:
    std::mutex mutex_;
    std::condition_variable changed_;
    bool set_ = false;
};

// A wait hook that sets the Event passed as the call's window: the call has begun to wait on
// its socket (calls with no window pass through).
void SetWindowEvent(void* window) {
    if (window != nullptr) {
        static_cast<Event*>(window)->Set();
    }
}

// What a test does around a download: before it connects, midway through its blocks, and the
// descriptor limit of the simulator (0: as inherited).
struct Around {
    std::function<void()> beforeConnect;
    std::function<void()> midway;
    int descriptorLimit = 0;
};

class TavdlTest : public ::testing::Test {
  protected:
    void SetUp() override {
        TavDL_SetWaitHook(nullptr);
        fdsBefore_ = test::OpenDescriptorCount();
    }

    // A simulator on free ports of its own; the targets and the tunnel setting follow it.
    std::unique_ptr<test::SimProcess> StartSim(const std::vector<std::string>& args,
                                               int descriptorLimit = 0) {
        auto sim = std::make_unique<test::SimProcess>(
            args, test::SimProcess::OnFreePorts{descriptorLimit});
        EXPECT_TRUE(sim->Running()) << sim->Log();
        UsePorts(sim->Ports());
        return sim;
    }
    void UsePorts(const test::SimPorts& ports) {
        ports_ = ports;
        test::SetEnvironment("TAVDL_IPX_TUNNEL", "127.0.0.1:" + std::to_string(ports.tunnel));
    }
    void TearDown() override {
        TavDL_CloseSocket(&socket_);
        TavDL_SetWaitHook(nullptr);
        TavDL_SetWaitSlice(0);
        EXPECT_EQ(test::OpenDescriptorCount(), fdsBefore_) << "a socket was left open";
    }

    TargetRecordPtr Target(bool ipx) {
        auto target = CreateTargetRecord();
        target->mode = ipx ? TAVDL_MODE_IPX : TAVDL_MODE_TCP_QUERY;
        target->waitSeconds = 2;
        SetInetAddress(*target, Ipv4Address(127, 0, 0, 1));
        SetInetPort(*target, ports_.vantrel);
        SetIpxNetwork(*target, {0x00, 0x00, 0x00, 0x01});
        SetIpxNode(*target, {0x00, 0xD1, 0xF0, 0x12, 0x34, 0x56});
        return target;
    }

    // Opens and connects the download connection as a download does.
    void Connect(TAVDL_ADDR& target) {
        if (target.mode != TAVDL_MODE_IPX) {
            target.mode = TAVDL_MODE_TCP_CONNECTION;
            SetInetPort(target, ports_.download);
        }
        ASSERT_NE(TavDL_OpenSocket(&target, &socket_), 0);
        ASSERT_EQ(TavDL_Download_Connection(&target, nullptr, 512, reply_, &socket_), 0);
    }

    // Sends every block of `path` (with the IPX prefix when `ipx`), retrying as the engine does;
    // `midway` runs after the third block.
    bool SendFile(TAVDL_ADDR& target, const std::string& path, std::uint16_t& sequence,
                  const std::function<void()>& midway = {}) {
        const bool ipx = target.mode == TAVDL_MODE_IPX;
        std::FILE* file = std::fopen(path.c_str(), "rb");
        std::uint8_t block[512];
        std::uint8_t send[512];
        int blocks = 0;
        for (;;) {
            std::uint32_t length = 0;
            const int r =
                ReadRecordBlock(file, block, length, ipx ? kIpxBlockLimit : kBlockBufferSize);
            if (r < 0) {
                return false;
            }
            const std::size_t prefix = ipx ? payload::kIpxPrefixSize : 0;
            if (ipx) {
                std::memcpy(send, payload::kIpxPrefix.data(), prefix);
                payload::PutIpxSequence(send, ++sequence);
            }
            std::memcpy(send + prefix, block, length);
            bool acked = false;
            for (int attempt = 0; attempt < 5 && !acked; ++attempt) {
                std::memset(reply_, 0, sizeof reply_);
                const int sent = TavDL_Download_SendData(
                    &target, nullptr, static_cast<unsigned long>(prefix + length), send, 512,
                    reply_, &socket_);
                acked = sent == 0 && payload::IsBlockAck(reply_, ipx);
            }
            if (!acked) {
                std::fclose(file);
                return false;
            }
            if (midway && ++blocks == 3) {
                midway();
            }
            if (r == 1) {
                std::fclose(file);
                return true;
            }
        }
    }

    bool Finish(TAVDL_ADDR& target, std::uint16_t sequence) {
        if (target.mode == TAVDL_MODE_IPX) {
            auto request = payload::kIpxFinishRequest;
            payload::PutIpxSequence(request.data(), ++sequence);
            return TavDL_Download_Finish(&target, nullptr, request.size(), request.data(), 512,
                                         reply_, &socket_) == 0 &&
                   payload::Begins(reply_, payload::kIpxFinishAck);
        }
        auto request = payload::kTcpFinishRequest;
        return TavDL_Download_Finish(&target, nullptr, request.size(), request.data(), 512, reply_,
                                     &socket_) == 0 &&
               payload::Begins(reply_, payload::kTcpFinishAck);
    }

    // The whole download through the C interface; the flash must equal the image.
    void WholeDownload(bool ipx, const std::vector<std::string>& faults,
                       const Around& around = {}) {
        test::ScratchDir dir;
        const std::string flash = (dir.path() / "flash.bin").string();
        std::vector<std::string> args = {"--once", "--flash", flash};
        args.insert(args.end(), faults.begin(), faults.end());
        auto sim = StartSim(args, around.descriptorLimit);
        ASSERT_TRUE(sim->Running());
        if (around.beforeConnect) {
            around.beforeConnect();
        }
        auto target = Target(ipx);
        ASSERT_EQ(TavDL_Vantrel_GetVersion(target.get(), nullptr, 512, reply_), 0);
        EXPECT_EQ(reply_[0], 7);
        if (!ipx) {
            SetInetPort(*target, ports_.bramble);
        } else {
            SetIpxSocket(*target, payload::kIpxDownloadSocket);
        }
        ASSERT_EQ(TavDL_Bramble_JampEprom(target.get(), nullptr, 512, reply_), 0);
        Connect(*target);
        ASSERT_EQ(TavDL_Download_EraseFlash(target.get(), nullptr, 512, reply_, &socket_), 0);
        std::uint16_t sequence = 3;
        ASSERT_TRUE(SendFile(*target, VEXIL_SAMPLE, sequence, around.midway));
        ASSERT_TRUE(Finish(*target, sequence));
        TavDL_CloseSocket(&socket_);
        EXPECT_EQ(sim->WaitForExit(5000), 0) << sim->Log();

        const std::string expected = (dir.path() / "expected.bin").string();
        ASSERT_EQ(
            std::system(
                (std::string(VEXIL_FILE) + " extract " + VEXIL_SAMPLE + " " + expected).c_str()),
            0);
        EXPECT_EQ(ReadFile(flash), ReadFile(expected));
        log_ = sim->Log();
    }

    // A library call or a peer thread that never returns ends the test here, with its name.
    test::Watchdog watchdog_{300, "the test to end (a call or a peer that never returns?)"};
    test::SimPorts ports_;
    unsigned int socket_ = 0;
    std::uint8_t reply_[512] = {};
    int fdsBefore_ = 0;
    std::string log_;
};

TEST_F(TavdlTest, VersionQueriesAndModeSwitchOverTcpIp) {
    auto sim = StartSim({"--model-code", "0b01", "--firmware-version", "a.05"});
    auto target = Target(false);
    EXPECT_EQ(TavDL_Vantrel_GetVersion(target.get(), nullptr, 512, reply_), 0);
    EXPECT_EQ(Bytes(reply_, reply_ + 10), (Bytes{7, 0, 0, 0, 0, 0, 0x0B, 0x01, 0x0A, 0x05}));
    SetInetPort(*target, ports_.bramble);
    EXPECT_EQ(TavDL_Bramble_GetVersion(target.get(), nullptr, 512, reply_), 0);
    EXPECT_EQ(Bytes(reply_ + 6, reply_ + 10), (Bytes{0x0B, 0x01, 0x0A, 0x05}));

    // The reply never goes past the size the caller gives. (Asked before the mode switch: in
    // download mode the print server answers no version query from another socket.)
    std::uint8_t small[4] = {0xEE, 0xEE, 0xEE, 0xEE};
    std::uint8_t guard[4] = {0xCC, 0xCC, 0xCC, 0xCC};
    SetInetPort(*target, ports_.vantrel);
    EXPECT_EQ(TavDL_Vantrel_GetVersion(target.get(), nullptr, 2, small), 0);
    EXPECT_EQ(small[0], 7);
    EXPECT_EQ(small[2], 0xEE);
    EXPECT_EQ(guard[0], 0xCC);

    SetInetPort(*target, ports_.bramble);
    EXPECT_EQ(TavDL_Bramble_JampEprom(target.get(), nullptr, 512, reply_), 0);
}

// The engine's adapter sends each query as its own: the simulator's Bramble port answers only the
// Bramble query and its Vantrel port only the Vantrel query, and their replies differ in byte 0.
TEST_F(TavdlTest, AdapterSendsEachVersionQueryToItsOwnPort) {
    auto sim = StartSim({"--model-code", "0b01", "--firmware-version", "a.05"});
    TavdlTransport transport;
    struct Row {
        bool bramble;
        std::uint8_t byte0;
    };
    for (const Row& row : {Row{true, 0}, Row{false, payload::kVantrelValid}}) {
        SCOPED_TRACE(row.bramble ? "Bramble" : "Vantrel");
        auto target = Target(false);
        // A query on the wrong port goes unanswered; the adapter writes the set-up itself.
        const Call call{*target,
                        nullptr,
                        {1, TAVDL_MODE_TCP_QUERY, row.bramble ? ports_.bramble : ports_.vantrel}};
        std::uint8_t reply[512] = {};
        EXPECT_EQ(row.bramble ? transport.BrambleGetVersion(call, reply)
                              : transport.VantrelGetVersion(call, reply),
                  0);
        EXPECT_EQ(Bytes(reply, reply + 10),
                  (Bytes{row.byte0, 0, 0, 0, 0, 0, 0x0B, 0x01, 0x0A, 0x05}));
    }
}

TEST_F(TavdlTest, NoAnswerGivesNonZeroAndFF) {
    auto target = Target(false);
    target->waitSeconds = 1;
    net::UniqueSocket silent = test::OpenLoopbackDatagram(0);  // a socket that never answers
    ASSERT_TRUE(silent.Valid());
    SetInetPort(*target, net::BoundPort(silent.Get()));
    const auto start = Clock::now();
    EXPECT_NE(TavDL_Vantrel_GetVersion(target.get(), nullptr, 512, reply_), 0);
    EXPECT_EQ(reply_[0], 0xFF);
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(5));
    EXPECT_NE(TavDL_Bramble_GetVersion(target.get(), nullptr, 512, reply_), 0);
    EXPECT_EQ(reply_[0], 0xFF);
    EXPECT_NE(TavDL_Bramble_JampEprom(target.get(), nullptr, 512, reply_), 0);
    EXPECT_EQ(reply_[0], 0xFF);
    silent.Reset();

    // Over IPX, a card at another node does not answer.
    auto sim = StartSim({});
    auto ipx = Target(true);
    ipx->waitSeconds = 1;
    SetIpxNode(*ipx, {0x00, 0xD1, 0xF0, 0x00, 0x00, 0x01});
    EXPECT_NE(TavDL_Vantrel_GetVersion(ipx.get(), nullptr, 512, reply_), 0);
    EXPECT_EQ(reply_[0], 0xFF);
    EXPECT_NE(sim->Log().find("ignored: not this card"), std::string::npos);
}

// A version query to a port where nothing listens waits its time as one that nobody answers: the
// refusal the system reports for it (ICMP port unreachable: ECONNREFUSED on Linux, WSAECONNRESET
// on Windows) ends no exchange early. Over IPX the tunnel endpoint's port is the closed one.
TEST_F(TavdlTest, ClosedPortWaitsItsTimeAsNoAnswer) {
    std::uint16_t closed = 0;
    {
        const net::UniqueSocket gone = test::OpenLoopbackDatagram(0);
        ASSERT_TRUE(gone.Valid());
        closed = net::BoundPort(gone.Get());
    }
    for (const bool ipx : {false, true}) {
        SCOPED_TRACE(ipx ? "IPX" : "TCP/IP");
        UsePorts({closed, closed, closed, closed});
        auto target = Target(ipx);
        target->waitSeconds = 1;
        const auto start = Clock::now();
        EXPECT_NE(TavDL_Vantrel_GetVersion(target.get(), nullptr, 512, reply_), 0);
        // A lower bound only: the call must not end before its wait is over.
        EXPECT_GE(Clock::now() - start, std::chrono::seconds(target->waitSeconds));
        EXPECT_EQ(reply_[0], 0xFF);
    }
}

// A version reply of fewer than ten bytes reaches the caller with its length, the rest of the
// buffer zero whatever it held before, so that the check of a version reply refuses it; at ten
// bytes the reply is valid. Both queries over both transports, against a peer of the test's own
// that answers with the first bytes of a valid reply.
TEST_F(TavdlTest, VersionReplyLengthReachesTheCaller) {
    namespace wire = tavdl::wire;
    const net::UniqueSocket peer = test::OpenLoopbackDatagram(0);
    ASSERT_TRUE(peer.Valid());
    const std::uint16_t port = net::BoundPort(peer.Get());
    UsePorts({port, port, port, port});
    std::atomic<int> answerBytes{0};  // below 0: no answer
    std::atomic<bool> done{false};
    std::thread answering([&] {
        // Valid for both queries: byte 0 is 7, byte 7 is not 1.
        const std::uint8_t valid[10] = {7, 0, 0, 0, 0, 0, 0xAA, 0x00, 0x01, 0x10};
        std::uint8_t in[wire::kMaxFrame];
        std::uint8_t out[wire::kMaxFrame];
        while (!done) {
            if (net::Wait(peer.Get(), net::kReadable, 50) != 1) {
                continue;
            }
            sockaddr_in from{};
            const long got = net::ReceiveFrom(peer.Get(), in, sizeof in, from);
            const bool ipx = got >= static_cast<long>(wire::kIpxHeaderSize) && in[0] == 0xFF;
            const wire::Framing framing = ipx ? wire::Framing::kIpx : wire::Framing::kDatagram;
            wire::Message request;
            wire::IpxAddress to{};
            wire::IpxAddress source{};
            const int length = answerBytes;
            if (got < 0 || length < 0 ||
                !wire::DecodeDatagram(framing, in, static_cast<std::size_t>(got), request, &to,
                                      &source)) {
                continue;
            }
            const std::size_t size = wire::EncodeFrame(
                framing, wire::ReplyTo(request, 0, valid, static_cast<std::size_t>(length)), out,
                &source, &to);
            net::SendTo(peer.Get(), out, size, from);
        }
    });
    TavdlTransport transport;
    for (const bool ipx : {false, true}) {
        for (const VersionQuery query : {VersionQuery::kVantrel, VersionQuery::kBramble}) {
            for (const int length : {0, 1, 9, 10}) {
                SCOPED_TRACE(::testing::Message()
                             << (query == VersionQuery::kBramble ? "Bramble" : "Vantrel")
                             << (ipx ? " over IPX, " : " over TCP/IP, ") << length << " bytes");
                answerBytes = length;
                auto target = Target(ipx);
                const Call call{*target, nullptr, {2}};
                std::memset(reply_, 0xEE, sizeof reply_);  // what an earlier reply left
                EXPECT_EQ(query == VersionQuery::kBramble
                              ? transport.BrambleGetVersion(call, reply_)
                              : transport.VantrelGetVersion(call, reply_),
                          0);
                EXPECT_EQ(transport.LastReplyLength(), static_cast<std::size_t>(length));
                EXPECT_EQ(TavDL_LastReplyLength(), static_cast<unsigned long>(length));
                EXPECT_EQ(std::count(reply_ + length, reply_ + sizeof reply_, 0),
                          static_cast<std::ptrdiff_t>(sizeof reply_) - length);
                EXPECT_EQ(payload::IsValidVersionReply(query, reply_, transport.LastReplyLength()),
                          length == 10);
            }
        }
    }
    // A call that gets no reply says none came, whatever the call before it took.
    answerBytes = -1;
    auto target = Target(false);
    target->waitSeconds = 1;
    EXPECT_NE(TavDL_Vantrel_GetVersion(target.get(), nullptr, 512, reply_), 0);
    EXPECT_EQ(TavDL_LastReplyLength(), 0u);
    done = true;
    answering.join();
}

TEST_F(TavdlTest, FaultsGiveTheirResults) {
    auto sim = StartSim({"--bad-version-reply", "--refuse-mode-switch", "1", "--ignore-mode-switch",
                         "1", "--refuse-connections", "2", "--fail-erase", "1"});
    for (bool ipx : {false, true}) {
        SCOPED_TRACE(ipx ? "IPX" : "TCP/IP");
        auto target = Target(ipx);
        target->waitSeconds = 1;
        EXPECT_EQ(TavDL_Vantrel_GetVersion(target.get(), nullptr, 512, reply_), 0);
        EXPECT_EQ(reply_[0], 5) << "an invalid reply is still a reply";
        SetInetPort(*target, ports_.bramble);
        if (!ipx) {
            // The first switch is ignored, the second refused, the third taken.
            EXPECT_NE(TavDL_Bramble_JampEprom(target.get(), nullptr, 512, reply_), 0);
            EXPECT_EQ(reply_[0], 0xFF);
            EXPECT_NE(TavDL_Bramble_JampEprom(target.get(), nullptr, 512, reply_), 0);
            EXPECT_NE(reply_[0], 0xFF);
        }
        EXPECT_EQ(TavDL_Bramble_JampEprom(target.get(), nullptr, 512, reply_), 0);
        if (!ipx) {
            target->mode = TAVDL_MODE_TCP_CONNECTION;
            SetInetPort(*target, ports_.download);
        }
        ASSERT_NE(TavDL_OpenSocket(target.get(), &socket_), 0);
        if (!ipx) {
            EXPECT_NE(TavDL_Download_Connection(target.get(), nullptr, 512, reply_, &socket_), 0);
            EXPECT_NE(TavDL_Download_Connection(target.get(), nullptr, 512, reply_, &socket_), 0);
        }
        EXPECT_EQ(TavDL_Download_Connection(target.get(), nullptr, 512, reply_, &socket_), 0);
        if (!ipx) {
            EXPECT_NE(TavDL_Download_EraseFlash(target.get(), nullptr, 512, reply_, &socket_), 0);
        }
        EXPECT_EQ(TavDL_Download_EraseFlash(target.get(), nullptr, 512, reply_, &socket_), 0);
        TavDL_CloseSocket(&socket_);
    }
}

TEST_F(TavdlTest, WholeDownloadOverTcpIp) {
    WholeDownload(false, {});
    EXPECT_NE(log_.find("download finished over TCP/IP"), std::string::npos);
}

TEST_F(TavdlTest, WholeDownloadOverIpx) {
    WholeDownload(true, {});
    EXPECT_NE(log_.find("download finished over IPX"), std::string::npos);
}

TEST_F(TavdlTest, ResendsAfterFaultsChangeNothingInTheFlash) {
    WholeDownload(false, {"--refuse-block", "2:2", "--nak-block", "3:4", "--refuse-block", "9"});
    WholeDownload(true, {"--refuse-block", "2:2", "--nak-block", "3:4", "--nak-block", "86"});
    EXPECT_NE(log_.find("a resend"), std::string::npos);
}

// An erase that takes longer than the simulator's idle time keeps the download's connection open:
// the client waits for the reply held back, and says nothing meanwhile. A block sent again after
// no acknowledgement is counted once in the finish line.
TEST_F(TavdlTest, SlowEraseKeepsTheConnection) {
    WholeDownload(false, {"--idle-seconds", "0.5", "--erase-seconds", "1.5", "--nak-block", "2"});
    EXPECT_EQ(log_.find("silent too long"), std::string::npos) << log_;
    const std::string blocks =
        ": " + std::to_string(test::FileBlocks(VEXIL_SAMPLE).size()) + " blocks,";
    EXPECT_NE(log_.find("download finished over TCP/IP" + blocks), std::string::npos) << log_;
}

// A reply that comes after its call gave up must not pass for the reply to the next request:
// neither when a resend came between (the late reply is two exchanges old) nor when the next
// request follows at once (the late reply answers the exchange just before).
TEST_F(TavdlTest, LateReplyIsNotTakenForTheNextOne) {
    for (const auto& run : {std::pair{false, true}, {true, true}, {false, false}}) {
        const bool ipx = run.first;
        const bool resend = run.second;
        SCOPED_TRACE(std::string(ipx ? "IPX" : "TCP/IP") + (resend ? ", a resend between" : ""));
        auto sim = StartSim(
            {"--late-block", "1", "--late-block", "2", "--nak-block", "2", "--late-ms", "1500"});
        auto target = Target(ipx);
        Connect(*target);
        ASSERT_EQ(TavDL_Download_EraseFlash(target.get(), nullptr, 512, reply_, &socket_), 0);
        const Bytes one = test::DataRecord(0x100, 8, 1);
        const Bytes two = test::DataRecord(0x200, 8, 2);
        auto send = [&](const Bytes& block, std::uint8_t sequence, int waitSeconds) {
            Bytes data = block;
            if (ipx) {
                data.insert(data.begin(), payload::kIpxPrefix.begin(), payload::kIpxPrefix.end());
                payload::PutIpxSequence(data.data(), sequence);
            }
            target->waitSeconds = waitSeconds;
            std::memset(reply_, 0, sizeof reply_);
            return TavDL_Download_SendData(target.get(), nullptr,
                                           static_cast<unsigned long>(data.size()), data.data(),
                                           512, reply_, &socket_);
        };
        const Bytes one_ = Bytes(one.begin(), one.end() - 1);  // a block has no line feed
        const Bytes two_ = Bytes(two.begin(), two.end() - 1);
        EXPECT_NE(send(one_, 4, 1), 0) << "block 1 answered after the call gave up";
        if (resend) {
            EXPECT_EQ(send(one_, 4, 1), 0) << "the resend is acknowledged at once";
        }
        // Block 2 is answered late and without acknowledgement; block 1's late acknowledgement
        // arrives while its call waits and must be passed over.
        EXPECT_EQ(send(two_, 5, 3), 0);
        EXPECT_FALSE(payload::IsBlockAck(reply_, ipx))
            << "the late acknowledgement of block 1 was taken for block 2's reply";
        TavDL_CloseSocket(&socket_);
    }
}

TEST_F(TavdlTest, WaitHookRunsOftenAndCanCloseTheSocket) {
    auto sim = StartSim({"--erase-seconds", "5"});
    auto target = Target(false);
    Connect(*target);
    static std::vector<Clock::time_point> calls;
    static unsigned int* closing = nullptr;
    static Clock::time_point closedAt;
    calls.clear();
    closing = &socket_;
    TavDL_SetWaitHook([](void* window) {
        EXPECT_EQ(window, reinterpret_cast<void*>(0x1234));
        calls.push_back(Clock::now());
        if (calls.size() == 30) {
            closedAt = Clock::now();
            TavDL_CloseSocket(closing);
        }
    });
    target->waitSeconds = 60;
    EXPECT_NE(TavDL_Download_EraseFlash(target.get(), reinterpret_cast<void*>(0x1234), 512, reply_,
                                        &socket_),
              0);
    const auto failedAfter = Clock::now() - closedAt;
    EXPECT_LT(failedAfter, std::chrono::milliseconds(100));
    EXPECT_EQ(calls.size(), 30u);
    // Every few milliseconds: the typical gap is one poll slice; a busy machine may stretch
    // one now and then, never to anything a person would notice.
    std::vector<Clock::duration> gaps;
    for (std::size_t i = 1; i < calls.size(); ++i) {
        gaps.push_back(calls[i] - calls[i - 1]);
    }
    std::sort(gaps.begin(), gaps.end());
    EXPECT_LE(gaps[gaps.size() / 2], std::chrono::milliseconds(20));
    EXPECT_LT(gaps.back(), std::chrono::milliseconds(250));
    EXPECT_EQ(socket_, 0u);
    // Closing again, or a handle never opened, is harmless.
    TavDL_CloseSocket(&socket_);
    unsigned int never = 777;
    TavDL_CloseSocket(&never);
    TavDL_CloseSocket(nullptr);
}

// A caller that needs no window can wait in longer slices: a one-second wait for a silent
// print server then wakes a few times rather than a hundred; 0 gives the window its slices back.
TEST_F(TavdlTest, WaitSliceSetsHowOftenTheHookRuns) {
    auto target = Target(false);
    target->waitSeconds = 1;
    const net::UniqueSocket silent = test::OpenLoopbackDatagram(0);
    ASSERT_TRUE(silent.Valid());
    SetInetPort(*target, net::BoundPort(silent.Get()));
    static int calls;
    TavDL_SetWaitHook([](void*) { ++calls; });
    for (const auto& [slice, fewest, most] : {std::tuple{300ul, 1, 6}, std::tuple{0ul, 7, 1000}}) {
        calls = 0;
        TavDL_SetWaitSlice(slice);
        EXPECT_NE(TavDL_Vantrel_GetVersion(target.get(), nullptr, 512, reply_), 0);
        EXPECT_GE(calls, fewest) << "slice " << slice;
        EXPECT_LE(calls, most) << "slice " << slice;
    }
}

// A peer of the test's own that answers with random bytes: frames too long, too short,
// garbled, datagrams from elsewhere. The library must fail or carry on, never crash.
TEST_F(TavdlTest, HostilePeersNeverCrashTheLibrary) {
    namespace wire = tavdl::wire;
    std::mt19937 random(20261207);
    auto randomBytes = [&](std::size_t max) {
        Bytes bytes(random() % (max + 1));
        for (auto& b : bytes) {
            b = static_cast<std::uint8_t>(random());
        }
        return bytes;
    };
    auto frame = [](std::uint8_t type, std::uint32_t id, std::uint8_t status, const Bytes& data) {
        Bytes out(wire::kMaxFrame);
        out.resize(wire::EncodeFrame(wire::Framing::kStream,
                                     {type, id, status, data.data(), data.size()}, out.data()));
        return out;
    };
    // Reads one request frame from the library; its message is returned.
    auto readRequest = [](net::Handle connection, std::uint8_t* message) {
        std::uint8_t prefix[wire::kLengthPrefix];
        return net::ReceiveAll(connection, prefix, sizeof prefix, 3000) == sizeof prefix &&
               net::ReceiveAll(connection, message, wire::StreamLength(prefix), 3000) ==
                   wire::StreamLength(prefix);
    };
    net::UniqueSocket listener = test::OpenLoopbackListener(0);
    ASSERT_TRUE(listener.Valid());
    auto target = Target(false);
    target->mode = TAVDL_MODE_TCP_CONNECTION;
    target->waitSeconds = 1;
    SetInetPort(*target, net::BoundPort(listener.Get()));

    // TCP, an answer to the erase request of a connected session, made from the request. The
    // result each answer must give, the reply bytes taken into an 8-byte room, and whether the
    // library must close the connection at once (a stream it cannot trust), or keep it.
    const Bytes ack = {0x70, 0x30, 0x03};
    struct Answer {
        const char* name;
        std::function<Bytes(std::uint32_t id)> bytes;
        int result;
        Bytes reply;
        bool closes;
    };
    const std::vector<Answer> crafted = {
        {"a frame shorter than the header",
         [](std::uint32_t) { return Bytes{0x00, 0x05, 0x91, 0, 0, 0, 0}; },
         -1,
         {},
         true},
        {"a length of 0",
         [](std::uint32_t) {
             return Bytes{0x00, 0x00};
         },
         -1,
         {},
         true},
        {"a length past any message",
         [](std::uint32_t) {
             return Bytes{0x04, 0x07, 0x91};
         },
         -1,
         {},
         true},
        {"the request's id with another type",
         [&](std::uint32_t id) { return frame(wire::kConnect | wire::kReplyBit, id, 0, {0}); },
         -1,
         {},
         true},
        {"a refusal",
         [&](std::uint32_t id) { return frame(wire::kErase | 0x80, id, 1, {1}); },
         1,
         {1},
         false},
        {"a reply longer than the room",
         [&](std::uint32_t id) { return frame(wire::kErase | 0x80, id, 0, Bytes(300, 0x5A)); }, 0,
         Bytes(8, 0x5A), false},
        {"a late reply to the exchange before, then the reply",
         [&](std::uint32_t id) {
             return test::Join({frame(wire::kConnect | 0x80, id - 1, 0, {9}),
                                frame(wire::kErase | 0x80, id, 0, ack)});
         },
         0, ack, false},
        {"no answer", [](std::uint32_t) { return Bytes{}; }, -1, {}, false},
    };
    for (const Answer& answer : crafted) {
        SCOPED_TRACE(answer.name);
        std::atomic<bool> closedByLibrary{false};
        std::atomic<bool> returned{false};
        std::thread peer([&] {
            if (net::Wait(listener.Get(), net::kReadable, 3000) != 1) {
                return;
            }
            const net::UniqueSocket connection(net::Accept(listener.Get()));
            const net::Handle fd = connection.Get();
            std::uint8_t request[wire::kMaxMessage];
            if (readRequest(fd, request)) {
                const Bytes accepted = frame(wire::kConnect | 0x80, wire::GetId(request), 0, {0});
                (void)net::Send(fd, accepted.data(), accepted.size());
            }
            if (readRequest(fd, request)) {
                // The answer goes out a byte at a time: the library must put it together.
                for (const std::uint8_t byte : answer.bytes(wire::GetId(request))) {
                    (void)net::Send(fd, &byte, 1);
                }
            }
            // The library closes its side before its call returns, or keeps it open.
            for (int after = 0; after < 10 && !closedByLibrary;) {
                closedByLibrary = test::PeerClosed(fd, 10);
                after += returned ? 1 : 0;
            }
        });
        std::uint8_t reply[16] = {};
        ASSERT_NE(TavDL_OpenSocket(target.get(), &socket_), 0);
        EXPECT_EQ(TavDL_Download_Connection(target.get(), nullptr, 8, reply, &socket_), 0);
        std::memset(reply, 0, sizeof reply);
        EXPECT_EQ(TavDL_Download_EraseFlash(target.get(), nullptr, 8, reply, &socket_),
                  answer.result);
        returned = true;
        Bytes expected = answer.reply;
        expected.resize(sizeof reply);
        EXPECT_EQ(Bytes(reply, reply + sizeof reply), expected);
        peer.join();
        EXPECT_EQ(closedByLibrary, answer.closes);
        TavDL_CloseSocket(&socket_);
    }

    // TCP, random answers to the connection request, then the peer closes: never a reply with
    // the request's exchange id, so every call fails, and nothing lands past the 8 bytes given.
    std::vector<Bytes> answers;
    for (int i = 0; i < 60; ++i) {
        Bytes answer = randomBytes(i % 3 == 0 ? 3000 : 40);
        if (i % 4 == 1 && answer.size() >= 2) {
            answer[0] = 0xFF;  // a length far past any message
        }
        answers.push_back(answer);
    }
    std::thread peer([&] {
        for (const Bytes& answer : answers) {
            if (net::Wait(listener.Get(), net::kReadable, 3000) != 1) {
                return;
            }
            const net::UniqueSocket connection(net::Accept(listener.Get()));
            std::uint8_t request[2048];
            if (net::Wait(connection.Get(), net::kReadable, 3000) == 1) {
                (void)net::Receive(connection.Get(), request, sizeof request);
            }
            (void)net::Send(connection.Get(), answer.data(), answer.size());
            // The close comes a moment after the answer, as from a peer that gives up, rather
            // than with it.
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    });
    std::uint8_t reply[16];
    for (std::size_t i = 0; i < answers.size(); ++i) {
        ASSERT_NE(TavDL_OpenSocket(target.get(), &socket_), 0);
        std::memset(reply, 0, sizeof reply);
        EXPECT_NE(TavDL_Download_Connection(target.get(), nullptr, 8, reply, &socket_), 0) << i;
        for (std::size_t b = 8; b < sizeof reply; ++b) {
            EXPECT_EQ(reply[b], 0);
        }
        TavDL_CloseSocket(&socket_);
    }
    peer.join();
    listener.Reset();

    // UDP and IPX: a tunnel endpoint that answers with garbage first, then a reply from the
    // wrong node, then the right reply; only the right one counts.
    const net::UniqueSocket tunnel = test::OpenLoopbackDatagram(0);
    ASSERT_TRUE(tunnel.Valid());
    UsePorts({0, 0, 0, net::BoundPort(tunnel.Get())});
    std::atomic<bool> done{false};
    std::thread ipxPeer([&] {
        std::uint8_t in[2048];
        while (!done) {
            if (net::Wait(tunnel.Get(), net::kReadable, 50) != 1) {
                continue;
            }
            sockaddr_in from{};
            const long got = net::ReceiveFrom(tunnel.Get(), in, sizeof in, from);
            if (got < 36) {
                continue;
            }
            for (int g = 0; g < 20; ++g) {
                const Bytes junk = randomBytes(g % 2 ? 2000 : 60);
                net::SendTo(tunnel.Get(), junk.data(), junk.size(), from);
            }
            wire::Message request;
            wire::IpxAddress to{}, source{};
            wire::DecodeDatagram(wire::Framing::kIpx, in, static_cast<std::size_t>(got), request,
                                 &to, &source);
            wire::IpxAddress wrong = to;
            wrong.node[5] ^= 1;
            std::uint8_t out[wire::kMaxFrame];
            for (const auto& [answer, sender] : {std::pair{0x66, &wrong}, std::pair{7, &to}}) {
                const std::uint8_t data[10] = {static_cast<std::uint8_t>(answer)};
                const std::size_t bytes = wire::EncodeFrame(
                    wire::Framing::kIpx, wire::ReplyTo(request, 0, data, 10), out, &source, sender);
                net::SendTo(tunnel.Get(), out, bytes, from);
            }
        }
    });
    auto ipx = Target(true);
    for (int i = 0; i < 5; ++i) {
        std::memset(reply_, 0, sizeof reply_);
        EXPECT_EQ(TavDL_Vantrel_GetVersion(ipx.get(), nullptr, 512, reply_), 0);
        EXPECT_EQ(reply_[0], 7) << "only the reply from the card asked counts";
    }
    done = true;
    ipxPeer.join();
}

TEST_F(TavdlTest, PeerThatClosesFailsTheCall) {
    auto sim = StartSim({"--erase-seconds", "2"});
    auto target = Target(false);
    Connect(*target);
    // The simulator stops once the erase waits for its reply.
    Event waiting;
    TavDL_SetWaitHook(SetWindowEvent);
    std::thread stopper([&] {
        EXPECT_TRUE(waiting.WaitFor(std::chrono::seconds(10))) << "the erase never waited";
        sim->Stop();
    });
    target->waitSeconds = 10;
    const auto start = Clock::now();
    EXPECT_NE(TavDL_Download_EraseFlash(target.get(), &waiting, 512, reply_, &socket_), 0);
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(5));
    stopper.join();
    TavDL_CloseSocket(&socket_);
}

// A second client, over either transport, while a download runs: its connection, erase, data
// and finish are refused as a busy print server refuses them, and the running download's
// flash comes out exactly as the image. Over TCP/IP the intruder is a raw connection of the
// test's own (the library would not send an erase on a refused connection).
TEST_F(TavdlTest, SecondClientIsRefusedWhileADownloadRuns) {
    namespace wire = tavdl::wire;
    const Bytes block = [] {
        Bytes record = test::DataRecord(0x8000, 16, 0xEE);
        record.pop_back();  // a block has no line feed
        return record;
    }();
    auto intrude = [&] {
        // Over IPX through the library, from a socket of its own.
        auto ipx = Target(true);
        SetIpxSocket(*ipx, payload::kIpxDownloadSocket);
        unsigned int other = 0;
        ASSERT_NE(TavDL_OpenSocket(ipx.get(), &other), 0);
        Bytes data =
            test::Join({Bytes(payload::kIpxPrefix.begin(), payload::kIpxPrefix.end()), block});
        std::uint8_t reply[512];
        EXPECT_EQ(TavDL_Download_Connection(ipx.get(), nullptr, 512, reply, &other), 1);
        EXPECT_EQ(TavDL_Download_EraseFlash(ipx.get(), nullptr, 512, reply, &other), 1);
        EXPECT_EQ(
            TavDL_Download_SendData(ipx.get(), nullptr, static_cast<unsigned long>(data.size()),
                                    data.data(), 512, reply, &other),
            1);
        auto finish = payload::kIpxFinishRequest;
        EXPECT_EQ(TavDL_Download_Finish(ipx.get(), nullptr, finish.size(), finish.data(), 512,
                                        reply, &other),
                  1);
        TavDL_CloseSocket(&other);

        // Over TCP/IP, erase and data frames on a connection that never asked to connect.
        const net::UniqueSocket connection = test::ConnectLoopback(ports_.download);
        ASSERT_TRUE(connection.Valid());
        for (const auto& [type, bytes] : {std::pair{wire::kErase, Bytes{}},
                                          {wire::kData, block},
                                          {wire::kFinish, Bytes{0x71, 0x03}}}) {
            std::uint8_t out[wire::kMaxFrame];
            const std::size_t size = wire::EncodeFrame(
                wire::Framing::kStream, {type, 77, 0, bytes.data(), bytes.size()}, out);
            ASSERT_EQ(net::Send(connection.Get(), out, size), static_cast<long>(size));
            std::uint8_t in[wire::kLengthPrefix + wire::kHeaderSize];
            ASSERT_EQ(net::ReceiveAll(connection.Get(), in, sizeof in, 5000), sizeof in);
            EXPECT_EQ(in[wire::kLengthPrefix], type | wire::kReplyBit);
            EXPECT_EQ(in[wire::kLengthPrefix + 5], 1) << "status: refused";
            std::uint8_t rest[wire::kMaxData];
            const std::size_t more = wire::StreamLength(in) - wire::kHeaderSize;
            if (more > 0) {
                ASSERT_EQ(net::ReceiveAll(connection.Get(), rest, more, 5000), more);
            }
        }
    };
    for (bool ipx : {false, true}) {
        SCOPED_TRACE(ipx ? "the download over IPX" : "the download over TCP/IP");
        WholeDownload(ipx, {}, {nullptr, intrude});
        EXPECT_NE(log_.find("another client's download runs"), std::string::npos);
    }
}

// One simulator playing three print servers on loopback addresses of their own, each with its
// own state: a fault given to one address silences that one only, a download to one leaves the
// others' flash, owner and version alone (they answer other clients meanwhile, while the one in
// download mode does not), its flash file is named by its address, and the first address's print
// server is the one behind the IPX tunnel.
// Whether one UDP port can be bound on two loopback addresses, as a simulator of many print
// servers needs. Wine binds a UDP socket to its network interface, every address of it, rather
// than to its address: there one port serves one address of the loopback device.
net::UniqueSocket UdpOn(const char* address, std::uint16_t port) {
    net::UniqueSocket socket(net::Open(net::Kind::kDatagram));
    sockaddr_in at{};
    at.sin_family = AF_INET;
    at.sin_port = htons(port);
    net::ParseIpv4(address, at.sin_addr);
    return socket.Valid() && net::Bind(socket.Get(), at) == 0 ? std::move(socket)
                                                              : net::UniqueSocket();
}
bool OnePortServesManyAddresses() {
    const net::UniqueSocket first = UdpOn("127.0.0.2", 0);
    return first.Valid() && UdpOn("127.0.0.3", net::BoundPort(first.Get())).Valid();
}

TEST_F(TavdlTest, ManyPrintServersInOneSimulator) {
    if (!OnePortServesManyAddresses()) {
        GTEST_SKIP() << "one UDP port cannot be bound on two loopback addresses here (Wine "
                        "binds a UDP socket to its interface)";
    }
    test::ScratchDir dir;
    auto sim = StartSim({"--listen", "127.0.0.2-127.0.0.4", "--flash-dir", dir.path().string(),
                         "--printer", "127.0.0.3 --no-version-reply", "--printer",
                         "127.0.0.4 --firmware-version 2.00"});
    ASSERT_TRUE(sim->Running());
    auto at = [this](std::uint8_t host) {
        auto target = Target(false);
        target->waitSeconds = 1;
        SetInetAddress(*target, Ipv4Address(127, 0, 0, host));
        return target;
    };
    // The version each answers (0 for none), asked from a socket of its own.
    auto version = [&](std::uint8_t host) -> int {
        std::memset(reply_, 0, sizeof reply_);
        if (TavDL_Vantrel_GetVersion(at(host).get(), nullptr, 512, reply_) != 0) {
            return 0;
        }
        return reply_[8] << 8 | reply_[9];
    };
    EXPECT_EQ(version(2), 0x0110);
    EXPECT_EQ(version(3), 0) << "--printer's fault for 127.0.0.3";
    EXPECT_EQ(version(4), 0x0200);
    test::SetEnvironment("TAVDL_IPX_TUNNEL", "127.0.0.2:" + std::to_string(ports_.tunnel));
    ASSERT_EQ(TavDL_Vantrel_GetVersion(Target(true).get(), nullptr, 512, reply_), 0);
    EXPECT_EQ(sim->Log().find("127.0.0.3: ipx"), std::string::npos);
    EXPECT_NE(sim->Log().find("127.0.0.2: ipx Vantrel version query"), std::string::npos)
        << sim->Log();

    auto target = at(2);
    SetInetPort(*target, ports_.bramble);
    ASSERT_EQ(TavDL_Bramble_JampEprom(target.get(), nullptr, 512, reply_), 0);
    Connect(*target);
    ASSERT_EQ(TavDL_Download_EraseFlash(target.get(), nullptr, 512, reply_, &socket_), 0);
    std::uint16_t sequence = 3;
    ASSERT_TRUE(SendFile(*target, VEXIL_SAMPLE, sequence, [&] {
        EXPECT_EQ(version(2), 0) << "in download mode for another client";
        EXPECT_EQ(version(4), 0x0200) << "another print server's owner";
    }));
    ASSERT_TRUE(Finish(*target, sequence));
    TavDL_CloseSocket(&socket_);
    EXPECT_EQ(version(2), 0x0110) << "out of download mode";

    const std::string expected = (dir.path() / "expected.bin").string();
    ASSERT_EQ(std::system(
                  (std::string(VEXIL_FILE) + " extract " + VEXIL_SAMPLE + " " + expected).c_str()),
              0);
    EXPECT_EQ(ReadFile((dir.path() / "127.0.0.2.bin").string()), ReadFile(expected));
    for (const char* untouched : {"127.0.0.3.bin", "127.0.0.4.bin"}) {
        EXPECT_FALSE(std::filesystem::exists(dir.path() / untouched)) << untouched;
    }
    const std::string log = sim->Log();
    EXPECT_NE(log.find("127.0.0.2: tcp erase: flash erased"), std::string::npos) << log;
    EXPECT_NE(log.find("127.0.0.2: download finished over TCP/IP"), std::string::npos) << log;
    for (const char* other : {"127.0.0.3: tcp", "127.0.0.4: tcp", "127.0.0.4: udp download"}) {
        EXPECT_EQ(log.find(other), std::string::npos) << other << "\n" << log;
    }
}

// At a low descriptor limit, flooded with idle connections, the simulator keeps taking new ones
// (the one silent longest makes room, said once) and serves a well-behaved download.
TEST_F(TavdlTest, SimulatorServesADownloadAtItsDescriptorLimit) {
    if (!test::SimProcess::LimitsDescriptors()) {
        GTEST_SKIP() << "Windows has no descriptor limit to start the simulator with";
    }
    std::vector<net::UniqueSocket> idle;
    WholeDownload(false, {},
                  {[&] {
                       for (int i = 0; i < 40; ++i) {
                           idle.push_back(test::ConnectLoopback(ports_.download));
                           ASSERT_TRUE(idle.back().Valid());
                       }
                   },
                   nullptr, 24});
    std::size_t shed = 0;
    for (const net::UniqueSocket& connection : idle) {
        shed += test::PeerClosed(connection.Get(), 0) ? 1 : 0;
    }
    idle.clear();
    EXPECT_GT(shed, 0u);
    const auto said = log_.find("as many as the descriptor limit allows");
    ASSERT_NE(said, std::string::npos);
    EXPECT_EQ(log_.find("as many as the descriptor limit allows", said + 1), std::string::npos);
}

// A connection that stays silent is closed after --idle-seconds.
TEST_F(TavdlTest, SimulatorClosesSilentConnections) {
    auto sim = StartSim({"--idle-seconds", "0.3"});
    net::UniqueSocket connection = test::ConnectLoopback(ports_.download);
    ASSERT_TRUE(connection.Valid());
    EXPECT_TRUE(test::PeerClosed(connection.Get(), 5000));
    connection.Reset();
    EXPECT_NE(sim->Log().find("silent too long: closed"), std::string::npos);
}

// Three threads on the library at once: two run exchanges on sockets of their own (one over
// TCP/IP, one over IPX), the third queries and closes the others' sockets under them. Nothing
// may crash (the sanitizer build runs this too), every call gives one of its results, and
// afterwards no descriptor is left and the library works as before. Before that, the contract
// itself: a call on a socket that another thread uses fails at once and leaves it alone, and a
// close from another thread ends a waiting call within a few milliseconds.
TEST_F(TavdlTest, ThreeThreadsAtOnce) {
    auto sim = StartSim({"--erase-seconds", "3"});
    auto target = Target(false);
    Connect(*target);
    target->waitSeconds = 10;
    int erased = 0;
    Clock::time_point endedAt;
    Event erasing;
    TavDL_SetWaitHook(SetWindowEvent);
    std::thread eraser([&] {
        unsigned int mine = socket_;
        std::uint8_t reply[512];
        erased = TavDL_Download_EraseFlash(target.get(), &erasing, 512, reply, &mine);
        endedAt = Clock::now();
    });
    EXPECT_TRUE(erasing.WaitFor(std::chrono::seconds(10))) << "the erase never waited";
    const Bytes one = test::DataRecord(0x100, 8, 1);
    std::uint8_t reply[512];
    const auto start = Clock::now();
    unsigned int shared = socket_;
    EXPECT_NE(
        TavDL_Download_SendData(target.get(), nullptr, static_cast<unsigned long>(one.size() - 1),
                                const_cast<std::uint8_t*>(one.data()), 512, reply, &shared),
        0);
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(1)) << "the busy socket failed at once";
    const auto closedAt = Clock::now();
    TavDL_CloseSocket(&shared);
    eraser.join();
    TavDL_SetWaitHook(nullptr);
    EXPECT_NE(erased, 0);
    EXPECT_LT(endedAt - closedAt, std::chrono::milliseconds(500));
    socket_ = 0;

    std::atomic<unsigned int> handles[2] = {0, 0};
    std::atomic<bool> stop{false};
    std::atomic<int> oddResults{0};
    auto count = [&](int result) {
        oddResults += result == 0 || result == 1 || result == -1 ? 0 : 1;
    };
    auto worker = [&](int me) {
        auto mine = Target(me == 1);
        mine->waitSeconds = 1;
        if (me == 0) {
            mine->mode = TAVDL_MODE_TCP_CONNECTION;
            SetInetPort(*mine, ports_.download);
        }
        const Bytes data = test::Join(
            {me == 1 ? Bytes(payload::kIpxPrefix.begin(), payload::kIpxPrefix.end()) : Bytes{},
             Bytes(one.begin(), one.end() - 1)});
        std::uint8_t answer[512];
        for (int round = 0; round < 100; ++round) {
            unsigned int socket = 0;
            if (TavDL_OpenSocket(mine.get(), &socket) == 0) {
                continue;
            }
            handles[me] = socket;
            count(TavDL_Download_Connection(mine.get(), nullptr, 512, answer, &socket));
            for (int i = 0; i < 2; ++i) {
                count(TavDL_Download_SendData(
                    mine.get(), nullptr, static_cast<unsigned long>(data.size()),
                    const_cast<std::uint8_t*>(data.data()), 512, answer, &socket));
            }
            handles[me] = 0;
            TavDL_CloseSocket(&socket);
        }
    };
    std::thread tcp(worker, 0);
    std::thread ipx(worker, 1);
    std::thread closer([&] {
        auto query = Target(false);
        std::uint8_t answer[512];
        for (unsigned loop = 0; !stop; ++loop) {
            if (loop % 32 == 0) {
                count(TavDL_Vantrel_GetVersion(query.get(), nullptr, 512, answer));
            }
            for (auto& handle : handles) {
                unsigned int copy = handle;
                TavDL_CloseSocket(&copy);
            }
        }
    });
    tcp.join();
    ipx.join();
    stop = true;
    closer.join();
    EXPECT_EQ(oddResults, 0);
    sim->Stop();

    auto again = StartSim({});
    auto fresh = Target(false);
    Connect(*fresh);
    EXPECT_EQ(TavDL_Download_EraseFlash(fresh.get(), nullptr, 512, reply_, &socket_), 0);
}

// TavDL_Download_Connection waits at most waitSeconds in all: the time its connect takes comes
// out of the exchange's wait (here a wait hook that holds the first slice for 1.2 seconds, and a
// peer that accepts and never answers).
TEST_F(TavdlTest, ConnectionWaitsAtMostWaitSecondsInAll) {
    net::UniqueSocket listener = test::OpenLoopbackListener(0);
    ASSERT_TRUE(listener.Valid());
    auto target = Target(false);
    target->mode = TAVDL_MODE_TCP_CONNECTION;
    target->waitSeconds = 2;
    SetInetPort(*target, net::BoundPort(listener.Get()));
    static bool held;
    held = false;
    TavDL_SetWaitHook([](void*) {
        if (!held) {
            held = true;
            std::this_thread::sleep_for(std::chrono::milliseconds(1200));
        }
    });
    ASSERT_NE(TavDL_OpenSocket(target.get(), &socket_), 0);
    const auto start = Clock::now();
    EXPECT_NE(TavDL_Download_Connection(target.get(), nullptr, 512, reply_, &socket_), 0);
    const auto took = Clock::now() - start;
    EXPECT_GE(took, std::chrono::milliseconds(1900));
    EXPECT_LT(took, std::chrono::milliseconds(2500)) << "the connect and the exchange each waited";
    TavDL_CloseSocket(&socket_);
}

// A caller kept from reading while hundreds of replies arrive loses none of them: the system
// drops a datagram that finds its socket's buffer full (Linux's default holds 256 of these), and
// no socket of the call runs more exchanges than its buffer holds replies. The test's print
// servers hold their replies until every query is in, then send them all while the caller's
// wait hook keeps it from reading.
TEST_F(TavdlTest, QueryVersionsLosesNoReplyToASlowCaller) {
    namespace wire = tavdl::wire;
    constexpr int kServers = 600;
    std::vector<net::UniqueSocket> servers;
    std::vector<net::Waiting> waiting;
    std::vector<TAVDL_ADDR> records;
    for (int i = 0; i < kServers; ++i) {
        servers.push_back(test::OpenLoopbackDatagram(0));
        ASSERT_TRUE(servers.back().Valid()) << "server " << i;
        waiting.push_back({servers.back().Get(), net::kReadable, 0});
        records.push_back(*Target(false));
        records.back().waitSeconds = 10;
        SetInetPort(records.back(), net::BoundPort(servers.back().Get()));
    }
    static std::mutex lock;
    static std::condition_variable allSent;
    static bool sent;
    sent = false;
    std::thread peers([&] {
        std::vector<std::pair<wire::Message, sockaddr_in>> asked(kServers);
        std::vector<bool> in(kServers);
        int count = 0;
        const auto deadline = Clock::now() + std::chrono::seconds(20);
        while (count < kServers && Clock::now() < deadline) {
            if (net::WaitAny(waiting, 20) <= 0) {
                continue;
            }
            for (int i = 0; i < kServers; ++i) {
                std::uint8_t buffer[wire::kMaxFrame];
                const long got = waiting[i].ready == 0
                                     ? -1
                                     : net::ReceiveFrom(servers[i].Get(), buffer, sizeof buffer,
                                                        asked[i].second);
                if (got > 0 && !in[i] &&
                    wire::DecodeMessage(buffer, static_cast<std::size_t>(got), asked[i].first)) {
                    in[i] = true;
                    ++count;
                }
            }
        }
        for (int i = 0; i < kServers; ++i) {
            Bytes data(payload::kVersionReplySize);
            data[0] = payload::kVantrelValid;
            std::uint8_t out[wire::kMaxFrame];
            const std::size_t n =
                wire::EncodeFrame(wire::Framing::kDatagram,
                                  {static_cast<std::uint8_t>(asked[i].first.type | wire::kReplyBit),
                                   asked[i].first.id, 0, data.data(), data.size()},
                                  out);
            net::SendTo(servers[i].Get(), out, n, asked[i].second);
        }
        const std::lock_guard<std::mutex> guard(lock);
        sent = true;
        allSent.notify_all();
    });
    TavDL_SetWaitHook([](void*) {
        std::unique_lock<std::mutex> guard(lock);
        allSent.wait_for(guard, std::chrono::seconds(30), [] { return sent; });
    });
    static int answered;
    answered = 0;
    const TAVDL_VERSION_REPLY onReply = [](void*, unsigned long, int result, const void*,
                                           unsigned long) {
        answered += result == 0 ? 1 : 0;
        return 0;
    };
    EXPECT_EQ(TavDL_QueryVersions(records.data(), kServers, TAVDL_QUERY_VANTREL, kServers, nullptr,
                                  nullptr, onReply, nullptr),
              0);
    peers.join();
    EXPECT_EQ(answered, kServers) << "replies were dropped";
}

// The many-address query against print servers played by the test: each reply is taken only
// from its own print server with its exchange's id; garbage, a stale id, a foreign sender's
// datagram and a repeated reply are passed over; a silent one ends at its wait; a refusal is
// asked again when the caller says so; never more exchanges at once than allowed; a stop from
// the wait hook ends the call; an IPX record or an unknown query is refused.
// The engine's adapter runs a scan's slice function after the wait hook, which still gets its
// own window, and gives the hook set back afterwards.
TEST_F(TavdlTest, AdapterRunsTheSlicesOfAScanAfterTheHook) {
    const net::UniqueSocket silent = test::OpenLoopbackDatagram(0);
    ASSERT_TRUE(silent.Valid());
    std::vector<TAVDL_ADDR> records = {*Target(false)};
    records[0].waitSeconds = 1;
    SetInetPort(records[0], net::BoundPort(silent.Get()));
    static std::vector<std::string> order;
    static int window = 0;
    order.clear();
    TavdlTransport transport;
    transport.SetWaitHook(
        [](void* w) { order.push_back(w == &window ? "hook" : "hook, another window"); });
    transport.SetWaitSlice(100);
    const int stop = 0;
    Reason reason;
    const auto ended = [](std::size_t, int result, std::span<const std::uint8_t>) {
        EXPECT_EQ(result, -1);
        return false;
    };
    ASSERT_EQ(transport.QueryVersions({records, VersionQuery::kVantrel, 1, &window, &stop,
                                       [] { order.push_back("slice"); }},
                                      ended, reason),
              0)
        << "the system's error " << reason.error;
    ASSERT_GE(order.size(), 2u);
    EXPECT_EQ(order[0], "hook");
    EXPECT_EQ(order[1], "slice");
    // Without slices: the hook alone, with the window.
    order.clear();
    ASSERT_EQ(transport.QueryVersions({records, VersionQuery::kVantrel, 1, &window, &stop}, ended,
                                      reason),
              0);
    EXPECT_EQ(std::count(order.begin(), order.end(), "slice"), 0);
    EXPECT_GT(std::count(order.begin(), order.end(), "hook"), 0);
}

TEST_F(TavdlTest, QueryVersionsMatchesRepliesAndKeepsItsLimit) {
    namespace wire = tavdl::wire;
    constexpr int kServers = 6;
    constexpr unsigned long kInFlight = 2;
    std::vector<net::UniqueSocket> servers;
    std::vector<TAVDL_ADDR> records;
    for (int i = 0; i < kServers; ++i) {
        servers.push_back(test::OpenLoopbackDatagram(0));
        ASSERT_TRUE(servers.back().Valid());
        records.push_back(*Target(false));
        records.back().waitSeconds = 1;
        SetInetPort(records.back(), net::BoundPort(servers.back().Get()));
    }
    struct Seen {
        int calls = 0;
        std::vector<int> results;
        Bytes reply;
    };
    struct Context {
        std::vector<Seen> seen = std::vector<Seen>(kServers);
        std::atomic<int> ended{0};
    } context;
    std::atomic<int> requests{0};
    std::atomic<int> overLimit{0};
    std::atomic<bool> done{false};
    std::thread peers([&] {
        std::vector<int> asked(kServers);
        const auto deadline = Clock::now() + std::chrono::seconds(30);
        while (!done && Clock::now() < deadline) {
            std::vector<net::Waiting> waiting;
            for (const auto& server : servers) {
                waiting.push_back({server.Get(), net::kReadable, 0});
            }
            if (net::WaitAny(waiting, 20) <= 0) {
                continue;
            }
            for (int i = 0; i < kServers; ++i) {
                std::uint8_t in[wire::kMaxFrame];
                sockaddr_in from{};
                wire::Message request;
                const long got = waiting[i].ready == 0
                                     ? -1
                                     : net::ReceiveFrom(servers[i].Get(), in, sizeof in, from);
                if (got <= 0 || !wire::DecodeMessage(in, static_cast<std::size_t>(got), request)) {
                    continue;
                }
                if (++requests - context.ended > static_cast<int>(kInFlight)) {
                    ++overLimit;
                }
                ++asked[i];
                auto reply = [&](int via, std::uint32_t id, std::uint8_t status) {
                    Bytes data(payload::kVersionReplySize);
                    data[0] = payload::kVantrelValid;
                    data[payload::kModelCodeAt] = 0xAA;
                    data[payload::kModelCodeAt + 1] = static_cast<std::uint8_t>(via);
                    data[payload::kFirmwareAt] = 1;
                    data[payload::kFirmwareAt + 1] = 0x10;
                    std::uint8_t out[wire::kMaxFrame];
                    const std::size_t n = wire::EncodeFrame(
                        wire::Framing::kDatagram,
                        {static_cast<std::uint8_t>(request.type | wire::kReplyBit), id, status,
                         data.data(), data.size()},
                        out);
                    net::SendTo(servers[via].Get(), out, n, from);
                };
                switch (i) {
                    case 0: {  // garbage, a foreign sender, a stale id, then the reply
                        const std::uint8_t garbage[] = {0x81, 0xFF};
                        net::SendTo(servers[0].Get(), garbage, sizeof garbage, from);
                        reply(1, request.id, 0);
                        reply(0, request.id + 1000, 0);
                        reply(0, request.id, 0);
                        break;
                    }
                    case 1:  // silent
                        break;
                    case 2:  // a refusal first
                        reply(2, request.id, asked[i] == 1 ? 1 : 0);
                        break;
                    default:  // the reply twice
                        reply(i, request.id, 0);
                        reply(i, request.id, 0);
                        break;
                }
            }
        }
    });
    const TAVDL_VERSION_REPLY onReply = [](void* c, unsigned long index, int result,
                                           const void* reply, unsigned long length) {
        auto& ctx = *static_cast<Context*>(c);
        Seen& seen = ctx.seen.at(index);
        ++seen.calls;
        seen.results.push_back(result);
        const auto* bytes = static_cast<const std::uint8_t*>(reply);
        seen.reply = length == 0 ? Bytes() : Bytes(bytes, bytes + length);
        ++ctx.ended;
        return result == 1 ? 1 : 0;  // a refusal is asked again
    };
    const int result = TavDL_QueryVersions(records.data(), kServers, TAVDL_QUERY_VANTREL, kInFlight,
                                           nullptr, nullptr, onReply, &context);
    done = true;
    peers.join();
    EXPECT_EQ(result, 0);
    EXPECT_EQ(overLimit, 0) << "more exchanges at once than allowed";
    const std::vector<std::vector<int>> expected = {{0}, {-1}, {1, 0}, {0}, {0}, {0}};
    for (int i = 0; i < kServers; ++i) {
        SCOPED_TRACE("print server " + std::to_string(i));
        EXPECT_EQ(context.seen[i].results, expected[i]);
        if (i != 1) {
            ASSERT_EQ(context.seen[i].reply.size(), payload::kVersionReplySize);
            EXPECT_EQ(context.seen[i].reply[payload::kModelCodeAt + 1], i)
                << "another print server's reply was taken";
        }
    }

    // A stop from the wait hook ends the call with its exchanges unanswered.
    static int stop = 0;
    static int hookRuns = 0;
    stop = 0;
    hookRuns = 0;
    TavDL_SetWaitHook([](void*) { stop = ++hookRuns >= 3 ? 1 : 0; });
    records[1].waitSeconds = 60;
    Context stopped;
    EXPECT_EQ(TavDL_QueryVersions(&records[1], 1, TAVDL_QUERY_BRAMBLE, 1, nullptr, &stop, onReply,
                                  &stopped),
              1);
    EXPECT_EQ(stopped.seen[0].calls, 0);
    TavDL_SetWaitHook(nullptr);

    Context refused;
    records[2].mode = TAVDL_MODE_IPX;
    EXPECT_EQ(TavDL_QueryVersions(&records[2], 1, TAVDL_QUERY_VANTREL, 1, nullptr, nullptr, onReply,
                                  &refused),
              -1);
    EXPECT_EQ(TavDL_QueryVersions(&records[3], 1, 0, 1, nullptr, nullptr, onReply, &refused), -1);
    EXPECT_EQ(refused.seen[0].calls, 0);
}

// Answers the version queries that reach `server` from `via` (the server itself, or another
// socket), `count` of them or until `done`, each with a valid reply; the source ports of the
// queries land in `senders`.
void AnswerQueries(net::Handle server, net::Handle via, int count, const std::atomic<bool>& done,
                   std::vector<std::uint16_t>& senders) {
    namespace wire = tavdl::wire;
    const auto deadline = Clock::now() + std::chrono::seconds(30);
    while (count > 0 && !done && Clock::now() < deadline) {
        std::vector<net::Waiting> waiting = {{server, net::kReadable, 0}};
        if (net::WaitAny(waiting, 20) <= 0) {
            continue;
        }
        std::uint8_t in[wire::kMaxFrame];
        sockaddr_in from{};
        wire::Message request;
        const long got = net::ReceiveFrom(server, in, sizeof in, from);
        if (got <= 0 || !wire::DecodeMessage(in, static_cast<std::size_t>(got), request)) {
            continue;
        }
        senders.push_back(ntohs(from.sin_port));
        Bytes data(payload::kVersionReplySize);
        data[0] = payload::kVantrelValid;
        std::uint8_t out[wire::kMaxFrame];
        const std::size_t n =
            wire::EncodeFrame(wire::Framing::kDatagram,
                              {static_cast<std::uint8_t>(request.type | wire::kReplyBit),
                               request.id, 0, data.data(), data.size()},
                              out);
        net::SendTo(via, out, n, from);
        --count;
    }
}

// What each index's exchanges ended with.
int RecordResult(void* context, unsigned long index, int result, const void*, unsigned long) {
    static_cast<std::vector<std::vector<int>>*>(context)->at(index).push_back(result);
    return 0;
}

// The many-address query takes a reply only from the print server's own address, not from
// another address on its port; an ended exchange gives its place on its socket back, so that
// 200 addresses pass through the one socket of 64 places; and the hook runs in the slice set.
TEST_F(TavdlTest, QueryVersionsSenderPlacesAndSlice) {
    const net::UniqueSocket server = test::OpenLoopbackDatagram(0);
    ASSERT_TRUE(server.Valid());
    auto record = Target(false);
    record->waitSeconds = 1;
    SetInetPort(*record, net::BoundPort(server.Get()));
    // Where one UDP port serves one loopback address only (Wine), there is no other address to
    // send from on the print server's port.
    if (const net::UniqueSocket foreign = UdpOn("127.0.0.2", net::BoundPort(server.Get()));
        foreign.Valid()) {
        std::atomic<bool> done{false};
        std::vector<std::uint16_t> senders;
        std::thread peer([&] { AnswerQueries(server.Get(), foreign.Get(), 1, done, senders); });
        std::vector<std::vector<int>> results(1);
        EXPECT_EQ(TavDL_QueryVersions(record.get(), 1, TAVDL_QUERY_VANTREL, 1, nullptr, nullptr,
                                      RecordResult, &results),
                  0);
        done = true;
        peer.join();
        EXPECT_EQ(senders.size(), 1u) << "the query reached the print server";
        EXPECT_EQ(results[0], (std::vector<int>{-1})) << "127.0.0.2's reply was taken";
    }
    {
        constexpr int kAddresses = 200;
        std::vector<TAVDL_ADDR> records(kAddresses, *record);
        std::atomic<bool> done{false};
        std::vector<std::uint16_t> senders;
        std::thread peer(
            [&] { AnswerQueries(server.Get(), server.Get(), kAddresses, done, senders); });
        std::vector<std::vector<int>> results(kAddresses);
        EXPECT_EQ(TavDL_QueryVersions(records.data(), kAddresses, TAVDL_QUERY_VANTREL, 64, nullptr,
                                      nullptr, RecordResult, &results),
                  0);
        done = true;
        peer.join();
        EXPECT_EQ(results, std::vector<std::vector<int>>(kAddresses, {0}));
        ASSERT_EQ(senders.size(), static_cast<std::size_t>(kAddresses));
        EXPECT_EQ(std::count(senders.begin(), senders.end(), senders.front()), kAddresses)
            << "more than one socket";
    }
    static int calls;
    TavDL_SetWaitHook([](void*) { ++calls; });
    for (const auto& [slice, fewest, most] :
         {std::tuple{100ul, 5, 1000}, std::tuple{1000ul, 1, 2}}) {
        calls = 0;
        TavDL_SetWaitSlice(slice);
        std::vector<std::vector<int>> results(1);
        EXPECT_EQ(TavDL_QueryVersions(record.get(), 1, TAVDL_QUERY_VANTREL, 1, nullptr, nullptr,
                                      RecordResult, &results),
                  0);
        EXPECT_EQ(results[0], (std::vector<int>{-1}));
        EXPECT_GE(calls, fewest) << "slice " << slice;
        EXPECT_LE(calls, most) << "slice " << slice;
    }
}

// TAVDL_IPX_TUNNEL is host:port and nothing else; a bad value is said once on stderr with the
// variable's name, and IPX calls then get no answer.
TEST_F(TavdlTest, TunnelSettingIsStrict) {
    auto sim = StartSim({});
    const std::string port = std::to_string(ports_.tunnel);
    auto ipx = Target(true);
    ipx->waitSeconds = 1;
    struct Row {
        std::string value;
        bool taken;
    };
    const std::vector<Row> rows = {
        {"127.0.0.1:" + port, true},
        {"localhost:" + port, true},
        {"", true} /* unset: the default */,
        {"127.0.0.1", false},
        {"127.0.0.1:", false},
        {":" + port, false},
        {"127.0.0.1:" + port + " ", false},
        {" 127.0.0.1:" + port, false},
        {"127.0.0.1:+" + port, false},
        {"127.0.0.1:0x" + port, false},
        {"127.0.0.1:0", false},
        {"127.0.0.1:65536", false},
        {"127.0.0.1:99999999999999999999", false},
        {"127.0.0.1:" + port + ":1", false},
        {"localhost.:" + port, false},
        {"127.1:" + port, false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE("TAVDL_IPX_TUNNEL=" + row.value);
        if (row.value.empty()) {
            // The default endpoint is the simulator's only when it listens there; taken as
            // given either way, so nothing is said.
            test::SetEnvironment("TAVDL_IPX_TUNNEL", std::nullopt);
        } else {
            test::SetEnvironment("TAVDL_IPX_TUNNEL", row.value);
        }
        testing::internal::CaptureStderr();
        const int first = TavDL_Vantrel_GetVersion(ipx.get(), nullptr, 512, reply_);
        const int second = TavDL_Vantrel_GetVersion(ipx.get(), nullptr, 512, reply_);
        const std::string said = testing::internal::GetCapturedStderr();
        if (!row.value.empty()) {
            EXPECT_EQ(first == 0, row.taken);
            EXPECT_EQ(second == 0, row.taken);
        }
        if (row.taken) {
            EXPECT_EQ(said, "");
        } else {
            const std::string named = "TAVDL_IPX_TUNNEL=\"" + row.value + "\"";
            EXPECT_NE(said.find(named), std::string::npos) << said;
            EXPECT_EQ(said.find(named, said.find(named) + 1), std::string::npos) << "said twice";
            EXPECT_EQ(reply_[0], 0xFF);
        }
    }
    UsePorts(ports_);
}

}  // namespace
}  // namespace vexil
