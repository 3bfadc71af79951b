// The one opener of the files the programs read and write: download files and vexil-file's
// inputs, the targets file, the records (the log, --failed) and the tools' outputs (a download
// file, an extracted image, the simulator's flash). A file to read or write must be a regular
// file: a FIFO, a device or a folder is refused with its kind, never waited on (the window waits
// with it, and a FIFO opened for writing would hold the program until a reader comes). On Windows
// a device name (NUL, CON, AUX, COM1, LPT1, ...), which stands for the device in every folder, is
// refused without being opened at all: opening a serial port alone can hold the caller or change
// the port's lines. The platform's side is in RegularFilePosix.cpp and RegularFileWindows.cpp.
#pragma once

#include <cstdio>
#include <string>

#include "platform/Reason.h"

namespace vexil {

enum class FileKind {
    kMissing,  // nothing of that name, or it cannot be looked at
    kRegular,
    kFolder,
    kOther,  // a FIFO, a device (a Windows device name among them), a socket
};

// What `path` (UTF-8) names, looked at without opening it.
FileKind KindOf(const std::string& path);

// Whether `path` is one of the names that Windows keeps for its devices in every folder (also
// with a folder before it or, before Windows 11, an extension after it; the rule is in
// DevicePathsWindows.h): such a name names no file. Always false on POSIX, where a device has a
// path of its own.
bool IsDeviceName(const std::string& path);

// What a file is opened for.
enum class FileUse {
    kRead,  // a regular file, read from its start
    // Read from its start as it comes: a regular file, or a pipe (whose open waits for its
    // writer, as reading it would), for a reader that bounds what it takes (the targets file).
    // On Windows never a device.
    kReadStream,
    kAppend,  // a regular file that takes records at its end, created when missing
    // A regular file written from its start, created when missing and emptied once it is known
    // to be a regular file (a refused one keeps its bytes).
    kWrite,
    // A regular file opened for writing as it stands, to learn that it would take records or an
    // output: neither created nor changed.
    kCheck,
};

// Why a file did not open: what the path names when that is no regular file, or the system's
// reason.
struct FileRefusal {
    // ReasonKind::kFolder, kFifo or kNotRegular; kNone when the path names a regular file or
    // nothing, and the open failed for the system's reason `error`.
    ReasonKind kind = ReasonKind::kNone;
    int error = 0;  // an errno value

    bool NotRegular() const { return kind != ReasonKind::kNone; }
    // The kind, or the system's reason.
    ::vexil::Reason Reason() const;
};

// Opens `path` (UTF-8) for `use`, without blocking (but for a pipe of kReadStream) and not
// inherited by a child process: the descriptor checked is the one used, so nothing can be
// swapped in between. A descriptor of the C runtime, or -1 with `refusal` set.
int OpenFileDescriptor(const std::string& path, FileUse use, FileRefusal& refusal);
// The same as a binary stream; nullptr with `refusal` set.
std::FILE* OpenFile(const std::string& path, FileUse use, FileRefusal& refusal);
// A regular file to read (kRead), for a caller that needs no reason.
std::FILE* OpenRegularFile(const std::string& path);

// Whether a file can be made in `folder`, changing nothing: empty when it can, else the reason.
Reason CheckFolder(const std::string& folder);

// The tools' outputs. Whether `path` can be written as an output, without creating or changing
// it: it is a regular file that may be written and is not the file `input` names (also through
// a symbolic or hard link), or it does not exist and its folder may be written. Empty when it
// can; otherwise the reason, naming the path.
Reason OutputRefusal(const std::string& path, const std::string& input = {});
// Opens `path` to write an output from its start (kWrite); nullptr with the reason, naming the
// path, in `error`.
std::FILE* OpenOutputFile(const std::string& path, Reason& error);

}  // namespace vexil
