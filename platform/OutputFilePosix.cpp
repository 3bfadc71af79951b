#include "platform/OutputFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

namespace vexil {

namespace {

std::string NotRegular(const std::string& path) {
    return path + " is not a regular file";
}

std::string CannotWrite(const std::string& path, int why) {
    return "cannot write " + path + ": " + std::strerror(why);
}

}  // namespace

std::string OutputRefusal(const std::string& path, const std::string& input) {
    struct stat output {};
    if (::stat(path.c_str(), &output) != 0) {
        if (errno != ENOENT) {
            return CannotWrite(path, errno);
        }
        // A new file: its folder must be there and take it.
        const std::filesystem::path named = std::filesystem::path(path).parent_path();
        const std::filesystem::path folder = named.empty() ? std::filesystem::path(".") : named;
        struct stat parent {};
        if (::stat(folder.c_str(), &parent) != 0) {
            return CannotWrite(path, errno);
        }
        if (!S_ISDIR(parent.st_mode)) {
            return CannotWrite(path, ENOTDIR);
        }
        return ::access(folder.c_str(), W_OK | X_OK) == 0 ? std::string()
                                                          : CannotWrite(path, errno);
    }
    if (!S_ISREG(output.st_mode)) {
        return NotRegular(path);
    }
    struct stat source {};
    if (!input.empty() && ::stat(input.c_str(), &source) == 0 && source.st_dev == output.st_dev &&
        source.st_ino == output.st_ino) {
        return path + " is the input file " + input + ": it would be overwritten";
    }
    return ::access(path.c_str(), W_OK) == 0 ? std::string() : CannotWrite(path, errno);
}

std::FILE* OpenOutputFile(const std::string& path, std::string& error) {
    // Opened without waiting and without truncating, then looked at: the descriptor checked is
    // the one written, so nothing can be swapped in between, and a refused file keeps its bytes.
    const int fd =
        ::open(path.c_str(), O_WRONLY | O_CREAT | O_NONBLOCK | O_CLOEXEC | O_NOCTTY, 0666);
    if (fd < 0) {
        // A FIFO without a reader (ENXIO) or a folder (EISDIR) is what the caller should hear of.
        error = errno == ENXIO || errno == EISDIR ? NotRegular(path) : CannotWrite(path, errno);
        return nullptr;
    }
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        error = NotRegular(path);
        ::close(fd);
        return nullptr;
    }
    if (::ftruncate(fd, 0) != 0 || ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK) != 0) {
        error = CannotWrite(path, errno);
        ::close(fd);
        return nullptr;
    }
    std::FILE* file = ::fdopen(fd, "wb");
    if (file == nullptr) {
        error = CannotWrite(path, errno);
        ::close(fd);
    }
    return file;
}

}  // namespace vexil
