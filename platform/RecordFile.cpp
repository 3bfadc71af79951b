#include "platform/RecordFile.h"

#include "platform/RecordFileSystem.h"
#include "platform/WidePath.h"

namespace vexil {

bool NamesOneFile(const std::string& a, const std::string& b) {
    const std::filesystem::path first = WidePath(AbsolutePath(a));
    const std::filesystem::path second = WidePath(AbsolutePath(b));
    std::error_code error;
    if (std::filesystem::equivalent(first, second, error)) {
        return true;
    }
    // A file that does not exist yet has no identity to compare: its full name stands for it.
    return records::SameName(std::filesystem::weakly_canonical(first, error),
                             std::filesystem::weakly_canonical(second, error));
}

std::string CheckRecordFile(const std::string& path) {
    std::string reason;
    if (const int fd = records::Open(path, RecordMode::kAppend, reason); fd >= 0) {
        records::Close(fd);
    }
    return reason;
}

std::string WriteRecord(const std::string& path, std::string_view text, RecordMode mode) {
    if (mode == RecordMode::kReplace) {
        // What the file held stays until the new text is whole on the disk: written beside it,
        // then put in its place in one step.
        if (std::string reason = CheckRecordFile(path); !reason.empty()) {
            return reason;
        }
        const std::string temporary = path + ".new";
        records::Remove(temporary);
        std::string reason = WriteRecord(temporary, text, RecordMode::kAppend);
        if (reason.empty()) {
            reason = records::Replace(temporary, path);
        }
        if (!reason.empty()) {
            records::Remove(temporary);
        }
        return reason;
    }
    std::string reason;
    const int fd = records::Open(path, mode, reason);
    // One write, so that the lines that several processes append never interleave.
    return fd < 0 ? reason : records::WriteAndClose(fd, text);
}

}  // namespace vexil
