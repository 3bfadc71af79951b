#include "cli/Fleet.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>

#include "cli/ConsolePort.h"
#include "cli/Download.h"
#include "cli/Report.h"
#include "platform/Console.h"
#include "platform/Process.h"
#include "platform/RecordFile.h"
#include "platform/WidePath.h"
#include "resources/StringTable.h"

namespace vexil::cli {

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kNotStarted = -5;  // a target that a cancel kept from starting counts as cancelled
constexpr int kFailedOtherwise = -7;
constexpr int kNotStartedByCheck = -6;

struct Job {
    bool errorsOpen = false;
    bool reportOpen = false;
    std::string pendingLine;
    std::string reportText;  // what the child writes on its report descriptor
    Clock::time_point start;
    std::string startTime;
    std::uintmax_t logSizeAtStart = 0;  // where the child's log line can begin
    bool started = false;
    bool done = false;
    Report report;
};

std::vector<std::string> ChildArguments(const Options& options, const Target& target, bool yes) {
    std::vector<std::string> args = {"--model", options.modelText, target.ipx ? "--ipx" : "--tcp",
                                     target.text};
    if (options.query) {
        args.push_back("--query");
    }
    if (options.skipCurrent) {
        args.push_back("--skip-current");
    }
    if (!options.dir.empty()) {
        args.insert(args.end(), {"--dir", options.dir});
    }
    if (!options.log.empty()) {
        args.insert(args.end(), {"--log", options.log});
    }
    if (yes) {
        args.push_back("--yes");
    }
    if (options.allowUnverified) {
        args.push_back("--allow-unverified");
    }
    return args;
}

// Passes a child's complete lines on, each behind its target.
void PassLines(Job& job, const std::string& label, const char* data, std::size_t size, bool flush) {
    job.pendingLine.append(data, size);
    std::size_t at = 0;
    for (std::size_t end; (end = job.pendingLine.find('\n', at)) != std::string::npos;
         at = end + 1) {
        std::fprintf(stderr, "[%s] %s\n", label.c_str(),
                     job.pendingLine.substr(at, end - at).c_str());
    }
    job.pendingLine.erase(0, at);
    if (flush && !job.pendingLine.empty()) {
        std::fprintf(stderr, "[%s] %s\n", label.c_str(), job.pendingLine.c_str());
        job.pendingLine.clear();
    }
    std::fflush(stderr);
}

std::uintmax_t LogSize(const std::string& log) {
    std::error_code error;
    const std::uintmax_t size = std::filesystem::file_size(WidePath(log), error);
    return error ? 0 : size;
}

// The line a child wrote to the log since `from` for its target, if it wrote one: a child may be
// killed after its line is on the disk but before its report reaches the fleet. A fleet names
// each print server once, and writes a line for one only after its child has ended, so a line of
// the target that follows the child's start is the child's own. A log cut shorter meanwhile is
// read from its beginning.
std::optional<std::string> ChildsLogLine(const std::string& log, std::uintmax_t from,
                                         const Target& target) {
    std::ifstream file(WidePath(log), std::ios::binary);
    if (from <= LogSize(log)) {
        file.seekg(static_cast<std::streamoff>(from));
    }
    std::string field(1, ' ');
    field += LogTarget(target);
    field += ' ';
    std::optional<std::string> found;
    // Whole lines only: one without its line feed is still being written, or was cut short.
    for (std::string line; std::getline(file, line) && !file.eof();) {
        if (line.find(field) != std::string::npos) {
            found = line;
        }
    }
    return found;
}

// Writes the line of a target that the fleet records in its child's place: one whose process
// could not be started or was lost before it could report, or that a cancel kept from starting.
void LogInPlace(Report& report, const Options& options) {
    if (options.log.empty()) {
        return;
    }
    const std::string reason =
        WriteRecord(options.log, LogLine(report) + "\n", RecordMode::kAppend);
    report.logged = reason.empty();
    report.logFailed = !report.logged;
    if (!reason.empty()) {
        std::fprintf(stderr, "vexil-download: writing the log %s failed: %s\n", options.log.c_str(),
                     reason.c_str());
    }
}

void PrintJson(const Report& report, const Options& options) {
    if (options.json) {
        std::printf("%s\n", ToJson(report).c_str());
        std::fflush(stdout);
    }
}

void Finish(Job& job, const process::Exit& exit, const Options& options) {
    job.done = true;
    const double seconds = std::chrono::duration<double>(Clock::now() - job.start).count();
    const std::string line = job.reportText.substr(0, job.reportText.find('\n'));
    if (FromJson(line, job.report)) {
        job.report.logFailed = !options.log.empty() && !job.report.logged;
        return;
    }
    // No report: the child's process ended before it could give one (killed, or crashed).
    Report& report = job.report;
    report.seconds = seconds;
    report.start = job.startTime;
    report.end = UtcNow();
    report.note = "its process " + exit.how;
    if (const std::optional<std::string> logged =
            options.log.empty() ? std::nullopt
                                : ChildsLogLine(options.log, job.logSizeAtStart, report.target)) {
        // It ended after its download had ended and was logged: what its line says is what
        // happened, and the line is not written twice.
        if (!FromLogLine(*logged, report)) {
            report.result = kFailedOtherwise;
        }
        report.logged = true;
        report.note += " after it had logged its result";
        return;
    }
    // Its print server may have been erased, so the fleet records it in the child's place.
    // Ended by a cancel before it could see it: nothing had been sent yet.
    report.result = exit.cancelled ? kNotStarted : kFailedOtherwise;
    report.note += exit.killed ? "" : " and no report";
    if (!exit.cancelled) {
        report.note += "; the print server may wait in download mode";
    }
    LogInPlace(report, options);
}

bool AskOnce(const std::vector<Target>& targets) {
    std::fprintf(stderr, "%zu targets:\n", targets.size());
    for (const Target& target : targets) {
        std::fprintf(stderr, "  %s\n", target.Label().c_str());
    }
    std::fprintf(stderr, "Download to every one of them without asking again? (y/N) ");
    std::fflush(stderr);
    return AskYesNo() == Answer::Yes;
}

}  // namespace

