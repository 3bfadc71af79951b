// Windows' one rule for what names a device rather than a file. Windows keeps a namespace for
// its devices, \\.\NAME: a device name (NUL, CON, AUX, COM1, LPT1, ...) stands for its device
// in every folder and its full path is there (C:\Firmware\NUL is \\.\NUL), and a pipe is named
// there too (\\.\pipe\NAME). A file can also be named through it, behind its drive
// (\\.\C:\Firmware\RS.BIN): that one is a file.
#pragma once

#include <string>

namespace vexil::windows {

// Whether `path` (UTF-16, as given or as GetFullPathNameW made it full) is in the device
// namespace and names no file behind a drive (a drive alone, \\.\C:, is the volume itself).
inline bool InDeviceNamespace(const std::wstring& path) {
    const bool fileOnDrive =
        path.size() > 6 && path[5] == L':' && (path[6] == L'\\' || path[6] == L'/');
    return path.compare(0, 4, L"\\\\.\\") == 0 && !fileOnDrive;
}

}  // namespace vexil::windows
