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
#include "engine/ModelTable.h"
#include "engine/ResultReport.h"
#include "resources/DialogTemplates.h"
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
constexpr int kTransportNone = -1;
constexpr int kAboutCommand = 16;
const char kWebPageAddress[] = "https://vexilware.example/lan-products/";

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
      engine(transport, *this),
      transport_(transport),
      services_(services) {
    setWindowIcon(AppIcon());
    runTcpDownload = [this] { return engine.RunTcpDownload(); };
    runIpxDownload = [this] { return engine.RunIpxDownload(); };
    Initialise();
}

MainDialog::~MainDialog() {
    // The window goes: its target record goes with it, once.
    engine.target = nullptr;
    target_.reset();
}

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

    // The octet fields: position, characters, length, range and format, in field order. Their
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
    for (std::size_t i = 0; i < address::kOctets; ++i) {
        octets_[i]->SetAllowedChars(QString::fromLatin1(address::kOctetCharacters.data(),
                                                        address::kOctetCharacters.size()));
        octets_[i]->SetMaxLength(static_cast<int>(address::kOctetLength));
        octets_[i]->SetRange(address::kOctetRanges[i].minimum, address::kOctetRanges[i].maximum);
        octets_[i]->SetFormat("%d");
    }
    for (FilterEdit* edit : {macEdit_, networkEdit_}) {
        edit->SetServices(&services_);
        edit->setMaxLength(
            static_cast<int>(edit == macEdit_ ? address::kMacLength : address::kNetworkLength));
        edit->SetExcludedChars(HexFieldExclusions());
    }

    if (!transport_.StartSockets()) {
        ShowMessage(msg::kWinsockFailed, Icon::Error);
    }
    target_ = CreateTargetRecord();
    engine.target = target_.get();

    modelList_->clear();
    for (const char* const* name = kModelNames; **name != '\0'; ++name) {
        modelList_->addItem(QString::fromUtf8(*name));
    }
    modelList_->setCurrentIndex(-1);

    EnableAll({kIpxGroup, kIpGroup}, false);
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

void MainDialog::EnableAll(std::initializer_list<int> ids, bool enabled) {
    for (int id : ids) {
        EnableControl(id, enabled);
    }
}

void MainDialog::ApplyTransport(int choice) {
    if (modelList_->currentIndex() < 0) {
        EnableAll({kDownload, kBrowse, kWebPage, kIpxGroup, kIpGroup}, false);
        choice = kTransportNone;
    }
    if (choice != kTransportTcp && choice != kTransportIpx) {
        choice = kTransportNone;
    }
    const bool tcp = choice == kTransportTcp;
    const bool ipx = choice == kTransportIpx;
    EnableAll({kIpxGroup, kIpGroup}, false);
    EnableControl(kTcpCheck, tcp || ipx);
    EnableControl(kIpxCheck, tcp || ipx);
    ipxCheck_->setChecked(ipx);
    tcpCheck_->setChecked(tcp);
    EnableAll({kOctet1, kOctet2, kOctet3, kOctet4}, tcp);
    EnableAll({kMacAddress, kNetworkAddress}, ipx);
    EnableControl(kIpLabel, tcp);
    EnableControl(kMacLabel, ipx);
    EnableControl(kNetworkLabel, ipx);
}

namespace {

// Whether the model list shows entry i of the model names at selection 0: the only way a model
// index is set.
bool LanCardChosen(QComboBox* list) {
    const QString text = list->currentText();
    for (int i = 0; i < list->count() && *kModelNames[i] != '\0'; ++i) {
        if (text == QString::fromUtf8(kModelNames[i]) && list->currentIndex() == 0) {
            return true;
        }
    }
    return false;
}

}  // namespace

void MainDialog::OnModelSelected() {
    if (downloadRunning_) {
        return;
    }
    ApplyTransport(ipxCheck_->isChecked() ? kTransportIpx : kTransportTcp);
    if (LanCardChosen(modelList_)) {
        target_->modelIndex = kLanCardModel;
    }
    EnableAll({kDownload, kBrowse, kWebPage}, true);
}

void MainDialog::OnIpxClicked() {
    if (downloadRunning_ || !LanCardChosen(modelList_)) {
        return;
    }
    target_->modelIndex = kLanCardModel;
    // The TCP/IP box still shows the transport in force before the click: switch it over.
    ApplyTransport(tcpCheck_->isChecked() ? kTransportIpx : kTransportTcp);
}

void MainDialog::OnTcpClicked() {
    if (downloadRunning_ || !LanCardChosen(modelList_)) {
        return;
    }
    target_->modelIndex = kLanCardModel;
    ApplyTransport(tcpCheck_->isChecked() ? kTransportTcp : kTransportIpx);
}

std::uint32_t MainDialog::ReadIpAddress() {
    std::array<QByteArray, address::kOctets> texts;
    std::array<std::string_view, address::kOctets> views;
    for (std::size_t i = 0; i < address::kOctets; ++i) {
        texts[i] = octets_[i]->text().toLatin1();
        views[i] =
            std::string_view(texts[i].constData(), static_cast<std::size_t>(texts[i].size()));
    }
    const address::IpEntry entry = address::ReadIpAddress(views);
    if (entry.message != 0) {
        ShowMessage(entry.message, Icon::Error);
    }
    return entry.address;
}

