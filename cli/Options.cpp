#include "cli/Options.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "engine/AddressEntry.h"
#include "engine/HexText.h"
#include "engine/ModelTable.h"
#include "resources/DialogTemplates.h"
#include "resources/ResourceIds.h"

namespace vexil::cli {

namespace {

// The options that take a value (the others are --yes and --help).
bool IsValuedOption(std::string_view option) {
    for (const char* name :
         {"--model", "--tcp", "--ipx", "--dir", "--log", "--targets", "--jobs", "--report-fd"}) {
        if (option == name) {
            return true;
        }
    }
    return false;
}

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
    std::array<std::uint8_t, 6> bytes{};
    address::HexTextToBytes(network, bytes);
    std::copy_n(bytes.begin(), target.network.size(), target.network.begin());
    bytes.fill(0);
    address::HexTextToBytes(node, bytes);
    target.node = bytes;
    return {};
}

bool ParseNumber(std::string_view text, int low, int high, int& value) {
    std::uint64_t number = 0;
    if (!vexil::ParseNumber(text, static_cast<std::uint64_t>(low), static_cast<std::uint64_t>(high),
                            number, false)) {
        return false;
    }
    value = static_cast<int>(number);
    return true;
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

bool ParseModel(std::string_view text, int& modelIndex, int& listSelection) {
    for (const char* const* name = kModelNames; **name != '\0'; ++name) {
        if (text == *name) {
            modelIndex = kLanCardModel;
            listSelection = 0;
            return true;
        }
    }
    if (!ParseNumber(text, 1, 6, modelIndex)) {
        return false;
    }
    listSelection = modelIndex == kLanCardModel ? 0 : -1;
    return true;
}

Refusal ParseOptions(int argc, char** argv, Options& options) {
    for (int i = 1; i < argc; ++i) {
        std::string_view arg = argv[i];
        std::string_view value;
        bool inlineValue = false;
        if (const std::size_t eq = arg.find('='); arg.starts_with("--") && eq != arg.npos) {
            value = arg.substr(eq + 1);
            arg = arg.substr(0, eq);
            inlineValue = true;
        }
        auto takeValue = [&]() -> bool {
            if (inlineValue) {
                return true;
            }
            if (i + 1 >= argc) {
                return false;
            }
            value = argv[++i];
            return true;
        };
        const bool flag = arg == "--yes" || arg == "-y" || arg == "--help" || arg == "-h";
        if (flag && inlineValue) {
            return Text(std::string(arg) + " takes no value");
        }
        if (arg == "--help" || arg == "-h") {
            options.help = true;
        } else if (arg == "--yes" || arg == "-y") {
            options.yes = true;
        } else if (!flag && !IsValuedOption(arg)) {
            return Text(arg.starts_with("-") ? "unknown option " + std::string(arg)
                                             : "unexpected argument " + std::string(arg));
        } else if (!flag && !takeValue()) {
            return Text(std::string(arg) + " needs a value");
        } else if (arg == "--model") {
            options.modelText = value;
            if (!ParseModel(value, options.modelIndex, options.listSelection)) {
                return Text("--model takes the model list's name or a number from 1 to 6, not " +
                            std::string(value));
            }
        } else if (arg == "--tcp" || arg == "--ipx") {
            if (options.haveTarget) {
                return Text("give one target, --tcp or --ipx, or a --targets file");
            }
            options.haveTarget = true;
            if (Refusal refusal = ParseTarget(arg == "--ipx", value, options.target);
                refusal.Refused()) {
                return refusal;
            }
        } else if (arg == "--dir") {
            options.dir = value;
        } else if (arg == "--log") {
            options.log = value;
        } else if (arg == "--targets") {
            options.targetsFile = value;
        } else if (arg == "--jobs") {
            options.jobsGiven = true;
            if (!ParseNumber(value, 1, 256, options.jobs)) {
                return Text("--jobs takes a number from 1 to 256");
            }
        } else if (arg == "--report-fd") {
            if (!ParseNumber(value, 3, 1023, options.reportFd)) {
                return Text("--report-fd takes a descriptor number");
            }
        }
    }
    if (options.help) {
        return {};
    }
    if (options.modelIndex == 0) {
        return Text("--model is missing");
    }
    if (options.jobsGiven && options.targetsFile.empty()) {
        return Text("--jobs goes with --targets");
    }
    if (options.haveTarget == !options.targetsFile.empty()) {
        return Text("give one target, --tcp A.B.C.D or --ipx NETWORK:NODE, or --targets FILE");
    }
    return {};
}

Refusal ReadTargets(const std::string& path, std::vector<Target>& targets) {
    if (std::error_code error; std::filesystem::is_directory(path, error)) {
        return Text("the targets file " + path + " is a folder");
    }
    std::ifstream in(path);
    if (!in) {
        return Text("cannot read the targets file " + path + ": " + std::strerror(errno));
    }
    std::string line;
    std::vector<int> lines;  // the line of each target read
    for (int number = 1; std::getline(in, line); ++number) {
        line = line.substr(0, line.find('#'));
        std::vector<std::string> words;
        std::size_t at = 0;
        while (at < line.size()) {
            const std::size_t start = line.find_first_not_of(" \t\r", at);
            if (start == std::string::npos) {
                break;
            }
            const std::size_t end = line.find_first_of(" \t\r", start);
            words.push_back(line.substr(start, end - start));
            at = end == std::string::npos ? line.size() : end;
        }
        if (words.empty()) {
            continue;
        }
        const std::string where = path + ":" + std::to_string(number) + ": ";
        if (words.size() != 2 || (words[0] != "tcp" && words[0] != "ipx")) {
            return Text(where + "a target is \"tcp A.B.C.D\" or \"ipx NETWORK:NODE\"");
        }
        Target target;
        Refusal refusal = ParseTarget(words[0] == "ipx", words[1], target);
        if (refusal.Refused()) {
            refusal.text = where + words[1] + (refusal.text.empty() ? "" : ": " + refusal.text);
            return refusal;
        }
        // Two downloads into one print server at once would erase and write its flash twice,
        // interleaved.
        for (std::size_t earlier = 0; earlier < targets.size(); ++earlier) {
            if (targets[earlier].SameAddress(target)) {
                return Text(where + words[1] + ": the same print server as line " +
                            std::to_string(lines[earlier]));
            }
        }
        targets.push_back(target);
        lines.push_back(number);
    }
    if (targets.empty()) {
        return Text("the targets file " + path + " names no target");
    }
    return {};
}

const char kHelp[] =
    "usage: vexil-download --model MODEL (--tcp A.B.C.D | --ipx NETWORK:NODE) [OPTION]...\n"
    "  or:  vexil-download --model MODEL --targets FILE [--jobs N] [OPTION]...\n"
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
    "  --yes                download without asking; without it the confirmation is asked on\n"
    "                       the terminal, and without a terminal nothing is changed\n"
    "  --log FILE           append one line per download: time, target, model, file version,\n"
    "                       the version before, result code and message number\n"
    "  --targets FILE       download to every target of FILE, one a line: \"tcp A.B.C.D\" or\n"
    "                       \"ipx NETWORK:NODE\"; \"#\" starts a comment\n"
    "  --jobs N             with --targets: up to N downloads at once (default 4)\n"
    "  --help               this text\n"
    "\n"
    "Ctrl-C (SIGINT) and SIGTERM cancel the download as the window's cancel button does.\n"
    "\n"
    "Exit status:\n"
    "The magnitude of the download's result code, or 64 for a usage error.\n"
    "   0  success\n"
    "   1  sockets cannot be used\n"
    "   2  the print server refused a block\n"
    "   3  a block was not acknowledged\n"
    "   5  cancelled (Ctrl-C or SIGTERM); the print server waits in download mode\n"
    "   6  not started: download file missing or not for this model, cancelled during the\n"
    "      version query, or not confirmed\n"
    "   7  failed otherwise\n"
    "   9  no answer to the switch to download mode\n"
    "  10  the switch to download mode failed\n"
    "  11  the flash erase failed\n"
    "  12  the download did not finish correctly\n"
    "  13  no connection, or the download file could not be read\n"
    "  14  the print server is another model than the one chosen\n"
    "  64  usage error: a bad option, a refused address or an unreadable targets file\n"
    "With --targets: 0 when every target succeeded, else the status of the first target in\n"
    "the file that did not.\n";

}  // namespace vexil::cli
