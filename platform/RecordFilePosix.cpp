#include <fcntl.h>
#include <stdio.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>

#include "platform/RecordFile.h"
#include "platform/RecordFileSystem.h"

namespace vexil {

std::string AbsolutePath(const std::string& path) {
    std::error_code error;
    const std::filesystem::path absolute = std::filesystem::absolute(path, error);
    return error || path.empty() ? path : absolute.string();
}

namespace records {

std::string FinalName(const std::string& path, Reason& reason) {
    namespace fs = std::filesystem;
    std::error_code error;
    fs::path name = fs::absolute(path, error);
    if (error) {
        reason = ErrorReason(error);
        return {};
    }
    // As the kernel follows them, at most 40 links.
    for (int links = 0; links <= 40; ++links) {
        const fs::path leaf = name.filename();
        if (leaf.empty() || leaf == "." || leaf == "..") {
            // A folder, refused as such when it is opened.
            return fs::weakly_canonical(name, error).string();
        }
        // The folder through its own links; a folder that cannot be looked at is left as it
        // is named, for the open to tell why.
        fs::path folder = fs::weakly_canonical(name.parent_path(), error);
        if (error) {
            folder = name.parent_path().lexically_normal();
        }
        name = folder / leaf;
        struct stat info {};
        if (::lstat(name.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) {
            return name.string();
        }
        const fs::path target = fs::read_symlink(name, error);
        if (error) {
            reason = ErrorReason(error);
            return {};
        }
        name = folder / target;  // an absolute target replaces the folder
    }
    reason = Reason::System(ELOOP);
    return {};
}

int CreateNew(const std::string& name, const std::string& like, bool& free, Reason& reason) {
    const int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOCTTY | O_CLOEXEC, 0666);
    if (fd < 0) {
        free = errno != EEXIST;
        reason = Reason::System(errno);
        return -1;
    }
    // The file it replaces keeps its permissions; a new one has those of any new file (0666
    // less the umask, as created).
    if (struct stat info{}; ::stat(like.c_str(), &info) == 0) {
        ::fchmod(fd, info.st_mode & 07777);
    }
    return fd;
}

bool TryLock(int fd, bool& busy) {
    if (::flock(fd, LOCK_EX | LOCK_NB) == 0) {
        return true;
    }
    busy = errno == EWOULDBLOCK || errno == EINTR;
    return false;
}

void Unlock(int fd) {
    ::flock(fd, LOCK_UN);
}

long long Position(int fd) {
    return ::lseek(fd, 0, SEEK_CUR);
}

long long Size(int fd) {
    struct stat info {};
    return ::fstat(fd, &info) == 0 ? static_cast<long long>(info.st_size) : -1;
}

int Truncate(int fd, long long size) {
    return ::ftruncate(fd, static_cast<off_t>(size));
}

int Close(int fd) {
    return ::close(fd);
}

long long Write(int fd, const char* data, std::size_t size) {
    return ::write(fd, data, size);
}

int Sync(int fd) {
    return ::fsync(fd);
}

void Remove(const std::string& name) {
    ::unlink(name.c_str());
}

namespace {

// The new name is on the disk when the folder that holds it is.
Reason SyncFolderOf(const std::string& to) {
    const std::string folder = std::filesystem::path(to).parent_path().string();
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        return {};  // a folder that cannot be read: the file system keeps its names as it will
    }
    Reason reason;
    if (::fsync(fd) != 0 && errno != EINVAL) {
        reason = Reason::System(errno).Because(ReasonKind::kFolderNotSynced);
    }
    ::close(fd);
    return reason;
}

}  // namespace

Reason Replace(const std::string& from, const std::string& to) {
    if (::rename(from.c_str(), to.c_str()) != 0) {
        return Reason::System(errno);
    }
    return SyncFolderOf(to);
}

bool PlaceNew(const std::string& from, const std::string& to, Reason& reason) {
    // Renamed only while the name is free; where the file system cannot say so in a rename, a
    // second name is linked, which the system gives only while it is free, and the first taken
    // away.
    int placed = ::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE);
    if (placed != 0 && (errno == EINVAL || errno == ENOSYS || errno == ENOTSUP)) {
        placed = ::link(from.c_str(), to.c_str());
        if (placed == 0) {
            ::unlink(from.c_str());
        }
    }
    if (placed != 0) {
        reason = Reason::System(errno);
        return false;
    }
    reason = SyncFolderOf(to);
    return true;
}

bool IsOpenOn(const std::string& name, int fd) {
    struct stat file {};
    struct stat open {};
    return ::stat(name.c_str(), &file) == 0 && ::fstat(fd, &open) == 0 &&
           file.st_dev == open.st_dev && file.st_ino == open.st_ino;
}

bool SameName(const std::filesystem::path& a, const std::filesystem::path& b) {
    return a == b;
}

}  // namespace records

}  // namespace vexil
