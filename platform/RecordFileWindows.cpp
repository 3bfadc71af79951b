#include <fcntl.h>
#include <io.h>
#include <share.h>
#include <sys/stat.h>
#include <windows.h>

#include <cerrno>
#include <filesystem>

#include "platform/DevicePathsWindows.h"
#include "platform/ErrorsWindows.h"
#include "platform/RecordFile.h"
#include "platform/RecordFileSystem.h"
#include "platform/RegularFile.h"
#include "platform/WidePath.h"

namespace vexil {

namespace {

// The full name of what the handle opened, links followed; empty when the system has none (a
// device). Without the \\?\ that the system puts before it, as the programs write paths.
std::wstring FinalPathOf(HANDLE handle) {
    const DWORD size = ::GetFinalPathNameByHandleW(handle, nullptr, 0, FILE_NAME_NORMALIZED);
    if (size == 0) {
        return {};
    }
    std::wstring name(size, L'\0');
    const DWORD length =
        ::GetFinalPathNameByHandleW(handle, name.data(), size, FILE_NAME_NORMALIZED);
    if (length == 0 || length >= size) {
        return {};
    }
    name.resize(length);
    if (name.compare(0, 8, L"\\\\?\\UNC\\") == 0) {
        return L"\\" + name.substr(7);
    }
    if (name.compare(0, 4, L"\\\\?\\") == 0 && name.size() > 6 && name[5] == L':') {
        return name.substr(4);
    }
    return name;
}

// The final name of an existing file or folder, through its links; empty when it is not there.
std::wstring FinalPathOf(const std::wstring& full) {
    HANDLE handle = ::CreateFileW(full.c_str(), FILE_READ_ATTRIBUTES,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        return {};
    }
    std::wstring name = FinalPathOf(handle);
    ::CloseHandle(handle);
    return name;
}

using windows::SystemReason;

HANDLE HandleOf(int fd) {
    return reinterpret_cast<HANDLE>(::_get_osfhandle(fd));
}

// The lock's one byte lies far past any file's end, where no record is ever written.
OVERLAPPED LockPlace() {
    OVERLAPPED place{};
    place.Offset = 0xFFFFFFFF;
    place.OffsetHigh = 0x7FFFFFFF;
    return place;
}

}  // namespace

std::string AbsolutePath(const std::string& path) {
    // GetFullPathNameW, not std::filesystem::absolute, which puts the working drive before a
    // share's \\server\share.
    const std::wstring wide = WidePath(path).wstring();
    const DWORD size = ::GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr);
    if (path.empty() || size == 0) {
        return path;
    }
    std::wstring full(size, L'\0');
    const DWORD length = ::GetFullPathNameW(wide.c_str(), size, full.data(), nullptr);
    if (length == 0 || length >= size) {
        return path;
    }
    full.resize(length);
    return Utf8Text(std::filesystem::path(full));
}

namespace records {

std::string FinalName(const std::string& path, Reason& reason) {
    const std::wstring full = WidePath(AbsolutePath(path)).wstring();
    // A device or a pipe has no final name of its own to follow.
    if (windows::InDeviceNamespace(full)) {
        return Utf8Text(std::filesystem::path(full));
    }
    if (const std::wstring final = FinalPathOf(full); !final.empty()) {
        return Utf8Text(std::filesystem::path(final));
    }
    // Not there: unless it is a link to a file that is not there (whose target the system does
    // not tell without reading the link's raw data), it is the name in its folder, the folder
    // through its links.
    const DWORD attributes = ::GetFileAttributesW(full.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
        reason = ReasonKind::kDanglingLink;
        return {};
    }
    const std::filesystem::path name(full);
    const std::wstring folder = FinalPathOf(name.parent_path().wstring());
    return Utf8Text(folder.empty() ? name : std::filesystem::path(folder) / name.filename());
}

int CreateNew(const std::string& name, const std::string& like, bool& free, Reason& reason) {
    // The file it replaces keeps its attributes (hidden, archive, ...); a new one is normal.
    DWORD attributes = ::GetFileAttributesW(WidePath(like).c_str());
    attributes = attributes == INVALID_FILE_ATTRIBUTES
                     ? FILE_ATTRIBUTE_NORMAL
                     : attributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_ARCHIVE |
                                     FILE_ATTRIBUTE_NOT_CONTENT_INDEXED);
    HANDLE handle =
        ::CreateFileW(WidePath(name).c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW,
                      attributes == 0 ? FILE_ATTRIBUTE_NORMAL : attributes, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        const DWORD error = ::GetLastError();
        free = error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS;
        reason = SystemReason(error);
        return -1;
    }
    const int fd = ::_open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_WRONLY | _O_BINARY);
    if (fd < 0) {
        reason = Reason::System(errno);
        ::CloseHandle(handle);
        ::DeleteFileW(WidePath(name).c_str());
    }
    return fd;
}

