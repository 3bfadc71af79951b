#include "cli/Fleet.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>

#include "cli/ConsolePort.h"
#include "cli/Download.h"
#include "cli/Report.h"
#include "platform/Console.h"
#include "platform/Process.h"
#include "platform/RecordFile.h"
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

void Finish(Job& job, const process::Exit& exit, const Options& options) {
    job.done = true;
    const double seconds = std::chrono::duration<double>(Clock::now() - job.start).count();
    const std::string line = job.reportText.substr(0, job.reportText.find('\n'));
    if (FromJson(line, job.report)) {
        job.report.logFailed = !options.log.empty() && !job.report.logged;
        return;
    }
    // No report: the child's process ended before it could give one (killed, or crashed). Its
    // print server may have been erased, so the fleet records it in the child's place.
    Report& report = job.report;
    report.seconds = seconds;
    report.start = job.startTime;
    report.end = UtcNow();
    // Ended by a cancel before it could see it: nothing had been sent yet.
    report.result = exit.cancelled ? kNotStarted : kFailedOtherwise;
    report.note = "its process " + exit.how + (exit.killed ? "" : " and no report");
    if (!exit.cancelled) {
        report.note += "; the print server may wait in download mode";
    }
    if (!options.log.empty()) {
        const std::string reason =
            WriteRecord(options.log, LogLine(report) + "\n", RecordMode::kAppend);
        report.logged = reason.empty();
        report.logFailed = !report.logged;
        if (!reason.empty()) {
            std::fprintf(stderr, "vexil-download: writing the log %s failed: %s\n",
                         options.log.c_str(), reason.c_str());
        }
    }
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
    while (next < targets.size() || running > 0) {
        while (!stopping && !waitingForRoom && next < targets.size() && running < options.jobs) {
            Job& job = jobs[next];
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
                job.done = true;
                job.started = true;
                job.report.result = kFailedOtherwise;
                std::fprintf(stderr, "vexil-download: cannot start the download to %s: %s\n",
                             targets[next].Label().c_str(), reason.c_str());
                ++next;
            }
        }
        if (stopping && running == 0) {
            break;
        }
        std::vector<process::Output> outputs;
        const auto woken = children.Wait(outputs);
        if (woken == process::Children::Woken::kBroken) {
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
                if (options.json) {
                    std::printf("%s\n", ToJson(job.report).c_str());
                    std::fflush(stdout);
                }
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
            if (options.json) {
                std::printf("%s\n", ToJson(report).c_str());
            }
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
