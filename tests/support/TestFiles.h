// Files on disk for tests: scratch folders, the working directory, modification times, and a
// count of the process's open file descriptors.
#pragma once

#include <filesystem>
#include <string>

#include "tests/support/Records.h"
#include "tests/support/TestPlatform.h"

namespace vexil::test {

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

}  // namespace vexil::test
