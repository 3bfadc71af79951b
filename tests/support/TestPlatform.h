// What the tests need of the platform they run on, one unit per platform: the process's open
// descriptors (handles on Windows), file times, the environment, FIFOs and the null device.
#pragma once

#include <ctime>
#include <optional>
#include <string>

namespace vexil::test {

// How many descriptors (Windows: handles) the process has open now.
int OpenDescriptorCount();
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

}  // namespace vexil::test
