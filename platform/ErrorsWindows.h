// A Windows system error as the programs tell it: as its errno value for the errors that have
// one, so that it is worded as on POSIX, else by its number.
#pragma once

#include <windows.h>

#include <cerrno>

#include "platform/Reason.h"

namespace vexil::windows {

inline Reason SystemReason(DWORD error) {
    switch (error) {
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
            return Reason::System(ENOENT);
        case ERROR_ACCESS_DENIED:
        case ERROR_SHARING_VIOLATION:
            return Reason::System(EACCES);
        case ERROR_DISK_FULL:
        case ERROR_HANDLE_DISK_FULL:
            return Reason::System(ENOSPC);
        default:
            return Reason::Numbered(ReasonKind::kWindowsError, static_cast<long long>(error));
    }
}

}  // namespace vexil::windows
