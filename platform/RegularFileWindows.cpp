#include <io.h>
#include <windows.h>

#include <cerrno>
#include <filesystem>

#include "platform/RegularFile.h"
#include "platform/WidePath.h"

namespace vexil {

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
    // Windows gives a device name's full path in the device namespace, \\.\NUL or \\.\COM1,
    // whatever folder stood before it; a file's full path has a folder there, also a file
    // named through that namespace (\\.\C:\Firmware\RS.BIN).
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
    return full.size() > 4 && full.compare(0, 4, L"\\\\.\\") == 0 &&
           full.find(L'\\', 4) == std::wstring::npos;
}

std::FILE* OpenRegularFile(const std::string& path) {
    if (IsDeviceName(path)) {
        errno = ENODEV;
        return nullptr;
    }
    const std::filesystem::path wide = WidePath(path);
    std::error_code error;
    const auto status = std::filesystem::status(wide, error);
    if (!std::filesystem::is_regular_file(status)) {
        errno = std::filesystem::is_directory(status)                  ? EISDIR
                : std::filesystem::exists(status)                      ? ENODEV
                : error && error.category() == std::generic_category() ? error.value()
                                                                       : ENOENT;
        return nullptr;
    }
    std::FILE* file = ::_wfopen(wide.c_str(), L"rbN");
    // Checked again on what was opened: only a disk file is read.
    if (file != nullptr && ::GetFileType(reinterpret_cast<HANDLE>(
                               ::_get_osfhandle(::_fileno(file)))) != FILE_TYPE_DISK) {
        std::fclose(file);
        errno = ENODEV;
        return nullptr;
    }
    return file;
}

}  // namespace vexil
