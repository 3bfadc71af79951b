#include "cli/Download.h"

#include <sys/socket.h>
#include <unistd.h>

#include <ctime>

#include "engine/DownloadEngine.h"
#include "engine/ResultReport.h"
#include "engine/TargetRecord.h"
#include "engine/Transport.h"
#include "resources/StringTable.h"

namespace vexil::cli {

namespace {

constexpr int kUnknownVersion = 57630;

// Whether this process may open sockets at all; a download that cannot ends as result -1.
bool SocketsUsable() {
    const int probe = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (probe < 0) {
        return false;
    }
    ::close(probe);
    return true;
}

}  // namespace

int ExitStatus(int result) {
    return result < 0 ? -result : result;
}

Outcome RunDownload(const Target& target, int modelIndex, ConsolePort& port) {
    Outcome outcome;
    TavdlTransport transport;
    DownloadEngine engine(transport, port);
    const TargetRecordPtr record = CreateTargetRecord();
    engine.target = record.get();
    record->modelIndex = modelIndex;

    port.onCancel = [&engine] { engine.OnCancelCommand(); };
    port.confirmationValues = [&engine, &target] {
        // The print server's version, or "?" when the query failed; the file's version without
        // its first digit (01.10 shows as 1.10).
        const std::string device = engine.deviceVersion.empty()
                                       ? std::string(LoadString(kUnknownVersion))
                                       : engine.deviceVersion;
        const std::string file =
            engine.fileVersion.size() > 1 ? engine.fileVersion.substr(1, 4) : std::string();
        return std::array<std::string, 3>{target.Shown(), device, file};
    };
    TavDL_SetWaitHook(&ConsolePort::WaitHook);

    if (!SocketsUsable()) {
        outcome.result = -1;
    } else if (target.ipx) {
        record->mode = TAVDL_MODE_IPX;
        SetIpxNetwork(*record, target.network);
        SetIpxNode(*record, target.node);
        outcome.result = engine.RunIpxDownload();
    } else {
        record->mode = TAVDL_MODE_TCP_QUERY;
        SetInetAddress(*record, target.octets);
        outcome.result = engine.RunTcpDownload();
    }
    const int before = port.LastMessage();
    ReportResult(outcome.result, port);
    port.SetProgressPosition(0);
    transport.CloseSocket(&engine.downloadSocket);
    TavDL_SetWaitHook(nullptr);
    port.onCancel = nullptr;
    port.confirmationValues = nullptr;

    const std::vector<ResultMessage> shown = ResultMessages(outcome.result);
    outcome.message = shown.empty() ? before : shown.front().stringId;
    outcome.fileVersion = engine.fileVersion;
    outcome.deviceVersion = engine.deviceVersion;
    return outcome;
}

std::string LogLine(const Target& target, int modelIndex, const Outcome& outcome) {
    char time[32] = "";
    const std::time_t now = std::time(nullptr);
    std::tm utc{};
    gmtime_r(&now, &utc);
    std::strftime(time, sizeof time, "%Y-%m-%dT%H:%M:%SZ", &utc);
    auto orDash = [](const std::string& text) { return text.empty() ? std::string("-") : text; };
    return std::string(time) + " target=" + (target.ipx ? "ipx:" : "tcp:") + target.text +
           " model=" + std::to_string(modelIndex) + " file=" + orDash(outcome.fileVersion) +
           " before=" + orDash(outcome.deviceVersion) +
           " result=" + std::to_string(outcome.result) +
           " message=" + std::to_string(outcome.message);
}

}  // namespace vexil::cli
