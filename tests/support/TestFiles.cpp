#include "tests/support/TestFiles.h"

#include <atomic>
#include <ctime>
#include <fstream>

#include "tests/support/TestPlatform.h"

namespace vexil::test {

bool SetLocalModificationTime(const std::string& path, int hour, int minute, int second) {
    std::tm local{};
    local.tm_year = 2026 - 1900;
    local.tm_mon = 2;
    local.tm_mday = 4;
    local.tm_hour = hour;
    local.tm_min = minute;
    local.tm_sec = second;
    local.tm_isdst = -1;
    const std::time_t when = std::mktime(&local);
    return SetFileTime(path, when);
}

ScratchDir::ScratchDir() {
    static std::atomic<int> counter{0};
    path_ = std::filesystem::temp_directory_path() /
            ("vexil-test-" + std::to_string(ProcessId()) + "-" + std::to_string(counter++));
    std::filesystem::remove_all(path_);
    std::filesystem::create_directories(path_);
}

ScratchDir::~ScratchDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

std::string ScratchDir::File(const std::string& name, const Bytes& contents) const {
    const auto file = path_ / name;
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(contents.data()),
              static_cast<std::streamsize>(contents.size()));
    return file.string();
}

WorkingDir::WorkingDir(const std::filesystem::path& to)
    : previous_(std::filesystem::current_path()) {
    std::filesystem::current_path(to);
}

WorkingDir::~WorkingDir() {
    std::filesystem::current_path(previous_);
}

}  // namespace vexil::test
