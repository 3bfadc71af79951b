#include "ui/AddressEdit.h"

#include <QInputMethodEvent>

#include "ui/DialogServices.h"

namespace vexil {

AddressEdit::AddressEdit(QWidget* parent) : QLineEdit(parent) {
    // Not enough on its own: Qt 6 still asks the widget whether it takes input-method text.
    setAttribute(Qt::WA_InputMethodEnabled, false);
    connect(this, &QLineEdit::textChanged, this, &AddressEdit::OnTextUpdate);
}

QVariant AddressEdit::inputMethodQuery(Qt::InputMethodQuery query) const {
    if (query == Qt::ImEnabled) {
        return false;
    }
    return QLineEdit::inputMethodQuery(query);
}

void AddressEdit::keyPressEvent(QKeyEvent* event) {
    beforeKey_ = Caret{cursorPosition(), selectionStart(), static_cast<int>(selectedText().size())};
    QLineEdit::keyPressEvent(event);
    beforeKey_.reset();
}

void AddressEdit::inputMethodEvent(QInputMethodEvent* event) {
    // Nothing an input method composes or commits reaches the text.
    if (!event->commitString().isEmpty()) {
        Beep();
    }
    event->accept();
}

void AddressEdit::Beep() {
    if (services_ != nullptr) {
        services_->Beep();
    }
}

void AddressEdit::OnTextUpdate() {
    if (updating_) {
        return;
    }
    updating_ = true;
    QString text = this->text();
    if (const QString adjusted = Adjusted(text); adjusted != text) {
        const int cursor = cursorPosition();
        setText(adjusted);
        setCursorPosition(cursor);
        text = adjusted;
    }
    if (CheckText(text)) {
        lastValidText = text;
    } else {
        setText(lastValidText);
        if (beforeKey_ && beforeKey_->selectionLength > 0) {
            setSelection(beforeKey_->selectionStart, beforeKey_->selectionLength);
        } else if (beforeKey_) {
            setCursorPosition(beforeKey_->position);
        }
    }
    updating_ = false;
}

}  // namespace vexil
