// vexil-printserver-sim: a simulated network print server. It answers the version queries, the
// download-mode switch and the download connection over TCP/IP and over IPX tunnelled in UDP,
// keeps a flash image, checks every record it receives, and writes the image to a file when
// the download finishes. Fault options make every failure of a download reachable.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "engine/DevicePayloads.h"
#include "engine/RecordCodec.h"
#include "tavdl/TavdlWire.h"
#include "tools/FlashImage.h"

namespace {

namespace wire = tavdl::wire;
namespace payload = vexil::payload;
using Clock = std::chrono::steady_clock;
using Bytes = std::vector<std::uint8_t>;

volatile sig_atomic_t g_stop = 0;
void OnSignal(int) {
    g_stop = 1;
}

const char kHelp[] =
    "usage: vexil-printserver-sim [options]\n"
    "\n"
    "Plays a network print server for the Vexilware download program.\n"
    "\n"
    "Where it listens:\n"
    "  --listen ADDR            IPv4 address for every socket (default 127.0.0.1)\n"
    "  --vantrel-port N         UDP port of the Vantrel version query (default 5031)\n"
    "  --bramble-port N         UDP port of the Bramble version query and the download-mode\n"
    "                           switch (default 5021)\n"
    "  --download-port N        TCP port of the download connection (default 5001)\n"
    "  --ipx-tunnel-port N      UDP port of the IPX tunnel (default 16640, the library's default;\n"
    "                           0 turns IPX off)\n"
    "  --ipx-network HEX8       IPX network number of the card (default 00000001)\n"
    "  --ipx-node HEX12         IPX node (MAC) address of the card (default 00D1F0123456)\n"
    "\n"
    "What it is:\n"
    "  --model-code HEX4        model code in the version reply (default aa01)\n"
    "  --firmware-version M.mm  firmware version in the version reply, two hex bytes (default\n"
    "                           1.10)\n"
    "  --flash FILE             write the flash image there when a download finishes (raw\n"
    "                           binary from the lowest address, gaps 0xFF)\n"
    "  --once                   exit after one finished download\n"
    "  --quiet                  log nothing but the summary of a finished download\n"
    "\n"
    "Faults:\n"
    "  --no-version-reply       never answer a version query\n"
    "  --bad-version-reply      answer version queries with an invalid reply\n"
    "  --refuse-mode-switch N   refuse the first N download-mode switches\n"
    "  --ignore-mode-switch N   leave the first N download-mode switches unanswered\n"
    "  --refuse-connections N   refuse the first N download connections\n"
    "  --fail-erase N           fail the first N erase requests\n"
    "  --erase-seconds S        take S seconds (may be fractional) to erase\n"
    "  --refuse-block K[:N]     refuse data block K (counted from 1) N times (default 1)\n"
    "  --nak-block K[:N]        answer block K without an acknowledgement N times\n"
    "  --drop-block K[:N]       leave block K unanswered N times\n"
    "  --late-block K[:N]       answer block K late (after --late-ms) N times\n"
    "  --late-ms MS             how late a late answer comes (default 1500)\n"
    "  --bad-finish             answer the finish request without an acknowledgement\n";

struct Options {
    std::string listen = "127.0.0.1";
    int vantrelPort = 5031;
    int bramblePort = 5021;
    int downloadPort = 5001;
    int tunnelPort = wire::kDefaultTunnelPort;
    std::uint8_t network[4] = {0x00, 0x00, 0x00, 0x01};
    std::uint8_t node[6] = {0x00, 0xD1, 0xF0, 0x12, 0x34, 0x56};
    std::uint8_t modelCode[2] = {0xAA, 0x01};
    std::uint8_t version[2] = {0x01, 0x10};
    std::string flashFile;
    bool once = false;
    bool quiet = false;
    bool noVersionReply = false;
    bool badVersionReply = false;
    int refuseModeSwitch = 0;
    int ignoreModeSwitch = 0;
    int refuseConnections = 0;
    int failErase = 0;
    double eraseSeconds = 0;
    std::map<int, int> refuseBlock, nakBlock, dropBlock, lateBlock;
    int lateMs = 1500;
    bool badFinish = false;
};

bool ParseHex(const std::string& text, std::uint8_t* out, std::size_t bytes) {
    if (text.size() != bytes * 2) {
        return false;
    }
    for (std::size_t i = 0; i < bytes; ++i) {
        char* end = nullptr;
        const std::string pair = text.substr(2 * i, 2);
        const unsigned long value = std::strtoul(pair.c_str(), &end, 16);
        if (*end != '\0' || !std::isxdigit(static_cast<unsigned char>(pair[0])) ||
            !std::isxdigit(static_cast<unsigned char>(pair[1]))) {
            return false;
        }
        out[i] = static_cast<std::uint8_t>(value);
    }
    return true;
}

bool ParseInt(const std::string& text, long low, long high, long& out) {
    char* end = nullptr;
    errno = 0;
    out = std::strtol(text.c_str(), &end, 10);
    return !text.empty() && *end == '\0' && errno == 0 && out >= low && out <= high;
}

bool ParseBlockFault(const std::string& text, std::map<int, int>& into) {
    const auto colon = text.find(':');
    long block = 0;
    long times = 1;
    if (!ParseInt(text.substr(0, colon), 1, 1'000'000, block) ||
        (colon != std::string::npos && !ParseInt(text.substr(colon + 1), 1, 1000, times))) {
        return false;
    }
    into[static_cast<int>(block)] = static_cast<int>(times);
    return true;
}

bool ParseOptions(int argc, char** argv, Options& o, std::string& error) {
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        std::string value;
        auto take = [&]() {
            if (i + 1 >= argc) {
                error = arg + " needs a value";
                return false;
            }
            value = argv[++i];
            return true;
        };
        long n = 0;
        auto port = [&](int& into) {
            if (!take() || !ParseInt(value, 0, 65535, n)) {
                error = arg + " needs a port number";
                return false;
            }
            into = static_cast<int>(n);
            return true;
        };
        auto count = [&](int& into) {
            if (!take() || !ParseInt(value, 0, 1'000'000, n)) {
                error = arg + " needs a count";
                return false;
            }
            into = static_cast<int>(n);
            return true;
        };
        auto blockFault = [&](std::map<int, int>& into) {
            if (!take() || !ParseBlockFault(value, into)) {
                error = arg + " needs K or K:N";
                return false;
            }
            return true;
        };
        bool ok = true;
        if (arg == "--listen") {
            in_addr probe{};
            ok = take() && ::inet_pton(AF_INET, value.c_str(), &probe) == 1;
            if (ok) {
                o.listen = value;
            } else {
                error = "--listen needs an IPv4 address";
            }
        } else if (arg == "--vantrel-port") {
            ok = port(o.vantrelPort);
        } else if (arg == "--bramble-port") {
            ok = port(o.bramblePort);
        } else if (arg == "--download-port") {
            ok = port(o.downloadPort);
        } else if (arg == "--ipx-tunnel-port") {
            ok = port(o.tunnelPort);
        } else if (arg == "--ipx-network") {
            ok = take() && ParseHex(value, o.network, 4);
            if (!ok)
                error = "--ipx-network needs 8 hexadecimal digits";
        } else if (arg == "--ipx-node") {
            ok = take() && ParseHex(value, o.node, 6);
            if (!ok)
                error = "--ipx-node needs 12 hexadecimal digits";
        } else if (arg == "--model-code") {
            ok = take() && ParseHex(value, o.modelCode, 2);
            if (!ok)
                error = "--model-code needs 4 hexadecimal digits";
        } else if (arg == "--firmware-version") {
            ok = take();
            const auto dot = value.find('.');
            std::uint8_t major[1] = {};
            std::uint8_t minor[1] = {};
            const std::string high = dot == std::string::npos ? "" : value.substr(0, dot);
            ok = ok && dot != std::string::npos &&
                 ParseHex(high.size() == 1 ? "0" + high : high, major, 1) &&
                 ParseHex(value.substr(dot + 1), minor, 1);
            if (ok) {
                o.version[0] = major[0];
                o.version[1] = minor[0];
            } else {
                error = "--firmware-version needs M.mm in hexadecimal, such as 1.10";
            }
        } else if (arg == "--flash") {
            ok = take();
            o.flashFile = value;
        } else if (arg == "--once") {
            o.once = true;
        } else if (arg == "--quiet") {
            o.quiet = true;
        } else if (arg == "--no-version-reply") {
            o.noVersionReply = true;
        } else if (arg == "--bad-version-reply") {
            o.badVersionReply = true;
        } else if (arg == "--refuse-mode-switch") {
            ok = count(o.refuseModeSwitch);
        } else if (arg == "--ignore-mode-switch") {
            ok = count(o.ignoreModeSwitch);
        } else if (arg == "--refuse-connections") {
            ok = count(o.refuseConnections);
        } else if (arg == "--fail-erase") {
            ok = count(o.failErase);
        } else if (arg == "--erase-seconds") {
            ok = take();
            char* end = nullptr;
            o.eraseSeconds = ok ? std::strtod(value.c_str(), &end) : 0;
            ok = ok && *end == '\0' && o.eraseSeconds >= 0 && o.eraseSeconds <= 600;
            if (!ok)
                error = "--erase-seconds needs 0 to 600";
        } else if (arg == "--refuse-block") {
            ok = blockFault(o.refuseBlock);
        } else if (arg == "--nak-block") {
            ok = blockFault(o.nakBlock);
        } else if (arg == "--drop-block") {
            ok = blockFault(o.dropBlock);
        } else if (arg == "--late-block") {
            ok = blockFault(o.lateBlock);
        } else if (arg == "--late-ms") {
            ok = count(o.lateMs);
        } else if (arg == "--bad-finish") {
            o.badFinish = true;
        } else {
            error = "unknown option " + arg;
            ok = false;
        }
        if (!ok) {
            if (error.empty()) {
                error = arg + " needs a value";
            }
            return false;
        }
    }
    return true;
}

