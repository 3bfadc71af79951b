// The transport library against the simulated print server on loopback, through its C
// interface alone, and against hostile peers played by the test itself.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <random>
#include <sstream>
#include <thread>

#include "engine/DevicePayloads.h"
#include "engine/DownloadFile.h"
#include "engine/TargetRecord.h"
#include "tavdl/TavdlWire.h"
#include "tavdl/tavdl.h"
#include "tests/support/Loopback.h"
#include "tests/support/Quiet.h"
#include "tests/support/SimProcess.h"
#include "tests/support/TestFiles.h"

namespace vexil {
namespace {

using test::Bytes;
using Clock = std::chrono::steady_clock;

constexpr int kVantrelPort = 25031;
constexpr int kBramblePort = 25021;
constexpr int kDownloadPort = 25001;
constexpr int kTunnelPort = 26640;

std::vector<std::string> SimArgs(std::vector<std::string> extra) {
    std::vector<std::string> args = {"--vantrel-port",    std::to_string(kVantrelPort),
                                     "--bramble-port",    std::to_string(kBramblePort),
                                     "--download-port",   std::to_string(kDownloadPort),
                                     "--ipx-tunnel-port", std::to_string(kTunnelPort)};
    args.insert(args.end(), extra.begin(), extra.end());
    return args;
}

Bytes ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

class TavdlTest : public ::testing::Test {
  protected:
    void SetUp() override {
        setenv("TAVDL_IPX_TUNNEL", ("127.0.0.1:" + std::to_string(kTunnelPort)).c_str(), 1);
        TavDL_SetWaitHook(nullptr);
        fdsBefore_ = test::OpenDescriptorCount();
    }
    void TearDown() override {
        TavDL_CloseSocket(&socket_);
        TavDL_SetWaitHook(nullptr);
        EXPECT_EQ(test::OpenDescriptorCount(), fdsBefore_) << "a socket was left open";
    }

    TargetRecordPtr Target(bool ipx) {
        auto target = CreateTargetRecord();
        target->mode = ipx ? TAVDL_MODE_IPX : TAVDL_MODE_TCP_QUERY;
        target->waitSeconds = 2;
        SetInetAddress(*target, Ipv4Address(127, 0, 0, 1));
        SetInetPort(*target, kVantrelPort);
        SetIpxNetwork(*target, {0x00, 0x00, 0x00, 0x01});
        SetIpxNode(*target, {0x00, 0xD1, 0xF0, 0x12, 0x34, 0x56});
        return target;
    }

    // Opens and connects the download connection as a download does.
    void Connect(TAVDL_ADDR& target) {
        if (target.mode != TAVDL_MODE_IPX) {
            target.mode = TAVDL_MODE_TCP_CONNECTION;
            SetInetPort(target, kDownloadPort);
        }
        ASSERT_NE(TavDL_OpenSocket(&target, &socket_), 0);
        ASSERT_EQ(TavDL_Download_Connection(&target, nullptr, 512, reply_, &socket_), 0);
    }

