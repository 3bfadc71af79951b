// A Windows system error as the programs say it: the C library's text for the errors that have
// an errno value, else its number.
#pragma once

#include <windows.h>

#include <cerrno>
#include <cstring>
#include <string>

namespace vexil::windows {

inline std::string SystemReason(DWORD error) {
    switch (error) {
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
            return std::strerror(ENOENT);
        case ERROR_ACCESS_DENIED:
        case ERROR_SHARING_VIOLATION:
            return std::strerror(EACCES);
        case ERROR_DISK_FULL:
        case ERROR_HANDLE_DISK_FULL:
            return std::strerror(ENOSPC);
        default:
            return "error " + std::to_string(error);
    }
}

}  // namespace vexil::windows
