#include "cli/Fleet.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <limits>
#include <memory>
#include <optional>
#include <string>

#include "cli/ConsolePort.h"
#include "cli/Download.h"
#include "cli/Outcomes.h"
#include "cli/Records.h"
#include "cli/Report.h"
#include "cli/StatusLine.h"
#include "platform/Console.h"
#include "platform/Process.h"
#include "platform/RecordFile.h"
#include "platform/RegularFile.h"
#include "platform/WidePath.h"
#include "resources/Reasons.h"
#include "resources/StringTable.h"
#include "resources/Text.h"

namespace vexil::cli {

namespace {

using Clock = std::chrono::steady_clock;

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
    // Each child checks the sums again, of the copy it reads and sends: a file replaced after
    // the fleet's own check fails that child instead of going out unchecked.
    if (!options.checksums.empty()) {
        args.insert(args.end(), {"--checksums", options.checksums});
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
    FileRefusal refusal;
    const std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(
        OpenFile(log, FileUse::kRead, refusal), &std::fclose);
    if (file == nullptr) {
        return std::nullopt;
    }
    // Stepped forward from the start, as far as a long reaches at a time (32 bits on Windows).
    for (std::uintmax_t left = from <= LogSize(log) ? from : 0; left > 0;) {
        const auto step =
            static_cast<long>(std::min<std::uintmax_t>(left, std::numeric_limits<long>::max()));
        if (std::fseek(file.get(), step, SEEK_CUR) != 0) {
            return std::nullopt;
        }
        left -= static_cast<std::uintmax_t>(step);
    }
    std::string text;
    char buffer[4096];
    for (std::size_t got; (got = std::fread(buffer, 1, sizeof buffer, file.get())) > 0;) {
        text.append(buffer, got);
    }
    std::string field(1, ' ');
    field += LogTarget(target);
    field += ' ';
    std::optional<std::string> found;
    // Whole lines only: one without its line feed is still being written, or was cut short.
    for (std::size_t at = 0, end; (end = text.find('\n', at)) != std::string::npos; at = end + 1) {
        const std::string line = text.substr(at, end - at);
        if (line.find(field) != std::string::npos) {
            found = line;
        }
    }
    return found;
}

// Writes the line of a target that the fleet records in its child's place: one whose process
// could not be started or was lost before it could report, or that a cancel kept from starting.
void LogInPlace(Report& report, const Options& options) {
    if (const std::string reason = AppendLogLine(options.log, report); !reason.empty()) {
        std::fprintf(stderr, "vexil-download: %s\n",
                     Tr("cli.files.log-failed", {options.log, reason}).c_str());
    }
}

void PrintJson(const Report& report, const Options& options) {
    if (options.json) {
        std::printf("%s\n", ToJson(report).c_str());
        std::fflush(stdout);
    }
}

void FinishChild(Job& job, const process::Exit& exit, const Options& options) {
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
    report.SetNote("cli.note.lost", {exit.how});
    if (const std::optional<std::string> logged =
            options.log.empty() ? std::nullopt
                                : ChildsLogLine(options.log, job.logSizeAtStart, report.target)) {
        // It ended after its download had ended and was logged: what its line says is what
        // happened, and the line is not written twice.
        if (!FromLogLine(*logged, report)) {
            report.run.result = RowOf(Verdict::kFailed).result;
        }
        report.logged = true;
        report.AddNote("cli.note.lost.after-logged");
        return;
    }
    // Its print server may have been erased, so the fleet records it in the child's place.
    // Ended by a cancel before it could see it: nothing had been sent yet.
    const Verdict verdict = exit.cancelled ? Verdict::kNotStarted : Verdict::kFailed;
    report.run.result = RowOf(verdict).result;
    if (!exit.killed) {
        report.AddNote("cli.note.lost.no-report");
    }
    if (!exit.cancelled) {
        report.AddNote("cli.note.lost.may-wait");
    }
    LogInPlace(report, options);
}

bool AskOnce(const std::vector<Target>& targets) {
    std::fprintf(stderr, "%s\n", Tr("cli.fleet.targets", {std::to_string(targets.size())}).c_str());
    for (const Target& target : targets) {
        std::fprintf(stderr, "  %s\n", target.Label().c_str());
    }
    std::fputs(std::string(Tr("cli.fleet.ask")).c_str(), stderr);
    std::fflush(stderr);
    return AskYesNo() == Answer::Yes;
}

// The fleet's run, step by step: every target started in the file's order as room allows, the
// outputs of the running ones taken as they come, each one finished when its streams end, and
// what is left when the fleet ends reported in the children's place. A cancel, or as many
// failures as --max-failures allows, starts no more; the running ones go on to their end.
class FleetRun {
  public:
    FleetRun(const Options& options, const std::vector<Target>& targets, bool yes);
    // Starts and follows the downloads until none runs and none is left to start.
    void RunAll();
    // The targets that never started, each on record as such.
    void ReportTheRest();
    // The --failed file, the summary, and the exit status.
    int Summarize();

