// What the user is told about the result of a download: the result table that turns each
// result code into its messages and the status line's part in them. The window and the command
// line report through their dialog ports with this one table.
#pragma once

#include <vector>

#include "engine/DialogPort.h"

namespace vexil {

struct ResultMessage {
    int stringId;
    Icon icon;
};

// The messages that result `result` shows, in order; none for -6, whose message (if any) the
// sequence has shown itself. Codes outside the table show what -7 shows.
std::vector<ResultMessage> ResultMessages(int result);

// Shows those messages through `port`, with the status line as the result table wants it:
// codes -9 to -14 show "sending failed" in the status line while their message is open and hide
// it afterwards; -8 hides it after its message, -7 and unknown codes before theirs.
void ReportResult(int result, DialogPort& port);

}  // namespace vexil
