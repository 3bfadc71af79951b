// Input files that must be regular files (the download files, vexil-file's inputs) and what a
// path names. A FIFO, a device or a folder is refused without waiting on it. On Windows a device
// name (NUL, CON, AUX, COM1, LPT1, ...), which stands for the device in every folder, is refused
// without being opened at all: opening a serial port alone can hold the caller or change the
// port's lines. The platform's side is in RegularFilePosix.cpp and RegularFileWindows.cpp.
#pragma once

#include <cstdio>
#include <string>

namespace vexil {

enum class FileKind {
    kMissing,  // nothing of that name, or it cannot be looked at
    kRegular,
    kFolder,
    kOther,  // a FIFO, a device (a Windows device name among them), a socket
};

// What `path` (UTF-8) names, looked at without opening it.
FileKind KindOf(const std::string& path);

// Whether `path` is one of the names that Windows keeps for its devices in every folder (NUL,
// CON, COM1, also with a folder before it or, before Windows 11, an extension after it): such a
// name names no file. Always false on POSIX, where a device has a path of its own.
bool IsDeviceName(const std::string& path);

// Opens `path` (UTF-8) for reading when it is a regular file. Anything else (a FIFO, a device, a
// folder), or a file that does not open, gives nullptr at once: an open must never wait on a
// pipe's writer or a device, since the window waits with it.
std::FILE* OpenRegularFile(const std::string& path);

}  // namespace vexil
