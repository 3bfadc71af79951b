// Feeds arbitrary requests to the simulated print server's behaviour, as they would come from
// its sockets: datagrams at the two query ports and the IPX tunnel, and bytes on TCP
// connections, from four clients. The first byte picks the faults played; then each request is
// a control byte (where it comes in, from whom, whether time passes), a two-byte length and its
// bytes. Every answer must be one reply framed as its request came, within the largest frame;
// the flash never holds more than the data sent; and while one client's download runs, no other
// client's request changes the flash.
#include <array>
#include <cstdint>
#include <vector>

#include "protocol/Wire.h"
#include "tools/sim/PrintServer.h"

namespace {

namespace wire = tavdl::wire;
using vexil::sim::Clock;
using vexil::sim::Door;
using vexil::sim::Outgoing;

void Check(bool sound) {
    if (!sound) {
        __builtin_trap();
    }
}

vexil::sim::Options Faults(std::uint8_t pick) {
    vexil::sim::Options o;
    o.idleSeconds = 5;
    o.noVersionReply = pick & 0x01;
    o.badVersionReply = pick & 0x02;
    o.refuseModeSwitch = pick & 0x04 ? 1 : 0;
    o.refuseConnections = pick & 0x08 ? 1 : 0;
    o.failErase = pick & 0x10 ? 1 : 0;
    o.eraseSeconds = pick & 0x20 ? 1.5 : 0;
    if (pick & 0x40) {
        o.refuseBlock[2] = 1;
        o.nakBlock[3] = 2;
        o.dropBlock[4] = 1;
        o.lateBlock[5] = 1;
    }
    o.badFinish = pick & 0x80;
    return o;
}

// The reply framed in `out`: one whole frame of the framing, a reply, of its request's id.
void CheckAnswer(const Outgoing& out, wire::Framing framing, std::uint32_t id) {
    Check(out.bytes.size() <= wire::kMaxFrame && out.delayMs >= 0);
    wire::Message reply;
    if (framing == wire::Framing::kStream) {
        Check(out.bytes.size() >= wire::kLengthPrefix &&
              wire::StreamLength(out.bytes.data()) + wire::kLengthPrefix == out.bytes.size());
        Check(wire::DecodeMessage(out.bytes.data() + wire::kLengthPrefix,
                                  out.bytes.size() - wire::kLengthPrefix, reply));
    } else {
        Check(wire::DecodeDatagram(framing, out.bytes.data(), out.bytes.size(), reply));
        Check(reply.id == id);
    }
    Check((reply.type & wire::kReplyBit) != 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    const vexil::sim::Options options = Faults(data[0]);
    const vexil::sim::SimLog log(true, nullptr);
    vexil::sim::PrintServer server(options, log);
    std::array<wire::StreamReader, 4> streams;
    Clock::time_point now{};
    bool timePassed = false;
    std::size_t dataSent = 0;
    for (std::size_t at = 1; at + 3 <= size;) {
        const std::uint8_t control = data[at];
        const std::size_t length =
            std::min<std::size_t>(size - at - 3, (std::size_t{data[at + 1]} << 8) | data[at + 2]);
        // Exactly the bytes of the request, so AddressSanitizer sees any read past them.
        const std::vector<std::uint8_t> in(data + at + 3, data + at + 3 + length);
        at += 3 + length;
        const unsigned client = (control >> 2) & 3;
        if (control & 0x10) {
            now += std::chrono::seconds(3);
            timePassed = true;
        }
        dataSent += in.size();
        const auto owner = server.DownloadClient();
        std::uint32_t lowest = 0;
        std::uint32_t highest = 0;
        const bool any = server.Flash().Bounds(lowest, highest);
        const std::size_t written = server.Flash().WrittenBytes();

        const unsigned door = control & 3;
        std::uint64_t from = 0;
        if (door == 3) {
            from = client + 1;  // a TCP connection's serial
            std::vector<Outgoing> answers;
            if (!server.AnswerStream(streams[client], in.data(), in.size(), {from, now}, answers)) {
                streams[client].Clear();  // the connection closes; the client may come again
                server.Leave(from);
            }
            for (const Outgoing& answer : answers) {
                CheckAnswer(answer, wire::Framing::kStream, 0);
            }
        } else {
            from = (std::uint64_t{1} << 63) | client;  // a UDP sender
            const bool ipx = door == 2;
            const auto answer = server.AnswerDatagram(ipx ? Door::kTunnel : static_cast<Door>(door),
                                                      in.data(), in.size(), {from, now});
            if (answer) {
                wire::Message request;
                Check(wire::DecodeDatagram(ipx ? wire::Framing::kIpx : wire::Framing::kDatagram,
                                           in.data(), in.size(), request));
                CheckAnswer(*answer, ipx ? wire::Framing::kIpx : wire::Framing::kDatagram,
                            request.id);
            }
        }
        Check(server.Flash().WrittenBytes() <= dataSent);
        if (owner && *owner != from && !timePassed) {
            std::uint32_t low = 0;
            std::uint32_t high = 0;
            Check(server.Flash().WrittenBytes() == written &&
                  server.Flash().Bounds(low, high) == any &&
                  (!any || (low == lowest && high == highest)));
        }
    }
    return 0;
}
