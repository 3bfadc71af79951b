#include "cli/Download.h"

#include <algorithm>

#include "cmdline/CommandLine.h"
#include "engine/Confirmation.h"
#include "engine/DownloadEngine.h"
#include "engine/ResultReport.h"
#include "engine/TargetRecord.h"
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

// The engine with its transport and target record, for one run against one target.
class Session {
  public:
    Session(const Target& target, int modelIndex, ConsolePort& port)
        : engine_(transport_, port), record_(CreateTargetRecord()), port_(port) {
        engine_.target = record_.get();
        record_->modelIndex = modelIndex;
        if (target.ipx) {
            record_->mode = TAVDL_MODE_IPX;
            SetIpxNetwork(*record_, target.network);
            SetIpxNode(*record_, target.node);
        } else {
            record_->mode = TAVDL_MODE_TCP_QUERY;
            SetInetAddress(*record_, Ipv4Address(target.octets[0], target.octets[1],
                                                 target.octets[2], target.octets[3]));
        }
        port.onCancel = [this] { engine_.OnCancelCommand(); };
        transport_.SetWaitHook(&ConsolePort::WaitHook);
    }
    ~Session() {
        transport_.CloseSocket(&engine_.downloadSocket);
        transport_.SetWaitHook(nullptr);
        port_.onCancel = nullptr;
        port_.confirmationValues = nullptr;
        port_.alreadyCurrent = nullptr;
    }
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    bool StartSockets() { return transport_.StartSockets(); }
    DownloadEngine& Engine() { return engine_; }

    void Fill(Outcome& outcome) const {
        outcome.fileVersion = engine_.fileVersion;
        outcome.deviceVersion = engine_.deviceVersion;
        outcome.deviceModelCode = engine_.deviceVersion.empty() ? "" : engine_.deviceModelCode;
        outcome.firstMessage = port_.FirstErrorMessage();
    }

  private:
    TavdlTransport transport_;
    DownloadEngine engine_;
    TargetRecordPtr record_;
    ConsolePort& port_;
};

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

Outcome RunDownload(const Target& target, int modelIndex, ConsolePort& port, bool skipCurrent) {
    Outcome outcome;
    Session session(target, modelIndex, port);
    DownloadEngine& engine = session.Engine();
    port.confirmationValues = [&engine, &target] {
        ConfirmationEntry entry;
        entry.tcp = !target.ipx;
        if (target.ipx) {
            entry.mac = target.Shown();
        } else {
            std::size_t start = 0;
            for (std::string& octet : entry.octets) {
                const std::size_t dot = std::min(target.text.find('.', start), target.text.size());
                octet = target.text.substr(start, dot - start);
                start = dot + 1;
            }
        }
        entry.deviceVersion = engine.deviceVersion;
        entry.fileVersion = engine.fileVersion;
        return ConfirmationLines(entry, LoadString(msg::kNoVersion));
    };
    if (skipCurrent) {
        port.alreadyCurrent = [&engine] {
            return SameVersion(engine.deviceVersion, engine.fileVersion);
        };
    }

    if (!session.StartSockets()) {
        outcome.result = result::kSocketStartFailed;
    } else if (target.ipx) {
        outcome.result = engine.RunIpxDownload();
    } else {
        outcome.result = engine.RunTcpDownload();
    }
    if (port.AlreadyCurrent()) {
        // Declined at the confirmation for being current: nothing was changed, as asked.
        outcome.result = result::kSuccess;
        outcome.alreadyCurrent = true;
        session.Fill(outcome);
        return outcome;
    }
    const int before = port.LastMessage();
    ReportResult(outcome.result, port);
    port.SetProgressPosition(0);

    const std::vector<ResultMessage> shown = ResultMessages(outcome.result);
    outcome.message = shown.empty() ? before : shown.front().stringId;
    session.Fill(outcome);
    return outcome;
}

int CheckDownloadFile(int modelIndex, bool ipx, ConsolePort& port) {
    Target target;
    target.ipx = ipx;
    Session session(target, modelIndex, port);
    return session.Engine().RunFileCheck(ipx);
}

Outcome RunQuery(const Target& target, int modelIndex, ConsolePort& port) {
    Outcome outcome;
    Session session(target, modelIndex, port);
    outcome.result = session.StartSockets() ? session.Engine().RunVersionQuery(target.ipx)
                                            : result::kSocketStartFailed;
    if (outcome.result == result::kSocketStartFailed) {
        ReportResult(outcome.result, port);
    }
    outcome.message = outcome.result == result::kSuccess ? 0 : port.LastMessage();
    session.Fill(outcome);
    return outcome;
}

}  // namespace vexil::cli
