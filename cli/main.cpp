// vexil-download: the firmware download of the Vexilware window from the command line, for one
// print server or, with --targets, for a whole fleet of them; with --query an inventory.
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>

#include "cli/Checksums.h"
#include "cli/ConsolePort.h"
#include "cli/Download.h"
#include "cli/Fleet.h"
#include "cli/Options.h"
#include "cli/Outcomes.h"
#include "cli/Records.h"
#include "cli/Report.h"
#include "cli/Scan.h"
#include "format/ModelFiles.h"
#include "platform/Console.h"
#include "platform/Environment.h"
#include "platform/Process.h"
#include "platform/ProgramMain.h"
#include "platform/RecordFile.h"
#include "platform/RegularFile.h"
#include "platform/StandardStreams.h"
#include "platform/WidePath.h"
#include "resources/Reasons.h"
#include "resources/Text.h"

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
        std::fprintf(stderr, "vexil-download: %s\n",
                     std::string(vexil::Tr("cli.usage.see-help")).c_str());
    }
    return kExitUsage;
}

// One target's download or query, with its times.
Report RunTimed(const Options& options, vexil::Transport& transport, const ApprovedSums* approved) {
    const auto start = std::chrono::steady_clock::now();
    const std::string startTime = UtcNow();
    Report report;
    {
        ConsolePort port(options.yes);
        port.allowUnverified = options.allowUnverified;
        report = options.query ? RunQuery(transport, options.target, options.modelIndex, port,
                                          !options.dir.empty(), approved)
                               : RunDownload(transport, options.target, options.modelIndex, port,
                                             options.skipCurrent, approved);
    }
    report.start = startTime;
    report.end = UtcNow();
    report.seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    return report;
}

// What the run hands on: its report to the fleet that started it, the JSON, or an inventory of
// one's table.
void HandOn(const Report& report, const Options& options, int status) {
    if (options.reportFd >= 0) {
        process::SendReport(options.reportFd, ToJson(report) + "\n");
    }
    if (options.json) {
        std::printf("%s\n%s\n", ToJson(report).c_str(), SummaryJson({report}, status).c_str());
    } else if (options.query && options.reportFd < 0) {
        // An inventory of one (a fleet's child reports to the fleet instead): what the print server
        // reported, as a fleet's table shows it.
        std::fputs(SummaryTable({report}).c_str(), stdout);
    }
}

// One target's run, in this process.
int RunOne(const Options& options, vexil::Transport& transport, const ApprovedSums* approved) {
    if (!RecordNotDone(options.failedFile, {options.target})) {
        return kExitNotRecorded;
    }
    Report report = RunTimed(options, transport, approved);
    bool recorded = true;
    if (const std::string reason = AppendLogLine(options.log, report); !reason.empty()) {
        recorded = false;
        std::fprintf(stderr, "vexil-download: %s\n",
                     vexil::Tr("cli.files.log-failed-unrecorded", {options.log, reason}).c_str());
    }
    recorded = RecordFailed(options.failedFile, {report}) && recorded;
    const int status = ExitStatus(report.run.result);
    const int exitStatus = status != 0 ? status : recorded ? 0 : kExitNotRecorded;
    HandOn(report, options, exitStatus);
    return exitStatus;
}

// The log, the --failed file, the targets file and the file --scan writes are files apart, and
// apart from the one standard output goes to: one written over another would destroy a record,
// the list of print servers or the table.
// The model's download file (or its companion) that `path` names, in --dir or the working
// directory; empty when it names neither.
std::string NamedDownloadFile(const Options& options, const std::string& path) {
    const vexil::ModelFiles* files = vexil::FindModelFiles(options.modelIndex);
    if (files == nullptr) {
        return {};
    }
    for (const char* name : {files->mainFile, files->companionFile}) {
        // Joined as text: the names are UTF-8, which a path made from a narrow string would
        // take for the ANSI code page on Windows.
        if (name != nullptr &&
            vexil::NamesOneFile(path, options.dir.empty() ? name : options.dir + "/" + name)) {
            return name;
        }
    }
    return {};
}

Refusal CheckFilesApart(const Options& options) {
    const std::pair<const std::string*, const char*> files[] = {
        {&options.log, "--log"},
        {&options.failedFile, "--failed"},
        {&options.writeTargets, "--write-targets"},
        {&options.targetsFile, "--targets"},
        {&options.checksums, "--checksums"}};
    for (std::size_t i = 0; i < std::size(files); ++i) {
        if (files[i].first->empty()) {
            continue;
        }
        for (std::size_t j = i + 1; j < std::size(files); ++j) {
            if (!files[j].first->empty() && vexil::NamesOneFile(*files[i].first, *files[j].first)) {
                return {0, vexil::Tr("cli.files.same",
                                     {files[i].second, files[j].second, *files[j].first})};
            }
        }
        // The two files read: neither standard output nor the download file is a record.
        if (files[i].first == &options.targetsFile || files[i].first == &options.checksums) {
            continue;
        }
        if (vexil::NamesStandardOutput(*files[i].first)) {
            return {0, vexil::Tr("cli.files.standard-output", {files[i].second, *files[i].first})};
        }
        // A record written over the download file would destroy the image it is about.
        if (const std::string download = NamedDownloadFile(options, *files[i].first);
            !download.empty()) {
            return {0, vexil::Tr("cli.files.download-file",
                                 {files[i].second, download, *files[i].first})};
        }
    }
    return {};
}

