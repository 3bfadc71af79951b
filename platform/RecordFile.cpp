#include "platform/RecordFile.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <random>
#include <thread>

#include "platform/RecordFileSystem.h"
#include "platform/RegularFile.h"
#include "platform/WidePath.h"

namespace vexil {

namespace {

// The folder of an absolute name.
std::string FolderOf(const std::string& name) {
    return Utf8Text(WidePath(name).parent_path());
}

// Whether `name` (no link) can take records, changing nothing: false in `exists` when there is
// no such file; a reason when it is no regular file or does not open for writing.
Reason CheckExisting(const std::string& name, bool& exists) {
    FileRefusal refusal;
    const int fd = OpenFileDescriptor(name, FileUse::kCheck, refusal);
    exists = fd >= 0 || refusal.NotRegular() || refusal.error != ENOENT;
    if (fd >= 0) {
        records::Close(fd);
        return {};
    }
    return exists ? refusal.Reason() : Reason();
}

// A name for the new text of `name`, beside it: ".NAME.xxxxxxxx". It only has to be unlikely
// to be taken, since the file is created only if no file has that name, and another name is
// drawn when one has.
std::string TemporaryName(const std::string& name) {
    const std::filesystem::path full = WidePath(name);
    std::string leaf = Utf8Text(full.filename());
    // Room for the dot and the suffix within a name's 255 bytes (UTF-16 units on Windows), cut
    // before a character, never inside one.
    constexpr std::size_t kLeafBytes = 200;
    if (leaf.size() > kLeafBytes) {
        std::size_t cut = kLeafBytes;
        while (cut > 0 && (static_cast<unsigned char>(leaf[cut]) & 0xC0) == 0x80) {
            --cut;
        }
        leaf.resize(cut);
    }
    static std::atomic<std::uint64_t> drawn{0};
    std::uint64_t value =
        static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count()) ^
        (++drawn * 0x9E3779B97F4A7C15ULL);
    try {
        std::random_device device;
        value ^= (static_cast<std::uint64_t>(device()) << 32) ^ device();
    } catch (const std::exception&) {
        // The clock and the count alone: another name is drawn if this one is taken.
    }
    static constexpr char kLetters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    std::string suffix;
    for (int i = 0; i < 8; ++i, value /= 36) {
        suffix += kLetters[value % 36];
    }
    return Utf8Text(full.parent_path() / WidePath("." + leaf + "." + suffix));
}

// Takes the lock of the writers of records. Another writer holds it for one write; a lock held
// much longer is no writer of records, and the line goes without it rather than wait without
// end (appends are still whole; only the undoing of a short write may then meet another line
// after it, and leaves it alone).
bool Lock(int fd) {
    using namespace std::chrono_literals;
    const auto deadline = std::chrono::steady_clock::now() + 2s;
    for (;;) {
        bool busy = false;
        if (records::TryLock(fd, busy)) {
            return true;
        }
        if (!busy || std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(2ms);
    }
}

// After a write at the end of the file came short: takes back the `written` bytes it left, so
// that the file holds only whole lines. Where they began: the descriptor is this process's own,
// and its position after an appending write is where that write's bytes end (the write moved it
// to the end of the file first), so they begin `written` bytes before. The file's size, unlike
// the position, counts lines that other processes appended later; the bytes are cut off only
// when they are still the last of the file, so that no later line is lost. Every writer holds
// the lock from its write to this check and cut, so none can append in between. What became of
// the part written.
Reason TakeBack(int fd, long long written) {
    const auto stays = [] { return Reason::System(errno).Because(ReasonKind::kPartStays); };
    const long long end = records::Position(fd);
    if (end < written) {
        return stays();
    }
    const long long size = records::Size(fd);
    if (size != end) {
        return size < 0 ? stays() : Reason(ReasonKind::kPartFollowed);
    }
    if (records::Truncate(fd, end - written) != 0) {
        return stays();
    }
    RecordIo().sync(fd);
    return ReasonKind::kPartTakenBack;
}

// Writes `text` to `fd` in one write and forces it to the disk; what an appending write that
// comes short leaves is taken back. The reason of a failure, or empty.
Reason WriteWhole(int fd, std::string_view text, bool append) {
    const bool locked = append && Lock(fd);
    long long written = -1;
    do {
        written = RecordIo().write(fd, text.data(), text.size());
    } while (written < 0 && errno == EINTR);
    Reason reason;
    if (written < 0) {
        reason = Reason::System(errno);
    } else if (static_cast<std::size_t>(written) != text.size()) {
        reason = append && written > 0 ? TakeBack(fd, written).Because(ReasonKind::kPartWritten)
                                       : Reason(ReasonKind::kPartWritten);
    }
    if (locked) {
        records::Unlock(fd);
    }
    if (reason.empty() && RecordIo().sync(fd) != 0) {
        reason = Reason::System(errno);
    }
    return reason;
}

Reason Closed(int fd, Reason reason) {
    if (records::Close(fd) != 0 && reason.empty() && errno != EINTR) {
        reason = Reason::System(errno);
    }
    return reason;
}

Reason Replace(const std::string& name, std::string_view text) {
    // The new text is written beside the file, under a name no other file has, and takes the
    // file's place when it is whole on the disk: what the file held stays until then.
    bool exists = false;
    if (Reason reason = CheckExisting(name, exists); !reason.empty()) {
        return reason;
    }
    std::string temporary;
    int fd = -1;
    Reason reason;
    for (int tries = 0; fd < 0 && tries < 100; ++tries) {
        temporary = TemporaryName(name);
        bool free = true;
        fd = records::CreateNew(temporary, name, free, reason);
        if (fd < 0 && free) {
            return reason.Because(ReasonKind::kNoNewText, FolderOf(name));
        }
    }
    if (fd < 0) {
        return Reason(ReasonKind::kNoFreeName).Because(ReasonKind::kNoNewText, FolderOf(name));
    }
    reason = Closed(fd, WriteWhole(fd, text, false));
    if (reason.empty()) {
        reason = records::Replace(temporary, name);
    }
    if (!reason.empty()) {
        records::Remove(temporary);
    }
    return reason;
}

// A log that is not there yet is made with its first line: the line goes to a new file of a name
// of its own beside it, which takes the log's name once the line is whole on the disk, and only
// while no other writer has made the log in the meantime. A line that cannot be written then
// leaves no empty log behind, as a short line leaves no part of it. True with the reason (empty
// when it is on the disk) when the line is done with; false when the log is to be opened and
// appended to as it is: another writer made it, or no file could be made beside it (the open
// then tells why).
bool MadeWithFirstLine(const std::string& name, std::string_view text, Reason& reason) {
    std::string temporary;
    int fd = -1;
    for (int tries = 0; fd < 0 && tries < 100; ++tries) {
        temporary = TemporaryName(name);
        bool free = true;
        fd = records::CreateNew(temporary, name, free, reason);
        if (fd < 0 && free) {
            return false;
        }
    }
    if (fd < 0) {
        return false;
    }
    const Reason written = Closed(fd, WriteWhole(fd, text, false));
    if (written.empty() && records::PlaceNew(temporary, name, reason)) {
        return true;
    }
    records::Remove(temporary);
    if (!written.empty()) {
        reason = written;  // and nothing of it is left
        return true;
    }
    return false;
}

}  // namespace

RecordCalls& RecordIo() {
    static RecordCalls calls{records::Write, records::Sync};
    return calls;
}

bool NamesOneFile(const std::string& a, const std::string& b) {
    // Each through its links, also one that names a file not there yet: the file written would
    // be the one its link names.
    Reason reason;
    std::string first = records::FinalName(a, reason);
    std::string second = records::FinalName(b, reason);
    const std::filesystem::path one = WidePath(first.empty() ? AbsolutePath(a) : first);
    const std::filesystem::path other = WidePath(second.empty() ? AbsolutePath(b) : second);
    std::error_code error;
    if (std::filesystem::equivalent(one, other, error)) {
        return true;
    }
    // A file that does not exist yet has no identity to compare: its full name stands for it.
    return records::SameName(std::filesystem::weakly_canonical(one, error),
                             std::filesystem::weakly_canonical(other, error));
}

bool NamesStandardOutput(const std::string& path) {
    Reason reason;
    const std::string name = records::FinalName(path, reason);
    return !name.empty() && records::IsOpenOn(name, 1);
}

Reason CheckRecordFile(const std::string& path, RecordMode mode) {
    if (path.empty()) {
        return ReasonKind::kNoFileNamed;
    }
    Reason reason;
    const std::string name = records::FinalName(path, reason);
    if (name.empty()) {
        return reason;
    }
    bool exists = false;
    if (reason = CheckExisting(name, exists); !reason.empty()) {
        return reason;
    }
    if (exists && mode == RecordMode::kAppend) {
        return {};
    }
    const std::string folder = FolderOf(name);
    if (reason = CheckFolder(folder); !reason.empty()) {
        return reason.Because(ReasonKind::kItsFolder, folder);
    }
    return {};
}

Reason WriteRecord(const std::string& path, std::string_view text, RecordMode mode) {
    if (path.empty()) {
        return ReasonKind::kNoFileNamed;
    }
    Reason reason;
    const std::string name = records::FinalName(path, reason);
    if (name.empty()) {
        return reason;
    }
    if (mode == RecordMode::kReplace) {
        return Replace(name, text);
    }
    if (KindOf(name) == FileKind::kMissing && MadeWithFirstLine(name, text, reason)) {
        return reason;
    }
    FileRefusal refusal;
    const int fd = OpenFileDescriptor(name, FileUse::kAppend, refusal);
    // One write, so that the lines that several processes append never interleave.
    return fd < 0 ? refusal.Reason() : Closed(fd, WriteWhole(fd, text, true));
}

}  // namespace vexil
