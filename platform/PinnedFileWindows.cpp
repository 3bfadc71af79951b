#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cerrno>
#include <climits>

#include "platform/RegularFileSystem.h"

namespace vexil::files {

int PrivateFileDescriptor() {
    wchar_t folder[MAX_PATH + 1];
    wchar_t name[MAX_PATH + 1];
    const DWORD length = ::GetTempPathW(MAX_PATH + 1, folder);
    if (length == 0 || length > MAX_PATH || ::GetTempFileNameW(folder, L"vxp", 0, name) == 0) {
        errno = ENOENT;
        return -1;
    }
    // Shared with nobody while it is open, and deleted by the system when its last handle
    // closes, also when the program ends without closing it.
    const HANDLE handle =
        ::CreateFileW(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                      FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        ::DeleteFileW(name);
        errno = EACCES;
        return -1;
    }
    const int fd = ::_open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_RDWR | _O_BINARY);
    if (fd < 0) {
        ::CloseHandle(handle);
        errno = EMFILE;
    }
    return fd;
}

long long ReadSome(int fd, void* into, std::size_t count) {
    return ::_read(fd, into, count > INT_MAX ? INT_MAX : static_cast<unsigned int>(count));
}

bool WriteAll(int fd, const void* from, std::size_t count) {
    const auto* at = static_cast<const char*>(from);
    while (count > 0) {
        const int put =
            ::_write(fd, at, count > INT_MAX ? INT_MAX : static_cast<unsigned int>(count));
        if (put <= 0) {
            if (put == 0) {
                errno = ENOSPC;
            }
            return false;
        }
        at += put;
        count -= static_cast<std::size_t>(put);
    }
    return true;
}

bool Rewind(int fd) {
    return ::_lseeki64(fd, 0, SEEK_SET) == 0;
}

int DuplicateDescriptor(int fd) {
    return ::_dup(fd);
}

void CloseDescriptor(int fd) {
    ::_close(fd);
}

}  // namespace vexil::files
