// One download to one target, as the window's download command runs it: the request built, the
// engine run over the program's one transport, its result reported. And the version query alone,
// for an inventory.
#pragma once

#include "cli/Checksums.h"
#include "cli/ConsolePort.h"
#include "cli/Options.h"
#include "cli/Report.h"
#include "engine/DownloadRequest.h"
#include "engine/Transport.h"
#include "transport/TavdlTransport.h"

namespace vexil::cli {

// Sets up the program's one transport: while a call waits, the console's hook takes its cancel.
void WaitOnConsole(TavdlTransport& transport);

// The engine's request for a target. A model given by the LAN card's name or number counts as
// picked as the model list's first entry. `approved`: the files must have those sums.
DownloadRequest RequestFor(const Target& target, int modelIndex,
                           const ApprovedSums* approved = nullptr);

// When the approved sums refused a file of `report`'s run: says so on standard error, once, and
// gives the report the note that names the file. False when they refused none.
bool ReportSumRefusal(Report& report, const ApprovedSums* approved);

// The download, reported through `port`: the report of the target with the engine's outcome,
// whether the confirmation was declined as unverified, and the message it ended with (its
// result's first message or, for a result that shows none, the last message shown before it).
// `skipCurrent`: a print server that reports the download file's version is left alone.
// `approved`: nothing is sent unless each file the download sends has its approved sum.
Report RunDownload(Transport& transport, const Target& target, int modelIndex, ConsolePort& port,
                   bool skipCurrent = false, const ApprovedSums* approved = nullptr);

// The model's version query and nothing else; the result is 0 when the print server answered.
// `withFile`: the model's download file in the working directory is checked first, as a
// download checks it, and its version reported; a file that fails the check ends the query
// before anything is sent (not started). The model check follows the query as it follows it in
// a download: a print server of another model fails with -14 (57631), as its download would.
Report RunQuery(Transport& transport, const Target& target, int modelIndex, ConsolePort& port,
                bool withFile = false, const ApprovedSums* approved = nullptr);

// The download file's check alone, as a download over that transport starts it, for a fleet
// before any of its downloads: 0, or -6 when the file is missing, not for the model, damaged or
// refused by the approved sums (said so).
int CheckDownloadFile(Transport& transport, int modelIndex, bool ipx, ConsolePort& port,
                      const ApprovedSums* approved = nullptr);

}  // namespace vexil::cli