// Takes one from a fault counter; true while the fault still applies.
bool Consume(int& left) {
    if (left > 0) {
        --left;
        return true;
    }
    return false;
}
bool Consume(std::map<int, int>& faults, int block) {
    const auto found = faults.find(block);
    return found != faults.end() && Consume(found->second);
}

struct Reply {
    std::uint8_t status = 0;
    Bytes data;
    int delayMs = 0;
};

struct Connection {
    int fd;
    std::uint64_t serial;
    Bytes received;
};

struct Pending {
    Clock::time_point due;
    bool tcp;
    std::uint64_t connection;  // TCP: the connection's serial
    int udpFd;                 // UDP: the socket and the peer to answer
    sockaddr_in peer;
    Bytes bytes;
};

class Simulator {
  public:
    explicit Simulator(const Options& options) : o_(options) {}
    ~Simulator();
    bool Start();
    int Run();

  private:
    void Log(const char* format, ...) __attribute__((format(printf, 2, 3)));
    int OpenSocket(int type, int port);
    void OnQueryDatagram(int fd, std::uint8_t expectedPort);
    void OnTunnelDatagram();
    void OnAccept();
    bool OnTcpReadable(Connection& connection);
    std::optional<Reply> Handle(std::uint8_t type, const std::uint8_t* data, std::size_t length,
                                bool ipx, const char* via);
    std::optional<Reply> HandleData(const std::uint8_t* data, std::size_t length, bool ipx);
    std::optional<Reply> HandleFinish(const std::uint8_t* data, std::size_t length, bool ipx);
    Bytes VersionReply(bool bramble) const;
    void Schedule(Pending pending, int delayMs);
    void SendPending(const Pending& pending);
    void FlushDue();
    void CloseConnection(std::size_t index);

