// One download to one target, as the window's download command runs it: the target record
// filled in, the sequence of the chosen transport, its result reported, the socket closed.
#pragma once

#include <string>

#include "cli/ConsolePort.h"
#include "cli/Options.h"

namespace vexil::cli {

struct Outcome {
    int result = 0;
    // The message the download ended with: its result's first message or, for a result that
    // shows none, the last message shown before it (0 when there was none).
    int message = 0;
    std::string fileVersion;
    std::string deviceVersion;
};

Outcome RunDownload(const Target& target, int modelIndex, ConsolePort& port);

// The process exit status for a result code: its magnitude.
int ExitStatus(int result);

// The log line of one download (without its line feed).
std::string LogLine(const Target& target, int modelIndex, const Outcome& outcome);

}  // namespace vexil::cli
