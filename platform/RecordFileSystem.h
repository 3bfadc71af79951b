// What record files need of the platform's file system, one implementation per platform
// (RecordFilePosix.cpp, RecordFileWindows.cpp); RecordFile.cpp builds the records on it and on
// the opener of regular files (RegularFile.h).
// Paths are UTF-8; descriptors are the C runtime's.
#pragma once

#include <filesystem>
#include <string>

#include "platform/Reason.h"

namespace vexil::records {

// The absolute name of the file that `path` names once its symbolic links are followed: the
// final target of a link, which need not exist yet. Empty with `reason` set when the links
// cannot be followed (a loop; on Windows a link to a file that is not there).
std::string FinalName(const std::string& path, Reason& reason);

// Creates `name` for writing, only if no file of that name exists (false in `free` when one
// does), with the permissions of `like` when that exists. The descriptor, or -1 with `reason`
// set.
int CreateNew(const std::string& name, const std::string& like, bool& free, Reason& reason);

// A lock that every writer of records holds around its write to a file and the undoing of a
// short one, so that no other line comes between. False at once when it is not taken: with
// `busy` set when another holds it, else the file system has no such lock.
bool TryLock(int fd, bool& busy);
void Unlock(int fd);

// The descriptor's position, and its file's size; -1 with errno set when unknown.
long long Position(int fd);
long long Size(int fd);
// Cuts the file to `size` bytes; 0, or -1 with errno set.
int Truncate(int fd, long long size);
// 0, or -1 with errno set.
int Close(int fd);

void Remove(const std::string& name);
// Puts `from` in the place of `to` in one step, and forces the change to the disk; the reason
// of a failure, or empty.
Reason Replace(const std::string& from, const std::string& to);
// Gives `from` the name `to` in one step, only while no file has that name, and forces the
// change to the disk. False with `reason` set when `from` keeps its name (a file has that name,
// or the file system cannot tell); true when it was placed, with `reason` set when the change
// may not be on the disk yet.
bool PlaceNew(const std::string& from, const std::string& to, Reason& reason);
// Whether the existing file `name` is the one open on the C runtime's descriptor `fd`.
bool IsOpenOn(const std::string& name, int fd);
// Whether two full names are one, as the platform's file system compares them.
bool SameName(const std::filesystem::path& a, const std::filesystem::path& b);

// The calls that RecordIo() starts with.
long long Write(int fd, const char* data, std::size_t size);
int Sync(int fd);

}  // namespace vexil::records
