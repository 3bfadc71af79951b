#include "ui/FilterEdit.h"

#include "ui/DialogServices.h"

namespace vexil {

QString HexFieldExclusions() {
    QString set;
    for (char c = 'G'; c <= 'Z'; ++c) {
        set += QChar(c);
    }
    for (int c = 0x21; c <= 0x7E; ++c) {
        const bool punctuation =
            (c <= 0x2F) || (c >= 0x3A && c <= 0x40) || (c >= 0x5B && c <= 0x60) || (c >= 0x7B);
        if (punctuation) {
            set += QChar(c);
        }
    }
    return set;
}

FilterEdit::FilterEdit(QWidget* parent) : QLineEdit(parent) {
    setAttribute(Qt::WA_InputMethodEnabled, false);
    connect(this, &QLineEdit::textChanged, this, &FilterEdit::OnTextUpdate);
}

bool FilterEdit::CheckText(const QString& text) {
    if (text.isEmpty() || excludedChars.isEmpty()) {
        return true;
    }
    for (const QChar c : text) {
        if (excludedChars.contains(c)) {
            if (services_ != nullptr) {
                services_->Beep();
            }
            return false;
        }
    }
    return true;
}

void FilterEdit::OnTextUpdate() {
    if (updating_) {
        return;
    }
    updating_ = true;
    QString text = this->text();
    // The field takes letters in upper case, typed or pasted: a typed a arrives as A.
    QString upper = text;
    for (QChar& c : upper) {
        if (c >= 'a' && c <= 'z') {
            c = c.toUpper();
        }
    }
    if (upper != text) {
        const int cursor = cursorPosition();
        setText(upper);
        setCursorPosition(cursor);
        text = upper;
    }
    if (CheckText(text)) {
        lastValidText = text;
    } else {
        setText(lastValidText);
    }
    updating_ = false;
}

}  // namespace vexil
