// vexil-printserver-sim: simulated network print servers, one or one for each address it is
// given, all in one process. Each answers the version queries, the download-mode switch and the
// download connection over TCP/IP (the first one also over IPX tunnelled in UDP), keeps a flash
// image, checks every record it receives, and writes the image to a file when the download
// finishes. Fault options make every failure of a download reachable.
#include <csignal>
#include <cstdio>
#include <cstring>

#include "platform/Console.h"
#include "platform/Environment.h"
#include "platform/ProgramMain.h"
#include "platform/StandardStreams.h"
#include "resources/Reasons.h"
#include "resources/Text.h"
#include "tools/sim/PrintServer.h"
#include "tools/sim/SimNetwork.h"
#include "tools/sim/SimOptions.h"

namespace {

volatile std::sig_atomic_t g_stop = 0;
void OnSignal(int) {
    g_stop = 1;
}

int Run(int argc, char** argv) {
    using namespace vexil::sim;
    // Before anything is opened: a socket or the flash file opened on a closed standard
    // descriptor would take the log lines meant for it.
    if (!vexil::OpenStandardStreams()) {
        return 1;
    }
    vexil::console::Prepare();
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            std::fputs(HelpText().c_str(), stdout);
            return 0;
        }
    }
    std::vector<Options> printers;
    std::string error;
    if (!ParseOptions(argc, argv, printers, error)) {
        std::fprintf(stderr, "%s\n", vexil::Tr("sim.usage.line", {error}).c_str());
        return vexil::kExitUsage;
    }
    // Either signal ends the wait for the sockets at once on POSIX (a wait for sockets is never
    // restarted after a handler); on Windows the loop sees it within a second.
    std::signal(SIGINT, OnSignal);
    std::signal(SIGTERM, OnSignal);
    // Its log may go to a pipe whose reader has gone: the simulator goes on serving.
    vexil::SurviveClosedPipes();
    // Three sockets for each print server: a fleet of them needs more descriptors than the
    // usual soft limit.
    vexil::TakeHardDescriptorLimit();
    const SimLog log(printers.front().quiet);
    SimNetwork network(printers, log);
    if (!network.Start()) {
        return 1;
    }
    return network.Run(g_stop);
}

}  // namespace

int main(int argc, char** argv) {
    vexil::SetLanguage(vexil::ChooseLanguage(vexil::EnvironmentValue, vexil::SystemLanguage()));
    return vexil::RunMain("vexil-printserver-sim", argc, argv, Run, vexil::InternalErrorWords);
}