    Options o_;
    int vantrelFd_ = -1, brambleFd_ = -1, listenFd_ = -1, tunnelFd_ = -1;
    std::vector<Connection> connections_;
    std::uint64_t nextSerial_ = 1;
    std::vector<Pending> pending_;
    bool stopAfterFlush_ = false;

    vexil::FlashImage flash_;
    int blockNumber_ = 0;  // the data block on hand, counted from 1 after the erase
    Bytes lastBlock_;
    int lastSequence_ = -1;
    bool lastApplied_ = false;
    std::size_t blocksApplied_ = 0;
};

Simulator::~Simulator() {
    for (int fd : {vantrelFd_, brambleFd_, listenFd_, tunnelFd_}) {
        if (fd >= 0) {
            ::close(fd);
        }
    }
    for (const Connection& connection : connections_) {
        ::close(connection.fd);
    }
}

void Simulator::Log(const char* format, ...) {
    if (o_.quiet) {
        return;
    }
    std::va_list args;
    va_start(args, format);
    std::fprintf(stderr, "vexil-printserver-sim: ");
    std::vfprintf(stderr, format, args);
    std::fprintf(stderr, "\n");
    va_end(args);
}

int Simulator::OpenSocket(int type, int port) {
    const int fd = ::socket(AF_INET, type | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) {
        return -1;
    }
    const int one = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in at{};
    at.sin_family = AF_INET;
    at.sin_port = htons(static_cast<std::uint16_t>(port));
    ::inet_pton(AF_INET, o_.listen.c_str(), &at.sin_addr);
    if (::bind(fd, reinterpret_cast<sockaddr*>(&at), sizeof at) != 0 ||
        (type == SOCK_STREAM && ::listen(fd, 8) != 0)) {
        std::fprintf(stderr, "vexil-printserver-sim: cannot listen on %s:%d: %s\n",
                     o_.listen.c_str(), port, std::strerror(errno));
        ::close(fd);
        return -1;
    }
    return fd;
}

