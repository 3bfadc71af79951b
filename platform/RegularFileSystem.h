// What the one opener of regular files (RegularFile.cpp) needs of the platform beyond its
// descriptor (OpenFileDescriptor, in RegularFilePosix.cpp and RegularFileWindows.cpp).
#pragma once

#include <cstddef>
#include <cstdio>

namespace vexil::files {

// A stream of the C runtime over `fd` in `mode` ("rb", "ab", "wb"), which then owns it; nullptr
// with errno set when none can be made, `fd` closed.
std::FILE* StreamOver(int fd, const char* mode);

}  // namespace vexil::files

// What a pinned file (PinnedFile.cpp) needs of the platform: a private file that no other
// program can name, open or change, read and written through a descriptor of the C runtime and
// gone once its last descriptor is closed; -1 with errno set when none can be made.
namespace vexil::files {

int PrivateFileDescriptor();
// Up to `count` bytes: how many were read, 0 at the end, -1 with errno set.
long long ReadSome(int fd, void* into, std::size_t count);
// All `count` bytes, or false with errno set.
bool WriteAll(int fd, const void* from, std::size_t count);
// Back to the first byte; false with errno set.
bool Rewind(int fd);
// A second descriptor of the same open file (its position shared), or -1.
int DuplicateDescriptor(int fd);
void CloseDescriptor(int fd);

}  // namespace vexil::files
