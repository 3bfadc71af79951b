#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>

#include "tests/support/TestPlatform.h"

namespace vexil::test {

int OpenDescriptorCount() {
    int count = 0;
    for ([[maybe_unused]] const auto& entry :
         std::filesystem::directory_iterator("/proc/self/fd")) {
        ++count;
    }
    return count;
}

int ThreadCount() {
    int count = 0;
    for ([[maybe_unused]] const auto& entry :
         std::filesystem::directory_iterator("/proc/self/task")) {
        ++count;
    }
    return count;
}

int ProcessId() {
    return static_cast<int>(::getpid());
}

bool SetFileTime(const std::string& path, std::time_t when) {
    const timeval times[2] = {{when, 0}, {when, 0}};
    return ::utimes(path.c_str(), times) == 0;
}

void SetEnvironment(const char* name, const std::optional<std::string>& value) {
    if (value) {
        ::setenv(name, value->c_str(), 1);
    } else {
        ::unsetenv(name);
    }
    ::tzset();
}

bool MakeFifo(const std::string& path) {
    return ::mkfifo(path.c_str(), 0600) == 0;
}

const char* NullDevice() {
    return "/dev/null";
}

int CloseStandard(int fd) {
    const int kept = ::dup(fd);
    ::close(fd);
    return kept;
}

void RestoreStandard(int kept, int fd) {
    ::dup2(kept, fd);
    ::close(kept);
}

bool LimitFileSize(long long bytes) {
    rlimit limit{};
    if (::getrlimit(RLIMIT_FSIZE, &limit) != 0) {
        return false;
    }
    limit.rlim_cur = bytes < 0 ? limit.rlim_max : static_cast<rlim_t>(bytes);
    std::signal(SIGXFSZ, bytes < 0 ? SIG_DFL : SIG_IGN);
    return ::setrlimit(RLIMIT_FSIZE, &limit) == 0;
}

std::vector<std::string> DevicePaths(const std::string&) {
    return {"/dev/null", "/dev/zero"};
}

bool HasDeviceNames() {
    return false;
}

}  // namespace vexil::test
