// Every block of a 1 MiB image (32 data bytes per record) sent to the simulated print server on
// loopback, beside a minimal TCP ping-pong of the same frame sizes between two processes. One
// iteration sends the whole image; "blocks" says how many blocks that is, so the time per block
// is the time divided by it.
//   Library: the blocks through the transport library alone.
//   Engine:  the download engine's block transfer (reader, retries, progress) over the library.
// Run: build/tests/bench/transport_bench   (the ratio lines at the end are against PingPong)
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>

#include "engine/DownloadEngine.h"
#include "engine/ProgramPayloads.h"
#include "engine/TargetRecord.h"
#include "format/DownloadFileReader.h"
#include "protocol/Wire.h"
#include "tavdl/tavdl.h"
#include "tests/bench/BenchSupport.h"
#include "tests/bench/HeadlessDownload.h"
#include "tests/support/Loopback.h"
#include "tests/support/Quiet.h"
#include "tests/support/SimProcess.h"
#include "tests/support/TestFiles.h"

namespace {

using namespace vexil;
using test::Bytes;

namespace wire = tavdl::wire;

constexpr int kPort = 27001;
constexpr int kPingPongPort = 27002;

// The 1 MiB image as a download file.
const std::string& ImagePath() {
    static test::ScratchDir dir;
    static const std::string path = [] {
        std::vector<Bytes> records;
        for (std::uint32_t address = 0; address < (1u << 20); address += 32) {
            records.push_back(
                test::DataRecord(0x100000 + address, 32, static_cast<std::uint8_t>(address >> 5)));
        }
        records.push_back(test::EndRecord());
        return dir.File("image.bin", test::Join(records));
    }();
    return path;
}

// Its blocks as the reader gives them.
const std::vector<Bytes>& Blocks() {
    static const std::vector<Bytes> blocks = test::FileBlocks(ImagePath());
    return blocks;
}

bool WriteAll(int fd, const std::uint8_t* data, std::size_t size) {
    while (size > 0) {
        const ssize_t sent = ::send(fd, data, size, MSG_NOSIGNAL);
        if (sent <= 0) {
            return false;
        }
        data += sent;
        size -= static_cast<std::size_t>(sent);
    }
    return true;
}

bool ReadAll(int fd, std::uint8_t* data, std::size_t size) {
    while (size > 0) {
        const ssize_t got = ::recv(fd, data, size, 0);
        if (got <= 0) {
            return false;
        }
        data += got;
        size -= static_cast<std::size_t>(got);
    }
    return true;
}

// Baseline: a second process answers each length-prefixed frame with an acknowledgement frame.
void PingPong(benchmark::State& state) {
    net::UniqueSocket listener = test::OpenLoopbackListener(kPingPongPort);
    const int one = 1;
    const pid_t child = ::fork();
    if (child == 0) {
        // The listener does not block; the connection it waits for gets a blocking socket, as
        // a plain TCP peer has.
        const int fd = net::Wait(listener.Get(), net::kReadable, 10000) == 1
                           ? ::accept(static_cast<int>(listener.Get()), nullptr, nullptr)
                           : -1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        std::uint8_t frame[wire::kMaxFrame];
        std::uint8_t ack[wire::kMaxFrame];
        const std::size_t ackSize = wire::EncodeFrame(
            wire::Framing::kStream,
            {wire::kData | wire::kReplyBit, 1, 0, payload::kAck.data(), payload::kAck.size()}, ack);
        while (ReadAll(fd, frame, wire::kLengthPrefix)) {
            const std::size_t length = wire::StreamLength(frame);
            if (length > wire::kMaxMessage || !ReadAll(fd, frame + wire::kLengthPrefix, length) ||
                !WriteAll(fd, ack, ackSize)) {
                break;
            }
        }
        ::_exit(0);
    }
    listener.Reset();
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    sockaddr_in at{};
    at.sin_family = AF_INET;
    at.sin_port = htons(kPingPongPort);
    at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::connect(fd, reinterpret_cast<sockaddr*>(&at), sizeof at);
    const auto& blocks = Blocks();
    std::uint8_t frame[wire::kMaxFrame];
    std::uint8_t reply[wire::kLengthPrefix + wire::kHeaderSize + payload::kAck.size()];
    for (auto _ : state) {
        for (const Bytes& block : blocks) {
            const std::size_t size = wire::EncodeFrame(
                wire::Framing::kStream, {wire::kData, 0, 0, block.data(), block.size()}, frame);
            if (!WriteAll(fd, frame, size) || !ReadAll(fd, reply, sizeof reply)) {
                state.SkipWithError("ping-pong peer failed");
                break;
            }
        }
    }
    ::close(fd);
    ::waitpid(child, nullptr, 0);
    state.counters["blocks"] = static_cast<double>(blocks.size());
}

void Library(benchmark::State& state) {
    test::SimProcess sim({"--quiet", "--download-port", std::to_string(kPort), "--vantrel-port",
                          "27031", "--bramble-port", "27021", "--ipx-tunnel-port", "0"});
    auto target = CreateTargetRecord();
    target->mode = TAVDL_MODE_TCP_CONNECTION;
    target->waitSeconds = 30;
    SetInetAddress(*target, Ipv4Address(127, 0, 0, 1));
    SetInetPort(*target, kPort);
    unsigned int socket = 0;
    std::uint8_t reply[512];
    if (TavDL_OpenSocket(target.get(), &socket) == 0 ||
        TavDL_Download_Connection(target.get(), nullptr, 512, reply, &socket) != 0 ||
        TavDL_Download_EraseFlash(target.get(), nullptr, 512, reply, &socket) != 0) {
        state.SkipWithError("the simulator did not take the connection");
        return;
    }
    const auto& blocks = Blocks();
    std::uint8_t send[512];
    for (auto _ : state) {
        for (const Bytes& block : blocks) {
            std::memcpy(send, block.data(), block.size());
            if (TavDL_Download_SendData(target.get(), nullptr, block.size(), send, 512, reply,
                                        &socket) != 0 ||
                !payload::IsBlockAck(reply, false)) {
                state.SkipWithError("a block was not acknowledged");
                break;
            }
        }
    }
    TavDL_CloseSocket(&socket);
    state.counters["blocks"] = static_cast<double>(blocks.size());
}

void Engine(benchmark::State& state) {
    test::SimProcess sim({"--quiet", "--download-port", std::to_string(kPort), "--vantrel-port",
                          "27031", "--bramble-port", "27021", "--ipx-tunnel-port", "0"});
    bench::HeadlessDownload download(kPort);
    if (!download.Ready()) {
        state.SkipWithError("the simulator did not take the connection");
        return;
    }
    for (auto _ : state) {
        if (download.Send(ImagePath()) != 0) {
            state.SkipWithError("the transfer failed");
            break;
        }
    }
    state.counters["blocks"] = static_cast<double>(Blocks().size());
}

BENCHMARK(PingPong)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(Library)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(Engine)->Unit(benchmark::kMillisecond)->MinTime(2.0);

}  // namespace

int main(int argc, char** argv) {
    return vexil::bench::RunWithRatio(argc, argv, "PingPong");
}
