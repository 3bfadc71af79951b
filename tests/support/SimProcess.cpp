#include "tests/support/SimProcess.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <thread>

#ifndef VEXIL_SIM_PATH
#define VEXIL_SIM_PATH "vexil-printserver-sim"
#endif

namespace vexil::test {

SimProcess::SimProcess(const std::vector<std::string>& args) {
    Start(args, 0);
}

SimProcess::SimProcess(const std::vector<std::string>& args, OnFreePorts how) {
    for (int attempt = 0; attempt < 5; ++attempt) {
        ports_ = FreeSimPorts();
        std::vector<std::string> all = {"--vantrel-port",    std::to_string(ports_.vantrel),
                                        "--bramble-port",    std::to_string(ports_.bramble),
                                        "--download-port",   std::to_string(ports_.download),
                                        "--ipx-tunnel-port", std::to_string(ports_.tunnel)};
        all.insert(all.end(), args.begin(), args.end());
        Start(all, how.descriptorLimit);
        if (Running() || Log().find("cannot listen") == std::string::npos) {
            return;
        }
        ::unlink(logPath_.c_str());  // a port was taken in between: choose again
    }
}

void SimProcess::Start(const std::vector<std::string>& args, int descriptorLimit) {
    static int counter = 0;
    logPath_ =
        "/tmp/vexil-sim-" + std::to_string(::getpid()) + "-" + std::to_string(counter++) + ".log";
    const char* configured = std::getenv("VEXIL_SIM");
    const std::string binary = configured ? configured : VEXIL_SIM_PATH;
    std::vector<std::string> argv = {binary};
    argv.insert(argv.end(), args.begin(), args.end());

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
        // Leave no descriptor of the test process open in the simulator.
        for (int fd = 3; fd < 1024; ++fd) {
            ::close(fd);
        }
        ::execv(binary.c_str(), raw.data());
        ::_exit(127);
    }
    // Ready once it says where it listens.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (std::chrono::steady_clock::now() < deadline) {
        if (Log().find("listening on") != std::string::npos) {
            return;
        }
        int status = 0;
        if (::waitpid(pid_, &status, WNOHANG) == pid_) {
            pid_ = -1;
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
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