bool Simulator::Start() {
    vantrelFd_ = OpenSocket(SOCK_DGRAM, o_.vantrelPort);
    brambleFd_ = OpenSocket(SOCK_DGRAM, o_.bramblePort);
    listenFd_ = OpenSocket(SOCK_STREAM, o_.downloadPort);
    if (o_.tunnelPort != 0) {
        tunnelFd_ = OpenSocket(SOCK_DGRAM, o_.tunnelPort);
        if (tunnelFd_ < 0) {
            return false;
        }
    }
    if (vantrelFd_ < 0 || brambleFd_ < 0 || listenFd_ < 0) {
        return false;
    }
    std::fprintf(stderr,
                 "vexil-printserver-sim: listening on %s (version %d/udp, switch %d/udp, download "
                 "%d/tcp, IPX tunnel %d/udp as %02X%02X%02X%02X:%02X%02X%02X%02X%02X%02X), model "
                 "code %02x%02x, firmware %x.%02x\n",
                 o_.listen.c_str(), o_.vantrelPort, o_.bramblePort, o_.downloadPort, o_.tunnelPort,
                 o_.network[0], o_.network[1], o_.network[2], o_.network[3], o_.node[0], o_.node[1],
                 o_.node[2], o_.node[3], o_.node[4], o_.node[5], o_.modelCode[0], o_.modelCode[1],
                 o_.version[0], o_.version[1]);
    return true;
}

Bytes Simulator::VersionReply(bool bramble) const {
    const auto reply = payload::VersionReply(
        bramble ? vexil::VersionQuery::kBramble : vexil::VersionQuery::kVantrel, o_.modelCode,
        o_.version, !o_.badVersionReply);
    return Bytes(reply.begin(), reply.end());
}

