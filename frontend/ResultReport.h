// What the user is told about the result of a download: the result table that turns each result
// code into its messages and the status line's part in them. The windows and the command line
// report with this one table, through the roles they give the engine.
#pragma once

#include <vector>

#include "engine/DownloadRequest.h"
#include "engine/DownloadResult.h"
#include "engine/Ports.h"

namespace vexil {

struct ResultMessage {
    int stringId;  // 0: none
    Icon icon;
};

// What a result does to the status line (static text 1054).
enum class StatusLine {
    kUntouched,
    kHiddenBefore,  // hidden before the message opens
    kHiddenAfter,   // hidden once the message has been closed
    // "sending failed" (57613) shown while the message is open, hidden once it is closed
    kSendingFailedThenHidden,
};

struct ResultRow {
    DownloadResult result;
    ResultMessage first;
    ResultMessage second;  // opens after the first is closed
    StatusLine status;
};

// The row of `result`; a code outside the table is reported as -7 is.
const ResultRow& FindResult(int result);

// The messages that result `result` shows, in order; none for -6, whose message (if any) the
// sequence has shown itself.
std::vector<ResultMessage> ResultMessages(int result);

// Shows those messages through `messages`, with the status line as the row says.
void ReportResult(int result, MessageSink& messages, ProgressDisplay& status);
// The same for a download's outcome, whose messages then include the result's.
void ReportOutcome(DownloadOutcome& outcome, MessageSink& messages, ProgressDisplay& status);

}  // namespace vexil
