#include "cli/Download.h"

#include <algorithm>

#include "cmdline/CommandLine.h"
#include "engine/Confirmation.h"
#include "engine/DownloadEngine.h"
#include "engine/ModelTable.h"
#include "engine/ResultReport.h"
#include "resources/ResourceIds.h"
#include "resources/StringTable.h"
#include "transport/TavdlTransport.h"

namespace vexil::cli {

namespace {

// A version as two hexadecimal numbers around a dot, whatever their leading zeros or case.
bool ReadVersion(std::string_view text, std::uint64_t& major, std::uint64_t& minor) {
    const std::size_t dot = text.find('.');
    return dot != std::string_view::npos &&
           cmdline::ReadNumber("0x" + std::string(text.substr(0, dot)), 0, 0xFF, major,
                               cmdline::Radix::kDecimalOrHex) &&
           cmdline::ReadNumber("0x" + std::string(text.substr(dot + 1)), 0, 0xFF, minor,
                               cmdline::Radix::kDecimalOrHex);
}

// The engine with its transport, for one run against one target. The port's cancel command
// reaches the engine while it lives.
class Session {
  public:
    explicit Session(ConsolePort& port) : engine_(transport_, port), port_(port) {
        port.onCancel = [this] { engine_.Cancel(); };
        transport_.SetWaitHook(&ConsolePort::WaitHook);
    }
    ~Session() {
        transport_.SetWaitHook(nullptr);
        port_.onCancel = nullptr;
        port_.alreadyCurrent = nullptr;
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

Outcome FromEngine(const DownloadOutcome& engine) {
    Outcome outcome;
    outcome.result = engine.result;
    outcome.fileVersion = engine.fileVersion;
    outcome.deviceVersion = engine.deviceVersion;
    outcome.deviceModelCode = engine.deviceModelCode;
    outcome.firstMessage = engine.FirstErrorMessage();
    return outcome;
}

}  // namespace

bool SameVersion(std::string_view device, std::string_view file) {
    std::uint64_t deviceMajor = 0;
    std::uint64_t deviceMinor = 0;
    std::uint64_t fileMajor = 0;
    std::uint64_t fileMinor = 0;
    return ReadVersion(device, deviceMajor, deviceMinor) &&
           ReadVersion(file, fileMajor, fileMinor) && deviceMajor == fileMajor &&
           deviceMinor == fileMinor;
}

std::string AsReported(std::string_view fileVersion) {
    std::uint64_t major = 0;
    std::uint64_t minor = 0;
    if (!ReadVersion(fileVersion, major, minor)) {
        return std::string(fileVersion);
    }
    return DownloadEngine::FormatVersionBytes(static_cast<std::uint8_t>(major),
                                              static_cast<std::uint8_t>(minor), true);
}

int ExitStatus(int result) {
    return result < 0 ? -result : result;
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

Outcome RunDownload(const Target& target, int modelIndex, ConsolePort& port, bool skipCurrent) {
    Session session(port);
    if (skipCurrent) {
        port.alreadyCurrent = [](const ConfirmationValues& values) {
            return SameVersion(values.deviceVersion, values.fileVersion);
        };
    }
    DownloadOutcome run;
    if (!session.StartSockets()) {
        run.result = result::kSocketStartFailed;
    } else {
        run = session.Engine().Run(RequestFor(target, modelIndex));
    }
    if (port.AlreadyCurrent()) {
        // Declined at the confirmation for being current: nothing was changed, as asked.
        run.result = result::kSuccess;
        Outcome outcome = FromEngine(run);
        outcome.alreadyCurrent = true;
        return outcome;
    }
    const int before = run.LastMessage();
    ReportOutcome(run, port);
    port.SetProgressPosition(0);

    Outcome outcome = FromEngine(run);
    outcome.unverified = port.Unverified();
    const std::vector<ResultMessage> shown = ResultMessages(run.result);
    outcome.message = shown.empty() ? before : shown.front().stringId;
    return outcome;
}

int CheckDownloadFile(int modelIndex, bool ipx, ConsolePort& port) {
    Target target;
    target.ipx = ipx;
    Session session(port);
    return session.Engine().CheckFile(RequestFor(target, modelIndex)).result;
}

Outcome RunQuery(const Target& target, int modelIndex, ConsolePort& port, bool withFile) {
    Session session(port);
    std::string fileVersion;
    if (withFile) {
        // The file is checked as a download would check it, before anything is sent.
        const DownloadOutcome check = session.Engine().CheckFile(RequestFor(target, modelIndex));
        if (check.result != result::kSuccess) {
            Outcome outcome = FromEngine(check);
            outcome.message = check.LastMessage();
            return outcome;
        }
        fileVersion = check.fileVersion;
    }
    DownloadOutcome run;
    if (session.StartSockets()) {
        run = session.Engine().QueryVersion(RequestFor(target, modelIndex));
    } else {
        run.result = result::kSocketStartFailed;
        ReportOutcome(run, port);
    }
    Outcome outcome = FromEngine(run);
    outcome.message = run.result == result::kSuccess ? 0 : run.LastMessage();
    outcome.fileVersion = fileVersion;
    return outcome;
}

}  // namespace vexil::cli
