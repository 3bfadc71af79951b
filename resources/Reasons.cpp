#include "resources/Reasons.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace vexil {

namespace {

// The system's common errors, each with its text in both catalogs; a value missing here keeps
// the C library's text.
struct SystemText {
    int error;
    const char* key;
};
constexpr SystemText kSystemTexts[] = {
    {ENOENT, "reason.errno.ENOENT"},
    {EACCES, "reason.errno.EACCES"},
    {EPERM, "reason.errno.EPERM"},
    {ENOSPC, "reason.errno.ENOSPC"},
#ifdef EDQUOT
    {EDQUOT, "reason.errno.EDQUOT"},
#endif
    {EROFS, "reason.errno.EROFS"},
    {EISDIR, "reason.errno.EISDIR"},
    {ENOTDIR, "reason.errno.ENOTDIR"},
    {EEXIST, "reason.errno.EEXIST"},
    {EMFILE, "reason.errno.EMFILE"},
    {ENFILE, "reason.errno.ENFILE"},
    {ELOOP, "reason.errno.ELOOP"},
    {ENAMETOOLONG, "reason.errno.ENAMETOOLONG"},
    {EIO, "reason.errno.EIO"},
    {EFBIG, "reason.errno.EFBIG"},
    {EBUSY, "reason.errno.EBUSY"},
    {ETXTBSY, "reason.errno.ETXTBSY"},
    {EADDRINUSE, "reason.errno.EADDRINUSE"},
    {EADDRNOTAVAIL, "reason.errno.EADDRNOTAVAIL"},
    {ENOBUFS, "reason.errno.ENOBUFS"},
};

// The key of each kind that is worded by one text of its own; nullptr for those worded below.
const char* KeyOf(ReasonKind kind) {
    switch (kind) {
        case ReasonKind::kWindowsError:
            return "reason.windows-error";
        case ReasonKind::kFolder:
            return "reason.folder";
        case ReasonKind::kFifo:
            return "reason.fifo";
        case ReasonKind::kNotRegular:
            return "reason.not-regular";
        case ReasonKind::kNoFileNamed:
            return "reason.no-file-named";
        case ReasonKind::kDanglingLink:
            return "reason.dangling-link";
        case ReasonKind::kPartWritten:
            return "reason.part-written";
        case ReasonKind::kPartTakenBack:
            return "reason.part-written.taken-back";
        case ReasonKind::kPartStays:
            return "reason.part-written.stays";
        case ReasonKind::kPartFollowed:
            return "reason.part-written.followed";
        case ReasonKind::kFolderNotSynced:
            return "reason.folder-not-synced";
        case ReasonKind::kNotReplaced:
            return "reason.not-replaced";
        case ReasonKind::kItsFolder:
            return "reason.its-folder";
        case ReasonKind::kNoNewText:
            return "reason.no-new-text";
        case ReasonKind::kNoFreeName:
            return "reason.no-free-name";
        case ReasonKind::kCannotWrite:
            return "reason.cannot-write";
        case ReasonKind::kPathNotRegular:
            return "reason.path-not-regular";
        case ReasonKind::kIsInputFile:
            return "reason.input-file";
        case ReasonKind::kWritingFailed:
            return "reason.writing-failed";
        case ReasonKind::kRecordBytes:
            return "file.build.record-bytes";
        case ReasonKind::kPast24Bits:
            return "reason.past-24-bits";
        case ReasonKind::kIdentTaken:
            return "reason.ident-taken";
        case ReasonKind::kNotSRecord:
            return "reason.srecord.not-srecord";
        case ReasonKind::kOddDigits:
            return "reason.srecord.odd-digits";
        case ReasonKind::kNotHexDigit:
            return "reason.srecord.not-hex";
        case ReasonKind::kCountMismatch:
            return "reason.srecord.count";
        case ReasonKind::kChecksumMismatch:
            return "reason.srecord.checksum";
        case ReasonKind::kS4Record:
            return "reason.srecord.s4";
        case ReasonKind::kShortForAddress:
            return "reason.srecord.short";
        case ReasonKind::kPastAddressSpace:
            return "reason.srecord.past-space";
        case ReasonKind::kAboveHighest:
            return "reason.srecord.above";
        case ReasonKind::kEndedBySignal:
            return "reason.process.signal";
        case ReasonKind::kEndedWithStatus:
            return "reason.process.status";
        case ReasonKind::kEndedByCtrlC:
            return "reason.process.ctrl-c";
        case ReasonKind::kNone:
        case ReasonKind::kSystem:
            break;
    }
    return nullptr;
}

bool IsSRecordLine(ReasonKind kind) {
    return kind >= ReasonKind::kNotSRecord && kind <= ReasonKind::kAboveHighest;
}

std::string Hex(unsigned long long value) {
    char text[24];
    std::snprintf(text, sizeof text, "0x%llX", value);
    return text;
}

}  // namespace

std::string SystemWords(int error, Language language) {
    for (const SystemText& text : kSystemTexts) {
        if (text.error == error) {
            return std::string(Tr(text.key, language));
        }
    }
    return std::strerror(error);
}

std::string Words(const Reason& reason, Language language) {
    if (reason.kind == ReasonKind::kNone) {
        return {};
    }
    if (reason.kind == ReasonKind::kSystem) {
        return SystemWords(reason.error, language);
    }
    const std::string cause = reason.cause ? Words(*reason.cause, language) : std::string();
    const std::string number = std::to_string(reason.number);
    const std::string_view text = Tr(KeyOf(reason.kind), language);
    switch (reason.kind) {
        case ReasonKind::kPartWritten: {
            // What became of the part written follows the words of the short write: {0} of its
            // text, and {1} why it stays, when it does.
            if (!reason.cause) {
                return std::string(text);
            }
            const Reason& after = *reason.cause;
            return Format(Tr(KeyOf(after.kind), language),
                          {text, after.cause ? Words(*after.cause, language) : std::string()});
        }
        case ReasonKind::kItsFolder:
        case ReasonKind::kNoNewText:
        case ReasonKind::kCannotWrite:
            return Format(text, {reason.path, cause});
        case ReasonKind::kFolderNotSynced:
        case ReasonKind::kNotReplaced:
            return Format(text, {cause});
        case ReasonKind::kPathNotRegular:
        case ReasonKind::kWritingFailed:
            return Format(text, {reason.path});
        case ReasonKind::kIsInputFile:
            return Format(text, {reason.path, reason.other});
        case ReasonKind::kWindowsError:
        case ReasonKind::kRecordBytes:
        case ReasonKind::kPast24Bits:
        case ReasonKind::kEndedBySignal:
        case ReasonKind::kEndedWithStatus:
            return Format(text, {number});
        default:
            break;
    }
    if (IsSRecordLine(reason.kind)) {
        const std::string why = reason.kind == ReasonKind::kAboveHighest
                                    ? Format(text, {Hex(reason.value)})
                                    : std::string(text);
        return Format(Tr("reason.srecord.line", language), {number, why});
    }
    return std::string(text);
}

std::string Words(const Reason& reason) {
    return Words(reason, CurrentLanguage());
}

const char* InternalErrorWords(InternalText part) {
    switch (part) {
        case InternalText::kLabel:
            return Tr("reason.internal.label").data();
        case InternalText::kNoReason:
            return Tr("reason.internal.no-reason").data();
        case InternalText::kUnknownKind:
            return Tr("reason.internal.unknown-kind").data();
        case InternalText::kNoException:
            return Tr("reason.internal.no-exception").data();
    }
    return "";
}

}  // namespace vexil
