#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <map>

#include "platform/Console.h"
#include "platform/Process.h"
#include "platform/StandardStreams.h"

namespace vexil::process {

namespace {

// The descriptor on which a child writes its report.
constexpr int kReportFd = 3;

struct Child {
    pid_t pid = -1;
    int errFd = -1;
    int reportFd = -1;
};

void CloseFd(int& fd) {
    if (fd >= 0) {
        ::close(fd);
        fd = -1;
    }
}

// Whether a failed start lacked only room that a running download gives back when it ends.
bool OutOfRoom(int error) {
    return error == EMFILE || error == ENFILE || error == EAGAIN || error == ENOMEM;
}

}  // namespace

struct Children::State {
    std::map<std::size_t, Child> running;
};

int MaxReportChannel() {
    return 1023;
}

Children::Children() : state_(std::make_unique<State>()) {
    // Each child holds two pipes here and a process.
    TakeHardDescriptorLimit();
}

Children::~Children() {
    for (auto& [id, child] : state_->running) {
        CloseFd(child.errFd);
        CloseFd(child.reportFd);
    }
}

Started Children::Start(std::size_t id, const std::vector<std::string>& args, std::string& reason) {
    std::vector<std::string> all = {"vexil-download"};
    all.insert(all.end(), args.begin(), args.end());
    all.insert(all.end(), {kReportOption, std::to_string(kReportFd)});
    std::vector<char*> argv;
    for (std::string& arg : all) {
        argv.push_back(arg.data());
    }
    argv.push_back(nullptr);
    int err[2];
    int report[2];
    if (::pipe2(err, O_CLOEXEC) != 0) {
        reason = std::strerror(errno);
        return OutOfRoom(errno) ? Started::kNoRoom : Started::kFailed;
    }
    if (::pipe2(report, O_CLOEXEC) != 0) {
        const int error = errno;
        ::close(err[0]);
        ::close(err[1]);
        reason = std::strerror(error);
        return OutOfRoom(error) ? Started::kNoRoom : Started::kFailed;
    }
    const pid_t parent = ::getpid();
    const pid_t pid = ::fork();
    if (pid == 0) {
        // A download must not go on unsupervised: when the fleet ends, even killed, the child
        // gets SIGTERM, which cancels its download and still writes its log line. The parent
        // may have died before the request took effect.
        ::prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (::getppid() != parent) {
            ::_exit(128 + SIGTERM);
        }
        // Child: stderr and the report descriptor into the pipes, no standard input. dup2 leaves
        // the copies open across exec; every other descriptor of ours is close-on-exec.
        // Without a descriptor to spare for /dev/null the input is closed rather than left
        // the fleet's: the program opens /dev/null in its place once it runs.
        if (const int null = ::open("/dev/null", O_RDONLY); null >= 0) {
            ::dup2(null, STDIN_FILENO);
        } else {
            ::close(STDIN_FILENO);
        }
        ::dup2(err[1], STDERR_FILENO);
        ::dup2(report[1], kReportFd);
        ::execv("/proc/self/exe", argv.data());
        ::_exit(127);
    }
    const int error = errno;
    ::close(err[1]);
    ::close(report[1]);
    if (pid < 0) {
        ::close(err[0]);
        ::close(report[0]);
        reason = std::strerror(error);
        return OutOfRoom(error) ? Started::kNoRoom : Started::kFailed;
    }
    state_->running[id] = {pid, err[0], report[0]};
    return Started::kYes;
}

Children::Woken Children::Wait(std::vector<Output>& outputs) {
    std::vector<pollfd> fds;
    std::vector<std::pair<std::size_t, Stream>> owners;
    for (const auto& [id, child] : state_->running) {
        for (const auto& [fd, stream] : {std::pair{child.errFd, Stream::kErrors},
                                         std::pair{child.reportFd, Stream::kReport}}) {
            if (fd >= 0) {
                fds.push_back({fd, POLLIN, 0});
                owners.emplace_back(id, stream);
            }
        }
    }
    fds.push_back({static_cast<int>(console::CancelWaitable()), POLLIN, 0});
    if (::poll(fds.data(), fds.size(), -1) < 0) {
        // A signal's byte is in the pipe for the next wait.
        return errno == EINTR ? Woken::kOutput : Woken::kBroken;
    }
    for (std::size_t k = 0; k + 1 < fds.size(); ++k) {
        if (fds[k].revents == 0) {
            continue;
        }
        const auto [id, stream] = owners[k];
        char buffer[4096];
        const ssize_t got = ::read(fds[k].fd, buffer, sizeof buffer);
        const bool ended = got <= 0 && !(got < 0 && errno == EINTR);
        outputs.push_back({id, stream, std::string(buffer, got > 0 ? got : 0), ended});
        if (ended) {
            Child& child = state_->running[id];
            CloseFd(stream == Stream::kErrors ? child.errFd : child.reportFd);
        }
    }
    return fds.back().revents != 0 ? Woken::kCancel : Woken::kOutput;
}

Exit Children::Reap(std::size_t id) {
    Child child = state_->running[id];
    state_->running.erase(id);
    CloseFd(child.errFd);
    CloseFd(child.reportFd);
    int status = 0;
    while (::waitpid(child.pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (WIFSIGNALED(status)) {
        const int signal = WTERMSIG(status);
        return {signal == SIGINT || signal == SIGTERM || signal == SIGHUP,
                "was ended by signal " + std::to_string(signal), true};
    }
    return {false, "ended with status " + std::to_string(WEXITSTATUS(status)), false};
}

void Children::CancelAll() {
    for (const auto& [id, child] : state_->running) {
        ::kill(child.pid, SIGTERM);
    }
}

void WatchFleet(int) {
    // Nothing to do here: the child asked at its start for SIGTERM when the fleet ends.
}

void SendReport(int channel, const std::string& text) {
    std::string lost;  // a fleet that has gone reads no report; it records the child itself
    SayOnDescriptor(channel, text, lost);
}

}  // namespace vexil::process