std::optional<Reply> Simulator::Handle(std::uint8_t type, const std::uint8_t* data,
                                       std::size_t length, bool ipx, const char* via) {
    switch (type) {
        case wire::kVantrelVersion:
        case wire::kBrambleVersion: {
            const bool bramble = type == wire::kBrambleVersion;
            if (o_.noVersionReply) {
                Log("%s %s version query: not answered (fault)", via,
                    bramble ? "Bramble" : "Vantrel");
                return std::nullopt;
            }
            Log("%s %s version query: model %02x%02x, firmware %x.%02x%s", via,
                bramble ? "Bramble" : "Vantrel", o_.modelCode[0], o_.modelCode[1], o_.version[0],
                o_.version[1], o_.badVersionReply ? " (invalid reply, fault)" : "");
            return Reply{0, VersionReply(bramble), 0};
        }
        case wire::kJampEprom:
            if (Consume(o_.ignoreModeSwitch)) {
                Log("%s download-mode switch: not answered (fault)", via);
                return std::nullopt;
            }
            if (Consume(o_.refuseModeSwitch)) {
                Log("%s download-mode switch: refused (fault)", via);
                return Reply{1, {0x01}, 0};
            }
            Log("%s download-mode switch: in download mode", via);
            return Reply{0, {0x00}, 0};
        case wire::kConnect:
            if (Consume(o_.refuseConnections)) {
                Log("%s download connection: refused (fault)", via);
                return Reply{1, {0x01}, 0};
            }
            Log("%s download connection: accepted", via);
            return Reply{0, {0x00}, 0};
        case wire::kErase: {
            if (Consume(o_.failErase)) {
                Log("%s erase: failed (fault)", via);
                return Reply{1, {0x01}, 0};
            }
            flash_.Clear();
            blockNumber_ = 0;
            lastBlock_.clear();
            lastSequence_ = -1;
            lastApplied_ = false;
            blocksApplied_ = 0;
            const int delay = static_cast<int>(o_.eraseSeconds * 1000);
            Log("%s erase: flash erased%s", via, delay > 0 ? " (slowly)" : "");
            return Reply{0, {0x00}, delay};
        }
        case wire::kData:
            return HandleData(data, length, ipx);
        case wire::kFinish:
            return HandleFinish(data, length, ipx);
        default:
            Log("%s unknown request type 0x%02x ignored", via, type);
            return std::nullopt;
    }
}

std::optional<Reply> Simulator::HandleData(const std::uint8_t* data, std::size_t length, bool ipx) {
    const char* via = ipx ? "ipx" : "tcp";
    int sequence = -1;
    const std::uint8_t* block = data;
    std::size_t blockLength = length;
    if (ipx) {
        if (!payload::HasIpxPrefix(data, length)) {
            Log("%s data without the block prefix: not acknowledged", via);
            return Reply{0, payload::BlockReply(true, false, 0), 0};
        }
        sequence = payload::IpxSequence(data);
        block += payload::kIpxPrefixSize;
        blockLength -= payload::kIpxPrefixSize;
    }
    // The same block again (same sequence number over IPX, same bytes over TCP) is a resend.
    const bool resend =
        ipx ? sequence == lastSequence_
            : std::equal(block, block + blockLength, lastBlock_.begin(), lastBlock_.end());
    if (!resend) {
        ++blockNumber_;
        lastSequence_ = sequence;
        lastBlock_.assign(block, block + blockLength);
        lastApplied_ = false;
    }
    const auto echoed = static_cast<std::uint16_t>(ipx ? sequence : 0);
    const Bytes ack = payload::BlockReply(ipx, true, echoed);
    const Bytes nak = payload::BlockReply(ipx, false, echoed);
    const int k = blockNumber_;
    if (Consume(o_.refuseBlock, k)) {
        Log("%s block %d (%zu bytes): refused (fault)", via, k, blockLength);
        return Reply{1, {}, 0};
    }
    if (Consume(o_.dropBlock, k)) {
        Log("%s block %d (%zu bytes): not answered (fault)", via, k, blockLength);
        return std::nullopt;
    }
    const int delay = Consume(o_.lateBlock, k) ? o_.lateMs : 0;
    if (Consume(o_.nakBlock, k)) {
        Log("%s block %d (%zu bytes): answered without acknowledgement%s (fault)", via, k,
            blockLength, delay ? ", late" : "");
        return Reply{0, nak, delay};
    }
    std::vector<vexil::record::BlockRecord> records;
    bool end = false;
    if (const int check = vexil::record::ParseBlock(block, blockLength, records, end); check != 0) {
        Log("%s block %d (%zu bytes): %s, not acknowledged", via, k, blockLength,
            check == -2 ? "checksum error" : "malformed records");
        return Reply{0, nak, 0};
    }
    if (!lastApplied_) {
        for (const vexil::record::BlockRecord& record : records) {
            if (record.type == vexil::record::kDataType) {
                flash_.Write(record.address, record.data, record.dataLength);
            }
        }
        lastApplied_ = true;
        ++blocksApplied_;
    }
    if (ipx) {
        Log("ipx block %d seq 0x%04x (%zu bytes, %zu records)%s: acknowledged%s", k, sequence,
            blockLength, records.size(), resend ? ", a resend" : "", delay ? " late (fault)" : "");
    } else {
        Log("tcp block %d (%zu bytes, %zu records)%s: acknowledged%s", k, blockLength,
            records.size(), resend ? ", a resend" : "", delay ? " late (fault)" : "");
    }
    return Reply{0, ack, delay};
}

