#include "cli/Fleet.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
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
#include "resources/StringTable.h"

namespace vexil::cli {

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kReportFd = 3;
constexpr int kNotStarted = -5;  // a target that a cancel kept from starting counts as cancelled
constexpr int kFailedOtherwise = -7;

struct Job {
    pid_t pid = -1;
    int errFd = -1;
    int reportFd = -1;
    std::string pendingLine;
    std::string report;
    Clock::time_point start;
    bool started = false;
    bool done = false;
    int result = 0;
    int message = 0;
    double seconds = 0;
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

bool Start(Job& job, std::vector<std::string> args) {
    int err[2];
    int report[2];
    if (::pipe2(err, O_CLOEXEC) != 0) {
        return false;
    }
    if (::pipe2(report, O_CLOEXEC) != 0) {
        ::close(err[0]);
        ::close(err[1]);
        return false;
    }
    std::vector<char*> argv;
    for (std::string& arg : args) {
        argv.push_back(arg.data());
    }
    argv.push_back(nullptr);
    job.pid = ::fork();
    if (job.pid == 0) {
        // Child: stderr and the report descriptor into the pipes, no standard input. dup2 leaves
        // the copies open across exec; every other descriptor of ours is close-on-exec.
        const int null = ::open("/dev/null", O_RDONLY);
        ::dup2(null, STDIN_FILENO);
        ::dup2(err[1], STDERR_FILENO);
        ::dup2(report[1], kReportFd);
        ::execv("/proc/self/exe", argv.data());
        ::_exit(127);
    }
    ::close(err[1]);
    ::close(report[1]);
    if (job.pid < 0) {
        ::close(err[0]);
        ::close(report[0]);
        return false;
    }
    job.errFd = err[0];
    job.reportFd = report[0];
    job.start = Clock::now();
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

void Finish(Job& job) {
    int status = 0;
    while (::waitpid(job.pid, &status, 0) < 0 && errno == EINTR) {
    }
    job.seconds = std::chrono::duration<double>(Clock::now() - job.start).count();
    job.done = true;
    int result = 0;
    int message = 0;
    if (std::sscanf(job.report.c_str(), "%d %d", &result, &message) == 2) {
        job.result = result;
        job.message = message;
    } else if (WIFSIGNALED(status) && (WTERMSIG(status) == SIGINT || WTERMSIG(status) == SIGTERM)) {
        job.result = kNotStarted;  // ended before it could see the cancel
    } else {
        job.result = kFailedOtherwise;
    }
}

std::string FirstLine(int stringId) {
    const std::string_view text = LoadString(stringId);
    return std::string(text.substr(0, text.find_first_of("\r\n")));
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
    bool yes = options.yes;
    if (!yes && ::isatty(STDIN_FILENO) == 1) {
        // One question for the fleet: the downloads run side by side and cannot share the
        // terminal. Without a terminal each child shows its confirmation and changes nothing.
        if (!AskOnce(targets)) {
            return 6;
        }
        yes = true;
    }
    std::vector<Job> jobs(targets.size());
    std::size_t next = 0;
    int running = 0;
    bool stopping = false;
    while (next < targets.size() || running > 0) {
        while (!stopping && next < targets.size() && running < options.jobs) {
            Job& job = jobs[next];
            if (Start(job, ChildArguments(options, targets[next], yes))) {
                ++running;
            } else {
                job.done = true;
                job.result = kFailedOtherwise;
                std::fprintf(stderr, "vexil-download: cannot start the download to %s\n",
                             targets[next].Label().c_str());
            }
            ++next;
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
                job.report.append(buffer, got > 0 ? got : 0);
                if (ended) {
                    CloseFd(job.reportFd);
                }
            }
            if (job.errFd < 0 && job.reportFd < 0 && !job.done) {
                Finish(job);
                --running;
            }
        }
    }

    std::size_t width = 6;
    for (const Target& target : targets) {
        width = std::max(width, target.Label().size());
    }
    std::printf("%-*s  %6s  %7s  %7s\n", static_cast<int>(width), "target", "result", "message",
                "seconds");
    int status = 0;
    int succeeded = 0;
    for (std::size_t i = 0; i < targets.size(); ++i) {
        const Job& job = jobs[i];
        const int result = job.started || job.done ? job.result : kNotStarted;
        if (!job.started) {
            std::printf("%-*s  %6s  %7s  %7s  not started\n", static_cast<int>(width),
                        targets[i].Label().c_str(), "-", "-", "-");
        } else {
            std::printf("%-*s  %6d  %7d  %7.1f  %s\n", static_cast<int>(width),
                        targets[i].Label().c_str(), result, job.message, job.seconds,
                        job.message != 0 ? FirstLine(job.message).c_str() : "");
        }
        if (result == 0) {
            ++succeeded;
        } else if (status == 0) {
            status = ExitStatus(result);
        }
    }
    std::printf("%d of %zu downloads succeeded\n", succeeded, targets.size());
    std::fflush(stdout);
    return status;
}

}  // namespace vexil::cli
