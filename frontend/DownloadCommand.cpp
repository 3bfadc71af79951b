#include "frontend/DownloadCommand.h"

#include "engine/DownloadEngine.h"
#include "engine/ModelTable.h"
#include "frontend/ResultReport.h"
#include "resources/ControlIds.h"

namespace vexil {

DownloadCommand::DownloadCommand(CommandWindow& window, MessageSink& messages,
                                 ProgressDisplay& progress, DownloadEngine& engine)
    : window_(window), messages_(messages), progress_(progress), engine_(engine) {
    runDownload = [this](const DownloadRequest& request) {
        DownloadOutcome outcome = engine_.RunChecked(request);
        Ended(FindModel(request.modelIndex));
        return outcome;
    };
}

std::optional<DownloadRequest> DownloadCommand::HeldRequest(const DownloadRequest& entered) {
    if (entered.ipx) {
        return entered;
    }
    // Enter can start a download while an octet field still has the focus, before its own
    // check has run: hold every octet to its range and write it as leaving it would, so that
    // the confirmation shows the address that is used ("1.2" is octet 1, shown as 1).
    if (!window_.HoldOctetsToRange()) {
        return std::nullopt;
    }
    return window_.FieldsRequest();
}

std::optional<DownloadRequest> DownloadCommand::EnteredRequest() {
    const DownloadRequest entered = window_.FieldsRequest();
    if (engine_.Refuses(entered)) {
        return std::nullopt;
    }
    return HeldRequest(entered);
}

void DownloadCommand::Run() {
    if (running_) {
        return;
    }
    // The engine's address checks, a loopback address first, come before the command takes
    // the download button.
    const DownloadRequest entered = window_.FieldsRequest();
    if (engine_.Refuses(entered)) {
        return;
    }
    window_.NoteFocus();
    window_.EnableControl(control::kDownload, false);
    const std::optional<DownloadRequest> request = HeldRequest(entered);
    if (!request) {
        window_.EnableControl(control::kDownload, true);
        window_.RestoreFocus(false);
        return;
    }
    running_ = true;
    runningIpx_ = request->ipx;
    DownloadOutcome outcome = runDownload(*request);
    ReportOutcome(outcome, messages_, progress_);
    // The controls come back once the result has been read, as the last box closes.
    if (after_) {
        Apply(*after_);
        after_.reset();
    }
    progress_.SetProgressPosition(0);
    window_.EnableControl(control::kDownload, true);
    window_.RestoreFocus(true);
    running_ = false;
    if (closeAfter_) {
        closeAfter_ = false;
        window_.Close();
    }
}

void DownloadCommand::Cancel() {
    engine_.Cancel();
    if (running_) {
        // The download ends at its next test of the flag and reports its result first.
        closeAfter_ = true;
        return;
    }
    window_.Close();
}

void DownloadCommand::Apply(controls::State state) {
    for (const controls::Change& change : controls::StateChanges(state)) {
        window_.EnableControl(change.id, change.enabled);
    }
}

void DownloadCommand::Started() {
    Apply(controls::State::kLocked);
}

void DownloadCommand::Ended(const ModelTraits* model) {
    controls::State state;
    if (controls::StateAfter({model != nullptr, model != nullptr && model->tcpOnly, runningIpx_},
                             state)) {
        after_ = state;
    }
}

}  // namespace vexil
