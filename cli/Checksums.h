// The checksums file of --checksums: the SHA-256 of each approved download file, in the form
// sha256sum writes and `sha256sum -c` reads. The rule of which files a download sends and how
// they are compared is the engine's (engine/DownloadRequest.h, CheckSum).
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "cli/Options.h"
#include "engine/DownloadRequest.h"

namespace vexil::cli {

// A checksums file is read whole before anything is sent; it lists a release's files, not more.
inline constexpr std::size_t kMaxChecksumsFileBytes = 1 << 20;

// The lines of a checksums file, as `sha256sum --strict -c` takes them: "HEX  NAME" or
// "HEX *NAME" (one space alone, or a tab, also reads), the BSD form "SHA256 (NAME) = HEX", a
// name escaped with a backslash in front of the line, blanks and tabs in front of it, CR LF line
// ends, an empty line and a "#" comment line skipped. HEX is 64 hexadecimal digits in either
// case, kept in lowercase; a "./" in front of the name is dropped, for it names the same file.
// A line of any other form refuses the whole file with its number ("PATH:LINE: ..."), and so
// does a file without a single sum.
Refusal ParseChecksums(std::string_view text, const std::string& path, std::vector<FileSum>& sums);

// The approved sums of --checksums, and the file they were read from, which messages name.
struct ApprovedSums {
    std::string path;
    std::vector<FileSum> sums;
};

// Reads the checksums file at `path` (a regular file or a pipe, at most kMaxChecksumsFileBytes)
// and parses it; a folder, a device or a file that cannot be read is refused by name.
Refusal ReadChecksums(const std::string& path, std::vector<FileSum>& sums);

// The message of an outcome whose sums refused a file, naming the file and the checksums file;
// empty when they refused none.
std::string SumRefusalText(const DownloadOutcome& outcome, const std::string& checksumsPath,
                           Language language);

}  // namespace vexil::cli
