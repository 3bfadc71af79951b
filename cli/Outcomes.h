// How a target's run ends, as the log, the JSON and the summary name it: the one list of those
// names, with the result code that each carries and so its exit status, and the program's own
// statuses that no target's result gives.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "engine/DownloadResult.h"
#include "platform/ProgramMain.h"

namespace vexil::cli {

// A usage error ends as in every program of the project (platform/ProgramMain.h).
using vexil::kExitUsage;
// The download (or query) went as it did, but its log line or the list of failed targets could
// not be written: what happened is not on record.
inline constexpr int kExitNotRecorded = 74;

enum class Verdict {
    kSucceeded,
    kAlreadyCurrent,
    kFailed,
    kCancelled,
    kNotStarted,
    kStartFailed,
    kUnverified,
    kStopped,
};

struct VerdictRow {
    Verdict verdict;
    const char* name;  // in the log and the JSON, behind "query-" for a version query
    // The result code that the verdict carries; a failure carries the engine's own code, and
    // this one when the fleet records it in the place of a download it lost.
    DownloadResult result;
    // The catalog key of what the summary table says of it beside the messages; "" for nothing.
    const char* words;
};

inline constexpr VerdictRow kVerdicts[] = {
    // Downloaded; with --query: the print server answered.
    {Verdict::kSucceeded, "succeeded", result::kSuccess, ""},
    // --skip-current: the print server reported the file's version, and only the query was
    // sent to it. What was asked holds, so it counts as a success.
    {Verdict::kAlreadyCurrent, "already-current", result::kSuccess, "cli.verdict.already-current"},
    // Any other result of the engine.
    {Verdict::kFailed, "failed", result::kDownloadFailed, ""},
    // Cancelled once the print server was switched to download mode, where it may still wait.
    {Verdict::kCancelled, "cancelled", result::kCancelled, ""},
    // Nothing was sent but the version query: the download file failed its check, a cancel came
    // during the query or before the download began, or the download was not confirmed.
    {Verdict::kNotStarted, "not-started", result::kNotStarted, "cli.verdict.not-started"},
    // A fleet could not start the target's process (the note says why); nothing was sent.
    {Verdict::kStartFailed, "start-failed", result::kDownloadFailed, ""},
    // --yes did not confirm a print server that gave no valid version reply.
    {Verdict::kUnverified, "unverified", result::kNotStarted, "cli.verdict.unverified"},
    // --max-failures: the fleet had as many failures as it allows and started no more; nothing
    // was sent. It comes after every target started, so it never decides the fleet's status.
    {Verdict::kStopped, "stopped", result::kNotStarted, "cli.verdict.not-started"},
};

const VerdictRow& RowOf(Verdict verdict);

// The verdict's name as the log and the JSON write it, and the verdict that such a name names
// (none for another name).
std::string OutcomeName(Verdict verdict, bool query);
std::optional<Verdict> VerdictNamed(std::string_view name);

// The exit status of a result code: its magnitude.
int ExitStatus(int result);
inline int ExitStatus(Verdict verdict) {
    return ExitStatus(RowOf(verdict).result);
}

}  // namespace vexil::cli
