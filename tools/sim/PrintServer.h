// The simulated print server's behaviour, without sockets: request bytes in, reply bytes out.
// It answers the version queries and the download-mode switch, takes the download connection,
// erases and writes its flash image, checks every record it receives, writes the image to the
// flash file when the download finishes, and plays the faults of its options.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "tools/FlashImage.h"
#include "tools/sim/FaultPlan.h"
#include "tools/sim/SimLog.h"
#include "tools/sim/SimOptions.h"

namespace vexil::sim {

// The way a request came: a UDP query, the TCP download connection, or IPX.
enum class Via { kUdp, kTcp, kIpx };

struct Reply {
    std::uint8_t status = 0;  // 0: taken
    std::vector<std::uint8_t> data;
    int delayMs = 0;  // how long the answer waits before it goes out
};

class PrintServer {
  public:
    PrintServer(const Options& options, const SimLog& log);

    // The answer to one request (its message type and data), or none when the print server
    // stays silent.
    std::optional<Reply> Handle(std::uint8_t type, const std::uint8_t* data, std::size_t length,
                                Via via);
    // Whether a download has finished since the start.
    bool Finished() const { return finished_; }
    const FlashImage& Flash() const { return flash_; }

  private:
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
};

}  // namespace vexil::sim
