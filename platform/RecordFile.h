// Files that record what was done to print servers: the log of downloads and the list of
// targets that failed. What they say must be on the disk when the program says it is, so each
// write is checked and flushed, and the reason of a failure is told.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>

namespace vexil {

enum class RecordMode { kAppend, kReplace };

// Checks that `path` can take records: a regular file (created when missing) that can be
// opened for writing. Never blocks: a FIFO, a folder or a device is refused with its kind.
// Returns an empty string when it can, else the reason.
std::string CheckRecordFile(const std::string& path);

// Writes `text` to `path` in one write (appended, or replacing what the file held, through a
// file PATH.new renamed over it, so that a failed write leaves the old text), then flushes it
// to the disk before closing. Returns an empty string when all of it is on the disk, else
// the reason (a full disk, a file size limit, the file replaced by a FIFO meanwhile, ...).
std::string WriteRecord(const std::string& path, std::string_view text, RecordMode mode);

// The absolute form of a path (UTF-8), for a program that changes its working folder or hands
// the path to a child; the path as given when it has none. On Windows a share's
// \\server\share and a \\?\ path are kept as they are.
std::string AbsolutePath(const std::string& path);

// Whether two paths name one file: the same name, or one file through links, also before either
// exists. On Windows names that differ only in letter case are one file's.
bool NamesOneFile(const std::string& a, const std::string& b);

// Opens a file (a path in UTF-8) to read in binary, never inherited by a child process;
// nullptr with errno set when it cannot.
std::FILE* OpenForReading(const std::string& path);

}  // namespace vexil
