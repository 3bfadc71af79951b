// vexil-printserver-sim's options: what it is, where it listens and which faults it plays. One
// table of the options drives both the parsing and --help.
#pragma once

#include <cstdint>
#include <map>
#include <string>

#include "format/DevicePayloads.h"
#include "protocol/Wire.h"

namespace vexil::sim {

struct Options {
    std::string listen = "127.0.0.1";
    int vantrelPort = payload::kVantrelQueryPort;
    int bramblePort = payload::kBrambleQueryPort;
    int downloadPort = payload::kDownloadPort;
    int tunnelPort = tavdl::wire::kDefaultTunnelPort;
    std::uint8_t network[4] = {0x00, 0x00, 0x00, 0x01};
    std::uint8_t node[6] = {0x00, 0xD1, 0xF0, 0x12, 0x34, 0x56};
    std::uint8_t modelCode[2] = {0xAA, 0x01};
    std::uint8_t version[2] = {0x01, 0x10};
    std::string flashFile;
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

// Reads the command line (without --help), and checks at once that the flash file can be
// written; false with a message naming the option.
bool ParseOptions(int argc, char** argv, Options& options, std::string& error);

// The text of --help.
std::string HelpText();

}  // namespace vexil::sim
