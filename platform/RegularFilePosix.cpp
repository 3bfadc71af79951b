#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/RegularFile.h"

namespace vexil {

FileKind KindOf(const std::string& path) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) {
        return FileKind::kMissing;
    }
    return S_ISREG(info.st_mode)   ? FileKind::kRegular
           : S_ISDIR(info.st_mode) ? FileKind::kFolder
                                   : FileKind::kOther;
}

bool IsDeviceName(const std::string&) {
    return false;
}

std::FILE* OpenRegularFile(const std::string& path) {
    // Opened without waiting (a FIFO's open would wait for a writer), then looked at: the
    // descriptor checked is the one read, so nothing can be swapped in between.
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
        return nullptr;
    }
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) ||
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK) != 0) {
        ::close(fd);
        return nullptr;
    }
    std::FILE* file = ::fdopen(fd, "rb");
    if (file == nullptr) {
        ::close(fd);
    }
    return file;
}

}  // namespace vexil
