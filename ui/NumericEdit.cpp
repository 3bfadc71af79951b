#include "ui/NumericEdit.h"

#include <QApplication>
#include <QKeyEvent>
#include <cstdio>
#include <cstdlib>

#include "ui/DialogServices.h"

namespace vexil {

namespace {
constexpr int kMessageAboveMaximum = 118;
constexpr int kMessageBelowMinimum = 119;
}  // namespace

NumericEdit::NumericEdit(QWidget* parent) : QLineEdit(parent) {
    setAttribute(Qt::WA_InputMethodEnabled, false);
    connect(this, &QLineEdit::textChanged, this, &NumericEdit::OnTextUpdate);
}

void NumericEdit::SetMaxLength(int n) {
    maxLength = n;
    setMaxLength(n);
}

void NumericEdit::SetRange(double min, double max) {
    minimum = min;
    maximum = max;
}

void NumericEdit::Beep() {
    if (services_ != nullptr) {
        services_->Beep();
    }
}

bool NumericEdit::CheckText(const QString& text) {
    if (text.isEmpty()) {
        return true;
    }
    auto refuse = [this] {
        Beep();
        return false;
    };
    for (const QChar c : text) {
        if (!allowedChars.isEmpty() && !allowedChars.contains(c)) {
            return refuse();
        }
        if (!excludedChars.isEmpty() && excludedChars.contains(c)) {
            return refuse();
        }
    }
    const QByteArray bytes = text.toUtf8();
    qsizetype limit = maxLength;
    qsizetype minusCount = 0;
    qsizetype dotCount = 0;
    if (minimum < 0) {
        --limit;
        if (text.indexOf('-', 1) >= 0) {
            return refuse();
        }
        minusCount = text.startsWith('-') ? 1 : 0;
    }
    if (format.contains('f')) {
        --limit;
        dotCount = text.count('.');
        if (dotCount > 1) {
            return refuse();
        }
    }
    if (bytes.size() - minusCount - dotCount > limit) {
        return refuse();
    }
    return true;
}

void NumericEdit::OnTextUpdate() {
    if (updating_) {
        return;
    }
    updating_ = true;
    const QString text = this->text();
    if (CheckText(text)) {
        lastValidText = text;
    } else {
        setText(lastValidText);
    }
    updating_ = false;
}

void NumericEdit::MoveToNext(bool selectAll) {
    if (next_.isNull()) {
        return;
    }
    if (!next_->isEnabled()) {
        // A disabled control cannot hold the focus here; the field gives it up all the same.
        clearFocus();
        return;
    }
    next_->setFocus(Qt::OtherFocusReason);
    if (auto* edit = qobject_cast<QLineEdit*>(next_.data()); edit != nullptr && selectAll) {
        edit->selectAll();
    }
}

void NumericEdit::keyPressEvent(QKeyEvent* event) {
    const int key = event->key();
    const bool octet = position >= 1 && position <= 4;
    if (octet) {
        switch (key) {
            case Qt::Key_Space:
                if (position <= 3) {
                    MoveToNext(true);
                }
                break;
            case Qt::Key_Left:
            case Qt::Key_Up:
                QLineEdit::keyPressEvent(event);
                if (isNt3 == 0 && position >= 2 && !previous_.isNull()) {
                    // Back to the previous field, with its caret behind its last character.
                    QWidget* previous = previous_.data();
                    previous->setFocus(Qt::OtherFocusReason);
                    QApplication::postEvent(
                        previous, new QKeyEvent(QEvent::KeyPress, Qt::Key_End, Qt::NoModifier));
                }
                return;
            case Qt::Key_Right:
            case Qt::Key_Down: {
                const bool atEnd = text().isEmpty() || cursorPosition() >= text().size();
                if (atEnd && isNt3 == 0 && position <= 3) {
                    MoveToNext(false);
                }
                QLineEdit::keyPressEvent(event);
                return;
            }
            default:
                break;
        }
    }
    // Characters, the backspace among them, go through the standard processing and then the
    // length and "." tests.
    const QString typed = event->text();
    const bool character =
        key == Qt::Key_Backspace || (!typed.isEmpty() && typed.front().isPrint());
    QLineEdit::keyPressEvent(event);
    if (!character) {
        return;
    }
    if (octet && text().size() == maxLength) {
        MoveToNext(true);
    }
    if (typed == ".") {
        MoveToNext(true);
    }
}

QString NumericEdit::FormatValue(double value) const {
    char text[64];
    const QByteArray pattern = format.toLatin1();
    if (format.contains('d')) {
        std::snprintf(text, sizeof text, pattern.constData(), static_cast<int>(value));
    } else {
        std::snprintf(text, sizeof text, pattern.constData(), value);
    }
    return QString::fromLatin1(text);
}

bool NumericEdit::HoldToRange(bool rewrite) {
    const QString current = text();
    if (current.isEmpty()) {
        Beep();
        return true;
    }
    const QByteArray bytes = current.toLatin1();
    const double value = std::strtod(bytes.constData(), nullptr);
    QString replacement;
    bool inRange = true;
    if (value < minimum) {
        Beep();
        if (services_ != nullptr) {
            services_->ShowMessageBox(window(), kMessageBelowMinimum, Icon::Error);
        }
        replacement = FormatValue(minimum);
        inRange = false;
    } else if (value > maximum) {
        Beep();
        if (services_ != nullptr) {
            services_->ShowMessageBox(window(), kMessageAboveMaximum, Icon::Error);
        }
        replacement = FormatValue(maximum);
        inRange = false;
    } else if (rewrite) {
        replacement = FormatValue(value);
    } else {
        return true;
    }
    if (replacement != text()) {
        setText(replacement);
    }
    return inRange;
}

void NumericEdit::focusOutEvent(QFocusEvent* event) {
    QLineEdit::focusOutEvent(event);
    HoldToRange(true);
}

}  // namespace vexil
