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
#include <cstring>
#include <map>
#include <thread>

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

// In a child just forked: asks for `signal` when the thread that forked it ends, however it
// ends. False when that happened already, before the request took effect.
bool EndsWithParent(int signal, pid_t parent) {
    ::prctl(PR_SET_PDEATHSIG, signal);
    return ::getppid() == parent;
}

// In a child just forked: `from` as descriptor `to`, kept open across exec (dup2 onto itself
// would keep close-on-exec).
void Place(int from, int to) {
    if (from == to) {
        ::fcntl(to, F_SETFD, 0);
    } else {
        ::dup2(from, to);
    }
}

std::vector<char*> Argv(std::vector<std::string>& all) {
    std::vector<char*> argv;
    for (std::string& arg : all) {
        argv.push_back(arg.data());
    }
    argv.push_back(nullptr);
    return argv;
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

Started Children::Start(std::size_t id, const std::vector<std::string>& args, Reason& reason) {
    std::vector<std::string> all = {"vexil-download"};
    all.insert(all.end(), args.begin(), args.end());
    all.insert(all.end(), {kReportOption, std::to_string(kReportFd)});
    std::vector<char*> argv = Argv(all);
    int err[2];
    int report[2];
    if (::pipe2(err, O_CLOEXEC) != 0) {
        reason = Reason::System(errno);
        return OutOfRoom(errno) ? Started::kNoRoom : Started::kFailed;
    }
    if (::pipe2(report, O_CLOEXEC) != 0) {
        const int error = errno;
        ::close(err[0]);
        ::close(err[1]);
        reason = Reason::System(error);
        return OutOfRoom(error) ? Started::kNoRoom : Started::kFailed;
    }
    const pid_t parent = ::getpid();
    const pid_t pid = ::fork();
    if (pid == 0) {
        // A download must not go on unsupervised: when the fleet ends, even killed, the child
        // gets SIGTERM, which cancels its download and still writes its log line.
        if (!EndsWithParent(SIGTERM, parent)) {
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
        reason = Reason::System(error);
        return OutOfRoom(error) ? Started::kNoRoom : Started::kFailed;
    }
    state_->running[id] = {pid, err[0], report[0]};
    return Started::kYes;
}

Children::Woken Children::Wait(std::vector<Output>& outputs, int timeoutMs) {
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
    const int ready = ::poll(fds.data(), fds.size(), timeoutMs < 0 ? -1 : timeoutMs);
    if (ready < 0) {
        // A signal's byte is in the pipe for the next wait.
        return errno == EINTR ? Woken::kOutput : Woken::kBroken;
    }
    if (ready == 0) {
        return Woken::kTimeout;
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
                Reason::Numbered(ReasonKind::kEndedBySignal, signal), true};
    }
    return {false, Reason::Numbered(ReasonKind::kEndedWithStatus, WEXITSTATUS(status)), false};
}

void Children::CancelAll() {
    for (const auto& [id, child] : state_->running) {
        ::kill(child.pid, SIGTERM);
    }
}

bool Program::HandsDownDescriptors() {
    return true;
}

bool Program::LimitsDescriptors() {
    return true;
}

std::string Program::Start(const Launch& launch) {
    constexpr int kReadyFd = 3;
    std::vector<std::string> all = {launch.program};
    if (!launch.readyOption.empty()) {
        all.insert(all.end(), {launch.readyOption, std::to_string(kReadyFd)});
    }
    all.insert(all.end(), launch.args.begin(), launch.args.end());
    // Everything the child needs is made before the fork: in the child of a process with
    // several threads only plain system calls are safe.
    std::vector<char*> argv = Argv(all);
    const int log =
        ::open(launch.errorFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOCTTY | O_CLOEXEC, 0644);
    if (log < 0) {
        return "no file for its errors: " + std::string(std::strerror(errno));
    }
    int ready[2] = {-1, -1};
    if (!launch.readyOption.empty() && ::pipe2(ready, O_CLOEXEC) != 0) {
        const int error = errno;
        ::close(log);
        return "no pipe for it: " + std::string(std::strerror(error));
    }
    const pid_t parent = ::getpid();
    const pid_t pid = ::fork();
    if (pid == 0) {
        if (!EndsWithParent(SIGKILL, parent)) {
            ::_exit(127);
        }
        if (launch.descriptorLimit > 0) {
            const rlimit limit{static_cast<rlim_t>(launch.descriptorLimit),
                               static_cast<rlim_t>(launch.descriptorLimit)};
            ::setrlimit(RLIMIT_NOFILE, &limit);
        }
        Place(log, STDERR_FILENO);
        const int null = ::open("/dev/null", O_RDWR);
        Place(null, STDOUT_FILENO);
        Place(null, STDIN_FILENO);
        if (ready[1] >= 0) {
            Place(ready[1], kReadyFd);
        }
        // Nothing else of this process stays open in it, close-on-exec or not.
        for (int fd = ready[1] >= 0 ? kReadyFd + 1 : kReadyFd; fd < 1024; ++fd) {
            ::close(fd);
        }
        ::execv(launch.program.c_str(), argv.data());
        ::_exit(127);
    }
    const int error = errno;
    ::close(log);
    if (ready[1] >= 0) {
        ::close(ready[1]);
    }
    if (pid < 0) {
        if (ready[0] >= 0) {
            ::close(ready[0]);
        }
        return "no process for it: " + std::string(std::strerror(error));
    }
    handle_ = pid;
    ready_ = ready[0];
    return {};
}

std::string Program::ReadReady(int timeoutMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    std::string said;
    while (ready_ >= 0) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        pollfd wait{ready_, POLLIN, 0};
        const int polled = ::poll(&wait, 1, static_cast<int>(std::max<long long>(0, left.count())));
        if (polled < 0 && errno == EINTR) {
            continue;
        }
        if (polled <= 0) {
            break;  // the deadline
        }
        char chunk[16];
        const ssize_t got = ::read(ready_, chunk, sizeof chunk);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            break;  // closed: said ready, or died
        }
        said.append(chunk, static_cast<std::size_t>(got));
    }
    CloseFd(ready_);
    return said;
}

void Program::Terminate() {
    if (Running()) {
        ::kill(static_cast<pid_t>(handle_), SIGTERM);
    }
}

void Program::Kill() {
    if (Running()) {
        const auto pid = static_cast<pid_t>(handle_);
        ::kill(pid, SIGKILL);
        while (::waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
        }
        handle_ = 0;
    }
}

int Program::WaitForExit(int timeoutMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (Running()) {
        int status = 0;
        const auto pid = static_cast<pid_t>(handle_);
        if (::waitpid(pid, &status, WNOHANG) == pid) {
            handle_ = 0;
            return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        }
        if (std::chrono::steady_clock::now() > deadline) {
            return -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return -1;
}

Program::~Program() {
    Kill();
    CloseFd(ready_);
}

void WatchFleet(int) {
    // Nothing to do here: the child asked at its start for SIGTERM when the fleet ends.
}

void SendReport(int channel, const std::string& text) {
    Reason lost;  // a fleet that has gone reads no report; it records the child itself
    SayOnDescriptor(channel, text, lost);
}

}  // namespace vexil::process
