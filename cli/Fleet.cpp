#include "cli/Fleet.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>

#include "cli/ConsolePort.h"
#include "cli/Download.h"
#include "cli/Report.h"
#include "platform/RecordFile.h"
#include "resources/StringTable.h"

namespace vexil::cli {

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kReportFd = 3;
constexpr int kNotStarted = -5;  // a target that a cancel kept from starting counts as cancelled
constexpr int kFailedOtherwise = -7;
constexpr int kNotStartedByCheck = -6;

struct Job {
    pid_t pid = -1;
    int errFd = -1;
    int reportFd = -1;
    std::string pendingLine;
    std::string reportText;  // what the child writes on its report descriptor
    Clock::time_point start;
    std::string startTime;
    bool started = false;
    bool done = false;
    Report report;
};

void CloseFd(int& fd) {
    if (fd >= 0) {
        ::close(fd);
        fd = -1;
    }
}

std::vector<std::string> ChildArguments(const Options& options, const Target& target, bool yes) {
    std::vector<std::string> args = {"vexil-download", "--model", options.modelText,
                                     target.ipx ? "--ipx" : "--tcp", target.text};
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
    args.insert(args.end(), {"--report-fd", std::to_string(kReportFd)});
    return args;
}

// Whether a failed start lacked only room (descriptors or processes) that a running download
// gives back when it ends.
bool OutOfRoom(int error) {
    return error == EMFILE || error == ENFILE || error == EAGAIN || error == ENOMEM;
}

// Starts the download of one target in a child process; false with errno set when it could not.
bool Start(Job& job, std::vector<std::string> args) {
    int err[2];
    int report[2];
    if (::pipe2(err, O_CLOEXEC) != 0) {
        return false;
    }
    if (::pipe2(report, O_CLOEXEC) != 0) {
        const int error = errno;
        ::close(err[0]);
        ::close(err[1]);
        errno = error;
        return false;
    }
    std::vector<char*> argv;
    for (std::string& arg : args) {
        argv.push_back(arg.data());
    }
    argv.push_back(nullptr);
    const pid_t parent = ::getpid();
    job.pid = ::fork();
    if (job.pid == 0) {
        // A download must not go on unsupervised: when the fleet ends, even killed, the child
        // gets SIGTERM, which cancels its download and still writes its log line. The parent
        // may have died before the request took effect.
        ::prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (::getppid() != parent) {
            ::_exit(128 + SIGTERM);
        }
        // Child: stderr and the report descriptor into the pipes, no standard input. dup2 leaves
        // the copies open across exec; every other descriptor of ours is close-on-exec.
        const int null = ::open("/dev/null", O_RDONLY);
        ::dup2(null, STDIN_FILENO);
        ::dup2(err[1], STDERR_FILENO);
        ::dup2(report[1], kReportFd);
        ::execv("/proc/self/exe", argv.data());
        ::_exit(127);
    }
    const int error = errno;
    ::close(err[1]);
    ::close(report[1]);
    if (job.pid < 0) {
        ::close(err[0]);
        ::close(report[0]);
        errno = error;
        return false;
    }
    job.errFd = err[0];
    job.reportFd = report[0];
    job.start = Clock::now();
    job.startTime = UtcNow();
    job.started = true;
    return true;
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

void Finish(Job& job, const Options& options) {
    int status = 0;
    while (::waitpid(job.pid, &status, 0) < 0 && errno == EINTR) {
    }
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
    const bool cancelled =
        WIFSIGNALED(status) &&
        (WTERMSIG(status) == SIGINT || WTERMSIG(status) == SIGTERM || WTERMSIG(status) == SIGHUP);
    // Ended by a cancel before it could see it: nothing had been sent yet.
    report.result = cancelled ? kNotStarted : kFailedOtherwise;
    report.note = WIFSIGNALED(status)
                      ? "its process was ended by signal " + std::to_string(WTERMSIG(status))
                      : "its process ended with status " + std::to_string(WEXITSTATUS(status)) +
                            " and no report";
    if (!cancelled) {
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

// Each download of a fleet holds two pipes here and a process; a campus of them needs more
// descriptors than the usual soft limit of 1,024, and the hard limit is ours to take.
void RaiseDescriptorLimit() {
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
        limit.rlim_cur = limit.rlim_max;
        ::setrlimit(RLIMIT_NOFILE, &limit);
    }
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
    if (!options.query) {
        // The download file is checked once, before any download starts: a file that is
        // missing or damaged would fail every target alike.
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
    if (!yes && ::isatty(STDIN_FILENO) == 1) {
        // One question for the fleet: the downloads run side by side and cannot share the
        // terminal. Without a terminal each child shows its confirmation and changes nothing.
        if (!AskOnce(targets)) {
            return 6;
        }
        yes = true;
    }
    RaiseDescriptorLimit();
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
            if (Start(job, ChildArguments(options, targets[next], yes))) {
                ++running;
                ++next;
            } else if (OutOfRoom(errno) && running > 0) {
                // No descriptor or process to spare: the target starts when a download ends.
                waitingForRoom = true;
            } else {
                job.done = true;
                job.started = true;
                job.report.result = kFailedOtherwise;
                std::fprintf(stderr, "vexil-download: cannot start the download to %s: %s\n",
                             targets[next].Label().c_str(), std::strerror(errno));
                ++next;
            }
        }
        if (stopping && running == 0) {
            break;
        }
        std::vector<pollfd> fds;
        std::vector<std::size_t> owners;
        for (std::size_t i = 0; i < jobs.size(); ++i) {
            for (int fd : {jobs[i].errFd, jobs[i].reportFd}) {
                if (fd >= 0) {
                    fds.push_back({fd, POLLIN, 0});
                    owners.push_back(i);
                }
            }
        }
        fds.push_back({CancelSignalDescriptor(), POLLIN, 0});
        if (::poll(fds.data(), fds.size(), -1) < 0 && errno != EINTR) {
            break;
        }
        if (fds.back().revents != 0 && ConsumeCancelSignals() && !stopping) {
            // The cancel command for the fleet: the running downloads are cancelled, the rest
            // are not started.
            stopping = true;
            for (const Job& job : jobs) {
                if (job.started && !job.done) {
                    ::kill(job.pid, SIGTERM);
                }
            }
        }
        for (std::size_t k = 0; k + 1 < fds.size(); ++k) {
            if (fds[k].revents == 0) {
                continue;
            }
            Job& job = jobs[owners[k]];
            char buffer[4096];
            const ssize_t got = ::read(fds[k].fd, buffer, sizeof buffer);
            const bool ended = got <= 0 && !(got < 0 && errno == EINTR);
            if (fds[k].fd == job.errFd) {
                PassLines(job, targets[owners[k]].Label(), buffer, got > 0 ? got : 0, ended);
                if (ended) {
                    CloseFd(job.errFd);
                }
            } else {
                job.reportText.append(buffer, got > 0 ? got : 0);
                if (ended) {
                    CloseFd(job.reportFd);
                }
            }
            if (job.errFd < 0 && job.reportFd < 0 && !job.done) {
                Finish(job, options);
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
