// vexil-printserver-sim's options: where it listens, how it runs, and for each print server it
// plays what it is and which faults it plays. Two tables of the options (the simulator's own, and
// those of one print server, which --printer gives to some of them) drive both the parsing and
// --help.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "format/DevicePayloads.h"
#include "protocol/Wire.h"

namespace vexil::sim {

// The options of one print server. Those of the simulator as a whole (the ports, the IPX card,
// --once, --quiet, --ready-fd, --idle-seconds) are the same in every print server's.
struct Options {
    std::string listen = "127.0.0.1";  // this print server's address
    int vantrelPort = payload::kVantrelQueryPort;
    int bramblePort = payload::kBrambleQueryPort;
    int downloadPort = payload::kDownloadPort;
    int tunnelPort = tavdl::wire::kDefaultTunnelPort;
    std::uint8_t network[4] = {0x00, 0x00, 0x00, 0x01};
    std::uint8_t node[6] = {0x00, 0xD1, 0xF0, 0x12, 0x34, 0x56};
    std::uint8_t modelCode[2] = {0xAA, 0x01};
    std::uint8_t version[2] = {0x01, 0x10};
    // Whether `version` stays after a finished download; otherwise the print server reports
    // the version of the image it received from then on, as it does after a power reset.
    bool keepVersion = false;
    std::string flashFile;  // from --flash, or --flash-dir and the address
    bool once = false;
    bool quiet = false;
    // A descriptor to write "ready" to (and close) once every socket listens, or -1.
    int readyFd = -1;
    // A TCP connection silent this long is closed, and a download whose client has been
    // silent this long ends: longer than any wait of a download.
    double idleSeconds = 60;
    // Faults. The counts say how many requests (or sends of block K) each one takes; the
    // options keep them as given, and a FaultPlan counts them down.
    bool noVersionReply = false;
    bool badVersionReply = false;
    int refuseModeSwitch = 0;
    int ignoreModeSwitch = 0;
    int refuseConnections = 0;
    int failErase = 0;
    double eraseSeconds = 0;
    std::map<int, int> refuseBlock, nakBlock, dropBlock, lateBlock;  // block K -> N times
    int lateMs = 1500;
    bool badFinish = false;
};

// The most print servers one simulator plays.
constexpr std::size_t kMaxPrintServers = 65536;

// Reads the command line (without --help) into the options of each print server, in the order
// their addresses were given, and checks at once that their flash files can be written; false
// with a message naming the option.
bool ParseOptions(int argc, char** argv, std::vector<Options>& printers, std::string& error);

// The text of --help.
std::string HelpText();

}  // namespace vexil::sim