int MainDialog::HexTextToBytes(const QString& text, std::array<std::uint8_t, 6>& bytes) {
    // One byte a character, as the field holds them: a character that is no hexadecimal digit
    // counts as 0 wherever it stands.
    const QByteArray latin = text.toLatin1();
    return address::HexTextToBytes(
        std::string_view(latin.constData(), static_cast<std::size_t>(latin.size())), bytes);
}

void MainDialog::OnDownload() {
    if (downloadRunning_) {
        return;
    }
    if (address::IsRefusedFirstOctet(octets_[0]->text().toStdString())) {
        ShowMessage(msg::kFirstOctet127, Icon::Error);
        return;
    }
    const QPointer<QWidget> focusBefore = focusWidget();
    engine.cancelRequested = 0;
    EnableControl(kDownload, false);
    int result = 0;
    if (tcpCheck_->isChecked()) {
        target_->mode = TAVDL_MODE_TCP_QUERY;
        const std::uint32_t address = ReadIpAddress();
        // Enter can start a download while an octet field still has the focus, before its own
        // check has run: hold every octet to its range and write it as leaving it would, so
        // that the confirmation shows the address that is used ("1.2" is octet 1, shown as 1).
        const bool inRange =
            address != 0 && std::all_of(octets_.begin(), octets_.end(), [](NumericEdit* octet) {
                return octet->HoldToRange(true);
            });
        if (!inRange) {
            EnableControl(kDownload, true);
            RestoreFocus(focusBefore, false);
            return;
        }
        SetInetAddress(*target_, address);
        downloadRunning_ = true;
        result = runTcpDownload();
    } else {
        target_->mode = TAVDL_MODE_IPX;
        const QString network = networkEdit_->text();
        const QString mac = macEdit_->text();
        const bool macComplete = mac.size() == static_cast<qsizetype>(address::kMacLength);
        if (!macComplete) {
            ShowMessage(msg::kMacAddressLength, Icon::Error);
        }
        std::array<std::uint8_t, 6> bytes{};
        HexTextToBytes(network, bytes);
        SetIpxNetwork(*target_, {bytes[0], bytes[1], bytes[2], bytes[3]});
        bytes.fill(0);
        HexTextToBytes(mac, bytes);
        SetIpxNode(*target_, bytes);
        if (!macComplete) {
            EnableControl(kDownload, true);
            RestoreFocus(focusBefore, false);
            return;
        }
        downloadRunning_ = true;
        result = runIpxDownload();
    }
    ReportResult(result);
    progress_->setValue(0);
    EnableControl(kDownload, true);
    const int model = target_->modelIndex;
    if (model >= 1 && model <= 6) {
        transport_.CloseSocket(&engine.downloadSocket);
        if (FindModel(model)->tcpOnly) {
            EnableAll({kOctet1, kOctet2, kOctet3, kOctet4, kModelList, kModelLabel, kBrowse,
                       kTcpCheck, kWebPage, kIpLabel},
                      true);
            EnableAll({kIpxCheck, kNetworkLabel, kMacLabel}, false);
        } else if (tcpCheck_->isChecked()) {
            EnableAll({kOctet1, kOctet2, kOctet3, kOctet4, kModelList, kModelLabel, kBrowse,
                       kIpxCheck, kIpLabel, kTcpCheck, kWebPage},
                      true);
        } else {
            EnableAll({kNetworkAddress, kMacAddress, kModelList, kModelLabel, kBrowse, kIpxCheck,
                       kNetworkLabel, kMacLabel, kTcpCheck, kWebPage},
                      true);
        }
    }
    RestoreFocus(focusBefore, true);
    downloadRunning_ = false;
    if (closeAfterDownload_) {
        closeAfterDownload_ = false;
        QDialog::done(2);
    }
}

void MainDialog::ReportResult(int result) {
    vexil::ReportResult(result, *this);
}

void MainDialog::OnBrowseFile() {
    if (downloadRunning_) {
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
    if (downloadRunning_) {
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
    engine.OnCancelCommand();
    if (downloadRunning_) {
        // The download ends at its next test of the flag and reports its result first.
        closeAfterDownload_ = true;
        return;
    }
    QDialog::done(2);
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

void MainDialog::RestoreFocus(QWidget* before, bool downloadRan) {
    QWidget* download = Control(kDownload);
    QWidget* target =
        (!downloadRan && before != nullptr && before->isEnabled()) ? before : download;
    if (target != nullptr && (focusWidget() == this || focusWidget() == nullptr || downloadRan)) {
        target->setFocus(Qt::OtherFocusReason);
    }
}

int MainDialog::ModelListSelection() {
    return modelList_->currentIndex();
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

int MainDialog::RunConfirmation() {
    ConfirmationEntry entry;
    entry.tcp = tcpCheck_->isChecked();
    for (std::size_t i = 0; i < octets_.size(); ++i) {
        entry.octets[i] = octets_[i]->text().toStdString();
    }
    entry.mac = macEdit_->text().toStdString();
    entry.deviceVersion = engine.deviceVersion;
    entry.fileVersion = engine.fileVersion;
    TargetConfirmDialog confirm(nullptr);
    confirm.Fill(ConfirmationLines(entry, LoadString(msg::kNoVersion)));
    return services_.RunModal(confirm);
}

void MainDialog::DispatchEvents(int maxWaitMs) {
    QCoreApplication::processEvents(QEventLoop::AllEvents);
    if (maxWaitMs > 0 && engine.cancelRequested == 0) {
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
