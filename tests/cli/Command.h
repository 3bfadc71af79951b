// Runs vexil-download as a child process for a test: its output in two files, standard input
// from /dev/null (no terminal) or closed, limits of its own, and every wait with a deadline.
#pragma once

#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/Deadline.h"

extern char** environ;

namespace vexil::test {

inline std::string Slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// How often `part` occurs in `text`.
inline std::size_t Count(const std::string& text, const std::string& part) {
    std::size_t count = 0;
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
        ++count;
    }
    return count;
}

// The environment of a command in each language, ahead of whatever the test's runner has: the
// program's texts are English under the first (as a command runs unless told otherwise, so that a
// test reads the same under any locale of its runner), Japanese under the others.
inline const std::vector<std::string> kEnglish = {"LANGUAGE=en"};
inline const std::vector<std::string> kJapaneseByLang = {
    "LANGUAGE=", "LC_ALL=", "LC_MESSAGES=", "LANG=ja_JP.UTF-8"};
inline const std::vector<std::string> kJapaneseByC = {
    "LANGUAGE=", "LC_ALL=", "LC_MESSAGES=", "LANG=C"};

struct CommandSetup {
    std::vector<std::string> env;
    // The standard descriptors (0, 1, 2) to leave closed in the command, as a scheduler may.
    std::vector<int> closed;
    rlim_t fileSizeLimit = RLIM_INFINITY;
    rlim_t descriptorLimit = 0;  // 0: as inherited
    // Run as the unprivileged user 65534, in a network namespace of its own in which no device
    // is up, so that nothing it might send leaves it (only the machine's root can start such a
    // command; it then ends with status 126).
    bool unprivileged = false;
};

// This process's environment after `environment`'s own values (the first of two values of a
// name is the one a command reads).
inline void AppendEnviron(std::vector<std::string>& environment) {
    for (char** e = environ; *e != nullptr; ++e) {
        environment.emplace_back(*e);
    }
}

// The null-ended array execve takes over `strings`, which must outlive it.
inline std::vector<char*> ExecArray(std::vector<std::string>& strings) {
    std::vector<char*> array;
    for (std::string& text : strings) {
        array.push_back(text.data());
    }
    array.push_back(nullptr);
    return array;
}

class Command {
  public:
    Command(std::vector<std::string> args, const std::vector<std::string>& env,
            const std::filesystem::path& dir, const std::string& name)
        : Command(std::move(args), CommandSetup{env, {}, RLIM_INFINITY, 0, false}, dir, name) {}

    Command(std::vector<std::string> args, const CommandSetup& setup,
            const std::filesystem::path& dir, const std::string& name)
        : out_((dir / (name + ".out")).string()), err_((dir / (name + ".err")).string()) {
        args.insert(args.begin(), VEXIL_DOWNLOAD);
        std::vector<std::string> environment = setup.env;
        // The first of two values of a name is the one the command reads.
        const bool languageGiven =
            std::any_of(environment.begin(), environment.end(), [](const std::string& e) {
                return e.starts_with("LANGUAGE=") || e.starts_with("LC_ALL=") ||
                       e.starts_with("LC_MESSAGES=") || e.starts_with("LANG=");
            });
        if (!languageGiven) {
            environment.insert(environment.end(), kEnglish.begin(), kEnglish.end());
        }
        AppendEnviron(environment);
        std::vector<char*> argv = ExecArray(args);
        std::vector<char*> envp = ExecArray(environment);
        pid_ = ::fork();
        if (pid_ == 0) {
            // Only the three standard descriptors go to the command: a descriptor limit set
            // below then counts the command's own descriptors alone.
            auto give = [](int fd, int as) {
                ::dup2(fd, as);
                if (fd != as) {
                    ::close(fd);
                }
            };
            give(::open("/dev/null", O_RDONLY), STDIN_FILENO);
            give(::open(out_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), STDOUT_FILENO);
            give(::open(err_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), STDERR_FILENO);
            // Whatever the test's own runner left open without close-on-exec (ctest does) stays
            // behind too.
            ::close_range(3, ~0U, 0);
            for (const int fd : setup.closed) {
                ::close(fd);
            }
            if (setup.fileSizeLimit != RLIM_INFINITY) {
                const rlimit limit{setup.fileSizeLimit, setup.fileSizeLimit};
                ::setrlimit(RLIMIT_FSIZE, &limit);
            }
            if (setup.descriptorLimit != 0) {
                const rlimit limit{setup.descriptorLimit, setup.descriptorLimit};
                ::setrlimit(RLIMIT_NOFILE, &limit);
            }
            if (setup.unprivileged &&
                (::unshare(CLONE_NEWNET) != 0 || ::setgroups(0, nullptr) != 0 ||
                 ::setgid(65534) != 0 || ::setuid(65534) != 0)) {
                ::_exit(126);
            }
            ::execve(argv[0], argv.data(), envp.data());
            ::_exit(127);
        }
    }
    ~Command() {
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
    }
    Command(const Command&) = delete;
    Command& operator=(const Command&) = delete;

    // The exit status, -1 for a command ended by a signal, or -2 (with a test failure) when it
    // has not ended within `seconds`: then it is killed, so a download that hangs fails the
    // test at once instead of holding the suite until its time-out.
    int Wait(double seconds = 150) {
        int status = 0;
        const bool ended = Eventually([&] { return ::waitpid(pid_, &status, WNOHANG) == pid_; },
                                      seconds, "vexil-download to end; its stderr:\n" + Err());
        if (!ended) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
            pid_ = -1;
            return -2;
        }
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    pid_t Pid() const { return pid_; }
    void Signal(int signal) const {
        if (pid_ > 0) {
            ::kill(pid_, signal);
        }
    }
    std::string Out() const { return Slurp(out_); }
    std::string Err() const { return Slurp(err_); }

  private:
    pid_t pid_ = -1;
    std::string out_;
    std::string err_;
};

}  // namespace vexil::test
