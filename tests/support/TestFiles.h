// Helpers shared by the tests: download-file records built byte by byte, scratch folders, and a
// count of the process's open file descriptors.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "engine/DialogPort.h"

namespace vexil::test {

using Bytes = std::vector<std::uint8_t>;

// A data record: 'S' '2' count, 24-bit address, data, checksum, line feed.
Bytes DataRecord(std::uint32_t address, const Bytes& data);
// The same with `dataCount` data bytes of value `fill`.
Bytes DataRecord(std::uint32_t address, std::size_t dataCount, std::uint8_t fill = 0x5A);
Bytes HeaderRecord();
Bytes EndRecord();
Bytes Join(const std::vector<Bytes>& parts);

// The blocks of a sound download file as the reader gives them, for `capacity` (512 for TCP/IP,
// 504 for IPX); reading stops at the end record or at the reader's first failure.
std::vector<Bytes> FileBlocks(const std::string& path, std::size_t capacity = 512);

// Sets the file's last modification to hh:mm:ss local time on 2026-03-04: the companion file
// carries the main file's version in its time of day.
bool SetLocalModificationTime(const std::string& path, int hour, int minute, int second = 0);

// A fresh folder under the system's temporary folder, removed with the object.
class ScratchDir {
  public:
    ScratchDir();
    ~ScratchDir();
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;
    const std::filesystem::path& path() const { return path_; }
    std::string File(const std::string& name, const Bytes& contents) const;

  private:
    std::filesystem::path path_;
};

// Changes the working directory for the life of the object.
class WorkingDir {
  public:
    explicit WorkingDir(const std::filesystem::path& to);
    ~WorkingDir();

  private:
    std::filesystem::path previous_;
};

int OpenDescriptorCount();

// A TCP socket listening on 127.0.0.1:`port`, or -1.
int OpenLoopbackListener(int port);

// Messages as the engine shows them, in order.
struct RecordedMessage {
    int id;
    Icon icon;
    bool operator==(const RecordedMessage&) const = default;
};

class RecordingSink : public MessageSink {
  public:
    void ShowMessage(int stringId, Icon icon) override { messages.push_back({stringId, icon}); }
    std::vector<RecordedMessage> messages;
};

}  // namespace vexil::test
