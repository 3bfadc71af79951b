#include "tests/support/SimProcess.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <thread>

#ifndef VEXIL_SIM_PATH
#define VEXIL_SIM_PATH "vexil-printserver-sim"
#endif

namespace vexil::test {

SimProcess::SimProcess(const std::vector<std::string>& args) {
    if (const std::string why = Start(args, 0); !why.empty()) {
        ADD_FAILURE() << why;
    }
}

SimProcess::SimProcess(const std::vector<std::string>& args, OnFreePorts how) {
    constexpr int kAttempts = 5;
    for (int attempt = 1; attempt <= kAttempts; ++attempt) {
        ports_ = FreeSimPorts();
        std::vector<std::string> all = {"--vantrel-port",    std::to_string(ports_.vantrel),
                                        "--bramble-port",    std::to_string(ports_.bramble),
                                        "--download-port",   std::to_string(ports_.download),
                                        "--ipx-tunnel-port", std::to_string(ports_.tunnel)};
        all.insert(all.end(), args.begin(), args.end());
        const std::string why = Start(all, how.descriptorLimit);
        if (why.empty()) {
            return;
        }
        // A port taken by another process in between: choose again.
        if (attempt == kAttempts || Log().find("cannot listen") == std::string::npos) {
            ADD_FAILURE() << why;
            return;
        }
        ::unlink(logPath_.c_str());
    }
}

std::string SimProcess::Start(const std::vector<std::string>& args, int descriptorLimit) {
    static int counter = 0;
    logPath_ =
        "/tmp/vexil-sim-" + std::to_string(::getpid()) + "-" + std::to_string(counter++) + ".log";
    const char* configured = std::getenv("VEXIL_SIM");
    const std::string binary = configured ? configured : VEXIL_SIM_PATH;
    // The simulator says "ready" on descriptor 3 once it listens, and closes it; the test's end
    // of the pipe sees end of file instead when it dies first.
    constexpr int kReadyFd = 3;
    std::vector<std::string> argv = {binary, "--ready-fd", std::to_string(kReadyFd)};
    argv.insert(argv.end(), args.begin(), args.end());
    int ready[2];
    if (::pipe2(ready, O_CLOEXEC) != 0) {
        return std::string("no pipe for the simulator: ") + std::strerror(errno);
    }

    // Everything the child needs is made before the fork: in the child of a process with
    // several threads only plain system calls are safe.
    std::vector<char*> raw;
    for (auto& arg : argv) {
        raw.push_back(arg.data());
    }
    raw.push_back(nullptr);
    const pid_t parent = ::getpid();
    pid_ = ::fork();
    if (pid_ == 0) {
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
        const int log = ::open(logPath_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
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
    if (pid_ < 0) {
        ::close(ready[0]);
        return std::string("the simulator was not started: ") + std::strerror(errno);
    }
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
    std::string how;
    if (pid_ > 0) {
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
        pid_ = -1;
        how = "it did not say it listens within 10 seconds and was stopped";
    } else {
        how = status >= 0 ? "it ended with exit status " + std::to_string(status)
                          : std::string("it was ended by a signal");
    }
    return "vexil-printserver-sim did not start: " + how + "; its log:\n" + Log();
}

SimProcess::~SimProcess() {
    Stop();
    ::unlink(logPath_.c_str());
}

void SimProcess::Stop() {
    if (pid_ > 0) {
        ::kill(pid_, SIGTERM);
        if (WaitForExit(5000) < 0 && pid_ > 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
            pid_ = -1;
        }
    }
}

int SimProcess::WaitForExit(int timeoutMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (pid_ > 0) {
        int status = 0;
        if (::waitpid(pid_, &status, WNOHANG) == pid_) {
            pid_ = -1;
            return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        }
        if (std::chrono::steady_clock::now() > deadline) {
            return -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return -1;
}

std::string SimProcess::Log() const {
    std::ifstream in(logPath_);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

}  // namespace vexil::test
