#include "tests/support/TestFiles.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <atomic>
#include <ctime>
#include <fstream>
#include <random>

#include "engine/DownloadFile.h"

namespace vexil::test {

Bytes DataRecord(std::uint32_t address, const Bytes& data) {
    Bytes record = {'S',
                    '2',
                    static_cast<std::uint8_t>(data.size() + 4),
                    static_cast<std::uint8_t>(address >> 16),
                    static_cast<std::uint8_t>(address >> 8),
                    static_cast<std::uint8_t>(address)};
    record.insert(record.end(), data.begin(), data.end());
    unsigned sum = 0;
    for (std::size_t i = 2; i < record.size(); ++i) {
        sum += record[i];
    }
    record.push_back(static_cast<std::uint8_t>(~sum & 0xFF));
    record.push_back(0x0A);
    return record;
}

Bytes DataRecord(std::uint32_t address, std::size_t dataCount, std::uint8_t fill) {
    return DataRecord(address, Bytes(dataCount, fill));
}

Bytes HeaderRecord() {
    return {'S', '0', 0x03};
}
Bytes EndRecord() {
    return {'S', '8', 0x04};
}

Bytes Join(const std::vector<Bytes>& parts) {
    Bytes all;
    for (const Bytes& part : parts) {
        all.insert(all.end(), part.begin(), part.end());
    }
    return all;
}

std::vector<Bytes> FileBlocks(const std::string& path, std::size_t capacity) {
    std::vector<Bytes> blocks;
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) {
        return blocks;
    }
    RecordingSink sink;
    std::uint8_t buffer[kBlockBufferSize];
    for (;;) {
        std::uint32_t length = 0;
        const int result = ReadRecordBlock(file, buffer, length, sink, capacity);
        if (result < 0) {
            return blocks;  // the reader has closed the file
        }
        blocks.emplace_back(buffer, buffer + length);
        if (result == 1) {
            std::fclose(file);
            return blocks;
        }
    }
}

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
    const timeval times[2] = {{when, 0}, {when, 0}};
    return ::utimes(path.c_str(), times) == 0;
}

ScratchDir::ScratchDir() {
    static std::atomic<int> counter{0};
    path_ = std::filesystem::temp_directory_path() /
            ("vexil-test-" + std::to_string(::getpid()) + "-" + std::to_string(counter++));
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

int OpenLoopbackListener(int port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int one = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in at{};
    at.sin_family = AF_INET;
    at.sin_port = htons(static_cast<std::uint16_t>(port));
    at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&at), sizeof at) != 0 ||
        ::listen(fd, 4) != 0) {
        if (fd >= 0) {
            ::close(fd);
        }
        return -1;
    }
    return fd;
}

int OpenDescriptorCount() {
    int count = 0;
    for ([[maybe_unused]] const auto& entry :
         std::filesystem::directory_iterator("/proc/self/fd")) {
        ++count;
    }
    return count;
}

}  // namespace vexil::test
