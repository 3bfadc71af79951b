// Files the tools write: a download file, an extracted image, the simulator's flash. An output
// must be a regular file (or not exist yet): a FIFO would hold the tool until a reader comes, a
// device or a folder takes nothing sensible, and an output that is the tool's own input would
// be overwritten while it is still the source.
#pragma once

#include <cstdio>
#include <string>

namespace vexil {

// Whether `path` can be written as an output, without creating or changing it: it is a regular
// file that may be written and is not the file `input` names (the same device and inode, also
// through a symbolic or hard link), or it does not exist and its folder may be written. Empty
// when it can; otherwise the reason, naming the path.
std::string OutputRefusal(const std::string& path, const std::string& input = {});

// Opens `path` for writing from its start, creating it when missing. A path that is not a
// regular file is refused without waiting (a FIFO is never waited on) and left as it is.
// nullptr with the reason in `error` when refused or when it does not open.
std::FILE* OpenOutputFile(const std::string& path, std::string& error);

}  // namespace vexil
