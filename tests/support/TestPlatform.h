// What the tests need of the platform they run on, one unit per platform: the process's open
// descriptors (handles on Windows) and threads, file times, the environment, FIFOs and the null
// device, standard descriptors closed, a file size limit.
#pragma once

#include <ctime>
#include <optional>
#include <string>
#include <vector>

namespace vexil::test {

// How many descriptors (Windows: handles) the process has open now.
int OpenDescriptorCount();
// How many threads the process has now.
int ThreadCount();
int ProcessId();
// Sets the file's modification (and access) time.
bool SetFileTime(const std::string& path, std::time_t when);
// Sets or (with no value) removes an environment variable; a change of TZ takes effect at once.
void SetEnvironment(const char* name, const std::optional<std::string>& value);
// Makes a FIFO; false where the platform has none in its file system.
bool MakeFifo(const std::string& path);
// The path of the device that takes every write and keeps nothing: a file that is no regular
// one.
const char* NullDevice();
// Closes standard descriptor `fd` (0 to 2) as a scheduler may start a program, keeping what it
// was under another number for RestoreStandard; -1 when it cannot.
int CloseStandard(int fd);
void RestoreStandard(int kept, int fd);
// Limits the size of the files this process writes to `bytes`, so that a write past it comes
// short as on a full disk (the signal of such a write ignored); a negative size lifts the limit.
// False where the platform has no such limit.
bool LimitFileSize(long long bytes);
// Paths of devices, none of them a regular file: /dev/null and /dev/zero; on Windows its device
// names (NUL, CON, AUX, COM1), which stand for the device in every folder, `folder` among them.
std::vector<std::string> DevicePaths(const std::string& folder);
// Whether the platform keeps device names in every folder (Windows does).
bool HasDeviceNames();

}  // namespace vexil::test
