// What one target's download or version query came to, and its forms: the line of the log, the
// JSON object of --json (also what a fleet's child hands its parent), and the row of the
// summary table.
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "cli/Options.h"
#include "cli/Outcomes.h"
#include "engine/DownloadRequest.h"
#include "platform/Reason.h"

namespace vexil::cli {

// One target's run: the engine's outcome as it came (or as a child's report or log line tells
// it), and what the command line adds to it.
struct Report {
    Target target;
    int model = 0;
    bool query = false;  // a version query alone
    // The result, the versions and model code, whether it was current already, and the messages
    // shown (read back from a report or a log line: its first error message alone).
    DownloadOutcome run;
    // How it ended, where the command line decided that and not the run's result: --yes did not
    // confirm a print server without a valid version reply (kUnverified), or the fleet never
    // ran a process for it: a cancel kept it from starting (kNotStarted), its process could not
    // be started (kStartFailed; the note says why), or --max-failures stopped the fleet before
    // it (kStopped). Empty when the run's result decides.
    std::optional<Verdict> verdict;
    int lastMessage = 0;  // the message the run ended with, 0 when none was
    double seconds = 0;
    std::string start;  // UTC, ISO 8601
    std::string end;
    bool logged = false;     // its log line is on the disk
    bool logFailed = false;  // its log line could not be written
    // What the program itself has to say of it, such as a lost process: in English for the
    // JSON, whatever the language, and as the summary table shows it (empty: as the note).
    std::string note;
    std::string shownNote;

    // The note of `key` (a catalog key) with its `args`, or that text added to the note.
    void SetNote(std::string_view key, std::initializer_list<std::string_view> args = {});
    // The note of `key` with `reason` as its one argument, worded in each note's language.
    void SetNote(std::string_view key, const Reason& reason);
    void AddNote(std::string_view key);

    Verdict GetVerdict() const;
    // Whether the fleet never ran a process for it (nothing was sent to its print server).
    bool NotRun() const { return verdict.has_value() && *verdict != Verdict::kUnverified; }
    // A target the fleet never started has not succeeded, whatever result it carries.
    bool Succeeded() const { return run.result == result::kSuccess && !NotRun(); }
    // The first error message shown, 0 when none was.
    int FirstMessage() const { return run.FirstErrorMessage(); }
    // The version the print server has now, as far as is known, in the one form (1.10); empty
    // when unknown.
    std::string VersionAfter() const;
};

// Gives `report` the note of UnverifiableNote once its run is over, when no valid version reply
// verified the print server.
void NoteIfUnverified(Report& report);

// UTC now (or at `when`) in ISO 8601, as the log and the JSON write times.
std::string UtcNow();
std::string UtcAt(std::chrono::system_clock::time_point when);

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

// The summary table of a run, a row per report, and its closing line (without it for a scan,
// which counts what the table does not show).
std::string SummaryTable(const std::vector<Report>& reports, bool closingLine = true);

// The final JSON object of --json, for the reports of a run that ends with `exitStatus`.
std::string SummaryJson(const std::vector<Report>& reports, int exitStatus);

}  // namespace vexil::cli
