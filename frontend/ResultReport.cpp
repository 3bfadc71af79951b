#include "frontend/ResultReport.h"

#include <algorithm>
#include <iterator>

#include "resources/ResourceIds.h"

namespace vexil {

namespace {

using enum StatusLine;
constexpr Icon kError = Icon::Error;
constexpr ResultMessage kNone{0, Icon::None};
constexpr ResultMessage kPowerCycle{msg::kPowerCycleAndRetry, kError};

// Result code, messages in order, icon, status line.
constexpr ResultRow kResultTable[] = {
    {result::kSuccess, {msg::kDownloadFinished, Icon::Information}, kNone, kUntouched},
    {result::kSocketStartFailed, {msg::kWinsockFailed, kError}, kPowerCycle, kUntouched},
    {result::kBlockRefused, {msg::kSendFailed, kError}, kPowerCycle, kUntouched},
    {result::kBlockNotAcknowledged, {msg::kReceiveFailed, kError}, kPowerCycle, kUntouched},
    {result::kDataNotReceived, {msg::kReceiveFailed, kError}, kPowerCycle, kUntouched},
    {result::kCancelled, {msg::kDownloadCancelled, kError}, kNone, kUntouched},
    {result::kNotStarted, kNone, kNone, kUntouched},
    {result::kDownloadFailed, {msg::kDownloadFailed, kError}, kNone, kHiddenBefore},
    {result::kCheckTargetAddress, {msg::kCheckTargetAddress, kError}, kNone, kHiddenAfter},
    {result::kNoAnswerToModeSwitch,
     {msg::kWrongPrintServer, kError},
     kNone,
     kSendingFailedThenHidden},
    {result::kModeSwitchFailed, {msg::kCannotDownload, kError}, kNone, kSendingFailedThenHidden},
    {result::kEraseFailed, {msg::kDownloadFailed, kError}, kNone, kSendingFailedThenHidden},
    {result::kFinishFailed, {msg::kNotFinished, kError}, kNone, kSendingFailedThenHidden},
    {result::kConnectionFailed, kPowerCycle, kNone, kSendingFailedThenHidden},
    {result::kWrongModel, {msg::kModelMismatch, kError}, kNone, kSendingFailedThenHidden},
};

}  // namespace

const ResultRow& FindResult(int result) {
    const auto row = std::find_if(std::begin(kResultTable), std::end(kResultTable),
                                  [result](const ResultRow& r) { return r.result == result; });
    return row != std::end(kResultTable) ? *row : FindResult(result::kDownloadFailed);
}

std::vector<ResultMessage> ResultMessages(int result) {
    std::vector<ResultMessage> messages;
    for (const ResultMessage& message : {FindResult(result).first, FindResult(result).second}) {
        if (message.stringId != 0) {
            messages.push_back(message);
        }
    }
    return messages;
}

void ReportResult(int result, MessageSink& messages, ProgressDisplay& status) {
    const StatusLine line = FindResult(result).status;
    if (line == kSendingFailedThenHidden) {
        status.SetStatusText(msg::kSendFailed);
    }
    if (line == kHiddenBefore) {
        status.ShowStatus(false);
    }
    for (const ResultMessage& message : ResultMessages(result)) {
        messages.ShowMessage(message.stringId, message.icon);
    }
    if (line == kHiddenAfter || line == kSendingFailedThenHidden) {
        status.ShowStatus(false);
    }
}

void ReportOutcome(DownloadOutcome& outcome, MessageSink& messages, ProgressDisplay& status) {
    for (const ResultMessage& message : ResultMessages(outcome.result)) {
        outcome.messages.push_back({message.stringId, message.icon});
    }
    ReportResult(outcome.result, messages, status);
}

}  // namespace vexil
