// vexil-download: the firmware download of the Vexilware window from the command line, for one
// print server or, with --targets, for a whole fleet of them.
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "cli/ConsolePort.h"
#include "cli/Download.h"
#include "cli/Fleet.h"
#include "cli/Options.h"

using namespace vexil::cli;

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

}  // namespace

int main(int argc, char** argv) {
    Options options;
    if (const Refusal refusal = ParseOptions(argc, argv, options); refusal.Refused()) {
        return Refuse(refusal);
    }
    if (options.help) {
        std::fputs(kHelp, stdout);
        return 0;
    }
    // The targets are read before Ctrl-C becomes the cancel command: until then nothing has been
    // sent, and Ctrl-C ends the program as usual, also while it waits for a pipe to be written.
    std::vector<Target> targets;
    if (!options.targetsFile.empty()) {
        if (const Refusal refusal = ReadTargets(options.targetsFile, targets); refusal.Refused()) {
            return Refuse(refusal);
        }
    }
    ::signal(SIGPIPE, SIG_IGN);
    CatchCancelSignals();

    // The log is opened before anything is sent, so that a download is never made unrecorded.
    int log = -1;
    if (!options.log.empty()) {
        log = ::open(options.log.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
        if (log < 0) {
            return Refuse({0, "cannot open the log " + options.log + ": " + std::strerror(errno)});
        }
    }
    if (!targets.empty()) {
        if (log >= 0) {
            ::close(log);  // each download of the fleet appends its own line
        }
        return RunFleet(options, targets);
    }
    // The engine opens the download files by their fixed names from the working directory.
    if (!options.dir.empty() && ::chdir(options.dir.c_str()) != 0) {
        return Refuse({0, "cannot use the folder " + options.dir + ": " + std::strerror(errno)});
    }

    ConsolePort port(options.listSelection, options.yes);
    const Outcome outcome = RunDownload(options.target, options.modelIndex, port);
    if (log >= 0) {
        const std::string line = LogLine(options.target, options.modelIndex, outcome) + "\n";
        // One write per line, so that the lines of a fleet's downloads never interleave.
        if (::write(log, line.data(), line.size()) != static_cast<ssize_t>(line.size())) {
            std::fprintf(stderr, "vexil-download: writing the log %s failed\n",
                         options.log.c_str());
        }
        ::close(log);
    }
    if (options.reportFd >= 0) {
        ::dprintf(options.reportFd, "%d %d\n", outcome.result, outcome.message);
        ::close(options.reportFd);
    }
    return ExitStatus(outcome.result);
}
