#include <fcntl.h>
#include <io.h>
#include <share.h>
#include <sys/stat.h>
#include <windows.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

#include "platform/RecordFile.h"
#include "platform/WidePath.h"

namespace vexil {

namespace {

std::string Reason(int error) {
    return std::strerror(error);
}

// Opens for writing; refuses what is not a regular file (a folder, a device such as NUL or a
// named pipe). Returns the descriptor, or -1 with `reason` set.
int OpenRecordFile(const std::string& path, RecordMode mode, std::string& reason) {
    if (path.empty()) {
        reason = "no file named";
        return -1;
    }
    std::error_code error;
    const auto status = std::filesystem::status(WidePath(path), error);
    if (std::filesystem::is_directory(status)) {
        reason = "it is a folder";
        return -1;
    }
    if (std::filesystem::exists(status) && !std::filesystem::is_regular_file(status)) {
        reason = "it is not a regular file";
        return -1;
    }
    int fd = -1;
    const int flags = _O_WRONLY | _O_CREAT | _O_BINARY | _O_NOINHERIT |
                      (mode == RecordMode::kAppend ? _O_APPEND : 0);
    if (::_wsopen_s(&fd, WidePath(path).c_str(), flags, _SH_DENYNO, _S_IREAD | _S_IWRITE) != 0) {
        reason = Reason(errno);
        return -1;
    }
    // Checked again on what was opened: only a disk file takes records.
    if (::GetFileType(reinterpret_cast<HANDLE>(::_get_osfhandle(fd))) != FILE_TYPE_DISK) {
        reason = "it is not a regular file";
        ::_close(fd);
        return -1;
    }
    return fd;
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

std::FILE* OpenForReading(const std::string& path) {
    return ::_wfopen(WidePath(path).c_str(), L"rbN");
}

namespace records {

bool SameName(const std::filesystem::path& a, const std::filesystem::path& b) {
    return ::CompareStringOrdinal(a.c_str(), -1, b.c_str(), -1, TRUE) == CSTR_EQUAL;
}

int Open(const std::string& path, RecordMode mode, std::string& reason) {
    return OpenRecordFile(path, mode, reason);
}

void Close(int fd) {
    ::_close(fd);
}

std::string WriteAndClose(int fd, std::string_view text) {
    std::string reason;
    const int written = ::_write(fd, text.data(), static_cast<unsigned>(text.size()));
    if (written < 0) {
        reason = Reason(errno);
    } else if (static_cast<std::size_t>(written) != text.size()) {
        reason = "only part of it was written (the disk is full or a size limit was reached)";
    } else if (::_commit(fd) != 0) {
        reason = Reason(errno);
    }
    if (::_close(fd) != 0 && reason.empty()) {
        reason = Reason(errno);
    }
    return reason;
}

void Remove(const std::string& path) {
    ::_wunlink(WidePath(path).c_str());
}

std::string Replace(const std::string& from, const std::string& to) {
    if (::MoveFileExW(WidePath(from).c_str(), WidePath(to).c_str(),
                      MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        return {};
    }
    return "it could not be replaced (error " + std::to_string(::GetLastError()) + ")";
}

}  // namespace records

}  // namespace vexil
