// Files that record what was done to print servers: the log of downloads and the list of
// targets that failed. What they say must be on the disk when the program says it is, so each
// write is checked and flushed, and the reason of a failure is told.
#pragma once

#include <cstddef>
#include <cstdio>
#include <string>
#include <string_view>

#include "platform/Reason.h"

namespace vexil {

enum class RecordMode { kAppend, kReplace };

// Checks that `path` can take records, before a run, creating and changing nothing: through
// its symbolic links, an existing file must be a regular file that opens for writing, and a
// missing one needs a folder that can be written. A file that is replaced (kReplace) needs its
// folder writable in any case, as its new text is written beside it. Never blocks: a FIFO, a
// folder or a device is refused with its kind. Returns an empty string when it can, else the
// reason.
Reason CheckRecordFile(const std::string& path, RecordMode mode);

// Writes `text` to the file that `path` names, through its symbolic links (the link stays a
// link), in one write, then forces it to the disk before returning. Appended: a write that
// comes short (a full disk, a file size limit) is taken back, so that the file holds only
// whole records. Replacing: the text goes to a new file of a name of its own, created beside
// it, which takes the file's place in one step when all of it is on the disk; a failed write
// leaves the old text. Returns an empty string when all of it is on the disk, else the reason.
Reason WriteRecord(const std::string& path, std::string_view text, RecordMode mode);

// The absolute form of a path (UTF-8), for a program that changes its working folder or hands
// the path to a child; the path as given when it has none. On Windows a share's
// \\server\share and a \\?\ path are kept as they are.
std::string AbsolutePath(const std::string& path);

// Whether two paths name one file: the same name, or one file through links (a symbolic link
// also when the file it names does not exist yet), also before either exists. On Windows names
// that differ only in letter case are one file's.
bool NamesOneFile(const std::string& a, const std::string& b);
// Whether `path` names, through its links, the file the program's standard output goes to (a
// redirection to a file, or a name such as /dev/stdout for it): a record written there would be
// mixed with the output, or replace the file and take the output with it.
bool NamesStandardOutput(const std::string& path);

// The two calls through which a record reaches its file and the disk (write and fsync, _write
// and _commit). Tests put their own in place to see that a record is forced to the disk before
// WriteRecord returns, and to make a write come short as a full disk does.
struct RecordCalls {
    // Writes up to `size` bytes at the file's end; how many it wrote, or -1 with errno set.
    long long (*write)(int fd, const char* data, std::size_t size);
    // Forces what was written to the disk; 0, or -1 with errno set.
    int (*sync)(int fd);
};
RecordCalls& RecordIo();

}  // namespace vexil
