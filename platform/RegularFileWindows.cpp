#include <fcntl.h>
#include <io.h>
#include <share.h>
#include <sys/stat.h>
#include <windows.h>

#include <cerrno>
#include <filesystem>

#include "platform/DevicePathsWindows.h"
#include "platform/ErrorsWindows.h"
#include "platform/RegularFile.h"
#include "platform/RegularFileSystem.h"
#include "platform/WidePath.h"

namespace vexil {

namespace {

constexpr ReasonKind kFolderKind = ReasonKind::kFolder;
constexpr ReasonKind kOtherKind = ReasonKind::kNotRegular;

int Refuse(FileRefusal& refusal, ReasonKind kind) {
    refusal.kind = kind;
    return -1;
}

int Fail(FileRefusal& refusal, int error) {
    refusal.error = error;
    return -1;
}

// A device name, or a device or a pipe named in the device namespace as it stands.
bool NamesNoFile(const std::string& path) {
    return IsDeviceName(path) || windows::InDeviceNamespace(WidePath(path).wstring());
}

// The C runtime's open flags and sharing of each use. An output shares reading only while it is
// written, as a file opened for writing by the C runtime's fopen would not.
int Flags(FileUse use) {
    switch (use) {
        case FileUse::kRead:
        case FileUse::kReadStream:
            return _O_RDONLY;
        case FileUse::kAppend:
            return _O_WRONLY | _O_CREAT | _O_APPEND;
        case FileUse::kWrite:
            return _O_WRONLY | _O_CREAT;
        case FileUse::kCheck:
            return _O_WRONLY;
    }
    return _O_RDONLY;
}

}  // namespace

FileKind KindOf(const std::string& path) {
    // A device name is looked at by its name alone: std::filesystem finds no file there.
    if (IsDeviceName(path)) {
        return FileKind::kOther;
    }
    std::error_code error;
    switch (std::filesystem::status(WidePath(path), error).type()) {
        case std::filesystem::file_type::regular:
            return FileKind::kRegular;
        case std::filesystem::file_type::directory:
            return FileKind::kFolder;
        case std::filesystem::file_type::none:
        case std::filesystem::file_type::not_found:
            return FileKind::kMissing;
        default:
            return FileKind::kOther;
    }
}

bool IsDeviceName(const std::string& path) {
    // A device name's full path is the device's own, \\.\NUL or \\.\COM1, whatever folder
    // stood before it: one name in the device namespace, with no folder after it.
    const std::wstring wide = WidePath(path).wstring();
    const DWORD size = ::GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr);
    if (path.empty() || size == 0) {
        return false;
    }
    std::wstring full(size, L'\0');
    const DWORD length = ::GetFullPathNameW(wide.c_str(), size, full.data(), nullptr);
    if (length == 0 || length >= size) {
        return false;
    }
    full.resize(length);
    return full.size() > 4 && windows::InDeviceNamespace(full) &&
           full.find(L'\\', 4) == std::wstring::npos;
}

int OpenFileDescriptor(const std::string& path, FileUse use, FileRefusal& refusal) {
    refusal = {};
    // A device name is never opened: a serial port would hold the caller, whatever it is for.
    if (IsDeviceName(path)) {
        return Refuse(refusal, kOtherKind);
    }
    const std::filesystem::path wide = WidePath(path);
    if (use != FileUse::kReadStream) {
        // Looked at before it is opened (a folder does not open to be written, a device is not
        // opened at all), and again on what was opened.
        if (NamesNoFile(path)) {
            return Refuse(refusal, kOtherKind);
        }
        std::error_code error;
        const auto status = std::filesystem::status(wide, error);
        if (std::filesystem::is_directory(status)) {
            return Refuse(refusal, kFolderKind);
        }
        if (std::filesystem::exists(status) && !std::filesystem::is_regular_file(status)) {
            return Refuse(refusal, kOtherKind);
        }
        if (!std::filesystem::exists(status) && (use == FileUse::kRead || use == FileUse::kCheck)) {
            return Fail(refusal, error && error.category() == std::generic_category()
                                     ? error.value()
                                     : ENOENT);
        }
    }
    int fd = -1;
    const int share = use == FileUse::kWrite ? _SH_DENYWR : _SH_DENYNO;
    if (::_wsopen_s(&fd, wide.c_str(), Flags(use) | _O_BINARY | _O_NOINHERIT, share,
                    _S_IREAD | _S_IWRITE) != 0) {
        return Fail(refusal, errno);
    }
    // Only a disk file is read or written; a pipe is read as a stream, a device never.
    const DWORD type = ::GetFileType(reinterpret_cast<HANDLE>(::_get_osfhandle(fd)));
    if (use == FileUse::kReadStream ? type == FILE_TYPE_CHAR : type != FILE_TYPE_DISK) {
        ::_close(fd);
        return Refuse(refusal, kOtherKind);
    }
    // Emptied only now that it is known to be a regular file: a refused one keeps its bytes.
    if (use == FileUse::kWrite) {
        if (const errno_t error = ::_chsize_s(fd, 0); error != 0) {
            ::_close(fd);
            return Fail(refusal, error);
        }
    }
    return fd;
}

namespace files {

std::FILE* StreamOver(int fd, const char* mode) {
    std::FILE* file = ::_fdopen(fd, mode);
    if (file == nullptr) {
        const int error = errno;
        ::_close(fd);
        errno = error;
    }
    return file;
}

}  // namespace files

Reason CheckFolder(const std::string& folder) {
    const std::filesystem::path wide = WidePath(folder);
    const DWORD attributes = ::GetFileAttributesW(wide.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        return windows::SystemReason(::GetLastError());
    }
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
        return Reason::System(ENOTDIR);
    }
    // The right to add a file, asked of the folder itself: nothing is made.
    HANDLE handle = ::CreateFileW(wide.c_str(), FILE_ADD_FILE,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        return windows::SystemReason(::GetLastError());
    }
    ::CloseHandle(handle);
    return {};
}

Reason ErrorReason(const std::error_code& error) {
    // The C++ library's system category holds Windows errors here, its generic one errno values.
    return error.category() == std::system_category()
               ? windows::SystemReason(static_cast<DWORD>(error.value()))
               : Reason::System(error.value());
}

}  // namespace vexil