    // Sends every block of `path` (with the IPX prefix when `ipx`), retrying as the engine does.
    bool SendFile(TAVDL_ADDR& target, const std::string& path, std::uint16_t& sequence) {
        const bool ipx = target.mode == TAVDL_MODE_IPX;
        std::FILE* file = std::fopen(path.c_str(), "rb");
        test::NullSink sink;
        std::uint8_t block[512];
        std::uint8_t send[512];
        for (;;) {
            std::uint32_t length = 0;
            const int r =
                ReadRecordBlock(file, block, length, sink, ipx ? kIpxBlockLimit : kBlockBufferSize);
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
                const int sent = TavDL_Download_SendData(&target, nullptr, prefix + length, send,
                                                         512, reply_, &socket_);
                acked = sent == 0 && payload::IsBlockAck(reply_, ipx);
            }
            if (!acked) {
                std::fclose(file);
                return false;
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
    void WholeDownload(bool ipx, const std::vector<std::string>& faults) {
        test::ScratchDir dir;
        const std::string flash = (dir.path() / "flash.bin").string();
        std::vector<std::string> args = {"--once", "--flash", flash};
        args.insert(args.end(), faults.begin(), faults.end());
        test::SimProcess sim(SimArgs(args));
        ASSERT_TRUE(sim.Running());
        auto target = Target(ipx);
        ASSERT_EQ(TavDL_Vantrel_GetVersion(target.get(), nullptr, 512, reply_), 0);
        EXPECT_EQ(reply_[0], 7);
        if (!ipx) {
            SetInetPort(*target, kBramblePort);
        } else {
            SetIpxSocket(*target, payload::kIpxDownloadSocket);
        }
        ASSERT_EQ(TavDL_Bramble_JampEprom(target.get(), nullptr, 512, reply_), 0);
        Connect(*target);
        ASSERT_EQ(TavDL_Download_EraseFlash(target.get(), nullptr, 512, reply_, &socket_), 0);
        std::uint16_t sequence = 3;
        ASSERT_TRUE(SendFile(*target, VEXIL_SAMPLE, sequence));
        ASSERT_TRUE(Finish(*target, sequence));
        TavDL_CloseSocket(&socket_);
        EXPECT_EQ(sim.WaitForExit(5000), 0) << sim.Log();

        const std::string expected = (dir.path() / "expected.bin").string();
        ASSERT_EQ(
            std::system(
                (std::string(VEXIL_FILE) + " extract " + VEXIL_SAMPLE + " " + expected).c_str()),
            0);
        EXPECT_EQ(ReadFile(flash), ReadFile(expected));
        log_ = sim.Log();
    }

    unsigned int socket_ = 0;
    std::uint8_t reply_[512] = {};
    int fdsBefore_ = 0;
    std::string log_;
};

TEST_F(TavdlTest, VersionQueriesAndModeSwitchOverTcpIp) {
    test::SimProcess sim(SimArgs({"--model-code", "0b01", "--firmware-version", "a.05"}));
    auto target = Target(false);
    EXPECT_EQ(TavDL_Vantrel_GetVersion(target.get(), nullptr, 512, reply_), 0);
    EXPECT_EQ(Bytes(reply_, reply_ + 10), (Bytes{7, 0, 0, 0, 0, 0, 0x0B, 0x01, 0x0A, 0x05}));
    SetInetPort(*target, kBramblePort);
    EXPECT_EQ(TavDL_Bramble_GetVersion(target.get(), nullptr, 512, reply_), 0);
    EXPECT_EQ(Bytes(reply_ + 6, reply_ + 10), (Bytes{0x0B, 0x01, 0x0A, 0x05}));
    EXPECT_EQ(TavDL_Bramble_JampEprom(target.get(), nullptr, 512, reply_), 0);

    // The reply never goes past the size the caller gives.
    std::uint8_t small[4] = {0xEE, 0xEE, 0xEE, 0xEE};
    std::uint8_t guard[4] = {0xCC, 0xCC, 0xCC, 0xCC};
    SetInetPort(*target, kVantrelPort);
    EXPECT_EQ(TavDL_Vantrel_GetVersion(target.get(), nullptr, 2, small), 0);
    EXPECT_EQ(small[0], 7);
    EXPECT_EQ(small[2], 0xEE);
    EXPECT_EQ(guard[0], 0xCC);
}

TEST_F(TavdlTest, NoAnswerGivesNonZeroAndFF) {
    auto target = Target(false);
    target->waitSeconds = 1;
    SetInetPort(*target, 25999);  // nobody there
    const auto start = Clock::now();
    EXPECT_NE(TavDL_Vantrel_GetVersion(target.get(), nullptr, 512, reply_), 0);
    EXPECT_EQ(reply_[0], 0xFF);
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(5));
    EXPECT_NE(TavDL_Bramble_GetVersion(target.get(), nullptr, 512, reply_), 0);
    EXPECT_EQ(reply_[0], 0xFF);
    EXPECT_NE(TavDL_Bramble_JampEprom(target.get(), nullptr, 512, reply_), 0);
    EXPECT_EQ(reply_[0], 0xFF);

    // Over IPX, a card at another node does not answer.
    test::SimProcess sim(SimArgs({}));
    auto ipx = Target(true);
    ipx->waitSeconds = 1;
    SetIpxNode(*ipx, {0x00, 0xD1, 0xF0, 0x00, 0x00, 0x01});
    EXPECT_NE(TavDL_Vantrel_GetVersion(ipx.get(), nullptr, 512, reply_), 0);
    EXPECT_EQ(reply_[0], 0xFF);
    EXPECT_NE(sim.Log().find("ignored: not this card"), std::string::npos);
}

TEST_F(TavdlTest, FaultsGiveTheirResults) {
    test::SimProcess sim(
        SimArgs({"--bad-version-reply", "--refuse-mode-switch", "1", "--ignore-mode-switch", "1",
                 "--refuse-connections", "2", "--fail-erase", "1"}));
    for (bool ipx : {false, true}) {
        SCOPED_TRACE(ipx ? "IPX" : "TCP/IP");
        auto target = Target(ipx);
        target->waitSeconds = 1;
        EXPECT_EQ(TavDL_Vantrel_GetVersion(target.get(), nullptr, 512, reply_), 0);
        EXPECT_EQ(reply_[0], 5) << "an invalid reply is still a reply";
        SetInetPort(*target, kBramblePort);
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
            SetInetPort(*target, kDownloadPort);
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

// A reply that comes after its call gave up must not pass for the reply to the next request.
TEST_F(TavdlTest, LateReplyIsNotTakenForTheNextOne) {
    for (bool ipx : {false, true}) {
        SCOPED_TRACE(ipx ? "IPX" : "TCP/IP");
        test::SimProcess sim(SimArgs(
            {"--late-block", "1", "--late-block", "2", "--nak-block", "2", "--late-ms", "1500"}));
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
            return TavDL_Download_SendData(target.get(), nullptr, data.size(), data.data(), 512,
                                           reply_, &socket_);
        };
        const Bytes one_ = Bytes(one.begin(), one.end() - 1);  // a block has no line feed
        const Bytes two_ = Bytes(two.begin(), two.end() - 1);
        EXPECT_NE(send(one_, 4, 1), 0) << "block 1 answered after the call gave up";
        EXPECT_EQ(send(one_, 4, 1), 0) << "the resend is acknowledged at once";
        // Block 2 is answered late and without acknowledgement; block 1's late acknowledgement
        // arrives while its call waits and must be passed over.
        EXPECT_EQ(send(two_, 5, 3), 0);
        EXPECT_FALSE(payload::IsBlockAck(reply_, ipx))
            << "the late acknowledgement of block 1 was taken for block 2's reply";
        TavDL_CloseSocket(&socket_);
    }
}

TEST_F(TavdlTest, WaitHookRunsOftenAndCanCloseTheSocket) {
    test::SimProcess sim(SimArgs({"--erase-seconds", "5"}));
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

// A peer of the test's own that answers with random bytes: frames too long, too short,
// garbled, datagrams from elsewhere. The library must fail or carry on, never crash.
TEST_F(TavdlTest, HostilePeersNeverCrashTheLibrary) {
    std::mt19937 random(20261207);
    auto randomBytes = [&](std::size_t max) {
        Bytes bytes(random() % (max + 1));
        for (auto& b : bytes) {
            b = static_cast<std::uint8_t>(random());
        }
        return bytes;
    };

    // TCP: a listener that answers every request with garbage, then sometimes closes.
    const int listener = test::OpenLoopbackListener(kDownloadPort);
    ASSERT_GE(listener, 0);
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
            pollfd p{listener, POLLIN, 0};
            if (::poll(&p, 1, 3000) <= 0) {
                return;
            }
            const int fd = ::accept(listener, nullptr, nullptr);
            std::uint8_t request[2048];
            (void)::recv(fd, request, sizeof request, 0);
            (void)::send(fd, answer.data(), answer.size(), MSG_NOSIGNAL);
            ::usleep(20'000);
            ::close(fd);
        }
    });
    auto target = Target(false);
    target->mode = TAVDL_MODE_TCP_CONNECTION;
    target->waitSeconds = 1;
    SetInetPort(*target, kDownloadPort);
    std::uint8_t reply[16];
    for (std::size_t i = 0; i < answers.size(); ++i) {
        ASSERT_NE(TavDL_OpenSocket(target.get(), &socket_), 0);
        std::memset(reply, 0, sizeof reply);
        // Whatever comes back, the call returns and nothing lands past the 16 bytes given.
        const int r = TavDL_Download_Connection(target.get(), nullptr, 8, reply, &socket_);
        EXPECT_TRUE(r == 0 || r != 0);
        for (std::size_t b = 8; b < sizeof reply; ++b) {
            EXPECT_EQ(reply[b], 0);
        }
        TavDL_CloseSocket(&socket_);
    }
    peer.join();
    ::close(listener);

    // UDP and IPX: a tunnel endpoint that answers with garbage first, then a reply from the
    // wrong node, then the right reply; only the right one counts.
    const int tunnel = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in at{};
    at.sin_family = AF_INET;
    at.sin_port = htons(kTunnelPort);
    at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::bind(tunnel, reinterpret_cast<sockaddr*>(&at), sizeof at), 0);
    std::atomic<bool> done{false};
    std::thread ipxPeer([&] {
        std::uint8_t in[2048];
        while (!done) {
            pollfd p{tunnel, POLLIN, 0};
            if (::poll(&p, 1, 50) <= 0) {
                continue;
            }
            sockaddr_in from{};
            socklen_t size = sizeof from;
            const ssize_t got =
                ::recvfrom(tunnel, in, sizeof in, 0, reinterpret_cast<sockaddr*>(&from), &size);
            if (got < 36) {
                continue;
            }
            for (int g = 0; g < 20; ++g) {
                const Bytes junk = randomBytes(g % 2 ? 2000 : 60);
                ::sendto(tunnel, junk.data(), junk.size(), 0, reinterpret_cast<sockaddr*>(&from),
                         size);
            }
            namespace wire = tavdl::wire;
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
                ::sendto(tunnel, out, bytes, 0, reinterpret_cast<sockaddr*>(&from), size);
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
    ::close(tunnel);
}

TEST_F(TavdlTest, PeerThatClosesFailsTheCall) {
    test::SimProcess sim(SimArgs({"--erase-seconds", "2"}));
    auto target = Target(false);
    Connect(*target);
    std::thread stopper([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        sim.Stop();
    });
    target->waitSeconds = 10;
    const auto start = Clock::now();
    EXPECT_NE(TavDL_Download_EraseFlash(target.get(), nullptr, 512, reply_, &socket_), 0);
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(5));
    stopper.join();
    TavDL_CloseSocket(&socket_);
}

}  // namespace
}  // namespace vexil