int RunFleet(const Options& options, const std::vector<Target>& targets) {
    if (!options.failedFile.empty()) {
        // Until the fleet has ended, every target counts as not done: a fleet that is killed
        // leaves a file that runs them all again, never an empty one that reads as success.
        std::string all;
        for (const Target& target : targets) {
            all += target.Label() + "\n";
        }
        if (const std::string reason = WriteRecord(options.failedFile, all, RecordMode::kReplace);
            !reason.empty()) {
            std::fprintf(stderr, "vexil-download: writing %s failed: %s\n",
                         options.failedFile.c_str(), reason.c_str());
            return kExitNotRecorded;
        }
    }
    if (!options.query || !options.dir.empty()) {
        // The download file is checked once, before any download (or query with the file)
        // starts: a file that is missing or damaged would fail every target alike.
        const bool tcp = std::any_of(targets.begin(), targets.end(),
                                     [](const Target& target) { return !target.ipx; });
        const bool ipx = std::any_of(targets.begin(), targets.end(),
                                     [](const Target& target) { return target.ipx; });
        ConsolePort port(true);
        for (const bool overIpx : {false, true}) {
            if ((overIpx ? ipx : tcp) &&
                CheckDownloadFile(options.modelIndex, overIpx, port) != 0) {
                std::fprintf(stderr,
                             "vexil-download: the download file check failed: nothing was sent "
                             "to any print server\n");
                return ExitStatus(kNotStartedByCheck);
            }
        }
    }
    bool yes = options.yes || options.query;
    if (!yes && console::IsTerminal(stdin)) {
        // One question for the fleet: the downloads run side by side and cannot share the
        // terminal. Without a terminal each child shows its confirmation and changes nothing.
        if (!AskOnce(targets)) {
            return 6;
        }
        yes = true;
    }
    process::Children children;
    std::vector<Job> jobs(targets.size());
    for (std::size_t i = 0; i < targets.size(); ++i) {
        jobs[i].report.target = targets[i];
        jobs[i].report.model = options.modelIndex;
        jobs[i].report.query = options.query;
    }
    std::size_t next = 0;
    int running = 0;
    bool stopping = false;
    bool waitingForRoom = false;
    for (;;) {
        while (!stopping && !waitingForRoom && next < targets.size() && running < options.jobs) {
            Job& job = jobs[next];
            job.logSizeAtStart = options.log.empty() ? 0 : LogSize(options.log);
            std::string reason;
            const process::Started started =
                children.Start(next, ChildArguments(options, targets[next], yes), reason);
            if (started == process::Started::kYes) {
                job.errorsOpen = job.reportOpen = job.started = true;
                job.start = Clock::now();
                job.startTime = UtcNow();
                ++running;
                ++next;
            } else if (started == process::Started::kNoRoom && running > 0) {
                // No descriptor or process to spare: the target starts when a download ends.
                waitingForRoom = true;
            } else {
                // With nothing running no room comes back: the target is given up, on record.
                job.done = job.started = true;
                job.report.result = kFailedOtherwise;
                job.report.startFailed = true;
                job.report.note = "its process could not be started: " + reason;
                std::fprintf(stderr, "vexil-download: cannot start the download to %s: %s\n",
                             targets[next].Label().c_str(), reason.c_str());
                LogInPlace(job.report, options);
                PrintJson(job.report, options);
                ++next;
            }
        }
        // Every target has been started or given up, or a cancel starts no more: the fleet
        // ends with its last download. A wait with nothing to wait for would never end.
        if (running == 0) {
            break;
        }
        std::vector<process::Output> outputs;
        const auto woken = children.Wait(outputs);
        if (woken == process::Children::Woken::kBroken) {
            // The downloads still running are cancelled (each logs its own line) and none of
            // them may count as a success the fleet never saw.
            std::fputs("vexil-download: waiting for the downloads failed: they are cancelled\n",
                       stderr);
            children.CancelAll();
            for (Job& job : jobs) {
                if (job.started && !job.done) {
                    job.done = true;
                    job.report.result = kFailedOtherwise;
                    job.report.note = "the fleet could not follow its process; it was cancelled";
                    PrintJson(job.report, options);
                }
            }
            break;
        }
        if (woken == process::Children::Woken::kCancel && console::TakeCancel() && !stopping) {
            // The cancel command for the fleet: the running downloads are cancelled, the rest
            // are not started.
            stopping = true;
            children.CancelAll();
        }
        for (const process::Output& output : outputs) {
            Job& job = jobs[output.child];
            if (output.stream == process::Stream::kErrors) {
                PassLines(job, targets[output.child].Label(), output.data.data(),
                          output.data.size(), output.ended);
                job.errorsOpen = job.errorsOpen && !output.ended;
            } else {
                job.reportText += output.data;
                job.reportOpen = job.reportOpen && !output.ended;
            }
            if (!job.errorsOpen && !job.reportOpen && !job.done) {
                Finish(job, children.Reap(output.child), options);
                --running;
                waitingForRoom = false;
                PrintJson(job.report, options);
            }
        }
    }

    int status = 0;
    int succeeded = 0;
    int current = 0;
    bool recorded = true;
    std::string failed;
    std::vector<Report> reports;
    for (Job& job : jobs) {
        Report& report = job.report;
        if (!job.started) {
            report.result = kNotStarted;
            report.notStarted = true;
            LogInPlace(report, options);
            PrintJson(report, options);
        }
        reports.push_back(report);
        recorded = recorded && !report.logFailed;
        if (report.Succeeded()) {
            ++succeeded;
            current += report.alreadyCurrent ? 1 : 0;
        } else {
            failed += report.target.Label() + "\n";
            if (status == 0) {
                status = ExitStatus(report.result);
            }
        }
    }
    if (!options.failedFile.empty()) {
        if (const std::string reason =
                WriteRecord(options.failedFile, failed, RecordMode::kReplace);
            !reason.empty()) {
            recorded = false;
            std::fprintf(stderr, "vexil-download: writing %s failed: %s\n",
                         options.failedFile.c_str(), reason.c_str());
        }
    }
    if (status == 0 && !recorded) {
        status = kExitNotRecorded;
    }
    if (options.json) {
        std::printf(
            "%s\n",
            SummaryJson(static_cast<int>(targets.size()), succeeded, current, status).c_str());
    } else {
        std::fputs(SummaryTable(reports).c_str(), stdout);
    }
    std::fflush(stdout);
    return status;
}

}  // namespace vexil::cli
