#include "cli/Options.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <limits>
#include <tuple>

#include "cli/Scan.h"
#include "cmdline/CommandLine.h"
#include "engine/ModelTable.h"
#include "frontend/AddressEntry.h"
#include "platform/Process.h"
#include "platform/RecordFile.h"
#include "platform/RegularFile.h"
#include "platform/WidePath.h"
#include "resources/DialogTemplates.h"
#include "resources/ResourceIds.h"

namespace vexil::cli {

namespace {

std::vector<std::string_view> Split(std::string_view text, char separator) {
    std::vector<std::string_view> parts;
    std::size_t start = 0;
    for (;;) {
        const std::size_t end = text.find(separator, start);
        parts.push_back(text.substr(start, end == std::string_view::npos ? end : end - start));
        if (end == std::string_view::npos) {
            return parts;
        }
        start = end + 1;
    }
}

Refusal Text(std::string text) {
    return {0, std::move(text)};
}

bool AllDigits(std::string_view text) {
    return std::all_of(text.begin(), text.end(),
                       [](char c) { return std::isdigit(static_cast<unsigned char>(c)) != 0; });
}

Refusal ParseIpv4(std::string_view text, Target& target) {
    const std::vector<std::string_view> parts = Split(text, '.');
    if (address::IsRefusedFirstOctet(parts[0])) {
        return {msg::kFirstOctet127, {}};
    }
    if (parts.size() != address::kOctets) {
        return Text("a TCP/IP address has four octets, A.B.C.D: " + std::string(text));
    }
    std::array<std::string_view, address::kOctets> octets{};
    for (std::size_t i = 0; i < address::kOctets; ++i) {
        if (!AllDigits(parts[i]) || parts[i].size() > address::kOctetLength) {
            return Text("octet " + std::to_string(i + 1) + " of " + std::string(text) +
                        " is not a decimal number of at most " +
                        std::to_string(address::kOctetLength) + " digits");
        }
        octets[i] = parts[i];
    }
    const address::IpEntry entry = address::ReadIpAddress(octets);
    if (entry.message != 0) {
        return {entry.message, {}};
    }
    for (std::size_t i = 0; i < address::kOctets; ++i) {
        int bound = 0;
        const int message =
            address::RangeMessage(i, static_cast<double>(address::DecimalValue(octets[i])), bound);
        if (message != 0) {
            const address::OctetRange& range = address::kOctetRanges[i];
            return {message, "octet " + std::to_string(i + 1) + " must lie between " +
                                 std::to_string(range.minimum) + " and " +
                                 std::to_string(range.maximum)};
        }
        target.octets[i] = static_cast<std::uint8_t>(entry.address >> (8 * i));
    }
    return {};
}

Refusal ParseIpx(std::string_view text, Target& target) {
    const std::size_t colon = text.find(':');
    if (colon == std::string_view::npos) {
        return Text("an IPX address is NETWORK:NODE, 8 and 12 hexadecimal digits: " +
                    std::string(text));
    }
    const std::string_view network = text.substr(0, colon);
    const std::string_view node = text.substr(colon + 1);
    if (node.size() != address::kMacLength) {
        return {msg::kMacAddressLength, {}};
    }
    if (!address::IsHexText(node)) {
        return Text("the MAC address " + std::string(node) + " is not hexadecimal");
    }
    if (network.size() != address::kNetworkLength || !address::IsHexText(network)) {
        return Text("the network address must be 8 hexadecimal digits: " + std::string(network));
    }
    // The broadcast node reaches every print server of the network at once, and no card has
    // the zero node: neither is ever the one print server meant.
    const bool broadcast =
        std::all_of(node.begin(), node.end(), [](char c) { return c == 'f' || c == 'F'; });
    const bool zero = std::all_of(node.begin(), node.end(), [](char c) { return c == '0'; });
    if (broadcast || zero) {
        return Text("the MAC address " + std::string(node) + " is " +
                    (broadcast ? "the broadcast address" : "zero") +
                    ", not the address of one print server");
    }
    std::array<std::uint8_t, 6> bytes{};
    address::HexTextToBytes(network, bytes);
    std::copy_n(bytes.begin(), target.network.size(), target.network.begin());
    bytes.fill(0);
    address::HexTextToBytes(node, bytes);
    target.node = bytes;
    return {};
}

}  // namespace

std::string Target::Shown() const {
    if (!ipx) {
        return text;
    }
    std::string mac = text.substr(text.find(':') + 1);
    std::transform(mac.begin(), mac.end(), mac.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return mac;
}

std::string Target::Label() const {
    return (ipx ? "ipx " : "tcp ") + text;
}

Refusal ParseTarget(bool ipx, std::string_view text, Target& target) {
    target = Target{};
    target.ipx = ipx;
    target.text = text;
    return ipx ? ParseIpx(text, target) : ParseIpv4(text, target);
}

bool ParseModel(std::string_view text, int& modelIndex) {
    for (const char* const* name = kModelNames; **name != '\0'; ++name) {
        if (text == *name) {
            modelIndex = kLanCardModel;
            return true;
        }
    }
    return cmdline::ReadNumber(text, 1, 6, modelIndex);
}

namespace {

// Every option of the command line, each with what it does to `options`. The handlers refuse by
// throwing the refusal.
void DeclareOptions(cmdline::CommandLine& line, Options& options) {
    constexpr int kTargetGroup = 1;
    auto value = [&line](const std::string& name, std::function<void(const std::string&)> use,
                         int group = 0) {
        line.Value(
            name,
            [name, use = std::move(use)](const std::string& text) {
                if (text.empty()) {
                    throw Text(name + " needs a value, not an empty one");
                }
                use(text);
            },
            group);
    };
    auto target = [&](const std::string& name, bool ipx) {
        value(
            name,
            [&options, ipx](const std::string& text) {
                options.haveTarget = true;
                if (Refusal refusal = ParseTarget(ipx, text, options.target); refusal.Refused()) {
                    throw refusal;
                }
            },
            kTargetGroup);
    };
    line.Flag("--help,-h", [&options] { options.help = true; });
    line.Flag("--list-models", [&options] { options.listModels = true; });
    line.Flag("--yes,-y", [&options] { options.yes = true; });
    line.Flag("--query", [&options] { options.query = true; });
    line.Flag("--json", [&options] { options.json = true; });
    line.Flag("--skip-current", [&options] { options.skipCurrent = true; });
    line.Flag("--allow-unverified", [&options] { options.allowUnverified = true; });
    value("--model", [&options](const std::string& text) {
        options.modelText = text;
        if (!ParseModel(text, options.modelIndex)) {
            throw Text("--model takes the model list's name or a number from 1 to 6, not " + text);
        }
    });
    target("--tcp", false);
    target("--ipx", true);
    value("--dir", [&options](const std::string& text) { options.dir = text; });
    value("--log", [&options](const std::string& text) { options.log = text; });
    value("--targets", [&options](const std::string& text) { options.targetsFile = text; });
    value("--failed", [&options](const std::string& text) { options.failedFile = text; });
    value(
        "--scan", [&options](const std::string& text) { options.scanRanges.push_back(text); },
        cmdline::kRepeatable);
    value("--write-targets", [&options](const std::string& text) { options.writeTargets = text; });
    value("--jobs", [&options](const std::string& text) {
        options.jobsGiven = true;
        if (!cmdline::ReadNumber(text, 1, kMaxJobs, options.jobs)) {
            throw Text("--jobs takes a number from 1 to " + std::to_string(kMaxJobs));
        }
    });
    value("--max-failures", [&options](const std::string& text) {
        if (!cmdline::ReadNumber(text, 1, std::numeric_limits<int>::max(), options.maxFailures)) {
            throw Text("--max-failures takes a number of failures, at least 1");
        }
    });
    value(process::kReportOption, [&options](const std::string& text) {
        if (!cmdline::ReadNumber(text, 3, process::MaxReportChannel(), options.reportFd)) {
            throw Text(std::string(process::kReportOption) + " takes a descriptor number");
        }
    });
}

// Why the reading of the words stopped, as the user is told it.
Refusal StopRefusal(const cmdline::Stop& stop) {
    using Kind = cmdline::Stop::Kind;
    switch (stop.kind) {
        case Kind::kNone:
            break;
        case Kind::kUnexpected:
            return Text((stop.word.starts_with("-") ? "unknown option " : "unexpected argument ") +
                        stop.word);
        case Kind::kValueNotTaken:
            return Text(stop.option + " takes no value");
        case Kind::kRepeated:
            return Text(stop.option == "--tcp" || stop.option == "--ipx"
                            ? "give one target, --tcp or --ipx, or a --targets file"
                            : stop.option + " is given twice");
        case Kind::kNoValue:
            return Text(stop.option + " needs a value");
    }
    return {};
}

// A scan finds its targets itself and sends each only the version query, over TCP/IP.
Refusal CheckScan(const Options& options) {
    if (options.scanRanges.empty()) {
        return options.writeTargets.empty() ? Refusal{} : Text("--write-targets goes with --scan");
    }
    if (options.haveTarget && options.target.ipx) {
        return Text(
            "IPX is not scanned: an IPX address is a network and node pair, with no range to "
            "sweep; --scan is for TCP/IP");
    }
    for (const auto& [given, name] :
         {std::pair{options.haveTarget, "--tcp"},
          std::pair{!options.targetsFile.empty(), "--targets"}, std::pair{options.query, "--query"},
          std::pair{options.yes, "--yes"}, std::pair{options.allowUnverified, "--allow-unverified"},
          std::pair{options.skipCurrent, "--skip-current"},
          std::pair{options.maxFailures > 0, "--max-failures"},
          std::pair{!options.failedFile.empty(), "--failed"},
          std::pair{!options.log.empty(), "--log"}, std::pair{!options.dir.empty(), "--dir"}}) {
        if (given) {
            return Text(std::string(name) +
                        " does not go with --scan, which sends each address only the version "
                        "query and lists the print servers that answered");
        }
    }
    return {};
}

// The options that every one read alone, together.
Refusal CheckTogether(const Options& options) {
    if (options.modelIndex == 0) {
        return Text("--model is missing");
    }
    if (Refusal refusal = CheckScan(options); refusal.Refused() || !options.scanRanges.empty()) {
        return refusal;
    }
    // A single target is the whole run: there is nothing left to stop after its failure.
    for (const auto& [given, name] : {std::pair{options.jobsGiven, "--jobs"},
                                      std::pair{options.maxFailures > 0, "--max-failures"}}) {
        if (given && options.targetsFile.empty()) {
            return Text(std::string(name) + " goes with --targets");
        }
    }
    if (options.haveTarget == !options.targetsFile.empty()) {
        return Text("give one target, --tcp A.B.C.D or --ipx NETWORK:NODE, or --targets FILE");
    }
    for (const auto& [given, name] : {std::pair{options.skipCurrent, "--skip-current"},
                                      std::pair{options.allowUnverified, "--allow-unverified"},
                                      std::pair{options.maxFailures > 0, "--max-failures"}}) {
        if (options.query && given) {
            return Text(std::string(name) + " goes with a download, not with --query");
        }
    }
    if (options.allowUnverified && !options.yes) {
        return Text("--allow-unverified goes with --yes");
    }
    return {};
}

}  // namespace

Refusal ParseOptions(int argc, char** argv, Options& options) {
    // Every option once: a second --model or --log would silently win over the first, and
    // whichever was meant, a download to a fleet must not guess. --tcp and --ipx name the one
    // target together.
    cmdline::CommandLine line({.inlineValues = true, .eachOnce = true});
    DeclareOptions(line, options);
    cmdline::Stop stop;
    try {
        stop = line.Read(argc, argv);
    } catch (const Refusal& refusal) {
        return refusal;
    }
    if (Refusal refusal = StopRefusal(stop); refusal.Refused()) {
        return refusal;
    }
    if (options.help || options.listModels) {
        return {};
    }
    if (Refusal refusal = CheckTogether(options); refusal.Refused()) {
        return refusal;
    }
    return options.scanRanges.empty() ? Refusal{}
                                      : ScanAddresses(options.scanRanges, options.scanAddresses);
}

namespace {

// The words of a line of a targets file, its comment cut off.
std::vector<std::string_view> Words(std::string_view line) {
    std::vector<std::string_view> words;
    std::size_t at = 0;
    while (at < line.size()) {
        const std::size_t start = line.find_first_not_of(" \t\r", at);
        if (start == std::string_view::npos) {
            break;
        }
        const std::size_t end = std::min(line.find_first_of(" \t\r", start), line.size());
        words.push_back(line.substr(start, end - start));
        at = end;
    }
    return words;
}

// Reads the whole file, or says why not: a folder, unreadable, or larger than the bound (a
// device such as /dev/zero never ends). Pipes are read as they come; a device is refused unread
// by the opener (platform/RegularFile.h), as a serial port would hold the reading.
Refusal ReadBounded(const std::string& path, std::string& text) {
    FileRefusal refusal;
    std::FILE* file = OpenFile(path, FileUse::kReadStream, refusal);
    if (file == nullptr) {
        // Only a device is refused for its kind: a pipe is read as it comes.
        return Text("cannot read the targets file " + path + ": " +
                    (refusal.NotRegular() ? std::string("it is a device, not a regular file")
                                          : refusal.Reason()));
    }
    char buffer[1 << 16];
    bool tooLarge = false;
    bool failed = false;
    while (!tooLarge) {
        const std::size_t got = std::fread(buffer, 1, sizeof buffer, file);
        text.append(buffer, got);
        tooLarge = text.size() > kMaxTargetsFileBytes;
        if (got < sizeof buffer) {
            failed = std::ferror(file) != 0;
            break;
        }
    }
    const int error = errno;
    std::fclose(file);
    if (tooLarge) {
        return Text("the targets file " + path + " is larger than " +
                    std::to_string(kMaxTargetsFileBytes >> 20) + " MiB");
    }
    if (failed) {
        return Text("cannot read the targets file " + path + ": " +
                    (error == EISDIR ? std::string("it is a folder") : std::strerror(error)));
    }
    return {};
}

// How many bytes the UTF-8 character that starts `text` takes, when it is a whole one and no
// control character (C1, U+0080 to U+009F, included); 0 otherwise.
std::size_t PrintableCharacter(std::string_view text) {
    const auto byte = [&text](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(0);
    if (lead < 0x80) {
        return lead >= 0x20 && lead != 0x7F ? 1 : 0;
    }
    // The bounds of the second byte for each lead byte exclude the overlong forms, the
    // surrogates and what lies past U+10FFFF.
    std::size_t length = 0;
    unsigned char low = 0x80;
    unsigned char high = 0xBF;
    if (lead == 0xC2) {
        length = 2;
        low = 0xA0;  // after the C1 controls
    } else if (lead >= 0xC3 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        low = lead == 0xE0 ? 0xA0 : 0x80;
        high = lead == 0xED ? 0x9F : 0xBF;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        low = lead == 0xF0 ? 0x90 : 0x80;
        high = lead == 0xF4 ? 0x8F : 0xBF;
    }
    if (length == 0 || text.size() < length || byte(1) < low || byte(1) > high) {
        return 0;
    }
    for (std::size_t i = 2; i < length; ++i) {
        if (byte(i) < 0x80 || byte(i) > 0xBF) {
            return 0;
        }
    }
    return length;
}

// Two downloads into one print server at once would erase and write its flash twice,
// interleaved. The targets are sorted by address (n log n: a campus's file is checked at once);
// the first line that repeats an earlier one is refused, with the earliest. `lines` holds the
// line of each target.
Refusal FindRepeat(const std::string& path, const std::vector<Target>& targets,
                   const std::vector<int>& lines) {
    std::vector<std::size_t> order(targets.size());
    for (std::size_t i = 0; i < order.size(); ++i) {
        order[i] = i;
    }
    auto key = [&targets](std::size_t i) {
        const Target& t = targets[i];
        return t.ipx ? std::tuple(1, std::array<std::uint8_t, 4>{}, t.network, t.node)
                     : std::tuple(0, t.octets, std::array<std::uint8_t, 4>{},
                                  std::array<std::uint8_t, 6>{});
    };
    std::stable_sort(order.begin(), order.end(),
                     [&key](std::size_t a, std::size_t b) { return key(a) < key(b); });
    std::size_t repeat = targets.size();
    std::size_t original = 0;
    for (std::size_t k = 1, first = 0; k < order.size(); ++k) {
        if (key(order[k]) != key(order[first])) {
            first = k;
        } else if (order[k] < repeat) {
            repeat = order[k];
            original = order[first];
        }
    }
    if (repeat < targets.size()) {
        return Text(path + ":" + std::to_string(lines[repeat]) + ": " + targets[repeat].text +
                    ": the same print server as line " + std::to_string(lines[original]));
    }
    return {};
}

}  // namespace

std::string Printable(std::string_view text) {
    static constexpr char kHex[] = "0123456789abcdef";
    std::string shown;
    while (!text.empty()) {
        std::size_t length = PrintableCharacter(text);
        if (length != 0) {
            shown.append(text.substr(0, length));
        } else {
            const auto byte = static_cast<unsigned char>(text[0]);
            shown += {'\\', 'x', kHex[byte >> 4], kHex[byte & 0xF]};
            length = 1;
        }
        text.remove_prefix(length);
    }
    return shown;
}

Refusal ReadTargets(const std::string& path, std::vector<Target>& targets) {
    if (std::error_code error; std::filesystem::is_directory(WidePath(path), error)) {
        return Text("the targets file " + path + " is a folder");
    }
    std::string text;
    if (Refusal refusal = ReadBounded(path, text); refusal.Refused()) {
        return refusal;
    }
    std::vector<int> lines;  // the line of each target read
    // A byte order mark, as some editors write it, is no part of the first line.
    std::size_t at = text.starts_with("\xEF\xBB\xBF") ? 3 : 0;
    for (int number = 1; at < text.size(); ++number) {
        const std::size_t end = std::min(text.find('\n', at), text.size());
        std::string_view line(text.data() + at, end - at);
        at = end + 1;
        if (line.ends_with('\r')) {
            line.remove_suffix(1);  // a CR LF line end's
        }
        const std::string where = path + ":" + std::to_string(number) + ": ";
        if (line.size() > kMaxTargetLineBytes) {
            return Text(where + "a line longer than " + std::to_string(kMaxTargetLineBytes) +
                        " bytes");
        }
        // A comment may hold any bytes; only the target is text that must read.
        const std::string_view content = line.substr(0, line.find('#'));
        if (content.find('\0') != std::string_view::npos) {
            return Text(where + "a NUL byte: not a text line");
        }
        const std::vector<std::string_view> words = Words(content);
        if (words.empty()) {
            continue;
        }
        if (words.size() != 2 || (words[0] != "tcp" && words[0] != "ipx")) {
            return Text(where + "a target is \"tcp A.B.C.D\" or \"ipx NETWORK:NODE\"");
        }
        Target target;
        Refusal refusal = ParseTarget(words[0] == "ipx", words[1], target);
        if (refusal.Refused()) {
            // The refused word, and the reason that may repeat it, are the file's bytes.
            refusal.text = Printable(where + std::string(words[1]) +
                                     (refusal.text.empty() ? "" : ": " + refusal.text));
            return refusal;
        }
        targets.push_back(target);
        lines.push_back(number);
    }
    if (targets.empty()) {
        return Text("the targets file " + path + " names no target");
    }
    return FindRepeat(path, targets, lines);
}

std::string ModelList() {
    std::string text = "model  code  TCP/IP only  download files       name in the model list\n";
    std::string unverifiable;
    for (int model = 1; const ModelTraits* traits = FindModel(model); ++model) {
        const std::string files =
            std::string(traits->mainFile) +
            (traits->TwoFiles() ? std::string(" ") + traits->companionFile : "");
        const bool verifiable = CanVerifyOverTcp(model);
        char row[256];
        std::snprintf(row, sizeof row, "%5d%s %s  %-11s  %-19s  %s\n", model,
                      verifiable ? " " : "*", traits->modelCode, traits->tcpOnly ? "yes" : "no",
                      files.c_str(), model == kLanCardModel ? kModelNames[0] : "-");
        text += row;
        if (!verifiable) {
            unverifiable += (unverifiable.empty() ? "" : " and ") + std::to_string(model);
        }
    }
    if (!unverifiable.empty()) {
        text +=
            "* version reply cannot be verified over TCP/IP (byte 7 of the model code is 1,\n"
            "  which marks a reply not valid): over TCP/IP --yes downloads to models " +
            unverifiable +
            "\n  only with --allow-unverified, and --skip-current never "
            "skips them\n";
    }
    return text;
}

std::string UnverifiableNote(int model, bool ipx) {
    const ModelTraits* traits = FindModel(model);
    if (ipx || traits == nullptr || CanVerifyOverTcp(model)) {
        return {};
    }
    return "model " + std::to_string(model) +
           "'s version reply cannot be verified over TCP/IP "
           "(byte 7 of its model code " +
           traits->modelCode +
           " is 1, which marks a reply not "
           "valid); --allow-unverified downloads to it";
}

const char kHelp[] =
    "usage: vexil-download --model MODEL (--tcp A.B.C.D | --ipx NETWORK:NODE) [OPTION]...\n"
    "  or:  vexil-download --model MODEL --targets FILE [--jobs N] [--max-failures N]\n"
    "                      [OPTION]...\n"
    "  or:  vexil-download --model MODEL (--tcp ... | --ipx ... | --targets FILE) --query\n"
    "  or:  vexil-download --model MODEL --scan RANGE... [--jobs N] [--write-targets FILE]\n"
    "                      [--json]\n"
    "  or:  vexil-download --list-models\n"
    "\n"
    "Replaces the firmware of a network print server with the image in the model's download\n"
    "file, as the Vexilware window does: file check, version query, confirmation, download\n"
    "mode, erase, transfer, finish. Every message the window would show goes to standard error\n"
    "as KIND NUMBER TEXT (kind: information, warning, error, message, status).\n"
    "\n"
    "Options:\n"
    "  --model MODEL        the model: its name in the window's model list, or 1 to 6\n"
    "  --tcp A.B.C.D        the print server's IPv4 address\n"
    "  --ipx NETWORK:NODE   its IPX network number (8 hex digits) and MAC address (12)\n"
    "  --dir FOLDER         the folder that holds the download files (default: the current one)\n"
    "  --yes, -y            download without asking; without it the confirmation is asked on\n"
    "                       the terminal, and without a terminal nothing is changed. Not for\n"
    "                       a print server whose version query got no valid answer (its model\n"
    "                       and version unknown): it is left alone, outcome unverified\n"
    "  --allow-unverified   with --yes: download to such print servers too\n"
    "  --log FILE           append one line per target: time, target, model, file version,\n"
    "                       the version before, result code, last and first message, outcome\n"
    "                       (succeeded, already-current, failed, cancelled, not-started,\n"
    "                       start-failed, unverified, stopped); versions as the print server\n"
    "                       reports them (a file's 01.10 as 1.10); each line is on the disk\n"
    "                       before the program goes on, and one that a full disk cuts short is\n"
    "                       taken back (a log not there yet is made only with its first line)\n"
    "  --targets FILE       every target of FILE, one a line: \"tcp A.B.C.D\" or\n"
    "                       \"ipx NETWORK:NODE\"; \"#\" starts a comment\n"
    "  --jobs N             with --targets: up to N targets at once, 1 to 1024 (default 64);\n"
    "                       with --scan: up to N queries at once (default 1024)\n"
    "  --max-failures N     with --targets, for a download: once N targets have failed (any\n"
    "                       that --failed would list), start no further download; those\n"
    "                       running go on to their end, and the rest are not started, outcome\n"
    "                       stopped, each logged, in the summary and in the --failed file\n"
    "  --query              only ask each print server its model code and firmware version;\n"
    "                       no download file is needed and nothing else is sent; with --dir\n"
    "                       the model's download file there is checked first and its version\n"
    "                       reported beside the print server's, and the print server's model\n"
    "                       is checked as a download checks it (another model: 57631, 14)\n"
    "  --skip-current       leave alone every print server that already reports the download\n"
    "                       file's version (counted as success: already current)\n"
    "  --failed FILE        write the targets that did not succeed to FILE, as a targets file;\n"
    "                       FILE is replaced whole by a new file made beside it\n"
    "  --scan RANGE         find the print servers of RANGE, a block 192.0.2.0/24 or a pair\n"
    "                       192.0.2.10-192.0.2.99 (repeatable; at most 65,536 addresses in\n"
    "                       all; a block's network and broadcast addresses are skipped):\n"
    "                       each address gets only the model's version query over TCP/IP,\n"
    "                       as --query sends it, and those that answered are listed with\n"
    "                       their model code and version, then a count of those silent.\n"
    "                       IPX is not scanned: its addresses are network and node pairs.\n"
    "                       A scan takes no download, record or target options (--tcp,\n"
    "                       --ipx, --targets, --query, --yes, --skip-current, --log, ...)\n"
    "  --write-targets FILE with --scan: write the print servers of the model that answered\n"
    "                       with a valid version reply to FILE as a targets file, replaced\n"
    "                       whole as --failed is; a scan that finds none of them (or is\n"
    "                       cancelled) leaves FILE as it was\n"
    "  --json               one JSON object per target on standard output, then a summary\n"
    "                       object, instead of the summary table\n"
    "  --list-models        print the models, their codes and the download files each needs\n"
    "  --help, -h           this text\n"
    "Each option but --scan may be given once. A --log or --failed FILE that is a symbolic link "
    "is\n"
    "written through: the file it names takes the lines, also one not made yet. No two of\n"
    "--log, --failed, --write-targets and --targets, nor the file standard output goes to, may\n"
    "be one file. Nothing is created or changed before the run is accepted.\n"
    "\n"
    "Ctrl-C (SIGINT), SIGTERM and SIGHUP (a closed terminal or SSH session) cancel the\n"
    "download as the window's cancel button does; on Windows Ctrl-C, Ctrl-Break and closing\n"
    "the console window do. The downloads of a fleet are cancelled too when vexil-download\n"
    "itself ends, even killed: none goes on unsupervised.\n"
    "\n"
    "Exit status:\n"
    "The magnitude of the download's result code, 64 for a usage error, 74 when the download\n"
    "went as it did but is not on record.\n"
    "   0  success (with --query: the print server answered; with --scan: at least one\n"
    "      print server answered)\n"
    "   1  sockets cannot be used\n"
    "   2  the print server refused a block\n"
    "   3  a block was not acknowledged\n"
    "   5  cancelled (Ctrl-C, SIGTERM or SIGHUP); the print server waits in download mode\n"
    "   6  not started: download file missing or not for this model, cancelled during the\n"
    "      version query or (in a fleet) before the download began, or not confirmed (with\n"
    "      --yes: unverified, see --allow-unverified); a scan that was cancelled\n"
    "   7  failed otherwise; in a fleet also a download whose process could not be started\n"
    "      (start-failed) or was lost\n"
    "   9  no answer to the switch to download mode\n"
    "  10  the switch to download mode failed\n"
    "  11  the flash erase failed\n"
    "  12  the download did not finish correctly\n"
    "  13  no connection, or the download file could not be read; with --query: no answer;\n"
    "      with --scan: no print server answered\n"
    "  14  the print server is another model than the one chosen; after message 112 (the\n"
    "      version query failed) it did not answer at all\n"
    "  64  usage error: a bad option, a refused address, an unreadable targets file, a log or\n"
    "      --failed file that cannot be written, one file named by two of --log, --failed\n"
    "      and --targets, or a --dir that cannot be used (also one that is no folder, such as\n"
    "      the device NUL on Windows)\n"
    "  70  internal error: a fault of the program itself ended it (the reason is told)\n"
    "  74  the run went as the other statuses say, but a log line, the --failed file or\n"
    "      standard output could not be written (the reason is told)\n"
    "With --targets: 0 when every target succeeded, else the status of the first target in\n"
    "the file that did not (74 when all succeeded but one was not logged); 6 when the download\n"
    "file, checked once before any download, is missing or damaged.\n";

}  // namespace vexil::cli
