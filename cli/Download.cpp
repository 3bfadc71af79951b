#include "cli/Download.h"

#include "engine/DownloadEngine.h"
#include "engine/ModelTable.h"
#include "frontend/Confirmation.h"
#include "frontend/ResultReport.h"
#include "transport/TavdlTransport.h"

namespace vexil::cli {

namespace {

// The engine with its transport, for one run against one target. The port's cancel command
// reaches the engine while it lives.
class Session {
  public:
    explicit Session(ConsolePort& port) : engine_(transport_, port), port_(port) {
        port.onCancel = [this] { engine_.Cancel(); };
        transport_.SetWaitHook(&ConsolePort::WaitHook);
        transport_.SetWaitSlice(ConsolePort::kWaitSliceMs);
    }
    ~Session() {
        transport_.SetWaitSlice(0);
        transport_.SetWaitHook(nullptr);
        port_.onCancel = nullptr;
    }
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    bool StartSockets() { return transport_.StartSockets(); }
    DownloadEngine& Engine() { return engine_; }

  private:
    TavdlTransport transport_;
    DownloadEngine engine_;
    ConsolePort& port_;
};

Report ReportOf(const Target& target, int modelIndex, bool query) {
    Report report;
    report.target = target;
    report.model = modelIndex;
    report.query = query;
    report.note = UnverifiableNote(modelIndex, target.ipx);
    return report;
}

}  // namespace

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

Report RunDownload(const Target& target, int modelIndex, ConsolePort& port, bool skipCurrent) {
    Report report = ReportOf(target, modelIndex, false);
    DownloadRequest request = RequestFor(target, modelIndex);
    request.skipCurrent = skipCurrent;
    Session session(port);
    if (!session.StartSockets()) {
        report.run.result = result::kSocketStartFailed;
    } else {
        report.run = session.Engine().Run(request);
    }
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

int CheckDownloadFile(int modelIndex, bool ipx, ConsolePort& port) {
    Target target;
    target.ipx = ipx;
    Session session(port);
    return session.Engine().CheckFile(RequestFor(target, modelIndex)).result;
}

Report RunQuery(const Target& target, int modelIndex, ConsolePort& port, bool withFile) {
    Report report = ReportOf(target, modelIndex, true);
    Session session(port);
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
    if (session.StartSockets()) {
        report.run = session.Engine().QueryVersion(RequestFor(target, modelIndex), withFile);
        if (report.run.result == result::kWrongModel) {
            ReportOutcome(report.run, port, port);  // as the download would report it
        }
    } else {
        report.run.result = result::kSocketStartFailed;
        ReportOutcome(report.run, port, port);
    }
    report.run.fileVersion = fileVersion;
    report.lastMessage = report.run.result == result::kSuccess ? 0 : report.run.LastMessage();
    return report;
}

}  // namespace vexil::cli
