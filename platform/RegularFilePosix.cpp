#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/RegularFile.h"
#include "platform/RegularFileSystem.h"

namespace vexil {

namespace {

// What a name that is no regular file is.
ReasonKind KindOfMode(mode_t mode) {
    return S_ISDIR(mode)    ? ReasonKind::kFolder
           : S_ISFIFO(mode) ? ReasonKind::kFifo
                            : ReasonKind::kNotRegular;
}

int Refuse(FileRefusal& refusal, ReasonKind kind) {
    refusal.kind = kind;
    return -1;
}

int Fail(FileRefusal& refusal, int error) {
    refusal.error = error;
    return -1;
}

int Flags(FileUse use) {
    switch (use) {
        case FileUse::kRead:
        case FileUse::kReadStream:
            return O_RDONLY;
        case FileUse::kAppend:
            return O_WRONLY | O_CREAT | O_APPEND;
        case FileUse::kWrite:
            return O_WRONLY | O_CREAT;
        case FileUse::kCheck:
            return O_WRONLY;
    }
    return O_RDONLY;
}

}  // namespace

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

int OpenFileDescriptor(const std::string& path, FileUse use, FileRefusal& refusal) {
    refusal = {};
    if (use == FileUse::kReadStream) {
        // Whatever it is, read as it comes; the reader bounds what it takes.
        const int fd = ::open(path.c_str(), O_RDONLY | O_NOCTTY | O_CLOEXEC);
        return fd >= 0 ? fd : Fail(refusal, errno);
    }
    // Looked at before it is opened, so that no device is opened at all (a FIFO opened for
    // writing would not open, or would take a reader's place), and again on what was opened
    // (the name may have changed in between): the descriptor checked is the one used.
    struct stat info {};
    if (::stat(path.c_str(), &info) == 0 && !S_ISREG(info.st_mode)) {
        return Refuse(refusal, KindOfMode(info.st_mode));
    }
    const int fd = ::open(path.c_str(), Flags(use) | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0666);
    if (fd < 0) {
        // What became a FIFO without a reader, or a folder, since it was looked at.
        return errno == ENXIO    ? Refuse(refusal, KindOfMode(S_IFIFO))
               : errno == EISDIR ? Refuse(refusal, KindOfMode(S_IFDIR))
                                 : Fail(refusal, errno);
    }
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        return Refuse(refusal, KindOfMode(info.st_mode));
    }
    // Emptied only now that it is known to be a regular file: a refused one keeps its bytes.
    if ((use == FileUse::kWrite && ::ftruncate(fd, 0) != 0) ||
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK) != 0) {
        const int error = errno;
        ::close(fd);
        return Fail(refusal, error);
    }
    return fd;
}

namespace files {

std::FILE* StreamOver(int fd, const char* mode) {
    std::FILE* file = ::fdopen(fd, mode);
    if (file == nullptr) {
        const int error = errno;
        ::close(fd);
        errno = error;
    }
    return file;
}

}  // namespace files

Reason CheckFolder(const std::string& folder) {
    struct stat info {};
    if (::stat(folder.c_str(), &info) != 0) {
        return Reason::System(errno);
    }
    if (!S_ISDIR(info.st_mode)) {
        return Reason::System(ENOTDIR);
    }
    return ::access(folder.c_str(), W_OK | X_OK) == 0 ? Reason() : Reason::System(errno);
}

Reason ErrorReason(const std::error_code& error) {
    // Both of the C++ library's categories hold errno values here.
    return Reason::System(error.value());
}

}  // namespace vexil
