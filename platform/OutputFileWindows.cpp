#include <io.h>
#include <windows.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

#include "platform/OutputFile.h"
#include "platform/RegularFile.h"
#include "platform/WidePath.h"

namespace vexil {

namespace {

std::string NotRegular(const std::string& path) {
    return path + " is not a regular file";
}

std::string CannotWrite(const std::string& path, const std::string& why) {
    return "cannot write " + path + ": " + why;
}

}  // namespace

std::string OutputRefusal(const std::string& path, const std::string& input) {
    namespace fs = std::filesystem;
    std::error_code error;
    const fs::path output = WidePath(path);
    if (IsDeviceName(path)) {
        return NotRegular(path);
    }
    const auto status = fs::status(output, error);
    if (!fs::exists(status)) {
        // A new file: its folder must be there.
        const fs::path named = output.parent_path();
        const fs::path folder = named.empty() ? fs::path(".") : named;
        if (!fs::is_directory(folder, error)) {
            return CannotWrite(path, std::strerror(fs::exists(folder, error) ? ENOTDIR : ENOENT));
        }
        return {};
    }
    if (!fs::is_regular_file(status)) {
        return NotRegular(path);
    }
    if (!input.empty() && fs::equivalent(WidePath(input), output, error)) {
        return path + " is the input file " + input + ": it would be overwritten";
    }
    return ::_waccess(output.c_str(), 2) == 0 ? std::string()
                                              : CannotWrite(path, std::strerror(errno));
}

std::FILE* OpenOutputFile(const std::string& path, std::string& error) {
    // Opened without truncating, then looked at: only a disk file is written, and a refused
    // file (a named pipe) keeps what it had. A device name is never opened.
    if (IsDeviceName(path)) {
        error = NotRegular(path);
        return nullptr;
    }
    const std::filesystem::path wide = WidePath(path);
    HANDLE handle = ::CreateFileW(wide.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                  OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        const DWORD why = ::GetLastError();
        error = why == ERROR_ACCESS_DENIED && std::filesystem::is_directory(wide)
                    ? NotRegular(path)
                    : CannotWrite(path, "error " + std::to_string(why));
        return nullptr;
    }
    if (::GetFileType(handle) != FILE_TYPE_DISK) {
        error = NotRegular(path);
        ::CloseHandle(handle);
        return nullptr;
    }
    if (!::SetEndOfFile(handle)) {
        error = CannotWrite(path, "error " + std::to_string(::GetLastError()));
        ::CloseHandle(handle);
        return nullptr;
    }
    const int fd = ::_open_osfhandle(reinterpret_cast<intptr_t>(handle), 0);
    std::FILE* file = fd < 0 ? nullptr : ::_fdopen(fd, "wb");
    if (file == nullptr) {
        error = CannotWrite(path, std::strerror(errno));
        if (fd >= 0) {
            ::_close(fd);
        } else {
            ::CloseHandle(handle);
        }
    }
    return file;
}

}  // namespace vexil
