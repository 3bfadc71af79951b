#include "cli/Download.h"

#include <cstdio>
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

DownloadRequest RequestFor(const Target& target, int modelIndex, const ApprovedSums* approved) {
    DownloadRequest request;
    if (approved != nullptr) {
        request.sums = approved->sums;
    }
    request.ipx = target.ipx;
    request.modelIndex = modelIndex;
    request.firstListEntry = modelIndex == kLanCardModel;
    SetAddressText(request, target.text);
    if (target.ipx) {
        request.mac = target.Shown();
    }
    return request;
}

bool ReportSumRefusal(Report& report, const ApprovedSums* approved) {
    if (approved == nullptr || !report.run.sumRefusal) {
        return false;
    }
    std::fprintf(stderr, "vexil-download: %s\n",
                 SumRefusalText(report.run, approved->path, CurrentLanguage()).c_str());
    // The JSON's note is in English whatever the language; the table shows the user's.
    report.note = SumRefusalText(report.run, approved->path, Language::kEnglish);
    report.shownNote = SumRefusalText(report.run, approved->path, CurrentLanguage());
    return true;
}

Report RunDownload(Transport& transport, const Target& target, int modelIndex, ConsolePort& port,
                   bool skipCurrent, const ApprovedSums* approved) {
    Report report = ReportOf(target, modelIndex, false);
    DownloadRequest request = RequestFor(target, modelIndex, approved);
    request.skipCurrent = skipCurrent;
    Session session(transport, port);
    if (!transport.StartSockets()) {
        report.run.result = result::kSocketStartFailed;
    } else {
        report.run = session.Engine().Run(request);
    }
    NoteIfUnverified(report);
    ReportSumRefusal(report, approved);
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

int CheckDownloadFile(Transport& transport, int modelIndex, bool ipx, ConsolePort& port,
                      const ApprovedSums* approved) {
    Target target;
    target.ipx = ipx;
    Session session(transport, port);
    Report report;
    report.run = session.Engine().CheckFile(RequestFor(target, modelIndex, approved));
    ReportSumRefusal(report, approved);
    return report.run.result;
}

Report RunQuery(Transport& transport, const Target& target, int modelIndex, ConsolePort& port,
                bool withFile, const ApprovedSums* approved) {
    Report report = ReportOf(target, modelIndex, true);
    Session session(transport, port);
    std::string fileVersion;
    if (withFile) {
        // The file is checked as a download would check it, before anything is sent.
        report.run = session.Engine().CheckFile(RequestFor(target, modelIndex, approved));
        if (report.run.result != result::kSuccess) {
            ReportSumRefusal(report, approved);
            report.lastMessage = report.run.LastMessage();
            return report;
        }
        fileVersion = report.run.fileVersion;
    }
    // The file's sums, as its check read it: the query itself reads no file.
    const DownloadOutcome checked = report.run;
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
    report.run.fileSha256 = checked.fileSha256;
    report.run.companionSha256 = checked.companionSha256;
    NoteIfUnverified(report);
    report.lastMessage = report.run.result == result::kSuccess ? 0 : report.run.LastMessage();
    return report;
}

}  // namespace vexil::cli
