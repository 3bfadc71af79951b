#include "ui/DialogServices.h"

#include <QApplication>
#include <QDesktopServices>
#include <QFileDialog>
#include <QFileInfo>
#include <QFontMetrics>
#include <QLabel>
#include <QMessageBox>
#include <QStringList>
#include <algorithm>
#include <chrono>

#include "resources/StringTable.h"

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
    const QString text = QString::fromStdString(LoadLines(stringId));
    QMessageBox box(qtIcon, ProgramTitle(), text, QMessageBox::Ok, parent);
    box.setTextFormat(Qt::PlainText);
    // Qt's box wraps a line wider than half the screen at any character of a Japanese text, so
    // that the last word of a sentence stands alone; here lines break only where the text
    // breaks them.
    if (auto* label = box.findChild<QLabel*>("qt_msgbox_label")) {
        const QFontMetrics metrics(label->font());
        int widest = 0;
        for (const QString& line : text.split('\n')) {
            widest = std::max(widest, metrics.horizontalAdvance(line));
        }
        label->setMinimumWidth(widest + 2 * metrics.averageCharWidth());
    }
    box.exec();
}

int DialogServices::RunModal(QDialog& dialog) {
    return dialog.exec();
}

QString DialogServices::GetOpenFileName(QWidget* parent, const QString& filter) {
    // The file need not exist, as in the original dialog; the default extension is .bin.
    QFileDialog dialog(parent, QString(), QString(), filter);
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

std::int64_t DialogServices::NowMilliseconds() {
    return EventPump::SteadyMilliseconds();
}

QString ProgramTitle() {
    return QFileInfo(QCoreApplication::applicationFilePath()).completeBaseName();
}

}  // namespace vexil
