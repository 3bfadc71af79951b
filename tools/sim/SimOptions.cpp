#include "tools/sim/SimOptions.h"

#include <cstdio>
#include <iterator>
#include <utility>

#include "cmdline/CommandLine.h"
#include "format/HexText.h"
#include "platform/OutputFile.h"
#include "protocol/Socket.h"

namespace vexil::sim {

namespace {

bool ParsePort(const std::string& text, int& into) {
    return cmdline::ReadNumber(text, 0, 65535, into);
}

bool ParseCount(const std::string& text, int& into) {
    return cmdline::ReadNumber(text, 0, 1'000'000, into);
}

// K or K:N: block K (counted from 1), N times (default 1).
bool ParseBlockFault(const std::string& text, std::map<int, int>& into) {
    const auto colon = text.find(':');
    int block = 0;
    int times = 1;
    if (!cmdline::ReadNumber(text.substr(0, colon), 1, 1'000'000, block) ||
        (colon != std::string::npos &&
         !cmdline::ReadNumber(text.substr(colon + 1), 1, 1000, times))) {
        return false;
    }
    into[block] = times;
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

struct OptionSpec {
    const char* heading;  // starts a section of --help
    const char* name;
    const char* value;  // what follows the option, or nullptr for a flag
    const char* help;   // lines after the first are indented below it
    const char* needs;  // "--name needs ..." when the value is missing or wrong
    bool (*apply)(Options& options, const std::string& value);
};

// clang-format off
constexpr OptionSpec kOptions[] = {
    {"Where it listens", "--listen", "ADDR", "IPv4 address for every socket (default 127.0.0.1)",
     "an IPv4 address",
     [](Options& o, const std::string& v) {
         in_addr probe{};
         if (!net::ParseIpv4(v.c_str(), probe)) {
             return false;
         }
         o.listen = v;
         return true;
     }},
    {nullptr, "--vantrel-port", "N", "UDP port of the Vantrel version query (default 5031)",
     "a port number", [](Options& o, const std::string& v) { return ParsePort(v, o.vantrelPort); }},
    {nullptr, "--bramble-port", "N",
     "UDP port of the Bramble version query and the download-mode\nswitch (default 5021)",
     "a port number", [](Options& o, const std::string& v) { return ParsePort(v, o.bramblePort); }},
    {nullptr, "--download-port", "N", "TCP port of the download connection (default 5001)",
     "a port number", [](Options& o, const std::string& v) { return ParsePort(v, o.downloadPort); }},
    {nullptr, "--ipx-tunnel-port", "N",
     "UDP port of the IPX tunnel (default 16640, the library's default;\n0 turns IPX off)",
     "a port number", [](Options& o, const std::string& v) { return ParsePort(v, o.tunnelPort); }},
    {nullptr, "--ipx-network", "HEX8", "IPX network number of the card (default 00000001)",
     "8 hexadecimal digits",
     [](Options& o, const std::string& v) { return ParseHexBytes(v, o.network, 4); }},
    {nullptr, "--ipx-node", "HEX12", "IPX node (MAC) address of the card (default 00D1F0123456)",
     "12 hexadecimal digits",
     [](Options& o, const std::string& v) { return ParseHexBytes(v, o.node, 6); }},
    {"What it is", "--model-code", "HEX4", "model code in the version reply (default aa01)",
     "4 hexadecimal digits",
     [](Options& o, const std::string& v) { return ParseHexBytes(v, o.modelCode, 2); }},
    {nullptr, "--firmware-version", "M.mm",
     "firmware version in the version reply, two hex bytes (default\n1.10)",
     "M.mm in hexadecimal, such as 1.10",
     [](Options& o, const std::string& v) { return ParseVersion(v, o.version); }},
    {nullptr, "--flash", "FILE",
     "write the flash image there when a download finishes (raw\nbinary from the lowest address, "
     "gaps 0xFF)",
     "a value", [](Options& o, const std::string& v) { o.flashFile = v; return true; }},
    {nullptr, "--once", nullptr, "exit after one finished download", nullptr,
     [](Options& o, const std::string&) { o.once = true; return true; }},
    {nullptr, "--idle-seconds", "S",
     "close a TCP connection silent for S seconds, and end the download\nof a client silent "
     "that long (fractions allowed; default 60)",
     "more than 0, at most 86400",
     [](Options& o, const std::string& v) { return cmdline::ReadSeconds(v, 0, 86400, o.idleSeconds) &&
                                                   o.idleSeconds > 0; }},
    {nullptr, "--quiet", nullptr,
     "log nothing but the summary of a finished download (and why it\nstops, when it cannot go on)",
     nullptr, [](Options& o, const std::string&) { o.quiet = true; return true; }},
    {nullptr, "--ready-fd", "N",
     "write \"ready\" to descriptor N once every socket listens, then\nclose it (for scripts that "
     "wait for it)", "a descriptor number from 3 (0 to 2 are the standard streams)",
     [](Options& o, const std::string& v) { return cmdline::ReadNumber(v, 3, 1'000'000, o.readyFd); }},
    {"Faults", "--no-version-reply", nullptr, "never answer a version query", nullptr,
     [](Options& o, const std::string&) { o.noVersionReply = true; return true; }},
    {nullptr, "--bad-version-reply", nullptr, "answer version queries with an invalid reply",
     nullptr, [](Options& o, const std::string&) { o.badVersionReply = true; return true; }},
    {nullptr, "--refuse-mode-switch", "N", "refuse the first N download-mode switches", "a count",
     [](Options& o, const std::string& v) { return ParseCount(v, o.refuseModeSwitch); }},
    {nullptr, "--ignore-mode-switch", "N", "leave the first N download-mode switches unanswered",
     "a count", [](Options& o, const std::string& v) { return ParseCount(v, o.ignoreModeSwitch); }},
    {nullptr, "--refuse-connections", "N", "refuse the first N download connections", "a count",
     [](Options& o, const std::string& v) { return ParseCount(v, o.refuseConnections); }},
    {nullptr, "--fail-erase", "N", "fail the first N erase requests", "a count",
     [](Options& o, const std::string& v) { return ParseCount(v, o.failErase); }},
    {nullptr, "--erase-seconds", "S", "take S seconds (may be fractional) to erase", "0 to 600",
     [](Options& o, const std::string& v) { return cmdline::ReadSeconds(v, 0, 600, o.eraseSeconds); }},
    {nullptr, "--refuse-block", "K[:N]", "refuse data block K (counted from 1) N times (default 1)",
     "K or K:N", [](Options& o, const std::string& v) { return ParseBlockFault(v, o.refuseBlock); }},
    {nullptr, "--nak-block", "K[:N]", "answer block K without an acknowledgement N times",
     "K or K:N", [](Options& o, const std::string& v) { return ParseBlockFault(v, o.nakBlock); }},
    {nullptr, "--drop-block", "K[:N]", "leave block K unanswered N times", "K or K:N",
     [](Options& o, const std::string& v) { return ParseBlockFault(v, o.dropBlock); }},
    {nullptr, "--late-block", "K[:N]", "answer block K late (after --late-ms) N times", "K or K:N",
     [](Options& o, const std::string& v) { return ParseBlockFault(v, o.lateBlock); }},
    {nullptr, "--late-ms", "MS", "how late a late answer comes (default 1500)", "a count",
     [](Options& o, const std::string& v) { return ParseCount(v, o.lateMs); }},
    {nullptr, "--bad-finish", nullptr, "answer the finish request without an acknowledgement",
     nullptr, [](Options& o, const std::string&) { o.badFinish = true; return true; }},
};
// clang-format on

}  // namespace

bool ParseOptions(int argc, char** argv, Options& options, std::string& error) {
    cmdline::CommandLine line({.inlineValues = false, .eachOnce = false});
    for (const OptionSpec& option : kOptions) {
        if (option.value == nullptr) {
            line.Flag(option.name, [&options, &option] { option.apply(options, ""); });
        } else {
            // A value the option does not take stops the reading with the option.
            line.Value(option.name, [&options, &option](const std::string& value) {
                if (!option.apply(options, value)) {
                    throw &option;
                }
            });
        }
    }
    try {
        const cmdline::Stop stop = line.Read(argc, argv);
        if (stop.kind == cmdline::Stop::Kind::kUnexpected) {
            error = "unknown option " + stop.word;
            return false;
        }
        for (const OptionSpec& option : kOptions) {
            if (stop.kind == cmdline::Stop::Kind::kNoValue && stop.option == option.name) {
                throw &option;
            }
        }
    } catch (const OptionSpec* refused) {
        error = std::string(refused->name) + " needs " + refused->needs;
        return false;
    }
    // The three UDP services each need a port of their own: a datagram for one would otherwise
    // reach the other, or only one of the sockets, as the system picks. (The download port is
    // TCP's, apart from them; port 0 lets the system pick a free port.)
    const std::pair<const char*, int> udp[] = {{"--vantrel-port", options.vantrelPort},
                                               {"--bramble-port", options.bramblePort},
                                               {"--ipx-tunnel-port", options.tunnelPort}};
    for (std::size_t i = 0; i < std::size(udp); ++i) {
        for (std::size_t j = i + 1; j < std::size(udp); ++j) {
            if (udp[i].second != 0 && udp[i].second == udp[j].second) {
                error = std::string(udp[i].first) + " and " + udp[j].first +
                        " name one UDP port, " + std::to_string(udp[i].second) +
                        ": each service needs its own";
                return false;
            }
        }
    }
    // Checked now rather than when the first download finishes, when it would be too late to
    // say so to anyone.
    if (!options.flashFile.empty()) {
        if (const std::string refused = OutputRefusal(options.flashFile); !refused.empty()) {
            error = "--flash: " + refused;
            return false;
        }
    }
    return true;
}

std::string HelpText() {
    std::string text =
        "usage: vexil-printserver-sim [options]\n"
        "\n"
        "Plays a network print server for the Vexilware download program.\n";
    for (const OptionSpec& entry : kOptions) {
        // Appended piece by piece: GCC 12 at -O3 sees an overlapping copy in the sum of a
        // literal and a string that is not there (-Wrestrict).
        if (entry.heading != nullptr) {
            text.append("\n").append(entry.heading).append(":\n");
        }
        std::string option = entry.name;
        if (entry.value != nullptr) {
            option.append(" ").append(entry.value);
        }
        char line[64];
        std::snprintf(line, sizeof line, "  %-24s ", option.c_str());
        text += line;
        for (const char* c = entry.help; *c != '\0'; ++c) {
            text += *c;
            if (*c == '\n') {
                text += std::string(27, ' ');
            }
        }
        text += '\n';
    }
    text +=
        "\n"
        "Exit status: 0 when stopped (SIGINT, SIGTERM) or after --once's download; 1 when a\n"
        "socket cannot be opened; 2 for a bad option, two services on one UDP port or a --flash\n"
        "that cannot be written; 70 for an internal error (its reason is said).\n";
    return text;
}

}  // namespace vexil::sim
