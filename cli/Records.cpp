#include "cli/Records.h"

#include <cstdio>

#include "platform/RecordFile.h"
#include "resources/Reasons.h"
#include "resources/Text.h"

namespace vexil::cli {

namespace {

bool WriteFailedFile(const std::string& failedFile, const std::string& text) {
    if (failedFile.empty()) {
        return true;
    }
    const Reason reason = WriteRecord(failedFile, text, RecordMode::kReplace);
    if (!reason.empty()) {
        std::fprintf(stderr, "vexil-download: %s\n",
                     Tr("cli.files.write-failed", {failedFile, Words(reason)}).c_str());
    }
    return reason.empty();
}

}  // namespace

bool RecordNotDone(const std::string& failedFile, const std::vector<Target>& targets) {
    std::string all;
    for (const Target& target : targets) {
        all += target.Label() + "\n";
    }
    return WriteFailedFile(failedFile, all);
}

bool RecordFailed(const std::string& failedFile, const std::vector<Report>& reports) {
    std::string failed;
    for (const Report& report : reports) {
        failed += report.Succeeded() ? "" : report.target.Label() + "\n";
    }
    return WriteFailedFile(failedFile, failed);
}

std::string AppendLogLine(const std::string& log, Report& report) {
    if (log.empty()) {
        return {};
    }
    const Reason reason = WriteRecord(log, LogLine(report) + "\n", RecordMode::kAppend);
    report.logged = reason.empty();
    report.logFailed = !report.logged;
    return Words(reason);
}

}  // namespace vexil::cli
