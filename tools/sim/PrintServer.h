// The simulated print server's behaviour, without sockets: request bytes in, reply bytes out.
// It answers the version queries and the download-mode switch, takes the download connection,
// erases and writes its flash image, checks every record it receives, writes the image to the
// flash file when the download finishes, and plays the faults of its options. It serves one
// download at a time. From an accepted mode switch (or an accepted connection) until that
// download ends (it finishes, its connection closes, or its client stays silent past the idle
// time) the print server is in download mode: another client's version queries and mode
// switches go unanswered, and its connection, erase, data and finish are refused as a busy
// device refuses them.
#pragma once

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "format/FlashImage.h"
#include "protocol/Wire.h"
#include "tools/sim/FaultPlan.h"
#include "tools/sim/SimLog.h"
#include "tools/sim/SimOptions.h"

namespace vexil::sim {

using Clock = std::chrono::steady_clock;

// The way a request came: a UDP query, the TCP download connection, or IPX.
enum class Via { kUdp, kTcp, kIpx };

// Where a datagram came in: one of the two query ports, or the IPX tunnel.
enum class Door { kVantrelPort, kBramblePort, kTunnel };

// Who sent a request, and when it came. A client is one TCP connection, or over UDP one sender's
// address and port.
struct Client {
    std::uint64_t id = 0;
    Clock::time_point at{};
};

struct Reply {
    std::uint8_t status = 0;  // 0: taken
    std::vector<std::uint8_t> data;
    int delayMs = 0;  // how long the answer waits before it goes out
};

// A framed reply ready to go out, and how long it waits first.
struct Outgoing {
    std::vector<std::uint8_t> bytes;
    int delayMs = 0;
};

class PrintServer {
  public:
    PrintServer(const Options& options, const SimLog& log);

    // The answer to one request (its message type and data), or none when the print server
    // stays silent.
    std::optional<Reply> Handle(std::uint8_t type, const std::uint8_t* data, std::size_t length,
                                Via via, Client client = {});

    // The framed answer to one datagram that came in at `door`, or none.
    std::optional<Outgoing> AnswerDatagram(Door door, const std::uint8_t* in, std::size_t size,
                                           Client client);
    // Takes bytes that came on a TCP connection into its `stream` and appends the framed
    // answers to every whole request to `out`. False when the connection is to be closed: its
    // stream is garbled, or its download connection was refused.
    bool AnswerStream(tavdl::wire::StreamReader& stream, const std::uint8_t* in, std::size_t size,
                      Client client, std::vector<Outgoing>& out);

    // The client is gone (its TCP connection closed): a download it ran ends.
    void Leave(std::uint64_t client);

    // The client whose download runs, if one does.
    std::optional<std::uint64_t> DownloadClient() const { return owner_; }
    // Whether a download has finished since the start.
    bool Finished() const { return finished_; }
    const FlashImage& Flash() const { return flash_; }
    // How many blocks the download since the last erase wrote to the flash, as its finish line
    // says: a block sent again counts once.
    std::size_t BlocksApplied() const { return blocksApplied_; }

  private:
    // Whether another client's download runs, so that `client` is shut out.
    bool Busy(const Client& client);
    std::optional<Reply> HandleRequest(std::uint8_t type, const std::uint8_t* data,
                                       std::size_t length, Via via, const char* name);
    std::optional<Reply> HandleData(const std::uint8_t* data, std::size_t length, bool ipx);
    std::optional<Reply> HandleFinish(const std::uint8_t* data, std::size_t length, bool ipx);

    const Options& o_;
    const SimLog& log_;
    FaultPlan faults_;
    FlashImage flash_;
    int blockNumber_ = 0;  // the data block on hand, counted from 1 after the erase
    std::vector<std::uint8_t> lastBlock_;
    int lastSequence_ = -1;
    bool lastApplied_ = false;
    std::size_t blocksApplied_ = 0;
    bool finished_ = false;
    // The firmware version the version replies carry. A finished download replaces it with the
    // version in the image's identification record (the first data record at an identification
    // address since the erase, when it holds a model code and a version), unless the options
    // keep it.
    std::uint8_t version_[2];
    bool identSeen_ = false;
    std::optional<std::array<std::uint8_t, 2>> imageVersion_;
    // The client whose download runs (from its accepted mode switch or connection to its
    // finish), whether that is its download connection yet, and until when it counts as
    // present without a word from it.
    std::optional<std::uint64_t> owner_;
    bool connected_ = false;
    Clock::time_point ownerUntil_{};
    // How far the download has come: a finish counts only after a download-mode switch was
    // asked for (a model may go on when it is refused), a connection was accepted and its
    // client erased the flash through it. Anything less (a stray finish datagram) is refused
    // and changes nothing.
    bool switchAsked_ = false;
    bool erased_ = false;
    // Whether the client may finish its download now.
    bool MayFinish(const Client& client) const;
    // The running download ends (finished, its client gone or silent): the next client may
    // start one from the mode switch on.
    void EndDownload();
};

}  // namespace vexil::sim
