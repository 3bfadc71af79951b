#include "ui/TargetConfirmDialog.h"

#include <QFontMetrics>
#include <QListWidget>
#include <QPainter>
#include <QPushButton>
#include <QStyledItemDelegate>
#include <algorithm>

#include "resources/DialogTemplates.h"
#include "resources/ResourceIds.h"
#include "ui/DialogBuilder.h"

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
    currentVersionList =
        static_cast<QListWidget*>(built.byId.value(control::kConfirmCurrentVersion));
    fileVersionList = static_cast<QListWidget*>(built.byId.value(control::kConfirmFileVersion));
    targetList = static_cast<QListWidget*>(built.byId.value(control::kConfirmTarget));
    for (QListWidget* list : {currentVersionList, fileVersionList, targetList}) {
        list->setTextElideMode(Qt::ElideNone);
        list->setItemDelegate(new WholeLineDelegate(list));
    }
    auto* download = static_cast<QPushButton*>(built.byId.value(control::kOk));
    download->setDefault(true);
    connect(download, &QPushButton::clicked, this, [this] { done(control::kOk); });
    connect(static_cast<QPushButton*>(built.byId.value(control::kCancel)), &QPushButton::clicked,
            this, [this] { done(control::kCancel); });
}

void TargetConfirmDialog::reject() {
    done(control::kCancel);
}

void TargetConfirmDialog::Fill(const std::array<std::string, 3>& lines) {
    QListWidget* const lists[3] = {targetList, currentVersionList, fileVersionList};
    for (std::size_t i = 0; i < lines.size(); ++i) {
        lists[i]->clear();
        lists[i]->addItem(QString::fromStdString(lines[i]));
    }
}

QStringList TargetConfirmDialog::Lines() const {
    QStringList lines;
    for (QListWidget* list : {targetList, currentVersionList, fileVersionList}) {
        lines << (list->count() > 0 ? list->item(0)->text() : QString());
    }
    return lines;
}

}  // namespace vexil
