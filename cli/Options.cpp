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
#include "resources/Text.h"

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
        return Text(Tr("cli.usage.ip-octets", {text}));
    }
    std::array<std::string_view, address::kOctets> octets{};
    for (std::size_t i = 0; i < address::kOctets; ++i) {
        if (!AllDigits(parts[i]) || parts[i].size() > address::kOctetLength) {
            return Text(Tr("cli.usage.ip-octet-digits",
                           {std::to_string(i + 1), text, std::to_string(address::kOctetLength)}));
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
            return {message, Tr("cli.usage.ip-octet-range",
                                {std::to_string(i + 1), std::to_string(range.minimum),
                                 std::to_string(range.maximum)})};
        }
        target.octets[i] = static_cast<std::uint8_t>(entry.address >> (8 * i));
    }
    return {};
}

Refusal ParseIpx(std::string_view text, Target& target) {
    const std::size_t colon = text.find(':');
    if (colon == std::string_view::npos) {
        return Text(Tr("cli.usage.ipx-form", {text}));
    }
    const std::string_view network = text.substr(0, colon);
    const std::string_view node = text.substr(colon + 1);
    if (node.size() != address::kMacLength) {
        return {msg::kMacAddressLength, {}};
    }
    if (!address::IsHexText(node)) {
        return Text(Tr("cli.usage.mac-hex", {node}));
    }
    if (network.size() != address::kNetworkLength || !address::IsHexText(network)) {
        return Text(Tr("cli.usage.network-hex", {network}));
    }
    // The broadcast node reaches every print server of the network at once, and no card has
    // the zero node: neither is ever the one print server meant.
    const bool broadcast =
        std::all_of(node.begin(), node.end(), [](char c) { return c == 'f' || c == 'F'; });
    const bool zero = std::all_of(node.begin(), node.end(), [](char c) { return c == '0'; });
    if (broadcast || zero) {
        return Text(Tr(broadcast ? "cli.usage.mac-broadcast" : "cli.usage.mac-zero", {node}));
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
                    throw Text(Tr("cli.usage.empty-value", {name}));
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
            throw Text(Tr("cli.usage.model", {text}));
        }
    });
    target("--tcp", false);
    target("--ipx", true);
    value("--dir", [&options](const std::string& text) { options.dir = text; });
    value("--checksums", [&options](const std::string& text) { options.checksums = text; });
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
            throw Text(Tr("cli.usage.jobs", {std::to_string(kMaxJobs)}));
        }
    });
    value("--max-failures", [&options](const std::string& text) {
        if (!cmdline::ReadNumber(text, 1, std::numeric_limits<int>::max(), options.maxFailures)) {
            throw Text(std::string(Tr("cli.usage.max-failures")));
        }
    });
    value(process::kReportOption, [&options](const std::string& text) {
        if (!cmdline::ReadNumber(text, 3, process::MaxReportChannel(), options.reportFd)) {
            throw Text(Tr("cli.usage.report-fd", {process::kReportOption}));
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
            return Text(Tr(stop.word.starts_with("-") ? "cli.usage.unknown-option"
                                                      : "cli.usage.unexpected-argument",
                           {stop.word}));
        case Kind::kValueNotTaken:
            return Text(Tr("cli.usage.takes-no-value", {stop.option}));
        case Kind::kRepeated:
            return Text(stop.option == "--tcp" || stop.option == "--ipx"
                            ? std::string(Tr("cli.usage.one-target"))
                            : Tr("cli.usage.given-twice", {stop.option}));
        case Kind::kNoValue:
            return Text(Tr("cli.usage.needs-value", {stop.option}));
    }
    return {};
}

// A scan finds its targets itself and sends each only the version query, over TCP/IP.
Refusal CheckScan(const Options& options) {
    if (options.scanRanges.empty()) {
        return options.writeTargets.empty() ? Refusal{}
                                            : Text(std::string(Tr("cli.usage.write-targets")));
    }
    if (options.haveTarget && options.target.ipx) {
        return Text(std::string(Tr("cli.usage.ipx-not-scanned")));
    }
    for (const auto& [given, name] :
         {std::pair{options.haveTarget, "--tcp"},
          std::pair{!options.targetsFile.empty(), "--targets"}, std::pair{options.query, "--query"},
          std::pair{options.yes, "--yes"}, std::pair{options.allowUnverified, "--allow-unverified"},
          std::pair{options.skipCurrent, "--skip-current"},
          std::pair{options.maxFailures > 0, "--max-failures"},
          std::pair{!options.failedFile.empty(), "--failed"},
          std::pair{!options.log.empty(), "--log"}, std::pair{!options.dir.empty(), "--dir"},
          std::pair{!options.checksums.empty(), "--checksums"}}) {
        if (given) {
            return Text(Tr("cli.usage.not-with-scan", {name}));
        }
    }
    return {};
}

// The options that every one read alone, together.
Refusal CheckTogether(const Options& options) {
    if (options.modelIndex == 0) {
        return Text(std::string(Tr("cli.usage.model-missing")));
    }
    if (Refusal refusal = CheckScan(options); refusal.Refused() || !options.scanRanges.empty()) {
        return refusal;
    }
    // A single target is the whole run: there is nothing left to stop after its failure.
    for (const auto& [given, name] : {std::pair{options.jobsGiven, "--jobs"},
                                      std::pair{options.maxFailures > 0, "--max-failures"}}) {
        if (given && options.targetsFile.empty()) {
            return Text(Tr("cli.usage.goes-with-targets", {name}));
        }
    }
    if (options.haveTarget == !options.targetsFile.empty()) {
        return Text(std::string(Tr("cli.usage.target-missing")));
    }
    for (const auto& [given, name] : {std::pair{options.skipCurrent, "--skip-current"},
                                      std::pair{options.allowUnverified, "--allow-unverified"},
                                      std::pair{options.maxFailures > 0, "--max-failures"}}) {
        if (options.query && given) {
            return Text(Tr("cli.usage.not-with-query", {name}));
        }
    }
    // A query reads the download file only with --dir: without it there is nothing to check.
    if (options.query && options.dir.empty() && !options.checksums.empty()) {
        return Text(std::string(Tr("cli.usage.checksums-query")));
    }
    if (options.allowUnverified && !options.yes) {
        return Text(std::string(Tr("cli.usage.allow-unverified")));
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
        return Text(Tr("cli.targets.unreadable",
                       {path, refusal.NotRegular() ? std::string(Tr("cli.targets.device"))
                                                   : refusal.Reason()}));
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
        return Text(
            Tr("cli.targets.too-large", {path, std::to_string(kMaxTargetsFileBytes >> 20)}));
    }
    if (failed) {
        return Text(Tr("cli.targets.unreadable",
                       {path, error == EISDIR ? std::string(Tr("cli.targets.is-folder-reason"))
                                              : std::string(std::strerror(error))}));
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
        return Text(Tr("cli.targets.repeat",
                       {path + ":" + std::to_string(lines[repeat]) + ": " + targets[repeat].text,
                        std::to_string(lines[original])}));
    }
    return {};
}

}  // namespace

