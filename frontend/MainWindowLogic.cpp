#include "frontend/MainWindowLogic.h"

#include <algorithm>
#include <filesystem>

#include "engine/ModelTable.h"
#include "frontend/Confirmation.h"
#include "resources/DialogTemplates.h"
#include "resources/ResourceIds.h"
#include "resources/StringTable.h"

namespace vexil {

using namespace control;
using Choice = controls::Transport;

std::vector<FileFilter> FileFilters(std::string_view notation) {
    std::vector<FileFilter> filters;
    for (;;) {
        const std::size_t bar = notation.find('|');
        if (bar == 0 || bar == notation.npos) {
            return filters;
        }
        const std::size_t end = std::min(notation.find('|', bar + 1), notation.size());
        filters.push_back({std::string(notation.substr(0, bar)),
                           std::string(notation.substr(bar + 1, end - bar - 1))});
        notation.remove_prefix(std::min(end + 1, notation.size()));
    }
}

const MainWindowLogic::CommandRow MainWindowLogic::kCommands[] = {
    {kDownload, Notification::kClicked, &MainWindowLogic::OnDownload},
    {kBrowse, Notification::kClicked, &MainWindowLogic::OnBrowseFile},
    {kWebPage, Notification::kClicked, &MainWindowLogic::OnWebPage},
    {kTcpCheck, Notification::kClicked, &MainWindowLogic::OnTcpClicked},
    {kIpxCheck, Notification::kClicked, &MainWindowLogic::OnIpxClicked},
    {kModelList, Notification::kSelected, &MainWindowLogic::OnModelSelected},
    // The cancel button, Escape and the close box alike.
    {kCancel, Notification::kClicked, &MainWindowLogic::OnCancelCommand},
};

MainWindowLogic::MainWindowLogic(WindowView& view, Transport& transport)
    : view_(view),
      transport_(transport),
      engine_(transport, *this),
      command_(*this, *this, *this, engine_) {}

void MainWindowLogic::Initialise(void (*waitHook)(void* window)) {
    SetProgressRange(0, 100);
    if (!transport_.StartSockets()) {
        ShowMessage(msg::kWinsockFailed, Icon::Error);
    }
    for (const char* const* name = kModelNames; **name != '\0'; ++name) {
        view_.AddItem(kModelList, *name);
    }
    view_.Select(kModelList, -1);
    ApplyTransport(Choice::kTcp);
    view_.SetText(kMacAddress, "00D1F0");
    ApplyTransport(CheckedTransport());
    // Enter presses the focused push button, otherwise the download button, the first of the
    // template's two default buttons.
    view_.SetDefaultButton(kDownload);
    transport_.SetWaitHook(waitHook);
    view_.Focus(kModelList);
}

void MainWindowLogic::OnCommand(int id, Notification notification) {
    if (command_.Running() && id != kCancel) {
        return;
    }
    for (const CommandRow& command : kCommands) {
        if (command.id == id && command.notification == notification) {
            (this->*command.handler)();
            return;
        }
    }
}

bool MainWindowLogic::OnSysCommand(int id) {
    if ((id & 0xFFF0) != kAboutCommand) {
        return false;
    }
    view_.ShowAbout();
    return true;
}

Choice MainWindowLogic::CheckedTransport() const {
    return view_.Checked(kIpxCheck) ? Choice::kIpx : Choice::kTcp;
}

void MainWindowLogic::ApplyTransport(Choice transport) {
    if (view_.Selection(kModelList) < 0) {
        for (int id : controls::ModelCommands()) {
            EnableControl(id, false);
        }
        transport = Choice::kNone;
    }
    view_.SetChecked(kIpxCheck, transport == Choice::kIpx);
    view_.SetChecked(kTcpCheck, transport == Choice::kTcp);
    for (const controls::Change& change : controls::TransportChanges(transport)) {
        EnableControl(change.id, change.enabled);
    }
}

bool MainWindowLogic::LanCardChosen() const {
    return controls::PicksLanCard(view_.Selection(kModelList), view_.SelectedText(kModelList));
}

void MainWindowLogic::OnModelSelected() {
    ApplyTransport(CheckedTransport());
    if (LanCardChosen()) {
        modelIndex_ = kLanCardModel;
    }
    for (int id : controls::ModelCommands()) {
        EnableControl(id, true);
    }
}

void MainWindowLogic::OnTransportClicked(bool ipxBox) {
    if (!LanCardChosen()) {
        return;
    }
    modelIndex_ = kLanCardModel;
    // The clicked box has changed its own check; the other still shows the transport in force
    // before the click: switch it over.
    const bool tcpBefore = ipxBox == view_.Checked(kTcpCheck);
    ApplyTransport(tcpBefore ? Choice::kIpx : Choice::kTcp);
}

DownloadRequest MainWindowLogic::FieldsRequest() const {
    DownloadRequest request;
    request.ipx = !view_.Checked(kTcpCheck);
    for (std::size_t i = 0; i < request.octets.size(); ++i) {
        request.octets[i] = view_.Text(kAddressFields[i].id);
    }
    request.network = view_.Text(kNetworkAddress);
    request.mac = view_.Text(kMacAddress);
    request.modelIndex = modelIndex_;
    request.firstListEntry = view_.Selection(kModelList) == 0;
    return request;
}

void MainWindowLogic::OnBrowseFile() {
    const std::filesystem::path chosen =
        view_.ChooseFile(FileFilters(LoadString(msg::kFileFilter)));
    if (chosen.empty()) {
        return;
    }
    // Only the folder counts: the download files are opened by their fixed names from there.
    std::error_code error;
    std::filesystem::current_path(std::filesystem::absolute(chosen, error).parent_path(), error);
    ShowMessage(msg::kFileChosen, Icon::Information);
}

void MainWindowLogic::OnWebPage() {
    if (!view_.OpenWebPage(kWebPageAddress)) {
        ShowMessage(msg::kNoBrowser, Icon::Error);
    }
}

bool MainWindowLogic::HoldOctetsToRange() {
    return std::all_of(
        std::begin(kAddressFields), std::begin(kAddressFields) + address::kOctets,
        [this](const AddressFieldSpec& octet) { return view_.Field(octet.id).HoldToRange(true); });
}

void MainWindowLogic::EnableControl(int id, bool enabled) {
    if (!enabled && view_.Focused() == id) {
        view_.ParkFocus(id);
    }
    view_.Enable(id, enabled);
}

void MainWindowLogic::NoteFocus() {
    focusBefore_ = view_.Focused();
}

void MainWindowLogic::RestoreFocus(bool downloadRan) {
    const bool parked = view_.Focused() == WindowView::kWindowFocus;
    if (!downloadRan && parked && focusBefore_ > 0 && view_.Enabled(focusBefore_)) {
        view_.Focus(focusBefore_);
    } else if (downloadRan || parked) {
        view_.Focus(kDownload);
    }
}

void MainWindowLogic::ShowMessage(int stringId, Icon icon) {
    view_.ShowMessage(stringId, icon);
}

void MainWindowLogic::SetStatusText(int stringId) {
    view_.SetText(kStatusLine, LoadLines(stringId));
}

void MainWindowLogic::ShowStatus(bool visible) {
    view_.Show(kStatusLine, visible);
}

void MainWindowLogic::SetProgressRange(int low, int high) {
    progressLow_ = low;
    progressHigh_ = high;
    SetProgressPosition(progress_);
}

void MainWindowLogic::AdvanceProgress(int delta) {
    SetProgressPosition(std::max(progress_, progressLow_) + delta);
}

void MainWindowLogic::SetProgressPosition(int position) {
    progress_ = std::clamp(position, progressLow_, std::max(progressLow_, progressHigh_));
    view_.SetProgress(progressLow_, progressHigh_, progress_);
}

bool MainWindowLogic::ConfirmTarget(const ConfirmationValues& values) {
    return view_.RunConfirmation(ShownConfirmation(values)) != kCancel;
}

void MainWindowLogic::DispatchEvents(int maxWaitMs) {
    view_.TakeEvents();
    if (maxWaitMs > 0 && !engine_.CancelRequested()) {
        // Sleep until the next event or the end of the slice: a short one whatever the engine's
        // wait has left, so that the cancel flag is looked at while the view waits.
        view_.WaitForEvents(std::min(maxWaitMs, kPumpWaitMs));
    }
}

}  // namespace vexil
