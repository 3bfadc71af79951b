// What the one opener of regular files (RegularFile.cpp) needs of the platform beyond its
// descriptor (OpenFileDescriptor, in RegularFilePosix.cpp and RegularFileWindows.cpp).
#pragma once

#include <cstdio>

namespace vexil::files {

// A stream of the C runtime over `fd` in `mode` ("rb", "ab", "wb"), which then owns it; nullptr
// with errno set when none can be made, `fd` closed.
std::FILE* StreamOver(int fd, const char* mode);

}  // namespace vexil::files
