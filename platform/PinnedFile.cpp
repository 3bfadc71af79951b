#include "platform/PinnedFile.h"

#include <cerrno>
#include <memory>
#include <utility>

#include "platform/RegularFileSystem.h"

namespace vexil {

namespace {

// The piece the original is read in: large enough that the system calls cost little beside the
// hash, small enough that a download's memory does not grow with its image.
constexpr std::size_t kPieceBytes = 64 * 1024;

}  // namespace

PinnedFile::PinnedFile(PinnedFile&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)),
      size_(std::exchange(other.size_, 0)),
      sha256_(std::move(other.sha256_)) {}

PinnedFile& PinnedFile::operator=(PinnedFile&& other) noexcept {
    if (this != &other) {
        Release();
        fd_ = std::exchange(other.fd_, -1);
        size_ = std::exchange(other.size_, 0);
        sha256_ = std::move(other.sha256_);
    }
    return *this;
}

void PinnedFile::Release() {
    if (fd_ >= 0) {
        files::CloseDescriptor(fd_);
        fd_ = -1;
    }
    size_ = 0;
    sha256_.clear();
}

bool PinnedFile::Pin(const std::string& path, FileRefusal& refusal) {
    Release();
    const int original = OpenFileDescriptor(path, FileUse::kRead, refusal);
    if (original < 0) {
        return false;
    }
    const int copy = files::PrivateFileDescriptor();
    if (copy < 0) {
        refusal.error = errno;
        files::CloseDescriptor(original);
        return false;
    }
    const auto piece = std::make_unique<unsigned char[]>(kPieceBytes);
    Sha256 hash;
    std::uint64_t size = 0;
    int error = 0;
    for (;;) {
        const long long got = files::ReadSome(original, piece.get(), kPieceBytes);
        if (got < 0) {
            error = errno;
            break;
        }
        if (got == 0) {
            break;
        }
        const auto count = static_cast<std::size_t>(got);
        hash.Update(piece.get(), count);
        if (!files::WriteAll(copy, piece.get(), count)) {
            error = errno;
            break;
        }
        size += count;
    }
    files::CloseDescriptor(original);
    if (error == 0 && !files::Rewind(copy)) {
        error = errno;
    }
    if (error != 0) {
        files::CloseDescriptor(copy);
        refusal.error = error;
        return false;
    }
    fd_ = copy;
    size_ = size;
    sha256_ = HexDigest(hash.Final());
    return true;
}

std::FILE* PinnedFile::Open() const {
    if (fd_ < 0) {
        return nullptr;
    }
    const int stream = files::DuplicateDescriptor(fd_);
    if (stream < 0) {
        return nullptr;
    }
    if (!files::Rewind(stream)) {
        files::CloseDescriptor(stream);
        return nullptr;
    }
    return files::StreamOver(stream, "rb");
}

}  // namespace vexil