std::size_t Columns(std::string_view text) {
    std::size_t columns = 0;
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        // A lead byte of three or four bytes is a wide character here (kana and kanji); the
        // continuation bytes take no column.
        columns += byte < 0x80 ? 1 : byte >= 0xE0 ? 2 : byte >= 0xC0 ? 1 : 0;
    }
    return columns;
}

std::string PadTo(std::string_view text, std::size_t columns, bool right) {
    const std::size_t used = Columns(text);
    const std::string pad(used < columns ? columns - used : 0, ' ');
    return right ? pad + std::string(text) : std::string(text) + pad;
}

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
        return Text(Tr("cli.targets.folder", {path}));
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
            return Text(where + Tr("cli.targets.long-line", {std::to_string(kMaxTargetLineBytes)}));
        }
        // A comment may hold any bytes; only the target is text that must read.
        const std::string_view content = line.substr(0, line.find('#'));
        if (content.find('\0') != std::string_view::npos) {
            return Text(where + std::string(Tr("cli.targets.nul")));
        }
        const std::vector<std::string_view> words = Words(content);
        if (words.empty()) {
            continue;
        }
        if (words.size() != 2 || (words[0] != "tcp" && words[0] != "ipx")) {
            return Text(where + std::string(Tr("cli.targets.form")));
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
        return Text(Tr("cli.targets.none", {path}));
    }
    return FindRepeat(path, targets, lines);
}

std::string ModelList() {
    std::string text = std::string(Tr("cli.models.header")) + "\n";
    std::string unverifiable;
    for (int model = 1; const ModelTraits* traits = FindModel(model); ++model) {
        const std::string files =
            std::string(traits->mainFile) +
            (traits->TwoFiles() ? std::string(" ") + traits->companionFile : "");
        const bool verifiable = CanVerifyOverTcp(model);
        char row[256];
        const std::string tcpOnly =
            PadTo(Tr(traits->tcpOnly ? "cli.models.yes" : "cli.models.no"), 11);
        std::snprintf(row, sizeof row, "%5d%s %s  %s  %-19s  %s\n", model, verifiable ? " " : "*",
                      traits->modelCode, tcpOnly.c_str(), files.c_str(),
                      model == kLanCardModel ? kModelNames[0] : "-");
        text += row;
        if (!verifiable) {
            unverifiable += (unverifiable.empty() ? "" : std::string(Tr("cli.models.and"))) +
                            std::to_string(model);
        }
    }
    if (!unverifiable.empty()) {
        text += Tr("cli.models.footnote", {unverifiable});
    }
    return text;
}

std::string UnverifiableNote(int model, bool ipx, Language language) {
    const ModelTraits* traits = FindModel(model);
    if (ipx || traits == nullptr || CanVerifyOverTcp(model)) {
        return {};
    }
    return Format(Tr("cli.note.unverifiable", language),
                  {std::to_string(model), traits->modelCode});
}

}  // namespace vexil::cli
