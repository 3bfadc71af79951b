#include "ui/MainDialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QFileInfo>
#include <QLabel>
#include <QMenu>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <algorithm>

#include "engine/AddressEntry.h"
#include "engine/Confirmation.h"
#include "engine/ControlStates.h"
#include "engine/ModelTable.h"
#include "resources/DialogTemplates.h"
#include "resources/ResourceIds.h"
#include "resources/StringTable.h"
#include "ui/AboutDialog.h"
#include "ui/AppIcon.h"
#include "ui/DialogBuilder.h"
#include "ui/DialogServices.h"
#include "ui/FilterEdit.h"
#include "ui/NumericEdit.h"
#include "ui/TargetConfirmDialog.h"

namespace vexil {

namespace {

using namespace control;

constexpr int kTransportTcp = 0;
constexpr int kTransportIpx = 2;

QWidget* MakeEdit(int id, QWidget* parent) {
    switch (id) {
        case kOctet1:
        case kOctet2:
        case kOctet3:
        case kOctet4:
            return new NumericEdit(parent);
        case kNetworkAddress:
        case kMacAddress:
            return new FilterEdit(parent);
        default:
            return nullptr;
    }
}

}  // namespace

MainDialog::MainDialog(Transport& transport, DialogServices& services, QWidget* parent)
    // An application window of its own, shown in the task bar: no maximise box, and its size
    // is fixed by the template.
    : QDialog(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                          Qt::WindowCloseButtonHint),
      transport_(transport),
      services_(services),
      engine_(transport, *this),
      command_(*this, *this, engine_) {
    setWindowIcon(AppIcon());
    Initialise();
}

MainDialog::~MainDialog() = default;

void MainDialog::Initialise() {
    const BuiltDialog built = BuildDialog(*this, MainDialogTemplate(), &MakeEdit);
    controls_ = built.byId;
    inOrder_ = built.inOrder;
    modelList_ = static_cast<QComboBox*>(Control(kModelList));
    tcpCheck_ = static_cast<QCheckBox*>(Control(kTcpCheck));
    ipxCheck_ = static_cast<QCheckBox*>(Control(kIpxCheck));
    progress_ = static_cast<QProgressBar*>(Control(kProgress));
    status_ = static_cast<QLabel*>(Control(kStatusLine));
    networkEdit_ = static_cast<FilterEdit*>(Control(kNetworkAddress));
    macEdit_ = static_cast<FilterEdit*>(Control(kMacAddress));
    progress_->setRange(0, 100);
    progress_->setValue(0);

    // The octet fields: position and length, in field order (their rules are the address
    // entry's). Their
    // neighbours for the focus moves are the controls around them in the template.
    const int octetIds[address::kOctets] = {kOctet1, kOctet2, kOctet3, kOctet4};
    for (std::size_t i = 0; i < address::kOctets; ++i) {
        NumericEdit* edit = static_cast<NumericEdit*>(Control(octetIds[i]));
        octets_[i] = edit;
        edit->position = static_cast<int>(i) + 1;
        edit->SetServices(&services_);
        const qsizetype at = built.inOrder.indexOf(edit);
        edit->SetNeighbours(at > 0 ? built.inOrder[at - 1] : nullptr,
                            at + 1 < built.inOrder.size() ? built.inOrder[at + 1] : nullptr);
        connect(edit, &NumericEdit::FocusStoppedAt, this, &MainDialog::ParkFocus);
    }
    for (NumericEdit* octet : octets_) {
        octet->setMaxLength(static_cast<int>(address::kOctetLength));
    }
    for (FilterEdit* edit : {macEdit_, networkEdit_}) {
        edit->SetServices(&services_);
        edit->setMaxLength(
            static_cast<int>(edit == macEdit_ ? address::kMacLength : address::kNetworkLength));
    }

    if (!transport_.StartSockets()) {
        ShowMessage(msg::kWinsockFailed, Icon::Error);
    }

    modelList_->clear();
    for (const char* const* name = kModelNames; **name != '\0'; ++name) {
        modelList_->addItem(QString::fromUtf8(*name));
    }
    modelList_->setCurrentIndex(-1);

    ApplyTransport(kTransportTcp);
    macEdit_->setText("00D1F0");
    ApplyTransport(ipxCheck_->isChecked() ? kTransportIpx : kTransportTcp);

    // The command table. Enter presses the focused push button, otherwise the download button,
    // the first of the template's two default buttons.
    auto* download = static_cast<QPushButton*>(Control(kDownload));
    download->setDefault(true);
    connect(download, &QPushButton::clicked, this, &MainDialog::OnDownload);
    connect(ipxCheck_, &QCheckBox::clicked, this, &MainDialog::OnIpxClicked);
    connect(tcpCheck_, &QCheckBox::clicked, this, &MainDialog::OnTcpClicked);
    connect(modelList_, &QComboBox::activated, this, &MainDialog::OnModelSelected);
    connect(static_cast<QPushButton*>(Control(kWebPage)), &QPushButton::clicked, this,
            &MainDialog::OnWebPage);
    connect(static_cast<QPushButton*>(Control(kBrowse)), &QPushButton::clicked, this,
            &MainDialog::OnBrowseFile);
    connect(static_cast<QPushButton*>(Control(kCancel)), &QPushButton::clicked, this,
            &MainDialog::reject);
    transport_.SetWaitHook(&MainDialog::WaitHook);
    modelList_->setFocus();
}

void MainDialog::ApplyTransport(int choice) {
    using controls::Transport;
    Transport transport = choice == kTransportTcp   ? Transport::kTcp
                          : choice == kTransportIpx ? Transport::kIpx
                                                    : Transport::kNone;
    if (modelList_->currentIndex() < 0) {
        for (int id : controls::ModelCommands()) {
            EnableControl(id, false);
        }
        transport = Transport::kNone;
    }
    ipxCheck_->setChecked(transport == Transport::kIpx);
    tcpCheck_->setChecked(transport == Transport::kTcp);
    for (const controls::Change& change : controls::TransportChanges(transport)) {
        EnableControl(change.id, change.enabled);
    }
}

namespace {

bool LanCardChosen(QComboBox* list) {
    return controls::PicksLanCard(list->currentIndex(), list->currentText().toStdString());
}

}  // namespace

void MainDialog::OnModelSelected() {
    if (command_.Running()) {
        return;
    }
    ApplyTransport(ipxCheck_->isChecked() ? kTransportIpx : kTransportTcp);
    if (LanCardChosen(modelList_)) {
        modelIndex_ = kLanCardModel;
    }
    for (int id : controls::ModelCommands()) {
        EnableControl(id, true);
    }
}

void MainDialog::OnIpxClicked() {
    if (command_.Running() || !LanCardChosen(modelList_)) {
        return;
    }
    modelIndex_ = kLanCardModel;
    // The TCP/IP box still shows the transport in force before the click: switch it over.
    ApplyTransport(tcpCheck_->isChecked() ? kTransportIpx : kTransportTcp);
}

void MainDialog::OnTcpClicked() {
    if (command_.Running() || !LanCardChosen(modelList_)) {
        return;
    }
    modelIndex_ = kLanCardModel;
    ApplyTransport(tcpCheck_->isChecked() ? kTransportTcp : kTransportIpx);
}

int MainDialog::HexTextToBytes(const QString& text, std::array<std::uint8_t, 6>& bytes) {
    // One byte a character, as the field holds them: a character that is no hexadecimal digit
    // counts as 0 wherever it stands.
    const QByteArray latin = text.toLatin1();
    return address::HexTextToBytes(
        std::string_view(latin.constData(), static_cast<std::size_t>(latin.size())), bytes);
}

DownloadRequest MainDialog::FieldsRequest() const {
    DownloadRequest request;
    request.ipx = !tcpCheck_->isChecked();
    for (std::size_t i = 0; i < octets_.size(); ++i) {
        request.octets[i] = octets_[i]->text().toStdString();
    }
    request.network = networkEdit_->text().toStdString();
    request.mac = macEdit_->text().toStdString();
    request.modelIndex = modelIndex_;
    request.firstListEntry = modelList_->currentIndex() == 0;
    return request;
}

std::optional<DownloadRequest> MainDialog::EnteredRequest() {
    return command_.EnteredRequest();
}

bool MainDialog::HoldOctetsToRange() {
    return std::all_of(octets_.begin(), octets_.end(),
                       [](NumericEdit* octet) { return octet->HoldToRange(true); });
}

void MainDialog::OnDownload() {
    command_.Run();
}

void MainDialog::DownloadStarted() {
    command_.Started();
}

void MainDialog::DownloadEnded(const DownloadEnd& end) {
    command_.Ended(end);
}

void MainDialog::OnBrowseFile() {
    if (command_.Running()) {
        return;
    }
    const QString chosen = services_.GetOpenFileName(this, LoadText(msg::kFileFilter));
    if (chosen.isEmpty()) {
        return;
    }
    // Only the folder counts: the download files are opened by their fixed names from there.
    QDir::setCurrent(QFileInfo(chosen).absolutePath());
    ShowMessage(msg::kFileChosen, Icon::Information);
}

void MainDialog::OnWebPage() {
    if (command_.Running()) {
        return;
    }
    if (!services_.OpenUrl(QUrl(QString::fromLatin1(kWebPageAddress)))) {
        ShowMessage(msg::kNoBrowser, Icon::Error);
    }
}

void MainDialog::OnCancelCommand() {
    reject();
}

void MainDialog::reject() {
    command_.Cancel();
}

void MainDialog::Close() {
    QDialog::done(kCancel);
}

void MainDialog::OnSysCommand(int id) {
    if ((id & 0xFFF0) == kAboutCommand) {
        AboutDialog about(nullptr);
        about.exec();
    }
}

void MainDialog::contextMenuEvent(QContextMenuEvent* event) {
    const QString text = LoadText(msg::kAboutMenuItem);
    if (text.isEmpty()) {
        return;
    }
    QMenu menu(this);
    QAction* about = menu.addAction(text);
    if (menu.exec(event->globalPos()) == about) {
        OnSysCommand(kAboutCommand);
    }
}

void MainDialog::ShowMessage(int stringId, Icon icon) {
    services_.ShowMessageBox(this, stringId, icon);
}

void MainDialog::SetStatusText(int stringId) {
    status_->setText(LoadText(stringId));
}

void MainDialog::ShowStatus(bool visible) {
    status_->setVisible(visible);
}

void MainDialog::EnableControl(int id, bool enabled) {
    QWidget* widget = Control(id);
    if (widget == nullptr) {
        return;
    }
    if (!enabled && focusWidget() == widget) {
        // Qt would hand the focus on to the next enabled control, which during a download is
        // the cancel button: an Enter pressed then would cancel the download. This holds also
        // while a message box has the keyboard: the focus comes back to this control after it.
        ParkFocus(widget);
    }
    widget->setEnabled(enabled);
}

void MainDialog::ParkFocus(QWidget* control) {
    focusPlace_ = control;
    setFocus(Qt::OtherFocusReason);
}

bool MainDialog::focusNextPrevChild(bool next) {
    const qsizetype place = focusWidget() == this ? inOrder_.indexOf(focusPlace_.data()) : -1;
    if (place < 0) {
        return QDialog::focusNextPrevChild(next);
    }
    // Tab goes on from the place the focus was kept at, to the next (or previous) control in
    // template order that takes the focus by Tab now.
    const qsizetype step = next ? 1 : -1;
    for (qsizetype i = place + step; i >= 0 && i < inOrder_.size(); i += step) {
        QWidget* candidate = inOrder_[i];
        if (candidate->isEnabled() && candidate->isVisible() &&
            (candidate->focusPolicy() & Qt::TabFocus) != 0) {
            candidate->setFocus(next ? Qt::TabFocusReason : Qt::BacktabFocusReason);
            return true;
        }
    }
    return QDialog::focusNextPrevChild(next);
}

void MainDialog::NoteFocus() {
    focusBefore_ = focusWidget();
}

void MainDialog::RestoreFocus(bool downloadRan) {
    QWidget* before = focusBefore_.data();
    QWidget* download = Control(kDownload);
    QWidget* target =
        (!downloadRan && before != nullptr && before->isEnabled()) ? before : download;
    if (target != nullptr && (focusWidget() == this || focusWidget() == nullptr || downloadRan)) {
        target->setFocus(Qt::OtherFocusReason);
    }
}

void MainDialog::SetProgressRange(int low, int high) {
    progress_->setRange(low, high);
}

void MainDialog::AdvanceProgress(int delta) {
    const int now = std::max(progress_->value(), progress_->minimum());
    progress_->setValue(std::min(now + delta, progress_->maximum()));
}

void MainDialog::SetProgressPosition(int position) {
    progress_->setValue(position);
}

bool MainDialog::ConfirmTarget(const ConfirmationValues& values) {
    TargetConfirmDialog confirm(nullptr);
    confirm.Fill(ShownConfirmation(values));
    return services_.RunModal(confirm) != kCancel;
}

void MainDialog::DispatchEvents(int maxWaitMs) {
    QCoreApplication::processEvents(QEventLoop::AllEvents);
    if (maxWaitMs > 0 && !engine_.CancelRequested()) {
        // Sleep in the event loop until the next event or the end of the slice.
        QEventLoop wait;
        QTimer::singleShot(maxWaitMs, &wait, &QEventLoop::quit);
        wait.exec();
    }
}

std::int64_t MainDialog::NowMilliseconds() {
    return services_.NowMilliseconds();
}

void MainDialog::WaitHook(void*) {
    QCoreApplication::processEvents(QEventLoop::AllEvents);
}

}  // namespace vexil
