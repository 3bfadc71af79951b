#include "cli/Scan.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <nlohmann/json.hpp>

#include "cli/ConsolePort.h"
#include "cli/Download.h"
#include "cli/Outcomes.h"
#include "cli/Report.h"
#include "cmdline/CommandLine.h"
#include "engine/DownloadEngine.h"
#include "engine/TargetRecord.h"
#include "engine/TransportPolicy.h"
#include "platform/RecordFile.h"
#include "resources/ResourceIds.h"
#include "transport/TavdlTransport.h"

namespace vexil::cli {

namespace {

// The four octets of a dotted address, or false.
bool ReadAddress(std::string_view text, std::uint32_t& address) {
    address = 0;
    for (int i = 0; i < 4; ++i) {
        const std::size_t dot = i < 3 ? text.find('.') : text.size();
        unsigned octet = 0;
        if (dot == std::string_view::npos || dot == 0 || dot > 3 ||
            !cmdline::ReadNumber(text.substr(0, dot), 0u, 255u, octet)) {
            return false;
        }
        address = (address << 8) | octet;
        text.remove_prefix(std::min(dot + 1, text.size()));
    }
    return true;
}

std::string Dotted(std::uint32_t address) {
    return std::to_string(address >> 24) + "." + std::to_string((address >> 16) & 0xFF) + "." +
           std::to_string((address >> 8) & 0xFF) + "." + std::to_string(address & 0xFF);
}

Refusal RangeRefusal(std::string_view range, const std::string& why) {
    return {0, "--scan " + Printable(range) + ": " + why};
}

// One range's addresses, appended to `addresses`.
Refusal AddRange(std::string_view range, std::vector<std::uint32_t>& addresses) {
    std::uint32_t first = 0;
    std::uint32_t last = 0;
    bool block = false;  // a CIDR block, whose network and broadcast addresses are skipped
    if (const std::size_t slash = range.find('/'); slash != std::string_view::npos) {
        int prefix = 0;
        if (!ReadAddress(range.substr(0, slash), first) ||
            !cmdline::ReadNumber(range.substr(slash + 1), 0, 32, prefix)) {
            return RangeRefusal(range, "a block is A.B.C.D/PREFIX, the prefix 0 to 32");
        }
        const std::uint64_t size = std::uint64_t{1} << (32 - prefix);
        // Too large first: naming the block's first address would only lead to that refusal.
        if (size > kMaxScanAddresses) {
            return RangeRefusal(range, "more than 65,536 addresses");
        }
        if (first % size != 0) {
            return RangeRefusal(
                range, "not the first address of a /" + std::to_string(prefix) +
                           " block: " + Dotted(static_cast<std::uint32_t>(first - first % size)) +
                           "/" + std::to_string(prefix));
        }
        last = static_cast<std::uint32_t>(first + (size - 1));
        block = prefix <= 30;
    } else if (const std::size_t dash = range.find('-'); dash != std::string_view::npos) {
        if (!ReadAddress(range.substr(0, dash), first) ||
            !ReadAddress(range.substr(dash + 1), last)) {
            return RangeRefusal(range, "a range is FIRST-LAST, two addresses A.B.C.D");
        }
        if (first > last) {
            return RangeRefusal(range, "its first address is above its last");
        }
        if (last - first >= kMaxScanAddresses) {
            return RangeRefusal(range, "more than 65,536 addresses");
        }
    } else {
        return RangeRefusal(range, "a range is a block A.B.C.D/PREFIX or a pair FIRST-LAST");
    }
    const std::uint32_t from = block ? first + 1 : first;
    const std::uint32_t to = block ? last - 1 : last;
    for (std::uint64_t address = from; address <= to; ++address) {
        const auto a = static_cast<std::uint32_t>(address);
        Target target;
        const Refusal refusal = ParseTarget(false, Dotted(a), target);
        if (!refusal.Refused()) {
            addresses.push_back(a);
        } else if ((a & 0xFF) != 0 || a == first || a == last) {
            // A last octet 0 inside a range is a host of a wider block, left out as no target;
            // anything else the address check refuses refuses the range.
            return {refusal.message, "--scan " + Printable(range) + ": " + Dotted(a) +
                                         " cannot be a TCP/IP target" +
                                         (refusal.text.empty() ? "" : ": " + refusal.text)};
        }
    }
    return {};
}

// What one address came to.
enum class State { kAsking, kAnswered, kInvalid, kSilent };

struct Asked {
    State state = State::kAsking;
    int attempts = 0;
    std::string version;
    std::string modelCode;
    double seconds = 0;
    std::string end;
};

struct Tally {
    int scanned = 0;
    int answered = 0;
    int otherModel = 0;
    int invalid = 0;
    int silent = 0;
    int cancelled = 0;
};

std::string SummaryLine(const Tally& t) {
    std::string line = std::to_string(t.scanned) +
                       " addresses scanned: " + std::to_string(t.answered) +
                       " print servers answered";
    if (t.otherModel > 0) {
        line += " (" + std::to_string(t.otherModel) + " of another model)";
    }
    if (t.invalid > 0) {
        line += ", " + std::to_string(t.invalid) + " without a valid version reply";
    }
    line += ", " + std::to_string(t.silent) + " silent";
    if (t.cancelled > 0) {
        line += ", " + std::to_string(t.cancelled) + " not asked to the end (cancelled)";
    }
    return line + "\n";
}

std::string SummaryObject(const Tally& t, int exitStatus) {
    return nlohmann::json{{"summary",
                           {{"scanned", t.scanned},
                            {"answered", t.answered},
                            {"otherModel", t.otherModel},
                            {"invalidReply", t.invalid},
                            {"silent", t.silent},
                            {"cancelled", t.cancelled},
                            {"exitStatus", exitStatus}}}}
               .dump() +
           "\n";
}

// Every address's target record, set up for the model's query as --query sets up its own.
std::vector<TAVDL_ADDR> RecordsFor(const std::vector<Target>& addresses, int modelIndex,
                                   const RetriedCall& step) {
    std::vector<TAVDL_ADDR> records;
    records.reserve(addresses.size());
    const TargetRecordPtr blank = CreateTargetRecord();
    for (const Target& address : addresses) {
        records.push_back(*blank);
        FillTargetRecord(RequestFor(address, modelIndex), records.back());
        ApplyCallSetup(records.back(), step.setup);
    }
    return records;
}

// Asks every address through the library's one call, the console's cancel stopping it; what
// each came to lands in `asked`. The library's result: negative without a socket, 1 when
// cancelled.
int Sweep(std::vector<TAVDL_ADDR>& records, VersionQuery query, int attempts, std::size_t inFlight,
          std::vector<Asked>& asked) {
    const auto start = std::chrono::steady_clock::now();
    auto ended = [&start](Asked& a, State state) {
        a.state = state;
        a.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        a.end = UtcNow();
    };
    auto onReply = [&](std::size_t index, int result, std::span<const std::uint8_t> reply) {
        Asked& a = asked[index];
        ++a.attempts;
        if (result < 0) {
            // No answer ends the query at once, as it ends --query's attempts.
            a.state = State::kSilent;
            return false;
        }
        if (result == 0 &&
            ReadVersionReply(query, reply.data(), reply.size(), a.version, a.modelCode)) {
            ended(a, State::kAnswered);
            return false;
        }
        ended(a, State::kInvalid);
        return a.attempts < attempts;
    };
    int stop = 0;
    ConsolePort port(false);
    port.onCancel = [&stop] { stop = 1; };
    TavdlTransport transport;
    transport.SetWaitHook(&ConsolePort::WaitHook);
    transport.SetWaitSlice(ConsolePort::kWaitSliceMs);
    const int swept =
        TavdlTransport::QueryVersions(records, query, inFlight, &port, &stop, onReply);
    transport.SetWaitSlice(0);
    transport.SetWaitHook(nullptr);
    port.onCancel = nullptr;
    return swept;
}

// One answering address's row, as --query reports it.
Report RowOf(const Target& target, int modelIndex, const Asked& a, const std::string& startTime) {
    Report report;
    report.target = target;
    report.model = modelIndex;
    report.query = true;
    report.note = UnverifiableNote(modelIndex, target.ipx);
    report.seconds = a.seconds;
    report.start = startTime;
    report.end = a.end;
    if (a.state == State::kAnswered) {
        report.run.result = result::kSuccess;
        report.run.deviceVersion = a.version;
        report.run.deviceModelCode = a.modelCode;
    } else {
        // As --query reports a print server whose replies were not valid: message 113 for each
        // attempt, and not answered.
        report.run.result = result::kConnectionFailed;
        report.run.messages.assign(static_cast<std::size_t>(a.attempts),
                                   {msg::kVersionInvalid, Icon::Error});
        report.lastMessage = msg::kVersionInvalid;
    }
    return report;
}

// What the scan found: its counts, the rows of the print servers that answered, and the
// targets file of those of the scanned model.
struct Findings {
    Tally tally;
    std::vector<Report> rows;
    std::string targets;
};

Findings Gather(const Options& options, const ModelTraits& model, const std::vector<Asked>& asked,
                const std::string& startTime) {
    Findings found;
    found.tally.scanned = static_cast<int>(asked.size());
    found.targets = "# vexil-download --scan: the print servers of model " +
                    std::to_string(options.modelIndex) + " (" + model.modelCode +
                    ") that answered\n";
    for (std::size_t i = 0; i < asked.size(); ++i) {
        const Asked& a = asked[i];
        switch (a.state) {
            case State::kAsking:
                ++found.tally.cancelled;
                continue;
            case State::kSilent:
                ++found.tally.silent;
                continue;
            case State::kAnswered:
                ++found.tally.answered;
                if (a.modelCode != model.modelCode) {
                    ++found.tally.otherModel;
                } else {
                    found.targets += options.scanAddresses[i].Label() + "\n";
                }
                break;
            case State::kInvalid:
                ++found.tally.invalid;
                break;
        }
        found.rows.push_back(RowOf(options.scanAddresses[i], options.modelIndex, a, startTime));
    }
    return found;
}

// The targets file, replaced as --failed's list is; a cancelled scan leaves it as it was.
bool WriteTargets(const std::string& path, const Findings& found, bool cancelled) {
    if (cancelled) {
        std::fprintf(stderr, "vexil-download: the scan was cancelled: %s is left as it was\n",
                     path.c_str());
        return true;
    }
    if (const std::string reason = WriteRecord(path, found.targets, RecordMode::kReplace);
        !reason.empty()) {
        std::fprintf(stderr, "vexil-download: writing %s failed: %s\n", path.c_str(),
                     reason.c_str());
        return false;
    }
    return true;
}
}  // namespace

Refusal ScanAddresses(const std::vector<std::string>& ranges, std::vector<Target>& addresses) {
    std::vector<std::uint32_t> all;
    for (const std::string& range : ranges) {
        if (Refusal refusal = AddRange(range, all); refusal.Refused()) {
            return refusal;
        }
        // Kept in order and unique as it grows, so that many ranges naming one block cost
        // no more than the block.
        std::sort(all.begin(), all.end());
        all.erase(std::unique(all.begin(), all.end()), all.end());
        if (all.size() > kMaxScanAddresses) {
            return {0, "--scan: more than 65,536 addresses in all"};
        }
    }
    addresses.clear();
    addresses.reserve(all.size());
    for (const std::uint32_t address : all) {
        Target target;
        ParseTarget(false, Dotted(address), target);
        addresses.push_back(std::move(target));
    }
    return {};
}

int RunScan(const Options& options) {
    const ModelTraits& model = *FindModel(options.modelIndex);
    // The query, its port, attempts and wait are those of --query over TCP/IP.
    const VersionQuery query = QueryOf(kTcpPolicy, model);
    const RetriedCall step = QueryStep(kTcpPolicy, query);
    std::vector<TAVDL_ADDR> records = RecordsFor(options.scanAddresses, options.modelIndex, step);
    const std::string startTime = UtcNow();
    std::vector<Asked> asked(records.size());
    const std::size_t inFlight =
        static_cast<std::size_t>(options.jobsGiven ? options.jobs : static_cast<int>(kMaxJobs));
    const int swept = Sweep(records, query, step.attempts, inFlight, asked);
    if (swept < 0) {
        std::fputs("vexil-download: the scan cannot use a UDP socket\n", stderr);
        return ExitStatus(result::kSocketStartFailed);
    }
    const Findings found = Gather(options, model, asked, startTime);
    const bool cancelled = swept == 1;
    // As --query's: 13 when no print server answered, 6 when cancelled.
    int status = cancelled                  ? ExitStatus(result::kNotStarted)
                 : found.tally.answered > 0 ? 0
                                            : ExitStatus(result::kConnectionFailed);
    if (!options.writeTargets.empty() && !WriteTargets(options.writeTargets, found, cancelled)) {
        status = status != 0 ? status : kExitNotRecorded;
    }
    if (options.json) {
        for (const Report& report : found.rows) {
            std::printf("%s\n", ToJson(report).c_str());
        }
        std::fputs(SummaryObject(found.tally, status).c_str(), stdout);
    } else {
        std::fputs((SummaryTable(found.rows, false) + SummaryLine(found.tally)).c_str(), stdout);
    }
    return status;
}

}  // namespace vexil::cli