std::optional<Reply> Simulator::HandleFinish(const std::uint8_t* data, std::size_t length,
                                             bool ipx) {
    const char* via = ipx ? "ipx" : "tcp";
    const Bytes nak = ipx ? Bytes(payload::kIpxFinishNak.begin(), payload::kIpxFinishNak.end())
                          : Bytes(payload::kTcpFinishNak.begin(), payload::kTcpFinishNak.end());
    if (!payload::IsFinishRequest(data, length, ipx)) {
        Log("%s finish request malformed: not acknowledged", via);
        return Reply{0, nak, 0};
    }
    if (o_.badFinish) {
        Log("%s finish: answered without acknowledgement (fault)", via);
        return Reply{0, nak, 0};
    }
    std::uint32_t low = 0;
    std::uint32_t high = 0;
    const bool any = flash_.Bounds(low, high);
    std::string saved = "not saved (no --flash)";
    if (!o_.flashFile.empty()) {
        std::string error;
        saved = flash_.SaveBinary(o_.flashFile, error) ? "saved to " + o_.flashFile : error;
    }
    std::fprintf(stderr,
                 "vexil-printserver-sim: download finished over %s: %zu blocks, %zu data bytes, "
                 "%s%06X-%06X, %s\n",
                 ipx ? "IPX" : "TCP/IP", blocksApplied_, flash_.WrittenBytes(),
                 any ? "0x" : "none ", any ? low : 0, any ? high : 0, saved.c_str());
    if (o_.once) {
        stopAfterFlush_ = true;
    }
    return Reply{0,
                 ipx ? Bytes(payload::kIpxFinishAck.begin(), payload::kIpxFinishAck.end())
                     : Bytes(payload::kTcpFinishAck.begin(), payload::kTcpFinishAck.end()),
                 0};
}

void Simulator::Schedule(Pending pending, int delayMs) {
    if (delayMs <= 0) {
        SendPending(pending);
        return;
    }
    pending.due = Clock::now() + std::chrono::milliseconds(delayMs);
    pending_.push_back(std::move(pending));
}

void Simulator::SendPending(const Pending& pending) {
    if (!pending.tcp) {
        ::sendto(pending.udpFd, pending.bytes.data(), pending.bytes.size(), 0,
                 reinterpret_cast<const sockaddr*>(&pending.peer), sizeof pending.peer);
        return;
    }
    for (const Connection& connection : connections_) {
        if (connection.serial == pending.connection) {
            // Replies are small; a full socket buffer means the peer stopped reading.
            ::send(connection.fd, pending.bytes.data(), pending.bytes.size(), MSG_NOSIGNAL);
            return;
        }
    }
}

void Simulator::FlushDue() {
    const auto now = Clock::now();
    for (std::size_t i = 0; i < pending_.size();) {
        if (pending_[i].due <= now) {
            SendPending(pending_[i]);
            pending_.erase(pending_.begin() + static_cast<long>(i));
        } else {
            ++i;
        }
    }
}

void Simulator::OnQueryDatagram(int fd, std::uint8_t expected) {
    std::uint8_t in[wire::kMaxMessage + 1];
    sockaddr_in peer{};
    socklen_t peerSize = sizeof peer;
    const ssize_t got =
        ::recvfrom(fd, in, sizeof in, 0, reinterpret_cast<sockaddr*>(&peer), &peerSize);
    if (got < static_cast<ssize_t>(wire::kHeaderSize) ||
        got > static_cast<ssize_t>(wire::kMaxMessage)) {
        if (got >= 0) {
            Log("udp datagram of %zd bytes ignored", got);
        }
        return;
    }
    // The Vantrel port takes its query; the Bramble port its query and the mode switch.
    const std::uint8_t type = in[0];
    const bool fits = expected == wire::kVantrelVersion
                          ? type == wire::kVantrelVersion
                          : (type == wire::kBrambleVersion || type == wire::kJampEprom);
    if (!fits) {
        Log("udp request type 0x%02x on the wrong port ignored", type);
        return;
    }
    const auto reply = Handle(type, in + wire::kHeaderSize,
                              static_cast<std::size_t>(got) - wire::kHeaderSize, false, "udp");
    if (!reply) {
        return;
    }
    Pending out{{}, false, 0, fd, peer, Bytes(wire::kHeaderSize)};
    wire::PutHeader(out.bytes.data(), type | wire::kReplyBit, wire::GetId(in), reply->status);
    out.bytes.insert(out.bytes.end(), reply->data.begin(), reply->data.end());
    Schedule(std::move(out), reply->delayMs);
}

