#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>

#include "platform/Console.h"
#include "platform/StandardStreams.h"

namespace vexil::console {

namespace {

// The self-pipe that turns a signal into something poll can wait for.
int g_signalPipe[2] = {-1, -1};

void OnCancelSignal(int) {
    const int saved = errno;
    const char byte = 1;
    [[maybe_unused]] const ssize_t written = ::write(g_signalPipe[1], &byte, 1);
    errno = saved;
}

}  // namespace

void Prepare() {
    ::signal(SIGXFSZ, SIG_IGN);
}

std::vector<std::string> Arguments(int argc, char** argv) {
    return {argv, argv + argc};
}

bool IsTerminal(std::FILE* stream) {
    return ::isatty(::fileno(stream)) == 1;
}

int TerminalColumns(std::FILE* stream) {
    winsize size{};
    return ::ioctl(::fileno(stream), TIOCGWINSZ, &size) == 0 ? size.ws_col : 0;
}

std::string EraseLine(std::FILE*, std::size_t) {
    // Every terminal a POSIX system runs this on reads ECMA-48's erase in line.
    return "\r\033[K";
}

void CatchCancel() {
    SurviveClosedPipes();
    if (g_signalPipe[0] < 0 && ::pipe2(g_signalPipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        return;
    }
    struct sigaction action {};
    action.sa_handler = OnCancelSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
        sigaction(signal, &action, nullptr);
    }
}

bool TakeCancel() {
    if (g_signalPipe[0] < 0) {
        return false;
    }
    bool any = false;
    char bytes[32];
    while (::read(g_signalPipe[0], bytes, sizeof bytes) > 0) {
        any = true;
    }
    return any;
}

bool WaitForCancel(int timeoutMs) {
    if (g_signalPipe[0] < 0) {
        ::poll(nullptr, 0, timeoutMs);
        return false;
    }
    pollfd fd{g_signalPipe[0], POLLIN, 0};
    return ::poll(&fd, 1, timeoutMs) > 0;
}

std::intptr_t CancelWaitable() {
    return g_signalPipe[0];
}

void RaiseCancel() {
    OnCancelSignal(0);
}

LineRead ReadLine(std::string& line) {
    line.clear();
    for (;;) {
        pollfd fds[2] = {{STDIN_FILENO, POLLIN, 0}, {g_signalPipe[0], POLLIN, 0}};
        if (::poll(fds, fds[1].fd >= 0 ? 2 : 1, -1) < 0) {
            if (errno == EINTR) {
                continue;
            }
            return LineRead::kEnd;
        }
        if (fds[1].revents != 0 && TakeCancel()) {
            return LineRead::kCancelled;
        }
        char c = 0;
        if (::read(STDIN_FILENO, &c, 1) != 1) {
            return line.empty() ? LineRead::kEnd : LineRead::kLine;
        }
        if (c == '\n') {
            return LineRead::kLine;
        }
        line += c;
    }
}

}  // namespace vexil::console
