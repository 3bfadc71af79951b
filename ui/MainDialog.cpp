#include "ui/MainDialog.h"

#include <QContextMenuEvent>
#include <QCoreApplication>
#include <QEventLoop>
#include <QLabel>
#include <QMenu>
#include <QProgressBar>
#include <QTimer>

#include "resources/DialogTemplates.h"
#include "resources/ResourceIds.h"
#include "ui/AddressEdit.h"
#include "ui/AppIcon.h"
#include "ui/DialogBuilder.h"
#include "ui/DialogServices.h"
#include "ui/TargetConfirmDialog.h"

namespace vexil {

using namespace control;

MainDialog::MainDialog(Transport& transport, DialogServices& services, QWidget* parent)
    // An application window of its own, shown in the task bar: no maximise box, and its size
    // is fixed by the template.
    : QDialog(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                          Qt::WindowCloseButtonHint),
      services_(services),
      logic_(*this, transport) {
    setWindowIcon(AppIcon());
    // The six address fields, the octets in field order.
    const auto makeEdit = [this](const ControlSpec& control, QWidget* dialog) -> QWidget* {
        for (const AddressFieldSpec& field : kAddressFields) {
            if (field.id == control.id) {
                return new AddressEdit(field, (control.styles & style::kUpperCase) != 0, services_,
                                       dialog);
            }
        }
        return nullptr;
    };
    const BuiltDialog built = BuildDialog(*this, MainDialogTemplate(), makeEdit);
    controls_ = built.byId;
    inOrder_ = built.inOrder;

    // The command table's notifications: a button's or a box's click, the model list's choice.
    for (const int id : controls_.keys()) {
        if (auto* button = As<QAbstractButton>(id)) {
            connect(button, &QAbstractButton::clicked, this,
                    [this, id] { logic_.OnCommand(id, MainWindowLogic::Notification::kClicked); });
        } else if (auto* list = As<QComboBox>(id)) {
            connect(list, &QComboBox::activated, this,
                    [this, id] { logic_.OnCommand(id, MainWindowLogic::Notification::kSelected); });
        }
    }
    logic_.Initialise(&MainDialog::WaitHook);
}

MainDialog::~MainDialog() = default;

void MainDialog::reject() {
    logic_.OnCommand(kCancel, MainWindowLogic::Notification::kClicked);
}

void MainDialog::contextMenuEvent(QContextMenuEvent* event) {
    const QString text = LoadText(msg::kAboutMenuItem);
    if (text.isEmpty()) {
        return;
    }
    QMenu menu(this);
    QAction* about = menu.addAction(text);
    if (menu.exec(event->globalPos()) == about) {
        logic_.OnSysCommand(kAboutCommand);
    }
}

void MainDialog::ParkFocusAt(QWidget* control) {
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

void MainDialog::SetText(int id, const std::string& text) {
    if (auto* edit = As<QLineEdit>(id)) {
        edit->setText(QString::fromStdString(text));
    } else {
        As<QLabel>(id)->setText(QString::fromStdString(text));
    }
}

void MainDialog::SetProgress(int low, int high, int position) {
    auto* progress = As<QProgressBar>(kProgress);
    progress->setRange(low, high);
    progress->setValue(position);
}

int MainDialog::Focused() const {
    QWidget* focus = focusWidget();
    return focus == nullptr || focus == this ? kWindowFocus : controls_.key(focus, kOtherFocus);
}

AddressEdit* MainDialog::Octet(int index) const {
    return As<AddressEdit>(kAddressFields[index].id);
}

AddressFieldLogic& MainDialog::Field(int id) {
    return As<AddressEdit>(id)->Logic();
}

void MainDialog::ShowMessage(int stringId, Icon icon) {
    services_.ShowMessageBox(this, stringId, icon);
}

int MainDialog::RunConfirmation(const std::array<std::string, 3>& shown) {
    TargetConfirmDialog confirm(nullptr);
    confirm.Fill(shown);
    return services_.RunModal(confirm);
}

void MainDialog::ShowAbout() {
    TemplateDialog about(AboutDialogTemplate(), nullptr);
    about.exec();
}

std::filesystem::path MainDialog::ChooseFile(const std::vector<FileFilter>& filters) {
    QStringList shown;
    for (const FileFilter& filter : filters) {
        QString patterns = QString::fromStdString(filter.patterns);
        shown << QString::fromStdString(filter.description) + " (" + patterns.replace(';', ' ') +
                     ")";
    }
    return services_.GetOpenFileName(this, shown.join(";;")).toStdString();
}

bool MainDialog::OpenWebPage(const char* address) {
    return services_.OpenUrl(QUrl(QString::fromLatin1(address)));
}

void MainDialog::WaitForEvents(int maxWaitMs) {
    QEventLoop wait;
    QTimer::singleShot(maxWaitMs, &wait, &QEventLoop::quit);
    wait.exec();
}

std::int64_t MainDialog::NowMilliseconds() {
    return services_.NowMilliseconds();
}

void MainDialog::WaitHook(void*) {
    QCoreApplication::processEvents(QEventLoop::AllEvents);
}

}  // namespace vexil
