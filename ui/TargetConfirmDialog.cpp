#include "ui/TargetConfirmDialog.h"

#include <QFontMetrics>
#include <QListWidget>
#include <QPainter>
#include <QStyledItemDelegate>
#include <algorithm>

#include "frontend/Confirmation.h"
#include "resources/DialogTemplates.h"

namespace vexil {

namespace {

// Paints a list box's one line whole, from its left edge: no item margins and no elision, the
// font narrowed as the line needs (FittingStretch).
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
    const auto narrowed = [&font](int stretch) {
        QFont fitted = font;
        if (stretch != 100) {
            fitted.setStretch(stretch);
        }
        return fitted;
    };
    return narrowed(FittingStretch(width, [&](int stretch) {
        return QFontMetrics(narrowed(stretch)).horizontalAdvance(text);
    }));
}

TargetConfirmDialog::TargetConfirmDialog(QWidget* parent)
    : TemplateDialog(ConfirmDialogTemplate(), parent) {
    for (std::size_t i = 0; i < lists_.size(); ++i) {
        lists_[i] = static_cast<QListWidget*>(Control(control::kConfirmLines[i]));
        lists_[i]->setTextElideMode(Qt::ElideNone);
        lists_[i]->setItemDelegate(new WholeLineDelegate(lists_[i]));
    }
}

void TargetConfirmDialog::Fill(const std::array<std::string, 3>& lines) {
    for (std::size_t i = 0; i < lines.size(); ++i) {
        lists_[i]->clear();
        lists_[i]->addItem(QString::fromStdString(lines[i]));
    }
}

QStringList TargetConfirmDialog::Lines() const {
    QStringList lines;
    for (QListWidget* list : lists_) {
        lines << (list->count() > 0 ? list->item(0)->text() : QString());
    }
    return lines;
}

}  // namespace vexil
