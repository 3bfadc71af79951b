#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string>

#include "platform/RegularFileSystem.h"

namespace vexil::files {

namespace {

std::string TemporaryFolder() {
    const char* folder = std::getenv("TMPDIR");
    return folder != nullptr && *folder != '\0' ? folder : "/tmp";
}

int PrivateFileIn(const std::string& folder) {
#if defined(O_TMPFILE)
    // A file without a name from its first moment: nothing can open it by one.
    const int fd = ::open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    if (fd >= 0) {
        return fd;
    }
#endif
    // A file system without unnamed files: a name of our own, readable by us alone, taken away
    // at once.
    std::string name = folder + "/vexil-pinned-XXXXXX";
    const int named = ::mkostemp(name.data(), O_CLOEXEC);
    if (named < 0) {
        return -1;
    }
    ::unlink(name.c_str());
    return named;
}

}  // namespace

int PrivateFileDescriptor() {
    // A TMPDIR that names no usable folder (a common slip in a scheduler's environment) falls
    // back to /tmp rather than failing every download's file check.
    const std::string folder = TemporaryFolder();
    const int fd = PrivateFileIn(folder);
    return fd >= 0 || folder == "/tmp" ? fd : PrivateFileIn("/tmp");
}

long long ReadSome(int fd, void* into, std::size_t count) {
    for (;;) {
        const ssize_t got = ::read(fd, into, count);
        if (got >= 0 || errno != EINTR) {
            return got;
        }
    }
}

bool WriteAll(int fd, const void* from, std::size_t count) {
    const auto* at = static_cast<const char*>(from);
    while (count > 0) {
        const ssize_t put = ::write(fd, at, count);
        if (put < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        at += put;
        count -= static_cast<std::size_t>(put);
    }
    return true;
}

bool Rewind(int fd) {
    return ::lseek(fd, 0, SEEK_SET) == 0;
}

int DuplicateDescriptor(int fd) {
    return ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
}

void CloseDescriptor(int fd) {
    ::close(fd);
}

}  // namespace vexil::files
