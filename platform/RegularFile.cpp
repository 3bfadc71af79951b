#include "platform/RegularFile.h"

#include <cerrno>
#include <filesystem>

#include "platform/RegularFileSystem.h"
#include "platform/WidePath.h"

namespace vexil {

namespace {

Reason NotRegular(const std::string& path) {
    return Reason::Named(ReasonKind::kPathNotRegular, path);
}

Reason CannotWrite(const std::string& path, const Reason& reason) {
    return reason.Because(ReasonKind::kCannotWrite, path);
}

}  // namespace

Reason FileRefusal::Reason() const {
    return kind == ReasonKind::kNone ? ::vexil::Reason::System(error) : ::vexil::Reason(kind);
}

std::FILE* OpenFile(const std::string& path, FileUse use, FileRefusal& refusal) {
    const int fd = OpenFileDescriptor(path, use, refusal);
    if (fd < 0) {
        return nullptr;
    }
    const bool reads = use == FileUse::kRead || use == FileUse::kReadStream;
    std::FILE* file = files::StreamOver(fd, reads ? "rb" : use == FileUse::kAppend ? "ab" : "wb");
    if (file == nullptr) {
        refusal.error = errno;
    }
    return file;
}

std::FILE* OpenRegularFile(const std::string& path) {
    FileRefusal refusal;
    return OpenFile(path, FileUse::kRead, refusal);
}

Reason OutputRefusal(const std::string& path, const std::string& input) {
    FileRefusal refusal;
    std::FILE* probe = OpenFile(path, FileUse::kCheck, refusal);
    if (probe != nullptr) {
        std::fclose(probe);
    }
    if (refusal.NotRegular()) {
        return NotRegular(path);
    }
    if (probe == nullptr && refusal.error == ENOENT) {
        // A new file: its folder must be there and take it.
        const std::filesystem::path named = WidePath(path).parent_path();
        const Reason reason = CheckFolder(named.empty() ? "." : Utf8Text(named));
        return reason.empty() ? Reason() : CannotWrite(path, reason);
    }
    std::error_code error;
    if (!input.empty() && std::filesystem::equivalent(WidePath(input), WidePath(path), error)) {
        Reason same = Reason::Named(ReasonKind::kIsInputFile, path);
        same.other = input;
        return same;
    }
    return probe != nullptr ? Reason() : CannotWrite(path, refusal.Reason());
}

std::FILE* OpenOutputFile(const std::string& path, Reason& error) {
    FileRefusal refusal;
    std::FILE* file = OpenFile(path, FileUse::kWrite, refusal);
    if (file == nullptr) {
        error = refusal.NotRegular() ? NotRegular(path) : CannotWrite(path, refusal.Reason());
    }
    return file;
}

}  // namespace vexil
