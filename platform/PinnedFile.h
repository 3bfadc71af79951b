// A download file held still for the whole download: its bytes are read from the original once,
// hashed as they are read and copied into a private file of the program's own that no other
// program can name or change, and every later read (the check of its records, the transfer)
// reads that copy. What was checked and hashed is then what is sent, whatever becomes of the
// original in between. The copy takes the file's size on the temporary folder's disk, never in
// memory, and is gone when the pinned file is released or the program ends. The platform's side
// (how a private file is made) is in PinnedFilePosix.cpp and PinnedFileWindows.cpp.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "platform/RegularFile.h"
#include "platform/Sha256.h"

namespace vexil {

class PinnedFile {
  public:
    PinnedFile() = default;
    ~PinnedFile() { Release(); }
    PinnedFile(PinnedFile&& other) noexcept;
    PinnedFile& operator=(PinnedFile&& other) noexcept;
    PinnedFile(const PinnedFile&) = delete;
    PinnedFile& operator=(const PinnedFile&) = delete;

    // Reads the regular file `path` (UTF-8) once into a private copy, hashing it; false with
    // `refusal` set when it does not open, cannot be read whole or no copy can be made. What was
    // pinned before is released first.
    bool Pin(const std::string& path, FileRefusal& refusal);
    bool Pinned() const { return fd_ >= 0; }
    // A stream over the pinned bytes from their first, which the caller closes; nullptr when
    // none is pinned or no stream can be made. One stream at a time: each shares the copy's
    // position.
    std::FILE* Open() const;
    std::uint64_t Size() const { return size_; }
    // The SHA-256 of the pinned bytes, as sha256sum writes it.
    const std::string& Sha256Hex() const { return sha256_; }
    void Release();

  private:
    int fd_ = -1;
    std::uint64_t size_ = 0;
    std::string sha256_;
};

}  // namespace vexil