bool TryLock(int fd, bool& busy) {
    OVERLAPPED place = LockPlace();
    if (::LockFileEx(HandleOf(fd), LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0,
                     &place)) {
        return true;
    }
    busy = ::GetLastError() == ERROR_LOCK_VIOLATION;
    return false;
}

void Unlock(int fd) {
    OVERLAPPED place = LockPlace();
    ::UnlockFileEx(HandleOf(fd), 0, 1, 0, &place);
}

long long Position(int fd) {
    return ::_telli64(fd);
}

long long Size(int fd) {
    return ::_filelengthi64(fd);
}

int Truncate(int fd, long long size) {
    const errno_t error = ::_chsize_s(fd, size);
    errno = error;
    return error == 0 ? 0 : -1;
}

int Close(int fd) {
    return ::_close(fd);
}

long long Write(int fd, const char* data, std::size_t size) {
    return ::_write(fd, data, static_cast<unsigned>(size));
}

int Sync(int fd) {
    return ::_commit(fd);
}

void Remove(const std::string& name) {
    ::_wunlink(WidePath(name).c_str());
}

Reason Replace(const std::string& from, const std::string& to) {
    if (::MoveFileExW(WidePath(from).c_str(), WidePath(to).c_str(),
                      MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        return {};
    }
    return SystemReason(::GetLastError()).Because(ReasonKind::kNotReplaced);
}

bool PlaceNew(const std::string& from, const std::string& to, Reason& reason) {
    // Without MOVEFILE_REPLACE_EXISTING the move fails when a file has the name.
    if (::MoveFileExW(WidePath(from).c_str(), WidePath(to).c_str(), MOVEFILE_WRITE_THROUGH)) {
        return true;
    }
    reason = SystemReason(::GetLastError());
    return false;
}

bool IsOpenOn(const std::string& name, int fd) {
    const auto open = reinterpret_cast<HANDLE>(::_get_osfhandle(fd));
    BY_HANDLE_FILE_INFORMATION opened{};
    if (open == INVALID_HANDLE_VALUE || !::GetFileInformationByHandle(open, &opened)) {
        return false;  // no descriptor, or a console or pipe: no file of a name
    }
    // Opened for no access at all, only to be known by its identity, and shared every way so
    // that no other opener meets a refusal.
    const HANDLE file = ::CreateFileW(WidePath(name).c_str(), 0,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return false;
    }
    BY_HANDLE_FILE_INFORMATION named{};
    const bool known = ::GetFileInformationByHandle(file, &named) != 0;
    ::CloseHandle(file);
    return known && named.dwVolumeSerialNumber == opened.dwVolumeSerialNumber &&
           named.nFileIndexHigh == opened.nFileIndexHigh &&
           named.nFileIndexLow == opened.nFileIndexLow;
}

bool SameName(const std::filesystem::path& a, const std::filesystem::path& b) {
    return ::CompareStringOrdinal(a.c_str(), -1, b.c_str(), -1, TRUE) == CSTR_EQUAL;
}

}  // namespace records

}  // namespace vexil
