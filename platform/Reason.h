// Why something the programs did with a file failed, as data: the kind of failure and what it
// met (a path, a number, the system's error), never words. The platform and the formats make
// these and have no catalogs; the words are chosen in one place above them, in the reader's
// language (resources/Reasons.h), so that a Japanese line never carries an English reason.
#pragma once

#include <memory>
#include <string>
#include <system_error>
#include <utility>

namespace vexil {

enum class ReasonKind {
    kNone,          // nothing went wrong
    kSystem,        // the system's error: `error`, an errno value
    kWindowsError,  // a Windows error that has no errno value: `number`
    // What a path names when it is no regular file.
    kFolder,
    kFifo,
    kNotRegular,
    // The records (RecordFile.h).
    kNoFileNamed,
    kDanglingLink,     // a link to a file that is not there (Windows)
    kPartWritten,      // a write came short; `cause`: what became of the part written, if told
    kPartTakenBack,    // ... the part was cut off again
    kPartStays,        // ... it stays, as it could not be cut off: `cause`
    kPartFollowed,     // ... it stays, as another line follows it
    kFolderNotSynced,  // the folder of a new name did not reach the disk: `cause`
    kNotReplaced,      // the new text could not take the file's place: `cause`
    kItsFolder,        // `path` is the folder of the record, which cannot take it: `cause`
    kNoNewText,        // no new text can be made in the folder `path`: `cause`
    kNoFreeName,       // every name drawn for it was taken
    // The tools' outputs (RegularFile.h) and what the formats write.
    kCannotWrite,     // `path` cannot be written: `cause`
    kPathNotRegular,  // `path` is no regular file
    kIsInputFile,     // `path` is the input file `other`
    kWritingFailed,   // writing `path` failed
    kRecordBytes,     // a record's data bytes must be 1 to `number`
    kPast24Bits,      // the image reaches past the 24-bit address space: highest `number`
    kIdentTaken,      // the image already holds data where the identification goes
    // S-record text: each on line `number` (kept together, kNotSRecord to kAboveHighest).
    kNotSRecord,
    kOddDigits,
    kNotHexDigit,
    kCountMismatch,
    kChecksumMismatch,
    kS4Record,
    kShortForAddress,
    kPastAddressSpace,
    kAboveHighest,  // data above `value`, the highest address allowed
    // How a child process ended (Process.h).
    kEndedBySignal,    // by signal `number`
    kEndedWithStatus,  // by itself, with exit status `number`
    kEndedByCtrlC,     // by Ctrl-C (Windows)
};

struct Reason {
    ReasonKind kind = ReasonKind::kNone;
    int error = 0;         // kSystem
    long long number = 0;  // a line, a count, an address, a Windows error
    unsigned long long value = 0;
    std::string path;
    std::string other;
    std::shared_ptr<const Reason> cause;  // what lies under it, when it is told

    Reason() = default;
    Reason(ReasonKind what) : kind(what) {}  // NOLINT: a kind alone is a whole reason

    // Nothing went wrong.
    bool empty() const { return kind == ReasonKind::kNone; }

    static Reason System(int errnoValue) {
        Reason reason(ReasonKind::kSystem);
        reason.error = errnoValue;
        return reason;
    }
    static Reason Numbered(ReasonKind what, long long count) {
        Reason reason(what);
        reason.number = count;
        return reason;
    }
    static Reason Named(ReasonKind what, std::string where) {
        Reason reason(what);
        reason.path = std::move(where);
        return reason;
    }
    // `kind`, and `cause` under it.
    Reason Because(ReasonKind outer, std::string where = {}) const {
        Reason reason(outer);
        reason.path = std::move(where);
        reason.cause = std::make_shared<const Reason>(*this);
        return reason;
    }
};

// The reason of a std::error_code that the C++ library gave (std::filesystem's): its errno
// value, or on Windows the Windows error it stands for. In the platform's units.
Reason ErrorReason(const std::error_code& error);

}  // namespace vexil
