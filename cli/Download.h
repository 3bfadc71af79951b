// One download to one target, as the window's download command runs it: the request built, the
// engine run, its result reported. And the version query alone, for an inventory.
#pragma once

#include <string>

#include "cli/ConsolePort.h"
#include "cli/Options.h"
#include "engine/DownloadRequest.h"

namespace vexil::cli {

struct Outcome {
    int result = 0;
    // The message the download ended with: its result's first message or, for a result that
    // shows none, the last message shown before it (0 when there was none).
    int message = 0;
    // The first error message the download showed (0 when none): the cause, where the last
    // message is only its consequence (no answer to the version query, then "another model").
    int firstMessage = 0;
    // With skipCurrent: the print server had the file's version, and nothing was sent to it
    // after the version query. The result is then 0.
    bool alreadyCurrent = false;
    // Declined at the confirmation, which --yes answered, for a print server that gave no valid
    // version reply (see ConsolePort::allowUnverified). The result is then -6.
    bool unverified = false;
    std::string fileVersion;
    std::string deviceVersion;
    std::string deviceModelCode;
};

// The engine's request for a target. A model given by the LAN card's name or number counts as
// picked as the model list's first entry.
DownloadRequest RequestFor(const Target& target, int modelIndex);

// `skipCurrent`: a print server that reports the download file's version is left alone.
Outcome RunDownload(const Target& target, int modelIndex, ConsolePort& port,
                    bool skipCurrent = false);

// The model's version query and nothing else; the result is 0 when the print server answered.
// `withFile`: the model's download file in the working directory is checked first, as a
// download checks it, and its version reported; a file that fails the check ends the query
// before anything is sent (not started).
Outcome RunQuery(const Target& target, int modelIndex, ConsolePort& port, bool withFile = false);

// The download file's check alone, as a download over that transport starts it, for a fleet
// before any of its downloads: 0, or -6 when the file is missing, not for the model or damaged.
int CheckDownloadFile(int modelIndex, bool ipx, ConsolePort& port);

// Whether the version a print server reports (1.10) is the version of a file (01.10).
bool SameVersion(std::string_view device, std::string_view file);

// A file's version (01.10) as a print server reports it (1.10).
std::string AsReported(std::string_view fileVersion);

// The process exit status for a result code: its magnitude.
int ExitStatus(int result);

}  // namespace vexil::cli
