// What record files need of the platform's file system, one implementation per platform
// (RecordFilePosix.cpp, RecordFileWindows.cpp); RecordFile.cpp builds the records on it.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

#include "platform/RecordFile.h"

namespace vexil::records {

// Opens a regular file for writing, creating it when missing, without ever blocking; refuses
// what is not a regular file. The descriptor, or -1 with `reason` set.
int Open(const std::string& path, RecordMode mode, std::string& reason);
void Close(int fd);
// Writes `text` in one write, flushes it to the disk and closes `fd`; the reason of a failure,
// or empty.
std::string WriteAndClose(int fd, std::string_view text);
void Remove(const std::string& path);
// Whether two full names are one, as the platform's file system compares them.
bool SameName(const std::filesystem::path& a, const std::filesystem::path& b);
// Puts `from` in the place of `to` in one step; the reason of a failure, or empty.
std::string Replace(const std::string& from, const std::string& to);

}  // namespace vexil::records
