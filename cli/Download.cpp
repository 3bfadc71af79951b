#include "cli/Download.h"

#include <algorithm>
#include <ctime>

#include "engine/Confirmation.h"
#include "engine/DownloadEngine.h"
#include "engine/ResultReport.h"
#include "engine/TargetRecord.h"
#include "resources/ResourceIds.h"
#include "resources/StringTable.h"
#include "tavdl/TavdlTransport.h"

namespace vexil::cli {

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
    transport.SetWaitHook(&ConsolePort::WaitHook);

    if (!transport.StartSockets()) {
        outcome.result = -1;
    } else if (target.ipx) {
        record->mode = TAVDL_MODE_IPX;
        SetIpxNetwork(*record, target.network);
        SetIpxNode(*record, target.node);
        outcome.result = engine.RunIpxDownload();
    } else {
        record->mode = TAVDL_MODE_TCP_QUERY;
        SetInetAddress(*record, Ipv4Address(target.octets[0], target.octets[1], target.octets[2],
                                            target.octets[3]));
        outcome.result = engine.RunTcpDownload();
    }
    const int before = port.LastMessage();
    ReportResult(outcome.result, port);
    port.SetProgressPosition(0);
    transport.CloseSocket(&engine.downloadSocket);
    transport.SetWaitHook(nullptr);
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