void Simulator::OnTunnelDatagram() {
    std::uint8_t in[wire::kIpxHeaderSize + wire::kMaxMessage + 1];
    sockaddr_in peer{};
    socklen_t peerSize = sizeof peer;
    const ssize_t got =
        ::recvfrom(tunnelFd_, in, sizeof in, 0, reinterpret_cast<sockaddr*>(&peer), &peerSize);
    if (got < 0) {
        return;
    }
    const auto size = static_cast<std::size_t>(got);
    wire::IpxAddress to{};
    wire::IpxAddress from{};
    if (!wire::GetIpxHeader(in, size, to, from) ||
        size < wire::kIpxHeaderSize + wire::kHeaderSize ||
        size > wire::kIpxHeaderSize + wire::kMaxMessage) {
        Log("ipx datagram of %zu bytes ignored: not an IPX packet of ours", size);
        return;
    }
    if (std::memcmp(to.network, o_.network, 4) != 0 || std::memcmp(to.node, o_.node, 6) != 0 ||
        to.socket != wire::kPrintServerIpxSocket) {
        Log("ipx packet for %02X%02X%02X%02X:%02X%02X%02X%02X%02X%02X socket 0x%04X ignored: "
            "not this card",
            to.network[0], to.network[1], to.network[2], to.network[3], to.node[0], to.node[1],
            to.node[2], to.node[3], to.node[4], to.node[5], to.socket);
        return;
    }
    const std::uint8_t* message = in + wire::kIpxHeaderSize;
    const auto reply = Handle(message[0], message + wire::kHeaderSize,
                              size - wire::kIpxHeaderSize - wire::kHeaderSize, true, "ipx");
    if (!reply) {
        return;
    }
    const wire::IpxAddress self{
        {o_.network[0], o_.network[1], o_.network[2], o_.network[3]},
        {o_.node[0], o_.node[1], o_.node[2], o_.node[3], o_.node[4], o_.node[5]},
        wire::kPrintServerIpxSocket};
    const std::size_t total = wire::kIpxHeaderSize + wire::kHeaderSize + reply->data.size();
    Pending out{{}, false, 0, tunnelFd_, peer, Bytes(wire::kIpxHeaderSize + wire::kHeaderSize)};
    wire::PutIpxHeader(out.bytes.data(), static_cast<std::uint16_t>(total), from, self);
    wire::PutHeader(out.bytes.data() + wire::kIpxHeaderSize, message[0] | wire::kReplyBit,
                    wire::GetId(message), reply->status);
    out.bytes.insert(out.bytes.end(), reply->data.begin(), reply->data.end());
    Schedule(std::move(out), reply->delayMs);
}

void Simulator::OnAccept() {
    const int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
    if (fd < 0) {
        return;
    }
    const int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    connections_.push_back({fd, nextSerial_++, {}});
    Log("tcp connection opened");
}

