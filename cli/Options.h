// The command line of vexil-download: options, targets (one on the command line or a file of
// them) and the model.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "resources/Text.h"

namespace vexil::cli {

// Downloads at once in a fleet: by default enough that a site's printers take minutes (each
// download mostly waits for the print server), at most a campus at once.
inline constexpr int kDefaultJobs = 64;
inline constexpr int kMaxJobs = 1024;
// A targets file is read whole before anything is sent; these bound what it may take.
inline constexpr std::size_t kMaxTargetsFileBytes = 16 << 20;
inline constexpr std::size_t kMaxTargetLineBytes = 1024;

struct Target {
    bool ipx = false;
    std::string text;  // as given: A.B.C.D or NETWORK:NODE
    std::array<std::uint8_t, 4> octets{};
    std::array<std::uint8_t, 4> network{};
    std::array<std::uint8_t, 6> node{};
    // What the confirmation shows as the target: the address as typed, over IPX the MAC.
    std::string Shown() const;
    // "tcp A.B.C.D" or "ipx NETWORK:NODE", as a targets file writes it.
    std::string Label() const;
    // Whether both address one print server, however the address was written.
    bool SameAddress(const Target& other) const {
        return ipx == other.ipx &&
               (ipx ? network == other.network && node == other.node : octets == other.octets);
    }
};

// A refused target: the window's message for it when it has one (0 otherwise), and a text for
// the cases without one.
struct Refusal {
    int message = 0;
    std::string text;
    bool Refused() const { return message != 0 || !text.empty(); }
};

// Reads a TCP/IP or IPX target with the window's address checks, before anything is sent.
Refusal ParseTarget(bool ipx, std::string_view text, Target& target);

// A model by the name in the window's model list or by its number 1 to 6.
bool ParseModel(std::string_view text, int& modelIndex);

struct Options {
    bool help = false;
    bool listModels = false;
    bool query = false;
    bool json = false;
    bool skipCurrent = false;
    std::string failedFile;
    std::string modelText;
    int modelIndex = 0;
    bool haveTarget = false;
    Target target;
    std::string dir;
    bool yes = false;
    bool allowUnverified = false;  // --yes also for a print server whose model was not read
    std::string log;
    std::string targetsFile;
    int jobs = kDefaultJobs;
    bool jobsGiven = false;
    // A fleet starts no download once this many have failed; 0: it tries every target.
    int maxFailures = 0;
    int reportFd = -1;  // set by the fleet runner for its children
    // --scan's ranges as given, and their addresses in order, each once.
    std::vector<std::string> scanRanges;
    std::vector<Target> scanAddresses;
    std::string writeTargets;  // the targets file a scan writes of the print servers it found
    // --checksums: the file of the approved download files' SHA-256, read before anything is sent.
    std::string checksums;
};

// Parses argv. On failure returns the refusal (its message, or a text for the usage error).
Refusal ParseOptions(int argc, char** argv, Options& options);

// `text` as it may be shown on a terminal: a control character (C0, DEL or C1) and a byte that
// is no part of a UTF-8 character are written as \xNN, so that text read from a file cannot
// move the cursor, change colours or hide what was refused.
std::string Printable(std::string_view text);

// The columns `text` takes on a terminal (a Japanese character takes two), and `text` padded
// with spaces to `columns`, on the left when `right`-aligned: a table's columns line up in
// either language.
std::size_t Columns(std::string_view text);
std::string PadTo(std::string_view text, std::size_t columns, bool right = false);

// Reads a targets file: one target a line, "tcp A.B.C.D" or "ipx NETWORK:NODE", "#" starts a
// comment, CR LF line ends too. A line that does not read refuses the whole file, with its line
// number (shown Printable), and so does a print server named twice, a line longer than
// kMaxTargetLineBytes (its CR LF line end not counted), a NUL byte before its comment, or a
// file longer than kMaxTargetsFileBytes.
Refusal ReadTargets(const std::string& path, std::vector<Target>& targets);

// The model table as --list-models prints it.
std::string ModelList();
// Why the version of a print server of `model` cannot be verified over this transport, for the
// note of its report in `language` (the JSON keeps it in English); "" when it can.
std::string UnverifiableNote(int model, bool ipx, Language language);

}  // namespace vexil::cli
