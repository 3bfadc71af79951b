#include <io.h>
#include <windows.h>
// After windows.h, which it needs.
#include <tlhelp32.h>

#include <cstdlib>
#include <ctime>

#include "tests/support/TestPlatform.h"

namespace vexil::test {

int OpenDescriptorCount() {
    DWORD count = 0;
    return ::GetProcessHandleCount(::GetCurrentProcess(), &count) ? static_cast<int>(count) : -1;
}

int ThreadCount() {
    const HANDLE snapshot = ::CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    if (snapshot == INVALID_HANDLE_VALUE) {
        return -1;
    }
    // The snapshot holds every process's threads; those of this one are counted.
    int count = 0;
    THREADENTRY32 entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = ::Thread32First(snapshot, &entry); more;
         more = ::Thread32Next(snapshot, &entry)) {
        count += entry.th32OwnerProcessID == ::GetCurrentProcessId() ? 1 : 0;
    }
    ::CloseHandle(snapshot);
    return count;
}

int ProcessId() {
    return static_cast<int>(::GetCurrentProcessId());
}

bool SetFileTime(const std::string& path, std::time_t when) {
    HANDLE file =
        ::CreateFileA(path.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE,
                      nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return false;
    }
    // Seconds since 1970 as 100-nanosecond intervals since 1601.
    const ULONGLONG ticks = (static_cast<ULONGLONG>(when) + 11644473600ULL) * 10000000ULL;
    FILETIME time;
    time.dwLowDateTime = static_cast<DWORD>(ticks);
    time.dwHighDateTime = static_cast<DWORD>(ticks >> 32);
    const bool set = ::SetFileTime(file, nullptr, &time, &time) != 0;
    ::CloseHandle(file);
    return set;
}

void SetEnvironment(const char* name, const std::optional<std::string>& value) {
    ::_putenv_s(name, value ? value->c_str() : "");
    ::_tzset();
}

bool MakeFifo(const std::string&) {
    return false;
}

const char* NullDevice() {
    return "NUL";
}

int CloseStandard(int fd) {
    const int kept = ::_dup(fd);
    ::_close(fd);
    return kept;
}

void RestoreStandard(int kept, int fd) {
    ::_dup2(kept, fd);
    ::_close(kept);
}

bool LimitFileSize(long long) {
    return false;
}

std::vector<std::string> DevicePaths(const std::string& folder) {
    return {"NUL", "CON", "AUX", "COM1", "nul", folder + "\\NUL", folder + "/com1"};
}

bool HasDeviceNames() {
    return true;
}

}  // namespace vexil::test
