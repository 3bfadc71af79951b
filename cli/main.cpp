// vexil-download: the firmware download of the Vexilware window from the command line, for one
// print server or, with --targets, for a whole fleet of them; with --query an inventory.
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>

#include "cli/ConsolePort.h"
#include "cli/Download.h"
#include "cli/Fleet.h"
#include "cli/Options.h"
#include "cli/Report.h"
#include "platform/Console.h"
#include "platform/Process.h"
#include "platform/ProgramMain.h"
#include "platform/RecordFile.h"
#include "platform/RegularFile.h"
#include "platform/StandardStreams.h"
#include "platform/WidePath.h"

using namespace vexil::cli;
namespace console = vexil::console;
namespace process = vexil::process;

namespace {

int Refuse(const Refusal& refusal) {
    if (refusal.message != 0) {
        std::fputs(FormatMessage("error", refusal.message).c_str(), stderr);
    }
    if (!refusal.text.empty()) {
        std::fprintf(stderr, "vexil-download: %s\n", refusal.text.c_str());
    }
    if (refusal.message == 0) {
        std::fputs("vexil-download: see --help\n", stderr);
    }
    return kExitUsage;
}

// One target's run, in this process.
int RunOne(const Options& options) {
    if (!options.failedFile.empty()) {
        // Until the run has ended the target counts as not done, so that a run that is killed
        // never leaves an empty file that reads as success.
        if (const std::string reason = vexil::WriteRecord(
                options.failedFile, options.target.Label() + "\n", vexil::RecordMode::kReplace);
            !reason.empty()) {
            std::fprintf(stderr, "vexil-download: writing %s failed: %s\n",
                         options.failedFile.c_str(), reason.c_str());
            return kExitNotRecorded;
        }
    }
    const auto start = std::chrono::steady_clock::now();
    Report report;
    report.target = options.target;
    report.model = options.modelIndex;
    report.query = options.query;
    report.start = UtcNow();
    Outcome outcome;
    {
        ConsolePort port(options.yes);
        port.allowUnverified = options.allowUnverified;
        outcome = options.query
                      ? RunQuery(options.target, options.modelIndex, port, !options.dir.empty())
                      : RunDownload(options.target, options.modelIndex, port, options.skipCurrent);
    }
    report.end = UtcNow();
    report.seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    report.result = outcome.result;
    report.alreadyCurrent = outcome.alreadyCurrent;
    report.unverified = outcome.unverified;
    report.firstMessage = outcome.firstMessage;
    report.lastMessage = outcome.message;
    report.modelCode = outcome.deviceModelCode;
    report.deviceVersion = outcome.deviceVersion;
    report.fileVersion = outcome.fileVersion;

    bool recorded = true;
    if (!options.log.empty()) {
        const std::string reason =
            vexil::WriteRecord(options.log, LogLine(report) + "\n", vexil::RecordMode::kAppend);
        report.logged = reason.empty();
        if (!reason.empty()) {
            report.logFailed = true;
            recorded = false;
            std::fprintf(stderr,
                         "vexil-download: writing the log %s failed: %s; this target's result "
                         "is not on record\n",
                         options.log.c_str(), reason.c_str());
        }
    }
    if (!options.failedFile.empty()) {
        const std::string text = report.Succeeded() ? "" : report.target.Label() + "\n";
        if (const std::string reason =
                vexil::WriteRecord(options.failedFile, text, vexil::RecordMode::kReplace);
            !reason.empty()) {
            recorded = false;
            std::fprintf(stderr, "vexil-download: writing %s failed: %s\n",
                         options.failedFile.c_str(), reason.c_str());
        }
    }
    const int status = ExitStatus(report.result);
    if (options.reportFd >= 0) {
        process::SendReport(options.reportFd, ToJson(report) + "\n");
    }
    if (options.json) {
        std::printf("%s\n%s\n", ToJson(report).c_str(),
                    SummaryJson(1, report.Succeeded() ? 1 : 0, report.alreadyCurrent ? 1 : 0,
                                status != 0 ? status
                                : recorded  ? 0
                                            : kExitNotRecorded)
                        .c_str());
    } else if (options.query && options.reportFd < 0) {
        // An inventory of one (a fleet's child reports to the fleet instead): what the print server
        // reported, as a fleet's table shows it.
        std::fputs(SummaryTable({report}).c_str(), stdout);
    }
    return status != 0 ? status : recorded ? 0 : kExitNotRecorded;
}

int Run(int argc, char** argv) {
    // First of all: a program started with its standard streams closed would otherwise hand
    // their numbers to the first pipe or file it opens, and its messages would land there.
    if (!vexil::OpenStandardStreams()) {
        return kExitNotRecorded;
    }
    console::Prepare();
    Options options;
    if (const Refusal refusal = ParseOptions(argc, argv, options); refusal.Refused()) {
        return Refuse(refusal);
    }
    if (options.help) {
        std::fputs(kHelp, stdout);
        return 0;
    }
    if (options.listModels) {
        std::fputs(ModelList().c_str(), stdout);
        return 0;
    }
    // As the children of a fleet and the download (which changes to --dir) must read them.
    for (std::string* path : {&options.dir, &options.log, &options.failedFile}) {
        *path = vexil::AbsolutePath(*path);
    }
    // The targets are read before Ctrl-C becomes the cancel command: until then nothing has been
    // sent, and Ctrl-C ends the program as usual, also while it waits for a pipe to be written.
    std::vector<Target> targets;
    if (!options.targetsFile.empty()) {
        if (const Refusal refusal = ReadTargets(options.targetsFile, targets); refusal.Refused()) {
            return Refuse(refusal);
        }
    }
    console::CatchCancel();
    if (options.reportFd >= 0) {
        process::WatchFleet(options.reportFd);
    }

    // The log, the --failed file and the targets file are three files: one written over
    // another would destroy a record, or the list of print servers.
    const std::pair<const std::string*, const char*> files[] = {
        {&options.log, "--log"},
        {&options.failedFile, "--failed"},
        {&options.targetsFile, "--targets"}};
    for (std::size_t i = 0; i < std::size(files); ++i) {
        for (std::size_t j = i + 1; j < std::size(files); ++j) {
            if (!files[i].first->empty() && !files[j].first->empty() &&
                vexil::NamesOneFile(*files[i].first, *files[j].first)) {
                return Refuse({0, std::string(files[i].second) + " and " + files[j].second +
                                      " name the same file: " + *files[j].first});
            }
        }
    }
    // What records the run is checked before anything is sent, so that no download is made
    // unrecorded; a FIFO or a folder is refused, never waited on. A refused run creates and
    // changes nothing.
    const struct {
        const std::string& path;
        const char* what;
        vexil::RecordMode mode;
    } records[] = {{options.log, "the log", vexil::RecordMode::kAppend},
                   {options.failedFile, "the --failed file", vexil::RecordMode::kReplace}};
    for (const auto& [path, what, mode] : records) {
        if (!path.empty()) {
            if (const std::string reason = vexil::CheckRecordFile(path, mode); !reason.empty()) {
                return Refuse(
                    {0, "cannot write " + std::string(what) + " " + path + ": " + reason});
            }
        }
    }
    // The engine opens the download files by their fixed names from the working directory (a
    // query given --dir reports the file's version too). A fleet checks the folder once here,
    // before any of its downloads starts.
    // What is not a folder (a file, a device such as NUL on Windows) is refused by its kind: the
    // working folder must never become something else.
    if (!options.dir.empty()) {
        std::error_code error;
        const vexil::FileKind kind = vexil::KindOf(options.dir);
        if (kind == vexil::FileKind::kRegular || kind == vexil::FileKind::kOther) {
            error = std::make_error_code(std::errc::not_a_directory);
        } else {
            std::filesystem::current_path(vexil::WidePath(options.dir), error);
        }
        if (error) {
            return Refuse({0, "cannot use the folder " + options.dir + ": " + error.message()});
        }
    }
    if (!targets.empty()) {
        return RunFleet(options, targets);
    }
    return RunOne(options);
}

}  // namespace

int main(int argc, char** argv) {
    return vexil::RunMain("vexil-download", argc, argv, [](int count, char** arguments) {
        const int status = Run(count, arguments);
        // What went to standard output (the JSON, the summary, the inventory) must be there: a
        // full disk or a closed pipe is reported, not hidden behind a status of success.
        if (std::fflush(stdout) != 0 || std::ferror(stdout) != 0) {
            std::fprintf(stderr, "vexil-download: writing standard output failed: %s\n",
                         std::strerror(errno));
            return status != 0 ? status : kExitNotRecorded;
        }
        return status;
    });
}
