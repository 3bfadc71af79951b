#include "ui/TargetConfirmDialog.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>

#include "resources/DialogTemplates.h"
#include "ui/DialogBuilder.h"
#include "ui/DialogServices.h"
#include "ui/MainDialog.h"

namespace vexil {

TargetConfirmDialog::TargetConfirmDialog(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint) {
    const BuiltDialog built = BuildDialog(*this, ConfirmDialogTemplate());
    currentVersionList = static_cast<QListWidget*>(built.byId.value(1020));
    fileVersionList = static_cast<QListWidget*>(built.byId.value(1021));
    targetList = static_cast<QListWidget*>(built.byId.value(1019));
    auto* download = static_cast<QPushButton*>(built.byId.value(1));
    download->setDefault(true);
    connect(download, &QPushButton::clicked, this, [this] { done(1); });
    connect(static_cast<QPushButton*>(built.byId.value(2)), &QPushButton::clicked, this,
            [this] { done(2); });
}

void TargetConfirmDialog::reject() {
    done(2);
}

void TargetConfirmDialog::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (!filled_) {
        Fill();
    }
}

void TargetConfirmDialog::Fill() {
    filled_ = true;
    if (mainDialog == nullptr) {
        return;
    }
    auto text = [this](int id) { return static_cast<QLineEdit*>(mainDialog->Control(id))->text(); };
    // The target as typed, without any check; over IPX the MAC address alone.
    const bool tcp = static_cast<QCheckBox*>(mainDialog->Control(control::kTcpCheck))->isChecked();
    const QString target = tcp ? QStringList{text(control::kOctet1), text(control::kOctet2),
                                             text(control::kOctet3), text(control::kOctet4)}
                                     .join('.')
                               : text(control::kMacAddress);
    targetList->addItem(target);
    const std::string& device = mainDialog->engine.deviceVersion;
    currentVersionList->addItem(device.empty() ? LoadText(57630) : QString::fromStdString(device));
    // The file's version without its first character: 01.10 shows as 1.10.
    fileVersionList->addItem(QString::fromStdString(mainDialog->engine.fileVersion).mid(1, 4));
}

QStringList TargetConfirmDialog::Lines() const {
    QStringList lines;
    for (QListWidget* list : {targetList, currentVersionList, fileVersionList}) {
        lines << (list->count() > 0 ? list->item(0)->text() : QString());
    }
    return lines;
}

}  // namespace vexil
