#include "cli/Scan.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <nlohmann/json.hpp>
#include <optional>

#include "cli/ConsolePort.h"
#include "cli/Download.h"
#include "cli/Outcomes.h"
#include "cli/Report.h"
#include "cli/StatusLine.h"
#include "cmdline/Ipv4Ranges.h"
#include "engine/DownloadEngine.h"
#include "platform/Console.h"
#include "platform/RecordFile.h"
#include "resources/Reasons.h"
#include "resources/ResourceIds.h"
#include "resources/Text.h"

namespace vexil::cli {

namespace {

Refusal RangeRefusal(std::string_view range, const std::string& why) {
    return {0, Tr("cli.scan.range", {Printable(range), why})};
}

// One range's interval, read and checked as a whole: its form, its size and its ends. A block's
// network and broadcast addresses are no part of it.
Refusal ReadRange(std::string_view text, cmdline::Ipv4Range& range) {
    using Form = cmdline::Ipv4RangeText::Form;
    using Fault = cmdline::Ipv4RangeText::Fault;
    const cmdline::Ipv4RangeText read = cmdline::ReadIpv4Range(text, true, false);
    range = read.range;
    switch (read.form) {
        case Form::kNone:
        case Form::kAddress:
            return RangeRefusal(text, std::string(Tr("cli.scan.range-form")));
        case Form::kBlock:
            if (read.fault == Fault::kUnread) {
                return RangeRefusal(text, std::string(Tr("cli.scan.block-form")));
            }
            // Too large first: naming the block's first address would only lead to that refusal.
            if (range.Size() > kMaxScanAddresses) {
                return RangeRefusal(text, std::string(Tr("cli.scan.too-many")));
            }
            if (read.fault == Fault::kNotBlockStart) {
                return RangeRefusal(
                    text, Tr("cli.scan.not-block-start",
                             {std::to_string(read.prefix), cmdline::DottedIpv4(range.first)}));
            }
            if (read.prefix <= 30) {
                ++range.first;
                --range.last;
            }
            return {};
        case Form::kPair:
            if (read.fault == Fault::kUnread) {
                return RangeRefusal(text, std::string(Tr("cli.scan.pair-form")));
            }
            if (read.fault == Fault::kFirstAboveLast) {
                return RangeRefusal(text, std::string(Tr("cli.scan.first-above-last")));
            }
            if (range.Size() > kMaxScanAddresses) {
                return RangeRefusal(text, std::string(Tr("cli.scan.too-many")));
            }
            return {};
    }
    return {};
}

// Whether the address check takes `address` as a TCP/IP target; `target` is then that target.
Refusal CheckAddress(std::string_view range, std::uint32_t address, Target& target) {
    const Refusal refusal = ParseTarget(false, cmdline::DottedIpv4(address), target);
    if (!refusal.Refused()) {
        return {};
    }
    return {refusal.message,
            Tr("cli.scan.range",
               {Printable(range), Tr("cli.scan.not-a-target", {cmdline::DottedIpv4(address)}) +
                                      (refusal.text.empty() ? "" : ": " + refusal.text)})};
}

struct Tally {
    int scanned = 0;
    int answered = 0;
    int otherModel = 0;
    int invalid = 0;
    int silent = 0;
    int cancelled = 0;
};

std::string SummaryLine(const Tally& t) {
    std::string line =
        Tr("cli.scan.summary", {std::to_string(t.scanned), std::to_string(t.answered)});
    if (t.otherModel > 0) {
        line += Tr("cli.scan.summary.other-model", {std::to_string(t.otherModel)});
    }
    if (t.invalid > 0) {
        line += Tr("cli.scan.summary.invalid", {std::to_string(t.invalid)});
    }
    line += Tr("cli.scan.summary.silent", {std::to_string(t.silent)});
    if (t.cancelled > 0) {
        line += Tr("cli.scan.summary.cancelled", {std::to_string(t.cancelled)});
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

// One address's row, as --query reports it.
Report RowOf(const Target& target, int modelIndex, const ScanAnswer& answer,
             const std::string& startTime) {
    Report report;
    report.target = target;
    report.model = modelIndex;
    report.query = true;
    report.seconds = answer.seconds;
    report.start = startTime;
    report.end = UtcAt(answer.ended);
    report.run = answer.run;
    NoteIfUnverified(report);
    report.lastMessage = report.run.result == result::kSuccess ? 0 : report.run.LastMessage();
    return report;
}

// What the scan found: its counts, the rows of the print servers that answered, and the
// targets file of those of the scanned model.
struct Findings {
    Tally tally;
    std::vector<Report> rows;
    std::string targets;
    int ofModel = 0;  // the print servers of the scanned model the targets file lists
};

Findings Gather(const Options& options, const ModelTraits& model,
                const std::vector<ScanAnswer>& answers, const std::string& startTime) {
    using State = ScanAnswer::State;
    Findings found;
    found.tally.scanned = static_cast<int>(answers.size());
    found.targets = "# vexil-download --scan: the print servers of model " +
                    std::to_string(options.modelIndex) + " (" + model.modelCode +
                    ") that answered\n";
    for (std::size_t i = 0; i < answers.size(); ++i) {
        const ScanAnswer& a = answers[i];
        switch (a.state) {
            case State::kNotEnded:
                ++found.tally.cancelled;
                continue;
            case State::kSilent:
                ++found.tally.silent;
                continue;
            case State::kAnswered:
                ++found.tally.answered;
                if (a.run.deviceModelCode != model.modelCode) {
                    ++found.tally.otherModel;
                } else {
                    found.targets += options.scanAddresses[i].Label() + "\n";
                    ++found.ofModel;
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

// The targets file, replaced as --failed's list is. A cancelled scan leaves it as it was, and so
// does one that found no print server of the model: a scan while the network is down would
// otherwise replace the last good list with a lone comment.
bool WriteTargets(const std::string& path, const Findings& found, bool cancelled) {
    if (cancelled || found.ofModel == 0) {
        std::fprintf(
            stderr, "vexil-download: %s\n",
            Tr(cancelled ? "cli.scan.cancelled-kept" : "cli.scan.none-kept", {path}).c_str());
        return true;
    }
    if (const Reason reason = WriteRecord(path, found.targets, RecordMode::kReplace);
        !reason.empty()) {
        std::fprintf(stderr, "vexil-download: %s\n",
                     Tr("cli.files.write-failed", {path, Words(reason)}).c_str());
        return false;
    }
    return true;
}
}  // namespace

Refusal ScanAddresses(const std::vector<std::string>& ranges, std::vector<Target>& addresses) {
    // The ranges are read in the order given, then merged once: the addresses are counted,
    // checked and listed once however many ranges name them.
    cmdline::Ipv4RangeSet all;
    std::vector<cmdline::Ipv4Range> read(ranges.size());
    for (std::size_t i = 0; i < ranges.size(); ++i) {
        if (Refusal refusal = ReadRange(ranges[i], read[i]); refusal.Refused()) {
            return refusal;
        }
        all.Add(read[i]);
    }
    // Counted as the targets they give, without the hosts .0 inside them (a range that ends in
    // one is refused below).
    std::uint64_t count = all.Count();
    for (const cmdline::Ipv4Range& merged : all.Merged()) {
        count -= (merged.last >> 8) - ((std::uint64_t{merged.first} + 0xFF) >> 8) + 1;
    }
    if (count > kMaxScanAddresses) {
        return {0, std::string(Tr("cli.scan.too-many-in-all"))};
    }
    std::vector<Target> found;
    std::vector<std::uint32_t> refused;  // in address order
    found.reserve(static_cast<std::size_t>(count));
    for (const cmdline::Ipv4Range& merged : all.Merged()) {
        for (std::uint64_t a = merged.first; a <= merged.last; ++a) {
            const auto address = static_cast<std::uint32_t>(a);
            // A last octet 0 inside a range is a host of a wider block, left out as no target
            // (at a range's end it refuses that range, below).
            Target target;
            if ((address & 0xFF) == 0) {
                continue;
            }
            if (CheckAddress({}, address, target).Refused()) {
                refused.push_back(address);
            } else {
                found.push_back(std::move(target));
            }
        }
    }
    // The first range in the order given that holds an address the check refuses is refused
    // for its lowest such address.
    for (std::size_t i = 0; i < ranges.size(); ++i) {
        const cmdline::Ipv4Range& range = read[i];
        std::optional<std::uint32_t> bad;
        if ((range.first & 0xFF) == 0) {
            bad = range.first;
        } else if (const auto at = std::lower_bound(refused.begin(), refused.end(), range.first);
                   at != refused.end() && *at <= range.last) {
            bad = *at;
        } else if ((range.last & 0xFF) == 0) {
            bad = range.last;
        }
        if (bad) {
            Target target;
            return CheckAddress(ranges[i], *bad, target);
        }
    }
    addresses = std::move(found);
    return {};
}

int RunScan(const Options& options, Transport& transport) {
    const ModelTraits& model = *FindModel(options.modelIndex);
    ScanRequest request;
    request.modelIndex = options.modelIndex;
    request.inFlight =
        static_cast<std::size_t>(options.jobsGiven ? options.jobs : static_cast<int>(kMaxJobs));
    request.addresses.reserve(options.scanAddresses.size());
    for (const Target& address : options.scanAddresses) {
        request.addresses.push_back(address.text);
    }
    const std::string startTime = UtcNow();
    ScanOutcome outcome;
    {
        // The engine tells how far it is; on a terminal the status line shows it, and takes
        // itself off before the table.
        std::optional<StatusLine> status;
        if (!options.noProgress && console::IsTerminal(stderr)) {
            status.emplace(stderr, &EventPump::SteadyMilliseconds);
            request.onProgress = [&status](const ScanProgress& progress) {
                if (status->Due()) {
                    status->Draw(ScanStatus(progress));
                }
            };
        }
        ConsolePort port(false);
        DownloadEngine engine(transport, port);
        port.onCancel = [&engine] { engine.Cancel(); };
        outcome = engine.Scan(request);
        port.onCancel = nullptr;
    }
    if (outcome.result == result::kSocketStartFailed) {
        std::fprintf(stderr, "vexil-download: %s\n",
                     Tr("cli.scan.no-socket", {Words(outcome.reason)}).c_str());
        return ExitStatus(result::kSocketStartFailed);
    }
    const Findings found = Gather(options, model, outcome.answers, startTime);
    const bool cancelled = outcome.result == result::kNotStarted;
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
