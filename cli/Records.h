// What a run leaves on record beside its output: the log's lines and the --failed file.
#pragma once

#include <string>
#include <vector>

#include "cli/Options.h"
#include "cli/Report.h"

namespace vexil::cli {

// Until a run has ended, every one of its targets counts as not done: a run that is killed
// leaves a --failed file that runs them all again, never an empty one that reads as success.
// Nothing is written without a --failed file; false when it could not be written (said so).
bool RecordNotDone(const std::string& failedFile, const std::vector<Target>& targets);

// Replaces the --failed file with the targets of `reports` that did not succeed, in their order;
// false when it could not be written (said so).
bool RecordFailed(const std::string& failedFile, const std::vector<Report>& reports);

// Appends the report's line to the log (nothing without one) and marks the report logged or
// not; returns the reason in words when the line could not be written.
std::string AppendLogLine(const std::string& log, Report& report);

}  // namespace vexil::cli
