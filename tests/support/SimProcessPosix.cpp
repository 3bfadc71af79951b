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
#include <thread>

#include "tests/support/SimProcess.h"

namespace vexil::test {

bool SimProcess::LimitsDescriptors() {
    return true;
}

std::string SimProcess::Launch(const std::string& binary, const std::vector<std::string>& args,
                               int descriptorLimit) {
    // The simulator says "ready" on descriptor 3 once it listens, and closes it; the test's end
    // of the pipe sees end of file instead when it dies first.
    constexpr int kReadyFd = 3;
    std::vector<std::string> argv = {binary, "--ready-fd", std::to_string(kReadyFd)};
    argv.insert(argv.end(), args.begin(), args.end());
    int ready[2];
    if (::pipe2(ready, O_CLOEXEC) != 0) {
        return std::string("no pipe for it: ") + std::strerror(errno);
    }

    // Everything the child needs is made before the fork: in the child of a process with
    // several threads only plain system calls are safe.
    std::vector<char*> raw;
    for (auto& arg : argv) {
        raw.push_back(arg.data());
    }
    raw.push_back(nullptr);
    const std::string logPath = logPath_.string();
    const pid_t parent = ::getpid();
    const pid_t pid = ::fork();
    if (pid == 0) {
        // Killed when the test's thread ends, however it ends; if that already happened
        // before this line, at once.
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (::getppid() != parent) {
            ::_exit(127);
        }
        if (descriptorLimit > 0) {
            const rlimit limit{static_cast<rlim_t>(descriptorLimit),
                               static_cast<rlim_t>(descriptorLimit)};
            ::setrlimit(RLIMIT_NOFILE, &limit);
        }
        const int log = ::open(logPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        ::dup2(log, STDERR_FILENO);
        const int null = ::open("/dev/null", O_RDWR);
        ::dup2(null, STDOUT_FILENO);
        ::dup2(null, STDIN_FILENO);
        // dup2 onto itself would keep close-on-exec.
        if (ready[1] == kReadyFd) {
            ::fcntl(kReadyFd, F_SETFD, 0);
        } else {
            ::dup2(ready[1], kReadyFd);
        }
        // Leave no other descriptor of the test process open in the simulator.
        for (int fd = kReadyFd + 1; fd < 1024; ++fd) {
            ::close(fd);
        }
        ::execv(binary.c_str(), raw.data());
        ::_exit(127);
    }
    ::close(ready[1]);
    if (pid < 0) {
        ::close(ready[0]);
        return std::string("no process for it: ") + std::strerror(errno);
    }
    process_ = pid;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    std::string said;
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        pollfd wait{ready[0], POLLIN, 0};
        const int polled = ::poll(&wait, 1, static_cast<int>(std::max<long long>(0, left.count())));
        if (polled < 0 && errno == EINTR) {
            continue;
        }
        if (polled <= 0) {
            break;  // the deadline
        }
        char chunk[16];
        const ssize_t got = ::read(ready[0], chunk, sizeof chunk);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            break;  // closed: said ready, or died
        }
        said.append(chunk, static_cast<std::size_t>(got));
    }
    ::close(ready[0]);
    if (said == "ready\n") {
        return {};
    }
    // Not ready: it died, or it hangs; either way it goes, and the test hears why.
    const int status = WaitForExit(1000);
    if (Running()) {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, nullptr, 0);
        process_ = 0;
        return "it did not say it listens within 10 seconds and was stopped";
    }
    return status >= 0 ? "it ended with exit status " + std::to_string(status)
                       : std::string("it was ended by a signal");
}

void SimProcess::Stop() {
    if (Running()) {
        const auto pid = static_cast<pid_t>(process_);
        ::kill(pid, SIGTERM);
        if (WaitForExit(5000) < 0 && Running()) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, nullptr, 0);
            process_ = 0;
        }
    }
}

int SimProcess::WaitForExit(int timeoutMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (Running()) {
        int status = 0;
        const auto pid = static_cast<pid_t>(process_);
        if (::waitpid(pid, &status, WNOHANG) == pid) {
            process_ = 0;
            return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        }
        if (std::chrono::steady_clock::now() > deadline) {
            return -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return -1;
}

}  // namespace vexil::test