  private:
    void StartWhatCanStart();
    void StartNext();
    // Counts a target that ended without success, and stops the fleet at its limit.
    void Ended(const Job& job);
    void GiveUp(Job& job, const Reason& reason);
    void TakeOutput(const process::Output& output);
    void CancelTheRunning();
    // The status line, on a terminal: taken off before anything else is written, drawn again
    // when due (at most every StatusLine::kRedrawMs), from the loop or at the end of its wait.
    void HideStatus();
    void ShowStatus();

    const Options& options_;
    const std::vector<Target>& targets_;
    const bool yes_;
    process::Children children_;
    std::vector<Job> jobs_;
    std::size_t next_ = 0;
    int failures_ = 0;
    bool stopping_ = false;           // cancelled: the running ones are cancelled too
    bool stoppedByFailures_ = false;  // at --max-failures before any cancel: they go on
    bool waitingForRoom_ = false;
    FleetCounts counts_;  // the targets done, running and waiting
    std::int64_t start_ = 0;
    std::optional<StatusLine> status_;
};

FleetRun::FleetRun(const Options& options, const std::vector<Target>& targets, bool yes)
    : options_(options), targets_(targets), yes_(yes), jobs_(targets.size()) {
    for (std::size_t i = 0; i < targets.size(); ++i) {
        jobs_[i].report.target = targets[i];
        jobs_[i].report.model = options.modelIndex;
        jobs_[i].report.query = options.query;
    }
    counts_.total = targets.size();
    if (!options.noProgress && console::IsTerminal(stderr)) {
        status_.emplace(stderr, &EventPump::SteadyMilliseconds);
    }
}

void FleetRun::HideStatus() {
    if (status_) {
        status_->Hide();
    }
}

void FleetRun::ShowStatus() {
    if (status_ && status_->Due()) {
        // After a cancel the running downloads end at their next step, an erase's after up to
        // a minute: the line says why the fleet still runs.
        const std::string counts = FleetStatus(counts_, EventPump::SteadyMilliseconds() - start_);
        status_->Draw(stopping_ ? Tr("cli.status.cancelling", {counts}) : counts);
    }
}

void FleetRun::RunAll() {
    start_ = EventPump::SteadyMilliseconds();
    for (;;) {
        StartWhatCanStart();
        // Every target has been started or given up, or a cancel or the failures' limit starts
        // no more: the fleet ends with its last download. A wait with nothing to wait for would
        // never end. The status line gives way to what follows, the summary.
        if (counts_.running == 0) {
            HideStatus();
            return;
        }
        ShowStatus();
        // The status line's clock moves while nothing else does: the wait ends when it is due.
        std::vector<process::Output> outputs;
        const auto woken = children_.Wait(outputs, status_ ? status_->MillisecondsUntilDue() : -1);
        if (woken == process::Children::Woken::kBroken) {
            HideStatus();
            CancelTheRunning();
            return;
        }
        if (woken == process::Children::Woken::kCancel && console::TakeCancel() && !stopping_) {
            // The cancel command for the fleet: the running downloads are cancelled, the rest
            // are not started.
            stopping_ = true;
            children_.CancelAll();
        }
        for (const process::Output& output : outputs) {
            TakeOutput(output);
        }
    }
}

void FleetRun::StartWhatCanStart() {
    while (!stopping_ && !stoppedByFailures_ && !waitingForRoom_ && next_ < targets_.size() &&
           counts_.running < static_cast<std::size_t>(options_.jobs)) {
        StartNext();
    }
}

void FleetRun::StartNext() {
    Job& job = jobs_[next_];
    job.logSizeAtStart = options_.log.empty() ? 0 : LogSize(options_.log);
    Reason reason;
    const process::Started started =
        children_.Start(next_, ChildArguments(options_, targets_[next_], yes_), reason);
    if (started == process::Started::kYes) {
        job.errorsOpen = job.reportOpen = job.started = true;
        job.start = Clock::now();
        job.startTime = UtcNow();
        ++counts_.running;
        ++next_;
    } else if (started == process::Started::kNoRoom && counts_.running > 0) {
        // No descriptor or process to spare: the target starts when a download ends.
        waitingForRoom_ = true;
    } else {
        // With nothing running no room comes back: the target is given up, on record.
        GiveUp(job, reason);
        ++next_;
    }
}

void FleetRun::Ended(const Job& job) {
    ++(job.report.Succeeded() ? counts_.succeeded : counts_.failed);
    // A failure is what --failed lists: every target that did not succeed.
    if (job.report.Succeeded() || options_.maxFailures == 0) {
        return;
    }
    if (++failures_ == options_.maxFailures && !stopping_) {
        stoppedByFailures_ = true;
        if (next_ < targets_.size()) {
            HideStatus();
            std::fprintf(stderr, "vexil-download: %s\n",
                         Tr("cli.fleet.max-failures", {std::to_string(failures_)}).c_str());
        }
    }
}

void FleetRun::GiveUp(Job& job, const Reason& reason) {
    job.done = job.started = true;
    job.report.run.result = RowOf(Verdict::kStartFailed).result;
    job.report.verdict = Verdict::kStartFailed;
    job.report.SetNote("cli.note.start-failed", {reason});
    HideStatus();
    std::fprintf(stderr, "vexil-download: %s\n",
                 Tr("cli.fleet.start-failed", {job.report.target.Label(), Words(reason)}).c_str());
    LogInPlace(job.report, options_);
    PrintJson(job.report, options_);
    Ended(job);
}

void FleetRun::TakeOutput(const process::Output& output) {
    Job& job = jobs_[output.child];
    // Whatever is written now goes above the status line: a child's whole line, or what the end
    // of a child brings (a line in its place, its JSON object when standard output is the
    // terminal too).
    if (output.ended || output.data.find('\n') != std::string::npos) {
        HideStatus();
    }
    if (output.stream == process::Stream::kErrors) {
        PassLines(job, targets_[output.child].Label(), output.data.data(), output.data.size(),
                  output.ended);
        job.errorsOpen = job.errorsOpen && !output.ended;
    } else {
        job.reportText += output.data;
        job.reportOpen = job.reportOpen && !output.ended;
    }
    if (!job.errorsOpen && !job.reportOpen && !job.done) {
        FinishChild(job, children_.Reap(output.child), options_);
        --counts_.running;
        waitingForRoom_ = false;
        PrintJson(job.report, options_);
        Ended(job);
    }
}

// The wait for the children failed: the downloads still running are cancelled (each logs its
// own line) and none of them may count as a success the fleet never saw.
void FleetRun::CancelTheRunning() {
    std::fprintf(stderr, "vexil-download: %s\n", std::string(Tr("cli.fleet.wait-failed")).c_str());
    children_.CancelAll();
    for (Job& job : jobs_) {
        if (job.started && !job.done) {
            job.done = true;
            job.report.run.result = RowOf(Verdict::kFailed).result;
            job.report.SetNote("cli.note.not-followed");
            PrintJson(job.report, options_);
        }
    }
}

void FleetRun::ReportTheRest() {
    for (Job& job : jobs_) {
        if (!job.started) {
            const Verdict verdict = stoppedByFailures_ ? Verdict::kStopped : Verdict::kNotStarted;
            job.report.run.result = RowOf(verdict).result;
            job.report.verdict = verdict;
            if (stoppedByFailures_) {
                job.report.SetNote("cli.note.stopped", {std::to_string(options_.maxFailures)});
            }
            LogInPlace(job.report, options_);
            PrintJson(job.report, options_);
        }
    }
}

int FleetRun::Summarize() {
    int status = 0;
    bool recorded = true;
    std::vector<Report> reports;
    for (const Job& job : jobs_) {
        const Report& report = job.report;
        reports.push_back(report);
        recorded = recorded && !report.logFailed;
        if (!report.Succeeded() && status == 0) {
            status = ExitStatus(report.run.result);
        }
    }
    recorded = RecordFailed(options_.failedFile, reports) && recorded;
    if (status == 0 && !recorded) {
        status = kExitNotRecorded;
    }
    if (options_.json) {
        std::printf("%s\n", SummaryJson(reports, status).c_str());
    } else {
        std::fputs(SummaryTable(reports).c_str(), stdout);
    }
    std::fflush(stdout);
    return status;
}

// The download file is checked once, before any download (or query with the file) starts: a
// file that is missing or damaged would fail every target alike. False when it failed (said so).
bool CheckFileOnce(const Options& options, const std::vector<Target>& targets, Transport& transport,
                   const ApprovedSums* approved) {
    ConsolePort port(true);
    for (const bool overIpx : {false, true}) {
        const bool used = std::any_of(targets.begin(), targets.end(),
                                      [overIpx](const Target& t) { return t.ipx == overIpx; });
        if (used &&
            CheckDownloadFile(transport, options.modelIndex, overIpx, port, approved) != 0) {
            std::fprintf(stderr, "vexil-download: %s\n",
                         std::string(Tr("cli.fleet.file-check-failed")).c_str());
            return false;
        }
    }
    return true;
}

}  // namespace

int RunFleet(const Options& options, const std::vector<Target>& targets, Transport& transport,
             const ApprovedSums* approved) {
    if (!RecordNotDone(options.failedFile, targets)) {
        return kExitNotRecorded;
    }
    const bool withFile = !options.query || !options.dir.empty();
    if (withFile && !CheckFileOnce(options, targets, transport, approved)) {
        return ExitStatus(Verdict::kNotStarted);
    }
    bool yes = options.yes || options.query;
    if (!yes && console::IsTerminal(stdin)) {
        // One question for the fleet: the downloads run side by side and cannot share the
        // terminal. Without a terminal each child shows its confirmation and changes nothing.
        if (!AskOnce(targets)) {
            return ExitStatus(Verdict::kNotStarted);
        }
        yes = true;
    }
    FleetRun fleet(options, targets, yes);
    fleet.RunAll();
    fleet.ReportTheRest();
    return fleet.Summarize();
}

}  // namespace vexil::cli
