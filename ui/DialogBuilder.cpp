#include "ui/DialogBuilder.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QFontMetrics>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>

#include "resources/Text.h"
#include "ui/AppIcon.h"

namespace vexil {

QFont DialogFont(const DialogTemplate& dialogTemplate) {
    QFont font(QString::fromUtf8(dialogTemplate.fontFamily));
    font.setFamilies({QString::fromUtf8(dialogTemplate.fontFamily), "IPAPGothic", "IPAGothic",
                      "IPAexGothic", "Noto Sans CJK JP"});
    font.setPointSize(dialogTemplate.pointSize);
    return font;
}

QRect DialogUnitsToPixels(const QFont& font, int x, int y, int width, int height) {
    // The average character width as the original platform measures it: the 52 letters'
    // width, halved and rounded; the height is the font's line height. Each value is scaled
    // and rounded to the nearest pixel, as the platform's MulDiv does: 12 units of a 13-pixel
    // line are 20 pixels, not 19.
    const QFontMetrics metrics(font);
    const int letters =
        metrics.horizontalAdvance("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
    const int cx = (letters / 26 + 1) / 2;
    const int cy = metrics.height();
    auto scale = [](int units, int pixels, int per) {
        return (units * pixels * 2 + per) / (2 * per);
    };
    return QRect(scale(x, cx, 4), scale(y, cy, 8), scale(width, cx, 4), scale(height, cy, 8));
}

namespace {

// A template's text in the user's language.
QString TemplateText(const char* key) {
    const std::string_view text = Tr(key);
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

}  // namespace

BuiltDialog BuildDialog(QDialog& dialog, const DialogTemplate& dialogTemplate,
                        const EditFactory& makeEdit) {
    const QFont font = DialogFont(dialogTemplate);
    dialog.setFont(font);
    dialog.setWindowTitle(TemplateText(dialogTemplate.caption));
    const QRect size = DialogUnitsToPixels(font, 0, 0, dialogTemplate.width, dialogTemplate.height);
    dialog.setFixedSize(size.width(), size.height());

    BuiltDialog built;
    QWidget* previousFocusable = nullptr;
    for (const ControlSpec& control : dialogTemplate.controls) {
        const QString text = TemplateText(control.text);
        QWidget* widget = nullptr;
        switch (control.kind) {
            case ControlKind::GroupBox:
                widget = new QGroupBox(text, &dialog);
                break;
            case ControlKind::CheckBox: {
                auto* box = new QCheckBox(text, &dialog);
                box->setAutoFillBackground(true);  // hides the frame line it sits on
                widget = box;
                break;
            }
            case ControlKind::Static: {
                auto* label = new QLabel(text, &dialog);
                Qt::Alignment alignment = Qt::AlignLeft;
                if (control.styles & style::kAlignCenter) {
                    alignment = Qt::AlignHCenter;
                } else if (control.styles & style::kAlignRight) {
                    alignment = Qt::AlignRight;
                }
                alignment |= (control.styles & style::kVCenter) ? Qt::AlignVCenter : Qt::AlignTop;
                label->setAlignment(alignment);
                widget = label;
                break;
            }
            case ControlKind::ComboBox: {
                auto* combo = new QComboBox(&dialog);
                combo->setEditable(false);
                widget = combo;
                break;
            }
            case ControlKind::Edit: {
                widget = makeEdit ? makeEdit(control, &dialog) : nullptr;
                if (widget == nullptr) {
                    widget = new QLineEdit(&dialog);
                }
                auto* edit = static_cast<QLineEdit*>(widget);
                edit->setAlignment((control.styles & style::kAlignRight) ? Qt::AlignRight
                                                                         : Qt::AlignLeft);
                edit->setFrame((control.styles & style::kBorder) != 0);
                break;
            }
            case ControlKind::ProgressBar: {
                auto* bar = new QProgressBar(&dialog);
                bar->setTextVisible(false);
                widget = bar;
                break;
            }
            case ControlKind::PushButton: {
                // Auto-default: a button that has the focus is the one Enter presses; otherwise
                // Enter presses the dialog's default button.
                auto* button = new QPushButton(text, &dialog);
                button->setAutoDefault(true);
                widget = button;
                break;
            }
            case ControlKind::ListBox: {
                auto* list = new QListWidget(&dialog);
                list->setSelectionMode(QAbstractItemView::NoSelection);
                list->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
                list->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
                widget = list;
                break;
            }
            case ControlKind::Icon: {
                auto* label = new QLabel(&dialog);
                const QRect r = DialogUnitsToPixels(font, 0, 0, control.width, control.height);
                label->setPixmap(AppIcon().pixmap(r.width(), r.height()));
                widget = label;
                break;
            }
        }
        QRect geometry =
            DialogUnitsToPixels(font, control.x, control.y, ControlWidth(control), control.height);
        if (control.kind == ControlKind::ComboBox) {
            // The template's height is that of the open list; the closed box is one line.
            geometry.setHeight(DialogUnitsToPixels(font, 0, 0, 0, 12).height());
        }
        widget->setGeometry(geometry);
        widget->setEnabled((control.styles & style::kDisabled) == 0);
        widget->setVisible((control.styles & style::kHidden) == 0);
        widget->setFocusPolicy((control.styles & style::kTabStop) ? Qt::StrongFocus : Qt::NoFocus);
        if (control.id != kNoId) {
            widget->setObjectName(QString::number(control.id));
            built.byId.insert(control.id, widget);
        }
        if (control.styles & style::kTabStop) {
            if (previousFocusable != nullptr) {
                QWidget::setTabOrder(previousFocusable, widget);
            }
            previousFocusable = widget;
        }
        built.inOrder.append(widget);
    }
    return built;
}

TemplateDialog::TemplateDialog(const DialogTemplate& dialogTemplate, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint),
      controls_(BuildDialog(*this, dialogTemplate).byId) {
    for (const int id : {control::kOk, control::kCancel}) {
        if (auto* button = qobject_cast<QPushButton*>(Control(id))) {
            button->setDefault(id == control::kOk);
            connect(button, &QPushButton::clicked, this, [this, id] { done(id); });
        }
    }
}

}  // namespace vexil
