#include "ui/DialogServices.h"

#include <sys/socket.h>
#include <unistd.h>

#include <QApplication>
#include <QDesktopServices>
#include <QFileDialog>
#include <QMessageBox>
#include <QStringList>
#include <chrono>

#include "resources/StringTable.h"
#include "tavdl/tavdl.h"
#include "ui/MainDialog.h"
#include "ui/TargetConfirmDialog.h"

namespace vexil {

QString LoadText(int stringId) {
    const std::string_view text = LoadString(stringId);
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

void DialogServices::ShowMessageBox(QWidget* parent, int stringId, Icon icon) {
    QMessageBox::Icon qtIcon = QMessageBox::NoIcon;
    switch (icon) {
        case Icon::Error:
            qtIcon = QMessageBox::Critical;
            break;
        case Icon::Warning:
            qtIcon = QMessageBox::Warning;
            break;
        case Icon::Information:
            qtIcon = QMessageBox::Information;
            break;
        case Icon::None:
            break;
    }
    QMessageBox box(qtIcon, QApplication::applicationName(), LoadText(stringId), QMessageBox::Ok,
                    parent);
    box.exec();
}

int DialogServices::RunConfirmation(MainDialog& dialog) {
    TargetConfirmDialog confirm(nullptr);
    confirm.mainDialog = &dialog;
    return confirm.exec();
}

QString DialogServices::GetOpenFileName(QWidget* parent, const QString& filter) {
    // The file need not exist, as in the original dialog; the default extension is .bin.
    QFileDialog dialog(parent, QString(), QString(), QtFileFilter(filter));
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setDefaultSuffix("bin");
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
        return {};
    }
    return dialog.selectedFiles().front();
}

bool DialogServices::OpenUrl(const QUrl& url) {
    return QDesktopServices::openUrl(url);
}

void DialogServices::Beep() {
    QApplication::beep();
}

bool DialogServices::StartSockets() {
    const int probe = ::socket(AF_INET, SOCK_DGRAM, 0);
    if (probe < 0) {
        return false;
    }
    ::close(probe);
    return true;
}

std::int64_t DialogServices::NowMilliseconds() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

void DialogServices::RegisterWaitHook(void (*hook)(void* window)) {
    TavDL_SetWaitHook(hook);
}

QString QtFileFilter(const QString& filter) {
    const QStringList parts = filter.split('|');
    QStringList filters;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        if (parts[i].isEmpty()) {
            break;
        }
        filters << parts[i] + " (" + QString(parts[i + 1]).replace(';', ' ') + ")";
    }
    return filters.join(";;");
}

}  // namespace vexil