// Returns false when the connection is to be closed.
bool Simulator::OnTcpReadable(Connection& connection) {
    std::uint8_t chunk[4096];
    const ssize_t got = ::recv(connection.fd, chunk, sizeof chunk, 0);
    if (got == 0) {
        Log("tcp connection closed by the program");
        return false;
    }
    if (got < 0) {
        return errno == EAGAIN || errno == EINTR;
    }
    connection.received.insert(connection.received.end(), chunk, chunk + got);
    while (connection.received.size() >= wire::kLengthPrefix) {
        const std::size_t length =
            (std::size_t{connection.received[0]} << 8) | connection.received[1];
        if (length < wire::kHeaderSize || length > wire::kMaxMessage) {
            Log("tcp message of length %zu: garbled stream, connection closed", length);
            return false;
        }
        if (connection.received.size() < wire::kLengthPrefix + length) {
            break;
        }
        const Bytes message(
            connection.received.begin() + wire::kLengthPrefix,
            connection.received.begin() + static_cast<long>(wire::kLengthPrefix + length));
        connection.received.erase(
            connection.received.begin(),
            connection.received.begin() + static_cast<long>(wire::kLengthPrefix + length));
        const auto reply = Handle(message[0], message.data() + wire::kHeaderSize,
                                  length - wire::kHeaderSize, false, "tcp");
        if (!reply) {
            continue;
        }
        Pending out{{}, true, connection.serial,
                    -1, {},   Bytes(wire::kLengthPrefix + wire::kHeaderSize)};
        const std::size_t replyLength = wire::kHeaderSize + reply->data.size();
        out.bytes[0] = static_cast<std::uint8_t>(replyLength >> 8);
        out.bytes[1] = static_cast<std::uint8_t>(replyLength);
        wire::PutHeader(out.bytes.data() + wire::kLengthPrefix, message[0] | wire::kReplyBit,
                        wire::GetId(message.data()), reply->status);
        out.bytes.insert(out.bytes.end(), reply->data.begin(), reply->data.end());
        Schedule(std::move(out), reply->delayMs);
        if (message[0] == wire::kConnect && reply->status != 0) {
            return false;  // a refused connection is closed after its answer
        }
    }
    return true;
}

void Simulator::CloseConnection(std::size_t index) {
    ::close(connections_[index].fd);
    connections_.erase(connections_.begin() + static_cast<long>(index));
}

int Simulator::Run() {
    while (!g_stop) {
        std::vector<pollfd> fds = {{vantrelFd_, POLLIN, 0},
                                   {brambleFd_, POLLIN, 0},
                                   {listenFd_, POLLIN, 0},
                                   {tunnelFd_, POLLIN, 0}};
        for (const Connection& connection : connections_) {
            fds.push_back({connection.fd, POLLIN, 0});
        }
        int timeout = 50;
        for (const Pending& pending : pending_) {
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(pending.due - Clock::now())
                    .count();
            timeout = static_cast<int>(std::max<long long>(0, std::min<long long>(timeout, left)));
        }
        const int ready = ::poll(fds.data(), fds.size(), timeout);
        if (ready < 0 && errno != EINTR) {
            std::perror("vexil-printserver-sim: poll");
            return 1;
        }
        FlushDue();
        if (ready <= 0) {
            continue;
        }
        if (fds[0].revents & POLLIN)
            OnQueryDatagram(vantrelFd_, wire::kVantrelVersion);
        if (fds[1].revents & POLLIN)
            OnQueryDatagram(brambleFd_, wire::kBrambleVersion);
        if (fds[3].revents & POLLIN)
            OnTunnelDatagram();
        // Connections are checked from the back so that closing one keeps the others' indexes.
        for (std::size_t i = fds.size(); i-- > 4;) {
            const std::size_t index = i - 4;
            if (fds[i].revents & (POLLIN | POLLHUP | POLLERR)) {
                if (!OnTcpReadable(connections_[index])) {
                    CloseConnection(index);
                }
            }
        }
        if (fds[2].revents & POLLIN)
            OnAccept();
        if (stopAfterFlush_ && pending_.empty()) {
            return 0;
        }
    }
    Log("stopped");
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            std::fputs(kHelp, stdout);
            return 0;
        }
    }
    Options options;
    std::string error;
    if (!ParseOptions(argc, argv, options, error)) {
        std::fprintf(stderr, "vexil-printserver-sim: %s (see --help)\n", error.c_str());
        return 2;
    }
    struct sigaction action {};
    action.sa_handler = OnSignal;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    signal(SIGPIPE, SIG_IGN);
    Simulator simulator(options);
    if (!simulator.Start()) {
        return 1;
    }
    return simulator.Run();
}
