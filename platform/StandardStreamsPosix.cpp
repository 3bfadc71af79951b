#include "platform/StandardStreams.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>

namespace vexil {

bool OpenStandardStreams() {
    for (int fd = 0; fd <= 2; ++fd) {
        if (::fcntl(fd, F_GETFD) >= 0 || errno != EBADF) {
            continue;
        }
        // open takes the lowest free number, which is this one, as the lower ones are open.
        const int opened = ::open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY);
        if (opened != fd) {
            if (opened >= 0) {
                ::close(opened);
            }
            return false;
        }
    }
    return true;
}

void SurviveClosedPipes() {
    std::signal(SIGPIPE, SIG_IGN);
}

void TakeHardDescriptorLimit() {
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
        limit.rlim_cur = limit.rlim_max;
        ::setrlimit(RLIMIT_NOFILE, &limit);
    }
}

bool SayOnDescriptor(int fd, const std::string& text, Reason& why) {
    const bool said = ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
    if (!said) {
        why = Reason::System(errno);
    }
    ::close(fd);
    return said;
}

}  // namespace vexil
