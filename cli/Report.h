// What one target's download or version query came to, and its forms: the line of the log, the
// JSON object of --json (also what a fleet's child hands its parent), and the row of the
// summary table.
#pragma once

#include <string>
#include <vector>

#include "cli/Options.h"

namespace vexil::cli {

// How a target's run ended, as the log, the JSON and the summary name it.
enum class Verdict {
    kSucceeded,       // downloaded, or with --query: answered
    kAlreadyCurrent,  // --skip-current: the print server had the file's version already
    kFailed,
    kCancelled,
    kNotStarted,   // nothing was sent: a cancel kept it from starting, or it was not confirmed
    kStartFailed,  // a fleet could not start its process (its descriptor or process limit)
    kUnverified,   // --yes met a print server whose model and version could not be read
};

struct Report {
    Target target;
    int model = 0;
    bool query = false;  // a version query alone
    int result = 0;
    bool alreadyCurrent = false;
    int firstMessage = 0;       // the first error message shown, 0 when none was
    int lastMessage = 0;        // the message the run ended with, 0 when none was
    std::string modelCode;      // what the print server reported
    std::string deviceVersion;  // before the download
    std::string fileVersion;
    double seconds = 0;
    std::string start;  // UTC, ISO 8601
    std::string end;
    bool notStarted = false;   // a cancel of the fleet kept it from starting
    bool startFailed = false;  // its process could not be started; the note says why
    bool unverified = false;   // not confirmed: no valid version reply, and --yes cannot judge
    bool logged = false;       // its log line is on the disk
    bool logFailed = false;    // its log line could not be written
    std::string note;          // what the program itself has to say of it, such as a lost process

    Verdict GetVerdict() const;
    bool Succeeded() const { return result == 0; }
    // The version the print server has now, as far as is known, as it reports versions (1.10);
    // empty when unknown.
    std::string VersionAfter() const;
};

const char* VerdictName(Verdict verdict);

// UTC now in ISO 8601, as the log and the JSON write times.
std::string UtcNow();

// The log line (without its line feed), and its field that names the target, by which a
// target's line is found again.
std::string LogLine(const Report& report);
std::string LogTarget(const Target& target);
// Reads back what LogLine wrote of a run (versions, result, messages, outcome); false for a line
// that is not one.
bool FromLogLine(const std::string& line, Report& report);

// One JSON object on one line (without its line feed); FromJson reads what ToJson wrote and
// returns false for anything else.
std::string ToJson(const Report& report);
bool FromJson(const std::string& text, Report& report);

// The summary table of a run, a row per report, and its closing line.
std::string SummaryTable(const std::vector<Report>& reports);

// The final JSON object of --json.
std::string SummaryJson(int targets, int succeeded, int alreadyCurrent, int exitStatus);

}  // namespace vexil::cli
