#include "platform/RecordFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

namespace vexil {

namespace {

std::string Reason(int error) {
    return std::strerror(error);
}

// Opens for writing without blocking on a FIFO and without taking a terminal; refuses what is
// not a regular file. Returns the descriptor, or -1 with `reason` set.
int OpenRecordFile(const std::string& path, RecordMode mode, std::string& reason) {
    if (path.empty()) {
        reason = "no file named";
        return -1;
    }
    const int flags = O_WRONLY | O_CREAT | O_NONBLOCK | O_NOCTTY | O_CLOEXEC |
                      (mode == RecordMode::kAppend ? O_APPEND : 0);
    struct stat info {};
    if (::stat(path.c_str(), &info) == 0 && !S_ISREG(info.st_mode)) {
        reason = S_ISDIR(info.st_mode)    ? "it is a folder"
                 : S_ISFIFO(info.st_mode) ? "it is a FIFO"
                                          : "it is not a regular file";
        return -1;
    }
    const int fd = ::open(path.c_str(), flags, 0644);
    if (fd < 0) {
        reason = Reason(errno);
        return -1;
    }
    // Checked again on what was opened: the name may have changed in between.
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        reason = "it is not a regular file";
        ::close(fd);
        return -1;
    }
    return fd;
}

}  // namespace

std::string AbsolutePath(const std::string& path) {
    std::error_code error;
    const std::filesystem::path absolute = std::filesystem::absolute(path, error);
    return error || path.empty() ? path : absolute.string();
}

std::FILE* OpenForReading(const std::string& path) {
    return std::fopen(path.c_str(), "rbe");
}

namespace records {

bool SameName(const std::filesystem::path& a, const std::filesystem::path& b) {
    return a == b;
}

int Open(const std::string& path, RecordMode mode, std::string& reason) {
    return OpenRecordFile(path, mode, reason);
}

void Close(int fd) {
    ::close(fd);
}

std::string WriteAndClose(int fd, std::string_view text) {
    std::string reason;
    ssize_t written = -1;
    do {
        written = ::write(fd, text.data(), text.size());
    } while (written < 0 && errno == EINTR);
    if (written < 0) {
        reason = Reason(errno);
    } else if (static_cast<std::size_t>(written) != text.size()) {
        reason = "only part of it was written (the disk is full or a size limit was reached)";
    } else if (::fsync(fd) != 0) {
        reason = Reason(errno);
    }
    if (::close(fd) != 0 && reason.empty() && errno != EINTR) {
        reason = Reason(errno);
    }
    return reason;
}

void Remove(const std::string& path) {
    ::unlink(path.c_str());
}

std::string Replace(const std::string& from, const std::string& to) {
    return ::rename(from.c_str(), to.c_str()) == 0 ? std::string() : Reason(errno);
}

}  // namespace records

}  // namespace vexil