// What records the run is checked before anything is sent, so that no download is made
// unrecorded; a FIFO or a folder is refused, never waited on. A refused run creates and changes
// nothing.
Refusal CheckRecords(const Options& options) {
    const struct {
        const std::string& path;
        const char* refusal;  // its catalog key
        vexil::RecordMode mode;
    } records[] = {
        {options.log, "cli.files.cannot-write-log", vexil::RecordMode::kAppend},
        {options.failedFile, "cli.files.cannot-write-failed", vexil::RecordMode::kReplace},
        {options.writeTargets, "cli.files.cannot-write-targets", vexil::RecordMode::kReplace}};
    for (const auto& [path, refusal, mode] : records) {
        if (!path.empty()) {
            if (const vexil::Reason reason = vexil::CheckRecordFile(path, mode); !reason.empty()) {
                return {0, vexil::Tr(refusal, {path, vexil::Words(reason)})};
            }
        }
    }
    return {};
}

// The engine opens the download files by their fixed names from the working directory (a query
// given --dir reports the file's version too). A fleet checks the folder once here, before any
// of its downloads starts. What is not a folder (a file, a device such as NUL on Windows) is
// refused by its kind: the working folder must never become something else.
Refusal UseFolder(const Options& options) {
    if (options.dir.empty()) {
        return {};
    }
    std::error_code error;
    const vexil::FileKind kind = vexil::KindOf(options.dir);
    if (kind == vexil::FileKind::kRegular || kind == vexil::FileKind::kOther) {
        error = std::make_error_code(std::errc::not_a_directory);
    } else {
        std::filesystem::current_path(vexil::WidePath(options.dir), error);
    }
    if (error) {
        return {0, vexil::Tr("cli.files.folder",
                             {options.dir, vexil::Words(vexil::ErrorReason(error))})};
    }
    return {};
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
        std::fputs(vexil::FitToWidth(vexil::Tr("cli.help"), vexil::kHelpColumns).c_str(), stdout);
        return 0;
    }
    if (options.listModels) {
        std::fputs(ModelList().c_str(), stdout);
        return 0;
    }
    // As the children of a fleet and the download (which changes to --dir) must read them.
    // Messages name the checksums file as it was given.
    const std::string checksumsGiven = options.checksums;
    for (std::string* path : {&options.dir, &options.log, &options.failedFile,
                              &options.writeTargets, &options.checksums}) {
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
    // Each child of a fleet reads the checksums file again, which a pipe or a device, read
    // once by the fleet, could not give it (nor is a FIFO waited on then).
    if (!options.checksums.empty() && !targets.empty() &&
        vexil::KindOf(options.checksums) != vexil::FileKind::kRegular) {
        return Refuse({0, vexil::Tr("cli.checksums.fleet-regular", {checksumsGiven})});
    }
    // So are the approved sums: a checksums file that does not read is a usage error.
    ApprovedSums approved{checksumsGiven, {}};
    if (!options.checksums.empty()) {
        if (const Refusal refusal = ReadChecksums(options.checksums, approved.sums);
            refusal.Refused()) {
            return Refuse(refusal);
        }
    }
    const ApprovedSums* sums = options.checksums.empty() ? nullptr : &approved;
    console::CatchCancel();
    if (options.reportFd >= 0) {
        process::WatchFleet(options.reportFd);
    }

    for (Refusal (*check)(const Options&) : {CheckFilesApart, CheckRecords, UseFolder}) {
        if (const Refusal refusal = check(options); refusal.Refused()) {
            return Refuse(refusal);
        }
    }
    vexil::TavdlTransport transport;
    WaitOnConsole(transport);
    if (!options.scanAddresses.empty()) {
        return RunScan(options, transport);
    }
    if (!targets.empty()) {
        return RunFleet(options, targets, transport, sums);
    }
    return RunOne(options, transport, sums);
}

}  // namespace

int main(int argc, char** argv) {
    vexil::SetLanguage(vexil::ChooseLanguage(vexil::EnvironmentValue, vexil::SystemLanguage()));
    return vexil::RunMain(
        "vexil-download", argc, argv,
        [](int count, char** arguments) {
            const int status = Run(count, arguments);
            // What went to standard output (the JSON, the summary, the inventory) must be there: a
            // full disk or a closed pipe is reported, not hidden behind a status of success.
            if (std::fflush(stdout) != 0 || std::ferror(stdout) != 0) {
                std::fprintf(stderr, "vexil-download: %s\n",
                             vexil::Tr("cli.files.standard-output-failed",
                                       {vexil::Words(vexil::Reason::System(errno))})
                                 .c_str());
                return status != 0 ? status : kExitNotRecorded;
            }
            return status;
        },
        vexil::InternalErrorWords);
}
