#include "cli/Checksums.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "platform/RegularFile.h"
#include "resources/Text.h"

namespace vexil::cli {

namespace {

constexpr std::size_t kDigestDigits = 64;
constexpr std::string_view kBsdTag = "SHA256 (";

Refusal Text(std::string text) {
    return {0, std::move(text)};
}

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

// 64 hexadecimal digits, in lowercase; false for anything else.
bool ReadDigest(std::string_view text, std::string& digest) {
    if (text.size() != kDigestDigits) {
        return false;
    }
    digest.clear();
    for (const char c : text) {
        if (c >= '0' && c <= '9') {
            digest += c;
        } else if ((c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F')) {
            digest += static_cast<char>(c | 0x20);
        } else {
            return false;
        }
    }
    return true;
}

// A name written escaped (the line began with a backslash): "\\" is a backslash, "\n" a line
// feed, and any other backslash makes the line malformed.
bool Unescape(std::string& name) {
    std::string plain;
    for (std::size_t i = 0; i < name.size(); ++i) {
        if (name[i] != '\\') {
            plain += name[i];
            continue;
        }
        if (++i == name.size() || (name[i] != '\\' && name[i] != 'n')) {
            return false;
        }
        plain += name[i] == 'n' ? '\n' : '\\';
    }
    name = std::move(plain);
    return true;
}

// One line that is neither empty nor a comment, without its line end; false when it is no sum.
bool ReadLine(std::string_view line, FileSum& sum) {
    const bool escaped = line.starts_with('\\');
    if (escaped) {
        line.remove_prefix(1);
    }
    if (line.starts_with(kBsdTag)) {
        // SHA256 (NAME) = HEX, or "...)= HEX" as some writers put it.
        line.remove_prefix(kBsdTag.size());
        const std::size_t close = line.rfind(')');
        if (close == std::string_view::npos) {
            return false;
        }
        sum.name = std::string(line.substr(0, close));
        std::string_view rest = line.substr(close + 1);
        if (rest.starts_with(' ')) {
            rest.remove_prefix(1);
        }
        if (!rest.starts_with("= ") || !ReadDigest(rest.substr(2), sum.sha256)) {
            return false;
        }
    } else {
        // HEX, one blank, then " " (text) or "*" (binary) in front of the name, or neither.
        if (line.size() <= kDigestDigits + 1 || !IsBlank(line[kDigestDigits]) ||
            !ReadDigest(line.substr(0, kDigestDigits), sum.sha256)) {
            return false;
        }
        std::string_view name = line.substr(kDigestDigits + 1);
        if (name.starts_with(' ') || name.starts_with('*')) {
            name.remove_prefix(1);
        }
        sum.name = std::string(name);
    }
    if (escaped && !Unescape(sum.name)) {
        return false;
    }
    while (sum.name.starts_with("./")) {
        sum.name.erase(0, 2);
    }
    return !sum.name.empty();
}

}  // namespace

Refusal ParseChecksums(std::string_view text, const std::string& path, std::vector<FileSum>& sums) {
    std::vector<FileSum> read;
    int number = 0;
    for (std::size_t at = 0; at < text.size();) {
        ++number;
        const std::size_t end = std::min(text.find('\n', at), text.size());
        std::string_view line = text.substr(at, end - at);
        at = end + 1;
        if (line.ends_with('\r')) {
            line.remove_suffix(1);  // a CR LF line end's
        }
        std::size_t first = 0;
        while (first < line.size() && IsBlank(line[first])) {
            ++first;
        }
        if (line.empty() || line[first] == '#') {
            continue;
        }
        FileSum sum;
        if (!ReadLine(line.substr(first), sum)) {
            return Text(Printable(path + ":" + std::to_string(number) + ": ") +
                        std::string(Tr("cli.checksums.malformed")));
        }
        read.push_back(std::move(sum));
    }
    if (read.empty()) {
        return Text(Tr("cli.checksums.none", {Printable(path)}));
    }
    sums = std::move(read);
    return {};
}

Refusal ReadChecksums(const std::string& path, std::vector<FileSum>& sums) {
    auto unreadable = [&path](const std::string& reason) {
        return Text(Tr("cli.checksums.unreadable", {Printable(path), reason}));
    };
    if (KindOf(path) == FileKind::kFolder) {
        return unreadable(std::string(Tr("cli.targets.is-folder-reason")));
    }
    FileRefusal refusal;
    std::FILE* file = OpenFile(path, FileUse::kReadStream, refusal);
    if (file == nullptr) {
        return unreadable(refusal.NotRegular() ? std::string(Tr("cli.targets.device"))
                                               : refusal.Reason());
    }
    std::string text;
    char buffer[1 << 14];
    bool failed = false;
    while (text.size() <= kMaxChecksumsFileBytes) {
        const std::size_t got = std::fread(buffer, 1, sizeof buffer, file);
        text.append(buffer, got);
        if (got < sizeof buffer) {
            failed = std::ferror(file) != 0;
            break;
        }
    }
    const int error = errno;
    std::fclose(file);
    if (text.size() > kMaxChecksumsFileBytes) {
        return Text(Tr("cli.checksums.too-large",
                       {Printable(path), std::to_string(kMaxChecksumsFileBytes >> 20)}));
    }
    if (failed) {
        return unreadable(error == EISDIR ? std::string(Tr("cli.targets.is-folder-reason"))
                                          : std::string(std::strerror(error)));
    }
    return ParseChecksums(text, path, sums);
}

std::string SumRefusalText(const DownloadOutcome& outcome, const std::string& checksumsPath,
                           Language language) {
    if (!outcome.sumRefusal) {
        return {};
    }
    const auto& [file, sha256, verdict] = *outcome.sumRefusal;
    const std::string path = Printable(checksumsPath);
    if (verdict == SumVerdict::kNotListed) {
        return Format(Tr("cli.checksums.not-listed", language), {file, path});
    }
    return Format(Tr("cli.checksums.other-sum", language), {file, path, sha256});
}

}  // namespace vexil::cli
