#include "cli/Download.h"

#include "engine/DownloadEngine.h"
#include "engine/ModelTable.h"
#include "frontend/Confirmation.h"
#include "frontend/ResultReport.h"
#include "resources/Text.h"

namespace vexil::cli {

namespace {

// The engine over the program's transport, for one run against one target. The port's cancel
// command reaches the engine while it lives.
class Session {
  public:
    Session(Transport& transport, ConsolePort& port) : engine_(transport, port), port_(port) {
        port.onCancel = [this] { engine_.Cancel(); };
    }
    ~Session() { port_.onCancel = nullptr; }
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    DownloadEngine& Engine() { return engine_; }

  private:
    DownloadEngine engine_;
    ConsolePort& port_;
};

Report ReportOf(const Target& target, int modelIndex, bool query) {
    Report report;
    report.target = target;
    report.model = modelIndex;
    report.query = query;
    return report;
}

}  // namespace

void WaitOnConsole(TavdlTransport& transport) {
    transport.SetWaitHook(&ConsolePort::WaitHook);
    transport.SetWaitSlice(ConsolePort::kWaitSliceMs);
}

DownloadRequest RequestFor(const Target& target, int modelIndex) {
    DownloadRequest request;
    request.ipx = target.ipx;
    request.modelIndex = modelIndex;
    request.firstListEntry = modelIndex == kLanCardModel;
    SetAddressText(request, target.text);
    if (target.ipx) {
        request.mac = target.Shown();
    }
    return request;
}

Report RunDownload(Transport& transport, const Target& target, int modelIndex, ConsolePort& port,
                   bool skipCurrent) {
    Report report = ReportOf(target, modelIndex, false);
    DownloadRequest request = RequestFor(target, modelIndex);
    request.skipCurrent = skipCurrent;
    Session session(transport, port);
    if (!transport.StartSockets()) {
        report.run.result = result::kSocketStartFailed;
    } else {
        report.run = session.Engine().Run(request);
    }
    NoteIfUnverified(report);
    DownloadOutcome& run = report.run;
    if (run.alreadyCurrent) {
        port.ReportAlreadyCurrent(MakeConfirmation(request, run.deviceVersion, run.fileVersion));
        return report;
    }
    const int before = run.LastMessage();
    ReportOutcome(run, port, port);
    port.SetProgressPosition(0);
    if (port.Unverified()) {
        report.verdict = Verdict::kUnverified;
    }
    const std::vector<ResultMessage> shown = ResultMessages(run.result);
    report.lastMessage = shown.empty() ? before : shown.front().stringId;
    return report;
}

int CheckDownloadFile(Transport& transport, int modelIndex, bool ipx, ConsolePort& port) {
    Target target;
    target.ipx = ipx;
    Session session(transport, port);
    return session.Engine().CheckFile(RequestFor(target, modelIndex)).result;
}

Report RunQuery(Transport& transport, const Target& target, int modelIndex, ConsolePort& port,
                bool withFile) {
    Report report = ReportOf(target, modelIndex, true);
    Session session(transport, port);
    std::string fileVersion;
    if (withFile) {
        // The file is checked as a download would check it, before anything is sent.
        report.run = session.Engine().CheckFile(RequestFor(target, modelIndex));
        if (report.run.result != result::kSuccess) {
            report.lastMessage = report.run.LastMessage();
            return report;
        }
        fileVersion = report.run.fileVersion;
    }
    if (transport.StartSockets()) {
        report.run = session.Engine().QueryVersion(RequestFor(target, modelIndex), withFile);
        if (report.run.result == result::kWrongModel) {
            ReportOutcome(report.run, port, port);  // as the download would report it
        }
    } else {
        report.run.result = result::kSocketStartFailed;
        ReportOutcome(report.run, port, port);
    }
    report.run.fileVersion = fileVersion;
    NoteIfUnverified(report);
    report.lastMessage = report.run.result == result::kSuccess ? 0 : report.run.LastMessage();
    return report;
}

}  // namespace vexil::cli
