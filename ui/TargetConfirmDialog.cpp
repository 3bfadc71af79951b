#include "ui/TargetConfirmDialog.h"

#include <QCheckBox>
#include <QFontMetrics>
#include <QLineEdit>
#include <QListWidget>
#include <QPainter>
#include <QPushButton>
#include <QStyledItemDelegate>
#include <algorithm>

#include "resources/DialogTemplates.h"
#include "ui/DialogBuilder.h"
#include "ui/DialogServices.h"
#include "ui/MainDialog.h"

namespace vexil {

namespace {

// Paints a list box's one line whole, from its left edge: no item margins and no elision. This
// is where the user checks which printer is about to be erased, so a 15-character IPv4 address
// or a 12-digit MAC address must show in full in the template's 55 units.
class WholeLineDelegate : public QStyledItemDelegate {
  public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override {
        const QString text = index.data(Qt::DisplayRole).toString();
        QRect area = option.rect;
        if (const auto* view = qobject_cast<const QAbstractItemView*>(option.widget)) {
            area.setRight(std::min(area.right(), view->viewport()->rect().right()));
        }
        painter->save();
        painter->setFont(FittedFont(option.font, text, area.width()));
        painter->setPen(option.palette.color(QPalette::Text));
        painter->drawText(area, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, text);
        painter->restore();
    }
};

}  // namespace

QFont FittedFont(const QFont& font, const QString& text, int width) {
    QFont fitted = font;
    for (int stretch = 95; stretch >= 50 && QFontMetrics(fitted).horizontalAdvance(text) > width;
         stretch -= 5) {
        fitted.setStretch(stretch);
    }
    return fitted;
}

TargetConfirmDialog::TargetConfirmDialog(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint) {
    const BuiltDialog built = BuildDialog(*this, ConfirmDialogTemplate());
    currentVersionList = static_cast<QListWidget*>(built.byId.value(1020));
    fileVersionList = static_cast<QListWidget*>(built.byId.value(1021));
    targetList = static_cast<QListWidget*>(built.byId.value(1019));
    for (QListWidget* list : {currentVersionList, fileVersionList, targetList}) {
        list->setTextElideMode(Qt::ElideNone);
        list->setItemDelegate(new WholeLineDelegate(list));
    }
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
