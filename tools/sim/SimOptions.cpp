#include "tools/sim/SimOptions.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <initializer_list>
#include <iterator>
#include <sstream>
#include <utility>

#include "cmdline/CommandLine.h"
#include "cmdline/Ipv4Ranges.h"
#include "format/HexText.h"
#include "platform/RegularFile.h"
#include "platform/WidePath.h"
#include "resources/Reasons.h"
#include "resources/Text.h"

namespace vexil::sim {

namespace {

bool ParsePort(const std::string& text, int& into) {
    return cmdline::ReadNumber(text, 0, 65535, into);
}

bool ParseCount(const std::string& text, int& into) {
    return cmdline::ReadNumber(text, 0, 1'000'000, into);
}

// K or K:N: block K (counted from 1), N times (default 1). A block is answered one way at a
// time, so block K leaves the `others` (the other ways of answering it): of faults given for one
// block, the last counts.
bool ParseBlockFault(const std::string& text, std::map<int, int>& into,
                     std::initializer_list<std::map<int, int>*> others) {
    const auto colon = text.find(':');
    int block = 0;
    int times = 1;
    if (!cmdline::ReadNumber(text.substr(0, colon), 1, 1'000'000, block) ||
        (colon != std::string::npos &&
         !cmdline::ReadNumber(text.substr(colon + 1), 1, 1000, times))) {
        return false;
    }
    into[block] = times;
    for (std::map<int, int>* other : others) {
        other->erase(block);
    }
    return true;
}

std::string Dotted(std::uint32_t address) {
    return cmdline::DottedIpv4(address);
}

// FIRST-LAST, inclusive, or one ADDRESS. False when either is not an IPv4 address; a range whose
// first address is above its last is refused with the reason thrown.
bool ReadAddresses(const std::string& option, const std::string& text,
                   std::pair<std::uint32_t, std::uint32_t>& range) {
    using Form = cmdline::Ipv4RangeText::Form;
    using Fault = cmdline::Ipv4RangeText::Fault;
    const cmdline::Ipv4RangeText read = cmdline::ReadIpv4Range(text, false, true);
    if (read.form == Form::kNone || read.fault == Fault::kUnread) {
        return false;
    }
    if (read.fault == Fault::kFirstAboveLast) {
        throw Tr("sim.usage.first-above-last", {option, text});
    }
    range = {read.range.first, read.range.last};
    return true;
}

// M.mm in hexadecimal, one or two digits before the dot.
bool ParseVersion(const std::string& text, std::uint8_t version[2]) {
    const auto dot = text.find('.');
    if (dot == std::string::npos) {
        return false;
    }
    const std::string major = text.substr(0, dot);
    return ParseHexBytes(major.size() == 1 ? "0" + major : major, version, 1) &&
           ParseHexBytes(text.substr(dot + 1), version + 1, 1);
}

// What the command line gives beside the options every print server has: its addresses, where
// the flash images go, and the options of some print servers.
struct Reading {
    Options common;
    std::vector<std::pair<std::uint32_t, std::uint32_t>> ranges;  // --listen, in their order
    std::size_t addresses = 0;
    std::string flashDir;
    std::vector<std::string> printers;  // --printer, in their order
};

// One option: what it applies to (the whole simulator's Reading, or one print server's
// Options), its place in --help and its refusal.
template <class Into>
struct OptionSpec {
    // The texts are the catalog's keys, so that --help and the refusals follow the language.
    const char* heading;  // starts a section of --help
    const char* name;
    const char* value;  // what follows the option, or nullptr for a flag
    const char* help;   // lines after the first are indented below it
    const char* needs;  // "--name needs ..." when the value is missing or wrong
    // False when the value is not one the option takes; a refusal with a reason of its own is
    // thrown as its whole message.
    bool (*apply)(Into& into, const std::string& value);
};

// clang-format off
constexpr OptionSpec<Reading> kSimulatorOptions[] = {
    {"sim.help.where", "--listen", "FIRST[-LAST]", "sim.help.listen", "sim.needs.listen",
     [](Reading& r, const std::string& v) {
         std::pair<std::uint32_t, std::uint32_t> range;
         if (!ReadAddresses("--listen", v, range)) {
             return false;
         }
         r.addresses += std::size_t{range.second - range.first} + 1;
         if (r.addresses > kMaxPrintServers) {
             throw Tr("sim.usage.too-many", {std::to_string(r.addresses), std::to_string(kMaxPrintServers)});
         }
         r.ranges.push_back(range);
         return true;
     }},
    {nullptr, "--vantrel-port", "N", "sim.help.vantrel-port", "sim.needs.port",
     [](Reading& r, const std::string& v) { return ParsePort(v, r.common.vantrelPort); }},
    {nullptr, "--bramble-port", "N", "sim.help.bramble-port", "sim.needs.port",
     [](Reading& r, const std::string& v) { return ParsePort(v, r.common.bramblePort); }},
    {nullptr, "--download-port", "N", "sim.help.download-port", "sim.needs.port",
     [](Reading& r, const std::string& v) { return ParsePort(v, r.common.downloadPort); }},
    {nullptr, "--ipx-tunnel-port", "N", "sim.help.ipx-tunnel-port", "sim.needs.port",
     [](Reading& r, const std::string& v) { return ParsePort(v, r.common.tunnelPort); }},
    {nullptr, "--ipx-network", "HEX8", "sim.help.ipx-network", "sim.needs.hex8",
     [](Reading& r, const std::string& v) { return ParseHexBytes(v, r.common.network, 4); }},
    {nullptr, "--ipx-node", "HEX12", "sim.help.ipx-node", "sim.needs.hex12",
     [](Reading& r, const std::string& v) { return ParseHexBytes(v, r.common.node, 6); }},
    // An empty name would read as no flash file at all: refused as vexil-download refuses one.
    {"sim.help.how", "--flash", "FILE", "sim.help.flash", "sim.needs.value",
     [](Reading& r, const std::string& v) { r.common.flashFile = v; return !v.empty(); }},
    {nullptr, "--flash-dir", "DIR", "sim.help.flash-dir", "sim.needs.value",
     [](Reading& r, const std::string& v) { r.flashDir = v; return !v.empty(); }},
    {nullptr, "--printer", "\"ADDR OPTIONS\"", "sim.help.printer", "sim.needs.printer",
     [](Reading& r, const std::string& v) { r.printers.push_back(v); return true; }},
    {nullptr, "--once", nullptr, "sim.help.once", nullptr,
     [](Reading& r, const std::string&) { r.common.once = true; return true; }},
    {nullptr, "--idle-seconds", "S", "sim.help.idle-seconds", "sim.needs.idle",
     [](Reading& r, const std::string& v) { return cmdline::ReadSeconds(v, 0, 86400, r.common.idleSeconds) &&
                                                   r.common.idleSeconds > 0; }},
    {nullptr, "--quiet", nullptr, "sim.help.quiet", nullptr,
     [](Reading& r, const std::string&) { r.common.quiet = true; return true; }},
    {nullptr, "--ready-fd", "N", "sim.help.ready-fd", "sim.needs.ready-fd",
     [](Reading& r, const std::string& v) { return cmdline::ReadNumber(v, 3, 1'000'000, r.common.readyFd); }},
};

constexpr OptionSpec<Options> kPrintServerOptions[] = {
    {"sim.help.what", "--model-code", "HEX4", "sim.help.model-code", "sim.needs.hex4",
     [](Options& o, const std::string& v) { return ParseHexBytes(v, o.modelCode, 2); }},
    {nullptr, "--firmware-version", "M.mm", "sim.help.firmware-version", "sim.needs.version",
     [](Options& o, const std::string& v) { return ParseVersion(v, o.version); }},
    {nullptr, "--keep-version", nullptr, "sim.help.keep-version", nullptr,
     [](Options& o, const std::string&) { o.keepVersion = true; return true; }},
    // A version query is answered one way: of the two faults, the last given counts.
    {"sim.help.faults", "--no-version-reply", nullptr, "sim.help.no-version-reply", nullptr,
     [](Options& o, const std::string&) { o.noVersionReply = true; o.badVersionReply = false; return true; }},
    {nullptr, "--bad-version-reply", nullptr, "sim.help.bad-version-reply", nullptr,
     [](Options& o, const std::string&) { o.badVersionReply = true; o.noVersionReply = false; return true; }},
    {nullptr, "--refuse-mode-switch", "N", "sim.help.refuse-mode-switch", "sim.needs.count",
     [](Options& o, const std::string& v) { return ParseCount(v, o.refuseModeSwitch); }},
    {nullptr, "--ignore-mode-switch", "N", "sim.help.ignore-mode-switch", "sim.needs.count",
     [](Options& o, const std::string& v) { return ParseCount(v, o.ignoreModeSwitch); }},
    {nullptr, "--refuse-connections", "N", "sim.help.refuse-connections", "sim.needs.count",
     [](Options& o, const std::string& v) { return ParseCount(v, o.refuseConnections); }},
    {nullptr, "--fail-erase", "N", "sim.help.fail-erase", "sim.needs.count",
     [](Options& o, const std::string& v) { return ParseCount(v, o.failErase); }},
    {nullptr, "--erase-seconds", "S", "sim.help.erase-seconds", "sim.needs.erase-seconds",
     [](Options& o, const std::string& v) { return cmdline::ReadSeconds(v, 0, 600, o.eraseSeconds); }},
    {nullptr, "--refuse-block", "K[:N]", "sim.help.refuse-block", "sim.needs.block",
     [](Options& o, const std::string& v) { return ParseBlockFault(v, o.refuseBlock, {&o.nakBlock, &o.dropBlock}); }},
    {nullptr, "--nak-block", "K[:N]", "sim.help.nak-block", "sim.needs.block",
     [](Options& o, const std::string& v) { return ParseBlockFault(v, o.nakBlock, {&o.refuseBlock, &o.dropBlock}); }},
    {nullptr, "--drop-block", "K[:N]", "sim.help.drop-block", "sim.needs.block",
     [](Options& o, const std::string& v) { return ParseBlockFault(v, o.dropBlock, {&o.refuseBlock, &o.nakBlock}); }},
    {nullptr, "--late-block", "K[:N]", "sim.help.late-block", "sim.needs.block",
     [](Options& o, const std::string& v) { return ParseBlockFault(v, o.lateBlock, {}); }},
    {nullptr, "--late-ms", "MS", "sim.help.late-ms", "sim.needs.count",
     [](Options& o, const std::string& v) { return ParseCount(v, o.lateMs); }},
    {nullptr, "--bad-finish", nullptr, "sim.help.bad-finish", nullptr,
     [](Options& o, const std::string&) { o.badFinish = true; return true; }},
};
// clang-format on

template <class Into>
std::string Needs(const OptionSpec<Into>& option) {
    return Tr("sim.usage.needs", {option.name, Tr(option.needs)});
}

// Hands each option of `table` that the command line gives to `apply`, which takes its
// description and value; a value the option does not take stops the reading with the option.
template <class Table, class Apply>
void Register(cmdline::CommandLine& line, const Table& table, Apply apply) {
    for (const auto& option : table) {
        if (option.value == nullptr) {
            line.Flag(option.name, [apply, &option] { apply(option, std::string()); });
        } else {
            line.Value(option.name,
                       [apply, &option](const std::string& value) { apply(option, value); });
        }
    }
}

// Reads `argv` as far as the rules of the command line go; a refusal is thrown as its message.
void Read(cmdline::CommandLine& line, int argc, char** argv, int first = 1) {
    const cmdline::Stop stop = line.Read(argc, argv, first);
    if (stop.kind == cmdline::Stop::Kind::kUnexpected) {
        throw Tr("sim.usage.unknown-option", {stop.word});
    }
    if (stop.kind == cmdline::Stop::Kind::kNoValue) {
        for (const auto& option : kSimulatorOptions) {
            if (stop.option == option.name) {
                throw Needs(option);
            }
        }
        for (const auto& option : kPrintServerOptions) {
            if (stop.option == option.name) {
                throw Needs(option);
            }
        }
    }
}

// One --printer: its address or range, and its options applied to those print servers.
// `index` holds every address with its print server's place, in the order of the addresses.
void ApplyPrinter(const std::string& text,
                  const std::vector<std::pair<std::uint32_t, std::size_t>>& index,
                  std::vector<Options>& printers) {
    std::istringstream split(text);
    std::vector<std::string> words{"--printer"};
    for (std::string word; split >> word;) {
        words.push_back(word);
    }
    const std::string said = "--printer \"" + text + "\"";
    std::pair<std::uint32_t, std::uint32_t> range;
    if (words.size() < 2 || !ReadAddresses(said, words[1], range)) {
        throw Tr("sim.usage.printer-address", {said});
    }
    // The options are read once, each value checked on a scratch copy, and then applied to
    // every print server of the range.
    std::vector<std::pair<const OptionSpec<Options>*, std::string>> given;
    Options scratch;
    cmdline::CommandLine line({.inlineValues = false, .eachOnce = false});
    Register(line, kPrintServerOptions,
             [&](const OptionSpec<Options>& option, const std::string& value) {
                 if (!option.apply(scratch, value)) {
                     throw Needs(option);  // said behind the --printer it stands in, below
                 }
                 given.emplace_back(&option, value);
             });
    std::vector<char*> argv;
    for (std::string& word : words) {
        argv.push_back(word.data());
    }
    try {
        Read(line, static_cast<int>(argv.size()), argv.data(), 2);
    } catch (const std::string& refusal) {
        for (const auto& option : kSimulatorOptions) {
            if (refusal == Tr("sim.usage.unknown-option", {option.name})) {
                throw Tr("sim.usage.printer-whole", {said, option.name});
            }
        }
        throw said + ": " + refusal;
    }
    auto at = std::lower_bound(index.begin(), index.end(), std::pair{range.first, std::size_t{0}});
    for (std::uint64_t address = range.first; address <= range.second; ++address, ++at) {
        if (at == index.end() || at->first != address) {
            throw Tr("sim.usage.printer-not-listened",
                     {said, Dotted(static_cast<std::uint32_t>(address))});
        }
        for (const auto& [option, value] : given) {
            option->apply(printers[at->second], value);
        }
    }
}

void ParseInto(int argc, char** argv, std::vector<Options>& printers) {
    Reading reading;
    cmdline::CommandLine line({.inlineValues = false, .eachOnce = false});
    Register(line, kSimulatorOptions,
             [&reading](const OptionSpec<Reading>& option, const std::string& value) {
                 if (!option.apply(reading, value)) {
                     throw Needs(option);
                 }
             });
    Register(line, kPrintServerOptions,
             [&reading](const OptionSpec<Options>& option, const std::string& value) {
                 if (!option.apply(reading.common, value)) {
                     throw Needs(option);
                 }
             });
    Read(line, argc, argv);
    if (reading.ranges.empty()) {
        ReadAddresses("--listen", reading.common.listen, reading.ranges.emplace_back());
        reading.addresses = 1;
    }
    if (!reading.common.flashFile.empty() && !reading.flashDir.empty()) {
        throw std::string(Tr("sim.usage.flash-and-dir"));
    }
    if (!reading.common.flashFile.empty() && reading.addresses > 1) {
        throw std::string(Tr("sim.usage.flash-one"));
    }
    printers.clear();
    printers.reserve(reading.addresses);
    std::vector<std::pair<std::uint32_t, std::size_t>> index;
    index.reserve(reading.addresses);
    for (const auto& [first, last] : reading.ranges) {
        for (std::uint64_t address = first; address <= last; ++address) {
            index.emplace_back(static_cast<std::uint32_t>(address), printers.size());
            Options& printer = printers.emplace_back(reading.common);
            printer.listen = Dotted(static_cast<std::uint32_t>(address));
            if (!reading.flashDir.empty()) {
                // Joined as UTF-8 text, which every file function here takes: a folder named
                // beyond the narrow code page (日本 on Windows) must stay that folder.
                printer.flashFile =
                    Utf8Text(WidePath(reading.flashDir) / (printer.listen + ".bin"));
            }
        }
    }
    std::sort(index.begin(), index.end());
    const auto twice =
        std::adjacent_find(index.begin(), index.end(),
                           [](const auto& a, const auto& b) { return a.first == b.first; });
    if (twice != index.end()) {
        throw Tr("sim.usage.listen-twice", {Dotted(twice->first)});
    }
    for (const std::string& printer : reading.printers) {
        ApplyPrinter(printer, index, printers);
    }
    // The three UDP services each need a port of their own: a datagram for one would otherwise
    // reach the other, or only one of the sockets, as the system picks. (The download port is
    // TCP's, apart from them; port 0 lets the system pick a free port.)
    const Options& ports = reading.common;
    const std::pair<const char*, int> udp[] = {{"--vantrel-port", ports.vantrelPort},
                                               {"--bramble-port", ports.bramblePort},
                                               {"--ipx-tunnel-port", ports.tunnelPort}};
    for (std::size_t i = 0; i < std::size(udp); ++i) {
        for (std::size_t j = i + 1; j < std::size(udp); ++j) {
            if (udp[i].second != 0 && udp[i].second == udp[j].second) {
                throw Tr("sim.usage.same-port",
                         {udp[i].first, udp[j].first, std::to_string(udp[i].second)});
            }
        }
    }
    // Checked now rather than when the first download finishes, when it would be too late to
    // say so to anyone.
    for (const Options& printer : printers) {
        if (printer.flashFile.empty()) {
            continue;
        }
        if (const Reason refused = OutputRefusal(printer.flashFile); !refused.empty()) {
            throw(reading.flashDir.empty() ? "--flash: " : "--flash-dir: ") + Words(refused);
        }
    }
}

}  // namespace

bool ParseOptions(int argc, char** argv, std::vector<Options>& printers, std::string& error) {
    try {
        ParseInto(argc, argv, printers);
        return true;
    } catch (const std::string& refusal) {
        error = refusal;
        return false;
    }
}

std::string HelpText() {
    std::string text(Tr("sim.help.intro"));
    const auto describe = [&text](const auto& entry) {
        // Appended piece by piece: GCC 12 at -O3 sees an overlapping copy in the sum of a
        // literal and a string that is not there (-Wrestrict).
        if (entry.heading != nullptr) {
            text.append("\n").append(Tr(entry.heading)).append(":\n");
        }
        std::string option = entry.name;
        if (entry.value != nullptr) {
            option.append(" ").append(entry.value);
        }
        const std::size_t used = DisplayWidth(option);
        text.append("  ").append(option).append(used < 24 ? 24 - used : 0, ' ').append(" ");
        for (const char c : Tr(entry.help)) {
            text += c;
            if (c == '\n') {
                text += std::string(27, ' ');
            }
        }
        text += '\n';
    };
    for (const auto& entry : kSimulatorOptions) {
        describe(entry);
    }
    for (const auto& entry : kPrintServerOptions) {
        describe(entry);
    }
    text += Tr("sim.help.exit");
    return FitToWidth(text, kHelpColumns);
}

}  // namespace vexil::sim
